// Print tickets to the filters' settings: each keyword, any prefix, the
// job-document-page order, and tickets that must change nothing.
#include "driver/filters/filtersettings.h"

#include <string>

#include <gtest/gtest.h>

namespace {

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// A ticket whose body is written with the prefixes psf and psk, declared as
// f and k instead (f empty: the framework is the default namespace).
std::string Ticket(const std::string& body, const std::string& f = "psf", const std::string& k = "psk") {
    std::string fp = f.empty() ? "" : f + ":";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><" + fp + "PrintTicket version=\"1\" xmlns" +
           (f.empty() ? "" : ":" + f) +
           "=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework\" xmlns:" + k +
           "=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords\">" +
           Replaced(Replaced(body, "psf:", fp), "psk:", k + ":") + "</" + fp + "PrintTicket>";
}

std::string Init(const std::string& name, const std::string& value) {
    return "<psf:ParameterInit name=\"psk:" + name + "\"><psf:Value>" + value +
           "</psf:Value></psf:ParameterInit>";
}
std::string Scored(const std::string& name, const std::string& value) {
    return "<psf:ScoredProperty name=\"psk:" + name + "\"><psf:Value>" + value +
           "</psf:Value></psf:ScoredProperty>";
}
std::string Ref(const std::string& name, const std::string& parameter) {
    return "<psf:ScoredProperty name=\"psk:" + name + "\"><psf:ParameterRef name=\"psk:" + parameter +
           "\"/></psf:ScoredProperty>";
}
// option empty: an option without a name, as the N-up features have.
std::string Feature(const std::string& name, const std::string& option, const std::string& inner = "",
                    const std::string& sub = "") {
    return "<psf:Feature name=\"psk:" + name + "\"><psf:Option" +
           (option.empty() ? "" : " name=\"" + option + "\"") + ">" + inner + "</psf:Option>" + sub +
           "</psf:Feature>";
}

// The feature as Unidrv writes a GPD feature without a public keyword.
std::string OutputFormat(const std::string& option) {
    return "<psf:Feature name=\"z:OutputFormat\" "
           "xmlns:z=\"http://schemas.zorvane.com/creator/printschema/2026\">"
           "<psf:Option name=\"z:" +
           option + "\"/></psf:Feature>";
}

const std::string kWatermark =
    Feature("PageWatermark", "psk:Text",
            Ref("Text", "PageWatermarkTextText") + Ref("FontSize", "PageWatermarkTextFontSize") +
                Ref("Angle", "PageWatermarkTextAngle") + Ref("FontColor", "PageWatermarkTextColor") +
                Ref("Transparency", "PageWatermarkTransparency") +
                Ref("OriginWidth", "PageWatermarkOriginWidth") +
                Ref("OriginHeight", "PageWatermarkOriginHeight")) +
    Init("PageWatermarkTextText", "DRAFT") + Init("PageWatermarkTextFontSize", "72") +
    Init("PageWatermarkTextAngle", "-30") + Init("PageWatermarkTextColor", "#80FF0000") +
    Init("PageWatermarkTransparency", " 12.5 ") + Init("PageWatermarkOriginWidth", "25400") +
    Init("PageWatermarkOriginHeight", "50800");

HRESULT Apply(const std::string& ticket, FilterSettings& settings) {
    return ApplyPrintTicket(ticket.data(), ticket.size(), settings);
}

struct TicketCase {
    const char* name;
    std::string ticket;
    void (*check)(const FilterSettings&);
};

void CheckWatermark(const FilterSettings& s) {
    EXPECT_TRUE(s.watermark.enabled);
    EXPECT_EQ(s.watermark.text, L"DRAFT");
    EXPECT_DOUBLE_EQ(s.watermark.fontSize, 72.0);
    EXPECT_DOUBLE_EQ(s.watermark.angle, 330.0);
    EXPECT_EQ(s.watermark.rgb, 0xFF0000u);
    EXPECT_EQ(s.watermark.alpha, 0x80);
    EXPECT_DOUBLE_EQ(s.watermark.transparency, 12.5);
    EXPECT_DOUBLE_EQ(s.watermark.originX, 96.0);
    EXPECT_DOUBLE_EQ(s.watermark.originY, 192.0);
}

const TicketCase kCases[] = {
    {"Watermark", Ticket(kWatermark), CheckWatermark},
    {"WatermarkOtherPrefixes", Ticket(kWatermark, "f", "k"), CheckWatermark},
    {"WatermarkDefaultNamespace", Ticket(kWatermark, ""), CheckWatermark},
    {"ScalingCustom",
     Ticket(Feature("PageScaling", "psk:Custom",
                    Scored("ScaleWidth", "50") + Scored("ScaleHeight", "200") +
                        Scored("OffsetWidth", "-2540") + Scored("OffsetHeight", "12700") +
                        Scored("Scale", "300"))),
     [](const FilterSettings& s) {
         EXPECT_TRUE(s.scaling.mode == ScalingMode::Custom && !s.scaling.square);
         EXPECT_DOUBLE_EQ(s.scaling.scaleX, 50.0);
         EXPECT_DOUBLE_EQ(s.scaling.scaleY, 200.0);
         EXPECT_DOUBLE_EQ(s.scaling.offsetX, -9.6);
         EXPECT_DOUBLE_EQ(s.scaling.offsetY, 48.0);
     }},
    {"ScalingCustomSquare",
     Ticket(Feature("PageScaling", "psk:CustomSquare", Ref("Scale", "PageScalingScale")) +
            Init("PageScalingScale", "75")),
     [](const FilterSettings& s) {
         EXPECT_TRUE(s.scaling.mode == ScalingMode::Custom && s.scaling.square);
         EXPECT_DOUBLE_EQ(s.scaling.scaleX, 75.0);
         EXPECT_DOUBLE_EQ(s.scaling.scaleY, 75.0);
     }},
    {"NUpWithItsDirection",
     Ticket(Feature("DocumentNUp", "", Scored("PagesPerSheet", "4"),
                    Feature("PresentationDirection", "psk:BottomLeft"))),
     [](const FilterSettings& s) {
         EXPECT_EQ(s.nup.pagesPerSheet, 4u);
         EXPECT_EQ(s.nup.direction, PresentationDirection::BottomLeft);
     }},
    // Within one ticket the document's feature comes after the job's.
    {"DocumentNUpAfterJobNUp",
     Ticket(Feature("DocumentNUp", "", Scored("PagesPerSheet", "6")) +
            Feature("JobNUpAllDocumentsContiguously", "", Scored("PagesPerSheet", "2"))),
     [](const FilterSettings& s) {
         EXPECT_TRUE(s.nup.pagesPerSheet == 6 && !s.nup.allDocumentsContiguously);
     }},
    {"JobLevel",
     Ticket(Feature("JobNUpAllDocumentsContiguously", "", Scored("PagesPerSheet", "9")) +
            Feature("JobBindAllDocuments", "psk:Booklet")),
     [](const FilterSettings& s) {
         EXPECT_TRUE(s.nup.pagesPerSheet == 9 && s.nup.allDocumentsContiguously);
         EXPECT_TRUE(s.booklet.enabled && s.booklet.allDocuments);
     }},
    {"MediaSize",
     Ticket(Feature("PageMediaSize", "psk:ISOA4",
                    Scored("MediaSizeWidth", "210000") + Scored("MediaSizeHeight", "297000"))),
     [](const FilterSettings& s) {
         EXPECT_NEAR(s.media.width, 793.70, 0.01);
         EXPECT_NEAR(s.media.height, 1122.52, 0.01);
         EXPECT_TRUE(s.media.imageableWidth == s.media.width && s.media.imageableHeight == s.media.height);
     }},
    // The package's own feature; an option it does not know means PDF.
    {"OutputFormat", Ticket(OutputFormat("PDFA2b")),
     [](const FilterSettings& s) {
         EXPECT_TRUE(s.output.format == L"PDFA2b" && s.output.unknownOption.empty());
     }},
    {"OutputFormatUnknown", Ticket(OutputFormat("PDFA2b") + OutputFormat("DOCX")),
     [](const FilterSettings& s) {
         EXPECT_TRUE(s.output.format == L"PDF" && s.output.unknownOption == L"DOCX");
     }},
    // The pictures' resolution and the package's JPEG quality; one out of
    // range is left for the filter to report.
    {"PictureSettings",
     Ticket(
         Feature("PageResolution", "psk:Other", Scored("ResolutionX", "600") + Scored("ResolutionY", "600")) +
         "<psf:ParameterInit name=\"z:JpegQuality\" "
         "xmlns:z=\"http://schemas.zorvane.com/creator/printschema/2026\"><psf:Value>75</psf:Value>"
         "</psf:ParameterInit>" +
         Init("JpegQuality", "40") +
         "<psf:Feature name=\"z:PictureBackground\" "
         "xmlns:z=\"http://schemas.zorvane.com/creator/printschema/2026\"><psf:Option "
         "name=\"z:Transparent\"/>"
         "</psf:Feature>"),
     [](const FilterSettings& s) {
         EXPECT_TRUE(s.output.dpi == 600 && s.output.jpegQuality == 75 && s.output.transparent);
     }},
    // Absurd values, unknown features and private options change nothing.
    {"Ignored",
     Ticket(
         Feature("DocumentNUp", "", Scored("PagesPerSheet", "1000")) +
         Feature("JobNUpAllDocumentsContiguously", "", Scored("PagesPerSheet", "0")) +
         Feature("PageMediaSize", "psk:Custom",
                 Scored("MediaSizeWidth", "-5") + Scored("MediaSizeHeight", "5")) +
         Feature("PageWatermark", "psk:Text", Scored("FontSize", "NaN") + Scored("FontColor", "red")) +
         Feature("PageOrientation", "psk:Landscape") +
         "<psf:Feature name=\"psk:DocumentBinding\"><psf:Option name=\"x:Booklet\" xmlns:x=\"urn:private\"/>"
         "</psf:Feature>"),
     [](const FilterSettings& s) {
         FilterSettings defaults;
         EXPECT_EQ(s.nup.pagesPerSheet, defaults.nup.pagesPerSheet);
         EXPECT_EQ(s.media.width, defaults.media.width);
         EXPECT_EQ(s.watermark.fontSize, defaults.watermark.fontSize);
         EXPECT_EQ(s.watermark.rgb, defaults.watermark.rgb);
         EXPECT_FALSE(s.booklet.enabled);
     }},
};

class TicketTable : public ::testing::TestWithParam<TicketCase> {};

TEST_P(TicketTable, GivesTheSettings) {
    FilterSettings settings;
    ASSERT_EQ(Apply(GetParam().ticket, settings), S_OK) << GetParam().ticket;
    GetParam().check(settings);
}

INSTANTIATE_TEST_SUITE_P(Keywords, TicketTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PrintTicket, LaterTicketsReplaceWhatTheyName) {
    FilterSettings s;
    ASSERT_EQ(Apply(Ticket(kWatermark + Feature("DocumentNUp", "", Scored("PagesPerSheet", "4")) +
                           Feature("DocumentBinding", "psk:Booklet")),
                    s),
              S_OK);
    // The document's ticket changes the text alone, the page's the N-up.
    ASSERT_EQ(Apply(Ticket(Init("PageWatermarkTextText", "COPY")), s), S_OK);
    ASSERT_EQ(Apply(Ticket(Feature("DocumentNUp", "", Scored("PagesPerSheet", "2"))), s), S_OK);
    EXPECT_TRUE(s.watermark.enabled && s.watermark.text == L"COPY" && s.watermark.fontSize == 72.0);
    EXPECT_EQ(s.nup.pagesPerSheet, 2u);
    EXPECT_TRUE(s.booklet.enabled);
    ASSERT_EQ(Apply(Ticket(Feature("PageWatermark", "psk:None") + Feature("DocumentBinding", "psk:None")), s),
              S_OK);
    EXPECT_FALSE(s.watermark.enabled || s.booklet.enabled);
}

TEST(PrintTicket, ReadsUtf16WithItsByteOrderMark) {
    std::string utf8 =
        Replaced(Ticket(Feature("DocumentNUp", "", Scored("PagesPerSheet", "16"))), "UTF-8", "UTF-16");
    std::wstring utf16 = L"\xFEFF" + std::wstring(utf8.begin(), utf8.end());
    FilterSettings s;
    ASSERT_EQ(ApplyPrintTicket(utf16.data(), utf16.size() * sizeof(wchar_t), s), S_OK);
    EXPECT_EQ(s.nup.pagesPerSheet, 16u);
}

TEST(PrintTicket, ABrokenTicketFailsAndChangesNothing) {
    const std::string kBroken[] = {
        Ticket(kWatermark).substr(0, 400),                                       // cut short
        Ticket(Feature("DocumentBinding", "psk:Booklet", "", "</psf:Option>")),  // badly nested
        Ticket(Feature("DocumentBinding", "q:Booklet")),                         // undeclared prefix
        "<?xml version=\"1.0\"?><PrintTicket/>",                                 // not a print ticket
        "",
    };
    for (const std::string& ticket : kBroken) {
        FilterSettings s;
        s.nup.pagesPerSheet = 2;
        EXPECT_TRUE(FAILED(Apply(ticket, s))) << ticket;
        EXPECT_TRUE(s.nup.pagesPerSheet == 2 && !s.booklet.enabled && !s.watermark.enabled);
    }
}

}  // namespace
