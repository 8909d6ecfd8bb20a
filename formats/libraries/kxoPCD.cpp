// kxoPCD: Kodak Photo CD image packs (see kxoPCD.h).
#include "formats/libraries/kxoPCD.h"

#include <strings.h>

#include <cstring>
#include <memory>

namespace {
const char* const TAG = "pcd";

// Where the three small resolutions lie in an image pack.
struct Layout {
    uint32_t offset, width, height;
};
const Layout kLayouts[3] = {{8192, 192, 128}, {47104, 384, 256}, {196608, 768, 512}};

inline uint8_t clamp255(int32_t v) {
    // Arithmetic shift: negative values stay negative and become 0.
    v >>= 16;
    return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
}

// One row pair: the luma of both rows, then C1 and C2 for each 2 x 2 block.
// PhotoYCC to RGB in 16.16 fixed point: 1.3584 Y, 1.8215 (C2 - 137),
// -0.4303 (C1 - 156) - 0.9271 (C2 - 137), 2.2179 (C1 - 156).
void convertPair(const uint8_t* pair, uint32_t width, uint8_t* row0, uint8_t* row1) {
    const uint8_t* y0 = pair;
    const uint8_t* y1 = pair + width;
    const uint8_t* c1 = pair + 2 * width;
    const uint8_t* c2 = c1 + width / 2;
    for (uint32_t j = 0; j < width / 2; ++j) {
        const int32_t red = c2[j] * 119373 - 16354101;
        const int32_t green = -(c1[j] * 28200 - 4399200) - (c2[j] * 60758 - 8323846);
        const int32_t blue = c1[j] * 145352 - 22674912;
        const uint8_t luma[4] = {y0[2 * j], y0[2 * j + 1], y1[2 * j], y1[2 * j + 1]};
        uint8_t* out[4] = {row0 + 6 * j, row0 + 6 * j + 3, row1 + 6 * j, row1 + 6 * j + 3};
        for (int k = 0; k < 4; ++k) {
            const int32_t l = luma[k] * 89024;
            out[k][0] = clamp255(l + red);
            out[k][1] = clamp255(l + green);
            out[k][2] = clamp255(l + blue);
        }
    }
}

struct VecFree {
    void operator()(void* p) const { FreeVec(p); }
};
}  // namespace

uint32_t KXPCD_Decode(FILE* file, uint32_t res, KX_GfxBuffer** out, KXObject* progress) {
    if (!out) return KXERR_INTERNALACCESS;
    *out = nullptr;
    if (!file) return KXERR_FILENOTFOUND;
    if (res > 2) return KXERR_FILEREQUIREMENTS;
    const Layout& l = kLayouts[res];
    const size_t pairBytes = (size_t)l.width * 3;
    const size_t bytes = pairBytes * (l.height / 2);
    if (fseek(file, l.offset, SEEK_SET) != 0) return KXERR_EOF;
    std::unique_ptr<uint8_t, VecFree> data(static_cast<uint8_t*>(AllocVec(bytes, MEMF_ANY)));
    if (!data) return KXERR_NOMEMORY;
    if (fread(data.get(), 1, bytes, file) != bytes) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, ONEPLANE, l.width, l.height, 24, 24, false);
    if (err != KXERR_NONE) return err;
    img->Version = 2;
    img->ViewMode = 0;
    const size_t stride = (size_t)l.width * 3;
    for (uint32_t y = 0; y < l.height; y += 2) {
        KXF_RowProgress(progress, y, l.height);
        uint8_t* row0 = img->Data + stride * y;
        convertPair(data.get() + pairBytes * (y / 2), l.width, row0, row0 + stride);
    }
    *out = img;
    return KXERR_NONE;
}

kxoPCD::kxoPCD(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoPCD");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoPCD::Reset() {
    FrameReset();
    Output.Release();
}

uint32_t kxoPCD::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file || !name) return 0;
    const size_t n = strlen(name);
    if (n < 4 || strcasecmp(name + n - 4, ".PCD") != 0) return 0;
    std::unique_ptr<uint8_t, VecFree> head(static_cast<uint8_t*>(AllocVec(4096, MEMF_ANY)));
    if (!head || KXF_PeekHead(file, head.get(), 4096) != 4096) return 0;
    // The signature of the image pack information. Image packs carry the
    // IPI version right after it (ImageMagick writes 6), so the byte after
    // the seven letters is not looked at: a zero there is not required.
    for (size_t i = 0; i <= 4088; ++i)
        if (memcmp(head.get() + i, "PCD_IPI", 7) == 0) return 1;
    return 0;
}

uint32_t kxoPCD::Resolution() {
    static const char* const kNames[6] = {"BASE/16", "BASE/4", "BASE", "BASE*4", "BASE*16", "BASE*64"};
    const std::string value = KXCONV_Key(this, "OUTPUTFORMAT", "BASE");
    for (uint32_t i = 0; i < 6; ++i)
        if (strcasecmp(value.c_str(), kNames[i]) == 0) return i + 1;
    return 3;
}

uint32_t kxoPCD::Load() {
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    const uint32_t resolution = Resolution();
    const bool always = strcasecmp(KXCONV_Key(this, "EXTERNAL_DECODER", "ABOVE_BASE").c_str(), "ALWAYS") == 0;
    if (always || resolution > 3) return convert(resolution);

    uint32_t err = KXF_OpenRead(this);
    if (err != KXERR_NONE) return err;
    setvbuf(ReadFile, nullptr, _IOFBF, 16384);
    SubFormatId = SubFormatIds[0];
    err = KXPCD_Decode(ReadFile, resolution - 1, &LoadedBuffer, this);
    return KXF_EndLoad(this, err);
}

uint32_t kxoPCD::convert(uint32_t resolution) {
    uint32_t err = KXCONV_MakeName(Lib, "pcd", "jpg", KXCONV_NextCall(), &Output);
    if (err != KXERR_NONE) return err;
    const std::string program = KXCONV_Program(this, "P2J_PATH", "pcdtojpeg", true);
    const std::vector<std::string> args = {"-q", "100", "-r", std::to_string(resolution - 1), KXCONV_FileArg(ReadName),
                                           KXCONV_FileArg(Output.Name)};
    uint32_t run = KXCONV_Run(this, TAG, program, args);
    Output.Registered = true;
    if ((err = KXCONV_CheckOutput(run, Output.Name)) != KXERR_NONE) return err;
    KXF_Log(this, 2, TAG, "Successfully converted.\n");
    return KXCONV_LoadChained(Lib, "kxoJFIF", Output.Name, KXChainSettings::Defaults, &LoadedBuffer);
}
