// kx_make_srgb: writes the standard sRGB profile the program attaches on
// save and uses as its display space, made with Little CMS's built-in sRGB
// (IEC 61966-2-1) so that no profile file has to be shipped.
#include <lcms2.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s output.icc\n", argv[0]);
        return 2;
    }
    cmsHPROFILE p = cmsCreate_sRGBProfile();
    if (!p) return 1;
    cmsMLU* desc = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(desc, "en", "US", "sRGB IEC61966-2.1 (black scaled)");
    cmsWriteTag(p, cmsSigProfileDescriptionTag, desc);
    cmsMLUfree(desc);
    int ok = cmsSaveProfileToFile(p, argv[1]);
    cmsCloseProfile(p);
    return ok ? 0 : 1;
}
