// zorvanebook.dll: psk:JobBindAllDocuments / psk:DocumentBinding with
// psk:Booklet. Pages go two to a sheet side in the order that, printed on
// both sides and folded, reads from first to last; blank pages fill up to a
// multiple of four. The order needs the last page before the first sheet,
// so the filter holds the pages (references, not markup) of what it binds.
#include <new>

#include "driver/filters/sheetfilter.h"

// {E396CF94-6E3F-4DE7-9FAA-A7757C93BDBB}
const CLSID kFilterClassId = {0xe396cf94, 0x6e3f, 0x4de7, {0x9f, 0xaa, 0xa7, 0x75, 0x7c, 0x93, 0xbd, 0xbb}};

namespace {

class BookletFilter final : public SheetFilter {
protected:
    bool JoinsDocuments() const override {
        return DocumentSettings().booklet.enabled && DocumentSettings().booklet.allDocuments;
    }

    HRESULT OnPage(IFixedPage* page, const FilterSettings& settings) override {
        if (!DocumentSettings().booklet.enabled) {
            return XpsFilter::OnPage(page, settings);
        }
        held_.emplace_back(page);
        return S_OK;
    }

    HRESULT OnDocumentEnd(bool endOfJob) override {
        if (held_.empty() || (DocumentSettings().booklet.allDocuments && !endOfJob)) {
            return S_OK;
        }
        auto pageAt = [&](size_t index) { return index == kBlankPage ? nullptr : held_[index].Get(); };
        HRESULT hr = S_OK;
        for (const BookletSide& side : BookletSides(held_.size())) {
            hr = SendSheet(DocumentSettings(), 2, 1, {pageAt(side.left), pageAt(side.right)},
                           {{0, 0}, {1, 0}}, held_[0].Get());
            if (FAILED(hr)) {
                break;
            }
        }
        held_.clear();
        return hr;
    }

private:
    PageList held_;
};

}  // namespace

IPrintPipelineFilter* CreateFilter() { return new (std::nothrow) BookletFilter(); }
