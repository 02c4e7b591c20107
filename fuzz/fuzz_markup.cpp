// The path mini-language and the markup values on any text: geometry in
// the abbreviated syntax, matrices, colours, rectangles, counts, resource
// references and glyph runs, each answer checked against markupvalues.h
// and geometrybuilder.h; numbers as the markup reader and writers read and
// write them.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/geometrybuilder.h"
#include "engine/markupvalues.h"
#include "fuzz/check.h"
#include "xps/utf8.h"
#include "xps/xmlnumber.h"

namespace {

bool Finite(engine::Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }
bool Unit(double v) { return v >= 0 && v <= 1; }

void CheckGeometry(const engine::Geometry& geometry, std::size_t maxFigures, std::size_t maxSegments) {
    FUZZ_CHECK(geometry.figures.size() <= maxFigures);
    std::size_t segments = 0;
    for (const engine::Figure& figure : geometry.figures) {
        FUZZ_CHECK(Finite(figure.start));
        for (const engine::Segment& segment : figure.segments) {
            FUZZ_CHECK(Finite(segment.end) && Finite(segment.control1) && Finite(segment.control2));
        }
        segments += figure.segments.size();
    }
    FUZZ_CHECK(segments <= maxSegments);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    auto text = [&input] { return xml::FromUtf8(input.ConsumeRandomLengthString(4096)); };

    engine::Geometry geometry;
    const std::size_t maxFigures = 1000, maxSegments = 20000;
    engine::GeometryBuilder builder(geometry, maxFigures, maxSegments);
    engine::FillRule rule = engine::FillRule::EvenOdd;
    if (SUCCEEDED(engine::ReadAbbreviatedGeometry(text(), builder, rule))) {
        CheckGeometry(geometry, maxFigures, maxSegments);
    }
    engine::Matrix matrix;
    if (engine::ParseMatrix(text(), matrix)) {
        FUZZ_CHECK(std::isfinite(matrix.m11) && std::isfinite(matrix.dx) && std::isfinite(matrix.dy));
        if (engine::TransformGeometry(geometry, matrix)) {
            CheckGeometry(geometry, maxFigures, maxSegments);
        }
    }
    engine::Color color;
    if (engine::ParseColor(text(), color)) {
        FUZZ_CHECK(Unit(color.a) && Unit(color.r) && Unit(color.g) && Unit(color.b));
    }
    std::wstring profile;
    double alpha = 0;
    std::vector<double> channels;
    if (engine::ReadContextColor(text(), profile, alpha, channels)) {
        FUZZ_CHECK(channels.size() >= 1 && channels.size() <= 8);
        for (double channel : channels) {
            FUZZ_CHECK(Unit(channel));
        }
    }
    engine::Rect rect;
    if (engine::ParseRect(text(), rect)) {
        FUZZ_CHECK(rect.width >= 0 && rect.height >= 0);
    }
    std::size_t count = 0, max = input.ConsumeIntegral<std::uint16_t>();
    if (engine::ParseCount(text(), max, count)) {
        FUZZ_CHECK(count <= max);
    }
    std::wstring key;
    std::wstring reference = text();
    if (engine::StaticResourceKey(reference, key)) {
        FUZZ_CHECK(engine::IsMarkupExtension(reference));
    }
    for (const std::wstring& word : engine::Words(text())) {
        FUZZ_CHECK(!word.empty());
    }
    std::wstring unicode = text();
    std::wstring indices = text();
    std::size_t maxGlyphs = 1 + input.ConsumeIntegral<std::uint8_t>();
    std::vector<engine::Glyph> glyphs;
    if (SUCCEEDED(engine::ReadGlyphRun(unicode, input.ConsumeBool() ? &indices : nullptr,
                                       input.ConsumeFloatingPointInRange(0.0, 1000.0), maxGlyphs, glyphs))) {
        FUZZ_CHECK(glyphs.size() <= maxGlyphs);
        for (const engine::Glyph& glyph : glyphs) {
            FUZZ_CHECK(glyph.firstCharacter + glyph.characterCount <= unicode.size());
            FUZZ_CHECK(std::isfinite(glyph.advance) && std::isfinite(glyph.offsetU) &&
                       std::isfinite(glyph.offsetV));
        }
    }
    double number = 0;
    if (xml::ParseNumber(text(), number)) {
        FUZZ_CHECK(std::isfinite(number));
        // What the writers write reads back.
        double again = 0;
        FUZZ_CHECK(xml::ParseNumber(xml::FormatNumber(number), again));
    }
    return 0;
}
