// The images an XPS page shows, read for the writers. A JPEG goes into a PDF
// unchanged, so only its headers are read; PNG is decoded here on zlib;
// TIFF and JPEG XR (HD Photo) are decoded by Windows' own codecs (WIC).
//
// Every image is hostile input. Each length and offset is checked against
// the data before use, and an image is refused before anything is
// allocated for it when it passes a cap:
// - a side of more than kMaxImageSide pixels, or more than kMaxImagePixels
//   pixels in all: at 3 bytes of colour and 1 of alpha a pixel, a decoded
//   image never exceeds 256 MiB (a PNG is decoded row by row, so its
//   filtered data never needs to be held whole);
// - an embedded ICC profile of more than kMaxIccProfile bytes.
// Failures: xps::kDamaged for data that breaks off or contradicts itself
// (a wrong signature, a bad CRC or checksum, compressed data inflating past
// the size its header gives), xps::kOverCap past a cap,
// HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) for a kind of image that is
// valid but not read here, E_OUTOFMEMORY; DecodeWithWic adds WIC's and
// COM's own codes (WINCODEC_ERR_COMPONENTNOTFOUND: no codec for the
// format on this system).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <windows.h>

#include "xps/xpspackage.h"

namespace engine {

constexpr std::uint32_t kMaxImageSide = 65535;
constexpr std::uint64_t kMaxImagePixels = 64ull << 20;
constexpr std::size_t kMaxIccProfile = 16u << 20;

struct JpegInfo {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int components = 0;        // 1 grey, 3 YCbCr or RGB, 4 CMYK or YCCK
    int bitsPerComponent = 0;  // 8, or 12 for an extended JPEG
    bool progressive = false;
    // Adobe's applications store the four components of CMYK and YCCK
    // JPEGs inverted and say so with their APP14 marker: a PDF then needs
    // /Decode [1 0 1 0 1 0 1 0].
    bool adobeInverted = false;
    // The APP14 marker's colour transform (0 none, 1 YCbCr, 2 YCCK); -1
    // without the marker.
    int adobeTransform = -1;
    // The APP2 ICC_PROFILE chunks joined in order; empty when there are
    // none, or when their numbering contradicts itself.
    std::string iccProfile;
    double dpiX = 0;  // JFIF density; 0 when not stated
    double dpiY = 0;
};

// Reads a baseline, extended or progressive (Huffman-coded) JPEG's headers
// up to its first scan. Lossless, arithmetic-coded and hierarchical JPEGs,
// and a height left to a DNL marker, are ERROR_NOT_SUPPORTED.
HRESULT ReadJpegInfo(const std::string& bytes, JpegInfo& info);

struct DecodedImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int components = 0;  // 1 grey, 3 RGB
    // 8 bits a component, rows top to bottom, width * components bytes
    // each, no padding.
    std::string pixels;
    // One byte a pixel, not premultiplied; empty when every pixel is opaque.
    std::string alpha;
    std::string iccProfile;  // empty: none embedded
    double dpiX = 0;         // 0 when not stated
    double dpiY = 0;
};

// Every colour type and bit depth, palettes, tRNS transparency, Adam7
// interlacing and every filter; 16-bit samples rounded to 8 bits. Grey and
// grey with alpha come out grey, everything else RGB. iCCP and pHYs are
// kept; other ancillary chunks are skipped, an unknown critical one is
// ERROR_NOT_SUPPORTED. Every chunk's CRC is checked: a critical chunk that
// fails it is damage, an ancillary one is passed over.
HRESULT DecodePng(const std::string& bytes, DecodedImage& image);
// What DecodePng would read of the image but its pixels, checked the same way
// up to the compressed data: width, height, components (of the decoded
// image), resolution and profile. For a writer that passes the PNG on as it
// is.
HRESULT ReadPngInfo(const std::string& bytes, DecodedImage& image);

// A PNG whose data a PDF reader's FlateDecode with PNG predictors reads as
// it stands (8-bit grey or RGB, not interlaced, no tRNS): image gets all but
// its pixels, deflated the joined data of its IDAT chunks, filtered as PNG
// filters rows. Checked as DecodePng checks it, every row inflated and its
// filter type known, but nothing kept of the rows. Any other valid PNG:
// ERROR_NOT_SUPPORTED (DecodePng reads it).
HRESULT ReadPngDeflated(const std::string& bytes, DecodedImage& image, std::string& deflated);

// The first frame of a TIFF or JPEG XR image (or any format the system's
// WIC decodes), converted by WIC to RGB with alpha. windowscodecs.dll is
// loaded from the system directory, since Windows XP has WIC only with a
// later update. COM is initialised on the calling thread (multithreaded)
// for the call, and uninitialised again only when that succeeded; a thread
// already in a single-threaded apartment is used as it is.
HRESULT DecodeWithWic(const std::string& bytes, DecodedImage& image);

// An image part a page shows, read from the package and decoded: a PNG
// (told by its signature) by DecodePng, anything else by DecodeWithWic. The
// package's failures and the decoders'.
HRESULT DecodeImagePart(const xps::XpsPackage& package, const std::wstring& part, DecodedImage& image);

}  // namespace engine
