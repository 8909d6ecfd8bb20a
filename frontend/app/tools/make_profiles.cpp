// kx_make_profiles: writes the colour profiles the program ships, made with
// Little CMS so that no profile file has to be shipped: the standard sRGB
// one it attaches on save and uses as its display space, and the stock
// profiles the colorimetry dialog offers for comparison: sRGB without black
// scaling (version 2), sRGB as a version 4 profile and ECI RGB (D50 white,
// gamma 1.8, the ECI primaries).
#include <lcms2.h>

#include <cstdio>
#include <string>

namespace {

bool describe(cmsHPROFILE p, const char* text) {
    cmsMLU* desc = cmsMLUalloc(nullptr, 1);
    if (!desc) return false;
    const bool ok = cmsMLUsetASCII(desc, "en", "US", text) && cmsWriteTag(p, cmsSigProfileDescriptionTag, desc);
    cmsMLUfree(desc);
    return ok;
}

// A version of 0 keeps the one Little CMS gives.
bool save(cmsHPROFILE p, const char* text, double version, const std::string& path) {
    if (!p) return false;
    if (version > 0) cmsSetProfileVersion(p, version);
    const bool ok = describe(p, text) && cmsSaveProfileToFile(p, path.c_str());
    cmsCloseProfile(p);
    if (!ok) std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return ok;
}

cmsHPROFILE eciRgb() {
    const cmsCIExyY white = {0.3457, 0.3585, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.67, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.14, 0.08, 1.0}};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.8);
    if (!curve) return nullptr;
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s output-folder\n", argv[0]);
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    // Every profile is tried, whichever fails.
    bool ok = save(cmsCreate_sRGBProfile(), "sRGB IEC61966-2.1 (black scaled)", 0,
                   dir + "sRGB_IEC61966-2-1_black_scaled.icc");
    ok &= save(cmsCreate_sRGBProfile(), "sRGB IEC61966-2.1 (no black scaling)", 2.1,
               dir + "sRGB_IEC61966-2-1_no_black_scaling.icc");
    ok &= save(cmsCreate_sRGBProfile(), "sRGB v4 ICC preference", 4.3, dir + "sRGB_v4_ICC_preference.icc");
    ok &= save(eciRgb(), "ECI-RGB.V1.0", 2.1, dir + "ECI-RGB.V1.0.icc");
    return ok ? 0 : 1;
}
