// PdfFile: the body of a PDF file written object by object as it is made,
// so that a document of any length needs memory for one page at a time:
// only the objects' offsets are kept until the cross-reference table is
// written at the end. Streams are compressed with zlib's deflate, through
// one stream state kept for the file.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

namespace engine {

// Where the bytes go: a file, the pipeline's write stream, memory.
using ByteSink = std::function<HRESULT(const void* bytes, std::size_t size)>;

class PdfFile {
public:
    explicit PdfFile(ByteSink sink);
    ~PdfFile();

    // The header; version "1.4" for PDF/A-1, "1.7" otherwise.
    HRESULT Begin(const char* version);
    // A number for an object to be written later (forward references).
    int Reserve();
    // A whole object: "n 0 obj <body> endobj".
    HRESULT WriteObject(int id, const std::string& body);
    // A stream object; dictionary holds the entries besides /Length and
    // /Filter. compress: deflate it (data that is compressed already, such
    // as JPEG, goes as it is with filter naming its own).
    HRESULT WriteStream(int id, const std::string& dictionary, const std::string& data, bool compress,
                        const char* filter = nullptr);
    // The cross-reference table and trailer; trailer holds /Root, /Info,
    // /ID (everything but /Size).
    HRESULT Finish(const std::string& trailer);
    HRESULT Failure() const { return failure_; }

private:
    struct Deflater;

    HRESULT Put(const std::string& text) { return Put(text.data(), text.size()); }
    HRESULT Put(const char* bytes, std::size_t size);

    ByteSink sink_;
    std::unique_ptr<Deflater> deflater_;
    std::uint64_t written_ = 0;
    std::vector<std::uint64_t> offsets_;  // by object number - 1; 0: not written yet
    HRESULT failure_ = S_OK;
};

// PDF's own text forms.
std::string PdfNumber(double value);  // "12.5", "-0.0625", "3": no locale, no exponent
// PdfNumber's text of each value appended to out, separated by spaces.
void AppendPdfNumbers(std::string& out, std::initializer_list<double> values);
std::string PdfName(const std::string& name);        // "/Name" with #xx escapes
std::string PdfString(const std::wstring& text);     // "(...)" in PDFDocEncoding, else <FEFF...> UTF-16BE
std::string PdfHexString(const std::string& bytes);  // "<0A1B...>"
std::string PdfReference(int id);                    // "12 0 R"

}  // namespace engine
