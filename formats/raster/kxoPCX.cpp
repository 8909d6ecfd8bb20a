// kxoPCX: ZSoft PCX (see kxoPCX.h).
#include "formats/raster/kxoPCX.h"
#include "formats/raster/kxplanes.h"

#include <cstring>
#include <memory>

namespace {

const uint32_t HEADER_SIZE = 128;

// The ramp of files without colours (version 3): entry i is the grey
// i x (256 / n) modulo 256 for all 256 entries, then entry n - 1 white.
void fixedStepRamp(uint8_t* palette, uint32_t n) {
    const uint32_t step = 256 / n;
    for (uint32_t i = 0; i < 256; ++i) palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = (uint8_t)((i * step) & 0xFF);
    memset(palette + 3 * (n - 1), 255, 3);
}

// Plane lines of run-length data, read through a block buffer. A count
// byte (top two bits set) repeats the next byte count & 0x3F times; a run
// that passes the end of a line goes on in the next line, as the format's
// own writers sometimes leave it. Data that ends early give zeros.
class RleLines {
public:
    explicit RleLines(KXByteReader& r) : R(r) {}
    // Nothing more to come: the rows left stay as they are (cleared).
    bool exhausted() const { return Run == 0 && Pos == Len && R.remaining() == 0; }
    void line(uint8_t* out, uint32_t n) {
        uint32_t i = 0;
        while (i < n) {
            if (Run) {
                uint32_t k = Run < n - i ? Run : n - i;
                memset(out + i, Value, k);
                i += k;
                Run -= k;
                continue;
            }
            if (Len - Pos >= 2) {
                // Straight from the block while a count and its value are both in it.
                const uint8_t* b = Buf;
                size_t p = Pos;
                const size_t stop = Len - 1;
                while (i < n && p < stop) {
                    const uint8_t c = b[p];
                    if (c < 0xC0) {
                        out[i++] = c;
                        ++p;
                        continue;
                    }
                    const uint32_t count = c & 0x3F, k = count < n - i ? count : n - i;
                    const uint8_t v = b[p + 1];
                    p += 2;
                    for (uint32_t j = 0; j < k; ++j) out[i + j] = v;
                    i += k;
                    if (k < count) Run = count - k, Value = v;
                }
                Pos = p;
                continue;
            }
            int c = next();
            if (c < 0) break;
            if ((c & 0xC0) == 0xC0) {
                int v = next();
                if (v < 0) break;
                Run = (uint32_t)c & 0x3F;
                Value = (uint8_t)v;
            } else {
                out[i++] = (uint8_t)c;
            }
        }
        if (i < n) memset(out + i, 0, n - i);
    }

private:
    int next() {
        if (Pos == Len) {
            Len = R.some(Buf, sizeof(Buf));
            Pos = 0;
            if (Len == 0) return -1;
        }
        return Buf[Pos++];
    }
    KXByteReader& R;
    uint8_t Buf[65536];
    size_t Pos = 0, Len = 0;
    uint32_t Run = 0;
    uint8_t Value = 0;
};

// Raw plane lines; a line the file does not hold in full ends in zeros.
void rawLine(KXByteReader& r, uint8_t* out, uint32_t n) {
    size_t got = r.some(out, n);
    if (got < n) memset(out + got, 0, n - got);
}

// One line in the run-length code; returns the bytes produced (at most 2n).
// Equal neighbours are counted pairwise (at most 63): a run of k equal bytes
// becomes a count of k - 1 and the last byte on its own, as the format's
// reference encoder does. Literals of 0xC0 and above get a count of one.
size_t encodeLine(const uint8_t* s, size_t n, uint8_t* out) {
    size_t i = 0, o = 0;
    while (i < n) {
        uint32_t j = 0;
        while (i + j + 1 < n && s[i + j] == s[i + j + 1] && j < 63) ++j;
        if (j > 0) {
            out[o++] = (uint8_t)(0xC0 | j);
            out[o++] = s[i];
            i += j;
        } else {
            if (s[i] >= 0xC0) out[o++] = 0xC1;
            out[o++] = s[i++];
        }
    }
    return o;
}

}  // namespace

kxoPCX::kxoPCX(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoPCX");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoPCX::Reset() { FrameReset(); }

uint32_t kxoPCX::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t b[4] = {};  // bytes past a short file's end count as 0
    KXF_PeekHead(file, b, sizeof(b));
    return b[0] == 10 && b[1] <= 5 && b[2] <= 1 && b[3] <= 24 ? 1 : 0;
}

uint32_t kxoPCX::Load() { return KXF_Load(this, &kxoPCX::LoadBody); }

