#include "engine/pdffile.h"

#include <zlib.h>

#include "xps/xmlnumber.h"

namespace engine {

std::string PdfNumber(double value) {
    // Beyond any page, and PDF has no exponents.
    const double kLimit = 1e9;
    value = !(value == value) ? 0 : value > kLimit ? kLimit : value < -kLimit ? -kLimit : value;
    std::string text;
    xml::AppendFixed(value, text);
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

std::string Deflate(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
                  static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK) {
        return std::string();
    }
    out.resize(size);
    return out;
}

HRESULT PdfFile::Put(const std::string& text) {
    if (FAILED(failure_)) {
        return failure_;
    }
    failure_ = sink_(text.data(), text.size());
    written_ += text.size();
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
    std::string packed = compress ? Deflate(data) : std::string();
    if (compress && packed.empty() && !data.empty()) {
        return E_OUTOFMEMORY;
    }
    const std::string& body = compress ? packed : data;
    std::string entries = dictionary + "/Length " + std::to_string(body.size());
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
        hr = Put(body);
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
