// kxoPSD: Photoshop documents (see kxoPSD.h).
#include "formats/raster/kxoPSD.h"
#include "formats/raster/kxplanes.h"

#include <cstring>
#include <memory>

namespace {

enum Mode { BITMAP = 0, GREYSCALE = 1, INDEXED = 2, RGB = 3, CMYK = 4 };

// Where one channel's bytes go: every stride-th byte from base on.
struct Plane {
    uint8_t* Base;
    uint32_t Stride;
    uint64_t Size;  // bytes of the channel
    void put(uint64_t at, const uint8_t* s, uint64_t n) const {
        if (Stride == 1) {
            memcpy(Base + at, s, n);
            return;
        }
        uint8_t* d = Base + at * Stride;
        for (uint64_t i = 0; i < n; ++i, d += Stride) *d = s[i];
    }
    void fill(uint64_t at, uint8_t v, uint64_t n) const {
        if (Stride == 1) {
            memset(Base + at, v, n);
            return;
        }
        uint8_t* d = Base + at * Stride;
        for (uint64_t i = 0; i < n; ++i, d += Stride) *d = v;
    }
};

// The file from the current position through a block buffer.
class Stream {
public:
    explicit Stream(KXByteReader& r) : R(r) {}
    int get() {
        if (Pos == Len && !refill()) return -1;
        return Buf[Pos++];
    }
    // Up to n bytes in place: a pointer and how many (0 at the end).
    size_t peek(const uint8_t** p, size_t n) {
        if (Pos == Len && !refill()) return 0;
        *p = Buf + Pos;
        size_t k = Len - Pos < n ? Len - Pos : n;
        Pos += k;
        return k;
    }

private:
    bool refill() {
        Pos = 0;
        Len = R.some(Buf, sizeof(Buf));
        return Len > 0;
    }
    KXByteReader& R;
    uint8_t Buf[65536];
    size_t Pos = 0, Len = 0;
};

// One channel of PackBits packets: n < 128 copies n + 1 bytes, n > 128
// repeats the next byte 257 - n times, 128 does nothing. The rows of a
// channel are one stream; what a packet brings past the channel's end is
// dropped, and a file that ends first gives 29.
uint32_t unpackChannel(Stream& s, const Plane& out) {
    uint64_t at = 0;
    while (at < out.Size) {
        const int c = s.get();
        if (c < 0) return KXERR_EOF;
        if (c < 128) {
            uint64_t n = (uint64_t)c + 1;
            while (n) {
                const uint8_t* p;
                size_t k = s.peek(&p, (size_t)n);
                if (k == 0) return KXERR_EOF;
                const uint64_t keep = k < out.Size - at ? k : out.Size - at;
                out.put(at, p, keep);
                at += keep;
                n -= k;
            }
        } else if (c > 128) {
            const int v = s.get();
            if (v < 0) return KXERR_EOF;
            const uint64_t n = 257 - (uint64_t)c;
            const uint64_t keep = n < out.Size - at ? n : out.Size - at;
            out.fill(at, (uint8_t)v, keep);
            at += keep;
        }
    }
    return KXERR_NONE;
}

}  // namespace

kxoPSD::kxoPSD(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoPSD");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoPSD::Reset() { FrameReset(); }

uint32_t kxoPSD::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    char m[4] = {};
    const size_t n = KXF_PeekHead(file, m, 4);
    return n == 4 && memcmp(m, "8BPS", 4) == 0 ? 1 : 0;
}

uint32_t kxoPSD::Load() { return KXF_Load(this, &kxoPSD::ReadImage); }

