// kxoC64: Commodore 64 pictures (see kxoC64.h).
#include "formats/raster/kxoC64.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

const uint32_t SUBFORMAT_KOALA = 0, SUBFORMAT_DOODLE = 1, SUBFORMAT_GEOS = 2, SUBFORMAT_GODOT = 3;
const uint32_t WIDTH = 320, HEIGHT = 200, CELLS = 1000, PIXELS = WIDTH * HEIGHT;

const uint8_t kC64Palette[16][3] = {
    {0, 0, 0},      {255, 255, 255}, {104, 55, 43},  {112, 164, 178}, {111, 61, 134},  {88, 141, 67},
    {53, 40, 121},  {184, 199, 111}, {111, 79, 37},  {67, 57, 0},     {154, 103, 89},  {68, 68, 68},
    {108, 108, 108}, {154, 210, 132}, {108, 94, 181}, {149, 149, 149},
};
const uint8_t kGodotPalette[16][3] = {
    {0, 0, 0},       {0, 0, 170},     {102, 68, 0},    {51, 51, 51},    {136, 0, 0},     {204, 68, 204},
    {221, 136, 85},  {119, 119, 119}, {0, 136, 255},   {255, 119, 119}, {0, 204, 85},    {187, 187, 187},
    {170, 255, 238}, {238, 238, 119}, {170, 255, 102}, {255, 255, 255},
};

// The top-left pixel of cell c of the 40 x 25 cells.
inline uint8_t* cellOrigin(KX_GfxBuffer* img, uint32_t c) { return img->Data + (c / 40) * 8 * WIDTH + (c % 40) * 8; }

uint32_t newPicture(KX_GfxBuffer** img, uint32_t width, uint32_t height, const uint8_t (*palette)[3]) {
    uint32_t err = KXF_NewImage(img, ONEPLANE, width, height, 4, 8, true);
    if (err == KXERR_NONE) memcpy((*img)->Palette, palette, 16 * 3);
    return err;
}

// GEOS: the picture data are 254-byte blocks; a record of 1448 bytes holds
// two card rows of 80 cards x 8 bytes, 8 unused bytes and 160 colour bytes.
const uint32_t GEOS_BLOCK = 254, GEOS_RECORD = 1448, GEOS_CARDROW = 640, GEOS_COLOURS = 1288;
const uint32_t GEOS_MAX_DATA = 65160, GEOS_MAX_LINES = 720;
// The largest item (63 repeats of an 8-byte pattern) may run past the end.
const uint32_t GEOS_SPARE = 512;

// Decompresses the record stream; returns the bytes produced (at most
// GEOS_MAX_DATA are used). Every item stays inside the data: a literal
// that runs past the end brings what is there, a pattern or repeat without
// its bytes ends the stream.
uint32_t geosDecompress(const uint8_t* data, uint64_t n, uint8_t* out) {
    uint64_t p = 0;
    uint32_t produced = 0;
    while (p < n && produced < GEOS_MAX_DATA) {
        const uint32_t c = data[p++];
        if (c == 0) {
            // The record ends: on at the next block boundary.
            p = (p + GEOS_BLOCK - 1) / GEOS_BLOCK * GEOS_BLOCK;
        } else if (c == 64 || c == 128) {
            continue;
        } else if (c < 64) {
            const uint32_t k = (uint32_t)(n - p < c ? n - p : c);
            memcpy(out + produced, data + p, k);
            produced += k;
            p += k;
        } else if (c < 128) {
            if (n - p < 8) break;
            for (uint32_t i = 64; i < c; ++i, produced += 8) memcpy(out + produced, data + p, 8);
            p += 8;
        } else {
            if (p >= n) break;
            memset(out + produced, data[p++], c - 128);
            produced += c - 128;
        }
    }
    return produced;
}

}  // namespace

