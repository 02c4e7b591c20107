// The writers on the pages of a whole package, as the converter drives
// them: PDF (plain, PDF/A-1b with its flattening through the rasteriser,
// PDF/A-2b) with the document outline, SVG, and the rasteriser's bands for
// the raster formats. GDI+ is the fake of shim/fakegdiplus.cpp. The first
// byte chooses the writer, the rest is the package.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/colorprofiles.h"
#include "engine/outline.h"
#include "engine/pagereader.h"
#include "engine/pdfwriter.h"
#include "engine/rasteriser.h"
#include "engine/svgwriter.h"
#include "fuzz/check.h"
#include "xps/workbudget.h"
#include "xps/xpspackage.h"

namespace {

// Enough pages to reach what spans pages (fonts, images, outlines) while
// each input stays quick.
constexpr std::size_t kMaxPages = 16;

struct Output {
    std::string head, tail;
    std::uint64_t size = 0;
    unsigned files = 0;
    engine::ByteSink Sink() {
        return [this](const void* bytes, std::size_t count) {
            const char* p = static_cast<const char*>(bytes);
            if (head.size() < 16) {
                head.append(p, std::min<std::size_t>(count, 16 - head.size()));
            }
            tail = (tail + std::string(p, count))
                       .substr(tail.size() + count > 16 ? tail.size() + count - 16 : 0);
            size += count;
            return S_OK;
        };
    }
};

HRESULT Write(engine::DocumentWriter& writer, const xps::XpsPackage& package,
              const std::vector<std::wstring>& pages) {
    HRESULT hr = writer.Begin();
    engine::ColorProfiles profiles(package);
    for (const std::wstring& part : pages) {
        engine::Page page;
        if (SUCCEEDED(hr)) {
            hr = engine::ReadPage(package, part, page, engine::PageCaps(), &profiles);
        }
        if (SUCCEEDED(hr)) {
            writer.Prepare(page, true);
            hr = writer.AddPage(page);
        }
    }
    return SUCCEEDED(hr) ? writer.Finish() : hr;
}

void Raster(const xps::XpsPackage& package, const std::vector<std::wstring>& pages, bool transparent) {
    engine::Rasteriser rasteriser(package);
    engine::ColorProfiles profiles(package);
    engine::RasterOptions options;
    options.dpi = 72;
    options.transparent = transparent;
    options.maxBandBytes = 1u << 20;
    for (const std::wstring& part : pages) {
        engine::Page page;
        unsigned width = 0, height = 0;
        if (FAILED(engine::ReadPage(package, part, page, engine::PageCaps(), &profiles)) ||
            FAILED(engine::Rasteriser::PictureSize(page, options, width, height))) {
            continue;
        }
        unsigned next = 0;
        HRESULT hr = rasteriser.Draw(page, options, [&](const engine::RasterBand& band) {
            FUZZ_CHECK(band.width == width && band.top == next && band.rows > 0);
            next += band.rows;
            FUZZ_CHECK(next <= height);
            return S_OK;
        });
        FUZZ_CHECK(FAILED(hr) || next == height);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    // A job's budget, as the converter charges it.
    xps::WorkBudget budget(xps::WorkBudget::ForInput(size), 0);
    xps::WorkBudget::Scope charged(budget);
    xps::XpsPackage package;
    xps::FixedStructure structure;
    if (FAILED(package.Open(std::make_unique<xps::BorrowedSource>(data + 1, size - 1))) ||
        FAILED(package.ReadStructure(structure))) {
        return 0;
    }
    std::vector<std::wstring> pages;
    for (const xps::FixedDocumentInfo& document : structure.documents) {
        for (const std::wstring& page : document.pages) {
            if (pages.size() < kMaxPages) {
                pages.push_back(page);
            }
        }
    }
    Output output;
    int mode = data[0] % 6;
    if (mode <= 2) {
        engine::PdfOptions options;
        options.conformance = static_cast<engine::PdfConformance>(mode);
        options.dpi = 72;
        engine::PdfWriter writer(output.Sink(), package, options);
        std::vector<engine::OutlineEntry> outline;
        if (SUCCEEDED(engine::ReadOutline(package, structure, outline))) {
            FUZZ_CHECK(outline.size() <= 65536);
            writer.SetOutline(std::move(outline));
        }
        if (SUCCEEDED(Write(writer, package, pages))) {
            FUZZ_CHECK(output.head.compare(0, 5, "%PDF-") == 0);
            FUZZ_CHECK(output.tail.size() >= 6 &&
                       output.tail.compare(output.tail.size() - 6, 6, "%%EOF\n") == 0);
        }
    } else if (mode == 3) {
        engine::SvgWriter writer(output.Sink(), package, [&output](unsigned page) {
            FUZZ_CHECK(page == ++output.files);
            return S_OK;
        });
        if (SUCCEEDED(Write(writer, package, pages))) {
            FUZZ_CHECK(output.files == pages.size());
        }
    } else {
        Raster(package, pages, mode == 5);
    }
    return 0;
}
