// What a file is, told from its first bytes: how the port monitor names a
// job's file, and which files a file set may carry (platform/fileset.h).
// Nothing but the first bytes is read, and no more than kFormatSniffBytes.
#pragma once

#include <cstddef>

enum class FileFormat {
    Unknown,
    Pdf,      // "%PDF-"
    Xps,      // a ZIP archive, "PK\3\4"
    Svg,      // XML whose root element is <svg>
    Emf,      // EMR_HEADER (record type 1) with " EMF" at offset 40
    Png,      // the PNG signature
    Jpeg,     // FF D8 FF
    Tiff,     // "II*\0" or "MM\0*"
    FileSet,  // the file set's signature (platform/fileset.h)
};

// Enough for an SVG file's XML declaration, document type and comments
// before its root element.
constexpr std::size_t kFormatSniffBytes = 1024;

// The format the first cbHead bytes show (at most kFormatSniffBytes are
// looked at).
FileFormat FormatOf(const unsigned char* pHead, std::size_t cbHead);

// Formats written as one file per page, which a file set carries.
bool IsPageFormat(FileFormat format);

// ".pdf", ".xps", ".svg", ".emf", ".png", ".jpg", ".tif"; ".zcs" for a file
// set kept whole; ".xps" for what is not known (a job the output filter sent
// on unconverted).
const wchar_t* ExtensionOf(FileFormat format);
