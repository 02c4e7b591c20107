#include "engine/colorprofiles.h"

#include <icm.h>

#include <cmath>

#include "platform/systemlibrary.h"
#include "xps/checkedmath.h"
#include "xps/partname.h"

namespace engine {

namespace {

SystemLibrary mscmsLibrary{L"mscms.dll"};

// The few ICM functions used, bound at run time: Windows XP has them all,
// but a program that never meets a context colour need not load mscms.dll.
struct Icm {
    decltype(&::OpenColorProfileW) open =
        mscmsLibrary.Bind<decltype(::OpenColorProfileW)>("OpenColorProfileW");
    decltype(&::CloseColorProfile) close =
        mscmsLibrary.Bind<decltype(::CloseColorProfile)>("CloseColorProfile");
    decltype(&::GetColorProfileHeader) header =
        mscmsLibrary.Bind<decltype(::GetColorProfileHeader)>("GetColorProfileHeader");
    decltype(&::GetStandardColorSpaceProfileW) standard =
        mscmsLibrary.Bind<decltype(::GetStandardColorSpaceProfileW)>("GetStandardColorSpaceProfileW");
    decltype(&::CreateMultiProfileTransform) create =
        mscmsLibrary.Bind<decltype(::CreateMultiProfileTransform)>("CreateMultiProfileTransform");
    decltype(&::TranslateColors) translate =
        mscmsLibrary.Bind<decltype(::TranslateColors)>("TranslateColors");
    decltype(&::DeleteColorTransform) remove =
        mscmsLibrary.Bind<decltype(::DeleteColorTransform)>("DeleteColorTransform");

    bool Ready() const { return open && close && header && standard && create && translate && remove; }
};

const Icm& IcmFunctions() {
    static const Icm icm;
    return icm;
}

// A profile open for as long as its owner lives.
class OpenProfile {
public:
    OpenProfile(const Icm& icm, PROFILE& profile)
        : icm_(icm), handle_(icm.open(&profile, PROFILE_READ, FILE_SHARE_READ, OPEN_EXISTING)) {}
    ~OpenProfile() {
        if (handle_ != nullptr) {
            icm_.close(handle_);
        }
    }
    OpenProfile(const OpenProfile&) = delete;
    OpenProfile& operator=(const OpenProfile&) = delete;
    HPROFILE Get() const { return handle_; }

private:
    const Icm& icm_;
    HPROFILE handle_;
};

// An ICC signature ('RGB '), which the SDK spells as a multi-character
// constant that GCC warns of.
constexpr DWORD Signature(const char (&tag)[5]) {
    return static_cast<DWORD>(static_cast<unsigned char>(tag[0])) << 24 |
           static_cast<DWORD>(static_cast<unsigned char>(tag[1])) << 16 |
           static_cast<DWORD>(static_cast<unsigned char>(tag[2])) << 8 | static_cast<unsigned char>(tag[3]);
}

WORD Channel(double value) { return xps::Clamped<WORD>(std::round(value * 65535), 0, 65535); }

}  // namespace

struct ColorProfiles::Transform {
    HTRANSFORM handle;
    std::size_t channels;
    COLORTYPE type;
    ~Transform() { IcmFunctions().remove(handle); }
};

ColorProfiles::ColorProfiles(const xps::XpsPackage& package) : package_(package) {}

ColorProfiles::~ColorProfiles() = default;

const ColorProfiles::Transform* ColorProfiles::TransformFor(const std::wstring& profilePart) {
    std::wstring key = xps::PartKey(profilePart);
    auto found = transforms_.find(key);
    if (found != transforms_.end()) {
        return found->second.get();
    }
    if (transforms_.size() >= kMaxProfiles) {
        return nullptr;
    }
    std::unique_ptr<Transform>& made = transforms_[key];
    const Icm& icm = IcmFunctions();
    std::string bytes;
    if (!icm.Ready() || FAILED(package_.Read(profilePart, bytes)) || bytes.empty() ||
        bytes.size() > kMaxProfileSize) {
        return nullptr;
    }
    PROFILE source = {PROFILE_MEMBUFFER, &bytes[0], static_cast<DWORD>(bytes.size())};
    wchar_t pSrgbPath[MAX_PATH];
    DWORD cbSrgbPath = sizeof(pSrgbPath);
    if (!icm.standard(nullptr, Signature("sRGB"), pSrgbPath, &cbSrgbPath)) {
        return nullptr;
    }
    PROFILE srgb = {PROFILE_FILENAME, pSrgbPath,
                    static_cast<DWORD>((::lstrlenW(pSrgbPath) + 1) * sizeof(wchar_t))};
    OpenProfile from(icm, source), to(icm, srgb);
    PROFILEHEADER header = {};
    if (from.Get() == nullptr || to.Get() == nullptr || !icm.header(from.Get(), &header)) {
        return nullptr;
    }
    std::size_t channels = header.phDataColorSpace == Signature("GRAY")   ? 1
                           : header.phDataColorSpace == Signature("RGB ") ? 3
                           : header.phDataColorSpace == Signature("CMYK") ? 4
                                                                          : 0;
    if (channels == 0) {
        return nullptr;
    }
    // The intent the profile asks for, where it is one of the four.
    DWORD intent = header.phRenderingIntent <= INTENT_ABSOLUTE_COLORIMETRIC ? header.phRenderingIntent
                                                                            : INTENT_PERCEPTUAL;
    HPROFILE profiles[2] = {from.Get(), to.Get()};
    DWORD intents[2] = {intent, intent};
    HTRANSFORM handle = icm.create(profiles, 2, intents, 2, BEST_MODE, INDEX_DONT_CARE);
    if (handle == nullptr) {
        return nullptr;
    }
    made.reset(new Transform{handle, channels,
                             channels == 1   ? COLOR_GRAY
                             : channels == 3 ? COLOR_RGB
                                             : COLOR_CMYK});
    return made.get();
}

bool ColorProfiles::ToSrgb(const std::wstring& profilePart, const std::vector<double>& channels,
                           Color& color) {
    const Transform* transform = TransformFor(profilePart);
    if (transform == nullptr || transform->channels != channels.size()) {
        return false;
    }
    COLOR in = {}, out = {};
    if (transform->type == COLOR_GRAY) {
        in.gray.gray = Channel(channels[0]);
    } else if (transform->type == COLOR_RGB) {
        in.rgb.red = Channel(channels[0]), in.rgb.green = Channel(channels[1]),
        in.rgb.blue = Channel(channels[2]);
    } else {
        in.cmyk.cyan = Channel(channels[0]), in.cmyk.magenta = Channel(channels[1]);
        in.cmyk.yellow = Channel(channels[2]), in.cmyk.black = Channel(channels[3]);
    }
    if (!IcmFunctions().translate(transform->handle, &in, 1, transform->type, &out, COLOR_RGB)) {
        return false;
    }
    color.r = out.rgb.red / 65535.0;
    color.g = out.rgb.green / 65535.0;
    color.b = out.rgb.blue / 65535.0;
    return true;
}

}  // namespace engine
