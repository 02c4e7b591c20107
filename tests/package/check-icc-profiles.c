// Host check of the driver's colour profiles with LittleCMS:
//   check-icc-profiles CMYK_PROFILE RGB_PROFILE
// Each profile must open, declare the right device class, colour space, PCS
// and version, and convert colours as the model it describes does.
#include <lcms2.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

static void Check(int ok, const char* what) {
    printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) {
        ++failures;
    }
}

static void CheckNear(double actual, double expected, double tolerance, const char* what) {
    char line[200];
    snprintf(line, sizeof line, "%s: %.3f (expected %.3f +- %.3f)", what, actual, expected, tolerance);
    Check(fabs(actual - expected) <= tolerance, line);
}

static void CheckHeader(cmsHPROFILE profile, cmsProfileClassSignature deviceClass,
                        cmsColorSpaceSignature space, cmsColorSpaceSignature pcs, const char* description) {
    Check(cmsGetDeviceClass(profile) == deviceClass, "device class");
    Check(cmsGetColorSpace(profile) == space, "colour space");
    Check(cmsGetPCS(profile) == pcs, "profile connection space");
    double version = cmsGetProfileVersion(profile);
    Check(version >= 2.0 && version < 3.0, "version 2, as the Windows XP generation reads");
    char text[100] = "";
    cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof text);
    Check(strcmp(text, description) == 0, "description");
}

static void CheckCmykProfile(const char* path) {
    printf("%s\n", path);
    cmsHPROFILE profile = cmsOpenProfileFromFile(path, "r");
    Check(profile != NULL, "opens");
    if (profile == NULL) {
        return;
    }
    CheckHeader(profile, cmsSigOutputClass, cmsSigCmykData, cmsSigLabData, "Zorvane Creator CMYK Printer");
    static const cmsUInt32Number intents[] = {INTENT_PERCEPTUAL, INTENT_RELATIVE_COLORIMETRIC,
                                              INTENT_SATURATION};
    for (size_t i = 0; i < sizeof intents / sizeof intents[0]; ++i) {
        Check(cmsIsCLUT(profile, intents[i], LCMS_USED_AS_INPUT) &&
                  cmsIsCLUT(profile, intents[i], LCMS_USED_AS_OUTPUT),
              "tables in both directions for each intent");
    }
    Check(cmsIsTag(profile, cmsSigGamutTag), "gamut tag");

    cmsHPROFILE lab = cmsCreateLab4Profile(NULL);
    cmsHTRANSFORM toLab = cmsCreateTransform(profile, TYPE_CMYK_DBL, lab, TYPE_Lab_DBL, INTENT_PERCEPTUAL, 0);
    cmsHTRANSFORM toCmyk =
        cmsCreateTransform(lab, TYPE_Lab_DBL, profile, TYPE_CMYK_DBL, INTENT_PERCEPTUAL, 0);
    Check(toLab != NULL && toCmyk != NULL, "transforms to and from Lab");
    if (toLab != NULL && toCmyk != NULL) {
        // Bare paper is the PCS white exactly: a wrong Lab encoding in the
        // tables would shift it by about half a unit.
        double paper[4] = {0, 0, 0, 0}, black[4] = {0, 0, 0, 100}, cyan[4] = {100, 0, 0, 0};
        cmsCIELab color;
        cmsDoTransform(toLab, paper, &color, 1);
        CheckNear(color.L, 100.0, 0.2, "paper white L*");
        CheckNear(color.a, 0.0, 0.2, "paper white a*");
        CheckNear(color.b, 0.0, 0.2, "paper white b*");
        cmsDoTransform(toLab, black, &color, 1);
        CheckNear(color.L, 0.0, 1.0, "full black ink L*");
        cmsDoTransform(toLab, cyan, &color, 1);
        Check(color.a < -30.0 && color.b < 0.0, "full cyan ink is greenish blue (a* and b* below 0)");

        cmsCIELab skyBlue = {60.0, -5.0, -30.0}, back;
        double ink[4];
        cmsDoTransform(toCmyk, &skyBlue, ink, 1);
        cmsDoTransform(toLab, ink, &back, 1);
        CheckNear(cmsDeltaE(&skyBlue, &back), 0.0, 2.0, "round trip of a printable colour, delta E");
    }
    if (toLab != NULL) {
        cmsDeleteTransform(toLab);
    }
    if (toCmyk != NULL) {
        cmsDeleteTransform(toCmyk);
    }
    cmsCloseProfile(lab);
    cmsCloseProfile(profile);
}

static void CheckRgbProfile(const char* path) {
    printf("%s\n", path);
    cmsHPROFILE profile = cmsOpenProfileFromFile(path, "r");
    Check(profile != NULL, "opens");
    if (profile == NULL) {
        return;
    }
    CheckHeader(profile, cmsSigDisplayClass, cmsSigRgbData, cmsSigXYZData, "Zorvane Creator scRGB");
    Check(cmsIsMatrixShaper(profile), "matrix and tone curves");

    cmsHPROFILE xyz = cmsCreateXYZProfile();
    cmsHTRANSFORM toXyz =
        cmsCreateTransform(profile, TYPE_RGB_DBL, xyz, TYPE_XYZ_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    Check(toXyz != NULL, "transform to XYZ");
    if (toXyz != NULL) {
        double white[3] = {1, 1, 1}, grey[3] = {0.5, 0.5, 0.5}, red[3] = {1, 0, 0};
        cmsCIEXYZ color;
        cmsDoTransform(toXyz, white, &color, 1);
        CheckNear(color.Y, 1.0, 0.01, "white Y");
        // scRGB is linear: half the signal is half the light (sRGB's curve
        // would give 0.214).
        cmsDoTransform(toXyz, grey, &color, 1);
        CheckNear(color.Y, 0.5, 0.01, "mid grey Y");
        cmsDoTransform(toXyz, red, &color, 1);
        CheckNear(color.Y, 0.2225, 0.01, "red primary Y (sRGB's red)");
        cmsDeleteTransform(toXyz);
    }
    cmsCloseProfile(xyz);
    cmsCloseProfile(profile);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: check-icc-profiles CMYK_PROFILE RGB_PROFILE\n");
        return 2;
    }
    CheckCmykProfile(argv[1]);
    CheckRgbProfile(argv[2]);
    printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
