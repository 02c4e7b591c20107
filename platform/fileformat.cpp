#include "platform/fileformat.h"

#include <algorithm>
#include <cstring>

#include "platform/fileset.h"

namespace {

// A file's first bytes, at most kFormatSniffBytes of them.
class Head {
public:
    Head(const unsigned char* pHead, std::size_t cbHead)
        : p_(reinterpret_cast<const char*>(pHead)), cb_(std::min(cbHead, kFormatSniffBytes)) {}

    bool StartsWith(const char* text, std::size_t at = 0) const {
        std::size_t cb = std::strlen(text);
        return at <= cb_ && cb <= cb_ - at && std::memcmp(p_ + at, text, cb) == 0;
    }
    bool BytesAt(std::size_t at, const void* bytes, std::size_t cb) const {
        return at <= cb_ && cb <= cb_ - at && std::memcmp(p_ + at, bytes, cb) == 0;
    }
    // Where text begins at or after from; npos when it does not within the head.
    std::size_t Find(const char* text, std::size_t from) const {
        const char* pEnd = p_ + cb_;
        const char* pFound = std::search(p_ + std::min(from, cb_), pEnd, text, text + std::strlen(text));
        return pFound == pEnd ? npos : static_cast<std::size_t>(pFound - p_);
    }
    char At(std::size_t at) const { return at < cb_ ? p_[at] : '\0'; }
    std::size_t Size() const { return cb_; }

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

private:
    const char* p_;
    std::size_t cb_;
};

bool IsXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// After a document type declaration that begins at at: its internal subset
// ("[...]") may hold '>'.
std::size_t AfterDoctype(const Head& head, std::size_t at) {
    bool inSubset = false;
    for (std::size_t i = at; i < head.Size(); ++i) {
        char c = head.At(i);
        if (c == '[' || c == ']') {
            inSubset = c == '[';
        } else if (c == '>' && !inSubset) {
            return i + 1;
        }
    }
    return Head::npos;
}

// An XML document (UTF-8, with or without its byte order mark) whose root
// element is "svg": what comes before the root may be the XML declaration,
// processing instructions, comments, a document type and blanks.
bool IsSvg(const Head& head) {
    std::size_t at = head.StartsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (at != Head::npos) {
        while (IsXmlBlank(head.At(at))) {
            ++at;
        }
        if (head.StartsWith("<?", at)) {
            at = head.Find("?>", at + 2);
            at = at == Head::npos ? at : at + 2;
        } else if (head.StartsWith("<!--", at)) {
            at = head.Find("-->", at + 4);
            at = at == Head::npos ? at : at + 3;
        } else if (head.StartsWith("<!DOCTYPE", at)) {
            at = AfterDoctype(head, at);
        } else {
            char after = head.At(at + 4);
            return head.StartsWith("<svg", at) && (IsXmlBlank(after) || after == '>' || after == '/');
        }
    }
    return false;
}

bool IsEmf(const Head& head) {
    const unsigned char kHeaderRecord[] = {1, 0, 0, 0};
    return head.BytesAt(0, kHeaderRecord, sizeof(kHeaderRecord)) && head.StartsWith(" EMF", 40);
}

}  // namespace

FileFormat FormatOf(const unsigned char* pHead, std::size_t cbHead) {
    Head head(pHead, cbHead);
    const unsigned char kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const unsigned char kJpeg[] = {0xFF, 0xD8, 0xFF};
    if (head.BytesAt(0, kFileSetSignature, sizeof(kFileSetSignature))) {
        return FileFormat::FileSet;
    }
    if (head.StartsWith("%PDF-")) {
        return FileFormat::Pdf;
    }
    if (head.StartsWith("PK\x03\x04")) {
        return FileFormat::Xps;
    }
    if (head.BytesAt(0, kPng, sizeof(kPng))) {
        return FileFormat::Png;
    }
    if (head.BytesAt(0, kJpeg, sizeof(kJpeg))) {
        return FileFormat::Jpeg;
    }
    if (head.BytesAt(0, "II*\0", 4) || head.BytesAt(0, "MM\0*", 4)) {
        return FileFormat::Tiff;
    }
    if (IsEmf(head)) {
        return FileFormat::Emf;
    }
    return IsSvg(head) ? FileFormat::Svg : FileFormat::Unknown;
}

bool IsPageFormat(FileFormat format) {
    return format == FileFormat::Svg || format == FileFormat::Emf || format == FileFormat::Png ||
           format == FileFormat::Jpeg;
}

const wchar_t* ExtensionOf(FileFormat format) {
    switch (format) {
        case FileFormat::Pdf:
            return L".pdf";
        case FileFormat::Svg:
            return L".svg";
        case FileFormat::Emf:
            return L".emf";
        case FileFormat::Png:
            return L".png";
        case FileFormat::Jpeg:
            return L".jpg";
        case FileFormat::Tiff:
            return L".tif";
        case FileFormat::FileSet:
            return L".zcs";
        case FileFormat::Xps:
        case FileFormat::Unknown:
            break;
    }
    return L".xps";
}
