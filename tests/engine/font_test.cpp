// engine::Font on DejaVu Sans made damaged or hostile: each fault fails
// cleanly with its HRESULT, a composite glyph that names itself stays
// bounded, and OS/2 fsType gives the embedding rights. What it reads of
// sound fonts is judged against fontTools by check-fonts.
#include "engine/font.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <tuple>

#include <gtest/gtest.h>

#include "xps/workbudget.h"

namespace {

std::string DejaVu() {
    std::ifstream in("Z:/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Big-endian numbers of `width` bytes in a font file.
std::uint32_t Get(const std::string& b, std::size_t at, int width) {
    std::uint32_t v = 0;
    for (int i = 0; i < width; ++i) {
        v = v << 8 | static_cast<unsigned char>(b[at + i]);
    }
    return v;
}
void Put(std::string& b, std::size_t at, std::uint32_t v, int width) {
    for (int i = width - 1; i >= 0; --i, v >>= 8) {
        b[at + i] = static_cast<char>(v);
    }
}

// The directory record of a table of a font file (to damage it).
std::size_t Record(const std::string& font, const char* tag) {
    for (std::size_t i = 0; i < Get(font, 4, 2); ++i) {
        if (font.compare(12 + 16 * i, 4, tag) == 0) {
            return 12 + 16 * i;
        }
    }
    ADD_FAILURE() << "no table " << tag;
    return 0;
}
std::size_t TableAt(const std::string& font, const char* tag) { return Get(font, Record(font, tag) + 8, 4); }
std::size_t GlyphAt(const std::string& font, std::uint16_t glyph) {
    std::size_t loca = TableAt(font, "loca");
    bool longLocations = Get(font, TableAt(font, "head") + 50, 2) == 1;
    return TableAt(font, "glyf") +
           (longLocations ? Get(font, loca + 4 * glyph, 4) : 2 * Get(font, loca + 2 * glyph, 2));
}

TEST(Font, DamagedFontsFailCleanly) {
    auto put = [](const char* tag, std::size_t field, std::uint32_t value) {
        return [=](std::string& f) { Put(f, Record(f, tag) + field, value, 4); };
    };
    const struct {
        const char* what;
        std::function<void(std::string&)> apply;
        HRESULT expected;
    } damages[] = {
        {"cut in half", [](std::string& f) { f.resize(f.size() / 2); }, engine::kFontDamaged},
        {"a ZIP header", [](std::string& f) { f.replace(0, 4, "PK\3\4"); }, engine::kNotAFont},
        {"shorter than a header", [](std::string& f) { f.resize(8); }, engine::kNotAFont},
        {"a length that wraps", put("glyf", 12, 0xFFFFFFF0u), engine::kFontDamaged},
        {"hmtx shorter than hhea says", put("hmtx", 12, 4), engine::kFontDamaged},
        {"a short head", put("head", 12, 20), engine::kFontDamaged},
        {"a glyph location past glyf", [](std::string& f) { Put(f, TableAt(f, "loca") + 4, ~0u >> 1, 4); },
         engine::kFontDamaged},
        {"65535 tables", [](std::string& f) { Put(f, 4, 0xFFFF, 2); }, engine::kFontOverCap},
        {"over the size cap", [](std::string& f) { f.resize(engine::Font::kMaxBytes + 1); },
         engine::kFontOverCap},
    };
    for (const auto& damage : damages) {
        std::string bytes = DejaVu();
        damage.apply(bytes);
        engine::Font font;
        EXPECT_EQ(damage.expected, font.Load(bytes, L"/font.ttf", false, 0)) << damage.what;
        EXPECT_EQ(0, font.GlyphCount()) << damage.what;
    }
    engine::Font font;
    EXPECT_EQ(engine::kFontDamaged, font.Load(DejaVu(), L"/font.ttf", false, 1)) << "a face of no collection";
    EXPECT_EQ(engine::kNotAFont, font.Load(DejaVu(), L"/Resources/font.odttf", true, 0))
        << "no GUID to restore";
}

TEST(Font, LyingGlyphsAreBounded) {
    std::string bytes = DejaVu();
    engine::Font font;
    ASSERT_EQ(S_OK, font.Load(bytes, L"/font.ttf", false, 0));
    std::uint16_t composite = font.GlyphFor(U'\u00C4'), simple = font.GlyphFor(U'H');
    ASSERT_EQ(0xFFFFu, Get(bytes, GlyphAt(bytes, composite), 2)) << "Ä is composite in DejaVu Sans";
    Put(bytes, GlyphAt(bytes, composite) + 12, composite, 2);  // its first component: itself
    std::size_t instructions = GlyphAt(bytes, simple) + 10 + 2 * Get(bytes, GlyphAt(bytes, simple), 2);
    Put(bytes, instructions, 0xFFFF, 2);  // past the glyph's end
    ASSERT_EQ(S_OK, font.Load(bytes, L"/font.ttf", false, 0));
    engine::Geometry outline;
    EXPECT_EQ(engine::kFontOverCap, font.Outline(composite, outline));
    EXPECT_EQ(engine::kFontDamaged, font.Outline(simple, outline));
    std::string subset;
    EXPECT_EQ(S_OK, font.Subset({composite}, subset));
}

// A cmap table of 65,535 records: they name two subtables, each read once,
// the one that maps nothing first; the job's budget pays a unit a record.
TEST(Font, ACmapOfManyRecordsReadsEachSubtableOnce) {
    std::string bytes = DejaVu();
    engine::Font original;
    ASSERT_EQ(S_OK, original.Load(bytes, L"/font.ttf", false, 0));
    std::size_t cmap = TableAt(bytes, "cmap"), good = 0;
    for (std::size_t i = 0; i < Get(bytes, cmap + 2, 2); ++i) {
        if (Get(bytes, cmap + 4 + 8 * i, 4) == 0x00030001) {
            good = Get(bytes, cmap + 8 + 8 * i, 4);
        }
    }
    ASSERT_NE(0u, good) << "DejaVu Sans has a (3,1) subtable";
    const std::size_t records = 65535;
    std::string table(4 + 8 * records, '\0');
    Put(table, 2, records, 2);
    for (std::size_t i = 0; i < records; ++i) {
        Put(table, 4 + 8 * i, 0x00030001, 4);
        Put(table, 8 + 8 * i, static_cast<std::uint32_t>(i + 1 < records ? table.size() : table.size() + 32), 4);
    }
    // Codes 0 to 0xBFFE onto glyphs 0x4000 and up, which the font lacks.
    const std::uint16_t nothing[] = {4, 32, 0, 4, 4, 1, 0, 0xBFFE, 0xFFFF, 0, 0, 0xFFFF, 0x4000, 1, 0, 0};
    for (std::uint16_t field : nothing) {
        table += std::string{static_cast<char>(field >> 8), static_cast<char>(field)};
    }
    table += bytes.substr(cmap + good, Get(bytes, cmap + good + 2, 2));
    Put(bytes, Record(bytes, "cmap") + 8, static_cast<std::uint32_t>(bytes.size()), 4);
    Put(bytes, Record(bytes, "cmap") + 12, static_cast<std::uint32_t>(table.size()), 4);
    bytes += table;

    xps::WorkBudget budget(4 * records, 0);
    xps::WorkBudget::Scope scope(budget);
    engine::Font font;
    ASSERT_EQ(S_OK, font.Load(bytes, L"/font.ttf", false, 0));
    EXPECT_EQ(S_OK, budget.Failure());
    EXPECT_EQ(original.GlyphFor(U'M'), font.GlyphFor(U'M'));
    EXPECT_NE(0, font.GlyphFor(U'M'));
}

// A face of a collection whose directory names head twice, the second too
// short for its fields: the font's program has the first one only.
TEST(Font, ACollectionsFaceKeepsTheFirstOfARepeatedTable) {
    std::string face = DejaVu();
    std::size_t repeated = Record(face, "prep");  // after head in the directory
    face.replace(repeated, 4, "head");
    Put(face, repeated + 12, 20, 4);
    const std::size_t header = 16;
    for (std::size_t i = 0; i < Get(face, 4, 2); ++i) {
        Put(face, 12 + 16 * i + 8, static_cast<std::uint32_t>(Get(face, 12 + 16 * i + 8, 4) + header), 4);
    }
    std::string collection("ttcf\0\1\0\0\0\0\0\1\0\0\0\0", header);
    Put(collection, 12, header, 4);
    collection += face;
    engine::Font font;
    ASSERT_EQ(S_OK, font.Load(collection, L"/fonts.ttc", false, 0));
    std::string program;
    ASSERT_EQ(S_OK, font.Program(program));
    int heads = 0;
    for (std::size_t i = 0; i < Get(program, 4, 2); ++i) {
        if (program.compare(12 + 16 * i, 4, "head") == 0) {
            ++heads;
            EXPECT_LE(54u, Get(program, 12 + 16 * i + 12, 4));
        }
    }
    EXPECT_EQ(1, heads);
}

TEST(Font, EmbeddingRightsFollowFsType) {
    const std::tuple<std::uint16_t, bool, bool> rights[] = {
        // fsType, may embed, may subset
        {0x0000, true, true}, {0x0002, false, true}, {0x0004, true, true},
        {0x000A, true, true}, {0x0208, false, true}, {0x0108, true, false},
    };
    for (const auto& [fsType, mayEmbed, maySubset] : rights) {
        std::string bytes = DejaVu();
        Put(bytes, TableAt(bytes, "OS/2") + 8, fsType, 2);
        engine::Font font;
        ASSERT_EQ(S_OK, font.Load(bytes, L"/font.ttf", false, 0));
        EXPECT_EQ(mayEmbed, font.MayEmbed()) << std::hex << fsType;
        EXPECT_EQ(maySubset, font.MaySubset()) << std::hex << fsType;
    }
}

}  // namespace
