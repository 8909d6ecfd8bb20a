// kxoTGA: Truevision TGA (see kxoTGA.h).
#include "formats/raster/kxoTGA.h"

#include <cstring>
#include <memory>

namespace {

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

struct Header {
    uint8_t idLength = 0, mapType = 0, imageType = 0;
    uint16_t mapFirst = 0, mapLength = 0;
    uint8_t mapEntryBits = 0;
    uint16_t width = 0, height = 0;
    uint8_t pixelDepth = 0, descriptor = 0;
};

Header parseHeader(const uint8_t* b) {
    Header h;
    h.idLength = b[0];
    h.mapType = b[1];
    h.imageType = b[2];
    h.mapFirst = (uint16_t)(b[3] | b[4] << 8);
    h.mapLength = (uint16_t)(b[5] | b[6] << 8);
    h.mapEntryBits = b[7];
    h.width = (uint16_t)(b[12] | b[13] << 8);
    h.height = (uint16_t)(b[14] | b[15] << 8);
    h.pixelDepth = b[16];
    h.descriptor = b[17];
    return h;
}

// 15 is 16 with the attribute bit unused, as netpbm writes it.
bool depthIsKnown(uint32_t d) { return d == 1 || d == 8 || d == 15 || d == 16 || d == 24 || d == 32; }

// A 5-5-5 word (red in bits 10-14, green 5-9, blue 0-4; bit 15 ignored),
// each 5-bit value widened to 8 bits by repeating its top bits.
inline void expand555(uint16_t v, uint8_t* rgb) {
    const uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
    rgb[0] = (uint8_t)(r << 3 | r >> 2);
    rgb[1] = (uint8_t)(g << 3 | g >> 2);
    rgb[2] = (uint8_t)(b << 3 | b >> 2);
}

// Run-length packets (a header byte; bit 7 set: one value repeated
// (header & 127) + 1 times; clear: that many literal values), read in
// blocks from the file. Packets may run on from one row into the next;
// a row asks for exactly its own values, so nothing is stored past it,
// and a packet reaching past the picture's end is cut there.
class RleSource {
public:
    RleSource(KXByteReader& r, uint32_t valueSize) : R(r), Size(valueSize) {}
    // Fills count values of Size bytes; false when the data run out.
    bool fill(uint8_t* out, uint32_t count) {
        while (count) {
            if (Left == 0) {
                int head = byte();
                if (head < 0) return false;
                Left = (uint32_t)(head & 127) + 1;
                Repeat = (head & 128) != 0;
                if (Repeat && !bytes(Value, Size)) return false;
            }
            const uint32_t n = Left < count ? Left : count;
            if (Repeat) {
                for (uint32_t i = 0; i < n; ++i) memcpy(out + (size_t)i * Size, Value, Size);
            } else if (!bytes(out, (size_t)n * Size)) {
                return false;
            }
            out += (size_t)n * Size;
            count -= n;
            Left -= n;
        }
        return true;
    }

private:
    bool refill() {
        Pos = 0;
        End = R.some(Block, sizeof(Block));
        return End > 0;
    }
    int byte() {
        if (Pos == End && !refill()) return -1;
        return Block[Pos++];
    }
    bool bytes(uint8_t* out, size_t n) {
        while (n) {
            if (Pos == End && !refill()) return false;
            size_t k = End - Pos < n ? End - Pos : n;
            memcpy(out, Block + Pos, k);
            Pos += k;
            out += k;
            n -= k;
        }
        return true;
    }
    KXByteReader& R;
    uint32_t Size;
    uint8_t Block[65536];
    size_t Pos = 0, End = 0;
    uint32_t Left = 0;
    bool Repeat = false;
    uint8_t Value[4] = {};
};

}  // namespace

kxoTGA::kxoTGA(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoTGA");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoTGA::Reset() { FrameReset(); }

// The format has no magic number: the header must be plausible, and the
// file no longer than its pixels plus some room for an ID, a map and a
// footer. Run-length files and maps of other than 24-bit entries are
// thereby not recognised, though Load reads them.
uint32_t kxoTGA::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    const int64_t end = KXF_FileSize(file);
    uint8_t b[18];
    const bool read = end >= 18 && KXF_PeekHead(file, b, 18) == 18;
    if (!read) return 0;
    const Header h = parseHeader(b);
    if (h.mapType > 1 || h.imageType == 0) return 0;
    const uint32_t kind = h.imageType & 3;
    if (kind == 0) return 0;
    if (h.mapType == 1 && ((h.mapEntryBits != 0 && h.mapEntryBits != 24) || h.mapFirst > h.mapLength || h.mapLength > 256))
        return 0;
    if (h.width == 0 || h.height == 0) return 0;
    if (h.mapType == 1 && h.mapLength > (1u << (h.pixelDepth & 31))) return 0;
    if (!depthIsKnown(h.pixelDepth)) return 0;
    const uint32_t limit = (uint32_t)h.width * h.height * h.pixelDepth / 8 + 1344;  // 32-bit arithmetic
    return (uint64_t)end <= limit ? 1 : 0;
}

