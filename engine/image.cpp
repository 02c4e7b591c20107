#include "engine/image.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include <zlib.h>

#include "engine/wicfactory.h"
#include "xps/workbudget.h"
#include "xps/ziparchive.h"

namespace engine {

namespace {

using Microsoft::WRL::ComPtr;

const HRESULT kNotSupported = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);

std::uint32_t Be16(const unsigned char* p) { return static_cast<std::uint32_t>(p[0] << 8 | p[1]); }
std::uint32_t Be32(const unsigned char* p) { return Be16(p) << 16 | Be16(p + 2); }

HRESULT CheckSize(std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0) {
        return xps::kDamaged;
    }
    if (width > kMaxImageSide || height > kMaxImageSide ||
        static_cast<std::uint64_t>(width) * height > kMaxImagePixels) {
        return xps::kOverCap;
    }
    return S_OK;
}

// ---- JPEG -------------------------------------------------------------------

struct IccChunk {
    unsigned sequence;
    unsigned count;
    const unsigned char* data;
    std::size_t size;
};

// The chunks joined by their sequence numbers, which must run 1..count,
// each once; anything else gives no profile, as libjpeg does.
HRESULT JoinIccChunks(std::vector<IccChunk>& chunks, std::string& profile) {
    profile.clear();
    std::sort(chunks.begin(), chunks.end(),
              [](const IccChunk& a, const IccChunk& b) { return a.sequence < b.sequence; });
    std::size_t size = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (chunks[i].sequence != i + 1 || chunks[i].count != chunks.size()) {
            return S_OK;
        }
        size += chunks[i].size;
    }
    if (size > kMaxIccProfile) {
        return xps::kOverCap;
    }
    for (const IccChunk& chunk : chunks) {
        profile.append(reinterpret_cast<const char*>(chunk.data), chunk.size);
    }
    return S_OK;
}

// What APP0 (JFIF), APP2 (ICC_PROFILE) and APP14 (Adobe) segments say;
// other segments are passed over.
void ReadAppSegment(unsigned marker, const unsigned char* segment, std::size_t size, JpegInfo& info,
                    bool& jfifSeen, std::vector<IccChunk>& iccChunks) {
    if (marker == 0xE0 && !jfifSeen && size >= 14 && std::memcmp(segment, "JFIF\0", 5) == 0) {
        jfifSeen = true;
        // Units 1: dots per inch; 2: dots per centimetre; 0: an aspect ratio only.
        double perInch = segment[7] == 1 ? 1 : segment[7] == 2 ? 2.54 : 0;
        info.dpiX = Be16(segment + 8) * perInch;
        info.dpiY = Be16(segment + 10) * perInch;
    } else if (marker == 0xE2 && size >= 14 && std::memcmp(segment, "ICC_PROFILE\0", 12) == 0) {
        iccChunks.push_back({segment[12], segment[13], segment + 14, size - 14});
    } else if (marker == 0xEE && size >= 12 && std::memcmp(segment, "Adobe", 5) == 0) {
        info.adobeTransform = segment[11];
    }
}

HRESULT ReadFrameHeader(unsigned marker, const unsigned char* segment, std::size_t size, JpegInfo& info) {
    if (size < 6 || size < 6 + 3u * segment[5]) {
        return xps::kDamaged;
    }
    // SOF0 baseline, SOF1 extended, SOF2 progressive: what DCTDecode reads.
    if (marker > 0xC2) {
        return kNotSupported;
    }
    info.bitsPerComponent = segment[0];
    info.height = Be16(segment + 1);
    info.width = Be16(segment + 3);
    info.components = segment[5];
    info.progressive = marker == 0xC2;
    if (info.bitsPerComponent != 8 && info.bitsPerComponent != 12) {
        return xps::kDamaged;
    }
    if (info.height == 0 || (info.components != 1 && info.components != 3 && info.components != 4)) {
        return kNotSupported;
    }
    return CheckSize(info.width, info.height);
}

