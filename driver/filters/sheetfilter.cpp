#include "driver/filters/sheetfilter.h"

#include <algorithm>
#include <string>

#include "driver/filters/pagemarkup.h"

using Microsoft::WRL::ComPtr;

HRESULT SheetFilter::OnDocument(IFixedDocument* document) {
    if (documentSent_ && JoinsDocuments()) {
        return S_OK;
    }
    documentSent_ = true;
    return XpsFilter::OnDocument(document);
}

HRESULT SheetFilter::SendSheet(const FilterSettings& settings, unsigned columns, unsigned rows,
                               const std::vector<IFixedPage*>& cells, const std::vector<Cell>& cellPlaces) {
    std::vector<std::string> markups(cells.size());
    std::vector<PageInfo> pages(cells.size());
    std::vector<IFixedPage*> sources;
    IFixedPage* first = nullptr;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (cells[i] == nullptr) {
            continue;
        }
        HRESULT hr = ReadPage(cells[i], markups[i], pages[i]);
        if (FAILED(hr)) {
            // A page that cannot be read cannot be placed: the job fails
            // rather than lose it.
            return hr;
        }
        sources.push_back(cells[i]);
        if (first == nullptr) {
            first = cells[i];
        }
    }
    if (first == nullptr) {
        return S_OK;
    }
    PageInfo sheet = pages[std::find(cells.begin(), cells.end(), first) - cells.begin()];
    if (settings.media.width > 0 && settings.media.height > 0) {
        sheet.width = settings.media.width;
        sheet.height = settings.media.height;
    }
    if ((columns > rows) != (sheet.width > sheet.height) && columns != rows) {
        std::swap(sheet.width, sheet.height);
    }
    double cellWidth = sheet.width / columns, cellHeight = sheet.height / rows;

    // Keys unique in the whole job: some readers (libgxps) take a key as
    // meaning the same on every page.
    std::wstring keyPrefix = L"s" + std::to_wstring(++sheets_) + L"p";
    std::string markup;
    SheetWriter writer;
    HRESULT hr = writer.Begin(sheet, &markup);
    for (size_t i = 0; SUCCEEDED(hr) && i < cells.size(); ++i) {
        if (cells[i] == nullptr) {
            continue;
        }
        const PageInfo& page = pages[i];
        double scale = std::min(cellWidth / page.width, cellHeight / page.height);
        double x = cellPlaces[i].column * cellWidth + (cellWidth - page.width * scale) / 2;
        double y = cellPlaces[i].row * cellHeight + (cellHeight - page.height * scale) / 2;
        hr = writer.AddPage(markups[i], ScaleThenMove(scale, x, y), keyPrefix + std::to_wstring(i) + L"_",
                            PageUri(cells[i]));
    }
    if (SUCCEEDED(hr))
        hr = writer.End();
    if (FAILED(hr)) {
        return hr;
    }
    return SendNewPage(NewPartUri(PageUri(first), L"sheet"), markup, sources.data(), sources.size());
}
