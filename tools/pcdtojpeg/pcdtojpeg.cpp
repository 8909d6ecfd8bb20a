// pcdtojpeg -q Q -r N IN OUT: one resolution of a Photo CD image pack as a
// JPEG file of quality Q (0..100). N 0, 1 and 2 (Base/16, Base/4, Base) are
// decoded by kxlib's own Photo CD decoder and written by its JPEG module,
// through a temporary sibling of OUT. N 3 to 5 (4Base and up) need Photo
// CD's residual Huffman decoding, which this converter does not have: it
// says so and writes nothing rather than pass off an enlarged Base.
// Exit status: 0 written, 1 error, 2 usage or a resolution it cannot make.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/kxlib.h"
#include "formats/libraries/kxoJFIF.h"
#include "formats/libraries/kxoPCD.h"

namespace {
int usage() {
    fprintf(stderr, "usage: pcdtojpeg -q QUALITY -r RESOLUTION INPUT.pcd OUTPUT.jpg\n"
                    "  QUALITY 0..100, RESOLUTION 0 (Base/16), 1 (Base/4) or 2 (Base)\n");
    return 2;
}

bool number(const char* text, long low, long high, long* out) {
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (!*text || *end || v < low || v > high) return false;
    *out = v;
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    long quality = 0, resolution = 0;
    if (argc != 7 || strcmp(argv[1], "-q") != 0 || strcmp(argv[3], "-r") != 0 || !number(argv[2], 0, 100, &quality) ||
        !number(argv[4], 0, 5, &resolution))
        return usage();
    if (resolution > 2) {
        fprintf(stderr, "pcdtojpeg: resolution %ld (4Base and above) needs Photo CD's residual decoding, "
                        "which this converter does not have\n", resolution);
        return 2;
    }
    FILE* in = fopen(argv[5], "rb");
    if (!in) {
        fprintf(stderr, "pcdtojpeg: cannot open %s\n", argv[5]);
        return 1;
    }
    KX_GfxBuffer* image = nullptr;
    uint32_t err = KXPCD_Decode(in, (uint32_t)resolution, &image, nullptr);
    fclose(in);
    if (err != KXERR_NONE) {
        fprintf(stderr, "pcdtojpeg: %s: %s\n", argv[5], KXL_GetErrorString(err));
        return 1;
    }
    KXClass lib;
    kxoJFIF jpeg(&lib);
    KXConfig settings(jpeg.PadPath, &err);
    // SetValue answers 1 when the key went in.
    if (err == KXERR_NONE && settings.SetValue("QUANTIZATION", (int32_t)quality) != 1) err = KXERR_NOMEMORY;
    if (err == KXERR_NONE) {
        jpeg.SetLocalConfig(settings.GetPadList());
        jpeg.SetSaveName(argv[6]);
        jpeg.SetGfxBuffer(image);
        err = jpeg.Save();
        jpeg.Reset();
    }
    KXSUP_FreeGfxBuffer(image);
    if (err != KXERR_NONE) {
        fprintf(stderr, "pcdtojpeg: %s: %s\n", argv[6], KXL_GetErrorString(err));
        return 1;
    }
    return 0;
}
