// DocumentWriter: what every output format's writer is to the converter. The
// converter reads each page once into the page model and hands it on; a
// writer never reads XPS itself.
#pragma once

#include <windows.h>

#include "engine/pagemodel.h"

namespace engine {

class DocumentWriter {
public:
    virtual ~DocumentWriter() = default;
    virtual HRESULT Begin() = 0;
    // Work on a page that needs nothing of what the writer has written: the
    // converter calls it on its reading thread as soon as the page is read,
    // while AddPage still writes the pages before, so it touches only what
    // AddPage leaves alone. spare: the reading thread has time for it; if
    // not, the writer is better left to do that work itself. What it finds
    // wrong AddPage reports.
    virtual void Prepare(const Page& page, bool spare) { (void)page, (void)spare; }
    virtual HRESULT AddPage(const Page& page) = 0;
    virtual HRESULT Finish() = 0;
};

}  // namespace engine
