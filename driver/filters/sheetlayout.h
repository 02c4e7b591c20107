// Where pages go on the sheets the N-up and booklet filters make: cells of a
// grid counted from the sheet's top left, apart from the pages' markup.
#pragma once

#include <cstddef>
#include <vector>

#include "driver/filters/filtersettings.h"

struct Cell {
    unsigned column = 0;
    unsigned row = 0;
};

// N-up: pagesPerSheet pages (1 or more) on a grid of as many rows as the
// whole part of its square root and the columns they then need, so never
// taller than wide (2 -> 2x1, 6 -> 3x2, 8 -> 4x2, 9 -> 3x3), filled in the
// order the direction names.
class NUpLayout {
public:
    NUpLayout(unsigned pagesPerSheet, PresentationDirection direction);

    unsigned Columns() const { return columns_; }
    unsigned Rows() const { return rows_; }
    // The cell of the index-th page of a sheet (index < pagesPerSheet).
    Cell Place(unsigned index) const;

private:
    unsigned rows_;
    unsigned columns_;
    PresentationDirection direction_;
};

// Booklet: the pages of one sheet side, as indexes into the booklet's pages
// (documents bound together count as one run of pages); kBlankPage where the
// side is paper.
constexpr std::size_t kBlankPage = static_cast<std::size_t>(-1);
struct BookletSide {
    std::size_t left = kBlankPage;
    std::size_t right = kBlankPage;
};

// Every side of a booklet of pageCount pages, front and back of each sheet in
// turn: whole sheets (blank pages fill up to a multiple of four, after the
// last page) in the order that, printed on both sides, stacked and folded,
// reads from first to last.
std::vector<BookletSide> BookletSides(std::size_t pageCount);
