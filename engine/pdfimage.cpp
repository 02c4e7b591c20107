#include "engine/pdfimage.h"

#include "engine/image.h"

namespace engine {

namespace {

const HRESULT kNotSupported = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);

bool StartsWith(const std::string& bytes, const char* signature, std::size_t size) {
    return bytes.size() >= size && bytes.compare(0, size, signature, size) == 0;
}

// A profile PDF 1.4 can read (version 2) for the given number of components.
bool UsableProfile(const std::string& profile, int components, bool version2Only) {
    if (profile.size() < 128) {
        return false;
    }
    std::string space = profile.substr(16, 4);
    bool matches = (components == 1 && space == "GRAY") || (components == 3 && space == "RGB ") ||
                   (components == 4 && space == "CMYK");
    return matches && (!version2Only || static_cast<unsigned char>(profile[8]) <= 2);
}

HRESULT FromDecoded(DecodedImage& decoded, bool flattenAlpha, PdfImage& image) {
    image.width = decoded.width;
    image.height = decoded.height;
    image.colorSpace = decoded.components == 1 ? "/DeviceGray" : "/DeviceRGB";
    image.dpiX = decoded.dpiX > 0 ? decoded.dpiX : 96;
    image.dpiY = decoded.dpiY > 0 ? decoded.dpiY : 96;
    image.iccProfile = std::move(decoded.iccProfile);
    if (flattenAlpha && !decoded.alpha.empty()) {
        // No soft masks: the image over white paper.
        std::size_t components = static_cast<std::size_t>(decoded.components);
        for (std::size_t i = 0; i < decoded.pixels.size(); ++i) {
            unsigned alpha = static_cast<unsigned char>(decoded.alpha[i / components]);
            unsigned value = static_cast<unsigned char>(decoded.pixels[i]);
            decoded.pixels[i] = static_cast<char>((value * alpha + 255 * (255 - alpha) + 127) / 255);
            image.alphaFlattened = image.alphaFlattened || alpha != 255;
        }
        decoded.alpha.clear();
    }
    image.data = std::move(decoded.pixels);
    image.alpha = std::move(decoded.alpha);
    return S_OK;
}

}  // namespace

HRESULT MakePdfImage(const std::string& bytes, bool archiveWithoutTransparency, PdfImage& image) {
    image = PdfImage();
    if (StartsWith(bytes, "\xFF\xD8", 2)) {
        JpegInfo info;
        HRESULT hr = ReadJpegInfo(bytes, info);
        if (FAILED(hr)) {
            return hr;
        }
        // DCTDecode takes 8-bit JPEG; a CMYK one in an archive needs its
        // own profile, since the archive's intent is sRGB.
        bool passes = info.bitsPerComponent == 8 && (info.components != 4 || !archiveWithoutTransparency ||
                                                     UsableProfile(info.iccProfile, 4, true));
        if (passes) {
            image.width = info.width;
            image.height = info.height;
            image.colorSpace = info.components == 1   ? "/DeviceGray"
                               : info.components == 3 ? "/DeviceRGB"
                                                      : "/DeviceCMYK";
            image.extra = info.adobeInverted ? "/Decode[1 0 1 0 1 0 1 0]" : "";
            image.iccProfile = UsableProfile(info.iccProfile, info.components, archiveWithoutTransparency)
                                   ? info.iccProfile
                                   : std::string();
            image.dpiX = info.dpiX > 0 ? info.dpiX : 96;
            image.dpiY = info.dpiY > 0 ? info.dpiY : 96;
            image.data = bytes;
            image.filter = "DCTDecode";
            image.components = info.components;
            return S_OK;
        }
    }
    DecodedImage decoded;
    bool png = StartsWith(bytes, "\x89PNG\r\n\x1A\n", 8);
    // A PNG's own data, when PDF reads it as it is, saves decoding it and
    // deflating its samples again.
    std::string deflated;
    HRESULT hr = png ? ReadPngDeflated(bytes, decoded, deflated) : kNotSupported;
    if (hr == kNotSupported) {
        hr = png ? DecodePng(bytes, decoded) : DecodeWithWic(bytes, decoded);
    }
    if (FAILED(hr)) {
        return hr;
    }
    image.components = decoded.components;
    hr = FromDecoded(decoded, archiveWithoutTransparency, image);
    if (!deflated.empty()) {
        image.data = std::move(deflated);
        image.filter = "FlateDecode";
        image.extra = "/DecodeParms<</Predictor 15/Colors " + std::to_string(image.components) +
                      "/BitsPerComponent 8/Columns " + std::to_string(image.width) + ">>";
    }
    if (!UsableProfile(image.iccProfile, image.components, archiveWithoutTransparency)) {
        image.iccProfile.clear();
    }
    return hr;
}

}  // namespace engine
