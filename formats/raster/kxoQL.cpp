// kxoQL: Sinclair QL screen dumps (see kxoQL.h).
#include "formats/raster/kxoQL.h"

#include <strings.h>

#include <cstring>

namespace {

const uint32_t SUBFORMAT_QL4 = 0, SUBFORMAT_QL8 = 1;

// File size -> bytes a row and rows; the first is the QL's own screen.
struct Geometry {
    uint32_t Size, RowBytes, Rows;
};
const Geometry kGeometries[] = {
    {32768, 128, 256}, {49152, 128, 384}, {53760, 192, 280}, {56000, 160, 350},  {73728, 192, 384},
    {76800, 160, 480}, {110592, 192, 576}, {120000, 200, 600}, {131072, 256, 512}, {196608, 256, 768},
};

const Geometry* geometryOf(int64_t size) {
    for (const Geometry& g : kGeometries)
        if (size == g.Size) return &g;
    return nullptr;
}

const uint8_t kPalette4[4][3] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {255, 255, 255}};
// Blue is 191, as the QL shows it.
const uint8_t kPalette8[8][3] = {{0, 0, 0},     {0, 0, 191},   {255, 0, 0},   {255, 0, 255},
                                 {0, 255, 0},   {0, 255, 255}, {255, 255, 0}, {255, 255, 255}};

// Eight output bytes per screen byte, summed as one 64-bit word (no byte
// carries into the next: every sum stays below 8).
struct Spread {
    uint64_t Green4[256], Red4[256];  // 4 colours: bit 7-k of the byte -> pixel k
    uint64_t Green8[256], RedBlue8[256];  // 8 colours: pixels doubled
    Spread() {
        for (uint32_t b = 0; b < 256; ++b) {
            uint8_t g4[8], r4[8], g8[8], rb8[8];
            for (int k = 0; k < 8; ++k) {
                const uint32_t bit = b >> (7 - k) & 1;
                g4[k] = (uint8_t)(bit * 2);
                r4[k] = (uint8_t)bit;
            }
            for (int k = 0; k < 4; ++k) {
                const uint8_t g = (uint8_t)((b >> (7 - 2 * k) & 1) * 4);
                const uint8_t rb = (uint8_t)((b >> (7 - 2 * k) & 1) * 2 + (b >> (6 - 2 * k) & 1));
                g8[2 * k] = g8[2 * k + 1] = g;
                rb8[2 * k] = rb8[2 * k + 1] = rb;
            }
            memcpy(&Green4[b], g4, 8);
            memcpy(&Red4[b], r4, 8);
            memcpy(&Green8[b], g8, 8);
            memcpy(&RedBlue8[b], rb8, 8);
        }
    }
};
const Spread kSpread;

}  // namespace

kxoQL::kxoQL(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoQL");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoQL::Reset() { FrameReset(); }

uint32_t kxoQL::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    const int64_t size = KXF_FileSize(file);
    // Every size of the table, whether the larger screens are enabled or not.
    if (!geometryOf(size)) return 0;
    return KXF_NameEndsWith(name, ".QL4") || KXF_NameEndsWith(name, ".QL8") || KXF_NameEndsWith(name, ".QL") ? 1 : 0;
}

uint32_t kxoQL::Load() { return KXF_Load(this, &kxoQL::LoadBody); }

uint32_t kxoQL::LoadBody() {
    KXByteReader r(ReadFile);
    if (!r.ok()) return KXERR_EOF;

    // QL_MODE first; without a valid one the name decides (.ql4: 4 colours).
    char value[16];
    bool four = KXF_NameEndsWith(ReadName, ".QL4");
    if (GetKey("QL_MODE", value, sizeof(value)) == 1) {
        if (strcasecmp(value, "QL4") == 0) four = true;
        else if (strcasecmp(value, "QL8") == 0) four = false;
    }
    const bool exotic = GetKey("EXOTIC_FORMATS", value, sizeof(value)) == 1;
    const Geometry* g = geometryOf((int64_t)r.size());
    if (!g || (!exotic && g != &kGeometries[0])) return KXERR_FILEREQUIREMENTS;
    SubFormatId = four ? SUBFORMAT_QL4 : SUBFORMAT_QL8;

    const uint32_t width = g->RowBytes * 4;
    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, ONEPLANE, width, g->Rows, four ? 2 : 3, 8, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    if (four) memcpy(img->Palette, kPalette4, sizeof(kPalette4));
    else memcpy(img->Palette, kPalette8, sizeof(kPalette8));

    uint8_t row[256];
    for (uint32_t y = 0; y < g->Rows; ++y) {
        if (!r.bytes(row, g->RowBytes)) return KXERR_EOF;
        uint8_t* out = img->Data + (uint64_t)y * width;
        // A word is a green byte then a red (and blue) byte: 8 pixels in
        // either mode, the 8-colour ones doubled.
        for (uint32_t i = 0; i < g->RowBytes; i += 2, out += 8) {
            const uint64_t v = four ? kSpread.Green4[row[i]] + kSpread.Red4[row[i + 1]]
                                    : kSpread.Green8[row[i]] + kSpread.RedBlue8[row[i + 1]];
            memcpy(out, &v, 8);
        }
    }
    return KXERR_NONE;
}
