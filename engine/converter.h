// Convert: an XPS package into the output format a job asks for, page by
// page, so that memory holds one page at a time. What the caller cannot
// have converted (a damaged document, one over a cap) fails with an HRESULT
// and nothing the caller should keep: the caller sends the XPS instead.
#pragma once

#include <string>

#include "engine/pdffile.h"
#include "engine/pdfwriter.h"
#include "xps/xpspackage.h"

namespace engine {

enum class OutputFormat { Pdf, PdfA1b, PdfA2b };

struct ConvertOptions {
    OutputFormat format = OutputFormat::Pdf;
    std::wstring title;   // the document's name
    std::wstring author;  // the job's owner
    // 0: none; otherwise a job still converting after this many milliseconds
    // fails with HRESULT_FROM_WIN32(ERROR_TIMEOUT), looked at between pages.
    DWORD timeLimitMs = 0;
};

// The format a name gives: pdf, pdfa1b or pdfa2b, in any case (the command
// line's names and the print ticket's PDF, PDFA1b, PDFA2b); false for another.
bool OutputFormatNamed(const wchar_t* name, OutputFormat& format);

HRESULT Convert(const xps::XpsPackage& package, const ConvertOptions& options, ByteSink sink);

}  // namespace engine
