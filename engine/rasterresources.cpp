#include "engine/rasterresources.h"

#include "engine/font.h"
#include "engine/image.h"

namespace engine {

namespace {

std::size_t PointsOf(const Geometry& geometry) {
    std::size_t points = 0;
    for (const Figure& figure : geometry.figures) {
        points += 1 + 3 * figure.segments.size();
    }
    return points;
}

bool StartsWith(const std::string& bytes, const char* signature, std::size_t size) {
    return bytes.size() >= size && bytes.compare(0, size, signature, size) == 0;
}

}  // namespace

HRESULT RasterResources::FontFor(const std::wstring& part, std::uint16_t face, FontEntry*& entry) {
    std::wstring key = xps::PartKey(part) + L"#" + std::to_wstring(face);
    auto found = fonts_.find(key);
    if (found != fonts_.end()) {
        entry = found->second.get();
        return S_OK;
    }
    std::unique_ptr<FontEntry> loaded(new FontEntry());
    HRESULT hr = LoadFontPart(package_, part, face, loaded->font);
    if (SUCCEEDED(hr) && loaded->font.Metrics().unitsPerEm == 0) {
        hr = kFontDamaged;
    }
    if (FAILED(hr)) {
        return hr;
    }
    entry = loaded.get();
    fonts_[key] = std::move(loaded);
    return S_OK;
}

HRESULT RasterResources::Outline(FontEntry& entry, std::uint16_t glyph, const Geometry*& outline) {
    auto found = entry.outlines.find(glyph);
    if (found == entry.outlines.end()) {
        Geometry loaded;
        HRESULT hr = entry.font.Outline(glyph, loaded);
        if (FAILED(hr)) {
            return hr;
        }
        std::size_t points = PointsOf(loaded);
        if (outlinePoints_ + points > kMaxOutlinePoints) {
            for (auto& font : fonts_) {
                font.second->outlines.clear();
            }
            outlinePoints_ = 0;
        }
        outlinePoints_ += points;
        found = entry.outlines.emplace(glyph, std::move(loaded)).first;
    }
    outline = &found->second;
    return S_OK;
}

HRESULT RasterResources::ImageFor(const Image& image, std::shared_ptr<const ImageEntry>& entry) {
    std::wstring key = xps::PartKey(image.part);
    auto found = images_.find(key);
    if (found != images_.end()) {
        entry = found->second;
        return S_OK;
    }
    std::string bytes;
    HRESULT hr = package_.Read(image.part, bytes);
    DecodedImage decoded;
    if (SUCCEEDED(hr)) {
        hr = StartsWith(bytes, "\x89PNG\r\n\x1A\n", 8) ? DecodePng(bytes, decoded)
                                                       : DecodeWithWic(bytes, decoded);
    }
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
