// ApplyPrintTicket: reads a Print Schema print ticket with XmlReader and applies
// the public keywords the filters act on to FilterSettings.
//
// A ticket names its features and options with QNames ("psk:PageScaling")
// whose prefixes are the ticket's own choice: every name is compared by its
// namespace URI and local name. A scored property's value is given either
// in place (psf:Value) or through a psf:ParameterRef naming one of the
// ticket's psf:ParameterInit elements.
#include "driver/filters/filtersettings.h"

#include <cmath>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "xps/xmlnumber.h"
#include "xps/xmlreader.h"

namespace {

constexpr wchar_t kFrameworkUri[] =
    L"http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework";
constexpr wchar_t kKeywordsUri[] =
    L"http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords";
// The package's own names (*PrintSchemaPrivateNamespaceURI in zorvanedrv.gpd).
constexpr wchar_t kPackageUri[] = L"http://schemas.zorvane.com/creator/printschema/2026";

// Tickets nest a few levels (ticket, feature, sub-feature, option, property,
// value); anything far deeper is not a ticket.
constexpr UINT kMaxElementDepth = 32;
// Beyond these a value is no sensible setting and is ignored.
constexpr double kMaxLengthMicrons = 10e6;  // 10 m: roll media included
constexpr double kMaxScalePercent = 1000.0;
constexpr double kMaxFontSizePoints = 1000.0;
constexpr std::size_t kMaxWatermarkText = 1000;

double MicronsToXpsUnits(double microns) { return microns * 96.0 / 25400.0; }

// ---- The ticket as a tree ------------------------------------------------------

// An element with its name attribute resolved to a namespace URI and a local
// name through the namespace declarations in scope where it stands.
struct Element {
    std::wstring uri;
    std::wstring local;
    bool hasName = false;
    std::wstring nameUri;
    std::wstring nameLocal;
    std::wstring text;
    std::vector<Element> children;

