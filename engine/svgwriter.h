// SvgWriter: each page of the page model as an SVG 1.1 file of its own. A
// page's file is made whole in memory, then handed to the sink after
// beginFile(its number from 1), so that a page that fails leaves no bytes.
//
// The page's size is in real units (millimetres for a page of whole
// millimetres, otherwise inches) over a viewBox in XPS units, so that
// every model coordinate is written as it is. Elements become paths,
// groups with their transforms, clip paths, opacity and masks; gradients
// (user space, spread method, focal point) and tile brushes (patterns; an
// untiled image or visual filling a path is drawn itself) paint them.
// Images are data URIs, once in a page: PNG and grey or colour JPEG as they
// are, every other kind (CMYK JPEG, TIFF, JPEG XR) decoded (WIC) and
// written as PNG.
//
// Text is SVG text in the document's own font, embedded in each page as
// an @font-face data URI: a TrueType subset of the glyphs the page shows,
// with a cmap of just the characters that reach them (a CFF font, or one
// that may not be subset, goes whole). Each run of glyphs that follow the
// font's own advances is one tspan at its own position, so the layout
// matches the XPS. A glyph no character of the font reaches (ligatures,
// shaped forms, clusters, glyphs without characters), a sideways glyph,
// and every glyph of a font whose rights forbid embedding is drawn as its
// outline instead, with its characters beside it as invisible text so
// that the page can still be searched and copied. Either way the page
// renders the same where the fonts are not installed.
//
// Caps (the page model's own caps bound everything else; the writer
// recurses only as deep as the model nests):
//  - kMaxPageBytes for one page's file, past which the page fails with
//    xps::kOverCap;
//  - Font::kMaxSubsetCharacters characters a font in a page: further
//    glyphs are drawn as outlines;
//  - kMaxKeptFonts fonts kept loaded for later pages; past them the store
//    is emptied. Images are read again for each page that shows them, so
//    memory holds one page's.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "engine/documentwriter.h"
#include "engine/font.h"
#include "engine/pdffile.h"
#include "xps/xpspackage.h"

namespace engine {

class SvgWriter final : public DocumentWriter {
public:
    static constexpr std::size_t kMaxPageBytes = 256u << 20;
    static constexpr std::size_t kMaxKeptFonts = 32;

    SvgWriter(ByteSink sink, const xps::XpsPackage& package, std::function<HRESULT(unsigned page)> beginFile);
    ~SvgWriter() override;
    HRESULT Begin() override;
    HRESULT AddPage(const Page& page) override;
    HRESULT Finish() override;

private:
    class PageWriter;
    struct FontEntry;

    HRESULT FontFor(const std::wstring& part, std::uint16_t face, std::shared_ptr<FontEntry>& entry);
    // The image part as a data URI, and its size in XPS units at its
    // resolution.
    HRESULT ImageFor(const Image& image, std::string& dataUri, double& width, double& height) const;

    ByteSink sink_;
    const xps::XpsPackage& package_;
    std::function<HRESULT(unsigned page)> beginFile_;
    unsigned pages_ = 0;
    std::map<std::wstring, std::shared_ptr<FontEntry>> fonts_;  // by part key and face
};

}  // namespace engine
