// The package reader on archives built here, item by item: each way real
// writers lay a package out, and each way a damaged or hostile one fails.
#include "xps/xpspackage.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/xps/testarchive.h"

namespace {

using ziptest::Archive;
using ziptest::Item;

// A one-page package in the namespace of XPS or OpenXPS.
std::vector<Item> Package(const std::string& markup, const std::string& relations,
                          const std::string& pageName) {
    const std::string rels = "http://schemas.openxmlformats.org/package/2006/relationships";
    return {
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"fpage\" "
         "ContentType=\"application/vnd.ms-package.xps-fixedpage+xml\"/></Types>"},
        {"_rels/.rels", "<Relationships xmlns=\"" + rels +
                            "\"><Relationship Id=\"R0\" Target=\"/FixedDocumentSequence.fdseq\" Type=\"" +
                            relations + "fixedrepresentation\"/></Relationships>"},
        {"FixedDocumentSequence.fdseq",
         "<FixedDocumentSequence xmlns=\"" + markup +
             "\"><DocumentReference Source=\"Documents/1/FixedDocument.fdoc\"/></FixedDocumentSequence>"},
        {"Documents/1/FixedDocument.fdoc",
         "<FixedDocument xmlns=\"" + markup +
             "\"><PageContent Source=\"Pages/My%20Page.fpage\"/></FixedDocument>"},
        {pageName, "<FixedPage xmlns=\"" + markup + "\" Width=\"816\" Height=\"1056\" xml:lang=\"en\"/>"},
        {"Documents/1/Pages/_rels/My Page.fpage.rels",
         "<Relationships xmlns=\"" + rels +
             "\"><Relationship Id=\"R1\" Target=\"../../../Metadata/PT.xml\" Type=\"" + relations +
             "printticket\"/></Relationships>"},
        {"Metadata/PT.xml", "<psf:PrintTicket xmlns:psf=\"x\"/>"},
    };
}

const std::string kXps = "http://schemas.microsoft.com/xps/2005/06";
const std::string kXpsRelations = "http://schemas.microsoft.com/xps/2005/06/";
const std::string kOpenXps = "http://schemas.openxps.org/oxps/v1.0";
const std::string kOpenXpsRelations = "http://schemas.openxps.org/oxps/v1.0/";

struct Layout {
    const char* name;
    std::string archive;
    HRESULT open;  // of the archive and its structure
    xps::Flavour flavour;
};

std::vector<Item> Pieces(std::vector<Item> items, std::size_t index, std::size_t count) {
    Item whole = items[index];
    items.erase(items.begin() + index);
    std::size_t step = (whole.data.size() + count - 1) / count;
    for (std::size_t i = 0; i < count; ++i) {
        std::string suffix = i + 1 == count ? "].last.piece" : "].piece";
        items.push_back({whole.name + "/[" + std::to_string(i) + suffix, whole.data.substr(i * step, step)});
    }
    return items;
}

std::vector<Item> With(std::vector<Item> items, void (*change)(std::vector<Item>&)) {
    change(items);
    return items;
}

std::vector<Layout> Layouts() {
    auto xps = Package(kXps, kXpsRelations, "Documents/1/Pages/My%20Page.fpage");
    auto open = Package(kOpenXps, kOpenXpsRelations, "Documents/1/Pages/My%20Page.fpage");
    auto bomb = xps;
    bomb.push_back({"Resources/zeros.bin", std::string(8u << 20, '\0')});
    auto lyingUnused = xps;
    Item unused{"Resources/unused.bin", "x"};
    unused.claimedSize = 2u << 20;
    unused.claimedCompressedSize = ~0ull;
    unused.zip64 = true;
    lyingUnused.push_back(unused);
    auto twoPieceSets = Pieces(Pieces(xps, 4, 3), 0, 2);
    auto gap = Pieces(xps, 4, 3);
    gap.erase(gap.end() - 2);  // [1].piece missing
    return {
        {"xps", Archive(xps), S_OK, xps::Flavour::Xps},
        {"openxps", Archive(open), S_OK, xps::Flavour::OpenXps},
        {"page and types in pieces", Archive(twoPieceSets), S_OK, xps::Flavour::Xps},
        {"data descriptors",
         Archive(With(xps,
                      [](std::vector<Item>& v) {
                          for (Item& i : v)
                              i.descriptor = true;
                      })),
         S_OK, xps::Flavour::Xps},
        {"stored items",
         Archive(With(xps,
                      [](std::vector<Item>& v) {
                          for (Item& i : v)
                              i.deflate = false;
                      })),
         S_OK, xps::Flavour::Xps},
        {"zip64",
         Archive(With(xps,
                      [](std::vector<Item>& v) {
                          for (Item& i : v)
                              i.zip64 = true;
                      }),
                 true),
         S_OK, xps::Flavour::Xps},
        {"names in another case",
         Archive(With(xps, [](std::vector<Item>& v) { v[3].name = "DOCUMENTS/1/fixeddocument.FDOC"; })), S_OK,
         xps::Flavour::Xps},
        {"a piece missing", Archive(gap), xps::kDamaged, xps::Flavour::Xps},
        {"a zip bomb", Archive(bomb), xps::kOverCap, xps::Flavour::Xps},
        {"a size that lies",
         Archive(With(xps,
                      [](std::vector<Item>& v) {
                          v[2].claimedSize = 0xFFFFFFFF;
                          v[2].zip64 = true;
                      }),
                 true),
         xps::kOverCap, xps::Flavour::Xps},
        {"an unused item whose compressed size is the largest there is", Archive(lyingUnused, true), S_OK,
         xps::Flavour::Xps},
        {"truncated", Archive(xps).substr(0, 300), xps::kNotAPackage, xps::Flavour::Xps},
        {"no sequence", Archive(With(xps, [](std::vector<Item>& v) { v.erase(v.begin() + 2); })),
         xps::kNotAPackage, xps::Flavour::Xps},
        {"two namespaces",
         Archive(With(
             xps,
             [](std::vector<Item>& v) { v[3].data.replace(v[3].data.find(kXps), kXps.size(), kOpenXps); })),
         xps::kNotAPackage, xps::Flavour::Xps},
    };
}