HRESULT ReadJpegHeaders(const std::string& bytes, JpegInfo& info) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) {
        return xps::kDamaged;
    }
    bool frameSeen = false;
    bool jfifSeen = false;
    std::vector<IccChunk> iccChunks;
    // Each turn moves on by two bytes at least.
    for (std::size_t at = 2;;) {
        if (at >= size || data[at] != 0xFF) {
            return xps::kDamaged;
        }
        while (at < size && data[at] == 0xFF) {
            ++at;  // fill bytes
        }
        if (at >= size) {
            return xps::kDamaged;
        }
        unsigned marker = data[at++];
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            continue;  // TEM, RSTn: no length
        }
        if (marker == 0x00 || marker == 0xD8 || marker == 0xD9 || size - at < 2) {
            return xps::kDamaged;
        }
        std::size_t length = Be16(data + at);
        if (length < 2 || length > size - at) {
            return xps::kDamaged;
        }
        const unsigned char* segment = data + at + 2;
        at += length;
        length -= 2;
        if (marker == 0xDA) {  // the first scan: every header has been read
            if (!frameSeen) {
                return xps::kDamaged;
            }
            break;
        }
        HRESULT hr = S_OK;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            hr = frameSeen ? xps::kDamaged : ReadFrameHeader(marker, segment, length, info);
            frameSeen = true;
        } else if (marker == 0xDC || marker == 0xDE) {
            hr = kNotSupported;  // DNL, DHP
        } else {
            ReadAppSegment(marker, segment, length, info, jfifSeen, iccChunks);
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    info.adobeInverted = info.adobeTransform >= 0 && info.components == 4;
    return JoinIccChunks(iccChunks, info.iccProfile);
}

// ---- PNG --------------------------------------------------------------------

// A zlib stream read in pieces of known size; End checks that it ends
// there with its checksum right, so data that inflates past what was asked
// (a decompression bomb) is found before more is read.
class Inflater {
public:
    Inflater(const unsigned char* input, std::size_t size) : input_(input), size_(size) {}
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    ~Inflater() {
        if (ready_) {
            inflateEnd(&stream_);
        }
    }

    HRESULT Init() {
        if (size_ > UINT_MAX) {
            return xps::kOverCap;
        }
        if (inflateInit(&stream_) != Z_OK) {
            return E_OUTOFMEMORY;
        }
        ready_ = true;
        stream_.next_in = const_cast<Bytef*>(input_);
        stream_.avail_in = static_cast<uInt>(size_);
        return S_OK;
    }

    // Exactly size bytes; kDamaged when the stream ends or breaks first.
    HRESULT Read(unsigned char* out, std::size_t size) {
        stream_.next_out = out;
        stream_.avail_out = static_cast<uInt>(size);
        // zlib makes progress on every call that returns Z_OK.
        while (stream_.avail_out > 0 && !ended_) {
            int result = inflate(&stream_, Z_NO_FLUSH);
            ended_ = result == Z_STREAM_END;
            if (result != Z_OK && !ended_) {
                return xps::kDamaged;
            }
        }
        return stream_.avail_out == 0 ? S_OK : xps::kDamaged;
    }

    // Everything left, up to limit bytes (kOverCap past them).
    HRESULT ReadRest(std::size_t limit, std::string& out) {
        out.clear();
        unsigned char buffer[16384];
        while (!ended_) {
            stream_.next_out = buffer;
            stream_.avail_out = sizeof(buffer);
            int result = inflate(&stream_, Z_NO_FLUSH);
            ended_ = result == Z_STREAM_END;
            if (result != Z_OK && !ended_) {
                return xps::kDamaged;
            }
            std::size_t produced = sizeof(buffer) - stream_.avail_out;
            if (produced > limit - out.size()) {
                return xps::kOverCap;
            }
            out.append(reinterpret_cast<const char*>(buffer), produced);
        }
        return S_OK;
    }

    HRESULT End() {
        unsigned char spare;
        if (!ended_ && SUCCEEDED(Read(&spare, 1))) {
            return xps::kDamaged;  // more data than the header gives room for
        }
        return ended_ ? S_OK : xps::kDamaged;
    }

private:
    const unsigned char* input_;
    std::size_t size_;
    z_stream stream_{};
    bool ready_ = false;
    bool ended_ = false;
};

