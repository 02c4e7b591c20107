#include "driver/filters/watermarkglyphs.h"

#include <cmath>
#include <cstddef>
#include <new>
#include <vector>

#include "xps/xmlnumber.h"

namespace {

// The em height the outlines are taken at, in pixels: large enough that the
// integer advances and kerning GDI reports lose nothing visible.
constexpr int kDesignEm = 2048;
constexpr wchar_t kReplacement = 0xFFFD;

class MemoryDc {
public:
    MemoryDc() : dc_(::CreateCompatibleDC(nullptr)) {}
    ~MemoryDc() {
        if (dc_ != nullptr) {
            ::DeleteDC(dc_);
        }
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC Get() const { return dc_; }

private:
    HDC dc_;
};

// The font, selected into the DC for its lifetime.
class SelectedFont {
public:
    SelectedFont(HDC dc, HFONT font) : dc_(dc), font_(font) {
        previous_ = font_ != nullptr ? ::SelectObject(dc_, font_) : nullptr;
    }
    ~SelectedFont() {
        if (previous_ != nullptr) {
            ::SelectObject(dc_, previous_);
        }
        if (font_ != nullptr) {
            ::DeleteObject(font_);
        }
    }
    SelectedFont(const SelectedFont&) = delete;
    SelectedFont& operator=(const SelectedFont&) = delete;
    bool Selected() const { return previous_ != nullptr && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HFONT font_;
    HGDIOBJ previous_;
};

// Abbreviated geometry in XPS units, numbers written as all markup's are.
class GeometryWriter {
public:
    GeometryWriter(double scale, std::wstring& out) : scale_(scale), out_(out) {}

