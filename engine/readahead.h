// ReadAhead: a document's pages read on a thread of their own, a few pages
// ahead of the writer that takes them in order. Reading a page (inflating
// and parsing its markup) is about half of converting it, and with two
// processors it is done while the writer writes the pages before. Pages
// differ in what they cost to read and to write; a few pages of slack keep
// either side from waiting on every page that costs the other more, and
// while the writer has pages waiting the reader may take on some of its
// work (spare). Memory holds at most kDepth pages read and the one the
// writer has.
// Without a thread (it could not be made) each page is read when taken.
#pragma once

#include <cstddef>
#include <functional>

#include <windows.h>

#include "engine/pagemodel.h"
#include "platform/handles.h"

namespace engine {

class ReadAhead {
public:
    // read(index, page, spare): page number index (from 0) of count into
    // page. It runs on the reading thread, never two at once; what it throws
    // is E_OUTOFMEMORY or E_UNEXPECTED. spare: the writer has pages enough
    // waiting that the reader may do work for it as well; without it the
    // writer is waiting for pages, or soon will be.
    using ReadFunction = std::function<HRESULT(std::size_t index, Page& page, bool spare)>;

    static constexpr std::size_t kDepth = 4;
    // Pages waiting for the writer from which the reader has time to spare.
    static constexpr std::size_t kSpare = kDepth / 2;

    ReadAhead(std::size_t count, ReadFunction read);
    // Stops the reading after the page it is at, and waits for it.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next page in order, and its reading's result; nothing is read
    // after a page that failed. E_UNEXPECTED past the last page.
    HRESULT Next(Page& page);

private:
    static unsigned __stdcall Run(void* self);
    void ReadAll();
    HRESULT ReadOne(std::size_t index, Page& page, bool spare);

    std::size_t count_;
    ReadFunction read_;
    std::size_t next_ = 0;  // the page Next gives next
    // Pages read and not yet taken, in a ring: filled_ of them from first_.
    // The lock guards the counts and flags; a slot itself belongs to the
    // reader until it is counted in, and to the writer until it is taken.
    // Each side waits on its event only after saying so under the lock, so
    // a page passes without a call into the kernel unless a side is idle.
    struct Slot {
        Page page;
        HRESULT result = S_OK;
    };
    Slot slots_[kDepth];
    std::size_t first_ = 0, filled_ = 0;
    bool writerWaits_ = false, readerWaits_ = false, stop_ = false;
    CriticalSection lock_;
    HANDLE pageRead_ = nullptr, slotFree_ = nullptr, thread_ = nullptr;
};

}  // namespace engine
