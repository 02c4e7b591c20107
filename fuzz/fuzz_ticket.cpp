// The filters' print ticket reader on any bytes, two tickets applied in
// turn as job and page tickets are. Whatever a ticket says, the settings
// stay within filtersettings.h's ranges, and a ticket refused changes
// nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "driver/filters/filtersettings.h"
#include "fuzz/check.h"

namespace {

std::string Describe(const FilterSettings& s) {
    std::ostringstream out;
    const WatermarkSettings& w = s.watermark;
    out << w.enabled << w.text.size() << w.fontSize << w.angle << w.rgb << int(w.alpha) << w.transparency
        << w.originX << w.originY << int(s.scaling.mode) << s.scaling.scaleX << s.scaling.scaleY
        << s.scaling.offsetX << s.scaling.offsetY << s.nup.pagesPerSheet << int(s.nup.direction)
        << s.booklet.enabled << s.media.width << s.media.height << s.output.format.size() << s.output.dpi
        << s.output.jpegQuality << s.output.transparent;
    return out.str();
}

void CheckRanges(const FilterSettings& s) {
    FUZZ_CHECK(s.watermark.text.size() <= 1000);
    FUZZ_CHECK(s.watermark.fontSize > 0 && s.watermark.fontSize <= 1000);
    FUZZ_CHECK(s.watermark.angle >= 0 && s.watermark.angle < 360);
    FUZZ_CHECK(s.watermark.transparency >= 0 && s.watermark.transparency <= 100);
    FUZZ_CHECK(std::isfinite(s.watermark.originX) && std::isfinite(s.watermark.originY));
    FUZZ_CHECK(s.scaling.scaleX > 0 && s.scaling.scaleX <= 1000);
    FUZZ_CHECK(s.scaling.scaleY > 0 && s.scaling.scaleY <= 1000);
    FUZZ_CHECK(std::isfinite(s.scaling.offsetX) && std::isfinite(s.scaling.offsetY));
    unsigned n = s.nup.pagesPerSheet;
    FUZZ_CHECK(n == 1 || n == 2 || n == 4 || n == 6 || n == 8 || n == 9 || n == 16);
    FUZZ_CHECK(s.media.width >= 0 && std::isfinite(s.media.width));
    FUZZ_CHECK(s.media.height >= 0 && std::isfinite(s.media.height));
    FUZZ_CHECK(s.output.jpegQuality <= 100);
    FUZZ_CHECK(s.output.dpi <= 1000000);
    FUZZ_CHECK(!s.output.format.empty());
}

void Apply(const std::string& ticket, FilterSettings& settings) {
    std::string before = Describe(settings);
    if (FAILED(ApplyPrintTicket(ticket.data(), ticket.size(), settings))) {
        FUZZ_CHECK(Describe(settings) == before);
    }
    CheckRanges(settings);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    FilterSettings settings;
    std::string job = input.ConsumeRandomLengthString(size);
    Apply(job, settings);
    Apply(input.ConsumeRemainingBytesAsString(), settings);
    return 0;
}
