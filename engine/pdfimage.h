// An image part as a PDF image XObject needs it: JPEG passes through as
// DCTDecode, and a PNG whose data PDF reads as it stands (8-bit grey or
// RGB, no transparency) as FlateDecode with PNG predictors; everything else
// is decoded to 8-bit samples with its alpha apart (a soft mask).
#pragma once

#include <string>

#include <windows.h>

namespace engine {

struct PdfImage {
    unsigned width = 0, height = 0;
    std::string colorSpace;        // "/DeviceRGB", "/DeviceGray", "/DeviceCMYK" or "[/ICCBased n 0 R]"
    std::string extra;             // further entries: /Decode for inverted CMYK JPEG, /DecodeParms
    std::string data;              // samples, or encoded as filter says
    const char* filter = nullptr;  // "DCTDecode" (the JPEG file), "FlateDecode" (a PNG's data)
    std::string alpha;             // 8-bit samples; empty: opaque
    bool alphaFlattened = false;   // PDF/A-1: it had alpha, now mixed with white
    std::string iccProfile;        // the image's own profile, when PDF can use it
    int components = 3;
    double dpiX = 96, dpiY = 96;
};

// The kind of image is told by its first bytes, not by its content type.
// archiveWithoutTransparency (PDF/A-1): alpha is flattened onto white and
// only version 2 profiles are kept.
HRESULT MakePdfImage(const std::string& bytes, bool archiveWithoutTransparency, PdfImage& image);

}  // namespace engine
