// A font part of the package loaded for drawing: obfuscated when its content
// type or its name (.odttf) says so.
#pragma once

#include <cstdint>
#include <string>

#include "engine/font.h"
#include "xps/xpspackage.h"

namespace engine {

HRESULT LoadFontPart(const xps::XpsPackage& package, const std::wstring& part, std::uint16_t face,
                     Font& font);

}  // namespace engine
