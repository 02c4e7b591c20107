// SheetFilter: a filter that puts several pages on one sheet (N-up, booklet).
// It holds back the pages of a sheet (references to them, not their markup)
// and hands on one new page per sheet, made of a grid of cells.
#pragma once

#include <vector>

#include <wrl/client.h>

#include "driver/filters/sheetlayout.h"
#include "driver/filters/xpsfilter.h"

class SheetFilter : public XpsFilter {
protected:
    // Documents the job's ticket binds together become one: later documents'
    // pages go onto the first one's sheets, so that none is left without
    // pages (XPS requires a page in every document).
    HRESULT OnDocument(IFixedDocument* document) override;
    virtual bool JoinsDocuments() const = 0;

    using PageList = std::vector<Microsoft::WRL::ComPtr<IFixedPage>>;

    // Sends one sheet of columns x rows cells; pages[i] (null: blank) goes
    // into the cell places[i]. The sheet is the ticket's media, or else the
    // size of its first page, turned to match the grid's shape. A sheet of
    // blank cells (the back of a booklet's only sheet) still goes out, blank,
    // sized by sizeIfBlank instead.
    HRESULT SendSheet(const FilterSettings& settings, unsigned columns, unsigned rows,
                      const std::vector<IFixedPage*>& pages, const std::vector<Cell>& places,
                      IFixedPage* sizeIfBlank);

private:
    unsigned sheets_ = 0;
    bool documentSent_ = false;
};
