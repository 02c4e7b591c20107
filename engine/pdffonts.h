// PdfFonts: the fonts a PDF shows its text in. Each font part of the
// package becomes one Type 0 font (Identity-H, the XPS glyph indices as
// CIDs, CIDToGIDMap Identity) whose object number pages name at once; the
// font program, its widths and its ToUnicode map are written at the end,
// subset to the glyphs the pages used.
//
// A font whose embedding rights forbid it, and a CFF font where the PDF
// cannot hold one (PDF/A-1), is drawn as glyph outlines instead.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "engine/font.h"
#include "engine/pdffile.h"
#include "xps/xpspackage.h"

namespace engine {

class PdfFonts {
public:
    struct Entry {
        Font font;
        bool asText = true;  // false: draw outlines
        int id = 0;          // the Type 0 font's object
        std::set<std::uint16_t> glyphs;
        std::map<std::uint16_t, std::wstring> text;  // what each glyph shows, first seen
    };

    PdfFonts(PdfFile& file, const xps::XpsPackage& package, bool pdfA1)
        : file_(file), package_(package), pdfA1_(pdfA1) {}
    // The font of a part (and face), loaded on first use.
    HRESULT For(const std::wstring& part, std::uint16_t face, Entry*& entry);
    HRESULT WriteAll();

private:
    HRESULT Write(const std::wstring& key, Entry& entry);
    void Remember(const std::wstring& part, std::uint16_t face, Entry* entry);

    PdfFile& file_;
    const xps::XpsPackage& package_;
    bool pdfA1_;
    std::map<std::wstring, std::unique_ptr<Entry>> entries_;  // by part key and face
    // The entry For gave last, by the part name and face asked: text runs
    // mostly ask for one font after another.
    std::wstring lastPart_;
    std::uint16_t lastFace_ = 0;
    Entry* last_ = nullptr;
};

}  // namespace engine
