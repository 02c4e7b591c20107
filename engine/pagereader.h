// ReadPage: one FixedPage of an XPS (2005/06) or OpenXPS package read into
// the page model. Canvas, Path and Glyphs with their property elements;
// geometry in both syntaxes; solid, gradient, image and visual brushes;
// resources of FixedPage.Resources and Canvas.Resources, inline or in a
// remote dictionary part, {StaticResource} looked up innermost first (a key
// reaches only definitions before it, so nothing refers back to itself);
// markup compatibility (see MarkupCursor). Part references are resolved
// against the part that makes them (the page, or a remote dictionary);
// image parts are shared within the page, fonts named by part.
//
// Every document is hostile: what the page may hold is capped (PageCaps).
// A resource counts each time it is used, so a visual brush used a million
// times is a million times its elements, and the model a writer walks is
// bounded as much as the markup.
//
// Markup nests at most 256 elements deep (the markup reader's bound), a
// remote dictionary names no other, and the reader recurses only as deep as
// the markup nests: about 1 KiB of stack a Canvas level.
//
// Results: S_OK; xml::kMalformed for markup XPS does not allow (an unknown
// element of the page's namespace, a value that does not read, a key never
// defined); xps::kOverCap past a count; xml::kTooDeep past a nesting;
// xps::kPartMissing for a font, image or dictionary the package lacks;
// the package's and the markup reader's own failures; E_OUTOFMEMORY. It
// never throws. Attributes the reader does not know are ignored.
#pragma once

#include <cstddef>
#include <string>

#include <windows.h>

#include "engine/pagemodel.h"
#include "xps/xpspackage.h"

namespace engine {

struct PageCaps {
    double pageSize = 19200;  // Width and Height: 200 inches
    // Per page. Elements: Canvas, Path, Glyphs.
    std::size_t elements = 1000000;
    std::size_t figures = 1000000;
    std::size_t segments = 2000000;  // lines and cubics, an arc as up to four
    std::size_t glyphs = 1000000;
    std::size_t gradientStops = 100000;
    std::size_t dashes = 1000000;
    std::size_t resources = 65536;  // definitions in all dictionaries
    std::size_t remoteDictionaries = 64;
    // Per geometry, Glyphs, brush, stroke.
    std::size_t figuresPerGeometry = 100000;
    std::size_t segmentsPerGeometry = 1000000;
    std::size_t glyphsPerElement = 65536;  // and UTF-16 units of UnicodeString
    std::size_t stopsPerBrush = 1024;
    std::size_t dashesPerStroke = 256;
    // Nesting: a Canvas in a Canvas is one level, and the visual of a
    // VisualBrush one more; visual brushes within the visuals of others.
    std::size_t canvasNesting = 128;
    std::size_t visualNesting = 8;
};

class ColorProfiles;

// profiles: where context colours get their profile applied; null, by their
// channels alone.
HRESULT ReadPage(const xps::XpsPackage& package, const std::wstring& pagePart, Page& page,
                 const PageCaps& caps = PageCaps(), ColorProfiles* profiles = nullptr);

}  // namespace engine