    bool Is(const wchar_t* frameworkName) const { return uri == kFrameworkUri && local == frameworkName; }
    bool Named(const wchar_t* keyword) const {
        return hasName && nameUri == kKeywordsUri && nameLocal == keyword;
    }
    bool NamedInPackage(const wchar_t* name) const {
        return hasName && nameUri == kPackageUri && nameLocal == name;
    }
    bool NamedSame(const Element& other) const {
        return hasName && other.hasName && nameUri == other.nameUri && nameLocal == other.nameLocal;
    }
    const Element* Child(const wchar_t* frameworkName) const {
        for (const Element& child : children) {
            if (child.Is(frameworkName)) {
                return &child;
            }
        }
        return nullptr;
    }
};

// The element the reader stands on; its name attribute is a QName resolved
// where the element stands.
HRESULT ReadElement(const xml::XmlReader& reader, Element& element) {
    element.uri = reader.NamespaceUri();
    element.local = reader.LocalName();
    const std::wstring* name = reader.Find(L"name");
    if (name == nullptr) {
        return S_OK;
    }
    element.hasName = true;
    std::size_t colon = name->find(L':');
    std::wstring prefix = colon == std::wstring::npos ? std::wstring() : name->substr(0, colon);
    element.nameLocal = colon == std::wstring::npos ? *name : name->substr(colon + 1);
    return reader.LookupNamespace(prefix, element.nameUri) ? S_OK : xml::kMalformed;
}

HRESULT ReadDocument(xml::XmlReader& reader, Element& document) {
    std::vector<Element> open(1);  // the document, then every element not yet closed
    xml::Node node;
    HRESULT hr;
    while (SUCCEEDED(hr = reader.Next(node)) && node != xml::Node::End) {
        if (node == xml::Node::StartElement) {
            Element element;
            hr = ReadElement(reader, element);
            if (FAILED(hr)) {
                return hr;
            }
            open.push_back(std::move(element));
        } else if (node == xml::Node::EndElement) {
            Element done = std::move(open.back());
            open.pop_back();
            open.back().children.push_back(std::move(done));
        } else {
            open.back().text += reader.Text();
        }
    }
    if (FAILED(hr)) {
        return hr;
    }
    document = std::move(open.front());
    return S_OK;
}

HRESULT ParseTicket(const void* pTicket, std::size_t cbTicket, Element& ticket) {
    xml::XmlReader reader;
    reader.SetMaxDepth(kMaxElementDepth);
    Element document;
    HRESULT hr = reader.Open(pTicket, cbTicket);
    if (SUCCEEDED(hr)) {
        hr = ReadDocument(reader, document);
    }
    if (FAILED(hr)) {
        return hr;
    }
    if (document.children.size() != 1 || !document.children[0].Is(L"PrintTicket")) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    ticket = std::move(document.children[0]);
    return S_OK;
}

// ---- Values ----------------------------------------------------------------------

// An xs:integer or xs:decimal ("-12", "0.5"), surrounding white space allowed.
bool ParseNumber(const std::wstring& text, double& number) { return xml::ParseNumber(text, number); }

bool ParseInRange(const std::wstring& text, double low, double high, double& number) {
    double value;
    if (!ParseNumber(text, value) || value < low || value > high) {
        return false;
    }
    number = value;
    return true;
}

// Above zero, at most high.
bool ParsePositive(const std::wstring& text, double high, double& number) {
    double value;
    if (!ParseInRange(text, 0.0, high, value) || value == 0.0) {
        return false;
    }
    number = value;
    return true;
}

// "#AARRGGBB" or "#RRGGBB", the Print Schema's sRGB colour.
bool ParseColor(const std::wstring& text, std::uint32_t& rgb, std::uint8_t& alpha) {
    std::size_t digits = text.size() - 1;
    if (text.empty() || text[0] != L'#' || (digits != 8 && digits != 6)) {
        return false;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        wchar_t c = text[i];
        unsigned digit = c >= L'0' && c <= L'9'   ? c - L'0'
                         : c >= L'a' && c <= L'f' ? c - L'a' + 10
                         : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                  : 16;
        if (digit == 16) {
            return false;
        }
        value = value << 4 | digit;
    }
    rgb = value & 0xFFFFFF;
    alpha = digits == 8 ? static_cast<std::uint8_t>(value >> 24) : 0xFF;
    return true;
}

// The value of a scored property: in place, or the psf:ParameterInit of the
// ticket that its psf:ParameterRef names.
const std::wstring* PropertyValue(const Element& property, const Element& ticket) {
    if (const Element* value = property.Child(L"Value")) {
        return &value->text;
    }
    const Element* ref = property.Child(L"ParameterRef");
    if (ref == nullptr) {
        return nullptr;
    }
    for (const Element& init : ticket.children) {
        if (init.Is(L"ParameterInit") && init.NamedSame(*ref)) {
            const Element* value = init.Child(L"Value");
            return value != nullptr ? &value->text : nullptr;
        }
    }
    return nullptr;
}

// A feature's chosen option: a ticket's feature holds one.
const Element* ChosenOption(const Element& feature) { return feature.Child(L"Option"); }

// ---- Parameters of the watermark and the custom scaling ---------------------------

// A setting a scored property of the chosen option gives, or, in a later
// ticket, a psf:ParameterInit of the same parameter alone.
struct Parameter {
    const wchar_t* scoredProperty;
    const wchar_t* parameterInit;
    bool (*applies)(const FilterSettings&);
    void (*apply)(const std::wstring&, FilterSettings&);
};

bool WatermarkOn(const FilterSettings& s) { return s.watermark.enabled; }
bool CustomScale(const FilterSettings& s) { return s.scaling.mode == ScalingMode::Custom; }
bool CustomTwoScales(const FilterSettings& s) { return CustomScale(s) && !s.scaling.square; }
bool CustomOneScale(const FilterSettings& s) { return CustomScale(s) && s.scaling.square; }

void SetLength(const std::wstring& text, double low, double& xpsUnits) {
    double microns;
    if (ParseInRange(text, low, kMaxLengthMicrons, microns)) {
        xpsUnits = MicronsToXpsUnits(microns);
    }
}

const Parameter kParameters[] = {
    {L"Text", L"PageWatermarkTextText", WatermarkOn,
     [](const std::wstring& v, FilterSettings& s) {
         if (v.size() <= kMaxWatermarkText) {
             s.watermark.text = v;
         }
     }},
    {L"FontSize", L"PageWatermarkTextFontSize", WatermarkOn,
     [](const std::wstring& v, FilterSettings& s) {
         ParsePositive(v, kMaxFontSizePoints, s.watermark.fontSize);
     }},
    {L"Angle", L"PageWatermarkTextAngle", WatermarkOn,
     [](const std::wstring& v, FilterSettings& s) {
         double degrees;
         if (ParseInRange(v, -3600.0, 3600.0, degrees)) {
             degrees = std::fmod(degrees, 360.0);
             s.watermark.angle = degrees < 0.0 ? degrees + 360.0 : degrees;
         }
     }},
    {L"FontColor", L"PageWatermarkTextColor", WatermarkOn,
     [](const std::wstring& v, FilterSettings& s) { ParseColor(v, s.watermark.rgb, s.watermark.alpha); }},
    {L"Transparency", L"PageWatermarkTransparency", WatermarkOn,
     [](const std::wstring& v, FilterSettings& s) { ParseInRange(v, 0.0, 100.0, s.watermark.transparency); }},
    {L"OriginWidth", L"PageWatermarkOriginWidth", WatermarkOn,
     [](const std::wstring& v, FilterSettings& s) { SetLength(v, 0.0, s.watermark.originX); }},
    {L"OriginHeight", L"PageWatermarkOriginHeight", WatermarkOn,
     [](const std::wstring& v, FilterSettings& s) { SetLength(v, 0.0, s.watermark.originY); }},
    {L"ScaleWidth", L"PageScalingScaleWidth", CustomTwoScales,
     [](const std::wstring& v, FilterSettings& s) { ParsePositive(v, kMaxScalePercent, s.scaling.scaleX); }},
    {L"ScaleHeight", L"PageScalingScaleHeight", CustomTwoScales,
     [](const std::wstring& v, FilterSettings& s) { ParsePositive(v, kMaxScalePercent, s.scaling.scaleY); }},
    {L"Scale", L"PageScalingScale", CustomOneScale,
     [](const std::wstring& v, FilterSettings& s) {
         if (ParsePositive(v, kMaxScalePercent, s.scaling.scaleX)) {
             s.scaling.scaleY = s.scaling.scaleX;
         }
     }},
    {L"OffsetWidth", L"PageScalingOffsetWidth", CustomScale,
     [](const std::wstring& v, FilterSettings& s) { SetLength(v, -kMaxLengthMicrons, s.scaling.offsetX); }},
    {L"OffsetHeight", L"PageScalingOffsetHeight", CustomScale,
     [](const std::wstring& v, FilterSettings& s) { SetLength(v, -kMaxLengthMicrons, s.scaling.offsetY); }},
};

// The chosen option's scored properties that the settings now use.
void ApplyScoredProperties(const Element& option, const Element& ticket, FilterSettings& s) {
    for (const Element& property : option.children) {
        if (!property.Is(L"ScoredProperty")) {
            continue;
        }
        for (const Parameter& parameter : kParameters) {
            const std::wstring* value = nullptr;
            if (property.Named(parameter.scoredProperty) && parameter.applies(s) &&
                (value = PropertyValue(property, ticket)) != nullptr) {
                parameter.apply(*value, s);
            }
        }
    }
}

// A ticket that initialises a parameter without naming its feature changes
// the feature an earlier ticket chose.
void ApplyParameterInits(const Element& ticket, FilterSettings& s) {
    for (const Element& init : ticket.children) {
        if (!init.Is(L"ParameterInit")) {
            continue;
        }
        const Element* value = init.Child(L"Value");
        double quality = 0.0;
        if (value != nullptr && init.NamedInPackage(L"JpegQuality") &&
            ParseInRange(value->text, 1.0, 100.0, quality)) {
            s.output.jpegQuality = static_cast<unsigned>(quality);
        }
        for (const Parameter& parameter : kParameters) {
            if (value != nullptr && init.Named(parameter.parameterInit) && parameter.applies(s)) {
                parameter.apply(value->text, s);
            }
        }
    }
}

// ---- Features --------------------------------------------------------------------

void ApplyWatermark(const Element& feature, const Element& ticket, FilterSettings& s) {
    const Element* option = ChosenOption(feature);
    if (option == nullptr) {
        return;
    }
    // The dialog's watermarks: the text is the option's (zorvanewmark.gpd).
    static const std::pair<const wchar_t*, const wchar_t*> kPackageTexts[] = {
        {L"Draft", L"DRAFT"}, {L"Confidential", L"CONFIDENTIAL"}, {L"Copy", L"COPY"}};
    if (option->Named(L"None")) {
        s.watermark.enabled = false;
    } else if (option->Named(L"Text")) {
        s.watermark.enabled = true;
        ApplyScoredProperties(*option, ticket, s);
    }
    for (const auto& packageText : kPackageTexts) {
        if (option->NamedInPackage(packageText.first)) {
            s.watermark.enabled = true;
            s.watermark.text = packageText.second;
        }
    }
}

void ApplyScaling(const Element& feature, const Element& ticket, FilterSettings& s) {
    const Element* option = ChosenOption(feature);
    if (option == nullptr) {
        return;
    }
    static const wchar_t* const kFitOptions[] = {
        L"FitApplicationBleedSizeToPageImageableSize", L"FitApplicationContentSizeToPageImageableSize",
        L"FitApplicationMediaSizeToPageImageableSize", L"FitApplicationMediaSizeToPageMediaSize"};
    if (option->Named(L"None")) {
        s.scaling.mode = ScalingMode::None;
        return;
    }
    for (const wchar_t* fit : kFitOptions) {
        if (option->Named(fit)) {
            s.scaling.mode = ScalingMode::FitToImageable;
            return;
        }
    }
    if (option->Named(L"Custom") || option->Named(L"CustomSquare")) {
        s.scaling.mode = ScalingMode::Custom;
        s.scaling.square = option->Named(L"CustomSquare");
        ApplyScoredProperties(*option, ticket, s);
    }
}

// A sub-feature of the N-up features in the Print Schema; a GPD-based driver
// maps its own feature to it and so writes it at the ticket's top level.
void ApplyDirection(const Element& feature, const Element&, FilterSettings& s) {
    static const std::pair<const wchar_t*, PresentationDirection> kDirections[] = {
        {L"RightBottom", PresentationDirection::RightBottom},
        {L"BottomRight", PresentationDirection::BottomRight},
        {L"LeftBottom", PresentationDirection::LeftBottom},
        {L"BottomLeft", PresentationDirection::BottomLeft},
        {L"RightTop", PresentationDirection::RightTop},
        {L"TopRight", PresentationDirection::TopRight},
        {L"LeftTop", PresentationDirection::LeftTop},
        {L"TopLeft", PresentationDirection::TopLeft}};
    if (const Element* option = ChosenOption(feature)) {
        for (const auto& direction : kDirections) {
            if (option->Named(direction.first)) {
                s.nup.direction = direction.second;
            }
        }
    }
}

void ApplyNUp(const Element& feature, const Element& ticket, bool allDocuments, FilterSettings& s) {
    if (const Element* option = ChosenOption(feature)) {
        for (const Element& property : option->children) {
            const std::wstring* value = nullptr;
            double pages;
            if (property.Is(L"ScoredProperty") && property.Named(L"PagesPerSheet") &&
                (value = PropertyValue(property, ticket)) != nullptr && ParseNumber(*value, pages)) {
                for (unsigned supported : {1u, 2u, 4u, 6u, 8u, 9u, 16u}) {
                    if (pages == supported) {
                        s.nup.pagesPerSheet = supported;
                        s.nup.allDocumentsContiguously = allDocuments;
                    }
                }
            }
        }
    }
    for (const Element& sub : feature.children) {
        if (sub.Is(L"Feature") && sub.Named(L"PresentationDirection")) {
            ApplyDirection(sub, ticket, s);
        }
    }
}

void ApplyBinding(const Element& feature, bool allDocuments, FilterSettings& s) {
    const Element* option = ChosenOption(feature);
    // Any other public binding (psk:None, psk:BindLeft, ...) is not a booklet;
    // a private option is not understood and changes nothing.
    if (option != nullptr && option->hasName && option->nameUri == kKeywordsUri) {
        s.booklet.enabled = option->Named(L"Booklet");
        s.booklet.allDocuments = s.booklet.enabled && allDocuments;
    }
}

void ApplyMediaSize(const Element& feature, const Element& ticket, FilterSettings& s) {
    const Element* option = ChosenOption(feature);
    if (option == nullptr) {
        return;
    }
    double width = 0.0, height = 0.0;
    for (const Element& property : option->children) {
        const std::wstring* value = nullptr;
        if (!property.Is(L"ScoredProperty") || (value = PropertyValue(property, ticket)) == nullptr) {
            continue;
        }
        if (property.Named(L"MediaSizeWidth")) {
            ParseInRange(*value, 0.0, kMaxLengthMicrons, width);
        } else if (property.Named(L"MediaSizeHeight")) {
            ParseInRange(*value, 0.0, kMaxLengthMicrons, height);
        }
    }
    if (width > 0.0 && height > 0.0) {
        s.media.width = s.media.imageableWidth = MicronsToXpsUnits(width);
        s.media.height = s.media.imageableHeight = MicronsToXpsUnits(height);
        s.media.imageableX = s.media.imageableY = 0.0;
    }
}

// The raster formats' resolution: the option's ResolutionX (Unidrv maps the
// dialog's Resolution to it).
void ApplyPageResolution(const Element& feature, const Element& ticket, FilterSettings& s) {
    const Element* option = ChosenOption(feature);
    if (option == nullptr) {
        return;
    }
    for (const Element& property : option->children) {
        const std::wstring* value = nullptr;
        double dpi = 0.0;
        if (property.Is(L"ScoredProperty") && property.Named(L"ResolutionX") &&
            (value = PropertyValue(property, ticket)) != nullptr && ParseInRange(*value, 1.0, 1e6, dpi)) {
            s.output.dpi = static_cast<unsigned>(dpi);
        }
    }
}

// The package's own feature; its options are in the package's namespace too.
void ApplyOutputFormat(const Element& feature, FilterSettings& s) {
    static const wchar_t* const kFormats[] = {L"PDF", L"PDFA1b", L"PDFA2b", L"XPS", L"SVG",
                                              L"EMF", L"PNG",    L"JPEG",   L"TIFF"};
    const Element* option = ChosenOption(feature);
    if (option == nullptr || !option->hasName) {
        return;
    }
    for (const wchar_t* format : kFormats) {
        if (option->NamedInPackage(format)) {
            s.output.format = format;
            s.output.unknownOption.clear();
            return;
        }
    }
    s.output.format = L"PDF";
    s.output.unknownOption = option->nameLocal;
}

// In table order: within one ticket the document-level features come after,
// and so win over, the job-level ones.
struct FeatureHandler {
    const wchar_t* keyword;
    void (*apply)(const Element& feature, const Element& ticket, FilterSettings& s);
};
const FeatureHandler kFeatures[] = {
    {L"PageMediaSize", ApplyMediaSize},
    {L"PageResolution", ApplyPageResolution},
    {L"PageWatermark", ApplyWatermark},
    {L"PageScaling", ApplyScaling},
    {L"PresentationDirection", ApplyDirection},
    {L"JobNUpAllDocumentsContiguously",
     [](const Element& f, const Element& t, FilterSettings& s) { ApplyNUp(f, t, true, s); }},
    {L"DocumentNUp", [](const Element& f, const Element& t, FilterSettings& s) { ApplyNUp(f, t, false, s); }},
    {L"JobBindAllDocuments",
     [](const Element& f, const Element&, FilterSettings& s) { ApplyBinding(f, true, s); }},
    {L"DocumentBinding",
     [](const Element& f, const Element&, FilterSettings& s) { ApplyBinding(f, false, s); }},
};

}  // namespace