uint32_t kxoTGA::Load() { return KXF_Load(this, &kxoTGA::LoadBody); }

uint32_t kxoTGA::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t raw[18];
    if (!r.bytes(raw, 18)) return KXERR_EOF;
    const Header h = parseHeader(raw);
    if (h.imageType > 11 || !depthIsKnown(h.pixelDepth)) return KXERR_FILEREQUIREMENTS;
    SubFormatId = 0;
    const uint32_t pd = h.pixelDepth == 15 ? 16 : h.pixelDepth;
    const uint32_t depth = pd == 16 || pd == 32 ? 24 : pd;
    const uint32_t w = h.width, ht = h.height;
    const bool rle = h.imageType >= 4;

    if (!r.skip(h.idLength)) return KXERR_EOF;

    // The colour map: its entries at the first index onwards (those beyond
    // palette entry 255 are passed over), then the rest of the map skipped
    // whole, so that the pixels are read from where they begin.
    uint8_t palette[768] = {};
    bool grey = false;
    if (h.mapType == 1) {
        const uint32_t bits = h.mapEntryBits == 0 ? 24 : h.mapEntryBits;
        if (bits != 15 && bits != 16 && bits != 24 && bits != 32) return KXERR_FILEREQUIREMENTS;
        const uint32_t size = (bits + 7) / 8;
        uint8_t e[4];
        for (uint32_t i = 0; i < h.mapLength; ++i) {
            if (!r.bytes(e, size)) return KXERR_EOF;
            const uint32_t slot = h.mapFirst + i;
            if (slot >= 256) continue;
            if (size == 2) {
                expand555((uint16_t)(e[0] | e[1] << 8), palette + 3 * slot);
            } else {
                palette[3 * slot] = e[2];
                palette[3 * slot + 1] = e[1];
                palette[3 * slot + 2] = e[0];
            }
        }
    } else if (depth <= 8) {
        const uint32_t levels = 1u << depth;
        for (uint32_t i = 0; i < 256; ++i) palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = (uint8_t)(i * (256 / levels));
        memset(palette + 3 * (levels - 1), 255, 3);
        grey = true;
    }

    // Bytes of one file row; the raster (or, run-length encoded, at least
    // one packet for every 128 values) must be in the file before the
    // picture is allocated.
    const uint32_t valueSize = pd == 1 ? 1 : pd / 8;
    const uint64_t rowValues = pd == 1 ? (w + 7) / 8 : w;
    const uint64_t rowBytes = rowValues * valueSize;
    const uint64_t values = rowValues * ht;
    if (!rle && r.remaining() < rowBytes * ht) return KXERR_EOF;
    if (rle && r.remaining() < (values + 127) / 128 * (1 + valueSize)) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, pd == 1 ? BITPLANE : ONEPLANE, w, ht, depth, depth <= 8 ? 8 : 24, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    memcpy(img->Palette, palette, sizeof(palette));
    uint8_t* alpha = nullptr;
    if (pd == 32) {
        if ((err = KXF_AttachAlpha8(img)) != KXERR_NONE) return err;
        alpha = KXSUP_AlphaBytes(img);
    }
    VecPtr line(static_cast<uint8_t*>(AllocVec((size_t)rowBytes, MEMF_ANY)));
    if (!line) return KXERR_NOMEMORY;
    std::unique_ptr<RleSource> packets;
    if (rle) {
        packets.reset(new (std::nothrow) RleSource(r, valueSize));
        if (!packets) return KXERR_NOMEMORY;
    }

    const bool topDown = (h.descriptor & 0x20) != 0;
    const uint64_t outRow = pd == 1 ? img->BytesPerLine : (uint64_t)w * (depth / 8);
    for (uint32_t fy = 0; fy < ht; ++fy) {
        KXF_RowProgress(this, fy, ht);
        uint8_t* s = line.get();
        if (rle ? !packets->fill(s, (uint32_t)rowValues) : !r.bytes(s, (size_t)rowBytes)) return KXERR_EOF;
        const uint32_t y = topDown ? fy : ht - 1 - fy;
        uint8_t* d = img->Data + y * outRow;
        switch (pd) {
        case 1:
        case 8:
            memcpy(d, s, (size_t)rowBytes);
            break;
        case 16:
            for (uint32_t x = 0; x < w; ++x) expand555((uint16_t)(s[2 * x] | s[2 * x + 1] << 8), d + 3 * x);
            break;
        case 24:
            for (uint32_t x = 0; x < w; ++x) {
                d[3 * x] = s[3 * x + 2];
                d[3 * x + 1] = s[3 * x + 1];
                d[3 * x + 2] = s[3 * x];
            }
            break;
        case 32: {
            uint8_t* a = alpha + (uint64_t)y * w;
            for (uint32_t x = 0; x < w; ++x) {
                d[3 * x] = s[4 * x + 2];
                d[3 * x + 1] = s[4 * x + 1];
                d[3 * x + 2] = s[4 * x];
                a[x] = s[4 * x + 3];
            }
            break;
        }
        }
    }
    if (grey) KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
    return KXERR_NONE;
}

