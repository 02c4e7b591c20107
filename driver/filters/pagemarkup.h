// Reading and writing FixedPage markup: the size of a page, and a sheet made
// of placed source pages (each in a clipped, transformed Canvas) and paths.
#pragma once

#include <memory>
#include <set>
#include <string>

#include <windows.h>

#include "driver/filters/filterpipeline.h"
#include "xps/xmlreader.h"
#include "xps/xmlwriter.h"
#include "xps/xpspackage.h"

// An affine transform as XPS writes it: (x, y) -> (x*m11 + y*m21 + dx, x*m12 + y*m22 + dy).
struct Matrix {
    double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
};
// Scales by scale, then moves by (dx, dy).
Matrix ScaleThenMove(double scale, double dx, double dy);

// What a sheet takes from a page: its size and its markup's namespace
// (XPS or OpenXPS).
struct PageInfo {
    double width = 0;
    double height = 0;
    std::wstring markupNamespace = L"http://schemas.microsoft.com/xps/2005/06";
};

// A page's part name; empty when it has none.
std::wstring PageUri(IFixedPage* page);
// The whole content of a part (page markup, print ticket).
HRESULT ReadPart(IPartBase* part, std::string& bytes);
// What is left of a stream; over maxBytes: HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
// and E_OUTOFMEMORY where it cannot be held.
HRESULT ReadStream(IPrintReadStream* stream, std::size_t maxBytes, std::string& bytes);
// All of bytes, in the chunks a stream takes.
HRESULT WriteStream(IPrintWriteStream* stream, const char* pBytes, std::size_t cbBytes);
inline HRESULT WriteStream(IPrintWriteStream* stream, const std::string& bytes) {
    return WriteStream(stream, bytes.data(), bytes.size());
}
// The Width and Height of the page's FixedPage element, and its namespace.
HRESULT ReadPageInfo(const std::string& markup, PageInfo& page);
// A page's markup and what ReadPageInfo reads of it.
HRESULT ReadPage(IFixedPage* page, std::string& markup, PageInfo& info);

// Builds one FixedPage. Every source page goes into a Canvas of its own that
// carries its resources; keys of its inline resource dictionary get a prefix
// of their own, and with a base URI its relative part references become
// absolute, so that pages from anywhere in the package share a sheet safely.
class SheetWriter {
public:
    HRESULT Begin(const PageInfo& sheet, std::string* output);
    // Places source page markup, clipped to its own size, through transform.
    // baseUri: the source page's part name when it is not the sheet's own.
    HRESULT AddPage(const std::string& markup, const Matrix& transform, const std::wstring& keyPrefix,
                    const std::wstring& baseUri);
    // A filled path in abbreviated geometry syntax.
    HRESULT AddPath(const std::wstring& data, const std::wstring& fill, const Matrix& transform);
    HRESULT End();

private:
    HRESULT CopyContent(xml::XmlReader& reader, const std::wstring& keyPrefix, const std::wstring& baseUri);
    std::wstring RewriteValue(const std::wstring& localName, const std::wstring& value, bool isKey,
                              const std::wstring& keyPrefix, const std::wstring& baseUri);

    std::unique_ptr<xml::XmlWriter> writer_;
    std::wstring namespace_;
    std::set<std::wstring> keys_;
};

using xps::ResolvePartUri;
