#include "engine/tiffwriter.h"

#include <algorithm>

#include "xps/ziparchive.h"

namespace engine {

namespace {

enum FieldType : std::uint16_t { kShort = 3, kLong = 4, kRational = 5 };

// A directory being laid out: its entries, and the values too large to sit
// in an entry, which follow the directory.
class Directory {
public:
    Directory(std::uint32_t at, std::size_t entries)
        : valuesAt_(static_cast<std::uint32_t>(at + 2 + 12 * entries + 4)) {}

    void Short(std::uint16_t tag, std::uint16_t value) { Entry(tag, kShort, 1, value); }
    void Long(std::uint16_t tag, std::uint32_t value) { Entry(tag, kLong, 1, value); }
    void Shorts(std::uint16_t tag, const std::vector<std::uint16_t>& values) {
        std::string bytes;
        for (std::uint16_t value : values) {
            Append(bytes, value, 2);
        }
        Array(tag, kShort, values.size(), bytes);
    }
    void Longs(std::uint16_t tag, const std::vector<std::uint32_t>& values) {
        if (values.size() == 1) {
            Long(tag, values[0]);
            return;
        }
        std::string bytes;
        for (std::uint32_t value : values) {
            Append(bytes, value, 4);
        }
        Array(tag, kLong, values.size(), bytes);
    }
    void Rational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator) {
        std::string bytes;
        Append(bytes, numerator, 4);
        Append(bytes, denominator, 4);
        Array(tag, kRational, 1, bytes);
    }
    // The directory and its values; next: the next directory's place.
    std::string Bytes(std::uint32_t next) const {
        std::string out;
        Append(out, static_cast<std::uint32_t>(entries_.size() / 12), 2);
        out += entries_;
        Append(out, next, 4);
        return out + values_;
    }
    std::uint32_t End() const { return valuesAt_ + static_cast<std::uint32_t>(values_.size()); }

    static void Append(std::string& out, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out += static_cast<char>(value >> (8 * i));  // little-endian ("II")
        }
    }

private:
    void Entry(std::uint16_t tag, FieldType type, std::size_t count, std::uint32_t value) {
        Append(entries_, tag, 2);
        Append(entries_, type, 2);
        Append(entries_, static_cast<std::uint32_t>(count), 4);
        Append(entries_, value, type == kShort ? 2 : 4);
        if (type == kShort) {
            Append(entries_, 0, 2);
        }
    }
    void Array(std::uint16_t tag, FieldType type, std::size_t count, const std::string& bytes) {
        Append(entries_, tag, 2);
        Append(entries_, type, 2);
        Append(entries_, static_cast<std::uint32_t>(count), 4);
        Append(entries_, valuesAt_ + static_cast<std::uint32_t>(values_.size()), 4);
        values_ += bytes;
        if (values_.size() % 2 != 0) {
            values_ += '\0';  // values start on a word boundary
        }
    }

    std::uint32_t valuesAt_;
    std::string entries_, values_;
};

}  // namespace

HRESULT TiffWriter::Begin() {
    std::string header = "II*";
    header += '\0';
    Directory::Append(header, 8, 4);  // the first page's directory follows
    written_ = header.size();
    return Put(header.data(), header.size());
}

HRESULT TiffWriter::BeginPicture(unsigned width, unsigned height) {
    std::size_t rowBytes = static_cast<std::size_t>(width) * (Transparent() ? 4 : 3);
    current_ = Picture();
    current_.width = width;
    current_.height = height;
    current_.rowsPerStrip = static_cast<unsigned>(
        std::max<std::size_t>(1, std::min<std::size_t>(height, kStripBytes / rowBytes)));
    row_.assign(rowBytes, 0);
    strip_.clear();
    return S_OK;
}

HRESULT TiffWriter::WriteBand(const RasterBand& band) {
    unsigned channels = Transparent() ? 4 : 3;
    for (unsigned y = 0; y < band.rows; ++y) {
        ToRgb(band.pixels + static_cast<std::size_t>(y) * band.width, current_.width, Transparent(),
              row_.data());
        // The horizontal predictor: each sample less the one a pixel before.
        for (std::size_t i = row_.size(); i-- > channels;) {
            row_[i] = static_cast<unsigned char>(row_[i] - row_[i - channels]);
        }
        strip_.append(reinterpret_cast<const char*>(row_.data()), row_.size());
        if (strip_.size() == row_.size() * current_.rowsPerStrip) {
            HRESULT hr = EndStrip();
            if (FAILED(hr)) {
                return hr;
            }
        }
    }
    return S_OK;
}