uint32_t kxoTGA::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t depth = src->ColorDepth;
    if (!((depth <= 8 && src->PixelBits == 8) || (depth == 24 && src->PixelBits == 24))) return KXERR_NOTSUPPORTED;
    // Width and height are 16-bit fields.
    if (src->Width > 65535 || src->Height > 65535) return KXERR_FILEREQUIREMENTS;

    // A fresh alpha map for this image; one left from an earlier save
    // belongs to another picture.
    if (AlphaMap8 && AlphaMap8Owned) FreeVec(AlphaMap8);
    AlphaMap8 = nullptr;
    AlphaMap8Owned = 0;
    if (depth == 24) {
        uint8_t* map = nullptr;
        int owned = 0;
        err = KXSUP_GetAlphaMap8(src, &map, &owned, 1, 1);
        if (err == KXERR_NOMEMORY) return err;
        if (err == KXERR_NONE && map) AlphaMap8 = map, AlphaMap8Owned = owned ? 1 : 0;
    }
    return WriteBody();
}

uint32_t kxoTGA::WriteBody() {
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t w = src->Width, h = src->Height;
    const bool palette = src->PixelBits == 8;
    const uint8_t* alpha = palette ? nullptr : AlphaMap8;
    const uint32_t pixelDepth = palette ? 8 : alpha ? 32 : 24;
    const uint32_t rowBytes = w * (pixelDepth / 8);  // at most 65535 x 4
    VecPtr line;
    if (!palette) {
        line.reset(static_cast<uint8_t*>(AllocVec(rowBytes, MEMF_ANY)));
        if (!line) return KXERR_NOMEMORY;
    }

    KXSafeFile sf;
    uint32_t err = KXF_OpenSave(this, &sf);
    if (err != KXERR_NONE) return err;
    KXByteWriter out(WriteFile);
    const uint8_t header[18] = {0,
                                (uint8_t)(palette ? 1 : 0),
                                (uint8_t)(palette ? 1 : 2),
                                0,
                                0,
                                0,
                                (uint8_t)(palette ? 1 : 0),  // 256 entries
                                (uint8_t)(palette ? 24 : 0),
                                0,
                                0,
                                0,
                                0,
                                (uint8_t)w,
                                (uint8_t)(w >> 8),
                                (uint8_t)h,
                                (uint8_t)(h >> 8),
                                (uint8_t)pixelDepth,
                                0x20};  // rows top to bottom
    out.bytes(header, sizeof(header));
    if (palette) {
        uint8_t map[768];
        for (uint32_t i = 0; i < 256; ++i) {
            map[3 * i] = src->Palette[3 * i + 2];
            map[3 * i + 1] = src->Palette[3 * i + 1];
            map[3 * i + 2] = src->Palette[3 * i];
        }
        out.bytes(map, sizeof(map));
    }
    for (uint32_t y = 0; y < h && out.ok(); ++y) {
        KXF_RowProgress(this, y, h);
        if (palette) {
            out.bytes(src->Data + (uint64_t)y * w, w);
            continue;
        }
        const uint8_t* s = src->Data + (uint64_t)y * w * 3;
        uint8_t* d = line.get();
        if (alpha) {
            const uint8_t* a = alpha + (uint64_t)y * w;
            for (uint32_t x = 0; x < w; ++x) {
                d[4 * x] = s[3 * x + 2];
                d[4 * x + 1] = s[3 * x + 1];
                d[4 * x + 2] = s[3 * x];
                d[4 * x + 3] = a[x];
            }
        } else {
            for (uint32_t x = 0; x < w; ++x) {
                d[3 * x] = s[3 * x + 2];
                d[3 * x + 1] = s[3 * x + 1];
                d[3 * x + 2] = s[3 * x];
            }
        }
        out.bytes(d, rowBytes);
    }
    return KXF_EndSave(this, &sf, out.ok() ? KXERR_NONE : KXERR_IO);
}
