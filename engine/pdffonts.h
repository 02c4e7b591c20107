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
#include <vector>

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

        // A glyph a page uses, and the characters it shows if none were
        // known for it: runs use the same few glyphs again and again, so
        // each is looked up in the sets once.
        void Use(std::uint16_t glyph) {
            if (!used_[glyph]) {
                used_[glyph] = true;
                glyphs.insert(glyph);
            }
        }
        void Name(std::uint16_t glyph, const std::wstring& characters, std::size_t first, std::size_t count) {
            if (!named_[glyph]) {
                named_[glyph] = true;
                text.try_emplace(glyph, characters, first, count);
            }
        }

    private:
        std::vector<bool> used_ = std::vector<bool>(65536), named_ = std::vector<bool>(65536);
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
