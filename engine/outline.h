// The document outline the XPS document structure gives (DocumentOutline's
// OutlineEntry elements), with each entry's target found among the job's
// pages.
#pragma once

#include <string>
#include <vector>

#include "xps/xpspackage.h"

namespace engine {

struct OutlineEntry {
    int level = 1;         // OutlineLevel, 1 the outermost
    std::wstring title;    // Description
    std::size_t page = 0;  // the target's page among all the job's pages
};

// Entries whose target is no page of the job are left out; a structure part
// that cannot be read gives no entries of its document. At most 65,536
// entries, levels 1 to 32.
HRESULT ReadOutline(const xps::XpsPackage& package, const xps::FixedStructure& structure,
                    std::vector<OutlineEntry>& outline);

}  // namespace engine
