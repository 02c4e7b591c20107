// zorvanenup.dll: psk:DocumentNUp / psk:JobNUpAllDocumentsContiguously with
// psk:PagesPerSheet and psk:PresentationDirection. Each document starts on a
// sheet of its own unless the job-level feature puts all documents together.
#include <new>

#include "driver/filters/sheetfilter.h"

// {23FCEED8-2BAE-44E4-A8C4-1514062F9DC4}
const CLSID kFilterClassId = {0x23fceed8, 0x2bae, 0x44e4, {0xa8, 0xc4, 0x15, 0x14, 0x06, 0x2f, 0x9d, 0xc4}};

namespace {

constexpr unsigned kMaxPagesPerSheet = 16;

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
        NUpLayout layout(nup.pagesPerSheet, nup.direction);
        std::vector<IFixedPage*> pages;
        std::vector<Cell> places;
        for (size_t i = 0; i < held_.size(); ++i) {
            pages.push_back(held_[i].Get());
            places.push_back(layout.Place(static_cast<unsigned>(i)));
        }
        HRESULT hr = SendSheet(DocumentSettings(), layout.Columns(), layout.Rows(), pages, places, pages[0]);
        held_.clear();
        return hr;
    }

    PageList held_;
};

}  // namespace

IPrintPipelineFilter* CreateFilter() { return new (std::nothrow) NUpFilter(); }
