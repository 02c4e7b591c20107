#include "engine/readahead.h"

#include <process.h>

#include <new>

namespace engine {

ReadAhead::ReadAhead(std::size_t count, ReadFunction read) : count_(count), read_(std::move(read)) {
    if (count_ < 2) {
        return;  // nothing to read beside the writing
    }
    empty_ = ::CreateSemaphoreW(nullptr, 1, 1, nullptr);
    full_ = ::CreateSemaphoreW(nullptr, 0, 1, nullptr);
    if (empty_ != nullptr && full_ != nullptr) {
        thread_ = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &Run, this, 0, nullptr));
    }
}

ReadAhead::~ReadAhead() {
    if (thread_ != nullptr) {
        ::InterlockedExchange(&stop_, 1);
        // Wakes the reader if it waits for the slot; it fails harmlessly
        // when the slot is free already.
        ::ReleaseSemaphore(empty_, 1, nullptr);
        ::WaitForSingleObject(thread_, INFINITE);
        ::CloseHandle(thread_);
    }
    for (HANDLE semaphore : {empty_, full_}) {
        if (semaphore != nullptr) {
            ::CloseHandle(semaphore);
        }
    }
}

HRESULT ReadAhead::Next(Page& page) {
    if (next_ >= count_) {
        return E_UNEXPECTED;
    }
    std::size_t index = next_++;
    if (thread_ == nullptr) {
        return ReadOne(index, page);
    }
    if (::WaitForSingleObject(full_, INFINITE) != WAIT_OBJECT_0) {
        return HRESULT_FROM_WIN32(::GetLastError());
    }
    page = std::move(slot_);
    slot_ = Page();
    HRESULT hr = slotResult_;
    ::ReleaseSemaphore(empty_, 1, nullptr);
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
        if (::WaitForSingleObject(empty_, INFINITE) != WAIT_OBJECT_0 ||
            ::InterlockedCompareExchange(&stop_, 0, 0)) {
            return;
        }
        HRESULT hr = ReadOne(index, slot_);
        slotResult_ = hr;
        ::ReleaseSemaphore(full_, 1, nullptr);
        if (FAILED(hr)) {
            return;
        }
    }
}

HRESULT ReadAhead::ReadOne(std::size_t index, Page& page) {
    try {
        return read_(index, page);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace engine
