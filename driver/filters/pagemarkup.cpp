#include "driver/filters/pagemarkup.h"

#include <cwchar>
#include <new>
#include <vector>

using Microsoft::WRL::ComPtr;

#include "driver/filters/xmllitelibrary.h"

namespace {

constexpr wchar_t kKeyNamespace[] = L"http://schemas.microsoft.com/xps/2005/06/resourcedictionary-key";
constexpr wchar_t kXmlnsNamespace[] = L"http://www.w3.org/2000/xmlns/";
constexpr wchar_t kStaticResource[] = L"{StaticResource ";
constexpr wchar_t kContextColor[] = L"ContextColor ";

std::wstring Number(double value) {
    wchar_t pText[40];
    std::swprintf(pText, 40, L"%.4f", value);
    // "12.5000" -> "12.5", "3.0000" -> "3"
    std::wstring text(pText);
    while (!text.empty() && text.back() == L'0') {
        text.pop_back();
    }
    if (!text.empty() && text.back() == L'.') {
        text.pop_back();
    }
    return text == L"-0" ? L"0" : text;
}

std::wstring MatrixText(const Matrix& m) {
    return Number(m.m11) + L"," + Number(m.m12) + L"," + Number(m.m21) + L"," + Number(m.m22) + L"," +
           Number(m.dx) + L"," + Number(m.dy);
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

// A reference that names a part by a relative path (no scheme, not absolute).
bool IsRelativePartReference(const std::wstring& reference) {
    return !reference.empty() && reference[0] != L'/' && reference[0] != L'{' &&
           reference.find(L':') == std::wstring::npos;
}

}  // namespace

Matrix ScaleThenMove(double scale, double dx, double dy) {
    Matrix m;
    m.m11 = scale;
    m.m22 = scale;
    m.dx = dx;
    m.dy = dy;
    return m;
}

std::wstring ResolvePartUri(const std::wstring& baseUri, const std::wstring& reference) {
    if (!IsRelativePartReference(reference)) {
        return reference;
    }
    std::vector<std::wstring> segments;
    size_t folderEnd = baseUri.rfind(L'/');
    std::wstring path =
        (folderEnd == std::wstring::npos ? L"" : baseUri.substr(0, folderEnd + 1)) + reference;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'/', start);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        std::wstring segment = path.substr(start, end - start);
        if (segment == L"..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
        } else if (!segment.empty() && segment != L".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::wstring resolved;
    for (const std::wstring& segment : segments) {
        resolved += L"/" + segment;
    }
    return resolved;
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
    if (FAILED(hr)) {
        return hr;
    }
    char buffer[16384];
    for (;;) {
        ULONG cbRead = 0;
        BOOL endOfFile = FALSE;
        hr = stream->ReadBytes(buffer, sizeof(buffer), &cbRead, &endOfFile);
        if (FAILED(hr)) {
            return hr;
        }
        bytes.append(buffer, cbRead);
        if (endOfFile || cbRead == 0) {
            return S_OK;
        }
    }
}

HRESULT ReadPageInfo(const std::string& markup, PageInfo& page) {
    ComPtr<IXmlReader> reader;
    HRESULT hr = CreateMarkupReader(markup, reader);
    if (FAILED(hr)) {
        return hr;
    }
    XmlNodeType nodeType;
    while ((hr = reader->Read(&nodeType)) == S_OK && nodeType != XmlNodeType_Element) {
    }
    if (hr != S_OK) {
        return FAILED(hr) ? hr : static_cast<HRESULT>(WC_E_SYNTAX);
    }
    const wchar_t* pName = nullptr;
    const wchar_t* pNamespace = nullptr;
    reader->GetLocalName(&pName, nullptr);
    reader->GetNamespaceUri(&pNamespace, nullptr);
    if (std::wcscmp(pName, L"FixedPage") != 0) {
        return WC_E_SYNTAX;
    }
    page.markupNamespace = pNamespace;
    page.width = page.height = 0;
    for (hr = reader->MoveToFirstAttribute(); hr == S_OK; hr = reader->MoveToNextAttribute()) {
        const wchar_t* pValue = nullptr;
        reader->GetLocalName(&pName, nullptr);
        reader->GetValue(&pValue, nullptr);
        if (std::wcscmp(pName, L"Width") == 0) {
            page.width = std::wcstod(pValue, nullptr);
        } else if (std::wcscmp(pName, L"Height") == 0) {
            page.height = std::wcstod(pValue, nullptr);
        }
    }
    // A page without a positive size cannot be placed.
    return page.width > 0 && page.height > 0 ? S_OK : static_cast<HRESULT>(WC_E_SYNTAX);
}

HRESULT SheetWriter::Begin(const PageInfo& sheet, std::string* output) {
    namespace_ = sheet.markupNamespace;
    HRESULT hr = CreateMarkupWriter(output, writer_);
    if (SUCCEEDED(hr))
        hr = writer_->WriteStartDocument(XmlStandalone_Omit);
    if (SUCCEEDED(hr))
        hr = writer_->WriteStartElement(nullptr, L"FixedPage", namespace_.c_str());
    if (SUCCEEDED(hr))
        hr = writer_->WriteAttributeString(nullptr, L"Width", nullptr, Number(sheet.width).c_str());
    if (SUCCEEDED(hr))
        hr = writer_->WriteAttributeString(nullptr, L"Height", nullptr, Number(sheet.height).c_str());
    if (SUCCEEDED(hr))
        hr = writer_->WriteAttributeString(L"xml", L"lang", nullptr, L"und");
    // Declared once on the page, where libgxps looks for it, instead of on
    // every resource.
    if (SUCCEEDED(hr))
        hr = writer_->WriteAttributeString(L"xmlns", L"x", nullptr, kKeyNamespace);
    return hr;
}

HRESULT SheetWriter::AddPage(const std::string& markup, const Matrix& transform,
                             const std::wstring& keyPrefix, const std::wstring& baseUri) {
    PageInfo page;
    HRESULT hr = ReadPageInfo(markup, page);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IXmlReader> reader;
    hr = CreateMarkupReader(markup, reader);
    if (FAILED(hr)) {
        return hr;
    }
    std::wstring clip = L"M 0,0 L " + Number(page.width) + L",0 " + Number(page.width) + L"," +
                        Number(page.height) + L" 0," + Number(page.height) + L" Z";
    hr = writer_->WriteStartElement(nullptr, L"Canvas", namespace_.c_str());
    if (SUCCEEDED(hr))
        hr = writer_->WriteAttributeString(nullptr, L"RenderTransform", nullptr,
                                           MatrixText(transform).c_str());
    if (SUCCEEDED(hr))
        hr = writer_->WriteAttributeString(nullptr, L"Clip", nullptr, clip.c_str());
    if (SUCCEEDED(hr))
        hr = CopyContent(reader.Get(), keyPrefix, baseUri);
    if (SUCCEEDED(hr))
        hr = writer_->WriteFullEndElement();
    return hr;
}

HRESULT SheetWriter::AddPath(const std::wstring& data, const std::wstring& fill, const Matrix& transform) {
    HRESULT hr = writer_->WriteStartElement(nullptr, L"Path", namespace_.c_str());
    if (SUCCEEDED(hr))
        hr = writer_->WriteAttributeString(nullptr, L"RenderTransform", nullptr,
                                           MatrixText(transform).c_str());
    if (SUCCEEDED(hr))
        hr = writer_->WriteAttributeString(nullptr, L"Fill", nullptr, fill.c_str());
    if (SUCCEEDED(hr))
        hr = writer_->WriteAttributeString(nullptr, L"Data", nullptr, data.c_str());
    if (SUCCEEDED(hr))
        hr = writer_->WriteFullEndElement();
    return hr;
}

HRESULT SheetWriter::End() {
    HRESULT hr = writer_->WriteEndDocument();
    if (SUCCEEDED(hr))
        hr = writer_->Flush();
    writer_.Reset();
    return hr;
}

// Copies everything inside the source FixedPage element. Its property element
// FixedPage.Resources becomes Canvas.Resources (XPS puts property elements
// first, so keys are known before anything refers to them).
HRESULT SheetWriter::CopyContent(IXmlReader* reader, const std::wstring& keyPrefix,
                                 const std::wstring& baseUri) {
    keys_.clear();
    XmlNodeType nodeType;
    HRESULT hr;
    // Depth counted here: Wine's XmlLite reports an end element one level
    // deeper than its start.
    UINT openElements = 0;
    while ((hr = reader->Read(&nodeType)) == S_OK) {
        UINT depth = openElements;
        switch (nodeType) {
            case XmlNodeType_Element: {
                if (!reader->IsEmptyElement()) {
                    ++openElements;
                }
                if (depth == 0) {
                    break;  // the source FixedPage itself
                }
                const wchar_t* pName = nullptr;
                const wchar_t* pNamespace = nullptr;
                reader->GetLocalName(&pName, nullptr);
                reader->GetNamespaceUri(&pNamespace, nullptr);
                bool isEmpty = reader->IsEmptyElement() != FALSE;
                const wchar_t* pWritten = depth == 1 && std::wcscmp(pName, L"FixedPage.Resources") == 0
                                              ? L"Canvas.Resources"
                                              : pName;
                hr = writer_->WriteStartElement(nullptr, pWritten, pNamespace);
                for (HRESULT hrAttribute = reader->MoveToFirstAttribute();
                     SUCCEEDED(hr) && hrAttribute == S_OK; hrAttribute = reader->MoveToNextAttribute()) {
                    const wchar_t *pPrefix, *pLocal, *pAttributeNamespace, *pValue;
                    reader->GetPrefix(&pPrefix, nullptr);
                    reader->GetLocalName(&pLocal, nullptr);
                    reader->GetNamespaceUri(&pAttributeNamespace, nullptr);
                    reader->GetValue(&pValue, nullptr);
                    if (std::wcscmp(pAttributeNamespace, kXmlnsNamespace) == 0) {
                        // Declarations follow from the names the writer writes.
                        continue;
                    }
                    bool isKey = std::wcscmp(pAttributeNamespace, kKeyNamespace) == 0 &&
                                 std::wcscmp(pLocal, L"Key") == 0;
                    std::wstring value = RewriteValue(pLocal, pValue, isKey, keyPrefix, baseUri);
                    hr = writer_->WriteAttributeString(*pPrefix ? pPrefix : nullptr, pLocal,
                                                       *pAttributeNamespace ? pAttributeNamespace : nullptr,
                                                       value.c_str());
                }
                // Wine's XmlLite leaves its writer in a state that refuses the
                // next sibling after WriteEndElement closes an empty element.
                if (SUCCEEDED(hr) && isEmpty) {
                    hr = writer_->WriteFullEndElement();
                }
                break;
            }
            case XmlNodeType_EndElement:
                depth = --openElements;
                if (depth > 0) {
                    hr = writer_->WriteFullEndElement();
                }
                break;
            case XmlNodeType_Text:
            case XmlNodeType_CDATA: {
                const wchar_t* pValue = nullptr;
                reader->GetValue(&pValue, nullptr);
                hr = writer_->WriteString(pValue);
                break;
            }
            default:
                break;  // whitespace, comments, processing instructions
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    return FAILED(hr) ? hr : S_OK;
}

std::wstring SheetWriter::RewriteValue(const wchar_t* localName, const wchar_t* value, bool isKey,
                                       const std::wstring& keyPrefix, const std::wstring& baseUri) {
    std::wstring text(value);
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
    if (std::wcscmp(localName, L"FontUri") == 0 || std::wcscmp(localName, L"ImageSource") == 0 ||
        std::wcscmp(localName, L"Source") == 0) {
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