constexpr std::uint32_t ChunkType(const char (&name)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(name[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[2])) << 8 |
           static_cast<unsigned char>(name[3]);
}
// Bit 5 of a chunk type's first letter: lower case is ancillary.
bool Ancillary(std::uint32_t type) { return (type & 0x20000000) != 0; }

enum ColorType { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

struct ColorTypeRule {
    unsigned type;
    unsigned channels;
    unsigned depths;  // the bit depths allowed, as a mask of 1 << depth
};
constexpr unsigned kLowDepths = 1u << 1 | 1u << 2 | 1u << 4;
constexpr ColorTypeRule kColorTypes[] = {
    {kGrey, 1, kLowDepths | 1u << 8 | 1u << 16},
    {kRgb, 3, 1u << 8 | 1u << 16},
    {kPalette, 1, kLowDepths | 1u << 8},
    {kGreyAlpha, 2, 1u << 8 | 1u << 16},
    {kRgba, 4, 1u << 8 | 1u << 16},
};

struct AdamPass {
    std::uint32_t x0, y0, dx, dy;
};
constexpr AdamPass kWholeImage[] = {{0, 0, 1, 1}};
constexpr AdamPass kAdam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                               {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

int Paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = p > a ? p - a : a - p;
    int pb = p > b ? p - b : b - p;
    int pc = p > c ? p - c : c - p;
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes a row's filter in place; prior is the previous row of the same
// pass, unfiltered (zeros for the first).
bool Unfilter(unsigned type, unsigned char* row, const unsigned char* prior, std::size_t size,
              std::size_t bpp) {
    if (type > 4) {
        return false;
    }
    for (std::size_t i = 0; i < size && type != 0; ++i) {
        int left = i >= bpp ? row[i - bpp] : 0;
        int up = prior[i];
        int upLeft = i >= bpp ? prior[i - bpp] : 0;
        int predictor = type == 1   ? left
                        : type == 2 ? up
                        : type == 3 ? (left + up) / 2
                                    : Paeth(left, up, upLeft);
        row[i] = static_cast<unsigned char>(row[i] + predictor);
    }
    return true;
}

void DropOpaqueAlpha(DecodedImage& image) {
    if (std::all_of(image.alpha.begin(), image.alpha.end(), [](char a) { return a == '\xFF'; })) {
        image.alpha.clear();
    }
}

class PngDecoder {
public:
    explicit PngDecoder(const std::string& bytes)
        : data_(reinterpret_cast<const unsigned char*>(bytes.data())), size_(bytes.size()) {}

    HRESULT ReadInfo(DecodedImage& image);
    HRESULT Decode(DecodedImage& image);
    HRESULT KeepDeflated(DecodedImage& image, std::string& deflated);

private:
    HRESULT ReadChunks(DecodedImage& image);
    HRESULT ReadHeader(const unsigned char* chunk, std::size_t length);
    HRESULT ReadBeforeData(std::uint32_t type, const unsigned char* chunk, std::size_t length,
                           DecodedImage& image);
    HRESULT ReadPass(Inflater& inflater, const AdamPass& pass, DecodedImage& image);
    HRESULT StorePixel(const unsigned char* row, std::uint32_t x, std::size_t at, DecodedImage& image);
    unsigned Sample(const unsigned char* row, std::size_t index) const;
    char To8Bits(unsigned sample) const;

    const unsigned char* data_;
    std::size_t size_;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    unsigned bitDepth_ = 0;
    unsigned colorType_ = 0;
    unsigned channels_ = 0;
    bool interlaced_ = false;
    std::vector<unsigned char> palette_;  // RGBA entries
    bool colorKey_ = false;               // tRNS of a grey or RGB image
    bool profileRead_ = false;            // an image has one iCCP at most
    unsigned key_[3] = {};
    std::string compressed_;  // the IDAT chunks' data, joined
};

HRESULT PngDecoder::ReadInfo(DecodedImage& image) {
    image = DecodedImage();
    HRESULT hr = ReadChunks(image);
    if (FAILED(hr)) {
        image = DecodedImage();
        return hr;
    }
    image.width = width_;
    image.height = height_;
    image.components = colorType_ == kGrey || colorType_ == kGreyAlpha ? 1 : 3;
    return S_OK;
}

HRESULT PngDecoder::Decode(DecodedImage& image) {
    HRESULT hr = ReadInfo(image);
    if (FAILED(hr)) {
        return hr;
    }
    bool paletteAlpha = false;
    for (std::size_t i = 3; i < palette_.size(); i += 4) {
        paletteAlpha = paletteAlpha || palette_[i] != 0xFF;
    }
    std::size_t pixels = static_cast<std::size_t>(width_) * height_;
    image.pixels.assign(pixels * image.components, '\0');
    if (colorType_ == kGreyAlpha || colorType_ == kRgba || colorKey_ || paletteAlpha) {
        image.alpha.assign(pixels, '\xFF');
    }
    Inflater inflater(reinterpret_cast<const unsigned char*>(compressed_.data()), compressed_.size());
    hr = inflater.Init();
    const AdamPass* passes = interlaced_ ? kAdam7 : kWholeImage;
    std::size_t passCount = interlaced_ ? std::size(kAdam7) : std::size(kWholeImage);
    for (std::size_t i = 0; i < passCount && SUCCEEDED(hr); ++i) {
        hr = ReadPass(inflater, passes[i], image);
    }
    if (SUCCEEDED(hr)) {
        hr = inflater.End();
    }
    if (FAILED(hr)) {
        image = DecodedImage();
        return hr;
    }
    DropOpaqueAlpha(image);
    return S_OK;
}

HRESULT PngDecoder::KeepDeflated(DecodedImage& image, std::string& deflated) {
    image = DecodedImage();
    deflated.clear();
    HRESULT hr = ReadChunks(image);
    if (SUCCEEDED(hr) &&
        (bitDepth_ != 8 || (colorType_ != kGrey && colorType_ != kRgb) || interlaced_ || colorKey_)) {
        hr = kNotSupported;
    }
    Inflater inflater(reinterpret_cast<const unsigned char*>(compressed_.data()), compressed_.size());
    if (SUCCEEDED(hr)) {
        hr = inflater.Init();
    }
    // Rows are inflated many at a time: zlib keeps a copy of what it last
    // made for every call, so one call a row would copy each row twice.
    const std::size_t rowSize = 1 + static_cast<std::size_t>(width_) * channels_;
    const std::size_t rowsAtOnce = std::max<std::size_t>(1, (256u << 10) / rowSize);
    std::vector<unsigned char> rows(SUCCEEDED(hr) ? rowSize * std::min<std::size_t>(rowsAtOnce, height_) : 0);
    for (std::uint32_t y = 0; y < height_ && SUCCEEDED(hr);) {
        std::size_t count = std::min<std::size_t>(rowsAtOnce, height_ - y);
        hr = inflater.Read(rows.data(), count * rowSize);
        for (std::size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
            if (rows[i * rowSize] > 4) {
                hr = xps::kDamaged;  // a filter type no reader knows
            }
        }
        y += static_cast<std::uint32_t>(count);
    }
    if (SUCCEEDED(hr)) {
        hr = inflater.End();
    }
    if (FAILED(hr)) {
        image = DecodedImage();
        return hr;
    }
    image.width = width_;
    image.height = height_;
    image.components = static_cast<int>(channels_);
    deflated = std::move(compressed_);
    return S_OK;
}

HRESULT PngDecoder::ReadChunks(DecodedImage& image) {
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size_ < 8 || std::memcmp(data_, kSignature, 8) != 0) {
        return xps::kDamaged;
    }
    bool dataSeen = false;
    bool dataEnded = false;
    // Each turn moves on by 12 bytes at least.
    for (std::size_t at = 8;;) {
        if (size_ - at < 12) {
            return xps::kDamaged;
        }
        std::size_t length = Be32(data_ + at);
        std::uint32_t type = Be32(data_ + at + 4);
        const unsigned char* chunk = data_ + at + 8;
        if (length > 0x7FFFFFFF || length > size_ - at - 12) {
            return xps::kDamaged;
        }
        at += 12 + length;
        for (int shift = 0; shift < 32; shift += 8) {
            unsigned letter = (type >> shift & 0xFF) | 0x20;
            if (letter < 'a' || letter > 'z') {
                return xps::kDamaged;
            }
        }
        if (crc32(0, chunk - 4, static_cast<uInt>(length + 4)) != Be32(chunk + length)) {
            if (Ancillary(type)) {
                continue;  // as libpng does: real documents carry sRGB chunks with a wrong CRC
            }
            return xps::kDamaged;
        }
        if ((width_ == 0) != (type == ChunkType("IHDR"))) {
            return xps::kDamaged;  // IHDR first, and once
        }
        dataEnded = dataEnded || (dataSeen && type != ChunkType("IDAT"));
        HRESULT hr = S_OK;
        if (type == ChunkType("IHDR")) {
            hr = ReadHeader(chunk, length);
        } else if (type == ChunkType("IDAT")) {
            if (dataEnded || (colorType_ == kPalette && palette_.empty())) {
                return xps::kDamaged;  // the data is one run of chunks, after the palette
            }
            dataSeen = true;
            compressed_.append(reinterpret_cast<const char*>(chunk), length);
        } else if (type == ChunkType("IEND")) {
            return dataSeen ? S_OK : xps::kDamaged;
        } else if (!dataSeen) {
            hr = ReadBeforeData(type, chunk, length, image);
        } else if (!Ancillary(type)) {
            return xps::kDamaged;  // a palette after the data, or a critical chunk unknown here
        }                          // what an ancillary chunk says after the data no longer applies to it
        if (FAILED(hr)) {
            return hr;
        }
    }
}

HRESULT PngDecoder::ReadHeader(const unsigned char* chunk, std::size_t length) {
    if (length != 13) {
        return xps::kDamaged;
    }
    bitDepth_ = chunk[8];
    colorType_ = chunk[9];
    interlaced_ = chunk[12] == 1;
    unsigned depths = 0;
    for (const ColorTypeRule& rule : kColorTypes) {
        if (rule.type == colorType_) {
            channels_ = rule.channels;
            depths = rule.depths;
        }
    }
    if (bitDepth_ > 16 || (depths >> bitDepth_ & 1) == 0 || chunk[10] != 0 || chunk[11] != 0 ||
        chunk[12] > 1) {
        return xps::kDamaged;
    }
    HRESULT hr = CheckSize(Be32(chunk), Be32(chunk + 4));
    if (SUCCEEDED(hr)) {
        width_ = Be32(chunk);
        height_ = Be32(chunk + 4);
    }
    return hr;
}

// A chunk between IHDR and the image data.
HRESULT PngDecoder::ReadBeforeData(std::uint32_t type, const unsigned char* chunk, std::size_t length,
                                   DecodedImage& image) {
    if (type == ChunkType("PLTE")) {
        bool grey = colorType_ == kGrey || colorType_ == kGreyAlpha;
        if (!palette_.empty() || grey || length == 0 || length % 3 != 0 || length / 3 > 256 ||
            (colorType_ == kPalette && length / 3 > (1u << bitDepth_))) {
            return xps::kDamaged;
        }
        // RGB images may suggest a palette for displays with few colours.
        for (std::size_t i = 0; i < length && colorType_ == kPalette; i += 3) {
            palette_.insert(palette_.end(), {chunk[i], chunk[i + 1], chunk[i + 2], 0xFF});
        }
    } else if (type == ChunkType("tRNS") && colorType_ == kPalette) {
        if (length > palette_.size() / 4) {
            return xps::kDamaged;
        }
        for (std::size_t i = 0; i < length; ++i) {
            palette_[4 * i + 3] = chunk[i];
        }
    } else if (type == ChunkType("tRNS") && (colorType_ == kGrey || colorType_ == kRgb)) {
        if (length != 2 * channels_) {
            return xps::kDamaged;
        }
        colorKey_ = true;
        for (unsigned i = 0; i < channels_; ++i) {
            key_[i] = Be16(chunk + 2 * i);
        }
    } else if (type == ChunkType("iCCP")) {
        // A name of 1 to 79 bytes, its terminating zero, compression method 0.
        const auto* nameEnd =
            static_cast<const unsigned char*>(std::memchr(chunk, 0, std::min<std::size_t>(length, 80)));
        if (nameEnd == nullptr || nameEnd == chunk || chunk + length - nameEnd < 2 || nameEnd[1] != 0 ||
            profileRead_) {
            return xps::kDamaged;
        }
        profileRead_ = true;
        Inflater inflater(nameEnd + 2, chunk + length - (nameEnd + 2));
        HRESULT hr = inflater.Init();
        return SUCCEEDED(hr) ? inflater.ReadRest(kMaxIccProfile, image.iccProfile) : hr;
    } else if (type == ChunkType("pHYs")) {
        if (length != 9) {
            return xps::kDamaged;
        }
        if (chunk[8] == 1) {  // pixels per metre; unit 0 gives an aspect ratio only
            image.dpiX = Be32(chunk) * 0.0254;
            image.dpiY = Be32(chunk + 4) * 0.0254;
        }
    } else if (!Ancillary(type)) {
        return kNotSupported;
    }
    return S_OK;
}

// One pass's rows (the whole image when not interlaced), unfiltered and
// stored at their places in the image.
HRESULT PngDecoder::ReadPass(Inflater& inflater, const AdamPass& pass, DecodedImage& image) {
    if (width_ <= pass.x0 || height_ <= pass.y0) {
        return S_OK;  // an empty pass has no rows, not even their filter bytes
    }
    std::uint32_t columns = (width_ - pass.x0 + pass.dx - 1) / pass.dx;
    std::uint32_t rows = (height_ - pass.y0 + pass.dy - 1) / pass.dy;
    std::size_t bitsPerPixel = static_cast<std::size_t>(channels_) * bitDepth_;
    std::size_t rowBytes = (columns * bitsPerPixel + 7) / 8;
    std::size_t bpp = std::max<std::size_t>(1, bitsPerPixel / 8);
    std::vector<unsigned char> current(1 + rowBytes), prior(1 + rowBytes, 0);
    for (std::uint32_t y = 0; y < rows; ++y) {
        HRESULT hr = inflater.Read(current.data(), current.size());
        if (FAILED(hr)) {
            return hr;
        }
        if (!Unfilter(current[0], current.data() + 1, prior.data() + 1, rowBytes, bpp)) {
            return xps::kDamaged;
        }
        std::size_t rowStart = static_cast<std::size_t>(pass.y0 + y * pass.dy) * width_ + pass.x0;
        for (std::uint32_t x = 0; x < columns; ++x) {
            hr = StorePixel(current.data() + 1, x, rowStart + static_cast<std::size_t>(x) * pass.dx, image);
            if (FAILED(hr)) {
                return hr;
            }
        }
        current.swap(prior);
    }
    return S_OK;
}

unsigned PngDecoder::Sample(const unsigned char* row, std::size_t index) const {
    if (bitDepth_ == 16) {
        return Be16(row + 2 * index);
    }
    std::size_t bit = index * bitDepth_;
    return row[bit / 8] >> (8 - bitDepth_ - bit % 8) & ((1u << bitDepth_) - 1);
}

char PngDecoder::To8Bits(unsigned sample) const {
    unsigned top = (1u << bitDepth_) - 1;
    return static_cast<char>((sample * 255 + top / 2) / top);
}

// The pixel at x of an unfiltered row, stored as the image's pixel at.
HRESULT PngDecoder::StorePixel(const unsigned char* row, std::uint32_t x, std::size_t at,
                               DecodedImage& image) {
    std::size_t first = static_cast<std::size_t>(x) * channels_;
    char* out = &image.pixels[at * image.components];
    if (colorType_ == kPalette) {
        std::size_t entry = 4 * static_cast<std::size_t>(Sample(row, first));
        if (entry >= palette_.size()) {
            return xps::kDamaged;
        }
        std::copy(&palette_[entry], &palette_[entry] + 3, out);
        if (!image.alpha.empty()) {
            image.alpha[at] = static_cast<char>(palette_[entry + 3]);
        }
        return S_OK;
    }
    unsigned colors = static_cast<unsigned>(image.components);
    bool keyed = colorKey_;
    for (unsigned i = 0; i < colors; ++i) {
        unsigned sample = Sample(row, first + i);
        keyed = keyed && sample == key_[i];
        out[i] = To8Bits(sample);
    }
    if (colors < channels_) {
        image.alpha[at] = To8Bits(Sample(row, first + colors));
    } else if (keyed) {
        image.alpha[at] = 0;
    }
    return S_OK;
}

// ---- WIC --------------------------------------------------------------------

// The frame's first embedded ICC profile; none where its codec keeps none.
HRESULT ReadColorProfile(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, std::string& profile) {
    UINT count = 0;
    if (FAILED(frame->GetColorContexts(0, nullptr, &count)) || count == 0) {
        return S_OK;  // WINCODEC_ERR_UNSUPPORTEDOPERATION from codecs without profiles
    }
    ComPtr<IWICColorContext> context;
    HRESULT hr = factory->CreateColorContext(&context);
    if (FAILED(hr)) {
        return hr;
    }
    IWICColorContext* contexts[] = {context.Get()};
    hr = frame->GetColorContexts(1, contexts, &count);
    if (FAILED(hr)) {
        return hr;
    }
    WICColorContextType type = WICColorContextUninitialized;
    hr = context->GetType(&type);
    if (FAILED(hr) || type != WICColorContextProfile) {
        return hr;
    }
    UINT size = 0;
    hr = context->GetProfileBytes(0, nullptr, &size);
    if (FAILED(hr) || size > kMaxIccProfile) {
        return FAILED(hr) ? hr : xps::kOverCap;
    }
    profile.resize(size);
    hr = context->GetProfileBytes(size, reinterpret_cast<BYTE*>(&profile[0]), &size);
    profile.resize(SUCCEEDED(hr) ? std::min<std::size_t>(size, profile.size()) : 0);
    return hr;
}

// The converted rows in strips of about 1 MiB, split into colour and alpha.
HRESULT CopyPixels(IWICBitmapSource* source, DecodedImage& image) {
    const UINT stride = image.width * 4;
    const UINT stripRows = std::min<UINT>(image.height, std::max<UINT>(1, (1u << 20) / stride));
    std::vector<BYTE> strip(static_cast<std::size_t>(stride) * stripRows);
    std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
    image.components = 3;
    image.pixels.resize(pixels * 3);
    image.alpha.resize(pixels);
    for (UINT y = 0; y < image.height; y += stripRows) {
        UINT rows = std::min(stripRows, image.height - y);
        WICRect rect = {0, static_cast<INT>(y), static_cast<INT>(image.width), static_cast<INT>(rows)};
        HRESULT hr = source->CopyPixels(&rect, stride, stride * rows, strip.data());
        if (FAILED(hr)) {
            return hr;
        }
        std::size_t first = static_cast<std::size_t>(y) * image.width;
        for (std::size_t i = 0; i < static_cast<std::size_t>(rows) * image.width; ++i) {
            const BYTE* bgra = &strip[4 * i];
            char* rgb = &image.pixels[3 * (first + i)];
            rgb[0] = static_cast<char>(bgra[2]);
            rgb[1] = static_cast<char>(bgra[1]);
            rgb[2] = static_cast<char>(bgra[0]);
            image.alpha[first + i] = static_cast<char>(bgra[3]);
        }
    }
    DropOpaqueAlpha(image);
    return S_OK;
}

HRESULT DecodeFirstFrame(const std::string& bytes, DecodedImage& image) {
    if (bytes.size() > MAXDWORD) {
        return xps::kOverCap;
    }
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CreateImagingFactory(factory);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IWICStream> stream;
    hr = factory->CreateStream(&stream);
    if (FAILED(hr)) {
        return hr;
    }
    // WIC only reads from the stream.
    hr = stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                      static_cast<DWORD>(bytes.size()));
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IWICBitmapDecoder> decoder;
    hr = factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IWICBitmapFrameDecode> frame;
    hr = decoder->GetFrame(0, &frame);
    if (FAILED(hr)) {
        return hr;
    }
    hr = frame->GetSize(&image.width, &image.height);
    if (SUCCEEDED(hr)) {
        hr = CheckSize(image.width, image.height);
    }
    if (FAILED(hr)) {
        return hr;
    }
    // 32bppBGRA: straight alpha, and a target every WIC since Windows XP's
    // converts to (32bppRGBA came with Windows 8).
    ComPtr<IWICFormatConverter> converter;
    hr = factory->CreateFormatConverter(&converter);
    if (FAILED(hr)) {
        return hr;
    }
    hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr,
                               0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) {
        return hr;
    }
    hr = CopyPixels(converter.Get(), image);
    if (FAILED(hr)) {
        return hr;
    }
    if (FAILED(frame->GetResolution(&image.dpiX, &image.dpiY))) {
        image.dpiX = image.dpiY = 0;  // not stated
    }
    return ReadColorProfile(factory.Get(), frame.Get(), image.iccProfile);
}

}  // namespace

