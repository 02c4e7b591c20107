#include "engine/pdffonts.h"

#include <cstdint>

#include "engine/font.h"

namespace engine {

namespace {

// Six capitals from the font's key: the subset tag PDF asks for.
std::string SubsetTag(const std::wstring& key) {
    std::uint32_t hash = 2166136261u;
    for (wchar_t c : key) {
        hash = (hash ^ static_cast<std::uint32_t>(c)) * 16777619u;
    }
    std::string tag;
    for (int i = 0; i < 6; ++i) {
        tag += static_cast<char>('A' + hash % 26);
        hash /= 26;
        hash = hash * 16777619u + static_cast<std::uint32_t>(i);
    }
    return tag;
}

std::string Hex4(unsigned value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (int shift = 12; shift >= 0; shift -= 4) {
        out += kHex[(value >> shift) & 15];
    }
    return out;
}

// The ToUnicode CMap: each glyph to the characters it shows, in UTF-16BE.
std::string ToUnicode(const std::map<std::uint16_t, std::wstring>& text) {
    std::string cmap =
        "/CIDInit/ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo<</Registry(Adobe)/Ordering(UCS)/Supplement 0>>def\n"
        "/CMapName/Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000><FFFF>\nendcodespacerange\n";
    std::vector<std::pair<std::uint16_t, const std::wstring*>> entries;
    for (const auto& glyph : text) {
        if (!glyph.second.empty() && glyph.second.size() <= 32) {
            entries.emplace_back(glyph.first, &glyph.second);
        }
    }
    for (std::size_t start = 0; start < entries.size(); start += 100) {
        std::size_t count = std::min<std::size_t>(100, entries.size() - start);
        cmap += std::to_string(count) + " beginbfchar\n";
        for (std::size_t i = start; i < start + count; ++i) {
            cmap += "<" + Hex4(entries[i].first) + "><";
            for (wchar_t c : *entries[i].second) {
                cmap += Hex4(c);
            }
            cmap += ">\n";
        }
        cmap += "endbfchar\n";
    }
    return cmap + "endcmap\nCMapName currentdict/CMap defineresource pop\nend\nend\n";
}

}  // namespace

HRESULT PdfFonts::For(const std::wstring& part, std::uint16_t face, Entry*& entry) {
    if (last_ != nullptr && face == lastFace_ && part == lastPart_) {
        entry = last_;
        return S_OK;
    }
    std::wstring key = xps::PartKey(part) + L"#" + std::to_wstring(face);
    auto found = entries_.find(key);
    if (found != entries_.end()) {
        entry = found->second.get();
        Remember(part, face, entry);
        return S_OK;
    }
    std::unique_ptr<Entry> loaded(new Entry());
    HRESULT hr = LoadFontPart(package_, part, face, loaded->font);
    if (FAILED(hr)) {
        return hr;
    }
    loaded->asText =
        loaded->font.MayEmbed() && loaded->font.Metrics().unitsPerEm > 0 && !(pdfA1_ && loaded->font.IsCff());
    if (loaded->asText) {
        loaded->id = file_.Reserve();
    }
    entry = loaded.get();
    entries_[key] = std::move(loaded);
    Remember(part, face, entry);
    return S_OK;
}

void PdfFonts::Remember(const std::wstring& part, std::uint16_t face, Entry* entry) {
    lastPart_ = part;
    lastFace_ = face;
    last_ = entry;
}

HRESULT PdfFonts::WriteAll() {
    for (auto& entry : entries_) {
        if (entry.second->asText) {
            HRESULT hr = Write(entry.first, *entry.second);
            if (FAILED(hr)) {
                return hr;
            }
        }
    }
    return S_OK;
}

HRESULT PdfFonts::Write(const std::wstring& key, Entry& entry) {
    const Font& font = entry.font;
    const FontMetrics& metrics = font.Metrics();
    entry.glyphs.insert(0);
    std::string program;
    bool subset = font.MaySubset() && !font.IsCff();
    HRESULT hr = subset ? font.Subset(entry.glyphs, program) : font.Program(program);
    if (FAILED(hr)) {
        return hr;
    }
    double scale = 1000.0 / metrics.unitsPerEm;
    std::string name =
        PdfName((subset ? SubsetTag(key) + "+" : std::string()) +
                (metrics.postScriptName.empty() ? std::string("Font") : metrics.postScriptName));
    int fileId = file_.Reserve();
    hr = file_.WriteStream(fileId,
                           font.IsCff() ? "/Subtype/OpenType" : "/Length1 " + std::to_string(program.size()),
                           program, true);
    // Which CIDs the subset holds: PDF/A-1 asks for it with every subset.
    std::string cidSet;
    int cidSetId = 0;
    if (SUCCEEDED(hr) && subset) {
        cidSet.assign(*entry.glyphs.rbegin() / 8 + 1, '\0');
        for (std::uint16_t glyph : entry.glyphs) {
            cidSet[glyph / 8] = static_cast<char>(cidSet[glyph / 8] | (0x80 >> (glyph % 8)));
        }
        cidSetId = file_.Reserve();
        hr = file_.WriteStream(cidSetId, "", cidSet, true);
    }
    int descriptorId = file_.Reserve();
    if (SUCCEEDED(hr)) {
        int ascent = metrics.hasOs2 && metrics.typoAscender != 0 ? metrics.typoAscender : metrics.ascender;
        int descent =
            metrics.hasOs2 && metrics.typoDescender != 0 ? metrics.typoDescender : metrics.descender;
        hr = file_.WriteObject(
            descriptorId,
            "<</Type/FontDescriptor/FontName" + name + "/Flags " +
                std::string(metrics.fixedPitch ? "5" : "4") + "/FontBBox[" + PdfNumber(metrics.xMin * scale) +
                " " + PdfNumber(metrics.yMin * scale) + " " + PdfNumber(metrics.xMax * scale) + " " +
                PdfNumber(metrics.yMax * scale) + "]/ItalicAngle " + PdfNumber(metrics.italicAngle) +
                "/Ascent " + PdfNumber(ascent * scale) + "/Descent " + PdfNumber(descent * scale) +
                "/CapHeight " + PdfNumber((metrics.capHeight != 0 ? metrics.capHeight : ascent) * scale) +
                "/StemV 80" + (font.IsCff() ? "/FontFile3 " : "/FontFile2 ") + PdfReference(fileId) +
                (cidSetId != 0 ? "/CIDSet " + PdfReference(cidSetId) : std::string()) + ">>");
    }
    std::string widths;
    for (std::uint16_t glyph : entry.glyphs) {
        widths += std::to_string(glyph) + "[" + PdfNumber(font.Advance(glyph) * scale) + "]";
    }
    int cidFontId = file_.Reserve();
    if (SUCCEEDED(hr)) {
        hr = file_.WriteObject(cidFontId,
                               std::string("<</Type/Font/Subtype/") +
                                   (font.IsCff() ? "CIDFontType0" : "CIDFontType2") + "/BaseFont" + name +
                                   "/CIDSystemInfo<</Registry(Adobe)/Ordering(Identity)/Supplement 0>>"
                                   "/FontDescriptor " +
                                   PdfReference(descriptorId) + "/W[" + widths + "]" +
                                   (font.IsCff() ? "" : "/CIDToGIDMap/Identity") + ">>");
    }
    int toUnicodeId = file_.Reserve();
    if (SUCCEEDED(hr)) {
        hr = file_.WriteStream(toUnicodeId, "", ToUnicode(entry.text), true);
    }
    if (SUCCEEDED(hr)) {
        hr = file_.WriteObject(
            entry.id, "<</Type/Font/Subtype/Type0/BaseFont" + name + "/Encoding/Identity-H/DescendantFonts[" +
                          PdfReference(cidFontId) + "]/ToUnicode " + PdfReference(toUnicodeId) + ">>");
    }
    return hr;
}

}  // namespace engine
