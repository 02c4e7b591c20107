#include "engine/pdffile.h"

#include <climits>

#include <zlib.h>

#include "xps/xmlnumber.h"

namespace engine {

void AppendPdfNumbers(std::string& out, std::initializer_list<double> values) {
    // Beyond any page, and PDF has no exponents.
    const double kLimit = 1e9;
    bool first = true;
    for (double value : values) {
        if (!first) {
            out += ' ';
        }
        first = false;
        value = !(value == value) ? 0 : value > kLimit ? kLimit : value < -kLimit ? -kLimit : value;
        xml::AppendFixed(value, out);
    }
}

std::string PdfNumber(double value) {
    std::string text;
    AppendPdfNumbers(text, {value});
    return text;
}

std::string PdfName(const std::string& name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "/";
    for (unsigned char c : name) {
        bool regular = c > 0x20 && c < 0x7F &&
                       std::string("()<>[]{}/%#").find(static_cast<char>(c)) == std::string::npos;
        if (regular) {
            out += static_cast<char>(c);
        } else {
            out += '#';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string PdfHexString(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "<";
    for (unsigned char c : bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out + ">";
}

std::string PdfString(const std::wstring& text) {
    bool ascii = true;
    for (wchar_t c : text) {
        ascii = ascii && c >= 0x20 && c < 0x7F;
    }
    if (ascii) {
        std::string out = "(";
        for (wchar_t c : text) {
            if (c == L'(' || c == L')' || c == L'\\') {
                out += '\\';
            }
            out += static_cast<char>(c);
        }
        return out + ")";
    }
    std::string utf16be = "\xFE\xFF";
    for (wchar_t c : text) {
        utf16be += static_cast<char>(c >> 8);
        utf16be += static_cast<char>(c & 0xFF);
    }
    return PdfHexString(utf16be);
}

std::string PdfReference(int id) { return std::to_string(id) + " 0 R"; }

// zlib's level for every stream. Page content, most of what is deflated,
// takes a third of level 6's time at level 3 and comes out a sixth larger.
constexpr int kDeflateLevel = 3;
// A compressed stream up to this size is made in a buffer kept for the next
// one; a larger one in a buffer of its own, freed after it.
constexpr std::size_t kKeptBuffer = 1u << 20;

// One deflate state for all the file's streams: its window and hash tables
// (a quarter of a megabyte) are allocated once, not for every page.
struct PdfFile::Deflater {
    z_stream stream{};
    bool ready = false;
    std::string kept;
    std::size_t size = 0;  // of the last stream compressed

    Deflater() = default;
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    ~Deflater() {
        if (ready) {
            deflateEnd(&stream);
        }
    }

    // data compressed into out (kept, or one of the caller's).
    HRESULT Compress(const std::string& data, std::string& own, const std::string*& out) {
        if (data.size() > UINT_MAX / 2) {
            return E_OUTOFMEMORY;  // beyond what zlib's counts hold
        }
        int result = ready ? deflateReset(&stream) : deflateInit(&stream, kDeflateLevel);
        if (result != Z_OK) {
            return result == Z_MEM_ERROR ? E_OUTOFMEMORY : E_UNEXPECTED;
        }
        ready = true;
        uLong bound = deflateBound(&stream, static_cast<uLong>(data.size()));
        std::string& buffer = bound <= kKeptBuffer ? kept : own;
        if (buffer.size() < bound) {
            buffer.resize(bound);
        }
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        stream.avail_in = static_cast<uInt>(data.size());
        stream.next_out = reinterpret_cast<Bytef*>(&buffer[0]);
        stream.avail_out = static_cast<uInt>(bound);
        // The bound leaves room for all of it: one call finishes.
        if (deflate(&stream, Z_FINISH) != Z_STREAM_END) {
            return E_UNEXPECTED;
        }
        size = stream.total_out;
        out = &buffer;
        return S_OK;
    }
};

PdfFile::PdfFile(ByteSink sink) : sink_(std::move(sink)) {}

PdfFile::~PdfFile() = default;

HRESULT PdfFile::Put(const char* bytes, std::size_t size) {
    if (FAILED(failure_)) {
        return failure_;
    }
    failure_ = sink_(bytes, size);
    written_ += size;
    return failure_;
}

HRESULT PdfFile::Begin(const char* version) {
    // The comment of bytes above 127 tells transfer programs the file is binary.
    return Put(std::string("%PDF-") + version + "\n%\xE2\xE3\xCF\xD3\n");
}

int PdfFile::Reserve() {
    offsets_.push_back(0);
    return static_cast<int>(offsets_.size());
}

HRESULT PdfFile::WriteObject(int id, const std::string& body) {
    if (id < 1 || id > static_cast<int>(offsets_.size()) || offsets_[id - 1] != 0) {
        return E_INVALIDARG;  // not reserved, or written twice
    }
    offsets_[id - 1] = written_;
    return Put(std::to_string(id) + " 0 obj\n" + body + "\nendobj\n");
}

HRESULT PdfFile::WriteStream(int id, const std::string& dictionary, const std::string& data, bool compress,
                             const char* filter) {
    std::string own;
    const std::string* packed = &data;
    std::size_t size = data.size();
    if (compress) {
        if (!deflater_) {
            deflater_.reset(new Deflater());
        }
        HRESULT hr = deflater_->Compress(data, own, packed);
        if (FAILED(hr)) {
            return hr;
        }
        size = deflater_->size;
    }
    std::string entries = dictionary + "/Length " + std::to_string(size);
    if (compress) {
        entries += "/Filter/FlateDecode";
    } else if (filter != nullptr) {
        entries += std::string("/Filter/") + filter;
    }
    if (id < 1 || id > static_cast<int>(offsets_.size()) || offsets_[id - 1] != 0) {
        return E_INVALIDARG;
    }
    offsets_[id - 1] = written_;
    HRESULT hr = Put(std::to_string(id) + " 0 obj\n<<" + entries + ">>\nstream\n");
    if (SUCCEEDED(hr)) {
        hr = Put(packed->data(), size);
    }
    return SUCCEEDED(hr) ? Put("\nendstream\nendobj\n") : hr;
}

HRESULT PdfFile::Finish(const std::string& trailer) {
    std::uint64_t xref = written_;
    std::string table = "xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f\r\n";
    for (std::uint64_t offset : offsets_) {
        if (offset == 0) {
            return E_UNEXPECTED;  // an object reserved and never written
        }
        std::string digits = std::to_string(offset);
        table += std::string(digits.size() < 10 ? 10 - digits.size() : 0, '0') + digits + " 00000 n\r\n";
    }
    table += "trailer\n<</Size " + std::to_string(offsets_.size() + 1) + trailer + ">>\nstartxref\n" +
             std::to_string(xref) + "\n%%EOF\n";
    return Put(table);
}

}  // namespace engine
