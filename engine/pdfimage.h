// An image part as a PDF image XObject needs it: JPEG passes through as
// DCTDecode; everything else is decoded to 8-bit samples with its alpha
// apart (a soft mask).
#pragma once

#include <string>

#include <windows.h>

namespace engine {

struct PdfImage {
    unsigned width = 0, height = 0;
    std::string colorSpace;  // "/DeviceRGB", "/DeviceGray", "/DeviceCMYK" or "[/ICCBased n 0 R]"
    std::string extra;       // further entries: /Decode for inverted CMYK JPEG
    std::string data;        // samples, or the JPEG file
    bool isJpeg = false;
    std::string alpha;       // 8-bit samples; empty: opaque
    std::string iccProfile;  // the image's own profile, when PDF can use it
    int components = 3;
    double dpiX = 96, dpiY = 96;
};

// The kind of image is told by its first bytes, not by its content type.
// archiveWithoutTransparency (PDF/A-1): alpha is flattened onto white and
// only version 2 profiles are kept.
HRESULT MakePdfImage(const std::string& bytes, bool archiveWithoutTransparency, PdfImage& image);

}  // namespace engine
