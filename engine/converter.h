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
};

HRESULT Convert(const xps::XpsPackage& package, const ConvertOptions& options, ByteSink sink);

}  // namespace engine
