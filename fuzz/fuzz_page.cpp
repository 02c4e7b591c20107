// The page reader on a whole package: the fixed structure read, then every
// page into the page model, which must keep within the page caps.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/colorprofiles.h"
#include "engine/pagereader.h"
#include "fuzz/check.h"
#include "xps/workbudget.h"
#include "xps/xpspackage.h"

namespace {

// Elements and glyphs of a canvas, the content of visual brushes not
// counted again (they are shared).
void Count(const engine::Canvas& canvas, std::size_t& elements, std::size_t& glyphs) {
    for (const engine::Element& element : canvas.children) {
        ++elements;
        if (element.canvas) {
            Count(*element.canvas, elements, glyphs);
        } else if (element.glyphs) {
            glyphs += element.glyphs->glyphs.size();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A job's budget, as the converter charges it.
    xps::WorkBudget budget(xps::WorkBudget::ForInput(size), 0);
    xps::WorkBudget::Scope charged(budget);
    xps::XpsPackage package;
    xps::FixedStructure structure;
    if (FAILED(package.Open(std::make_unique<xps::BorrowedSource>(data, size))) ||
        FAILED(package.ReadStructure(structure))) {
        return 0;
    }
    engine::ColorProfiles profiles(package);
    const engine::PageCaps caps;
    for (const xps::FixedDocumentInfo& document : structure.documents) {
        for (const std::wstring& part : document.pages) {
            engine::Page page;
            if (FAILED(engine::ReadPage(package, part, page, caps, &profiles))) {
                continue;
            }
            FUZZ_CHECK(page.width > 0 && page.width <= caps.pageSize);
            FUZZ_CHECK(page.height > 0 && page.height <= caps.pageSize);
            std::size_t elements = 0, glyphs = 0;
            Count(page.root, elements, glyphs);
            FUZZ_CHECK(elements <= caps.elements && glyphs <= caps.glyphs);
        }
    }
    return 0;
}
