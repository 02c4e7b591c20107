#include "engine/pngwriter.h"

#include <cmath>

namespace engine {

namespace {

constexpr int kUpFilter = 2;

void PutBe32(unsigned char* out, std::uint32_t value) {
    out[0] = static_cast<unsigned char>(value >> 24);
    out[1] = static_cast<unsigned char>(value >> 16);
    out[2] = static_cast<unsigned char>(value >> 8);
    out[3] = static_cast<unsigned char>(value);
}

}  // namespace

HRESULT PngWriter::Chunk(const char* type, const unsigned char* data, std::size_t size) {
    unsigned char head[8];
    PutBe32(head, static_cast<std::uint32_t>(size));
    std::copy(type, type + 4, head + 4);
    uLong crc = crc32(0, head + 4, 4);
    if (size > 0) {
        crc = crc32(crc, data, static_cast<uInt>(size));
    }
    unsigned char tail[4];
    PutBe32(tail, static_cast<std::uint32_t>(crc));
    HRESULT hr = Put(head, sizeof(head));
    if (SUCCEEDED(hr) && size > 0) {
        hr = Put(data, size);
    }
    return SUCCEEDED(hr) ? Put(tail, sizeof(tail)) : hr;
}

HRESULT PngWriter::BeginPicture(unsigned width, unsigned height) {
    width_ = width;
    std::size_t rowBytes = static_cast<std::size_t>(width) * (Transparent() ? 4 : 3);
    row_.assign(rowBytes, 0);
    previous_.assign(rowBytes, 0);  // above the first row: zeros, so "Up" leaves it as it is
    filtered_.assign(rowBytes + 1, 0);
    filtered_[0] = kUpFilter;

    HRESULT hr = Put("\x89PNG\r\n\x1A\n", 8);
    unsigned char header[13] = {};
    PutBe32(header, width);
    PutBe32(header + 4, height);
    header[8] = 8;                      // bits a sample
    header[9] = Transparent() ? 6 : 2;  // RGBA : RGB
    if (SUCCEEDED(hr)) {
        hr = Chunk("IHDR", header, sizeof(header));
    }
    unsigned char density[9] = {};
    std::uint32_t perMetre = static_cast<std::uint32_t>(std::lround(Dpi() / 0.0254));
    PutBe32(density, perMetre);
    PutBe32(density + 4, perMetre);
    density[8] = 1;  // the unit is the metre
    if (SUCCEEDED(hr)) {
        hr = Chunk("pHYs", density, sizeof(density));
    }
    const unsigned char perceptual = 0;
    if (SUCCEEDED(hr)) {
        hr = Chunk("sRGB", &perceptual, 1);
    }
    if (SUCCEEDED(hr)) {
        hr = zlib_.Begin(
            ZlibStream::kPictureLevel, ZlibStream::kPictureStrategy,
            [this](const unsigned char* bytes, std::size_t size) { return Chunk("IDAT", bytes, size); });
    }
    return hr;
}

HRESULT PngWriter::WriteBand(const RasterBand& band) {
    for (unsigned y = 0; y < band.rows; ++y) {
        ToRgb(band.pixels + static_cast<std::size_t>(y) * band.width, width_, Transparent(), row_.data());
        for (std::size_t i = 0; i < row_.size(); ++i) {
            filtered_[i + 1] = static_cast<unsigned char>(row_[i] - previous_[i]);
        }
        row_.swap(previous_);
        HRESULT hr = zlib_.Write(filtered_.data(), filtered_.size());
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT PngWriter::EndPicture() {
    HRESULT hr = zlib_.End();
    return SUCCEEDED(hr) ? Chunk("IEND", nullptr, 0) : hr;
}

}  // namespace engine
