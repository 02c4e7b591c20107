// The rasteriser and the picture writers on pages built here: pixels where
// XPS says exactly what they are (group opacity, masks, gradients' places,
// a tile's edge), a page drawn in bands as drawn whole, a region and chosen
// elements as the whole page shows them, the caps; and PNG, TIFF and JPEG
// as Windows' decoders and the engine's own read them back.
#include "engine/rasteriser.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include <gtest/gtest.h>
#include <zlib.h>

#include "engine/converter.h"
#include "engine/gradientramp.h"
#include "engine/image.h"
#include "engine/pagereader.h"
#include "tests/xps/testarchive.h"
#include "xps/ziparchive.h"

namespace {

const std::string kXps = "http://schemas.microsoft.com/xps/2005/06";

// A red pixel, then a blue one, then white and yellow; 2 x 2.
std::string Png2x2() {
    std::string rows("\0\xFF\x00\x00\x00\x00\xFF\0\xFF\xFF\xFF\xFF\xFF\x00", 14);
    auto chunk = [](const std::string& type, const std::string& data) {
        std::string length = {static_cast<char>(data.size() >> 24), static_cast<char>(data.size() >> 16),
                              static_cast<char>(data.size() >> 8), static_cast<char>(data.size())};
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>((type + data).data()),
                          static_cast<uInt>(type.size() + data.size()));
        return length + type + data +
               std::string{static_cast<char>(crc >> 24), static_cast<char>(crc >> 16),
                           static_cast<char>(crc >> 8), static_cast<char>(crc)};
    };
    uLongf size = compressBound(static_cast<uLong>(rows.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(rows.data()),
             static_cast<uLong>(rows.size()));
    packed.resize(size);
    return "\x89PNG\r\n\x1A\n" + chunk("IHDR", std::string("\0\0\0\x02\0\0\0\x02\x08\x02\0\0\0", 13)) +
           chunk("IDAT", packed) + chunk("IEND", "");
}

// A document of pages of the given markup, 60 x 40 units, with DejaVu Sans
// as /f.ttf and Png2x2() as /i.png; its first page read, and a rasteriser
// to draw it at dpi.
struct Document {
    xps::XpsPackage package;
    engine::Page first;
    std::unique_ptr<engine::Rasteriser> rasteriser;
    engine::RasterOptions options;

