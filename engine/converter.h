// Convert: an XPS package into the output format a job asks for, page by
// page, so that memory holds one page at a time. What the caller cannot
// have converted (a damaged document, one over a cap) fails with an HRESULT
// and nothing the caller should keep: the caller sends the XPS instead.
// Each job has a work budget in proportion to the package's size
// (xps/workbudget.h); a document that spends it fails with
// xps::kWorkExhausted.
#pragma once

#include <functional>
#include <string>

#include "engine/failure.h"
#include "engine/pdffile.h"
#include "engine/pdfwriter.h"
#include "xps/xpspackage.h"

namespace engine {

// PDF, PDF/A and TIFF are one file for the whole document; SVG, EMF, PNG and
// JPEG one file per page.
enum class OutputFormat { Pdf, PdfA1b, PdfA2b, Svg, Emf, Png, Jpeg, Tiff };

bool IsPerPageFormat(OutputFormat format);

// Raster resolution: what a job asks outside this range gets the default.
constexpr unsigned kMinDpi = 72, kMaxDpi = 1200, kDefaultDpi = 300;

struct ConvertOptions {
    OutputFormat format = OutputFormat::Pdf;
    std::wstring title;   // the document's name
    std::wstring author;  // the job's owner
    // 0: none; otherwise a job still converting after this many milliseconds
    // fails with HRESULT_FROM_WIN32(ERROR_TIMEOUT), looked at between pages
    // and, on the work budget's charges, within them.
    DWORD timeLimitMs = 0;
    // Raster formats (and what PDF/A-1b draws as images): dots per inch.
    unsigned dpi = kDefaultDpi;
    unsigned jpegQuality = 90;  // 1..100
    bool transparent = false;   // PNG and TIFF: nothing drawn stays transparent, not white
    // A per-page format calls this before the bytes of each page's file,
    // with the page's number from 1; the bytes that follow, up to the next
    // call, are that file. A per-page format fails with E_INVALIDARG
    // without it; a one-file format never calls it.
    std::function<HRESULT(unsigned page)> beginFile;
};

// The format a name gives: pdf, pdfa1b, pdfa2b, svg, emf, png, jpeg, tiff, in
// any case (the command line's names and the print ticket's PDF, PDFA1b,
// PDFA2b, SVG...); false for another.
bool OutputFormatNamed(const wchar_t* name, OutputFormat& format);

HRESULT Convert(const xps::XpsPackage& package, const ConvertOptions& options, ByteSink sink);

}  // namespace engine