uint32_t kxoPSD::ReadImage() {
    KXF_Progress(this, 0);
    KXByteReader r(ReadFile);
    uint8_t sig[4];
    r.bytes(sig, 4);
    const uint32_t version = r.be16();
    r.skip(6);
    const uint32_t channels = r.be16();
    const uint32_t h = r.be32(), w = r.be32();
    const uint32_t depthField = r.be16(), mode = r.be16();
    if (!r.ok()) return KXERR_EOF;
    if (memcmp(sig, "8BPS", 4) != 0 || version != 1 || channels > 16) return KXERR_FILEREQUIREMENTS;
    if (depthField != 8 && depthField != 1) return KXERR_FILEREQUIREMENTS;
    if (mode > CMYK) return KXERR_FILEREQUIREMENTS;
    // The mode and the channel count decide how the pixels are read.
    uint32_t read, depth;
    bool alpha = false;
    if (mode == BITMAP) {
        if (channels != 1) return KXERR_FILEREQUIREMENTS;
        read = 1, depth = 1;
    } else if (channels == 1) {
        read = 1, depth = 8;
    } else if (channels == 3) {
        read = 3, depth = 24;
    } else if (channels >= 4) {
        read = 4, depth = 24, alpha = mode != CMYK;
    } else {
        return KXERR_FILEREQUIREMENTS;
    }
    // The conversion needs the K channel.
    if (mode == CMYK && read != 4) return KXERR_FILEREQUIREMENTS;
    const bool grey = mode == BITMAP || mode == GREYSCALE;
    SubFormatId = 0;

    uint8_t palette[768] = {};
    const uint32_t colourData = r.be32();
    if (colourData && read == 1 && depth == 8 && !grey) {
        // Indexed: 256 reds, 256 greens, 256 blues; a longer block is passed over.
        uint8_t planar[768] = {};
        const uint32_t n = colourData < 768 ? colourData : 768;
        if (!r.bytes(planar, n) || !r.skip(colourData - n)) return KXERR_EOF;
        for (int i = 0; i < 256; ++i) {
            palette[3 * i] = planar[i];
            palette[3 * i + 1] = planar[256 + i];
            palette[3 * i + 2] = planar[512 + i];
        }
    } else {
        r.skip(colourData);
    }
    r.skip(r.be32());  // image resources
    r.skip(r.be32());  // layer and mask information
    const uint32_t compression = r.be16();
    if (!r.ok()) return KXERR_EOF;
    if (compression > 1) return KXERR_FILEREQUIREMENTS;
    // Before anything is allocated: the file must hold the channels that are
    // read, raw, or at least their byte-count table and, packed, two bytes
    // for every 128 a channel yields (a repeat packet). A short file gives
    // 29 at once instead of a picture it cannot fill.
    if (w == 0 || h == 0) return KXERR_FILEREQUIREMENTS;
    uint32_t size = 0;  // sizes beyond 32 bits (15) or the limit (3) come first
    uint32_t err = depth == 1 ? KXSUP_CheckSize(&size, ((uint64_t)w + 7) / 8, h) : KXSUP_CheckSize(&size, w, h, depth / 8);
    if (err != KXERR_NONE) return err;
    const uint64_t channelBytes = depth == 1 ? ((uint64_t)w + 7) / 8 * h : (uint64_t)w * h;
    const uint64_t least = compression == 1 ? (uint64_t)channels * h * 2 + read * 2 * ((channelBytes + 127) / 128) : read * channelBytes;
    if (!KXF_FileCanHold(r, least)) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    err = KXF_NewImage(&img, depth == 1 ? BITPLANE : ONEPLANE, w, h, depth, depth == 1 ? 0 : depth, true);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    KXVecBlock black;  // the K channel of a CMYK document
    if (alpha && (err = KXF_AttachAlpha8(img)) != KXERR_NONE) return err;
    const uint64_t pixels = (uint64_t)w * h;
    if (mode == CMYK && !(black = KXF_AllocBlock(pixels))) return KXERR_NOMEMORY;

    auto plane = [&](uint32_t c) -> Plane {
        if (depth == 1) return Plane{img->Data, 1, img->BufferSize};
        if (c < 3) return Plane{img->Data + c, depth == 24 ? 3u : 1u, pixels};
        return Plane{black ? black.get() : KXSUP_AlphaBytes(img), 1, pixels};
    };
    std::unique_ptr<Stream> s;
    KXVecBlock row;
    if (compression == 1) {
        if (!r.skip((uint64_t)channels * h * 2)) return KXERR_EOF;  // the byte counts of every row
        s.reset(new (std::nothrow) Stream(r));
        if (!s) return KXERR_NOMEMORY;
    } else if (!(row = KXF_AllocBlock(depth == 1 ? img->BytesPerLine : w))) {
        return KXERR_NOMEMORY;
    }
    for (uint32_t c = 0; c < read; ++c) {
        KXF_Progress(this, c * 100 / read);
        const Plane p = plane(c);
        if (s) {
            if ((err = unpackChannel(*s, p)) != KXERR_NONE) return err;
            continue;
        }
        const uint64_t rowBytes = depth == 1 ? img->BytesPerLine : w;
        for (uint32_t y = 0; y < h; ++y) {
            if (!r.bytes(row.get(), (size_t)rowBytes)) return KXERR_EOF;
            p.put((uint64_t)y * rowBytes, row.get(), rowBytes);
        }
    }
    if (mode == CMYK) {
        // Stored as 255 less the ink: multiplied by K they give R, G, B.
        uint8_t* d = img->Data;
        const uint8_t* k = black.get();
        for (uint64_t i = 0; i < pixels; ++i, d += 3) {
            d[0] = (uint8_t)(d[0] * k[i] / 255);
            d[1] = (uint8_t)(d[1] * k[i] / 255);
            d[2] = (uint8_t)(d[2] * k[i] / 255);
        }
    }

    if (depth == 1) {
        memset(img->Palette, 255, 3);  // 0 white, 1 black
    } else if (mode == GREYSCALE && depth == 8) {
        for (int i = 0; i < 256; ++i) memset(img->Palette + 3 * i, i, 3);
    } else if (depth == 8) {
        memcpy(img->Palette, palette, sizeof(palette));
    }
    if (grey) KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
    KXF_Progress(this, 100);
    return KXERR_NONE;
}