HRESULT ApplyPrintTicket(const void* pTicket, std::size_t cbTicket, FilterSettings& settings) {
    if (pTicket == nullptr && cbTicket != 0) {
        return E_POINTER;
    }
    try {
        Element ticket;
        HRESULT hr = ParseTicket(pTicket, cbTicket, ticket);
        if (FAILED(hr)) {
            return hr;
        }
        FilterSettings applied = settings;
        for (const FeatureHandler& handler : kFeatures) {
            for (const Element& feature : ticket.children) {
                if (feature.Is(L"Feature") && feature.Named(handler.keyword)) {
                    handler.apply(feature, ticket, applied);
                }
            }
        }
        for (const Element& feature : ticket.children) {
            if (feature.Is(L"Feature") && feature.NamedInPackage(L"OutputFormat")) {
                ApplyOutputFormat(feature, applied);
            }
            const Element* background = nullptr;
            if (feature.Is(L"Feature") && feature.NamedInPackage(L"PictureBackground") &&
                (background = ChosenOption(feature)) != nullptr) {
                applied.output.transparent = background->NamedInPackage(L"Transparent") ? true
                                             : background->NamedInPackage(L"White")
                                                 ? false
                                                 : applied.output.transparent;
            }
        }
        ApplyParameterInits(ticket, applied);
        settings = std::move(applied);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