HRESULT TiffWriter::EndStrip() {
    std::string packed;
    HRESULT hr = zlib_.Begin(ZlibStream::kPictureLevel, ZlibStream::kPictureStrategy,
                             [&packed](const unsigned char* bytes, std::size_t size) {
                                 packed.append(reinterpret_cast<const char*>(bytes), size);
                                 return S_OK;
                             });
    if (SUCCEEDED(hr)) {
        hr = zlib_.Write(strip_.data(), strip_.size());
    }
    if (SUCCEEDED(hr)) {
        hr = zlib_.End();
    }
    current_.strips.push_back(std::move(packed));
    strip_.clear();
    return hr;
}

HRESULT TiffWriter::EndPicture() {
    HRESULT hr = strip_.empty() ? S_OK : EndStrip();
    if (SUCCEEDED(hr) && holding_) {
        hr = WriteHeld(false);
    }
    held_ = std::move(current_);
    holding_ = SUCCEEDED(hr);
    return hr;
}

HRESULT TiffWriter::Finish() { return holding_ ? WriteHeld(true) : E_INVALIDARG; }

HRESULT TiffWriter::WriteHeld(bool last) {
    bool alpha = Transparent();
    std::uint64_t stripBytes = 0;
    for (const std::string& strip : held_.strips) {
        stripBytes += strip.size();
    }
    // Generous for the directory and its values: what the strips' places
    // and sizes take, and 512 bytes.
    if (written_ + stripBytes + 8 * held_.strips.size() + 512 > 0xFFFFFFFFu) {
        return xps::kOverCap;
    }
    auto layOut = [&](const std::vector<std::uint32_t>& offsets, const std::vector<std::uint32_t>& counts) {
        Directory directory(static_cast<std::uint32_t>(written_), alpha ? 16 : 15);
        directory.Long(254, 2);  // NewSubfileType: a page of a document
        directory.Long(256, held_.width);
        directory.Long(257, held_.height);
        directory.Shorts(258, std::vector<std::uint16_t>(alpha ? 4 : 3, 8));
        directory.Short(259, 8);  // Deflate
        directory.Short(262, 2);  // RGB
        directory.Longs(273, offsets);
        directory.Short(277, alpha ? 4 : 3);
        directory.Long(278, held_.rowsPerStrip);
        directory.Longs(279, counts);
        directory.Rational(282, Dpi(), 1);
        directory.Rational(283, Dpi(), 1);
        directory.Short(284, 1);  // chunky: RGBRGB...
        directory.Short(296, 2);  // inches
        directory.Short(317, 2);  // the horizontal predictor
        if (alpha) {
            directory.Short(338, 2);  // ExtraSamples: alpha, not premultiplied
        }
        return directory;
    };
    // The strips follow the directory, whose size the number of strips
    // decides: laid out once to know where they start, then with their places.
    std::vector<std::uint32_t> offsets(held_.strips.size()), counts(held_.strips.size());
    std::uint32_t at = layOut(offsets, counts).End();
    for (std::size_t i = 0; i < held_.strips.size(); ++i) {
        offsets[i] = at;
        counts[i] = static_cast<std::uint32_t>(held_.strips[i].size());
        at += counts[i];
    }
    at += at % 2;  // the next directory on a word boundary
    Directory directory = layOut(offsets, counts);
    std::string head = directory.Bytes(last ? 0 : at);
    HRESULT hr = Put(head.data(), head.size());
    for (const std::string& strip : held_.strips) {
        if (SUCCEEDED(hr)) {
            hr = Put(strip.data(), strip.size());
        }
    }
    if (SUCCEEDED(hr) && (written_ + head.size() + stripBytes) % 2 != 0) {
        hr = Put("", 1);
    }
    written_ = at;
    held_ = Picture();
    return hr;
}

}  // namespace engine
