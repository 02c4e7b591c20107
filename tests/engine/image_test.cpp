// The image module against what ImageMagick reads of the images that
// make-image-fixtures makes at test time (ctest runs it first and names its
// folder in ZORVANE_IMAGE_FIXTURES), and on damaged and hostile images.
#include "engine/image.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <objbase.h>
#include <wincodec.h>
#include <zlib.h>

#include "xps/ziparchive.h"

namespace {

using namespace std::string_literals;
const HRESULT kNotSupported = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// A line of expected.txt.
struct Fixture {
    std::string kind, name, path;
    std::uint32_t width = 0, height = 0;
    double dpiX = 0, dpiY = 0;
    std::string rest;  // of a JPEG: "COMPONENTS BITS PROGRESSIVE ADOBE"
};

std::vector<Fixture> Fixtures(const std::string& kind) {
    const char* folder = std::getenv("ZORVANE_IMAGE_FIXTURES");
    if (folder == nullptr) {
        return {};
    }
    std::ifstream manifest(folder + "/expected.txt"s);
    std::vector<Fixture> fixtures;
    for (std::string line; std::getline(manifest, line);) {
        Fixture f;
        std::istringstream fields(line);
        fields >> f.kind >> f.name >> f.width >> f.height >> f.dpiX >> f.dpiY >> std::ws;
        std::getline(fields, f.rest);
        f.path = folder + "/"s + f.name;
        if (f.kind == kind) {
            fixtures.push_back(f);
        }
    }
    return fixtures;
}

// The image against ImageMagick's 8-bit RGBA decode and its profile.
void ExpectAsImageMagick(const Fixture& f, const engine::DecodedImage& image) {
    EXPECT_EQ(f.width, image.width);
    EXPECT_EQ(f.height, image.height);
    EXPECT_NEAR(f.dpiX, image.dpiX, 0.05);
    EXPECT_NEAR(f.dpiY, image.dpiY, 0.05);
    EXPECT_EQ(ReadFile(f.path + ".icc"), image.iccProfile);
    std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
    ASSERT_EQ(pixels * image.components, image.pixels.size());
    ASSERT_TRUE(image.alpha.empty() || image.alpha.size() == pixels);
    std::string rgba;
    for (std::size_t i = 0; i < pixels; ++i) {
        const char* p = &image.pixels[i * image.components];
        rgba += (image.components == 1 ? std::string(3, *p) : std::string(p, 3)) +
                (image.alpha.empty() ? '\xFF' : image.alpha[i]);
    }
    std::string expected = ReadFile(f.path + ".rgba");
    ASSERT_EQ(expected.size(), rgba.size());
    // ImageMagick truncates 16-bit samples to 8 bits, where the module rounds.
    auto withinOne = [](char a, char b) {
        return std::abs(static_cast<unsigned char>(a) - static_cast<unsigned char>(b)) <= 1;
    };
    auto differs = std::mismatch(rgba.begin(), rgba.end(), expected.begin(), withinOne).first - rgba.begin();
    EXPECT_EQ(rgba.size(), static_cast<std::size_t>(differs))
        << "pixel " << differs / 4 << ", byte " << differs % 4;
}

void ExpectEachAsImageMagick(const char* kind, HRESULT (*decode)(const std::string&, engine::DecodedImage&)) {
    std::vector<Fixture> fixtures = Fixtures(kind);
    EXPECT_FALSE(fixtures.empty()) << "no images made: run through ctest";
    for (const Fixture& f : fixtures) {
        SCOPED_TRACE(f.name);
        engine::DecodedImage image;
        ASSERT_EQ(S_OK, decode(ReadFile(f.path), image));
        ExpectAsImageMagick(f, image);
    }
}

TEST(Png, EveryKindDecodesAsImageMagickDecodesIt) { ExpectEachAsImageMagick("png", engine::DecodePng); }

TEST(Wic, JpegXrDecodesAsItsSource) {
    std::vector<Fixture> fixtures = Fixtures("jxr");
    if (fixtures.empty()) {
        GTEST_SKIP() << "no JPEG XR image: JxrEncApp (libjxr-tools) is not installed";
    }
    engine::DecodedImage image;
    if (engine::DecodeWithWic(ReadFile(fixtures[0].path), image) == WINCODEC_ERR_COMPONENTNOTFOUND) {
        GTEST_SKIP() << "this system's WIC has no JPEG XR decoder";
    }
    ExpectEachAsImageMagick("jxr", engine::DecodeWithWic);
}

// With COM left on the calling thread as the call found it.
TEST(Wic, TiffDecodesAsImageMagickDecodesIt) {
    for (bool callerInitialised : {false, true}) {
        SCOPED_TRACE(callerInitialised ? "in a single-threaded apartment" : "without COM");
        if (callerInitialised) {
            ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        }
        ExpectEachAsImageMagick("tiff", engine::DecodeWithWic);
        EXPECT_EQ(callerInitialised ? S_FALSE : S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        CoUninitialize();
        if (callerInitialised) {
            CoUninitialize();
        }
    }
}

TEST(Jpeg, HeadersReadAsImageMagickReadsThem) {
    std::vector<Fixture> fixtures = Fixtures("jpeg");
    EXPECT_FALSE(fixtures.empty()) << "no images made: run through ctest";
    for (const Fixture& f : fixtures) {
        SCOPED_TRACE(f.name);
        engine::JpegInfo info;
        ASSERT_EQ(S_OK, engine::ReadJpegInfo(ReadFile(f.path), info));
        std::ostringstream read;
        read << info.components << ' ' << info.bitsPerComponent << ' ' << info.progressive << ' '
             << info.adobeInverted;
        EXPECT_EQ(f.rest, read.str());
        EXPECT_EQ(f.width, info.width);
        EXPECT_EQ(f.height, info.height);
        EXPECT_NEAR(f.dpiX, info.dpiX, 0.05);
        EXPECT_NEAR(f.dpiY, info.dpiY, 0.05);
        EXPECT_EQ(ReadFile(f.path + ".icc"), info.iccProfile);
    }
}

std::string Be32(std::uint32_t n) {
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
            static_cast<char>(n)};
}

std::string Deflated(const std::string& data) {
    uLongf size = compressBound(data.size());
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
             data.size());
    return out.substr(0, size);
}