uint32_t kxoPSD::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t depth = src->ColorDepth;
    if (depth > 8 && depth != 24) return KXERR_FILEREQUIREMENTS;
    if ((depth <= 8) != (src->PixelBits == 8)) return KXERR_FILEREQUIREMENTS;
    const uint32_t w = src->Width, h = src->Height;

    // A fresh alpha map for this picture; only 24-bit pictures give one.
    if (AlphaMap8 && AlphaMap8Owned) FreeVec(AlphaMap8);
    AlphaMap8 = nullptr;
    AlphaMap8Owned = 0;
    if (depth == 24) {
        uint8_t* map = nullptr;
        int owned = 0;
        err = KXSUP_GetAlphaMap8(src, &map, &owned, 1, 1);
        if (err == KXERR_NOMEMORY) return err;
        if (err == KXERR_NONE && map) {
            AlphaMap8 = map;
            AlphaMap8Owned = owned ? 1 : 0;
        }
    }
    const uint8_t* alpha = AlphaMap8;
    KXVecBlock row = KXF_AllocBlock(w);
    if (!row) return KXERR_NOMEMORY;

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter wr(WriteFile);
    wr.text("8BPS");
    wr.be16(1);
    wr.zeros(6);
    wr.be16((uint16_t)((depth == 24 ? 3 : 1) + (alpha ? 1 : 0)));
    wr.be32(h);
    wr.be32(w);
    wr.be16(8);
    wr.be16(depth == 24 ? RGB : INDEXED);
    if (depth <= 8) {
        wr.be32(768);
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 256; ++i) wr.u8(src->Palette[3 * i + c]);
    } else {
        wr.be32(0);
    }
    wr.be32(0);  // no image resources
    wr.be32(0);  // no layer section
    wr.be16(0);  // raw
    if (depth <= 8) {
        wr.bytes(src->Data, (size_t)w * h);
    } else {
        for (uint32_t c = 0; c < 3 && wr.ok(); ++c) {
            KXF_Progress(this, c * 100 / 3);
            for (uint32_t y = 0; y < h && wr.ok(); ++y) {
                const uint8_t* s = src->Data + (uint64_t)y * w * 3 + c;
                uint8_t* d = row.get();
                for (uint32_t x = 0; x < w; ++x, s += 3) d[x] = *s;
                wr.bytes(d, w);
            }
        }
        if (alpha) wr.bytes(alpha, (size_t)w * h);
    }
    return KXF_EndSave(this, &sf, wr.ok() ? KXERR_NONE : KXERR_IO);
}
