#include "engine/converter.h"

#include <new>

#include "engine/pagereader.h"

namespace engine {

HRESULT Convert(const xps::XpsPackage& package, const ConvertOptions& options, ByteSink sink) {
    try {
        xps::FixedStructure structure;
        HRESULT hr = package.ReadStructure(structure);
        if (FAILED(hr)) {
            return hr;
        }
        PdfOptions pdf;
        pdf.conformance = options.format == OutputFormat::PdfA1b   ? PdfConformance::PdfA1b
                          : options.format == OutputFormat::PdfA2b ? PdfConformance::PdfA2b
                                                                   : PdfConformance::None;
        pdf.title = options.title;
        pdf.author = options.author;
        PdfWriter writer(std::move(sink), package, pdf);
        std::vector<OutlineEntry> outline;
        hr = ReadOutline(package, structure, outline);
        writer.SetOutline(std::move(outline));
        if (SUCCEEDED(hr)) {
            hr = writer.Begin();
        }
        for (const xps::FixedDocumentInfo& document : structure.documents) {
            for (const std::wstring& pagePart : document.pages) {
                Page page;
                if (SUCCEEDED(hr)) {
                    hr = ReadPage(package, pagePart, page);
                }
                if (SUCCEEDED(hr)) {
                    hr = writer.AddPage(page);
                }
            }
        }
        return SUCCEEDED(hr) ? writer.Finish() : hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace engine
