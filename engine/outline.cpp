#include "engine/outline.h"

#include "xps/xmlnumber.h"
#include "xps/xmlreader.h"

namespace engine {

namespace {

constexpr std::size_t kMaxEntries = 65536;
constexpr int kMaxLevel = 32;

// The page an OutlineTarget names: "doc.fdoc#LinkTarget" or a page part.
bool FindPage(const std::wstring& structurePart, const std::wstring& target,
              const xps::FixedDocumentInfo& document, std::size_t& page) {
    std::size_t hash = target.find(L'#');
    std::wstring part = xps::PartKey(xps::ResolvePartUri(structurePart, target.substr(0, hash)));
    std::wstring fragment = hash == std::wstring::npos ? L"" : target.substr(hash + 1);
    if (part == xps::PartKey(document.name)) {
        for (const auto& linkTarget : document.linkTargets) {
            if (linkTarget.first == fragment) {
                page = linkTarget.second;
                return true;
            }
        }
        return false;
    }
    for (std::size_t i = 0; i < document.pages.size(); ++i) {
        if (xps::PartKey(document.pages[i]) == part) {
            page = i;
            return true;
        }
    }
    return false;
}

}  // namespace

HRESULT ReadOutline(const xps::XpsPackage& package, const xps::FixedStructure& structure,
                    std::vector<OutlineEntry>& outline) {
    return xps::WithoutThrowing([&] {
        outline.clear();
        std::size_t firstPage = 0;
        for (const xps::FixedDocumentInfo& document : structure.documents) {
            std::wstring structurePart = package.TargetOf(document.name, xps::Relation::DocumentStructure);
            std::string markup;
            xml::XmlReader reader;
            if (!structurePart.empty() && SUCCEEDED(package.Read(structurePart, markup)) &&
                SUCCEEDED(reader.Open(markup))) {
                xml::Node node;
                while (SUCCEEDED(reader.Next(node)) && node != xml::Node::End &&
                       outline.size() < kMaxEntries) {
                    const std::wstring* target = reader.Find(L"OutlineTarget");
                    if (node != xml::Node::StartElement || reader.LocalName() != L"OutlineEntry" ||
                        target == nullptr) {
                        continue;
                    }
                    OutlineEntry entry;
                    double level = 1;
                    const std::wstring* levelText = reader.Find(L"OutlineLevel");
                    if (levelText != nullptr && xml::ParseNumber(*levelText, level)) {
                        entry.level = level < 1 ? 1 : level > kMaxLevel ? kMaxLevel : static_cast<int>(level);
                    }
                    const std::wstring* title = reader.Find(L"Description");
                    entry.title = title != nullptr ? *title : L"";
                    if (FindPage(structurePart, *target, document, entry.page)) {
                        entry.page += firstPage;
                        outline.push_back(std::move(entry));
                    }
                }
            }
            firstPage += document.pages.size();
        }
        return S_OK;
    });
}

}  // namespace engine
