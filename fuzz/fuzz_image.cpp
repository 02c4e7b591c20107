// The image decoders on any bytes: the own PNG decoder in its three uses,
// JPEG headers, the PDF writer's image preparation, and the code around
// WIC's decoding (the stand-in codec of shim/fakes.cpp). Each answer is
// checked against what image.h promises of it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/image.h"
#include "engine/pdfimage.h"
#include "fuzz/check.h"
#include "xps/workbudget.h"

namespace {

void CheckDecoded(const engine::DecodedImage& image) {
    FUZZ_CHECK(image.width >= 1 && image.width <= engine::kMaxImageSide);
    FUZZ_CHECK(image.height >= 1 && image.height <= engine::kMaxImageSide);
    std::uint64_t pixels = std::uint64_t{image.width} * image.height;
    FUZZ_CHECK(pixels <= engine::kMaxImagePixels);
    FUZZ_CHECK(image.components == 1 || image.components == 3);
    FUZZ_CHECK(image.pixels.size() == pixels * image.components);
    FUZZ_CHECK(image.alpha.empty() || image.alpha.size() == pixels);
    FUZZ_CHECK(image.iccProfile.size() <= engine::kMaxIccProfile);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    // A job's budget, as the converter charges it.
    xps::WorkBudget budget(xps::WorkBudget::ForInput(size), 0);
    xps::WorkBudget::Scope charged(budget);
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    engine::DecodedImage image;
    switch (data[0] % 6) {
        case 0:
            if (SUCCEEDED(engine::DecodePng(bytes, image))) {
                CheckDecoded(image);
                engine::DecodedImage info;
                FUZZ_CHECK(SUCCEEDED(engine::ReadPngInfo(bytes, info)));
                FUZZ_CHECK(info.width == image.width && info.height == image.height &&
                           info.components == image.components);
            }
            break;
        case 1: {
            std::string deflated;
            if (SUCCEEDED(engine::ReadPngDeflated(bytes, image, deflated))) {
                FUZZ_CHECK(image.components == 1 || image.components == 3);
                FUZZ_CHECK(SUCCEEDED(engine::DecodePng(bytes, image)));
            }
            break;
        }
        case 2: {
            engine::JpegInfo info;
            if (SUCCEEDED(engine::ReadJpegInfo(bytes, info))) {
                FUZZ_CHECK(info.width >= 1 && info.height >= 1);
                FUZZ_CHECK(info.components == 1 || info.components == 3 || info.components == 4);
                FUZZ_CHECK(info.bitsPerComponent == 8 || info.bitsPerComponent == 12);
            }
            break;
        }
        case 3:
        case 4: {
            engine::PdfImage pdfImage;
            if (SUCCEEDED(engine::MakePdfImage(bytes, data[0] % 6 == 4, pdfImage))) {
                FUZZ_CHECK(pdfImage.width >= 1 && pdfImage.height >= 1);
                FUZZ_CHECK(pdfImage.alpha.empty() ||
                           pdfImage.alpha.size() == std::uint64_t{pdfImage.width} * pdfImage.height);
            }
            break;
        }
        default:
            if (SUCCEEDED(engine::DecodeWithWic(bytes, image))) {
                CheckDecoded(image);
            }
            break;
    }
    return 0;
}
