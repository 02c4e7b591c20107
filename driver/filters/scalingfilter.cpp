// zorvanescale.dll: psk:PageScaling. Fit: the page, kept in proportion, as
// large as the sheet's imageable area allows, centred in it. Custom: the
// ticket's scale and offset from the imageable area's corner.
#include <algorithm>
#include <new>

#include "driver/filters/pagemarkup.h"
#include "driver/filters/xpsfilter.h"

// {98069DE0-06CC-4A13-A265-FF3E4B89E9C1}
const CLSID kFilterClassId = {0x98069de0, 0x06cc, 0x4a13, {0xa2, 0x65, 0xff, 0x3e, 0x4b, 0x89, 0xe9, 0xc1}};

namespace {

class ScalingFilter final : public XpsFilter {
protected:
    HRESULT OnPage(IFixedPage* page, const FilterSettings& settings) override {
        const ScalingSettings& scaling = settings.scaling;
        if (scaling.mode == ScalingMode::None) {
            return XpsFilter::OnPage(page, settings);
        }
        std::string markup;
        PageInfo info;
        HRESULT hr = ReadPage(page, markup, info);
        if (FAILED(hr)) {
            return hr;
        }
        const MediaSettings& media = settings.media;
        PageInfo sheet = info;
        if (media.width > 0 && media.height > 0) {
            sheet.width = media.width;
            sheet.height = media.height;
        }
        bool hasImageable = media.imageableWidth > 0 && media.imageableHeight > 0;
        double areaX = hasImageable ? media.imageableX : 0, areaY = hasImageable ? media.imageableY : 0;
        double areaWidth = hasImageable ? media.imageableWidth : sheet.width;
        double areaHeight = hasImageable ? media.imageableHeight : sheet.height;

        Matrix transform;
        if (scaling.mode == ScalingMode::FitToImageable) {
            double scale = std::min(areaWidth / info.width, areaHeight / info.height);
            transform = ScaleThenMove(scale, areaX + (areaWidth - info.width * scale) / 2,
                                      areaY + (areaHeight - info.height * scale) / 2);
        } else {
            transform.m11 = scaling.scaleX / 100.0;
            transform.m22 = scaling.scaleY / 100.0;
            transform.dx = areaX + scaling.offsetX;
            transform.dy = areaY + scaling.offsetY;
        }
        return SendPlacedPage(page, markup, sheet, transform, nullptr);
    }
};

}  // namespace

IPrintPipelineFilter* CreateFilter() { return new (std::nothrow) ScalingFilter(); }
