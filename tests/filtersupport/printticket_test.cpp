// Print tickets to the filters' settings: each keyword, any prefix, the
// job-document-page order, and tickets that must change nothing.
#include "driver/filters/filtersettings.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A ticket with the usual prefixes, or the given ones for the framework and
// the keywords.
std::string Ticket(const std::string& body, const std::string& psf = "psf", const std::string& psk = "psk") {
    auto rename = [&](std::string text) {
        for (auto [from, to] : {std::pair<std::string, std::string>{"psf:", psf + ":"},
                                {"psk:", psk + ":"},
                                {":psf=", ":" + psf + "="},
                                {":psk=", ":" + psk + "="}}) {
            for (std::size_t at = text.find(from); at != std::string::npos;
                 at = text.find(from, at + to.size())) {
                text.replace(at, from.size(), to);
            }
        }
        return text;
    };
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" +
           rename(
               "<psf:PrintTicket version=\"1\" "
               "xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework\" "
               "xmlns:psk=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords\" "
               "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
               "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">" +
               body + "</psf:PrintTicket>");
}

std::string Init(const std::string& name, const std::string& value) {
    return "<psf:ParameterInit name=\"psk:" + name + "\"><psf:Value xsi:type=\"xsd:string\">" + value +
           "</psf:Value></psf:ParameterInit>";
}

std::string Scored(const std::string& name, const std::string& value) {
    return "<psf:ScoredProperty name=\"psk:" + name + "\"><psf:Value xsi:type=\"xsd:integer\">" + value +
           "</psf:Value></psf:ScoredProperty>";
}

std::string Ref(const std::string& name, const std::string& parameter) {
    return "<psf:ScoredProperty name=\"psk:" + name + "\"><psf:ParameterRef name=\"psk:" + parameter +
           "\"/></psf:ScoredProperty>";
}

std::string Feature(const std::string& name, const std::string& option, const std::string& inner = "",
                    const std::string& sub = "") {
    std::string open = option.empty() ? "<psf:Option>" : "<psf:Option name=\"" + option + "\">";
    return "<psf:Feature name=\"psk:" + name + "\">" + open + inner + "</psf:Option>" + sub +
           "</psf:Feature>";
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
    Init("PageWatermarkTransparency", "25") + Init("PageWatermarkOriginWidth", "25400") +
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
    EXPECT_DOUBLE_EQ(s.watermark.transparency, 25.0);
    EXPECT_DOUBLE_EQ(s.watermark.originX, 96.0);
    EXPECT_DOUBLE_EQ(s.watermark.originY, 192.0);
}

const TicketCase kCases[] = {
    {"Watermark", Ticket(kWatermark), CheckWatermark},
    // Other prefixes, and the framework as the default namespace.
    {"WatermarkAnyPrefix", Ticket(kWatermark, "f", "k"), CheckWatermark},
    {"WatermarkDefaultNamespace",
     [] {
         std::string t = Ticket(kWatermark, "f");
         for (std::size_t at; (at = t.find("f:")) != std::string::npos;) {
             t.erase(at, 2);
         }
         return t.replace(t.find("xmlns:f="), 8, "xmlns=");
     }(),
     CheckWatermark},
    {"ScalingCustom",
     Ticket(Feature("PageScaling", "psk:Custom",
                    Scored("ScaleWidth", "50") + Scored("ScaleHeight", "200") +
                        Scored("OffsetWidth", "-2540") + Scored("OffsetHeight", "12700") +
                        Scored("Scale", "300"))),
     [](const FilterSettings& s) {
         EXPECT_EQ(s.scaling.mode, ScalingMode::Custom);
         EXPECT_FALSE(s.scaling.square);
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
    {"ScalingFit", Ticket(Feature("PageScaling", "psk:FitApplicationMediaSizeToPageMediaSize")),
     [](const FilterSettings& s) { EXPECT_EQ(s.scaling.mode, ScalingMode::FitToImageable); }},
    {"DocumentNUp",
     Ticket(Feature("DocumentNUp", "", Scored("PagesPerSheet", "4"),
                    "<psf:Feature name=\"psk:PresentationDirection\"><psf:Option name=\"psk:BottomLeft\"/>"
                    "</psf:Feature>")),
     [](const FilterSettings& s) {
         EXPECT_EQ(s.nup.pagesPerSheet, 4u);
         EXPECT_EQ(s.nup.direction, PresentationDirection::BottomLeft);
         EXPECT_FALSE(s.nup.allDocumentsContiguously);
     }},
    // Within one ticket the document's feature comes after the job's.
    {"JobAndDocumentNUp",
     Ticket(Feature("DocumentNUp", "", Scored("PagesPerSheet", "6")) +
            Feature("JobNUpAllDocumentsContiguously", "", Scored("PagesPerSheet", "2"))),
     [](const FilterSettings& s) {
         EXPECT_TRUE(s.nup.pagesPerSheet == 6 && !s.nup.allDocumentsContiguously);
     }},
    {"JobNUp", Ticket(Feature("JobNUpAllDocumentsContiguously", "", Scored("PagesPerSheet", "9"))),
     [](const FilterSettings& s) {
         EXPECT_TRUE(s.nup.pagesPerSheet == 9 && s.nup.allDocumentsContiguously);
     }},
    {"DocumentBooklet", Ticket(Feature("DocumentBinding", "psk:Booklet")),
     [](const FilterSettings& s) { EXPECT_TRUE(s.booklet.enabled && !s.booklet.allDocuments); }},
    {"JobBooklet", Ticket(Feature("JobBindAllDocuments", "psk:Booklet")),
     [](const FilterSettings& s) { EXPECT_TRUE(s.booklet.enabled && s.booklet.allDocuments); }},
    {"MediaSize",
     Ticket(Feature("PageMediaSize", "psk:ISOA4",
                    Scored("MediaSizeWidth", "210000") + Scored("MediaSizeHeight", "297000"))),
     [](const FilterSettings& s) {
         EXPECT_NEAR(s.media.width, 793.70, 0.01);
         EXPECT_NEAR(s.media.height, 1122.52, 0.01);
         EXPECT_DOUBLE_EQ(s.media.imageableWidth, s.media.width);
         EXPECT_DOUBLE_EQ(s.media.imageableHeight, s.media.height);
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
    EXPECT_TRUE(s.watermark.enabled);
    EXPECT_EQ(s.watermark.text, L"COPY");
    EXPECT_DOUBLE_EQ(s.watermark.fontSize, 72.0);
    EXPECT_EQ(s.nup.pagesPerSheet, 2u);
    EXPECT_TRUE(s.booklet.enabled);
    ASSERT_EQ(Apply(Ticket(Feature("PageWatermark", "psk:None") + Feature("DocumentBinding", "psk:None")), s),
              S_OK);
    EXPECT_FALSE(s.watermark.enabled);
    EXPECT_FALSE(s.booklet.enabled);
}

TEST(PrintTicket, ReadsUtf16WithItsByteOrderMark) {
    std::string utf8 = Ticket(Feature("DocumentNUp", "", Scored("PagesPerSheet", "16")));
    utf8.replace(utf8.find("UTF-8"), 5, "UTF-16");
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
        EXPECT_EQ(s.nup.pagesPerSheet, 2u);
        EXPECT_FALSE(s.booklet.enabled);
        EXPECT_FALSE(s.watermark.enabled);
    }
}

}  // namespace