kxoC64::kxoC64(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoC64");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoC64::Reset() { FrameReset(); }

uint32_t kxoC64::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    const int64_t size = KXF_FileSize(file);
    // Far enough for a GEOS info block's icon size at 254.
    uint8_t b[257];
    const size_t got = size < 0 ? 0 : KXF_PeekHead(file, b, sizeof(b));
    uint32_t known = 0;
    if (got >= 32) {
        if (size >= 9201 && size <= 9229 && b[0] == 0x00 && b[1] == 0x5C) known = 1;
        else if (size == 10003 && b[0] == 0x00 && b[1] == 0x60) known = 1;
        else if (KXF_NameEndsWith(name, ".GEO")) {
            // A GEOS application data file (type 7) with its info block's icon size.
            if ((b[0] & 1) && b[22] == 7 && b[21] <= 1 && got == sizeof(b))
                known = b[254] == 3 && b[255] == 21 && b[256] == 0xBF;
        } else if (KXF_NameEndsWith(name, ".4BT")) {
            known = memcmp(b, "GOD0", 4) == 0;
        }
    }
    return known;
}

uint32_t kxoC64::Load() { return KXF_Load(this, &kxoC64::LoadBody); }

uint32_t kxoC64::LoadBody() {
    KXByteReader r(ReadFile);
    if (!r.ok()) return KXERR_EOF;
    if (KXF_NameEndsWith(ReadName, ".GEO")) {
        SubFormatId = SUBFORMAT_GEOS;
        return LoadGeos(r);
    }
    if (KXF_NameEndsWith(ReadName, ".4BT")) {
        SubFormatId = SUBFORMAT_GODOT;
        return LoadGodot(r);
    }
    // The two sizes lie apart: Doodle up to 9229 bytes, Koala 10003.
    if (r.size() < 10000) {
        SubFormatId = SUBFORMAT_DOODLE;
        return LoadDoodle(r);
    }
    SubFormatId = SUBFORMAT_KOALA;
    return LoadKoala(r);
}

// Load address, bitmap (8000), screen memory (1000), colour memory (1000),
// background: a pixel pair's two bits pick the background, the screen
// byte's high or low nibble or the colour-memory nibble.
uint32_t kxoC64::LoadKoala(KXByteReader& r) {
    uint8_t file[10003] = {};
    r.some(file, sizeof(file));  // what a short file lacks stays 0
    KX_GfxBuffer* img = nullptr;
    uint32_t err = newPicture(&img, WIDTH, HEIGHT, kC64Palette);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    const uint8_t* bitmap = file + 2;
    for (uint32_t c = 0; c < CELLS; ++c) {
        const uint8_t screen = file[8002 + c];
        const uint8_t colours[4] = {(uint8_t)(file[10002] & 15), (uint8_t)(screen >> 4), (uint8_t)(screen & 15),
                                    (uint8_t)(file[9002 + c] & 15)};
        uint8_t* origin = cellOrigin(img, c);
        for (uint32_t l = 0; l < 8; ++l) {
            const uint32_t b = bitmap[c * 8 + l];
            uint8_t* out = origin + l * WIDTH;
            for (uint32_t k = 0; k < 4; ++k) out[2 * k] = out[2 * k + 1] = colours[b >> (6 - 2 * k) & 3];
        }
    }
    return KXERR_NONE;
}

// Load address, screen memory (1000), 24 unused bytes, bitmap (8000): a
// set bit takes the screen byte's high nibble, a clear bit its low one.
uint32_t kxoC64::LoadDoodle(KXByteReader& r) {
    uint8_t file[9026] = {};
    r.some(file, sizeof(file));
    KX_GfxBuffer* img = nullptr;
    uint32_t err = newPicture(&img, WIDTH, HEIGHT, kC64Palette);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    const uint8_t* bitmap = file + 1026;
    for (uint32_t c = 0; c < CELLS; ++c) {
        const uint8_t set = file[2 + c] >> 4, clear = file[2 + c] & 15;
        uint8_t* origin = cellOrigin(img, c);
        for (uint32_t l = 0; l < 8; ++l) {
            const uint32_t b = bitmap[c * 8 + l];
            uint8_t* out = origin + l * WIDTH;
            for (uint32_t k = 0; k < 8; ++k) out[k] = b >> (7 - k) & 1 ? set : clear;
        }
    }
    return KXERR_NONE;
}

