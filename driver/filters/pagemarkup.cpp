#include "driver/filters/pagemarkup.h"

#include <cwchar>
#include <new>
#include <vector>

#include <wrl/client.h>

#include "xps/xmlnumber.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kKeyNamespace[] = L"http://schemas.microsoft.com/xps/2005/06/resourcedictionary-key";
constexpr wchar_t kStaticResource[] = L"{StaticResource ";
constexpr wchar_t kContextColor[] = L"ContextColor ";
constexpr wchar_t kColorConvertedBitmap[] = L"{ColorConvertedBitmap ";

std::wstring MatrixText(const Matrix& m) {
    using xml::FormatNumber;
    return FormatNumber(m.m11) + L"," + FormatNumber(m.m12) + L"," + FormatNumber(m.m21) + L"," +
           FormatNumber(m.m22) + L"," + FormatNumber(m.dx) + L"," + FormatNumber(m.dy);
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsBlank(const std::wstring& text) { return text.find_first_not_of(L" \t\n") == std::wstring::npos; }

}  // namespace

Matrix ScaleThenMove(double scale, double dx, double dy) {
    Matrix m;
    m.m11 = scale;
    m.m22 = scale;
    m.dx = dx;
    m.dy = dy;
    return m;
}

std::wstring PageUri(IFixedPage* page) {
    BSTR uri = nullptr;
    std::wstring text;
    if (SUCCEEDED(page->GetUri(&uri)) && uri != nullptr) {
        text.assign(uri, ::SysStringLen(uri));
    }
    ::SysFreeString(uri);
    return text;
}

HRESULT ReadPage(IFixedPage* page, std::string& markup, PageInfo& info) {
    HRESULT hr = ReadPart(page, markup);
    return FAILED(hr) ? hr : ReadPageInfo(markup, info);
}

HRESULT ReadPart(IPartBase* part, std::string& bytes) {
    bytes.clear();
    ComPtr<IPrintReadStream> stream;
    HRESULT hr = part->GetStream(&stream);
    return FAILED(hr) ? hr : ReadStream(stream.Get(), bytes.max_size(), bytes);
}

