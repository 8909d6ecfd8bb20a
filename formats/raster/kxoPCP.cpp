// kxoPCP: Pictor (PC Paint) pictures (see kxoPCP.h).
#include "formats/raster/kxoPCP.h"
#include "formats/raster/kxplanes.h"

#include <cstring>
#include <memory>

namespace {

const uint32_t SUBFORMAT_PACKED = 1;
const uint32_t HEADER_SIZE = 17;

inline uint32_t le16(const uint8_t* p) { return (uint32_t)(p[0] | p[1] << 8); }

// The ramp of files without a palette: entry i is the grey i x (256 / n)
// modulo 256 for all 256 entries, then entry n - 1 white.
void fixedStepRamp(uint8_t* palette, uint32_t n) {
    const uint32_t step = 256 / n;
    for (uint32_t i = 0; i < 256; ++i) palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = (uint8_t)((i * step) & 0xFF);
    memset(palette + 3 * (n - 1), 255, 3);
}

// An EGA colour code: bits 2 and 5 red, 1 and 4 green, 0 and 3 blue (the
// low bit of each pair the brighter 0x80).
void egaColour(uint8_t code, uint8_t* rgb) {
    rgb[0] = (uint8_t)((code & 4 ? 0x80 : 0) | (code & 32 ? 0x40 : 0));
    rgb[1] = (uint8_t)((code & 2 ? 0x80 : 0) | (code & 16 ? 0x40 : 0));
    rgb[2] = (uint8_t)((code & 1 ? 0x80 : 0) | (code & 8 ? 0x40 : 0));
}

// The unpacked bytes in file order to their place in the picture: the
// file holds each bit plane (or the bytes) from the bottom row up, so
// rows are turned over as they arrive and no pass over the whole picture
// follows. Output is cut at the picture's size.
class FlippedOut {
public:
    FlippedOut(uint8_t* data, uint64_t rowBytes, uint32_t rows, uint64_t total)
        : Data(data), RowBytes(rowBytes), Rows(rows), PlaneBytes(rowBytes * rows), Total(total) {}
    uint64_t produced() const { return Pos; }
    bool full() const { return Pos >= Total; }
    void put(const uint8_t* s, uint64_t n) {
        while (n && Pos < Total) {
            uint64_t k;
            uint8_t* d = at(n, &k);
            memcpy(d, s, (size_t)k);
            s += k, n -= k, Pos += k;
        }
    }
    void fill(uint8_t v, uint64_t n) {
        while (n && Pos < Total) {
            uint64_t k;
            uint8_t* d = at(n, &k);
            memset(d, v, (size_t)k);
            n -= k, Pos += k;
        }
    }

private:
    // Where the next byte goes, and how many of n fit in its row.
    uint8_t* at(uint64_t n, uint64_t* fit) {
        const uint64_t plane = Pos / PlaneBytes, j = Pos % PlaneBytes, row = j / RowBytes, col = j % RowBytes;
        uint64_t k = RowBytes - col;
        if (k > n) k = n;
        if (k > Total - Pos) k = Total - Pos;
        *fit = k;
        return Data + plane * PlaneBytes + (Rows - 1 - row) * RowBytes + col;
    }
    uint8_t* Data;
    uint64_t RowBytes;
    uint32_t Rows;
    uint64_t PlaneBytes, Total, Pos = 0;
};

// Packed blocks: a 5-byte header (block size with the header, bytes it
// yields, marker) and bytes in which the marker opens a run (count byte,
// or 0 and a 16-bit count, then the value). Reads never pass the block or
// the data; a block shorter than its header counts as the header alone, so
// every step moves on. What the data do not reach stays clear.
void unpackBlocks(const uint8_t* data, uint64_t size, FlippedOut& out) {
    uint64_t p = 0, e = 0, yielded = 0, blockYield = 0;
    uint8_t marker = 0;
    while (!out.full()) {
        if (p >= e || yielded >= blockYield) {
            p = e;
            if (p > size || size - p < 5) break;
            const uint64_t blockSize = le16(data + p);
            blockYield = le16(data + p + 2);
            marker = data[p + 4];
            e = p + (blockSize < 5 ? 5 : blockSize);
            if (e > size) e = size;
            p += 5;
            yielded = 0;
            continue;
        }
        // Literals up to the next marker in one step.
        uint64_t q = p;
        while (q < e && data[q] != marker && yielded + (q - p) < blockYield) ++q;
        if (q > p) {
            out.put(data + p, q - p);
            yielded += q - p;
            p = q;
            continue;
        }
        ++p;  // the marker
        if (p >= e) break;
        uint64_t count = data[p++];
        if (count == 0) {
            if (e - p < 2) break;
            count = le16(data + p);
            p += 2;
        }
        if (p >= e) break;
        out.fill(data[p++], count);
        yielded += count;
    }
}

}  // namespace

