// zorvanewmark.dll: psk:PageWatermark. The text is drawn as a filled path made
// from a system font's glyph outlines, so the watermark needs no font in the
// document; it lies over the page content, turned about its centre.
#include <cmath>
#include <new>

#include "driver/filters/pagemarkup.h"
#include "driver/filters/watermarkglyphs.h"
#include "driver/filters/xpsfilter.h"

// {9729DE1F-EDDC-4C03-8E85-E967B837D916}
const CLSID kFilterClassId = {0x9729de1f, 0xeddc, 0x4c03, {0x8e, 0x85, 0xe9, 0x67, 0xb8, 0x37, 0xd9, 0x16}};

namespace {

constexpr double kPi = 3.14159265358979323846;

// The colour's own alpha and the ticket's transparency together.
std::wstring ArgbText(std::uint32_t rgb, std::uint8_t alpha, double transparency) {
    double opacity = alpha / 255.0 *
                     (100.0 - (transparency < 0     ? 0
                               : transparency > 100 ? 100
                                                    : transparency)) /
                     100.0;
    wchar_t pText[16];
    std::swprintf(pText, 16, L"#%02X%06X", static_cast<unsigned>(std::lround(opacity * 255)),
                  static_cast<unsigned>(rgb & 0xFFFFFF));
    return pText;
}

class WatermarkFilter final : public XpsFilter {
protected:
    HRESULT OnPage(IFixedPage* page, const FilterSettings& settings) override {
        const WatermarkSettings& watermark = settings.watermark;
        if (!watermark.enabled || watermark.text.empty()) {
            return XpsFilter::OnPage(page, settings);
        }
        std::string markup;
        PageInfo info;
        HRESULT hr = ReadPage(page, markup, info);
        if (FAILED(hr)) {
            return hr;
        }
        std::wstring pathData;
        double advance = 0, ascent = 0, descent = 0;
        hr = TextOutlineGeometry(watermark.text, watermark.fontSize * 96.0 / 72.0, pathData, advance, ascent,
                                 descent);
        if (FAILED(hr)) {
            return hr;
        }
        // Without an origin the text's centre goes to the page's centre; with
        // one, the top left of the text's line goes there (measured from the
        // imageable area's corner). The angle turns counter-clockwise on the
        // page, about that point.
        bool centred = watermark.originX < 0 || watermark.originY < 0;
        const MediaSettings& media = settings.media;
        double pointX = centred ? info.width / 2 : media.imageableX + watermark.originX;
        double pointY = centred ? info.height / 2 : media.imageableY + watermark.originY;
        double textX = centred ? advance / 2 : 0, textY = centred ? (descent - ascent) / 2 : -ascent;
        double radians = watermark.angle * kPi / 180.0;
        Matrix transform;
        transform.m11 = std::cos(radians);
        transform.m12 = -std::sin(radians);
        transform.m21 = std::sin(radians);
        transform.m22 = std::cos(radians);
        transform.dx = pointX - (textX * transform.m11 + textY * transform.m21);
        transform.dy = pointY - (textX * transform.m12 + textY * transform.m22);

        Overlay text{pathData, ArgbText(watermark.rgb, watermark.alpha, watermark.transparency), transform};
        return SendPlacedPage(page, markup, info, Matrix(), &text);
    }
};

}  // namespace

IPrintPipelineFilter* CreateFilter() { return new (std::nothrow) WatermarkFilter(); }