std::string Chunk(const std::string& type, const std::string& data) {
    std::string body = type + data;
    return Be32(data.size()) + body +
           Be32(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size()));
}

std::string Png(std::uint32_t width, std::uint32_t height, char depth, char colorType,
                const std::string& rows, const std::string& before = "") {
    std::string header = Be32(width) + Be32(height) + depth + colorType + "\0\0\0"s;
    return "\x89PNG\r\n\x1a\n"s + Chunk("IHDR", header) + before + Chunk("IDAT", Deflated(rows)) +
           Chunk("IEND", "");
}

struct Case {
    const char* name;
    std::string bytes;
    HRESULT expected;
};

TEST(Png, DamagedAndHostileImagesFailCleanly) {
    const std::string rows = "\0\1\2\4\3\4"s;  // 2 x 2 grey: filter none, then Paeth
    const std::string valid = Png(2, 2, 8, 0, rows);
    std::string badCrc = valid;
    badCrc[badCrc.size() - 13] ^= 1;  // the IDAT chunk's
    std::string badAncillaryCrc = Chunk("sRGB", "\0"s);
    badAncillaryCrc.back() ^= 1;
    const std::string bigProfile = "p\0\0"s + Deflated(std::string(engine::kMaxIccProfile + 1, 'x'));
    const Case cases[] = {
        {"valid", valid, S_OK},
        {"a wrong CRC", badCrc, xps::kDamaged},
        {"a wrong CRC of an ancillary chunk", Png(2, 2, 8, 0, rows, badAncillaryCrc), S_OK},
        {"cut short", valid.substr(0, valid.size() - 20), xps::kDamaged},
        {"bit depth 3", Png(2, 2, 3, 0, rows), xps::kDamaged},
        {"width 0", Png(0, 2, 8, 0, rows), xps::kDamaged},
        {"fewer rows than its height", Png(2, 3, 8, 0, rows), xps::kDamaged},
        {"filter type 5", Png(2, 2, 8, 0, "\5\1\2\0\3\4"s), xps::kDamaged},
        {"data inflating past its rows", Png(2, 2, 8, 0, rows + std::string(1 << 20, '\0')), xps::kDamaged},
        {"a palette image without palette", Png(2, 2, 8, 3, rows), xps::kDamaged},
        {"an index past the palette", Png(2, 2, 8, 3, rows, Chunk("PLTE", "abcdef")), xps::kDamaged},
        {"an unknown critical chunk", Png(2, 2, 8, 0, rows, Chunk("ZZZZ", "")), kNotSupported},
        {"a side over the cap", Png(engine::kMaxImageSide + 1, 1, 8, 0, rows), xps::kOverCap},
        {"pixels over the cap", Png(65535, 65535, 8, 0, rows), xps::kOverCap},
        {"a profile inflating past its cap", Png(2, 2, 8, 0, rows, Chunk("iCCP", bigProfile)), xps::kOverCap},
    };
    for (const Case& c : cases) {
        engine::DecodedImage image;
        EXPECT_EQ(c.expected, engine::DecodePng(c.bytes, image)) << c.name;
        EXPECT_EQ(c.expected == S_OK, !image.pixels.empty()) << c.name;
    }
}