kxoPCP::kxoPCP(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoPCP");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoPCP::Reset() { FrameReset(); }

uint32_t kxoPCP::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t m[2] = {};
    const size_t n = KXF_PeekHead(file, m, 2);
    return n == 2 && m[0] == 0x34 && m[1] == 0x12 ? 1 : 0;
}

uint32_t kxoPCP::Load() { return KXF_Load(this, &kxoPCP::LoadBody); }

uint32_t kxoPCP::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t h[HEADER_SIZE];
    if (r.size() <= HEADER_SIZE || !r.bytes(h, sizeof(h))) return KXERR_FILEREQUIREMENTS;
    if (le16(h) != 0x1234 || h[11] != 0xFF) return KXERR_FILEREQUIREMENTS;
    const uint32_t w = le16(h + 2), ht = le16(h + 4);
    const uint32_t planes = (h[10] >> 4) + 1, bits = h[10] & 15;
    const uint32_t paletteType = le16(h + 13), paletteSize = le16(h + 15);
    if (paletteType == 1 || paletteType == 2) return KXERR_FILEREQUIREMENTS;
    // 2^depth is formed only for the depths that are read.
    const uint32_t depth = planes * bits;
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return KXERR_FILEREQUIREMENTS;
    const uint32_t n = 1u << depth;
    if (paletteSize > 768) return KXERR_DECODE;

    uint8_t palette[768] = {};
    if (paletteSize) {
        uint8_t raw[768] = {};
        if (!r.bytes(raw, paletteSize)) return KXERR_EOF;
        if (paletteType == 4) {
            for (uint32_t i = 0; i < paletteSize; ++i) palette[i] = (uint8_t)(raw[i] << 2);  // 6-bit components
        } else {
            for (uint32_t i = 0; i < n && i < paletteSize; ++i) egaColour(raw[i], palette + 3 * i);
        }
    }
    const uint32_t blocks = r.le16();
    if (!r.ok()) return KXERR_EOF;
    SubFormatId = blocks ? SUBFORMAT_PACKED : 0;

    const bool planar = depth < 8;
    // What the rest of the file can yield at most: itself, or packed, 65535
    // bytes for every 5 (the longest run) after the first block header. A
    // short file still loads, its missing rows blank, but not one that
    // could not fill half its picture: a few bytes never make gigabytes.
    uint32_t size = 0;
    uint32_t err = planar ? KXSUP_CheckSize(&size, ((uint64_t)w + 7) / 8, ht, depth) : KXSUP_CheckSize(&size, w, ht);
    if (err != KXERR_NONE) return err;
    const uint64_t rest = r.remaining();
    const uint64_t most = blocks == 0 ? rest : rest < 5 ? 0 : (rest - 5 + 4) / 5 * 65535;
    if (most < ((uint64_t)size + 1) / 2) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    err = KXF_NewImage(&img, planar ? BITPLANE : ONEPLANE, w, ht, depth, planar ? 0 : 8, true);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    if (paletteSize) memcpy(img->Palette, palette, 768);
    else fixedStepRamp(img->Palette, n);

    // Unpacked, the picture is its bit planes one after another (or its
    // bytes), each from the bottom row up; missing data leave zeros.
    const uint64_t rowBytes = planar ? img->BytesPerLine : w;
    FlippedOut out(img->Data, rowBytes, ht, img->BufferSize);
    if (blocks == 0) {
        KXVecBlock row = KXF_AllocBlock(rowBytes);
        if (!row) return KXERR_NOMEMORY;
        while (!out.full()) {
            const size_t got = r.some(row.get(), (size_t)rowBytes);
            out.put(row.get(), got);
            if (got < rowBytes) break;
        }
    } else {
        KXVecBlock packed = KXF_AllocBlock(rest);
        if (!packed) return KXERR_NOMEMORY;
        if (!r.bytes(packed.get(), (size_t)rest)) return KXERR_EOF;
        unpackBlocks(packed.get(), rest, out);
    }
    return KXERR_NONE;
}

