// The sRGB IEC61966-2.1 colour profile (ICC version 2), made at build time
// with LittleCMS: the output intent of PDF/A files.
#pragma once

namespace engine {

extern const unsigned char kSrgbProfile[];
extern const unsigned kSrgbProfileSize;

}  // namespace engine