// "GOD0", then bytes of two 4-bit pixels (high nibble left) or 0xAD, a
// count (0 = 256) and a byte to repeat; 64000 pixels in cell order.
uint32_t kxoC64::LoadGodot(KXByteReader& r) {
    if (r.size() < 4 || !r.seek(4)) return KXERR_EOF;
    // Each item yields at least two pixels from at most three bytes: no
    // more than this is ever read.
    const uint64_t n = r.remaining() < PIXELS / 2 * 3 ? r.remaining() : PIXELS / 2 * 3;
    std::vector<uint8_t> packed((size_t)n), pixels(PIXELS, 0);
    if (!r.bytes(packed.data(), (size_t)n)) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    uint32_t err = newPicture(&img, WIDTH, HEIGHT, kGodotPalette);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;

    uint32_t count = 0;
    for (uint64_t p = 0; p < n && count < PIXELS;) {
        if (ProgressHook && count % 8 == 0) KXF_Progress(this, count * 100 / PIXELS);
        uint32_t repeat = 1;
        uint8_t v = packed[p];
        if (v == 0xAD) {
            if (n - p < 3) break;
            repeat = packed[p + 1] ? packed[p + 1] : 256;
            v = packed[p + 2];
            p += 3;
        } else {
            ++p;
        }
        // An item that would overrun the picture ends the stream unwritten.
        if (count + 2 * repeat > PIXELS) break;
        for (uint32_t i = 0; i < repeat; ++i) {
            pixels[count++] = v >> 4;
            pixels[count++] = v & 15;
        }
    }
    // Cell order to rows: each 8 values are one line of one cell.
    for (uint32_t p = 0; p < PIXELS; p += 8) {
        const uint32_t c = p / 64, l = p / 8 % 8;
        memcpy(cellOrigin(img, c) + l * WIDTH, &pixels[p], 8);
    }
    return KXSUP_AddGfxBufferFlags(img, KXGFXF_SRCLOWDEPTH, 1);
}

// A directory entry and the info block (and a record table when byte 21
// of the entry is 1), each 254 bytes, then the picture data.
uint32_t kxoC64::LoadGeos(KXByteReader& r) {
    uint8_t entry[GEOS_BLOCK] = {};
    r.some(entry, sizeof(entry));
    const uint64_t dataStart = entry[21] == 1 ? 3 * GEOS_BLOCK : 2 * GEOS_BLOCK;
    if (r.size() <= dataStart || !r.seek(dataStart)) return KXERR_EOF;
    const uint64_t n = r.remaining();
    uint32_t size = 0;
    if (uint32_t err = KXSUP_CheckSize(&size, n)) return err;
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size]);
    std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[GEOS_MAX_DATA + GEOS_SPARE]());
    if (!data || !out) return KXERR_NOMEMORY;
    if (!r.bytes(data.get(), size)) return KXERR_EOF;

    uint32_t count = geosDecompress(data.get(), size, out.get());
    if (count > GEOS_MAX_DATA) count = GEOS_MAX_DATA;
    // Records while data remain; a record whose data end within its first
    // card row ends the picture after that card row.
    uint32_t lines = 0;
    for (uint32_t at = 0; lines < GEOS_MAX_LINES && at < count; at += GEOS_RECORD) {
        if (count - at <= GEOS_CARDROW) {
            lines += 8;
            break;
        }
        lines += 16;
    }
    if (lines == 0) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    uint32_t err = newPicture(&img, 640, lines, kC64Palette);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    // Line l of a card row is byte l of each of its 80 cards; a line whose
    // bytes the data do not reach stays clear and so takes the cards' clear
    // colours. Colour bytes: high nibble for set pixels, low for clear.
    for (uint32_t y = 0; y < lines; ++y) {
        const uint32_t record = y / 16 * GEOS_RECORD, cardRow = y / 8 % 2, l = y % 8;
        const uint32_t start = record + cardRow * GEOS_CARDROW;
        const bool present = count > start && count - start > (l + 1) * 80;
        const uint8_t* cards = out.get() + start;
        const uint8_t* colours = out.get() + record + GEOS_COLOURS + cardRow * 80;
        uint8_t* row = img->Data + (uint64_t)y * 640;
        for (uint32_t c = 0; c < 80; ++c, row += 8) {
            const uint32_t b = present ? cards[c * 8 + l] : 0;
            const uint8_t set = colours[c] >> 4, clear = colours[c] & 15;
            for (uint32_t k = 0; k < 8; ++k) row[k] = b >> (7 - k) & 1 ? set : clear;
        }
    }
    return KXERR_NONE;
}
