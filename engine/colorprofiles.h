// ColorProfiles: context colours ("ContextColor /profile.icc a,c1,c2,...")
// turned into sRGB through their own ICC profile by Windows' colour
// management (ICM: mscms.dll, bound from the system directory on first
// use), into the system's sRGB profile. One transform is made for each
// profile part and kept for the document. Where that cannot be done (no
// ICM, a profile it cannot open, a part that is missing or over
// kMaxProfileSize, a space of other than 1, 3 or 4 channels, or more than
// kMaxProfiles profiles) the colour keeps what its channels give by
// themselves. The page reader uses it, on one thread at a time.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "engine/pagemodel.h"
#include "xps/xpspackage.h"

namespace engine {

class ColorProfiles {
public:
    static constexpr std::size_t kMaxProfileSize = 4u << 20;
    static constexpr std::size_t kMaxProfiles = 64;

    explicit ColorProfiles(const xps::XpsPackage& package);
    ~ColorProfiles();
    ColorProfiles(const ColorProfiles&) = delete;
    ColorProfiles& operator=(const ColorProfiles&) = delete;

    // color's red, green and blue from channels (each 0..1) in the space of
    // the profile part; false, leaving color, where the profile is not used.
    bool ToSrgb(const std::wstring& profilePart, const std::vector<double>& channels, Color& color);

private:
    struct Transform;
    const Transform* TransformFor(const std::wstring& profilePart);

    const xps::XpsPackage& package_;
    std::map<std::wstring, std::unique_ptr<Transform>> transforms_;  // by part key; null: not usable
};

}  // namespace engine
