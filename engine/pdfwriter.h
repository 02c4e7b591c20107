// PdfWriter: pages of the page model into a PDF, vector throughout. Each
// page's content is made and written as it comes; what pages share (fonts,
// images) is written once, fonts at the end with just the glyphs used.
//
// Page space: the page's content stream first turns PDF's space (points, y
// up) into XPS's (1/96 inch, y down), so every model coordinate is written
// as it is.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/documentwriter.h"
#include "engine/outline.h"
#include "engine/pagemodel.h"
#include "engine/pdffile.h"
#include "engine/pdffonts.h"
#include "engine/pdfimage.h"
#include "engine/rasteriser.h"
#include "platform/handles.h"
#include "xps/xpspackage.h"
#include "zorvaneidentity.h"

namespace engine {

enum class PdfConformance { None, PdfA1b, PdfA2b };

struct PdfOptions {
    PdfConformance conformance = PdfConformance::None;
    std::wstring title;
    std::wstring author;
    std::wstring creator = ZORVANE_WIDE(ZORVANE_PRODUCT_NAME);
    SYSTEMTIME created = {};  // UTC; all zero: now
    // PDF/A-1b: what is transparent is drawn as an image at this resolution.
    unsigned dpi = 300;
};

class PdfWriter final : public DocumentWriter {
public:
    PdfWriter(ByteSink sink, const xps::XpsPackage& package, PdfOptions options);
    ~PdfWriter() override;
    HRESULT Begin() override;
    // Reads and decodes the page's images not seen before, when it has time
    // to spare.
    void Prepare(const Page& page, bool spare) override;
    HRESULT AddPage(const Page& page) override;
    // The bookmarks of the document, written with it.
    void SetOutline(std::vector<OutlineEntry> outline) { outline_ = std::move(outline); }
    HRESULT Finish() override;

private:
    class PageContent;
    friend class PageContent;

    // An image part read and made ready for its object.
    HRESULT ReadImage(const Image& image, PdfImage& pdfImage) const;
    // The object of an image part, written on first use.
    HRESULT ImageObject(const Image& image, int& id, double& width, double& height);
    // PDF/A-1: whether the image has alpha (what shows through it then needs
    // the page under it).
    bool ImageHasAlpha(const Image& image);
    int ExtGState(double fillAlpha, double strokeAlpha, int softMask);
    HRESULT WriteOutline(int& root);

    // PDF/A-1b: the page so far and the transparent element over it, as one
    // opaque image of the element's area.
    std::unique_ptr<Rasteriser> rasteriser_;

    PdfFile file_;
    const xps::XpsPackage& package_;
    PdfOptions options_;
    PdfFonts fonts_;
    int catalog_ = 0, pages_ = 0, info_ = 0, metadata_ = 0, outputIntent_ = 0;
    std::vector<int> pageIds_;
    std::vector<OutlineEntry> outline_;
    struct ImageEntry {
        int id;
        double width, height;  // in XPS units at the image's resolution
        bool alphaFlattened;   // PDF/A-1: it has alpha, mixed with white in the object
    };
    std::map<std::wstring, ImageEntry> images_;  // by part key
    std::map<std::string, int> states_;          // graphics states by their dictionary

    // Images Prepare made ahead, by part key, until ImageObject takes them;
    // once they hold kMaxPreparedBytes no more are made ahead, and those are
    // read when written. preparedKeys_ (every key Prepare met) is the reading
    // thread's alone; the lock guards the others.
    struct PreparedImage {
        HRESULT result;
        PdfImage image;
    };
    static constexpr std::size_t kMaxPreparedBytes = 64u << 20;
    CriticalSection preparedLock_;
    std::map<std::wstring, PreparedImage> prepared_;
    std::size_t preparedBytes_ = 0;
    std::set<std::wstring> preparedKeys_;
};

}  // namespace engine
