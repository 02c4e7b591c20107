// The document outline: entries found by their link targets and pages, and
// written as PDF's nested bookmarks.
#include "engine/outline.h"
#include "engine/converter.h"

#include <memory>

#include <gtest/gtest.h>

#include "tests/xps/testarchive.h"

namespace {

const std::string kXps = "http://schemas.microsoft.com/xps/2005/06";
const std::string kRels = "http://schemas.openxmlformats.org/package/2006/relationships";

std::string Relationship(const std::string& target, const std::string& type) {
    return "<Relationships xmlns=\"" + kRels + "\"><Relationship Id=\"R0\" Target=\"" + target +
           "\" Type=\"" + type + "\"/></Relationships>";
}

// Three pages; the structure names the second by its link target and the
// third by its part, at levels 1, 2 and 1, and one target that is nowhere.
std::string OutlinedPackage() {
    std::string page = "<FixedPage xmlns=\"" + kXps + "\" Width=\"96\" Height=\"96\" xml:lang=\"en\"/>";
    return ziptest::Archive({
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"},
        {"_rels/.rels",
         Relationship("/Seq.fdseq", "http://schemas.microsoft.com/xps/2005/06/fixedrepresentation")},
        {"Seq.fdseq", "<FixedDocumentSequence xmlns=\"" + kXps +
                          "\"><DocumentReference Source=\"Doc/Doc.fdoc\"/></FixedDocumentSequence>"},
        {"Doc/Doc.fdoc",
         "<FixedDocument xmlns=\"" + kXps +
             "\"><PageContent Source=\"1.fpage\"/><PageContent Source=\"2.fpage\"><PageContent.LinkTargets>"
             "<LinkTarget Name=\"Second\"/></PageContent.LinkTargets></PageContent>"
             "<PageContent Source=\"3.fpage\"/></FixedDocument>"},
        {"Doc/_rels/Doc.fdoc.rels",
         Relationship("Structure/Doc.struct", "http://schemas.microsoft.com/xps/2005/06/documentstructure")},
        {"Doc/Structure/Doc.struct",
         "<DocumentStructure xmlns=\"http://schemas.microsoft.com/xps/2005/06/documentstructure\">"
         "<DocumentStructure.Outline><DocumentOutline xml:lang=\"en\">"
         "<OutlineEntry OutlineLevel=\"1\" OutlineTarget=\"../Doc.fdoc#Second\" Description=\"Chapter (1)\"/>"
         "<OutlineEntry OutlineLevel=\"2\" OutlineTarget=\"../3.fpage\" Description=\"Section\"/>"
         "<OutlineEntry OutlineLevel=\"1\" OutlineTarget=\"../Doc.fdoc#Nowhere\" Description=\"Lost\"/>"
         "<OutlineEntry OutlineLevel=\"1\" OutlineTarget=\"../Doc.fdoc#Second\" "
         "Description=\"R\u00e9sum\u00e9\"/>"
         "</DocumentOutline></DocumentStructure.Outline></DocumentStructure>"},
        {"Doc/1.fpage", page},
        {"Doc/2.fpage", page},
        {"Doc/3.fpage", page},
    });
}

TEST(Outline, EntriesFindTheirPagesAndNestInThePdf) {
    xps::XpsPackage package;
    ASSERT_EQ(S_OK, package.Open(std::unique_ptr<xps::ByteSource>(new xps::MemorySource(OutlinedPackage()))));
    xps::FixedStructure structure;
    ASSERT_EQ(S_OK, package.ReadStructure(structure));
    std::vector<engine::OutlineEntry> outline;
    ASSERT_EQ(S_OK, engine::ReadOutline(package, structure, outline));
    ASSERT_EQ(3u, outline.size());
    EXPECT_EQ(1u, outline[0].page);
    EXPECT_EQ(2u, outline[1].page);
    EXPECT_EQ(2, outline[1].level);
    EXPECT_EQ(L"R\u00e9sum\u00e9", outline[2].title);

    std::string pdf;
    engine::ConvertOptions options;
    ASSERT_EQ(S_OK, engine::Convert(package, options, [&pdf](const void* bytes, std::size_t size) {
                  pdf.append(static_cast<const char*>(bytes), size);
                  return S_OK;
              }));
    // Two bookmarks at the top with three in all, the second level under
    // the first, titles as PDF text strings.
    std::size_t root = pdf.find("/Type/Outlines/First");
    ASSERT_NE(std::string::npos, root);
    EXPECT_EQ(pdf.find("/Count 3>>", root), pdf.find(">>", root) - 8);
    EXPECT_NE(std::string::npos, pdf.find("/Title (Chapter \\(1\\))"));
    EXPECT_NE(std::string::npos, pdf.find("/Count 1>>"));
    EXPECT_NE(std::string::npos, pdf.find("/Title <FEFF005200E900730075006D00E9>"));
}

}  // namespace
