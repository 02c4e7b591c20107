// EncodePng: a decoded image (engine/image.h) as a PNG file, for a format
// that carries images its readers decode themselves (an SVG's data URIs)
// where the image came in a form they may not read (TIFF, JPEG XR).
//
// 8 bits a sample, grey or RGB, with the alpha channel when the image has
// one; the resolution in a pHYs chunk when the image states it; rows
// filtered by their left neighbour (Sub) and deflated by zlib a row at a
// time, so nothing but the output grows with the image. Fails with
// E_INVALIDARG for an image whose sizes and samples disagree, or whose PNG
// would pass the format's own limits (a side over 2^31 - 1); E_OUTOFMEMORY.
#pragma once

#include <string>

#include <windows.h>

#include "engine/image.h"

namespace engine {

HRESULT EncodePng(const DecodedImage& image, std::string& png);

}  // namespace engine
