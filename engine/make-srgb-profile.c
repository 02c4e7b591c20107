// Host tool of the build: the sRGB colour profile that PDF/A files name as
// their output intent, as a C++ source the engine compiles in.
//   make-srgb-profile OUT.cpp
//
// A version 2 profile (PDF 1.4, and so PDF/A-1, reads version 2 profiles).
#include <lcms2.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make-srgb-profile OUT.cpp\n");
        return 2;
    }
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    if (profile == NULL) {
        fprintf(stderr, "make-srgb-profile: LittleCMS made no profile\n");
        return 1;
    }
    cmsSetProfileVersion(profile, 2.1);
    cmsMLU* description = cmsMLUalloc(NULL, 1);
    cmsMLUsetASCII(description, "en", "US", "sRGB IEC61966-2.1");
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, description);
    cmsMLUfree(description);
    cmsUInt32Number size = 0;
    unsigned char* bytes = NULL;
    if (!cmsMD5computeID(profile) || !cmsSaveProfileToMem(profile, NULL, &size) ||
        (bytes = malloc(size)) == NULL || !cmsSaveProfileToMem(profile, bytes, &size)) {
        fprintf(stderr, "make-srgb-profile: the profile could not be written\n");
        return 1;
    }
    cmsCloseProfile(profile);
    FILE* out = fopen(argv[1], "w");
    if (out == NULL) {
        perror(argv[1]);
        return 1;
    }
    fprintf(out, "// Made by make-srgb-profile at build time.\n#include \"engine/srgbprofile.h\"\n\n");
    fprintf(out, "namespace engine {\n\nconst unsigned char kSrgbProfile[] = {");
    for (cmsUInt32Number i = 0; i < size; ++i) {
        fprintf(out, "%s%u,", i % 24 == 0 ? "\n    " : "", bytes[i]);
    }
    fprintf(out, "\n};\nconst unsigned kSrgbProfileSize = %u;\n\n}  // namespace engine\n", (unsigned)size);
    free(bytes);
    return fclose(out) == 0 ? 0 : 1;
}
