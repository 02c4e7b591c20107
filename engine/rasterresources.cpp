#include "engine/rasterresources.h"

#include "engine/font.h"
#include "engine/image.h"

namespace engine {

HRESULT RasterResources::ImageFor(const Image& image, std::shared_ptr<const ImageEntry>& entry) {
    std::wstring key = xps::PartKey(image.part);
    auto found = images_.find(key);
    if (found != images_.end()) {
        entry = found->second;
        return S_OK;
    }
    DecodedImage decoded;
    HRESULT hr = DecodeImagePart(package_, image.part, decoded);
    if (FAILED(hr)) {
        return hr;
    }
    std::shared_ptr<ImageEntry> loaded(new ImageEntry());
    loaded->width = decoded.width;
    loaded->height = decoded.height;
    loaded->dpiX = decoded.dpiX > 0 ? decoded.dpiX : 96;
    loaded->dpiY = decoded.dpiY > 0 ? decoded.dpiY : 96;
    std::size_t count = static_cast<std::size_t>(decoded.width) * decoded.height;
    loaded->pixels.resize(count);
    const unsigned char* colour = reinterpret_cast<const unsigned char*>(decoded.pixels.data());
    const unsigned char* alpha = reinterpret_cast<const unsigned char*>(decoded.alpha.data());
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t a = decoded.alpha.empty() ? 255 : alpha[i];
        std::uint32_t r, g, b;
        if (decoded.components == 1) {
            r = g = b = colour[i];
        } else {
            r = colour[3 * i];
            g = colour[3 * i + 1];
            b = colour[3 * i + 2];
        }
        loaded->pixels[i] =
            a << 24 | (r * a + 127) / 255 << 16 | (g * a + 127) / 255 << 8 | (b * a + 127) / 255;
    }
    Gdiplus::GpBitmap* bitmap = nullptr;
    hr = GdiPlusResult(
        api_.GdipCreateBitmapFromScan0(static_cast<INT>(decoded.width), static_cast<INT>(decoded.height),
                                       static_cast<INT>(decoded.width * 4), PixelFormat32bppPARGB,
                                       reinterpret_cast<BYTE*>(loaded->pixels.data()), &bitmap));
    loaded->bitmap.reset(bitmap);
    if (FAILED(hr)) {
        return hr;
    }
    std::size_t bytesKept = count * 4;
    if (imageBytes_ + bytesKept > kMaxImageBytes) {
        images_.clear();
        imageBytes_ = 0;
    }
    if (bytesKept <= kMaxImageBytes) {
        images_[key] = loaded;
        imageBytes_ += bytesKept;
    }
    entry = std::move(loaded);
    return S_OK;
}

}  // namespace engine
