#include "engine/markupcursor.h"

#include <algorithm>

#include "engine/markupvalues.h"
#include "xps/workbudget.h"

namespace engine {

const wchar_t kCompatibilityNamespace[] = L"http://schemas.openxmlformats.org/markup-compatibility/2006";

HRESULT MarkupCursor::Next(xml::Node& node) {
    for (;;) {
        HRESULT hr = reader_.Next(node);
        if (FAILED(hr) || node == xml::Node::End) {
            return hr;
        }
        if (node == xml::Node::Text) {
            const std::wstring& text = reader_.Text();
            if (!Words(text).empty()) {
                return xml::kMalformed;
            }
            continue;
        }
        if (node == xml::Node::EndElement) {
            std::size_t depth = reader_.Depth() + 1;
            EndScopes(depth);
            if (!unwrapped_.empty() && unwrapped_.back().depth == depth) {
                unwrapped_.pop_back();
                continue;
            }
            return S_OK;
        }
        std::size_t depth = reader_.Depth();
        hr = ReadCompatibility(depth);
        if (FAILED(hr)) {
            return hr;
        }
        bool inAlternateContent =
            !unwrapped_.empty() && unwrapped_.back().alternateContent && unwrapped_.back().depth + 1 == depth;
        const std::wstring& uri = reader_.NamespaceUri();
        bool unwrap = false;
        if (uri == kCompatibilityNamespace) {
            hr = ReadCompatibilityElement(depth, inAlternateContent, unwrap);
        } else if (inAlternateContent || (!Understood(uri) && !Ignorable(uri))) {
            return xml::kMalformed;
        } else if (Understood(uri)) {
            return S_OK;
        } else if (ProcessContent(uri, reader_.LocalName())) {
            unwrapped_.push_back({depth, false, false});
            unwrap = true;
        }
        if (SUCCEEDED(hr) && !unwrap) {
            hr = Skip(depth);
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
}

// mc:AlternateContent is unwrapped, and so is the one branch of it taken.
HRESULT MarkupCursor::ReadCompatibilityElement(std::size_t depth, bool inAlternateContent, bool& unwrap) {
    const std::wstring& local = reader_.LocalName();
    if (local == L"AlternateContent" && !inAlternateContent) {
        unwrapped_.push_back({depth, true, false});
        unwrap = true;
        return S_OK;
    }
    if ((local != L"Choice" && local != L"Fallback") || !inAlternateContent) {
        return xml::kMalformed;
    }
    if (unwrapped_.back().chosen) {
        return S_OK;
    }
    if (local == L"Choice") {
        const std::wstring* required = reader_.Find(L"Requires");
        std::vector<std::wstring> uris;
        HRESULT hr = required == nullptr ? xml::kMalformed : Namespaces(*required, uris);
        if (FAILED(hr) ||
            !std::all_of(uris.begin(), uris.end(), [&](const std::wstring& u) { return Understood(u); })) {
            return hr;
        }
    }
    unwrapped_.back().chosen = true;
    unwrapped_.push_back({depth, false, false});
    unwrap = true;
    return S_OK;
}

HRESULT MarkupCursor::ReadCompatibility(std::size_t depth) {
    Scope scope{depth, {}, {}};
    for (const xml::Attribute& attribute : reader_.Attributes()) {
        if (attribute.uri != kCompatibilityNamespace) {
            continue;
        }
        std::vector<std::wstring> uris;
        HRESULT hr = S_OK;
        if (attribute.local == L"Ignorable") {
            hr = Namespaces(attribute.value, scope.ignorable);
        } else if (attribute.local == L"MustUnderstand") {
            hr = Namespaces(attribute.value, uris);
            bool understood =
                std::all_of(uris.begin(), uris.end(), [&](const std::wstring& u) { return Understood(u); });
            hr = SUCCEEDED(hr) && !understood ? xml::kMalformed : hr;
        } else if (attribute.local == L"ProcessContent") {
            for (const std::wstring& name : Words(attribute.value)) {
                std::size_t colon = name.find(L':');
                std::wstring uri;
                if (colon == std::wstring::npos || !reader_.LookupNamespace(name.substr(0, colon), uri)) {
                    return xml::kMalformed;
                }
                scope.processContent.emplace_back(uri, name.substr(colon + 1));
            }
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (!scope.ignorable.empty() || !scope.processContent.empty()) {
        scopes_.push_back(std::move(scope));
    }
    return S_OK;
}

HRESULT MarkupCursor::Skip(std::size_t depth) {
    xml::Node node = xml::Node::StartElement;
    HRESULT hr = S_OK;
    while (!(node == xml::Node::EndElement && reader_.Depth() + 1 == depth) && node != xml::Node::End &&
           SUCCEEDED(hr = reader_.Next(node))) {
    }
    EndScopes(depth);
    return hr;
}

void MarkupCursor::EndScopes(std::size_t depth) {
    while (!scopes_.empty() && scopes_.back().depth >= depth) {
        scopes_.pop_back();
    }
}

HRESULT MarkupCursor::Namespaces(const std::wstring& prefixes, std::vector<std::wstring>& uris) const {
    for (const std::wstring& prefix : Words(prefixes)) {
        uris.emplace_back();
        if (!reader_.LookupNamespace(prefix, uris.back())) {
            return xml::kMalformed;
        }
    }
    return S_OK;
}

bool MarkupCursor::Understood(const std::wstring& uri) const {
    return std::find(understood_.begin(), understood_.end(), uri) != understood_.end();
}

bool MarkupCursor::Ignorable(const std::wstring& uri) const {
    for (const Scope& scope : scopes_) {
        if (!xps::ChargeWork(xps::kLookUpCost + scope.ignorable.size())) {
            return false;
        }
        if (std::find(scope.ignorable.begin(), scope.ignorable.end(), uri) != scope.ignorable.end()) {
            return true;
        }
    }
    return false;
}

bool MarkupCursor::ProcessContent(const std::wstring& uri, const std::wstring& local) const {
    for (const Scope& scope : scopes_) {
        if (!xps::ChargeWork(xps::kLookUpCost + scope.processContent.size())) {
            return false;
        }
        for (const auto& name : scope.processContent) {
            if (name.first == uri && (name.second == local || name.second == L"*")) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace engine
