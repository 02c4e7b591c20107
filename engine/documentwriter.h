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
    virtual HRESULT AddPage(const Page& page) = 0;
    virtual HRESULT Finish() = 0;
};

}  // namespace engine
