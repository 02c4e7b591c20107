// Every choice the printing dialog offers, as the ticket Unidrv writes from
// the GPD files' keyword maps, reaches the filters' settings: the default
// choice leaves them as they are, every other one changes them.
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "driver/filters/filtersettings.h"

namespace {

struct GpdOption {
    std::string name, keyword;
};
struct GpdFeature {
    std::string name, keyword, defaultOption;
    std::vector<GpdOption> options;
};

std::string Quoted(const std::string& line) {
    std::size_t open = line.find('"'), close = line.rfind('"');
    return open < close ? line.substr(open + 1, close - open - 1) : "";
}

std::string Value(const std::string& line) {
    std::string value = line.substr(line.find(':') + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    return value.substr(0, value.find_last_not_of(" \t\r") + 1);
}

// The features of a GPD file as its entries list them; enough for the
// package's own flat files.
std::vector<GpdFeature> ReadGpd(const std::string& name, std::string* privateUri = nullptr) {
    std::ifstream file(std::string(ZORVANE_SOURCE_DIR) + "/driver/" + name);
    EXPECT_TRUE(file.is_open()) << name;
    std::vector<GpdFeature> features;
    for (std::string line; std::getline(file, line);) {
        line.erase(0, line.find_first_not_of(" \t"));
        if (line.rfind("*Feature:", 0) == 0) {
            features.push_back({Value(line), "", "", {}});
        } else if (line.rfind("*Option:", 0) == 0 && !features.empty()) {
            features.back().options.push_back({Value(line), ""});
        } else if (line.rfind("*DefaultOption:", 0) == 0 && !features.empty()) {
            features.back().defaultOption = Value(line);
        } else if (line.rfind("*PrintSchemaKeywordMap:", 0) == 0 && !features.empty()) {
            auto& f = features.back();
            (f.options.empty() ? f.keyword : f.options.back().keyword) = Quoted(line);
        } else if (line.rfind("*PrintSchemaPrivateNamespaceURI:", 0) == 0 && privateUri != nullptr) {
            *privateUri = Quoted(line);
        }
    }
    return features;
}

std::string TicketFor(const GpdFeature& feature, const GpdOption& option, const std::string& privateUri) {
    // A feature without a public keyword is named in the package's namespace.
    std::string body = feature.keyword.empty() ? "<psf:Feature name=\"ns0000:" + feature.name +
                                                     "\" xmlns:ns0000=\"" + privateUri + "\">"
                                               : "<psf:Feature name=\"psk:" + feature.keyword + "\">";
    if (feature.keyword == "DocumentNUp") {
        body += "<psf:Option><psf:ScoredProperty name=\"psk:PagesPerSheet\"><psf:Value>" + option.name +
                "</psf:Value></psf:ScoredProperty></psf:Option>";
    } else if (option.keyword.empty()) {
        body += "<psf:Option name=\"ns0000:" + option.name + "\" xmlns:ns0000=\"" + privateUri + "\"/>";
    } else {
        body += "<psf:Option name=\"psk:" + option.keyword + "\"/>";
    }
    return "<psf:PrintTicket version=\"1\" "
           "xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework\" "
           "xmlns:psk=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords\">" +
           body + "</psf:Feature></psf:PrintTicket>";
}

auto Observable(const FilterSettings& s) {
    return std::make_tuple(s.watermark.enabled, s.watermark.text, s.scaling.mode, s.nup.pagesPerSheet,
                           s.nup.direction, s.booklet.enabled, s.output.format);
}

TEST(Dialog, EveryChoiceReachesTheFilters) {
    std::string privateUri;
    ReadGpd("zorvanedrv.gpd", &privateUri);
    unsigned checked = 0;
    for (const char* file :
         {"zorvanewmark.gpd", "zorvanepgscl.gpd", "zorvanenup.gpd", "zorvanebook.gpd", "zorvanedrv.gpd"}) {
        for (const GpdFeature& feature : ReadGpd(file)) {
            // The main file's other features are Unidrv's own.
            bool main = std::string(file) == "zorvanedrv.gpd";
            if (main && feature.name != "OutputFormat") {
                continue;
            }
            ASSERT_TRUE(main || !feature.keyword.empty()) << file << ": " << feature.name << " is not mapped";
            for (const GpdOption& option : feature.options) {
                std::string ticket = TicketFor(feature, option, privateUri);
                FilterSettings settings;
                ASSERT_EQ(ApplyPrintTicket(ticket.data(), ticket.size(), settings), S_OK) << ticket;
                bool isDefault = option.name == feature.defaultOption;
                EXPECT_EQ(Observable(settings) == Observable(FilterSettings()), isDefault)
                    << feature.name << "." << option.name << ": " << ticket;
                ++checked;
            }
        }
    }
    EXPECT_GE(checked, 10u);
}

}  // namespace
