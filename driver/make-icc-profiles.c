// Host tool of the build: writes the driver's two colour profiles with LittleCMS.
//   make-icc-profiles CMYK_PROFILE RGB_PROFILE
//
// zorvaneCMYKPrinter.icc is a CMYK output profile (device class 'prtr', PCS Lab)
// of an idealised process-colour press: cyan, magenta and yellow filter the
// complementary sRGB primaries, black darkens all three alike, and the way back
// uses full grey-component replacement. zorvanewscRGB.icc is the scRGB working
// space: sRGB's primaries and D65 white with linear tone curves (a display
// class RGB profile, PCS XYZ).
//
// Both are version 2 profiles, the version that the Windows XP generation's
// colour management reads.
#include <lcms2.h>
#include <math.h>
#include <stdio.h>

#include "zorvaneidentity.h"

// Grid sizes: 9 points per CMYK axis and 17 per Lab axis keep each table
// near 40 KB while interpolating the smooth model well.
enum { kCmykGridPoints = 9, kLabGridPoints = 17 };

// A Lab colour whose round trip through the press differs by more than this
// is outside what the press can print.
static const double kGamutDeltaE = 2.0;

typedef struct {
    cmsHTRANSFORM rgbToLab;  // sRGB (0..1) to Lab D50
    cmsHTRANSFORM labToRgb;  // Lab D50 to sRGB, unbounded
} ColorModel;

static double Clamp01(double value) { return value < 0.0 ? 0.0 : (value > 1.0 ? 1.0 : value); }

static void CmykToLab(const ColorModel* model, const double cmyk[4], cmsCIELab* lab) {
    double rgb[3];
    for (int i = 0; i < 3; ++i) {
        rgb[i] = (1.0 - cmyk[i]) * (1.0 - cmyk[3]);
    }
    cmsDoTransform(model->rgbToLab, rgb, lab, 1);
}

// Returns 1 when the colour lies outside the sRGB gamut the press covers.
static int LabToCmyk(const ColorModel* model, const cmsCIELab* lab, double cmyk[4]) {
    double rgb[3];
    cmsDoTransform(model->labToRgb, lab, rgb, 1);
    int outside = 0;
    for (int i = 0; i < 3; ++i) {
        if (rgb[i] < -1e-3 || rgb[i] > 1.0 + 1e-3) {
            outside = 1;
        }
        rgb[i] = Clamp01(rgb[i]);
    }
    double c = 1.0 - rgb[0], m = 1.0 - rgb[1], y = 1.0 - rgb[2];
    double k = fmin(c, fmin(m, y));
    if (k >= 1.0) {
        cmyk[0] = cmyk[1] = cmyk[2] = 0.0;
    } else {
        cmyk[0] = (c - k) / (1.0 - k);
        cmyk[1] = (m - k) / (1.0 - k);
        cmyk[2] = (y - k) / (1.0 - k);
    }
    cmyk[3] = k;
    return outside;
}

// Samplers: 16-bit tables of a version 2 lut16 hold Lab in the version 2
// encoding, so Lab crosses the table boundary through the V2 helpers.
static int SampleCmykToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    double cmyk[4];
    for (int i = 0; i < 4; ++i) {
        cmyk[i] = in[i] / 65535.0;
    }
    cmsCIELab lab;
    CmykToLab((const ColorModel*)cargo, cmyk, &lab);
    cmsFloat2LabEncodedV2(out, &lab);
    return 1;
}

static int SampleLabToCmyk(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    cmsCIELab lab;
    cmsLabEncoded2FloatV2(&lab, in);
    double cmyk[4];
    LabToCmyk((const ColorModel*)cargo, &lab, cmyk);
    for (int i = 0; i < 4; ++i) {
        out[i] = (cmsUInt16Number)floor(cmyk[i] * 65535.0 + 0.5);
    }
    return 1;
}

// The gamut tag: 0 for a printable colour, anything else for one that is not.
static int SampleGamut(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    const ColorModel* model = (const ColorModel*)cargo;
    cmsCIELab lab, back;
    cmsLabEncoded2FloatV2(&lab, in);
    double cmyk[4];
    int outside = LabToCmyk(model, &lab, cmyk);
    CmykToLab(model, cmyk, &back);
    out[0] = (outside || cmsDeltaE(&lab, &back) > kGamutDeltaE) ? 0xFFFF : 0;
    return 1;
}

static cmsPipeline* SampledPipeline(cmsUInt32Number grid, cmsUInt32Number inputs, cmsUInt32Number outputs,
                                    cmsSAMPLER16 sampler, ColorModel* model) {
    cmsPipeline* pipeline = cmsPipelineAlloc(NULL, inputs, outputs);
    cmsStage* table = cmsStageAllocCLut16bit(NULL, grid, inputs, outputs, NULL);
    if (pipeline != NULL && table != NULL && cmsStageSampleCLut16bit(table, sampler, model, 0) &&
        cmsPipelineInsertStage(pipeline, cmsAT_END, table)) {
        return pipeline;  // the pipeline owns the table now
    }
    if (table != NULL) {
        cmsStageFree(table);
    }
    if (pipeline != NULL) {
        cmsPipelineFree(pipeline);
    }
    return NULL;
}

