#include "engine/outline.h"

#include <map>

#include "xps/checkedmath.h"
#include "xps/xmlnumber.h"
#include "xps/xmlreader.h"

namespace engine {

namespace {

constexpr std::size_t kMaxEntries = 65536;
constexpr int kMaxLevel = 32;

// Where an OutlineTarget may point in one document: its LinkTargets by
// name and its pages by part, the first of each name.
struct PageIndex {
    std::wstring documentKey;
    std::map<std::wstring, std::size_t> linkTargets;
    std::map<std::wstring, std::size_t> pages;

    explicit PageIndex(const xps::FixedDocumentInfo& document) : documentKey(xps::PartKey(document.name)) {
        for (const auto& linkTarget : document.linkTargets) {
            linkTargets.emplace(linkTarget.first, linkTarget.second);
        }
        for (std::size_t i = 0; i < document.pages.size(); ++i) {
            pages.emplace(xps::PartKey(document.pages[i]), i);
        }
    }

    // The page an OutlineTarget names: "doc.fdoc#LinkTarget" or a page part.
    bool Find(const std::wstring& structurePart, const std::wstring& target, std::size_t& page) const {
        std::size_t hash = target.find(L'#');
        std::wstring part = xps::PartKey(xps::ResolvePartUri(structurePart, target.substr(0, hash)));
        auto found = part == documentKey
                         ? linkTargets.find(hash == std::wstring::npos ? L"" : target.substr(hash + 1))
                         : pages.find(part);
        if (found == (part == documentKey ? linkTargets.end() : pages.end())) {
            return false;
        }
        page = found->second;
        return true;
    }
};

// The entries of one document's structure part, pages counted within the
// document; entries counts every entry read, found or not, against the cap.
void ReadDocumentOutline(const xps::XpsPackage& package, const xps::FixedDocumentInfo& document,
                         std::size_t& entries, std::vector<OutlineEntry>& outline) {
    std::wstring structurePart = package.TargetOf(document.name, xps::Relation::DocumentStructure);
    std::string markup;
    xml::XmlReader reader;
    if (structurePart.empty() || FAILED(package.Read(structurePart, markup)) || FAILED(reader.Open(markup))) {
        return;
    }
    PageIndex index(document);
    xml::Node node;
    while (SUCCEEDED(reader.Next(node)) && node != xml::Node::End && entries < kMaxEntries) {
        const std::wstring* target = reader.Find(L"OutlineTarget");
        if (node != xml::Node::StartElement || reader.LocalName() != L"OutlineEntry" || target == nullptr) {
            continue;
        }
        ++entries;
        OutlineEntry entry;
        double level = 1;
        const std::wstring* levelText = reader.Find(L"OutlineLevel");
        if (levelText != nullptr && xml::ParseNumber(*levelText, level)) {
            entry.level = xps::Clamped<int>(level, 1, kMaxLevel);
        }
        const std::wstring* title = reader.Find(L"Description");
        entry.title = title != nullptr ? *title : L"";
        if (index.Find(structurePart, *target, entry.page)) {
            outline.push_back(std::move(entry));
        }
    }
}

}  // namespace

HRESULT ReadOutline(const xps::XpsPackage& package, const xps::FixedStructure& structure,
                    std::vector<OutlineEntry>& outline) {
    return xps::WithoutThrowing([&] {
        outline.clear();
        // A document the sequence names again has the same outline: read once.
        std::map<std::wstring, std::vector<OutlineEntry>> read;
        std::size_t firstPage = 0, entries = 0;
        for (const xps::FixedDocumentInfo& document : structure.documents) {
            auto known = read.find(xps::PartKey(document.name));
            if (known == read.end()) {
                known = read.emplace(xps::PartKey(document.name), std::vector<OutlineEntry>()).first;
                ReadDocumentOutline(package, document, entries, known->second);
            }
            for (const OutlineEntry& own : known->second) {
                if (outline.size() >= kMaxEntries) {
                    return S_OK;
                }
                OutlineEntry entry = own;
                entry.page += firstPage;
                outline.push_back(std::move(entry));
            }
            firstPage += document.pages.size();
        }
        return S_OK;
    });
}

}  // namespace engine
