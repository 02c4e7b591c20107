#include "engine/converter.h"

#include <cwchar>
#include <memory>
#include <new>

#include "engine/colorprofiles.h"
#include "engine/emfwriter.h"
#include "engine/jpegwriter.h"
#include "engine/pagereader.h"
#include "engine/pngwriter.h"
#include "engine/readahead.h"
#include "engine/svgwriter.h"
#include "engine/tiffwriter.h"
#include "xps/workbudget.h"

namespace engine {

bool OutputFormatNamed(const wchar_t* name, OutputFormat& format) {
    static const struct {
        const wchar_t* name;
        OutputFormat format;
    } kFormats[] = {{L"pdf", OutputFormat::Pdf},       {L"pdfa1b", OutputFormat::PdfA1b},
                    {L"pdfa2b", OutputFormat::PdfA2b}, {L"svg", OutputFormat::Svg},
                    {L"emf", OutputFormat::Emf},       {L"png", OutputFormat::Png},
                    {L"jpeg", OutputFormat::Jpeg},     {L"tiff", OutputFormat::Tiff}};
    for (const auto& known : kFormats) {
        if (name != nullptr && _wcsicmp(name, known.name) == 0) {
            format = known.format;
            return true;
        }
    }
    return false;
}

bool IsPerPageFormat(OutputFormat format) {
    return format == OutputFormat::Svg || format == OutputFormat::Emf || format == OutputFormat::Png ||
           format == OutputFormat::Jpeg;
}

namespace {

// The writer of the format; E_NOTIMPL for a format the engine does not make.
HRESULT MakeWriter(const xps::XpsPackage& package, const xps::FixedStructure& structure,
                   const ConvertOptions& options, ByteSink sink, std::unique_ptr<DocumentWriter>& writer) {
    if (IsPerPageFormat(options.format) && !options.beginFile) {
        return E_INVALIDARG;
    }
    switch (options.format) {
        case OutputFormat::Pdf:
        case OutputFormat::PdfA1b:
        case OutputFormat::PdfA2b: {
            PdfOptions pdf;
            pdf.conformance = options.format == OutputFormat::PdfA1b   ? PdfConformance::PdfA1b
                              : options.format == OutputFormat::PdfA2b ? PdfConformance::PdfA2b
                                                                       : PdfConformance::None;
            pdf.title = options.title;
            pdf.author = options.author;
            pdf.dpi = options.dpi;
            std::unique_ptr<PdfWriter> pdfWriter(new PdfWriter(std::move(sink), package, pdf));
            std::vector<OutlineEntry> outline;
            HRESULT hr = ReadOutline(package, structure, outline);
            if (FAILED(hr)) {
                return hr;
            }
            pdfWriter->SetOutline(std::move(outline));
            writer = std::move(pdfWriter);
            return S_OK;
        }
        case OutputFormat::Png:
            writer.reset(new PngWriter(package, options, std::move(sink)));
            return S_OK;
        case OutputFormat::Jpeg:
            writer.reset(new JpegWriter(package, options, std::move(sink)));
            return S_OK;
        case OutputFormat::Tiff:
            writer.reset(new TiffWriter(package, options, std::move(sink)));
            return S_OK;
        case OutputFormat::Svg:
            writer.reset(new SvgWriter(std::move(sink), package, options.beginFile));
            return S_OK;
        case OutputFormat::Emf:
            writer.reset(new EmfWriter(std::move(sink), package, options.beginFile, options.title));
            return S_OK;
        default:
            return E_NOTIMPL;
    }
}

}  // namespace

HRESULT Convert(const xps::XpsPackage& package, const ConvertOptions& options, ByteSink sink) {
    xps::WorkBudget budget(xps::WorkBudget::ForInput(package.Size()), options.timeLimitMs);
    xps::WorkBudget::Scope charged(budget);
    try {
        xps::FixedStructure structure;
        HRESULT hr = package.ReadStructure(structure);
        if (FAILED(hr)) {
            return hr;
        }
        std::unique_ptr<DocumentWriter> writer;
        hr = MakeWriter(package, structure, options, std::move(sink), writer);
        if (SUCCEEDED(hr)) {
            hr = writer->Begin();
        }
        std::vector<const std::wstring*> pageParts;
        for (const xps::FixedDocumentInfo& document : structure.documents) {
            for (const std::wstring& pagePart : document.pages) {
                pageParts.push_back(&pagePart);
            }
        }
        // Only the reading side uses it, one page at a time.
        ColorProfiles profiles(package);
        ReadAhead pages(SUCCEEDED(hr) ? pageParts.size() : 0, [&](std::size_t index, Page& page, bool spare) {
            xps::WorkBudget::Scope readerCharged(budget);
            HRESULT read = ReadPage(package, *pageParts[index], page, PageCaps(), &profiles);
            if (SUCCEEDED(read)) {
                writer->Prepare(page, spare);
            }
            // What a loop cut short for the budget read is no page.
            return FAILED(budget.Failure()) ? budget.Failure() : read;
        });
        for (std::size_t index = 0; index < pageParts.size() && SUCCEEDED(hr); ++index) {
            // The budget also looks at the clock inside pages, on its charges.
            if (!budget.InTime()) {
                hr = budget.Failure();
                break;
            }
            Page page;
            hr = pages.Next(page);
            if (SUCCEEDED(hr)) {
                hr = writer->AddPage(page);
            }
        }
        if (SUCCEEDED(hr)) {
            hr = writer->Finish();
        }
        // A writer that stopped a loop for the budget may not have noticed.
        return FAILED(budget.Failure()) ? budget.Failure() : hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace engine