static int SetText(cmsHPROFILE profile, cmsTagSignature tag, const char* text) {
    cmsMLU* mlu = cmsMLUalloc(NULL, 1);
    int ok = mlu != NULL && cmsMLUsetASCII(mlu, "en", "US", text) && cmsWriteTag(profile, tag, mlu);
    cmsMLUfree(mlu);
    return ok;
}

static int Save(cmsHPROFILE profile, const char* path) {
    if (!cmsMD5computeID(profile) || !cmsSaveProfileToFile(profile, path)) {
        fprintf(stderr, "make-icc-profiles: cannot write %s\n", path);
        return 0;
    }
    return 1;
}

static int WriteCmykProfile(const char* path) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(NULL);
    ColorModel model;
    model.rgbToLab =
        cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    model.labToRgb =
        cmsCreateTransform(lab, TYPE_Lab_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    if (model.rgbToLab == NULL || model.labToRgb == NULL) {
        fprintf(stderr, "make-icc-profiles: cannot build the sRGB transforms\n");
        return 0;
    }

    cmsHPROFILE profile = cmsCreateProfilePlaceholder(NULL);
    cmsSetProfileVersion(profile, 2.1);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsSetHeaderRenderingIntent(profile, INTENT_PERCEPTUAL);

    cmsPipeline* toLab = SampledPipeline(kCmykGridPoints, 4, 3, SampleCmykToLab, &model);
    cmsPipeline* toCmyk = SampledPipeline(kLabGridPoints, 3, 4, SampleLabToCmyk, &model);
    cmsPipeline* gamut = SampledPipeline(kLabGridPoints, 3, 1, SampleGamut, &model);
    // The idealised press has one rendering for every intent: the other
    // intents' tags that a version 2 output profile must carry link to it.
    int ok = toLab != NULL && toCmyk != NULL && gamut != NULL &&
             SetText(profile, cmsSigProfileDescriptionTag, ZORVANE_PRODUCT_NAME " CMYK Printer") &&
             SetText(profile, cmsSigCopyrightTag, ZORVANE_COPYRIGHT) &&
             cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ()) &&
             cmsWriteTag(profile, cmsSigAToB0Tag, toLab) && cmsWriteTag(profile, cmsSigBToA0Tag, toCmyk) &&
             cmsWriteTag(profile, cmsSigGamutTag, gamut) &&
             cmsLinkTag(profile, cmsSigAToB1Tag, cmsSigAToB0Tag) &&
             cmsLinkTag(profile, cmsSigAToB2Tag, cmsSigAToB0Tag) &&
             cmsLinkTag(profile, cmsSigBToA1Tag, cmsSigBToA0Tag) &&
             cmsLinkTag(profile, cmsSigBToA2Tag, cmsSigBToA0Tag) && Save(profile, path);

    cmsPipelineFree(toLab);
    cmsPipelineFree(toCmyk);
    cmsPipelineFree(gamut);
    cmsCloseProfile(profile);
    cmsDeleteTransform(model.rgbToLab);
    cmsDeleteTransform(model.labToRgb);
    return ok;
}

static int WriteScRgbProfile(const char* path) {
    cmsCIExyY d65;
    cmsWhitePointFromTemp(&d65, 6504);
    cmsCIExyYTRIPLE primaries = {{0.6400, 0.3300, 1.0}, {0.3000, 0.6000, 1.0}, {0.1500, 0.0600, 1.0}};
    cmsToneCurve* linear = cmsBuildGamma(NULL, 1.0);
    cmsToneCurve* curves[3] = {linear, linear, linear};
    cmsHPROFILE profile = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(linear);
    if (profile == NULL) {
        fprintf(stderr, "make-icc-profiles: cannot build the scRGB profile\n");
        return 0;
    }
    cmsSetProfileVersion(profile, 2.1);
    cmsSetHeaderRenderingIntent(profile, INTENT_PERCEPTUAL);
    int ok = SetText(profile, cmsSigProfileDescriptionTag, ZORVANE_PRODUCT_NAME " scRGB") &&
             SetText(profile, cmsSigCopyrightTag, ZORVANE_COPYRIGHT) && Save(profile, path);
    cmsCloseProfile(profile);
    return ok;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: make-icc-profiles CMYK_PROFILE RGB_PROFILE\n");
        return 2;
    }
    return WriteCmykProfile(argv[1]) && WriteScRgbProfile(argv[2]) ? 0 : 1;
}
