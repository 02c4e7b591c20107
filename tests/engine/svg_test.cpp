// The SVG writer through engine::Convert on a package built here, and the
// pieces it brought: a subset with a character map of its own, the PNG
// encoder, gradients' stops within [0, 1]. What readers make of the files is
// check-svg's to judge.
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/converter.h"
#include "engine/font.h"
#include "engine/pagedrawing.h"
#include "engine/pngencoder.h"
#include "tests/xps/testarchive.h"

namespace {

std::string DejaVu() {
    std::ifstream in("Z:/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A package of the given pages (FixedPage content) beside DejaVu Sans.
std::string Package(const std::vector<std::string>& pages) {
    const std::string xps = "http://schemas.microsoft.com/xps/2005/06";
    std::string contents;
    std::vector<ziptest::Item> items = {
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default "
         "Extension=\"rels\" "
         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default "
         "Extension=\"fdseq\" "
         "ContentType=\"application/vnd.ms-package.xps-fixeddocumentsequence+xml\"/><Default "
         "Extension=\"fdoc\" "
         "ContentType=\"application/vnd.ms-package.xps-fixeddocument+xml\"/><Default Extension=\"fpage\" "
         "ContentType=\"application/vnd.ms-package.xps-fixedpage+xml\"/><Default Extension=\"ttf\" "
         "ContentType=\"application/vnd.ms-opentype\"/></Types>"},
        {"_rels/.rels",
         "<Relationships "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
         "Id=\"R0\" Type=\"" +
             xps + "/fixedrepresentation\" Target=\"/s.fdseq\"/></Relationships>"},
        {"s.fdseq", "<FixedDocumentSequence xmlns=\"" + xps +
                        "\"><DocumentReference Source=\"/d.fdoc\"/></FixedDocumentSequence>"},
        {"f.ttf", DejaVu()},
    };
    for (std::size_t i = 0; i < pages.size(); ++i) {
        std::string name = "p" + std::to_string(i + 1) + ".fpage";
        contents += "<PageContent Source=\"/" + name + "\"/>";
        items.push_back({name, "<FixedPage xmlns=\"" + xps + "\" Width=\"816\" Height=\"1056\">" + pages[i] +
                                   "</FixedPage>"});
    }
    items.push_back({"d.fdoc", "<FixedDocument xmlns=\"" + xps + "\">" + contents + "</FixedDocument>"});
    return ziptest::Archive(items);
}

// Each page's file as the converter hands it out.
HRESULT ConvertToSvg(const std::string& archive, std::vector<std::string>& files, HRESULT refuseFile = S_OK) {
    xps::XpsPackage package;
    HRESULT hr = package.Open(std::unique_ptr<xps::ByteSource>(new xps::MemorySource(archive)));
    if (FAILED(hr)) {
        return hr;
    }
    engine::ConvertOptions options;
    options.format = engine::OutputFormat::Svg;
    options.beginFile = [&](unsigned page) {
        files.emplace_back();
        return page == files.size() ? refuseFile : E_UNEXPECTED;
    };
    return engine::Convert(package, options, [&](const void* bytes, std::size_t size) {
        if (files.empty()) {
            return E_UNEXPECTED;  // bytes before the first file
        }
        files.back().append(static_cast<const char*>(bytes), size);
        return S_OK;
    });
}

TEST(SvgWriter, WritesEachPageAsAFileOfItsOwn) {
    const std::string text =
        "<Glyphs FontUri=\"/f.ttf\" FontRenderingEmSize=\"12\" OriginX=\"96\" OriginY=\"96\" "
        "Fill=\"#FF000000\" UnicodeString=\"Page ";
    std::vector<std::string> files;
    ASSERT_EQ(S_OK,
              ConvertToSvg(Package({text + "one\"/>", text + "two\"/><Path Data=\"M 0,0 L 9,9\"/>"}), files));
    ASSERT_EQ(2u, files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& file = files[i];
        EXPECT_EQ(0u, file.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>")) << i;
        EXPECT_NE(std::string::npos, file.find("width=\"8.5in\" height=\"11in\" viewBox=\"0 0 816 1056\""))
            << i;
        EXPECT_NE(std::string::npos, file.find("@font-face{font-family:'zp" + std::to_string(i + 1) + "f1'"))
            << "each page carries its own font";
        EXPECT_NE(std::string::npos, file.find(i == 0 ? ">Page one</tspan>" : ">Page two</tspan>")) << i;
        EXPECT_EQ(file.size() - 7, file.find("</svg>\n")) << i;
    }
    files.clear();
    EXPECT_EQ(E_ACCESSDENIED, ConvertToSvg(Package({"", ""}), files, E_ACCESSDENIED));
    EXPECT_EQ(1u, files.size()) << "nothing past the file that could not be begun";
    EXPECT_TRUE(files[0].empty());
}

TEST(FontSubset, MapsTheCharactersGivenToTheirGlyphs) {
    engine::Font font;
    ASSERT_EQ(S_OK, font.Load(DejaVu(), L"/f.ttf", false, 0));
    const std::uint16_t a = font.GlyphFor(U'A'), e = font.GlyphFor(U'\u00E9'),
                        ring = font.GlyphFor(U'\u00C5');
    engine::Font::CharacterMap map;
    map.family = "zp1f1";
    // A character beyond the BMP may map to any glyph: format 12 beside 4.
    map.characters = {{U'A', a}, {U'B', static_cast<std::uint16_t>(a + 1)}, {U'\u00E9', e}, {0x1F600, ring}};
    std::string bytes;
    ASSERT_EQ(S_OK, font.Subset({a, static_cast<std::uint16_t>(a + 1), e, ring}, bytes, &map));
    engine::Font subset;
    ASSERT_EQ(S_OK, subset.Load(bytes, L"/s.ttf", false, 0));
    for (const auto& entry : map.characters) {
        EXPECT_EQ(entry.second, subset.GlyphFor(entry.first)) << std::hex << entry.first;
    }
    EXPECT_EQ(0, subset.GlyphFor(U'C'));
    EXPECT_EQ("zp1f1", subset.Metrics().postScriptName);

    engine::Font::CharacterMap disordered = map;
    std::swap(disordered.characters[0], disordered.characters[1]);
    EXPECT_EQ(E_INVALIDARG, font.Subset({a}, bytes, &disordered));
    engine::Font::CharacterMap tooMany;
    for (char32_t c = 0; c <= engine::Font::kMaxSubsetCharacters; ++c) {
        tooMany.characters.emplace_back(0x4E00 + c, a);
    }
    EXPECT_EQ(engine::kFontOverCap, font.Subset({a}, bytes, &tooMany));
}

TEST(PngEncoder, WhatItWritesDecodesToTheSameImage) {
    engine::DecodedImage grey;
    grey.width = 3;
    grey.height = 2;
    grey.components = 1;
    grey.pixels = std::string("\x00\x80\xFF\x10\x20\x30", 6);
    grey.alpha = std::string("\xFF\x00\x80\x01\x02\x03", 6);
    engine::DecodedImage colour = grey;
    colour.components = 3;
    colour.pixels.assign(18, '\0');
    for (std::size_t i = 0; i < colour.pixels.size(); ++i) {
        colour.pixels[i] = static_cast<char>(i * 37);
    }
    colour.alpha.clear();
    colour.dpiX = colour.dpiY = 300;
    for (const engine::DecodedImage& image : {grey, colour}) {
        std::string png;
        ASSERT_EQ(S_OK, engine::EncodePng(image, png));
        engine::DecodedImage decoded;
        ASSERT_EQ(S_OK, engine::DecodePng(png, decoded));
        EXPECT_EQ(image.pixels, decoded.pixels);
        EXPECT_EQ(image.alpha, decoded.alpha);
        EXPECT_EQ(image.components, decoded.components);
        EXPECT_NEAR(image.dpiX, decoded.dpiX, 0.01);
    }
    engine::DecodedImage damaged = grey;
    damaged.pixels.pop_back();
    std::string png;
    EXPECT_EQ(E_INVALIDARG, engine::EncodePng(damaged, png)) << "fewer samples than its size";
}

TEST(GradientStops, LieWithinTheUnitAndFollowLinearLight) {
    engine::Brush brush;
    brush.kind = engine::BrushKind::LinearGradient;
    brush.stops = {{-1, {1, 1, 0, 0}}, {0.5, {1, 0, 0, 1}}, {3, {1, 0, 1, 0}}};
    std::vector<engine::GradientStop> stops = engine::StopsWithinUnit(brush);
    ASSERT_EQ(3u, stops.size());
    EXPECT_EQ(0, stops[0].offset);
    EXPECT_NEAR(1.0 / 3, stops[0].color.r, 1e-9) << "a third of the way from -1 to 0.5";
    EXPECT_EQ(1, stops[2].offset);
    EXPECT_NEAR(0.2, stops[2].color.g, 1e-9) << "a fifth of the way from 0.5 to 3";

    brush.stops = {{0, {1, 1, 0, 0}}, {1, {1, 0, 1, 0}}};
    brush.interpolateLinearLight = true;
    stops = engine::StopsWithinUnit(brush);
    const engine::GradientStop* middle = nullptr;
    for (const engine::GradientStop& stop : stops) {
        middle = stop.offset == 0.5 ? &stop : middle;
    }
    ASSERT_NE(nullptr, middle);
    // Half of each in linear light is 0.5, which sRGB writes as 0.735.
    EXPECT_NEAR(0.7354, middle->color.r, 1e-3);
    EXPECT_NEAR(0.7354, middle->color.g, 1e-3);
}

}  // namespace
