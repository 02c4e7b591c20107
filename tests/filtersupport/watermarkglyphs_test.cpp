// The watermark's text as glyph outlines from the system's font.
#include "driver/filters/watermarkglyphs.h"

#include <cwchar>
#include <string>

#include <gtest/gtest.h>

namespace {

struct Outline {
    HRESULT hr;
    std::wstring path;
    double advance = -1, ascent = -1, descent = -1;
};

Outline Outlined(const std::wstring& text, double emSize = 96.0) {
    Outline o;
    o.hr = TextOutlineGeometry(text, emSize, o.path, o.advance, o.ascent, o.descent);
    return o;
}

TEST(WatermarkGlyphs, OutlinesTextWithinItsAdvanceAndFont) {
    Outline draft = Outlined(L"DRAFT");
    ASSERT_EQ(draft.hr, S_OK);
    ASSERT_EQ(draft.path.compare(0, 4, L"F1 M"), 0) << draft.path.substr(0, 40);
    EXPECT_NE(draft.path.find(L'Z'), std::wstring::npos);
    // At 96 units to the em, Arial's capitals stand about 69 units high.
    EXPECT_GT(draft.ascent, 60.0);
    EXPECT_GT(draft.descent, 10.0);
    // The points span the advance right of the origin (a glyph may overhang
    // its advance a little) and stand above the baseline (y down) within the
    // ascent: the outline is scaled and turned.
    double minY = 0, maxY = 0, maxX = 0;
    const wchar_t* p = draft.path.c_str();
    while (*p != L'\0') {
        wchar_t* end;
        double x = std::wcstod(p, &end);
        if (end != p && *end == L',') {
            double y = std::wcstod(end + 1, &end);
            EXPECT_GE(x, -0.5);
            maxX = x > maxX ? x : maxX;
            minY = y < minY ? y : minY;
            maxY = y > maxY ? y : maxY;
            p = end;
        } else {
            ++p;
        }
    }
    EXPECT_LE(maxX, draft.advance * 1.02);
    EXPECT_GE(maxX, draft.advance * 0.9);
    EXPECT_LE(maxY, 0.5);
    EXPECT_LT(minY, -draft.ascent / 2);
    EXPECT_GE(minY, -draft.ascent);

    Outline longer = Outlined(L"DRAFT COPY");
    ASSERT_EQ(longer.hr, S_OK);
    EXPECT_GT(longer.advance, draft.advance + draft.advance / 2);
    Outline twice = Outlined(L"DRAFT", 192.0);
    EXPECT_NEAR(twice.advance, 2 * draft.advance, 0.01);
}

TEST(WatermarkGlyphs, EmptyTextIsNoGeometry) {
    Outline empty = Outlined(L"");
    EXPECT_EQ(empty.hr, S_OK);
    EXPECT_TRUE(empty.path.empty());
    EXPECT_EQ(empty.advance, 0.0);
    EXPECT_EQ(Outlined(L"X", 0.0).hr, E_INVALIDARG);
}

TEST(WatermarkGlyphs, SurrogatesBecomeTheReplacementCharacter) {
    Outline replaced = Outlined(
        L"A\xFFFD"
        L"B");
    ASSERT_EQ(replaced.hr, S_OK);
    for (const wchar_t* text : {L"A\xD800"
                                L"B",
                                L"A\xDC00"
                                L"B",
                                L"A\xD83D\xDE00"
                                L"B"}) {
        Outline o = Outlined(text);
        ASSERT_EQ(o.hr, S_OK);
        EXPECT_EQ(o.path, replaced.path);
        EXPECT_EQ(o.advance, replaced.advance);
    }
}

}  // namespace
