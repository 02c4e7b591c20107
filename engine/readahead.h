// ReadAhead: a document's pages read on a thread of their own, one page
// ahead of the writer that takes them in order. Reading a page (inflating
// and parsing its markup) is about half of converting it, and with two
// processors it is done while the writer writes the page before. Memory
// holds two pages: the one the writer has, and the next one being read.
// Without a thread (it could not be made) each page is read when taken.
#pragma once

#include <cstddef>
#include <functional>

#include <windows.h>

#include "engine/pagemodel.h"

namespace engine {

class ReadAhead {
public:
    // read(index, page): page number index (from 0) of count into page. It
    // runs on the reading thread, never two at once; what it throws is
    // E_OUTOFMEMORY or E_UNEXPECTED.
    using ReadFunction = std::function<HRESULT(std::size_t index, Page& page)>;

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
    HRESULT ReadOne(std::size_t index, Page& page);

    std::size_t count_;
    ReadFunction read_;
    std::size_t next_ = 0;  // the page Next gives next
    // The page read and not yet taken: empty_ counts whether the slot is
    // free, full_ whether it holds one. Their waits order the slot's use.
    Page slot_;
    HRESULT slotResult_ = S_OK;
    HANDLE empty_ = nullptr, full_ = nullptr, thread_ = nullptr;
    volatile LONG stop_ = 0;
};

}  // namespace engine
