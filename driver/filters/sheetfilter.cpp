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
                               const std::vector<IFixedPage*>& pages, const std::vector<Cell>& places,
                               IFixedPage* sizeIfBlank) {
    std::vector<std::string> markups(pages.size());
    std::vector<PageInfo> infos(pages.size());
    std::vector<IFixedPage*> sources;
    PageInfo sheet;
    for (size_t i = 0; i < pages.size(); ++i) {
        if (pages[i] == nullptr) {
            continue;
        }
        HRESULT hr = ReadPage(pages[i], markups[i], infos[i]);
        if (FAILED(hr)) {
            // A page that cannot be read cannot be placed: the job fails
            // rather than lose it.
            return hr;
        }
        if (sources.empty()) {
            sheet = infos[i];
        }
        sources.push_back(pages[i]);
    }
    if (sources.empty()) {
        // A booklet is whole sheets: its blank back goes out too, or the
        // next booklet's front would be printed there.
        std::string sizeMarkup;
        HRESULT hr = ReadPage(sizeIfBlank, sizeMarkup, sheet);
        if (FAILED(hr)) {
            return hr;
        }
    }
    IFixedPage* first = sources.empty() ? sizeIfBlank : sources.front();
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
    for (size_t i = 0; SUCCEEDED(hr) && i < pages.size(); ++i) {
        if (pages[i] == nullptr) {
            continue;
        }
        const PageInfo& page = infos[i];
        double scale = std::min(cellWidth / page.width, cellHeight / page.height);
        double x = places[i].column * cellWidth + (cellWidth - page.width * scale) / 2;
        double y = places[i].row * cellHeight + (cellHeight - page.height * scale) / 2;
        hr = writer.AddPage(markups[i], ScaleThenMove(scale, x, y), keyPrefix + std::to_wstring(i) + L"_",
                            PageUri(pages[i]));
    }
    if (SUCCEEDED(hr))
        hr = writer.End();
    if (FAILED(hr)) {
        return hr;
    }
    return SendNewPage(NewPartUri(PageUri(first), L"sheet"), markup, sources.data(), sources.size());
}