HRESULT ReadJpegInfo(const std::string& bytes, JpegInfo& info) {
    try {
        info = JpegInfo();
        HRESULT hr = ReadJpegHeaders(bytes, info);
        if (FAILED(hr)) {
            info = JpegInfo();
        }
        return hr;
    } catch (const std::bad_alloc&) {
        info = JpegInfo();
        return E_OUTOFMEMORY;
    }
}

namespace {

HRESULT RunPngDecoder(const std::string& bytes, DecodedImage& image,
                      HRESULT (PngDecoder::*step)(DecodedImage&)) {
    try {
        PngDecoder decoder(bytes);
        return (decoder.*step)(image);
    } catch (const std::bad_alloc&) {
        image = DecodedImage();
        return E_OUTOFMEMORY;
    }
}

}  // namespace

HRESULT DecodePng(const std::string& bytes, DecodedImage& image) {
    return RunPngDecoder(bytes, image, &PngDecoder::Decode);
}

HRESULT ReadPngInfo(const std::string& bytes, DecodedImage& image) {
    return RunPngDecoder(bytes, image, &PngDecoder::ReadInfo);
}

HRESULT ReadPngDeflated(const std::string& bytes, DecodedImage& image, std::string& deflated) {
    try {
        return PngDecoder(bytes).KeepDeflated(image, deflated);
    } catch (const std::bad_alloc&) {
        image = DecodedImage();
        deflated.clear();
        return E_OUTOFMEMORY;
    }
}

HRESULT DecodeWithWic(const std::string& bytes, DecodedImage& image) {
    try {
        image = DecodedImage();
        ComScope com;
        HRESULT hr = com.Enter();
        if (SUCCEEDED(hr)) {
            hr = DecodeFirstFrame(bytes, image);
        }
        if (FAILED(hr)) {
            image = DecodedImage();
        }
        return hr;
    } catch (const std::bad_alloc&) {
        image = DecodedImage();
        return E_OUTOFMEMORY;
    }
}

HRESULT DecodeImagePart(const xps::XpsPackage& package, const std::wstring& part, DecodedImage& image) {
    return xps::UnlessFailedBefore(L"decode " + xps::PartKey(part), [&] {
        std::string bytes;
        HRESULT hr = package.Read(part, bytes);
        if (FAILED(hr)) {
            return hr;
        }
        return bytes.compare(0, 8, "\x89PNG\r\n\x1A\n", 8) == 0 ? DecodePng(bytes, image)
                                                                : DecodeWithWic(bytes, image);
    });
}

}  // namespace engine
