// Where the N-up and booklet filters put pages, judged as a reader of the
// sheets sees them: the direction's words, the folded booklet.
#include "driver/filters/sheetlayout.h"

#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(NUpLayout, PagesGoAlongTheFirstWordLineAfterLineTheSecondWordsWay) {
    using D = PresentationDirection;
    const std::pair<D, const char*> table[] = {
        {D::RightBottom, "RB"}, {D::BottomRight, "BR"}, {D::LeftBottom, "LB"}, {D::BottomLeft, "BL"},
        {D::RightTop, "RT"},    {D::TopRight, "TR"},    {D::LeftTop, "LT"},    {D::TopLeft, "TL"}};
    auto dc = [](char word) { return word == 'R' ? 1 : word == 'L' ? -1 : 0; };  // a word's step in columns
    auto dr = [](char word) { return word == 'B' ? 1 : word == 'T' ? -1 : 0; };  // and in rows
    for (const auto& [direction, words] : table) {
        for (int pages = 1; pages <= 16; ++pages) {
            NUpLayout layout(pages, direction);
            int columns = layout.Columns(), rows = layout.Rows();
            // Never taller than wide, nearly square, no line left empty; the
            // Print Schema's counts up to 8 (all even) fill it: 8 is 4x2, not 3x3.
            EXPECT_TRUE(columns >= rows && columns <= rows + 2 && columns * rows >= pages &&
                        (columns - 1) * rows < pages && columns * (rows - 1) < pages &&
                        (columns * rows == pages || pages % 2 == 1 || pages > 8))
                << pages;
            // The first page in the corner both words lead away from, then
            // one step along the line, or from its end to the next line's start.
            int startC = dc(words[0]) + dc(words[1]) < 0 ? columns - 1 : 0;
            int startR = dr(words[0]) + dr(words[1]) < 0 ? rows - 1 : 0;
            for (int i = 0, c = startC, r = startR; i < pages; ++i) {
                Cell cell = layout.Place(i);
                EXPECT_EQ((std::pair<int, int>(cell.column, cell.row)), std::pair(c, r))
                    << words << ", " << pages << " pages, page " << i;
                int nextC = c + dc(words[0]), nextR = r + dr(words[0]);
                bool ends = nextC < 0 || nextC >= columns || nextR < 0 || nextR >= rows;
                c = !ends ? nextC : dc(words[0]) != 0 ? startC : c + dc(words[1]);
                r = !ends ? nextR : dr(words[0]) != 0 ? startR : r + dr(words[1]);
            }
        }
    }
}

TEST(BookletSides, FoldedSheetsReadFromTheFirstPageToTheLastThenBlanks) {
    for (size_t pages = 1; pages <= 9; ++pages) {
        std::vector<size_t> expected, read;
        for (size_t page = 0; page < pages || expected.size() % 4 != 0; ++page) {
            expected.push_back(page < pages ? page : kBlankPage);
        }
        std::vector<BookletSide> s = BookletSides(pages);
        ASSERT_EQ(s.size() * 2, expected.size()) << pages << " pages";
        // Side 2k is sheet k's front, 2k+1 its back, whose left lies behind the
        // front's right. Stacked first sheet outside and folded, the right
        // halves read outside in, then the left halves inside out.
        for (size_t k = 0; k < s.size(); k += 2) {
            read.insert(read.end(), {s[k].right, s[k + 1].left});
        }
        for (size_t k = s.size(); k > 0; k -= 2) {
            read.insert(read.end(), {s[k - 1].right, s[k - 2].left});
        }
        EXPECT_EQ(read, expected) << pages << " pages";
    }
}

}  // namespace
