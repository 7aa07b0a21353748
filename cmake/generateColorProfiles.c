/* Writes the stock RGB profiles the program opens from its "color profiles"
 * folder, built with Little CMS from each colour space's published white
 * point, primaries and tone curve.
 * Usage: generateColorProfiles <output folder> [<output folder> ...] */

#include <lcms2.h>
#include <stdio.h>
#include <string.h>

typedef struct {
    const char *fileName;
    const char *description;
    double white[2];
    double red[2], green[2], blue[2];
    double gamma; /* 0 = the sRGB curve */
} profileSpec_t;

static const profileSpec_t profiles[] = {
    {"sRGB.icm", "sRGB", {0.3127, 0.3290}, {0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}, 0},
    {"AdobeRGB1998.icc", "Compatible with Adobe RGB (1998)", {0.3127, 0.3290},
     {0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}, 563.0 / 256.0},
    {"WideGamutRGB.icc", "Wide Gamut RGB", {0.3457, 0.3585},
     {0.7347, 0.2653}, {0.1152, 0.8264}, {0.1566, 0.0177}, 2.2},
    {"ProPhotoRGB.icm", "ProPhoto RGB", {0.3457, 0.3585},
     {0.7347, 0.2653}, {0.1596, 0.8404}, {0.0366, 0.0001}, 1.8},
    {"AppleRGB.icc", "Apple RGB", {0.3127, 0.3290},
     {0.625, 0.34}, {0.28, 0.595}, {0.155, 0.07}, 1.8},
    {"ColorMatchRGB.icc", "ColorMatch RGB", {0.3457, 0.3585},
     {0.63, 0.34}, {0.295, 0.605}, {0.15, 0.075}, 1.8},
    {"DCI-P3.icc", "DCI-P3", {0.314, 0.351},
     {0.68, 0.32}, {0.265, 0.69}, {0.15, 0.06}, 2.6},
};

static int setText(cmsHPROFILE profile, cmsTagSignature tag, const char *text)
{
    cmsMLU *mlu = cmsMLUalloc(NULL, 1);
    int ok = mlu && cmsMLUsetASCII(mlu, "en", "US", text) && cmsWriteTag(profile, tag, mlu);
    if (mlu)
        cmsMLUfree(mlu);
    return ok;
}

static cmsHPROFILE build(const profileSpec_t *p)
{
    cmsCIExyY white = {p->white[0], p->white[1], 1.0};
    cmsCIExyYTRIPLE primaries = {{p->red[0], p->red[1], 1.0},
                                 {p->green[0], p->green[1], 1.0},
                                 {p->blue[0], p->blue[1], 1.0}};
    cmsToneCurve *curve;
    if (p->gamma > 0) {
        curve = cmsBuildGamma(NULL, p->gamma);
    } else {
        /* IEC 61966-2.1: linear toe, then the 2.4 power segment */
        cmsFloat64Number params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
        curve = cmsBuildParametricToneCurve(NULL, 4, params);
    }
    if (!curve)
        return NULL;
    cmsToneCurve *curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    if (!profile)
        return NULL;
    cmsSetProfileVersion(profile, 4.3);
    if (!setText(profile, cmsSigProfileDescriptionTag, p->description)
        || !setText(profile, cmsSigDeviceMfgDescTag, "Lumidra")
        || !setText(profile, cmsSigDeviceModelDescTag, p->description)
        || !setText(profile, cmsSigCopyrightTag, "No copyright, use freely")) {
        cmsCloseProfile(profile);
        return NULL;
    }
    return profile;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s <output folder>...\n", argv[0]);
        return 2;
    }
    for (size_t i = 0; i < sizeof(profiles) / sizeof(profiles[0]); ++i) {
        cmsHPROFILE profile = build(&profiles[i]);
        if (!profile) {
            fprintf(stderr, "cannot build %s\n", profiles[i].fileName);
            return 1;
        }
        for (int d = 1; d < argc; ++d) {
            char path[4096];
            snprintf(path, sizeof(path), "%s/%s", argv[d], profiles[i].fileName);
            if (!cmsSaveProfileToFile(profile, path)) {
                fprintf(stderr, "cannot write %s\n", path);
                cmsCloseProfile(profile);
                return 1;
            }
        }
        cmsCloseProfile(profile);
    }
    return 0;
}
