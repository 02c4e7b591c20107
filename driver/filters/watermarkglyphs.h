// The watermark's text as path geometry, so that a page shows it without the
// document carrying a font: the outlines come from a system font through GDI.
#pragma once

#include <string>

#include <windows.h>

// Outlines text in Arial (where the system lacks it, the TrueType sans-serif
// face the font mapper picks instead) at emSize XPS units (1/96 inch) as XPS
// abbreviated geometry ("F1 M x,y L ... Q ... Z"). The origin is the start of
// the baseline, y grows downwards, each glyph advances by its advance width
// and the font's kerning. advanceWidth is the whole text's advance; ascent and
// descent are the font's, both positive, in XPS units. Empty text: S_OK, empty
// pathData, zero metrics. A character outside the Basic Multilingual Plane and
// a lone surrogate are drawn as U+FFFD. E_INVALIDARG for an emSize that is not
// a positive finite number; E_FAIL when GDI fails; never throws.
HRESULT TextOutlineGeometry(const std::wstring& text, double emSize, std::wstring& pathData,
                            double& advanceWidth, double& ascent, double& descent);