TEST(XpsPackage, ReadsEveryLayoutAndRefusesTheDamaged) {
    for (const Layout& layout : Layouts()) {
        SCOPED_TRACE(layout.name);
        xps::XpsPackage package;
        HRESULT hr = package.Open(std::unique_ptr<xps::ByteSource>(new xps::MemorySource(layout.archive)));
        xps::FixedStructure structure;
        if (SUCCEEDED(hr))
            hr = package.ReadStructure(structure);
        ASSERT_EQ(layout.open, hr);
        if (FAILED(hr))
            continue;
        EXPECT_EQ(layout.flavour, structure.flavour);
        ASSERT_EQ(1u, structure.documents.size());
        ASSERT_EQ(1u, structure.documents[0].pages.size());
        const std::wstring& page = structure.documents[0].pages[0];
        EXPECT_EQ(L"/Documents/1/Pages/My Page.fpage", page);
        std::string markup;
        EXPECT_EQ(S_OK, package.Read(page, markup));
        EXPECT_NE(std::string::npos, markup.find("Width=\"816\""));
        EXPECT_EQ(L"application/vnd.ms-package.xps-fixedpage+xml", package.ContentType(page));
        EXPECT_EQ(L"/Metadata/PT.xml", package.TargetOf(page, xps::Relation::PrintTicket));
    }
}

// Data that does not match its directory entry fails when read, and the
// other parts stay readable.
TEST(XpsPackage, DamagedDataFailsOnlyItsPart) {
    auto items = Package(kXps, kXpsRelations, "Documents/1/Pages/1.fpage");
    items[4].deflate = false;
    std::string archive = Archive(items);
    archive[archive.find("Width=\"816\"")] = 'w';
    xps::XpsPackage package;
    ASSERT_EQ(S_OK, package.Open(std::unique_ptr<xps::ByteSource>(new xps::MemorySource(archive))));
    std::string content;
    EXPECT_EQ(xps::kDamaged, package.Read(L"/Documents/1/Pages/1.fpage", content));
    EXPECT_EQ(S_OK, package.Read(L"/Documents/1/FixedDocument.fdoc", content));
}

TEST(PartNames, ResolveAndCompareAsThePackagingConventionsSay) {
    struct {
        const wchar_t *base, *reference, *resolved;
    } cases[] = {
        {L"/Documents/1/Pages/1.fpage", L"../Resources/a.png", L"/Documents/1/Resources/a.png"},
        {L"/Documents/1/Pages/1.fpage", L"/Resources/./b.odttf", L"/Resources/b.odttf"},
        {L"/Documents/1/Pages/1.fpage", L"../../../../x.xml", L"/x.xml"},
        {L"/Documents/1/Pages/1.fpage", L"{StaticResource k}", L"{StaticResource k}"},
        {L"/Documents/1/Pages/1.fpage", L"http://example.com/a.png", L"http://example.com/a.png"},
        {L"/Documents/1/Pages/1.fpage", L"2.fpage#Anchor", L"/Documents/1/Pages/2.fpage"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.resolved, xps::ResolvePartUri(c.base, c.reference)) << c.reference;
    EXPECT_EQ(xps::PartKey(L"/Documents/1/R%C3%A9sum%C3%A9.FPAGE"),
              xps::PartKey(L"/documents/1/R\u00e9sum\u00e9.fpage"));
    EXPECT_NE(xps::PartKey(L"/\u00c9.fpage"), xps::PartKey(L"/\u00e9.fpage"));  // ASCII case only
    EXPECT_EQ("Documents/My%20Page%C3%A9.fpage", xps::ItemNameOf(L"/Documents/My Page\u00e9.fpage"));
}

}  // namespace
