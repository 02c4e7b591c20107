// The watermark's text as glyph outlines from the system's font.
#include "driver/filters/watermarkglyphs.h"

#include <algorithm>
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

TEST(WatermarkGlyphs, OutlinesTextOnTheBaselineWithinItsAdvance) {
    Outline draft = Outlined(L"DRAFT");
    ASSERT_EQ(draft.hr, S_OK);
    ASSERT_EQ(draft.path.compare(0, 4, L"F1 M"), 0) << draft.path.substr(0, 40);
    EXPECT_GT(draft.ascent, 60.0);  // at 96 units to the em
    EXPECT_GT(draft.descent, 10.0);
    // Capitals stand on the baseline (y down: above is negative), from the
    // origin to the advance (a glyph may overhang it a little).
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (const wchar_t* p = draft.path.c_str(); *p != L'\0'; ++p) {
        wchar_t* end;
        double x = std::wcstod(p, &end);
        if (end != p && *end == L',') {
            double y = std::wcstod(end + 1, &end);
            minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y),
            maxY = std::max(maxY, y);
            p = end - 1;
        }
    }
    EXPECT_GE(minX, -0.5);
    EXPECT_TRUE(maxX >= draft.advance * 0.9 && maxX <= draft.advance * 1.02) << maxX << " " << draft.advance;
    EXPECT_TRUE(maxY <= 0.5 && minY < -draft.ascent / 2 && minY >= -draft.ascent) << minY << " " << maxY;

    EXPECT_GT(Outlined(L"DRAFT COPY").advance, draft.advance * 1.5);
    EXPECT_NEAR(Outlined(L"DRAFT", 192.0).advance, 2 * draft.advance, 0.01);
}

TEST(WatermarkGlyphs, EmptyTextIsNoGeometry) {
    Outline empty = Outlined(L"");
    EXPECT_TRUE(empty.hr == S_OK && empty.path.empty() && empty.advance == 0.0);
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
        EXPECT_TRUE(o.hr == S_OK && o.path == replaced.path && o.advance == replaced.advance);
    }
}

}  // namespace