uint32_t kxoPCX::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t h[HEADER_SIZE];
    if (!r.bytes(h, sizeof(h))) return KXERR_EOF;
    auto le16 = [&](int at) { return (uint32_t)(h[at] | h[at + 1] << 8); };
    const uint32_t version = h[1], encoding = h[2], bits = h[3], planes = h[65];
    if (h[0] != 10) return KXERR_FILEREQUIREMENTS;
    if (version != 0 && version != 2 && version != 3 && version != 5) return KXERR_FILEREQUIREMENTS;
    if (encoding > 1) return KXERR_FILEREQUIREMENTS;
    const bool colours = version != 3;
    SubFormatId = 0;

    // Sizes in 16-bit arithmetic, as the fields are.
    const uint32_t w = (uint16_t)(le16(8) - le16(4) + 1);
    const uint32_t ht = (uint16_t)(le16(10) - le16(6) + 1);
    const uint32_t lineBytes = le16(66);
    uint32_t depth;
    if (bits == 1 && planes >= 1 && planes <= 4) depth = planes;
    else if (bits == 8 && (planes == 1 || planes == 3)) depth = 8 * planes;
    else return KXERR_FILEREQUIREMENTS;
    const bool planar = bits == 1;
    const uint32_t rowBytes = planar ? (w + 7) / 8 : w;
    // A line shorter than the row's pixels cannot hold them.
    if (lineBytes < rowBytes || w == 0 || ht == 0) return KXERR_FILEREQUIREMENTS;

    // What the rest of the file can yield at most: itself, or run-length
    // coded, 63 bytes for every 2. A short file still loads, its missing
    // rows blank, but not one that could not fill half its lines: a few
    // bytes never make hundreds of megabytes.
    uint32_t size = 0;
    uint32_t err = planar ? KXSUP_CheckSize(&size, rowBytes, ht, depth) : KXSUP_CheckSize(&size, w, ht, depth / 8);
    if (err != KXERR_NONE) return err;
    const uint64_t lines = (uint64_t)lineBytes * ht * (planar ? depth : depth / 8);
    const uint64_t most = encoding == 1 ? (r.remaining() + 1) / 2 * 63 : r.remaining();
    if (most < (lines + 1) / 2) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    err = KXF_NewImage(&img, planar ? BITPLANE : ONEPLANE, w, ht, depth, planar ? 0 : depth, true);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;

    if (depth <= 8) {
        const uint32_t n = 1u << depth;
        if (!colours) {
            fixedStepRamp(img->Palette, n);
        } else if (n <= 16) {
            memcpy(img->Palette, h + 16, 3 * n);
        } else if (r.size() - HEADER_SIZE >= 768) {
            // The 256-colour block closes the file; the byte before it is not examined.
            if (!r.seek(r.size() - 768) || !r.bytes(img->Palette, 768) || !r.seek(HEADER_SIZE)) return KXERR_EOF;
        } else {
            fixedStepRamp(img->Palette, n);  // no room for the block
        }
    }

    KXVecBlock line = KXF_AllocBlock(lineBytes * (depth == 24 ? 3 : 1));
    if (!line) return KXERR_NOMEMORY;
    std::unique_ptr<RleLines> rle;
    if (encoding == 1) {
        rle.reset(new (std::nothrow) RleLines(r));
        if (!rle) return KXERR_NOMEMORY;
    }
    auto planeLine = [&](uint8_t* out) {
        if (rle) rle->line(out, lineBytes);
        else rawLine(r, out, lineBytes);
    };

    uint8_t* l = line.get();
    for (uint32_t y = 0; y < ht; ++y) {
        if (rle ? rle->exhausted() : r.remaining() == 0) break;  // a short file costs no pass over the rest
        KXF_RowProgress(this, y, ht);
        if (planar) {
            for (uint32_t p = 0; p < depth; ++p) {
                planeLine(l);
                memcpy(img->Data + (uint64_t)img->BytesPerLine * (y + (uint64_t)ht * p), l, rowBytes);
            }
        } else if (depth == 8) {
            planeLine(l);
            memcpy(img->Data + (uint64_t)w * y, l, w);
        } else {
            for (uint32_t c = 0; c < 3; ++c) planeLine(l + (uint64_t)lineBytes * c);
            uint8_t* d = img->Data + (uint64_t)w * 3 * y;
            const uint8_t *rr = l, *gg = l + lineBytes, *bb = l + 2 * (uint64_t)lineBytes;
            for (uint32_t x = 0; x < w; ++x, d += 3) {
                d[0] = rr[x];
                d[1] = gg[x];
                d[2] = bb[x];
            }
        }
    }
    return KXERR_NONE;
}

