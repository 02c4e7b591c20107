#include "driver/filters/sheetlayout.h"

#include <cmath>

NUpLayout::NUpLayout(unsigned pagesPerSheet, PresentationDirection direction)
    : rows_(static_cast<unsigned>(std::sqrt(static_cast<double>(pagesPerSheet)) + 1e-9)),
      columns_((pagesPerSheet + rows_ - 1) / rows_),
      direction_(direction) {}

Cell NUpLayout::Place(unsigned index) const {
    using D = PresentationDirection;
    // The first word is the direction along a line, the second the one from
    // line to line.
    bool rowsAreLines = direction_ == D::RightBottom || direction_ == D::LeftBottom ||
                        direction_ == D::RightTop || direction_ == D::LeftTop;
    bool rightToLeft = direction_ == D::LeftBottom || direction_ == D::BottomLeft ||
                       direction_ == D::LeftTop || direction_ == D::TopLeft;
    bool bottomToTop = direction_ == D::RightTop || direction_ == D::TopRight || direction_ == D::LeftTop ||
                       direction_ == D::TopLeft;
    unsigned column = rowsAreLines ? index % columns_ : index / rows_;
    unsigned row = rowsAreLines ? index / columns_ : index % rows_;
    return {rightToLeft ? columns_ - 1 - column : column, bottomToTop ? rows_ - 1 - row : row};
}

std::vector<BookletSide> BookletSides(std::size_t pageCount) {
    std::size_t padded = (pageCount + 3) / 4 * 4;
    auto page = [&](std::size_t index) { return index < pageCount ? index : kBlankPage; };
    std::vector<BookletSide> sides(padded / 2);
    // Side s holds page s and its counterpart from the end: on a front (even
    // s) the counterpart goes left; on a back page s goes left, behind page
    // s-1 on the front's right.
    for (std::size_t side = 0; side < sides.size(); ++side) {
        std::size_t outer = padded - 1 - side;
        sides[side] =
            side % 2 == 0 ? BookletSide{page(outer), page(side)} : BookletSide{page(side), page(outer)};
    }
    return sides;
}