uint32_t kxoPCP::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* src = SaveBuffer;
    // Deeper pictures are refused with the codes that let the caller
    // offer a palette conversion.
    if (src->ColorDepth == 24) return KXERR_NO24BIT;
    if (src->ColorDepth == 48) return KXERR_NO48BIT;
    if (src->ColorDepth > 8 || src->PixelBits != 8) return KXERR_NOTSUPPORTED;
    const uint32_t w = src->Width, h = src->Height;
    // Width and height are 16-bit fields.
    if (w > 65535 || h > 65535) return KXERR_FILEREQUIREMENTS;

    // The mode is decided before anything is written: one block per run
    // (rows are packed on their own, runs of at most 65535), and a picture
    // that needs more blocks than the count can hold goes uncompressed.
    auto runLength = [&](const uint8_t* row, uint32_t x) {
        uint32_t k = 1;
        while (x + k < w && k < 65535 && row[x + k] == row[x]) ++k;
        return k;
    };
    bool packed = SelectedSubFormat == SUBFORMAT_PACKED;
    uint64_t blocks = 0;
    for (uint32_t y = 0; y < h && packed; ++y) {
        const uint8_t* row = src->Data + (uint64_t)w * y;
        for (uint32_t x = 0; x < w; x += runLength(row, x)) ++blocks;
        if (blocks > 65535) packed = false;
    }

    uint8_t hd[HEADER_SIZE] = {0x34, 0x12};
    hd[2] = (uint8_t)w, hd[3] = (uint8_t)(w >> 8);
    hd[4] = (uint8_t)h, hd[5] = (uint8_t)(h >> 8);
    hd[10] = 8;  // one plane of 8 bits
    hd[11] = 0xFF;
    hd[12] = 'O';
    hd[13] = 4;  // 6-bit R, G, B triplets
    hd[15] = 0x00, hd[16] = 0x03;  // 768 bytes
    uint8_t palette[768];
    for (int i = 0; i < 768; ++i) palette[i] = (uint8_t)(src->Palette[i] >> 2);

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter wr(WriteFile);
    wr.bytes(hd, sizeof(hd));
    wr.bytes(palette, sizeof(palette));
    wr.le16(packed ? (uint16_t)blocks : 0);
    // The bottom row comes first.
    for (uint32_t i = 0; i < h && wr.ok(); ++i) {
        KXF_RowProgress(this, i, h);
        const uint8_t* row = src->Data + (uint64_t)w * (h - 1 - i);
        if (!packed) {
            wr.bytes(row, w);
            continue;
        }
        for (uint32_t x = 0; x < w;) {
            const uint32_t k = runLength(row, x);
            const uint8_t v = row[x];
            if (k <= 255) {
                const uint8_t marker = v ^ 0x0F;
                const uint8_t b[8] = {8, 0, (uint8_t)k, (uint8_t)(k >> 8), marker, marker, (uint8_t)k, v};
                wr.bytes(b, sizeof(b));
            } else {
                const uint8_t marker = v ^ 0x1F;
                const uint8_t b[10] = {10, 0, (uint8_t)k, (uint8_t)(k >> 8), marker, marker, 0, (uint8_t)k, (uint8_t)(k >> 8), v};
                wr.bytes(b, sizeof(b));
            }
            x += k;
        }
    }
    return KXF_EndSave(this, &sf, wr.ok() ? KXERR_NONE : KXERR_IO);
}