    HRESULT Open(const std::vector<std::string>& contents, double dpi) {
        std::ifstream font("Z:/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
        std::vector<ziptest::Item> items = {
            {"[Content_Types].xml",
             "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default "
             "Extension=\"png\" ContentType=\"image/png\"/></Types>"},
            {"_rels/.rels",
             "<Relationships "
             "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
             "Id=\"R0\" Type=\"http://schemas.microsoft.com/xps/2005/06/fixedrepresentation\" "
             "Target=\"/s.fdseq\"/></Relationships>"},
            {"s.fdseq", "<FixedDocumentSequence xmlns=\"" + kXps +
                            "\"><DocumentReference Source=\"/d.fdoc\"/></FixedDocumentSequence>"},
            {"f.ttf", std::string(std::istreambuf_iterator<char>(font), {})},
            {"i.png", Png2x2()}};
        std::string references;
        for (std::size_t i = 0; i < contents.size(); ++i) {
            std::string name = std::to_string(i + 1) + ".fpage";
            items.push_back({name, "<FixedPage xmlns=\"" + kXps + "\" Width=\"60\" Height=\"40\">" +
                                       contents[i] + "</FixedPage>"});
            references += "<PageContent Source=\"/" + name + "\"/>";
        }
        items.push_back(
            {"d.fdoc", "<FixedDocument xmlns=\"" + kXps + "\">" + references + "</FixedDocument>"});
        rasteriser.reset(new engine::Rasteriser(package));
        options.dpi = dpi;
        HRESULT hr =
            package.Open(std::unique_ptr<xps::ByteSource>(new xps::MemorySource(ziptest::Archive(items))));
        return SUCCEEDED(hr) ? engine::ReadPage(package, L"/1.fpage", first) : hr;
    }
};

// The picture whole, from its bands in order.
HRESULT Draw(engine::Rasteriser& rasteriser, const engine::Page& page, const engine::RasterOptions& options,
             std::vector<std::uint32_t>& picture, unsigned& width) {
    picture.clear();
    return rasteriser.Draw(page, options, [&](const engine::RasterBand& band) {
        EXPECT_EQ(picture.size(), static_cast<std::size_t>(band.top) * band.width);
        picture.insert(picture.end(), band.pixels,
                       band.pixels + static_cast<std::size_t>(band.width) * band.rows);
        width = band.width;
        return S_OK;
    });
}

// "R,G,B" of a premultiplied pixel on white.
std::string Rgb(std::uint32_t pixel) {
    return std::to_string(pixel >> 16 & 255) + "," + std::to_string(pixel >> 8 & 255) + "," +
           std::to_string(pixel & 255);
}

TEST(Rasteriser, DrawsWhatXpsDefinesExactly) {
    const struct {
        const char* markup;
        int x, y;
        const char* rgb;
    } cases[] = {
        // Opacity fades the canvas as a whole: where blue covers red, blue.
        {"<Canvas Opacity=\"0.5\"><Path Data=\"M0,0 H40 V40 H0Z\" Fill=\"#FF0000\"/>"
         "<Path Data=\"M20,0 H60 V40 H20Z\" Fill=\"#0000FF\"/></Canvas>",
         30, 20, "127,127,255"},
        {"<Path Data=\"M0,0 H60 V40 H0Z\" Fill=\"#008000\"><Path.OpacityMask><SolidColorBrush "
         "Color=\"#40000000\"/>"
         "</Path.OpacityMask></Path>",
         30, 20, "191,223,191"},
        // Padded beyond its end; reflected back in its second length.
        {"<Path Data=\"M0,0 H60 V40 H0Z\"><Path.Fill><LinearGradientBrush MappingMode=\"Absolute\" "
         "StartPoint=\"0,0\" EndPoint=\"20,0\"><LinearGradientBrush.GradientStops><GradientStop "
         "Color=\"#000000\" "
         "Offset=\"0\"/><GradientStop Color=\"#FFFFFF\" Offset=\"1\"/></LinearGradientBrush.GradientStops>"
         "</LinearGradientBrush></Path.Fill></Path>",
         50, 20, "255,255,255"},
        {"<Path Data=\"M0,0 H60 V40 H0Z\"><Path.Fill><LinearGradientBrush MappingMode=\"Absolute\" "
         "StartPoint=\"0,0\" EndPoint=\"16,0\" SpreadMethod=\"Reflect\"><LinearGradientBrush.GradientStops>"
         "<GradientStop Color=\"#000000\" Offset=\"0\"/><GradientStop Color=\"#FFFFFF\" Offset=\"1\"/>"
         "</LinearGradientBrush.GradientStops></LinearGradientBrush></Path.Fill></Path>",
         27, 20, "72,72,72"},
        // An image shown once keeps its own colours to the viewport's edge.
        {"<Path Data=\"M0,0 H60 V40 H0Z\"><Path.Fill><ImageBrush ImageSource=\"/i.png\" Viewbox=\"0,0,2,2\" "
         "ViewboxUnits=\"Absolute\" Viewport=\"0,0,60,40\" ViewportUnits=\"Absolute\"/></Path.Fill></Path>",
         59, 39, "255,255,0"},
        // The second tile of a flipped row is the first mirrored.
        {"<Path Data=\"M0,0 H60 V40 H0Z\"><Path.Fill><VisualBrush Viewbox=\"0,0,10,10\" "
         "ViewboxUnits=\"Absolute\" "
         "Viewport=\"0,0,20,20\" ViewportUnits=\"Absolute\" TileMode=\"FlipX\"><VisualBrush.Visual><Path "
         "Data=\"M0,0 H5 V10 H0Z\" Fill=\"#0000FF\"/></VisualBrush.Visual></VisualBrush></Path.Fill></Path>",
         35, 5, "0,0,255"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.markup);
        Document document;
        ASSERT_EQ(S_OK, document.Open({c.markup}, 96));
        const engine::Page& page = document.first;
        engine::Rasteriser& rasteriser = *document.rasteriser;
        engine::RasterOptions& options = document.options;
        std::vector<std::uint32_t> picture;
        unsigned width = 0;
        ASSERT_EQ(S_OK, Draw(rasteriser, page, options, picture, width));
        ASSERT_EQ(60u * 40u, picture.size());
        EXPECT_EQ(c.rgb, Rgb(picture[c.y * width + c.x]));
    }
}

TEST(GradientRamp, PlacesPointsAsXpsDefines) {
    engine::Brush linear;
    linear.kind = engine::BrushKind::LinearGradient;
    linear.end = {10, 0};
    engine::Brush radial;
    radial.kind = engine::BrushKind::RadialGradient;
    radial.radiusX = 10;
    radial.radiusY = 5;
    const struct {
        const engine::Brush& brush;
        engine::Point origin;
        engine::Point at;
        double place;  // NAN: the gradient does not reach there
    } cases[] = {
        {linear, {}, {5, 7}, 0.5},       {linear, {}, {-5, 0}, -0.5},
        {radial, {}, {5, 0}, 0.5},       {radial, {}, {0, -2.5}, 0.5},
        {radial, {5, 0}, {10, 0}, 1},  // on the ellipse, whatever the origin
        {radial, {5, 0}, {7.5, 0}, 0.5}, {radial, {5, 0}, {-10, 0}, 1},
        {radial, {20, 0}, {30, 0}, NAN},  // behind an origin outside the ellipse
    };
    for (const auto& c : cases) {
        engine::Brush brush = c.brush;
        brush.gradientOrigin = c.origin;
        brush.stops = {{0, {1, 0, 0, 0}}, {1, {1, 1, 1, 1}}};
        double place = engine::GradientRamp(brush, 1).PlaceOf(c.at);
        if (std::isnan(c.place)) {
            EXPECT_TRUE(std::isnan(place)) << place;
        } else {
            EXPECT_NEAR(c.place, place, 1e-9) << c.at.x << "," << c.at.y;
        }
    }
    const struct {
        engine::SpreadMethod spread;
        double place;
        std::uint32_t grey;
    } spreads[] = {{engine::SpreadMethod::Pad, 1.5, 255},      {engine::SpreadMethod::Pad, -1, 0},
                   {engine::SpreadMethod::Reflect, 1.25, 191}, {engine::SpreadMethod::Reflect, -0.25, 64},
                   {engine::SpreadMethod::Repeat, 1.25, 64},   {engine::SpreadMethod::Repeat, -0.25, 191}};
    for (const auto& s : spreads) {
        engine::Brush brush = linear;
        brush.spread = s.spread;
        brush.stops = {{0, {1, 0, 0, 0}}, {1, {1, 1, 1, 1}}};
        EXPECT_NEAR(s.grey, engine::GradientRamp(brush, 1).At(s.place) & 255, 1) << s.place;
    }
}

// Text, a gradient under a mask, a tiled visual, an image and a clip: what
// layers and strips cross band edges with.
const char kBusyPage[] =
    "<Canvas Clip=\"M2,2 H58 V38 H2Z\"><Path Data=\"M0,0 H60 V40 H0Z\"><Path.Fill><RadialGradientBrush "
    "Center=\"0.5,0.5\" GradientOrigin=\"0.3,0.3\" RadiusX=\"0.5\" "
    "RadiusY=\"0.5\"><RadialGradientBrush.GradientStops>"
    "<GradientStop Color=\"#FFFF00\" Offset=\"0\"/><GradientStop Color=\"#800080\" Offset=\"1\"/>"
    "</RadialGradientBrush.GradientStops></RadialGradientBrush></"
    "Path.Fill><Path.OpacityMask><LinearGradientBrush "
    "StartPoint=\"0,0\" EndPoint=\"0,1\"><LinearGradientBrush.GradientStops><GradientStop "
    "Color=\"#FF000000\" "
    "Offset=\"0\"/><GradientStop Color=\"#00000000\" Offset=\"1\"/></LinearGradientBrush.GradientStops>"
    "</LinearGradientBrush></Path.OpacityMask></Path>"
    "<Path Data=\"M30,5 H55 V30 H30Z\" Opacity=\"0.7\"><Path.Fill><VisualBrush Viewbox=\"0,0,4,4\" "
    "ViewboxUnits=\"Absolute\" Viewport=\"0,0,7,7\" ViewportUnits=\"Absolute\" TileMode=\"FlipXY\">"
    "<VisualBrush.Visual><Path Data=\"M0,0 L4,0 0,4Z\" Fill=\"#E06000\"/></VisualBrush.Visual></VisualBrush>"
    "</Path.Fill></Path>"
    "<Path Data=\"M5,20 H25 V35 H5Z\"><Path.Fill><ImageBrush ImageSource=\"/i.png\" Viewbox=\"0,0,2,2\" "
    "ViewboxUnits=\"Absolute\" Viewport=\"5,20,6,6\" ViewportUnits=\"Absolute\" "
    "TileMode=\"Tile\"/></Path.Fill>"
    "</Path>"
    "<Glyphs FontUri=\"/f.ttf\" FontRenderingEmSize=\"13\" OriginX=\"3\" OriginY=\"16\" "
    "UnicodeString=\"Band\" "
    "Fill=\"#000080\" StyleSimulations=\"BoldSimulation\"/></Canvas>";

TEST(Rasteriser, DrawsInBandsWhatItDrawsWhole) {
    Document document;
    ASSERT_EQ(S_OK, document.Open({kBusyPage}, 192));
    std::vector<std::uint32_t> whole, banded;
    unsigned width = 0;
    ASSERT_EQ(S_OK, Draw(*document.rasteriser, document.first, document.options, whole, width));
    // Bands of 5 rows, and room for as much again: a layer and its mask do
    // not fit beside a band, which is then drawn again as halves.
    document.options.maxBandBytes = width * 4 * 5;
    ASSERT_EQ(S_OK, Draw(*document.rasteriser, document.first, document.options, banded, width));
    EXPECT_TRUE(whole == banded);
}

TEST(Rasteriser, DrawsARegionAndChosenElementsAsThePageShowsThem) {
    Document document;
    ASSERT_EQ(S_OK, document.Open({kBusyPage}, 96));
    unsigned width = 0, height = 0, regionWidth = 0, regionHeight = 0;
    std::string whole, region;
    ASSERT_EQ(S_OK, document.rasteriser->DrawRgb(document.first, document.options, width, height, whole));
    document.options.area = {10, 12, 30, 20};
    ASSERT_EQ(S_OK, document.rasteriser->DrawRgb(document.first, document.options, regionWidth, regionHeight,
                                                 region));
    ASSERT_EQ(30u * 20u * 3, region.size());
    for (unsigned y = 0; y < regionHeight; ++y) {
        ASSERT_EQ(whole.substr(((12 + y) * width + 10) * 3, regionWidth * 3),
                  region.substr(y * regionWidth * 3, regionWidth * 3))
            << "row " << y;
    }
    // The image's path alone, as the page without the others would show it.
    const engine::Canvas& canvas = *document.first.root.children[0].canvas;
    std::unordered_set<const engine::Element*> chosen = {&canvas.children[2]};
    document.options = engine::RasterOptions();
    document.options.only = &chosen;
    std::string alone, without;
    ASSERT_EQ(S_OK, document.rasteriser->DrawRgb(document.first, document.options, width, height, alone));
    engine::Page reduced = document.first;
    auto inner = std::make_shared<engine::Canvas>(canvas);
    inner->children = {canvas.children[2]};
    reduced.root.children[0].canvas = inner;
    ASSERT_EQ(S_OK, document.rasteriser->DrawRgb(reduced, engine::RasterOptions(), width, height, without));
    EXPECT_TRUE(alone == without);
}

TEST(Rasteriser, FailsAPictureOverItsCaps) {
    const struct {
        double width;
        double dpi;
        std::size_t maxBandBytes;
        HRESULT result;
    } cases[] = {
        {19200, 1200, engine::Rasteriser::kMaxBandBytes, xps::kOverCap},  // 240,000 pixels wide
        {800, 96, 3199, xps::kOverCap},                                   // less than a row of 800 pixels
        {800, 96, 3200, S_OK},
    };
    for (const auto& c : cases) {
        engine::Page page;
        page.width = c.width;
        page.height = 10;
        xps::XpsPackage package;
        engine::Rasteriser rasteriser(package);
        engine::RasterOptions options;
        options.dpi = c.dpi;
        options.maxBandBytes = c.maxBandBytes;
        EXPECT_EQ(c.result, rasteriser.Draw(page, options, [](const engine::RasterBand&) { return S_OK; }))
            << c.width << " at " << c.dpi;
    }
}

// Each page's file as engine::Convert writes it, by page number.
HRESULT Convert(Document& document, engine::OutputFormat format, bool transparent,
                std::map<unsigned, std::string>& files) {
    engine::ConvertOptions options;
    options.format = format;
    options.dpi = 150;
    options.transparent = transparent;
    unsigned current = 1;
    options.beginFile = [&](unsigned page) {
        current = page;
        return S_OK;
    };
    return engine::Convert(document.package, options, [&](const void* bytes, std::size_t size) {
        files[current].append(static_cast<const char*>(bytes), size);
        return S_OK;
    });
}

TEST(RasterWriters, WritePicturesTheirReadersReadBackAsDrawn) {
    Document document;
    ASSERT_EQ(S_OK,
              document.Open({kBusyPage, "<Path Data=\"M10,10 H50 V30 H10Z\" Fill=\"#80FF0000\"/>"}, 150));
    const engine::Page& page = document.first;
    engine::Rasteriser& rasteriser = *document.rasteriser;
    engine::RasterOptions& options = document.options;
    unsigned width = 0, height = 0;
    std::string drawn;
    ASSERT_EQ(S_OK, rasteriser.DrawRgb(page, options, width, height, drawn));
    const struct {
        engine::OutputFormat format;
        HRESULT (*decode)(const std::string&, engine::DecodedImage&);
        std::size_t files;
        double meanDifference;  // of a sample; 0: lossless
    } cases[] = {{engine::OutputFormat::Png, engine::DecodePng, 2, 0},
                 {engine::OutputFormat::Tiff, engine::DecodeWithWic, 1, 0},
                 // Wine's encoder: quality 76, colour at half the resolution,
                 // on a small page that is mostly edges.
                 {engine::OutputFormat::Jpeg, engine::DecodeWithWic, 2, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.format));
        std::map<unsigned, std::string> files;
        ASSERT_EQ(S_OK, Convert(document, c.format, false, files));
        EXPECT_EQ(c.files, files.size());
        engine::DecodedImage image;
        ASSERT_EQ(S_OK, c.decode(files[1], image));
        EXPECT_EQ(width, image.width);
        EXPECT_EQ(height, image.height);
        EXPECT_NEAR(150, image.dpiX, 0.02);  // PNG's pixels a metre: 5906
        ASSERT_EQ(drawn.size(), image.pixels.size());
        double total = 0;
        for (std::size_t i = 0; i < drawn.size(); ++i) {
            total +=
                std::abs(static_cast<unsigned char>(drawn[i]) - static_cast<unsigned char>(image.pixels[i]));
        }
        EXPECT_LE(total / drawn.size(), c.meanDifference);
    }
    // Kept transparent: the second page's corner is clear, its square half red.
    std::map<unsigned, std::string> files;
    ASSERT_EQ(S_OK, Convert(document, engine::OutputFormat::Png, true, files));
    engine::DecodedImage image;
    ASSERT_EQ(S_OK, engine::DecodePng(files[2], image));
    ASSERT_EQ(static_cast<std::size_t>(image.width) * image.height, image.alpha.size());
    EXPECT_EQ(0, image.alpha[0]);
    std::size_t middle = image.width * (image.height / 2) + image.width / 2;
    EXPECT_EQ(128, static_cast<unsigned char>(image.alpha[middle]));
    EXPECT_EQ(std::string("\xFF\0\0", 3), image.pixels.substr(middle * 3, 3));
}

}  // namespace
