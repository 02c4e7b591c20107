#include "engine/readahead.h"

#include <process.h>

#include <new>

namespace engine {

ReadAhead::ReadAhead(std::size_t count, ReadFunction read) : count_(count), read_(std::move(read)) {
    if (count_ < 2) {
        return;  // nothing to read beside the writing
    }
    // Auto-reset: each wakes one wait that was announced under the lock.
    pageRead_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    slotFree_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (pageRead_ != nullptr && slotFree_ != nullptr) {
        thread_ = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &Run, this, 0, nullptr));
    }
}

ReadAhead::~ReadAhead() {
    if (thread_ != nullptr) {
        {
            CriticalSectionLock lock(lock_);
            stop_ = true;
        }
        // Wakes the reader if it waits for a slot; harmless if it does not.
        ::SetEvent(slotFree_);
        ::WaitForSingleObject(thread_, INFINITE);
        ::CloseHandle(thread_);
    }
    for (HANDLE event : {pageRead_, slotFree_}) {
        if (event != nullptr) {
            ::CloseHandle(event);
        }
    }
}

HRESULT ReadAhead::Next(Page& page) {
    if (next_ >= count_) {
        return E_UNEXPECTED;
    }
    std::size_t index = next_++;
    if (thread_ == nullptr) {
        return ReadOne(index, page, false);
    }
    Slot* slot = nullptr;
    while (slot == nullptr) {
        {
            CriticalSectionLock lock(lock_);
            if (filled_ > 0) {
                slot = &slots_[first_];
            } else {
                writerWaits_ = true;
            }
        }
        if (slot == nullptr && ::WaitForSingleObject(pageRead_, INFINITE) != WAIT_OBJECT_0) {
            return HRESULT_FROM_WIN32(::GetLastError());
        }
    }
    // The slot is the writer's until it is counted out below.
    page = std::move(slot->page);
    slot->page = Page();
    HRESULT hr = slot->result;
    {
        CriticalSectionLock lock(lock_);
        first_ = (first_ + 1) % kDepth;
        --filled_;
        if (readerWaits_) {
            readerWaits_ = false;
            ::SetEvent(slotFree_);
        }
    }
    if (FAILED(hr)) {
        next_ = count_;  // the reader stopped there
    }
    return hr;
}

unsigned __stdcall ReadAhead::Run(void* self) {
    static_cast<ReadAhead*>(self)->ReadAll();
    return 0;
}

void ReadAhead::ReadAll() {
    for (std::size_t index = 0; index < count_; ++index) {
        Slot* slot = nullptr;
        bool spare = false;
        while (slot == nullptr) {
            {
                CriticalSectionLock lock(lock_);
                if (stop_) {
                    return;
                }
                if (filled_ < kDepth) {
                    slot = &slots_[(first_ + filled_) % kDepth];
                    spare = filled_ >= kSpare;
                } else {
                    readerWaits_ = true;
                }
            }
            if (slot == nullptr && ::WaitForSingleObject(slotFree_, INFINITE) != WAIT_OBJECT_0) {
                return;
            }
        }
        // The slot is the reader's until it is counted in below.
        HRESULT hr = ReadOne(index, slot->page, spare);
        slot->result = hr;
        {
            CriticalSectionLock lock(lock_);
            ++filled_;
            if (writerWaits_) {
                writerWaits_ = false;
                ::SetEvent(pageRead_);
            }
        }
        if (FAILED(hr)) {
            return;
        }
    }
}

HRESULT ReadAhead::ReadOne(std::size_t index, Page& page, bool spare) {
    try {
        return read_(index, page, spare);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace engine