    void Command(wchar_t command) {
        out_ += out_.empty() ? L"F1 " : L" ";
        out_ += command;
    }
    void Point(double x, double y) {
        out_ += L' ';
        out_ += xml::FormatNumber(x * scale_) + L"," + xml::FormatNumber(y * scale_);
    }

private:
    double scale_;
    std::wstring& out_;
};

double FixedToDouble(const FIXED& f) { return f.value + f.fract / 65536.0; }

// One glyph's GGO_NATIVE outline (TrueType contours of lines and quadratic
// B-splines, y up) as geometry at the pen position, y down.
void WriteOutline(const BYTE* pBuffer, DWORD cbBuffer, double penX, GeometryWriter& out) {
    auto point = [&](const POINTFX& p) { out.Point(penX + FixedToDouble(p.x), -FixedToDouble(p.y)); };
    const BYTE* pEnd = pBuffer + cbBuffer;
    while (pBuffer + sizeof(TTPOLYGONHEADER) <= pEnd) {
        const auto* header = reinterpret_cast<const TTPOLYGONHEADER*>(pBuffer);
        if (header->cb < sizeof(TTPOLYGONHEADER) || header->cb > static_cast<DWORD>(pEnd - pBuffer)) {
            return;
        }
        const BYTE* pContourEnd = pBuffer + header->cb;
        out.Command(L'M');
        point(header->pfxStart);
        const BYTE* pCurve = pBuffer + sizeof(TTPOLYGONHEADER);
        while (pCurve + offsetof(TTPOLYCURVE, apfx) <= pContourEnd) {
            const auto* curve = reinterpret_cast<const TTPOLYCURVE*>(pCurve);
            const POINTFX* p = curve->apfx;
            std::size_t count = curve->cpfx;
            if (count == 0 || reinterpret_cast<const BYTE*>(p + count) > pContourEnd) {
                break;
            }
            if (curve->wType == TT_PRIM_QSPLINE) {
                // A quadratic B-spline: between two off-curve points lies an
                // implied on-curve point at their middle.
                for (std::size_t i = 0; i + 1 < count; ++i) {
                    out.Command(L'Q');
                    point(p[i]);
                    if (i + 2 < count) {
                        double midX = (FixedToDouble(p[i].x) + FixedToDouble(p[i + 1].x)) / 2;
                        double midY = (FixedToDouble(p[i].y) + FixedToDouble(p[i + 1].y)) / 2;
                        out.Point(penX + midX, -midY);
                    } else {
                        point(p[i + 1]);
                    }
                }
            } else if (curve->wType == TT_PRIM_CSPLINE && count % 3 == 0) {
                for (std::size_t i = 0; i < count; i += 3) {
                    out.Command(L'C');
                    point(p[i]);
                    point(p[i + 1]);
                    point(p[i + 2]);
                }
            } else {
                out.Command(L'L');
                for (std::size_t i = 0; i < count; ++i) {
                    point(p[i]);
                }
            }
            pCurve = reinterpret_cast<const BYTE*>(p + count);
        }
        // Z closes the figure back to its start.
        out.Command(L'Z');
        pBuffer = pContourEnd;
    }
}

// What GDI draws for each UTF-16 unit: surrogates become U+FFFD, a pair once.
std::wstring BasicPlaneText(const std::wstring& text) {
    std::wstring result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        bool high = c >= 0xD800 && c <= 0xDBFF;
        bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
        }
        result += high || low ? kReplacement : c;
    }
    return result;
}

int KerningBetween(const std::vector<KERNINGPAIR>& pairs, wchar_t first, wchar_t second) {
    for (const KERNINGPAIR& pair : pairs) {
        if (pair.wFirst == first && pair.wSecond == second) {
            return pair.iKernAmount;
        }
    }
    return 0;
}

HRESULT Outline(const std::wstring& text, double emSize, std::wstring& pathData, double& advanceWidth,
                double& ascent, double& descent) {
    MemoryDc dc;
    if (dc.Get() == nullptr) {
        return E_FAIL;
    }
    // A negative height asks for the em height rather than the cell height.
    SelectedFont font(dc.Get(), ::CreateFontW(-kDesignEm, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                              DEFAULT_CHARSET, OUT_TT_ONLY_PRECIS, CLIP_DEFAULT_PRECIS,
                                              DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, L"Arial"));
    TEXTMETRICW metrics;
    if (!font.Selected() || !::GetTextMetricsW(dc.Get(), &metrics)) {
        return E_FAIL;
    }
    std::vector<KERNINGPAIR> kerning(::GetKerningPairsW(dc.Get(), 0, nullptr));
    if (!kerning.empty()) {
        kerning.resize(::GetKerningPairsW(dc.Get(), static_cast<DWORD>(kerning.size()), kerning.data()));
    }

    const double scale = emSize / kDesignEm;
    const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    std::wstring geometry;
    GeometryWriter writer(scale, geometry);
    std::vector<BYTE> buffer;
    double penX = 0.0;
    std::wstring glyphs = BasicPlaneText(text);
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        GLYPHMETRICS gm;
        const UINT format = GGO_NATIVE | GGO_UNHINTED;
        DWORD cbOutline = ::GetGlyphOutlineW(dc.Get(), glyphs[i], format, &gm, 0, nullptr, &identity);
        if (cbOutline == GDI_ERROR) {
            return E_FAIL;
        }
        // A blank glyph (a space) has no outline, only its advance.
        if (cbOutline != 0) {
            buffer.resize(cbOutline);
            if (::GetGlyphOutlineW(dc.Get(), glyphs[i], format, &gm, cbOutline, buffer.data(), &identity) ==
                GDI_ERROR) {
                return E_FAIL;
            }
            WriteOutline(buffer.data(), cbOutline, penX, writer);
        }
        penX += gm.gmCellIncX;
        if (i + 1 < glyphs.size()) {
            penX += KerningBetween(kerning, glyphs[i], glyphs[i + 1]);
        }
    }
    pathData = std::move(geometry);
    advanceWidth = penX * scale;
    ascent = metrics.tmAscent * scale;
    descent = metrics.tmDescent * scale;
    return S_OK;
}

}  // namespace

HRESULT TextOutlineGeometry(const std::wstring& text, double emSize, std::wstring& pathData,
                            double& advanceWidth, double& ascent, double& descent) {
    if (!std::isfinite(emSize) || emSize <= 0.0) {
        return E_INVALIDARG;
    }
    if (text.empty()) {
        pathData.clear();
        advanceWidth = ascent = descent = 0.0;
        return S_OK;
    }
    try {
        return Outline(text, emSize, pathData, advanceWidth, ascent, descent);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
