// What engine::Font reads of one face, for check-fonts to judge:
//   engine_fontdump OUT FACE FONTFILE | OUT FACE PACKAGE.xps PART
// OUT.txt (metrics, each glyph's advances and code point, the cmap, outlines
// of the first glyphs and the subset's), OUT.program, OUT.subset.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "engine/font.h"
#include "xps/xpspackage.h"

namespace {

std::wstring Widen(const char* text) { return std::wstring(text, text + std::strlen(text)); }

// Each segment with the point it starts at.
void PrintOutline(FILE* out, const engine::Font& font, std::uint16_t glyph) {
    engine::Geometry outline;
    std::fprintf(out, "outline %u %08lx", glyph, static_cast<unsigned long>(font.Outline(glyph, outline)));
    auto print = [out](engine::Point p, const char* before = "") {
        std::fprintf(out, "%s %.6f %.6f", before, p.x, p.y);
    };
    for (const engine::Figure& figure : outline.figures) {
        engine::Point at = figure.start;
        for (const engine::Segment& s : figure.segments) {
            print(at, " |");
            if (s.cubic) {
                print(s.control1);
                print(s.control2);
            }
            print(at = s.end);
        }
    }
    std::fprintf(out, "\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return 2;
    }
    std::string out = argv[1], bytes;
    std::wstring part = Widen(argv[argc > 4 ? 4 : 3]);
    xps::XpsPackage package;
    HRESULT hr = argc > 4 ? package.OpenFile(Widen(argv[3])) : S_OK;
    if (argc > 4 && SUCCEEDED(hr)) {
        hr = package.Read(part, bytes);
    } else if (argc == 4) {
        std::ifstream in(argv[3], std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool obfuscated =
        argc > 4 && package.ContentType(part) == L"application/vnd.ms-package.obfuscated-opentype";
    engine::Font font;
    hr = SUCCEEDED(hr) ? font.Load(bytes, part, obfuscated, static_cast<std::uint16_t>(std::atoi(argv[2])))
                       : hr;
    FILE* text = SUCCEEDED(hr) ? std::fopen((out + ".txt").c_str(), "w") : nullptr;
    if (text == nullptr) {
        std::fprintf(stderr, "engine_fontdump: %s: 0x%08lx\n", argv[3], static_cast<unsigned long>(hr));
        return 1;
    }
    // In the order check-fonts names them.
    const engine::FontMetrics& m = font.Metrics();
    std::fprintf(text, "metrics %u %d %d %d %d %d %d %d %.6f %d %d %u %u %d %d %d %d %d %d %d\n",
                 m.unitsPerEm, m.xMin, m.yMin, m.xMax, m.yMax, m.ascender, m.descender, m.lineGap,
                 m.italicAngle, m.fixedPitch, m.symbolic, m.fsType, m.weightClass, m.typoAscender,
                 m.typoDescender, m.winAscent, m.winDescent, m.capHeight, m.xHeight, font.IsCff());
    std::fprintf(text, "name %s\n", m.postScriptName.c_str());
    std::set<std::uint16_t> chosen{static_cast<std::uint16_t>(font.GlyphCount() - 1)};
    for (char32_t code : std::u32string(U"Zorvane ÄÖÜ éñ 0123 fi 中文")) {
        chosen.insert(font.GlyphFor(code));
    }
    for (unsigned glyph = 0; glyph < font.GlyphCount(); ++glyph) {
        std::fprintf(text, "glyph %u %d %d %lu\n", glyph, font.Advance(glyph), font.VerticalAdvance(glyph),
                     static_cast<unsigned long>(font.CodePointOf(glyph)));
        if (glyph < 400 || chosen.count(static_cast<std::uint16_t>(glyph))) {
            PrintOutline(text, font, static_cast<std::uint16_t>(glyph));
        }
    }
    for (char32_t code = 0; code <= 0x10FFFF; ++code) {
        if (std::uint16_t glyph = font.GlyphFor(code)) {
            std::fprintf(text, "cmap %lu %u\n", static_cast<unsigned long>(code), glyph);
        }
    }
    std::string program, subset;
    HRESULT subsetHr = font.Subset(chosen, subset);
    std::fprintf(text, "subset %08lx", static_cast<unsigned long>(subsetHr));
    for (std::uint16_t glyph : chosen) {
        std::fprintf(text, " %u", glyph);
    }
    bool written = std::fclose(text) == 0 && SUCCEEDED(font.Program(program)) &&
                   std::ofstream(out + ".program", std::ios::binary) << program &&
                   (FAILED(subsetHr) || std::ofstream(out + ".subset", std::ios::binary) << subset);
    return written ? 0 : 1;
}
