#include "engine/pngencoder.h"

#include <cmath>
#include <cstdint>
#include <new>

#include <zlib.h>

namespace engine {

namespace {

void PutU32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((value >> shift) & 0xFF);
    }
}

void Chunk(std::string& png, const char* type, const std::string& body) {
    PutU32(png, static_cast<std::uint32_t>(body.size()));
    std::size_t start = png.size();
    png.append(type, 4);
    png += body;
    uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(png.data() + start), static_cast<uInt>(png.size() - start));
    PutU32(png, static_cast<std::uint32_t>(crc));
}

// Deflates what is given into out, a row at a time.
class Deflater {
public:
    Deflater() { ok_ = deflateInit(&stream_, Z_DEFAULT_COMPRESSION) == Z_OK; }
    ~Deflater() {
        if (ok_) {
            deflateEnd(&stream_);
        }
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    bool Add(const std::string& data, bool last, std::string& out) {
        if (!ok_) {
            return false;
        }
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        stream_.avail_in = static_cast<uInt>(data.size());
        int status = Z_OK;
        do {
            Bytef buffer[16384];
            stream_.next_out = buffer;
            stream_.avail_out = sizeof(buffer);
            status = deflate(&stream_, last ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR) {
                return false;
            }
            out.append(reinterpret_cast<const char*>(buffer), sizeof(buffer) - stream_.avail_out);
        } while (stream_.avail_out == 0 || (last && status != Z_STREAM_END));
        return true;
    }

private:
    z_stream stream_ = {};
    bool ok_ = false;
};

}  // namespace

HRESULT EncodePng(const DecodedImage& image, std::string& png) {
    png.clear();
    const std::uint64_t pixels = std::uint64_t{image.width} * image.height;
    const bool hasAlpha = !image.alpha.empty();
    if (image.width == 0 || image.height == 0 || image.width > 0x7FFFFFFFu || image.height > 0x7FFFFFFFu ||
        (image.components != 1 && image.components != 3) ||
        image.pixels.size() != pixels * static_cast<unsigned>(image.components) ||
        (hasAlpha && image.alpha.size() != pixels)) {
        return E_INVALIDARG;
    }
    try {
        const std::size_t channels = static_cast<std::size_t>(image.components) + (hasAlpha ? 1 : 0);
        png = "\x89PNG\r\n\x1A\n";
        std::string header;
        PutU32(header, image.width);
        PutU32(header, image.height);
        // Bit depth 8; colour type grey 0, RGB 2, grey with alpha 4, RGBA 6.
        header += '\x08';
        header += static_cast<char>((image.components == 3 ? 2 : 0) | (hasAlpha ? 4 : 0));
        header.append(3, '\0');
        Chunk(png, "IHDR", header);
        if (image.dpiX > 0 && image.dpiY > 0) {
            std::string physical;
            PutU32(physical, static_cast<std::uint32_t>(std::lround(std::min(image.dpiX, 1e6) / 0.0254)));
            PutU32(physical, static_cast<std::uint32_t>(std::lround(std::min(image.dpiY, 1e6) / 0.0254)));
            physical += '\x01';  // per metre
            Chunk(png, "pHYs", physical);
        }
        Deflater deflater;
        std::string compressed, row(1 + image.width * channels, '\0');
        row[0] = 1;  // Sub: each byte less the one a pixel to its left
        const std::size_t stride = image.width * static_cast<std::size_t>(image.components);
        for (std::uint32_t y = 0; y < image.height; ++y) {
            const char* colour = image.pixels.data() + y * stride;
            const char* alpha = hasAlpha ? image.alpha.data() + std::size_t{y} * image.width : nullptr;
            unsigned char previous[4] = {0, 0, 0, 0};
            for (std::uint32_t x = 0; x < image.width; ++x) {
                for (std::size_t c = 0; c < channels; ++c) {
                    unsigned char sample = static_cast<unsigned char>(
                        c < static_cast<std::size_t>(image.components) ? colour[x * image.components + c]
                                                                       : alpha[x]);
                    row[1 + x * channels + c] = static_cast<char>(sample - previous[c]);
                    previous[c] = sample;
                }
            }
            if (!deflater.Add(row, y + 1 == image.height, compressed)) {
                return E_FAIL;
            }
        }
        Chunk(png, "IDAT", compressed);
        Chunk(png, "IEND", std::string());
        return S_OK;
    } catch (const std::bad_alloc&) {
        png.clear();
        return E_OUTOFMEMORY;
    }
}

}  // namespace engine