uint32_t kxoPCX::Save() {
    if (IOMode != KXIO_FILE || !SaveBuffer) return KXERR_NOTSUPPORTED;
    KX_GfxBuffer* img = SaveBuffer;
    if (img->Type != BITPLANE && img->Type != ONEPLANE) return KXERR_NOTSUPPORTED;
    if (IsHamBuffer(img)) return KXERR_NOHAM;
    const uint32_t d = img->ColorDepth;
    if (!((d >= 1 && d <= 8) || d == 24)) return KXERR_NOTSUPPORTED;
    if (img->Type == ONEPLANE && (d <= 8) != (img->PixelBits == 8)) return KXERR_NOTSUPPORTED;
    if (d == 24 && img->Type != ONEPLANE) return KXERR_NOTSUPPORTED;
    if (!KXF_BufferIsConsistent(img)) return KXERR_INTERNALACCESS;
    // The header holds Xmax, Ymax and the line length in 16 bits.
    if (img->Width > 65535 || img->Height > 65535) return KXERR_FILEREQUIREMENTS;

    // Up to 4 bits: bit planes; 5 to 8: one byte a pixel. The copy stays
    // with the module until Reset.
    const bool planar = d <= 4;
    if (planar != (img->Type == BITPLANE)) {
        KX_GfxBuffer* copy = nullptr;
        uint32_t err = planar ? KXSUP_OnePlaneToBitPlane8(img, &copy) : KXSUP_BitPlaneToOnePlane8(img, &copy);
        if (err != KXERR_NONE) {
            if (copy) KXSUP_FreeGfxBuffer(copy);
            return err;
        }
        if (!copy) return KXERR_NOMEMORY;
        if (LoadedBuffer) KXSUP_FreeGfxBuffer(LoadedBuffer);
        LoadedBuffer = copy;
        img = copy;
    }
    const uint32_t w = img->Width, h = img->Height;
    const uint32_t lineBytes = planar ? img->BytesPerLine : w;
    if (lineBytes > 65535) return KXERR_FILEREQUIREMENTS;
    const uint32_t planes = planar ? 4 : d == 24 ? 3 : 1;

    // Everything is allocated before the file is opened: a zero line for
    // the unused planes, the encoded line and the 24-bit plane lines.
    KXVecBlock zero = KXF_AllocBlock(lineBytes, true);
    KXVecBlock out = KXF_AllocBlock((uint64_t)lineBytes * (d == 24 ? 3 : 2));
    if (!zero || !out) return KXERR_NOMEMORY;
    auto planeData = [&](uint32_t y, uint32_t p) -> const uint8_t* {
        if (!planar) return img->Data + (uint64_t)w * y;
        if (p >= d) return zero.get();
        return img->Data + (uint64_t)lineBytes * (y + (uint64_t)h * p);
    };

    // Run-length coded unless that exceeds one plane's raw size less a
    // row; 24-bit files are always raw. The first pass only counts, so
    // the file is written once.
    bool packed = false;
    if (d != 24) {
        const uint64_t limit = (uint64_t)(h - 1) * lineBytes;
        uint64_t total = 0;
        packed = true;
        for (uint32_t y = 0; y < h && packed; ++y)
            for (uint32_t p = 0; p < planes && packed; ++p) {
                total += encodeLine(planeData(y, p), lineBytes, out.get());
                if (total > limit) packed = false;
            }
    }

    uint8_t hd[HEADER_SIZE] = {};
    hd[0] = 10;
    hd[1] = planar ? 2 : 5;
    hd[2] = packed ? 1 : 0;
    hd[3] = planar ? 1 : 8;
    auto put16 = [&](int at, uint32_t v) {
        hd[at] = (uint8_t)v;
        hd[at + 1] = (uint8_t)(v >> 8);
    };
    put16(8, w - 1);
    put16(10, h - 1);
    put16(12, 1);
    put16(14, 1);
    if (planar) memcpy(hd + 16, img->Palette, 3u << d);
    hd[65] = (uint8_t)planes;
    put16(66, lineBytes);
    put16(68, 1);

    KXSafeFile sf;
    uint32_t err = KXF_OpenSave(this, &sf);
    if (err != KXERR_NONE) return err;
    KXByteWriter wr(WriteFile);
    wr.bytes(hd, sizeof(hd));
    for (uint32_t y = 0; y < h && wr.ok(); ++y) {
        KXF_RowProgress(this, y, h);
        if (d == 24) {
            const uint8_t* s = img->Data + (uint64_t)w * 3 * y;
            uint8_t* o = out.get();
            for (uint32_t x = 0; x < w; ++x, s += 3) {
                o[x] = s[0];
                o[w + x] = s[1];
                o[2 * (uint64_t)w + x] = s[2];
            }
            wr.bytes(o, (size_t)w * 3);
            continue;
        }
        for (uint32_t p = 0; p < planes; ++p) {
            if (packed) wr.bytes(out.get(), encodeLine(planeData(y, p), lineBytes, out.get()));
            else wr.bytes(planeData(y, p), lineBytes);
        }
    }
    if (!planar && d != 24) {
        wr.u8(12);
        wr.bytes(img->Palette, 768);
    }
    return KXF_EndSave(this, &sf, wr.ok() ? KXERR_NONE : KXERR_IO);
}
