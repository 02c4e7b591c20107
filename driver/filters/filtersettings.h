// FilterSettings: what the job's print ticket asks of the XPS filters,
// in the Print Schema's public keywords. The filters start from the defaults
// below (every feature off) and apply the job's, the document's and then the
// page's ticket in that order: a feature a later ticket names replaces what
// an earlier one said, a feature it does not name stays as it was.
//
// Lengths are in XPS units (1/96 inch); the ticket's own lengths are microns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <windows.h>

// psk:PageWatermark with the option psk:Text (psk:None: off), or with one of
// the dialog's options in the package's private namespace (zorvanewmark.gpd),
// which give the text and leave the rest as it was.
struct WatermarkSettings {
    bool enabled = false;
    std::wstring text;             // psk:PageWatermarkTextText, at most 1000 characters
    double fontSize = 48.0;        // psk:PageWatermarkTextFontSize, in points
    double angle = 45.0;           // psk:PageWatermarkTextAngle, degrees counter-clockwise
    std::uint32_t rgb = 0xC0C0C0;  // psk:PageWatermarkTextColor, 0xRRGGBB
    // The colour's own alpha (#AARRGGBB; 0xFF for #RRGGBB), on top of transparency.
    std::uint8_t alpha = 0xFF;
    double transparency = 50.0;  // psk:PageWatermarkTransparency, percent (0 opaque .. 100 invisible)
    // psk:PageWatermarkOriginWidth/Height: the watermark's origin, in XPS units
    // from the imageable area's top left; negative: centred on the page.
    double originX = -1.0;
    double originY = -1.0;
};

// psk:PageScaling.
enum class ScalingMode {
    None,            // psk:None
    FitToImageable,  // psk:FitApplicationMediaSizeToPageImageableSize and the other Fit* options
    Custom,          // psk:Custom (width and height scale) and psk:CustomSquare (one scale)
};
struct ScalingSettings {
    ScalingMode mode = ScalingMode::None;
    double scaleX = 100.0;  // percent: psk:PageScalingScaleWidth, or psk:PageScalingScale for CustomSquare
    double scaleY = 100.0;  // percent: psk:PageScalingScaleHeight, or psk:PageScalingScale
    double offsetX = 0.0;   // psk:PageScalingOffsetWidth, XPS units
    double offsetY = 0.0;   // psk:PageScalingOffsetHeight, XPS units
    // Custom only: true for psk:CustomSquare, whose one scale a later ticket's
    // psk:PageScalingScale replaces.
    bool square = false;
};

// psk:PresentationDirection's options: the first word is the direction of
// the first step (psk:RightBottom: left to right, then top to bottom). The
// Print Schema makes it a sub-feature of the N-up features; Unidrv writes the
// GPD feature mapped to it as a feature of its own, and both are read.
enum class PresentationDirection {
    RightBottom,
    BottomRight,
    LeftBottom,
    BottomLeft,
    RightTop,
    TopRight,
    LeftTop,
    TopLeft
};

// psk:JobNUpAllDocumentsContiguously or psk:DocumentNUp.
struct NUpSettings {
    unsigned pagesPerSheet = 1;  // psk:PagesPerSheet: 1, 2, 4, 6, 8, 9, 16
    PresentationDirection direction = PresentationDirection::RightBottom;
    bool allDocumentsContiguously = false;  // true: the job-level feature was the one given
};

// psk:JobBindAllDocuments or psk:DocumentBinding with the option psk:Booklet.
struct BookletSettings {
    bool enabled = false;
    bool allDocuments = false;  // true: psk:JobBindAllDocuments
};

// psk:PageMediaSize: the sheet the filters lay pages out on (0: the page's own size).
struct MediaSettings {
    double width = 0.0;   // psk:MediaSizeWidth
    double height = 0.0;  // psk:MediaSizeHeight
    // The imageable area; the package's GPD files declare no margins, so by
    // default it is the whole sheet.
    double imageableX = 0.0;
    double imageableY = 0.0;
    double imageableWidth = 0.0;
    double imageableHeight = 0.0;
};

// The package's private feature OutputFormat (zorvanedrv.gpd): what the
// output filter makes of the job.
struct OutputSettings {
    // One of the options PDF, PDFA1b, PDFA2b, XPS, SVG, EMF, PNG, JPEG, TIFF.
    std::wstring format = L"PDF";
    // An option not among them, which means PDF; empty when none was named.
    std::wstring unknownOption;
    // psk:PageResolution's ResolutionX in dots per inch; 0 when not given.
    unsigned dpi = 0;
    // The package's parameter JpegQuality, 1 to 100; 0 when not given.
    unsigned jpegQuality = 0;
    // The package's feature PictureBackground: Transparent keeps what
    // nothing draws transparent in PNG and TIFF; White (the default) does not.
    bool transparent = false;
};

struct FilterSettings {
    WatermarkSettings watermark;
    ScalingSettings scaling;
    NUpSettings nup;
    BookletSettings booklet;
    MediaSettings media;
    OutputSettings output;
};

// Applies one print ticket (Print Schema XML, UTF-8 or UTF-16 with its byte
// order mark) onto settings. Unknown features and options are ignored and
// leave settings as they were; a ticket that is not well-formed XML answers a
// failing HRESULT and leaves settings unchanged. Never throws.
HRESULT ApplyPrintTicket(const void* pTicket, std::size_t cbTicket, FilterSettings& settings);
