// kxoSCR: ZX Spectrum screens (see kxoSCR.h).
#include "formats/raster/kxoSCR.h"

#include <cstring>

namespace {

const uint32_t SUBFORMAT_SCR = 0, SUBFORMAT_TAP = 1;
const uint32_t SCREEN_SIZE = 6912, BITMAP_SIZE = 6144, TAPE_SIZE = 6937;
const uint32_t WIDTH = 256, HEIGHT = 192, ROW_BYTES = 32;

// Normal colours at 204, bright ones at 255 (indices 8-15).
const uint8_t kPalette[16][3] = {
    {0, 0, 0},   {0, 0, 204},   {204, 0, 0},   {204, 0, 204},   {0, 204, 0},   {0, 204, 204},   {204, 204, 0},   {204, 204, 204},
    {0, 0, 0},   {0, 0, 255},   {255, 0, 0},   {255, 0, 255},   {0, 255, 0},   {0, 255, 255},   {255, 255, 0},   {255, 255, 255},
};

// Where the screen data of a file of this size start; -1 when the size is
// not one of the forms.
int64_t screenOffset(int64_t size) {
    switch (size) {
        case 6912: return 0;
        case 6921: return 9;
        case 6924: return 12;
        case 6929: return 17;
        case TAPE_SIZE: return 24;  // header block, then the data block's length and flag
        default: return -1;
    }
}

}  // namespace

kxoSCR::kxoSCR(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoSCR");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoSCR::Reset() { FrameReset(); }

uint32_t kxoSCR::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file || !name || strlen(name) <= 3) return 0;
    const int64_t size = KXF_FileSize(file);
    if (size == 6929 && KXF_NameEndsWith(name, ".$C")) return 1;
    if (size == 6912 && KXF_NameEndsWith(name, ".SCR")) return 1;
    if (size == TAPE_SIZE && KXF_NameEndsWith(name, ".TAP")) return 1;
    if ((size == 6912 || size == 6921 || size == 6924) && KXF_NameEndsWith(name, ".ZX")) return 1;
    return 0;
}

uint32_t kxoSCR::Load() { return KXF_Load(this, &kxoSCR::LoadBody); }

uint32_t kxoSCR::LoadBody() {
    KXByteReader r(ReadFile);
    const int64_t offset = screenOffset(r.ok() ? (int64_t)r.size() : -1);
    if (offset < 0) return KXERR_FILEREQUIREMENTS;
    SubFormatId = r.size() == TAPE_SIZE ? SUBFORMAT_TAP : SUBFORMAT_SCR;
    uint8_t screen[SCREEN_SIZE];
    if (!r.skip((uint64_t)offset) || !r.bytes(screen, sizeof(screen))) return KXERR_EOF;
    // The tape block's checksum byte follows; it is read and not checked.
    if (SubFormatId == SUBFORMAT_TAP) {
        r.u8();
        if (!r.ok()) return KXERR_EOF;
    }

    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, BITPLANE, WIDTH, HEIGHT, 4, 0, true);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    memcpy(img->Palette, kPalette, sizeof(kPalette));

    // Line y lies in third y / 64, ordered by its line within the cell
    // first: (y / 64) x 2048 + (y mod 8) x 256 + ((y / 8) mod 8) x 32.
    // A set bit takes the cell's ink, a clear one its paper; bright adds 8.
    const uint32_t planeBytes = ROW_BYTES * HEIGHT;
    const uint8_t* attributes = screen + BITMAP_SIZE;
    for (uint32_t y = 0; y < HEIGHT; ++y) {
        const uint8_t* bits = screen + (y / 64) * 2048 + (y % 8) * 256 + ((y / 8) % 8) * 32;
        const uint8_t* attr = attributes + (y / 8) * ROW_BYTES;
        uint8_t* row = img->Data + y * ROW_BYTES;
        for (uint32_t x = 0; x < ROW_BYTES; ++x) {
            const uint32_t bright = attr[x] >> 6 & 1;
            const uint32_t ink = (attr[x] & 7) | bright << 3, paper = (attr[x] >> 3 & 7) | bright << 3;
            const uint8_t b = bits[x];
            for (uint32_t k = 0; k < 4; ++k) {
                const uint8_t inkMask = ink >> k & 1 ? 0xFF : 0x00, paperMask = paper >> k & 1 ? 0xFF : 0x00;
                row[k * planeBytes + x] = (uint8_t)((b & inkMask) | (~b & paperMask));
            }
        }
    }
    return KXSUP_AddGfxBufferFlags(img, KXGFXF_SRCLOWDEPTH, 1);
}