HRESULT ReadStream(IPrintReadStream* stream, std::size_t maxBytes, std::string& bytes) {
    bytes.clear();
    char buffer[16384];
    for (;;) {
        ULONG cbRead = 0;
        BOOL endOfFile = FALSE;
        HRESULT hr = stream->ReadBytes(buffer, sizeof(buffer), &cbRead, &endOfFile);
        if (FAILED(hr)) {
            return hr;
        }
        if (cbRead > sizeof(buffer) || cbRead > maxBytes - bytes.size()) {
            return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        }
        try {
            bytes.append(buffer, cbRead);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        if (endOfFile || cbRead == 0) {
            return S_OK;
        }
    }
}

HRESULT WriteStream(IPrintWriteStream* stream, const char* pBytes, std::size_t cbBytes) {
    for (size_t offset = 0; offset < cbBytes;) {
        ULONG cbWritten = 0;
        ULONG cbChunk = static_cast<ULONG>(cbBytes - offset < 65536 ? cbBytes - offset : 65536);
        HRESULT hr = stream->WriteBytes(pBytes + offset, cbChunk, &cbWritten);
        if (FAILED(hr)) {
            return hr;
        }
        if (cbWritten == 0 || cbWritten > cbChunk) {
            return E_FAIL;
        }
        offset += cbWritten;
    }
    return S_OK;
}

HRESULT ReadPageInfo(const std::string& markup, PageInfo& page) {
    xml::XmlReader reader;
    xml::Node node;
    HRESULT hr = reader.Open(markup);
    if (SUCCEEDED(hr)) {
        hr = reader.Next(node);
    }
    if (FAILED(hr)) {
        return hr;
    }
    if (node != xml::Node::StartElement || reader.LocalName() != L"FixedPage") {
        return xml::kMalformed;
    }
    page.markupNamespace = reader.NamespaceUri();
    page.width = page.height = 0;
    const std::wstring* width = reader.Find(L"Width");
    const std::wstring* height = reader.Find(L"Height");
    // A page without a positive size cannot be placed.
    if (width == nullptr || height == nullptr || !xml::ParseNumber(*width, page.width) ||
        !xml::ParseNumber(*height, page.height) || !(page.width > 0) || !(page.height > 0)) {
        return xml::kMalformed;
    }
    return S_OK;
}

HRESULT SheetWriter::Begin(const PageInfo& sheet, std::string* output) {
    namespace_ = sheet.markupNamespace;
    writer_.reset(new xml::XmlWriter(*output));
    writer_->WriteDeclaration();
    writer_->StartElement(L"", L"FixedPage", namespace_);
    writer_->Attribute(L"Width", xml::FormatNumber(sheet.width));
    writer_->Attribute(L"Height", xml::FormatNumber(sheet.height));
    writer_->Attribute(L"xml", L"lang", xml::kXmlNamespace, L"und");
    // Declared once on the page, where libgxps looks for it, instead of on
    // every resource.
    writer_->Declare(L"x", kKeyNamespace);
    return S_OK;
}

HRESULT SheetWriter::AddPage(const std::string& markup, const Matrix& transform,
                             const std::wstring& keyPrefix, const std::wstring& baseUri) {
    PageInfo page;
    HRESULT hr = ReadPageInfo(markup, page);
    xml::XmlReader reader;
    if (SUCCEEDED(hr)) {
        hr = reader.Open(markup);
    }
    if (FAILED(hr)) {
        return hr;
    }
    using xml::FormatNumber;
    std::wstring clip = L"M 0,0 L " + FormatNumber(page.width) + L",0 " + FormatNumber(page.width) + L"," +
                        FormatNumber(page.height) + L" 0," + FormatNumber(page.height) + L" Z";
    writer_->StartElement(L"", L"Canvas", namespace_);
    writer_->Attribute(L"RenderTransform", MatrixText(transform));
    writer_->Attribute(L"Clip", clip);
    hr = CopyContent(reader, keyPrefix, baseUri);
    writer_->EndElement();
    return hr;
}

HRESULT SheetWriter::AddPath(const std::wstring& data, const std::wstring& fill, const Matrix& transform) {
    writer_->StartElement(L"", L"Path", namespace_);
    writer_->Attribute(L"RenderTransform", MatrixText(transform));
    writer_->Attribute(L"Fill", fill);
    writer_->Attribute(L"Data", data);
    writer_->EndElement();
    return S_OK;
}

HRESULT SheetWriter::End() {
    writer_->EndDocument();
    writer_.reset();
    return S_OK;
}

// Copies everything inside the source FixedPage element into the Canvas
// just started. The page's own namespace declarations go onto the Canvas,
// so that prefixes its content (and markup compatibility) names stay bound.
// Its property element FixedPage.Resources becomes Canvas.Resources (XPS
// puts property elements first, so keys are known before anything refers to
// them).
HRESULT SheetWriter::CopyContent(xml::XmlReader& reader, const std::wstring& keyPrefix,
                                 const std::wstring& baseUri) {
    keys_.clear();
    xml::Node node;
    HRESULT hr;
    while (SUCCEEDED(hr = reader.Next(node)) && node != xml::Node::End) {
        std::size_t depth = reader.Depth();
        if (node == xml::Node::StartElement) {
            if (depth == 1) {
                for (const xml::Declaration& declaration : reader.Declarations()) {
                    writer_->Declare(declaration.prefix, declaration.uri);
                }
                continue;  // the source FixedPage itself
            }
            bool isResources = depth == 2 && reader.LocalName() == L"FixedPage.Resources";
            writer_->StartElement(reader.Prefix(), isResources ? L"Canvas.Resources" : reader.LocalName(),
                                  reader.NamespaceUri());
            for (const xml::Declaration& declaration : reader.Declarations()) {
                writer_->Declare(declaration.prefix, declaration.uri);
            }
            for (const xml::Attribute& attribute : reader.Attributes()) {
                bool isKey = attribute.uri == kKeyNamespace && attribute.local == L"Key";
                writer_->Attribute(attribute.prefix, attribute.local, attribute.uri,
                                   RewriteValue(attribute.local, attribute.value, isKey, keyPrefix, baseUri));
            }
        } else if (node == xml::Node::EndElement) {
            if (depth > 0) {
                writer_->EndElement();
            }
        } else if (depth > 1 && !IsBlank(reader.Text())) {
            writer_->Text(reader.Text());
        }
    }
    return hr;
}

std::wstring SheetWriter::RewriteValue(const std::wstring& localName, const std::wstring& value, bool isKey,
                                       const std::wstring& keyPrefix, const std::wstring& baseUri) {
    const std::wstring& text = value;
    if (isKey) {
        keys_.insert(text);
        return keyPrefix + text;
    }
    if (StartsWith(text, kStaticResource) && text.back() == L'}') {
        size_t start = std::wcslen(kStaticResource);
        std::wstring key = text.substr(start, text.size() - start - 1);
        // Keys of a remote dictionary keep their names: the part is shared.
        return keys_.count(key) != 0 ? kStaticResource + keyPrefix + key + L"}" : text;
    }
    if (baseUri.empty()) {
        return text;
    }
    if (StartsWith(text, kColorConvertedBitmap) && text.back() == L'}') {
        // "{ColorConvertedBitmap image profile}": both are part references.
        std::wstring inner = text.substr(std::wcslen(kColorConvertedBitmap),
                                         text.size() - 1 - std::wcslen(kColorConvertedBitmap));
        size_t space = inner.find(L' ');
        if (space != std::wstring::npos) {
            return kColorConvertedBitmap + ResolvePartUri(baseUri, inner.substr(0, space)) + L" " +
                   ResolvePartUri(baseUri, inner.substr(space + 1)) + L"}";
        }
    }
    if (localName == L"FontUri" || localName == L"ImageSource" || localName == L"Source") {
        return ResolvePartUri(baseUri, text);
    }
    if (StartsWith(text, kContextColor)) {
        size_t start = std::wcslen(kContextColor);
        size_t end = text.find(L' ', start);
        std::wstring profile =
            text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        return kContextColor + ResolvePartUri(baseUri, profile) +
               (end == std::wstring::npos ? L"" : text.substr(end));
    }
    return text;
}