TEST(Png, OnlyDataPdfReadsAsItStandsIsKeptDeflated) {
    const std::string grey = "\0\1\2\4\3\4"s;  // 2 x 2: filter none, then Paeth
    const std::string rgb = "\0abcdef\2ghijkl"s;
    std::string interlaced = Png(2, 2, 8, 0, grey);
    interlaced[28] = 1;
    interlaced.replace(29, 4, Be32(crc32(0, reinterpret_cast<const Bytef*>(&interlaced[12]), 17)));
    const Case cases[] = {
        {"8-bit grey", Png(2, 2, 8, 0, grey), S_OK},
        {"8-bit RGB", Png(2, 2, 8, 2, rgb), S_OK},
        {"16-bit grey", Png(1, 2, 16, 0, grey), kNotSupported},
        {"4-bit grey", Png(4, 2, 4, 0, "\0\1\2\0\3\4"s), kNotSupported},
        {"a palette", Png(2, 2, 8, 3, grey, Chunk("PLTE", "abcdefghijklmno")), kNotSupported},
        {"grey with alpha", Png(1, 2, 8, 4, grey), kNotSupported},
        {"a colour key", Png(2, 2, 8, 0, grey, Chunk("tRNS", "\0\1"s)), kNotSupported},
        {"interlaced", interlaced, kNotSupported},
        {"filter type 5", Png(2, 2, 8, 0, "\5\1\2\0\3\4"s), xps::kDamaged},
        {"fewer rows than its height", Png(2, 3, 8, 0, grey), xps::kDamaged},
        {"data inflating past its rows", Png(2, 2, 8, 0, grey + "\0\0\0"s), xps::kDamaged},
    };
    for (const Case& c : cases) {
        engine::DecodedImage image;
        std::string deflated;
        EXPECT_EQ(c.expected, engine::ReadPngDeflated(c.bytes, image, deflated)) << c.name;
        EXPECT_EQ(c.expected == S_OK, !deflated.empty()) << c.name;
    }
    engine::DecodedImage image;
    std::string deflated;
    ASSERT_EQ(S_OK, engine::ReadPngDeflated(Png(2, 2, 8, 2, rgb), image, deflated));
    EXPECT_EQ(Deflated(rgb), deflated);
    EXPECT_EQ(3, image.components);
    EXPECT_TRUE(image.pixels.empty());
}

TEST(Jpeg, DamagedAndUnsupportedHeadersFail) {
    // A frame (SOFn) of 16 x 16 pixels, 3 components, and the start of its scan.
    auto image = [](char frame, const std::string& height, char components) {
        return "\xFF\xD8\xFF"s + frame + "\0\x11\x08"s + height + "\0\x10"s + components +
               "\1\x11\0\2\x11\0\3\x11\0"s + "\xFF\xDA\0\x08\1\1\0\0\x3F\0"s;
    };
    const Case cases[] = {
        {"valid", image('\xC0', "\0\x10"s, 3), S_OK},
        {"a segment past the end", "\xFF\xD8\xFF\xE0\0\x40JFIF"s, xps::kDamaged},
        {"a scan before its frame", "\xFF\xD8\xFF\xDA\0\x08\1\1\0\0\x3F\0"s, xps::kDamaged},
        {"lossless", image('\xC3', "\0\x10"s, 3), kNotSupported},
        {"two components", image('\xC0', "\0\x10"s, 2), kNotSupported},
        {"a height left to DNL", image('\xC0', "\0\0"s, 3), kNotSupported},
    };
    for (const Case& c : cases) {
        engine::JpegInfo info;
        EXPECT_EQ(c.expected, engine::ReadJpegInfo(c.bytes, info)) << c.name;
    }
}

}  // namespace
