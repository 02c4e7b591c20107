// zorvanenup.dll: psk:DocumentNUp / psk:JobNUpAllDocumentsContiguously with
// psk:PagesPerSheet and psk:PresentationDirection. Each document starts on a
// sheet of its own unless the job-level feature puts all documents together.
#include <cmath>
#include <new>

#include "driver/filters/sheetfilter.h"

// {23FCEED8-2BAE-44E4-A8C4-1514062F9DC4}
const CLSID kFilterClassId = {0x23fceed8, 0x2bae, 0x44e4, {0xa8, 0xc4, 0x15, 0x14, 0x06, 0x2f, 0x9d, 0xc4}};

namespace {

constexpr unsigned kMaxPagesPerSheet = 16;

// Rows and columns on a sheet: 2 -> 2x1, 4 -> 2x2, 6 -> 3x2, 8 -> 4x2, 9 -> 3x3, 16 -> 4x4.
void Grid(unsigned pagesPerSheet, unsigned& columns, unsigned& rows) {
    rows = static_cast<unsigned>(std::sqrt(static_cast<double>(pagesPerSheet)) + 1e-9);
    columns = (pagesPerSheet + rows - 1) / rows;
}

// The column and row of the index-th page on a sheet.
std::pair<unsigned, unsigned> Place(unsigned index, unsigned columns, unsigned rows,
                                    PresentationDirection direction) {
    bool columnsFirst =
        direction == PresentationDirection::RightBottom || direction == PresentationDirection::LeftBottom ||
        direction == PresentationDirection::RightTop || direction == PresentationDirection::LeftTop;
    unsigned column = columnsFirst ? index % columns : index / rows;
    unsigned row = columnsFirst ? index / columns : index % rows;
    bool rightToLeft =
        direction == PresentationDirection::LeftBottom || direction == PresentationDirection::BottomLeft ||
        direction == PresentationDirection::LeftTop || direction == PresentationDirection::TopLeft;
    bool bottomToTop =
        direction == PresentationDirection::RightTop || direction == PresentationDirection::TopRight ||
        direction == PresentationDirection::LeftTop || direction == PresentationDirection::TopLeft;
    return {rightToLeft ? columns - 1 - column : column, bottomToTop ? rows - 1 - row : row};
}

class NUpFilter final : public SheetFilter {
protected:
    bool JoinsDocuments() const override {
        const NUpSettings& nup = DocumentSettings().nup;
        return nup.pagesPerSheet > 1 && nup.pagesPerSheet <= kMaxPagesPerSheet &&
               nup.allDocumentsContiguously;
    }

    HRESULT OnPage(IFixedPage* page, const FilterSettings& settings) override {
        unsigned pagesPerSheet = DocumentSettings().nup.pagesPerSheet;
        if (pagesPerSheet <= 1 || pagesPerSheet > kMaxPagesPerSheet) {
            return XpsFilter::OnPage(page, settings);
        }
        held_.emplace_back(page);
        return held_.size() >= pagesPerSheet ? SendHeld() : S_OK;
    }

    HRESULT OnDocumentEnd(bool endOfJob) override {
        if (held_.empty() || (DocumentSettings().nup.allDocumentsContiguously && !endOfJob)) {
            return S_OK;
        }
        return SendHeld();
    }

private:
    HRESULT SendHeld() {
        const NUpSettings& nup = DocumentSettings().nup;
        unsigned columns, rows;
        Grid(nup.pagesPerSheet, columns, rows);
        std::vector<IFixedPage*> cells;
        std::vector<std::pair<unsigned, unsigned>> places;
        for (size_t i = 0; i < held_.size(); ++i) {
            cells.push_back(held_[i].Get());
            places.push_back(Place(static_cast<unsigned>(i), columns, rows, nup.direction));
        }
        HRESULT hr = SendSheet(DocumentSettings(), columns, rows, cells, places);
        held_.clear();
        return hr;
    }

    PageList held_;
};

}  // namespace

XpsFilter* CreateFilter() { return new (std::nothrow) NUpFilter(); }
