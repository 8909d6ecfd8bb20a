// kxoTIFF's own strip reader: uncompressed data of 1 to 8, 16, 24, 32, 48
// or 64 bits a pixel and PackBits data of 1, 4 or 8 bits a sample, from the
// layout the pre-parser collected, without libtiff.
//
// Rows are read strip by strip straight from the file, so that a load
// needs the picture and at most one strip. A file that cannot hold one row
// is refused before the picture is allocated. Every read is bounded by the
// strip and the file: rows the file lacks (a truncated file) are zero, left
// as the cleared picture gives them, never written; a
// strip that starts outside the file, or PackBits data that runs past its
// strip, is an error (14). A PackBits run that ends beyond its row (TIFF
// forbids it, some writers do it) is cut at the row's end.
#include <cstring>

#include "core/files.h"
#include "core/gfxbuffer.h"
#include "core/log.h"
#include "core/memory.h"
#include "formats/libraries/kxlog_helpers.h"
#include "formats/libraries/kxoTIFF.h"

namespace {

const char* const kTag = "tiff";
const KXModuleLog kLog{kTag};

enum class Kind { Planes, Unpack, Copy8, Copy24, Rgba32, Grey16, Copy48, Rgba64, Nibbles };

// FillOrder 2 stores the bits of every byte in reverse.
struct BitReversal {
    uint8_t table[256];
    BitReversal() {
        for (int i = 0; i < 256; ++i) {
            uint8_t r = 0;
            for (int b = 0; b < 8; ++b) r |= (uint8_t)(((i >> b) & 1) << (7 - b));
            table[i] = r;
        }
    }
    void apply(uint8_t* p, uint64_t n) const {
        for (uint64_t i = 0; i < n; ++i) p[i] = table[p[i]];
    }
};
const BitReversal kReverse;

}  // namespace

// The reading state of one load.
struct KXTiffStrips {
    kxoTIFF& M;
    uint32_t Width, Height, Bits, Samples, Depth;
    bool Packbits, Big, Reversed;
    uint32_t RowsPerStrip;
    uint64_t RowBytes;  // one source row (of one plane with separate planes)
    // PackBits: the current strip's data.
    uint8_t* Strip = nullptr;
    uint64_t StripSize = 0, StripPos = 0;
    uint32_t StripIndex = 0xFFFFFFFFu;
    bool StripCut = false;  // the strip's data was cut short by the file's end
    bool Empty = false;     // the last row read had no data in the file at all
    bool ClearMissing = true;  // false: the target starts cleared
    // The plan of the load (plan, measure, chooseOutput).
    Kind Conversion = Kind::Planes;
    bool Separate = false;   // separate planes of more than one sample
    bool To8 = false;        // 16-bit grey made 8-bit
    uint32_t OutDepth = 0, PixelBits = 8, Type = ONEPLANE;
    size_t OutRow = 0, PlaneBytes = 0;  // the picture's row and bit plane

    explicit KXTiffStrips(kxoTIFF& m) : M(m) {}
    ~KXTiffStrips() { FreeVec(Strip); }

    // Where strip s lies: [begin, end) inside the file. 29 for the first
    // strip, 14 for any other, when it starts outside the file.
    uint32_t extent(uint32_t s, uint64_t expected, uint64_t* begin, uint64_t* end, bool* cut) {
        const uint64_t size = M.FileSize;
        const uint64_t at = M.StripOffsets[s];
        if (at >= size) return s == 0 ? KXERR_EOF : KXERR_DECODE;
        uint64_t want = expected;
        if (Packbits) {
            if (M.StripLengths && M.StripLengths[s]) {
                want = M.StripLengths[s];
            } else if (s + 1 < M.L.StripCount && M.StripOffsets[s + 1] > at) {
                want = M.StripOffsets[s + 1] - at;
            } else {
                want = size - at;
            }
        }
        *begin = at;
        *end = at + want;
        *cut = *end > size;
        if (*cut) *end = size;
        return KXERR_NONE;
    }

    // Rows y .. y + n - 1, all of one strip, as the file holds them
    // (uncompressed); what the file lacks is zero. plane: the sample plane
    // of a single strip of separate planes.
    uint32_t readRows(uint32_t y, uint32_t n, uint8_t* dst, uint32_t plane = 0) {
        const uint64_t bytes = RowBytes * n;
        const uint32_t s = y / RowsPerStrip;
        Empty = true;
        if (s >= M.L.StripCount) return KXERR_NONE;
        uint64_t begin, end;
        bool cut;
        const uint64_t inStrip = (uint64_t)RowsPerStrip * RowBytes * (M.L.Planar == 2 ? Samples : 1);
        if (uint32_t err = extent(s, inStrip, &begin, &end, &cut)) return err;
        const uint64_t from = begin + (uint64_t)plane * Height * RowBytes + (uint64_t)(y % RowsPerStrip) * RowBytes;
        uint64_t got = 0;
        if (from < end) {
            const uint64_t n2 = end - from < bytes ? end - from : bytes;
            if (fseeko(M.ReadFile, (off_t)from, SEEK_SET) != 0) return KXERR_EOF;
            got = fread(dst, 1, n2, M.ReadFile);
            if (Reversed) kReverse.apply(dst, got);
        }
        // What the file lacks is zero. Read straight into the picture, which
        // starts cleared, rows without any data are left untouched.
        if (got < bytes && (got > 0 || ClearMissing)) memset(dst + got, 0, bytes - got);
        Empty = got == 0;
        return KXERR_NONE;
    }

    // Bytes of strip data the file really holds, each strip bounded by its
    // length and the file's end (uncompressed strips by their rows).
    uint64_t held() {
        const uint64_t inStrip = (uint64_t)RowsPerStrip * RowBytes * (M.L.Planar == 2 ? Samples : 1);
        uint64_t total = 0;
        for (uint32_t s = 0; s < M.L.StripCount; ++s) {
            uint64_t begin, end;
            bool cut;
            if (extent(s, inStrip, &begin, &end, &cut) == KXERR_NONE && end > begin) total += end - begin;
        }
        return total;
    }

    // One PackBits row of RowBytes into dst.
    uint32_t packbitsRow(uint32_t y, uint8_t* dst) {
        const uint32_t s = y / RowsPerStrip;
        Empty = true;
        if (s >= M.L.StripCount) return KXERR_NONE;
        Empty = false;
        if (s != StripIndex) {
            uint64_t begin, end;
            bool cut;
            if (uint32_t err = extent(s, 0, &begin, &end, &cut)) return err;
            uint32_t size = 0;
            if (uint32_t err = KXSUP_CheckSize(&size, end - begin)) return err;
            FreeVec(Strip);
            Strip = static_cast<uint8_t*>(AllocVec(size ? size : 1, MEMF_ANY));
            if (!Strip) return KXERR_NOMEMORY;
            if (fseeko(M.ReadFile, (off_t)begin, SEEK_SET) != 0) return KXERR_EOF;
            StripSize = fread(Strip, 1, size, M.ReadFile);
            if (Reversed) kReverse.apply(Strip, StripSize);
            StripCut = cut || StripSize < size;
            StripPos = 0;
            StripIndex = s;
        }
        uint64_t out = 0;
        while (out < RowBytes) {
            if (StripPos >= StripSize) {
                // A file cut short ends in zero pixels; a strip that claims
                // fewer bytes than its rows need is damaged.
                if (!StripCut) return KXERR_DECODE;
                memset(dst + out, 0, RowBytes - out);
                Empty = out == 0;
                return KXERR_NONE;
            }
            const uint8_t c = Strip[StripPos++];
            if (c < 128) {
                const uint64_t n = (uint64_t)c + 1;
                if (StripPos + n > StripSize && !StripCut) return KXERR_DECODE;
                const uint64_t have = StripSize - StripPos < n ? StripSize - StripPos : n;
                const uint64_t keep = RowBytes - out < have ? RowBytes - out : have;
                memcpy(dst + out, Strip + StripPos, keep);
                out += keep;
                StripPos += have;
            } else if (c > 128) {
                if (StripPos >= StripSize) {
                    if (!StripCut) return KXERR_DECODE;
                    continue;
                }
                const uint64_t n = 257u - c;
                const uint64_t keep = RowBytes - out < n ? RowBytes - out : n;
                memset(dst + out, Strip[StripPos++], keep);
                out += keep;
            }
        }
        return KXERR_NONE;
    }

    uint32_t row(uint32_t y, uint8_t* dst) { return Packbits ? packbitsRow(y, dst) : readRows(y, 1, dst); }

    uint32_t plan(const KXTiffLayout& l);
    void measure(const KXTiffLayout& l);
    bool holdsARow();
    void chooseOutput(bool to8);
    uint32_t readPicture(KX_GfxBuffer* b, uint8_t** alphaOut);
    void convertRow(KX_GfxBuffer* b, uint32_t y, const uint8_t* src, uint8_t* alpha);
    uint32_t setPalette(KX_GfxBuffer* b);
};

// The row conversion the layout takes, with the checks that come before any
// reading: 15 for a layout the own reader does not know, 29 without strips.
uint32_t KXTiffStrips::plan(const KXTiffLayout& l) {
    const uint32_t T = l.BitsPerSample, spp = l.SamplesPerPixel ? l.SamplesPerPixel : 1;
    const uint64_t D64 = (uint64_t)T * spp;
    if (l.Photometric > 3 || (l.Photometric == 3 && D64 > 8) || (l.Planar == 2 && l.StripCount > 1) ||
        (l.Compression != 1 && l.Compression != 32773) || D64 > 64 || T == 0)
        return KXERR_FILEREQUIREMENTS;
    const uint32_t D = (uint32_t)D64;
    const bool packbits = l.Compression == 32773;
    const bool separate = l.Planar == 2 && spp > 1;

    Kind kind;
    if (T == 1 && D <= 8)
        kind = Kind::Planes;
    else if (!packbits && T >= 2 && T <= 7 && D == T)
        kind = Kind::Unpack;
    else if (packbits && T == 4 && D == 4)
        kind = Kind::Nibbles;
    else if (T == 8 && D == 8)
        kind = Kind::Copy8;
    else if (T == 8 && D == 24)
        kind = Kind::Copy24;
    else if (!packbits && T == 8 && D == 32)
        kind = Kind::Rgba32;
    else if (!packbits && T == 16 && D == 16)
        kind = Kind::Grey16;
    else if (!packbits && T == 16 && D == 48)
        kind = Kind::Copy48;
    else if (!packbits && T == 16 && D == 64)
        kind = Kind::Rgba64;
    else
        return KXERR_FILEREQUIREMENTS;
    // Separate planes only as whole bytes.
    if (separate && T != 8 && T != 16) return KXERR_FILEREQUIREMENTS;
    if (l.StripCount == 0 || !M.StripOffsets) return KXERR_EOF;
    if (l.Width == 0 || l.Height == 0) return KXERR_FILEREQUIREMENTS;
    Conversion = kind;
    Bits = T;
    Samples = spp;
    Depth = D;
    Packbits = packbits;
    Separate = separate;
    return KXERR_NONE;
}

// The rows' geometry in the file.
void KXTiffStrips::measure(const KXTiffLayout& l) {
    Width = l.Width;
    Height = l.Height;
    Big = l.BigEndian;
    Reversed = l.FillOrder == 2;
    RowsPerStrip = l.StripCount < 2 || !l.HasRowsPerStrip || l.RowsPerStrip == 0 || l.RowsPerStrip > l.Height
                       ? l.Height
                       : l.RowsPerStrip;
    const uint64_t W = l.Width;
    if (Conversion == Kind::Planes)
        RowBytes = Depth * ((W + 7) / 8);
    else if (Separate)
        RowBytes = W * (Bits / 8);
    else
        RowBytes = (W * Depth + 7) / 8;
}

// A file that cannot hold one row of the picture it declares holds nothing
// of it: refused before the picture is allocated. One that holds less than
// all rows (a cut file) loads what it holds; the rest stays zero without
// being touched. A PackBits row takes at least two bytes for every 128 it
// gives.
bool KXTiffStrips::holdsARow() {
    const uint64_t row = RowBytes * (Separate ? Samples : 1);
    const uint64_t least = Packbits ? (row + 127) / 128 * 2 : row;
    return held() >= least;
}

// The picture the conversion gives.
void KXTiffStrips::chooseOutput(bool to8) {
    To8 = to8;
    OutDepth = Depth;
    PixelBits = 8;
    Type = ONEPLANE;
    switch (Conversion) {
        case Kind::Planes: Type = BITPLANE; break;
        case Kind::Copy24: case Kind::Rgba32: OutDepth = 24; PixelBits = 24; break;
        case Kind::Grey16: OutDepth = to8 ? 8 : 48; PixelBits = OutDepth; break;
        case Kind::Copy48: case Kind::Rgba64: OutDepth = 48; PixelBits = 48; break;
        case Kind::Nibbles: OutDepth = 4; break;
        default: break;
    }
}

// Every row into the picture b (allocated cleared); the alpha channel of
// RGBA layouts into *alphaOut. On an error nothing is left in *alphaOut.
uint32_t KXTiffStrips::readPicture(KX_GfxBuffer* b, uint8_t** alphaOut) {
    const uint64_t W = Width, H = Height;
    const uint32_t T = Bits, spp = Samples;
    uint32_t err = KXERR_NONE;
    uint8_t* rowBuffer = nullptr;
    uint32_t rowSize = 0;
    const bool direct = !Separate && !Packbits &&
                        (Conversion == Kind::Copy8 || Conversion == Kind::Copy24 || Conversion == Kind::Copy48);
    ClearMissing = !direct;
    if (!direct) {
        err = KXSUP_CheckSize(&rowSize, RowBytes * (Separate ? spp : 1));
        if (!err && !(rowBuffer = static_cast<uint8_t*>(AllocVec(rowSize ? rowSize : 1, MEMF_CLEAR)))) err = KXERR_NOMEMORY;
    }
    uint8_t* alpha = nullptr;
    if (!err && (Conversion == Kind::Rgba32 || Conversion == Kind::Rgba64)) {
        uint32_t alphaSize = 0;
        err = KXSUP_CheckSize(&alphaSize, W, H, T / 8);
        if (!err && !(alpha = static_cast<uint8_t*>(AllocVec(alphaSize, MEMF_CLEAR)))) err = KXERR_NOMEMORY;
    }

    OutRow = Type == BITPLANE ? b->BytesPerLine : (size_t)W * (PixelBits / 8);
    PlaneBytes = Type == BITPLANE ? (size_t)b->BytesPerLine * H : 0;
    for (uint32_t y = 0; y < H && !err;) {
        uint8_t* dst = b->Data + (size_t)y * OutRow;
        if (direct) {
            // Runs of up to 64 rows of one strip, straight into the picture.
            if (M.ProgressHook) M.ReportProgress((uint32_t)((uint64_t)y * 100 / H));
            const uint32_t inStrip = RowsPerStrip - y % RowsPerStrip;
            uint32_t n = (uint32_t)(H - y) < inStrip ? (uint32_t)(H - y) : inStrip;
            if (n > 64) n = 64;
            err = readRows(y, n, dst);
            y += n;
            continue;
        }
        if ((y & 7) == 0 && M.ProgressHook) M.ReportProgress((uint32_t)((uint64_t)y * 100 / H));
        bool empty = true;
        if (Separate) {
            for (uint32_t p = 0; p < spp && !err; ++p) {
                err = readRows(y, 1, rowBuffer + p * RowBytes, p);
                empty = empty && Empty;
            }
        } else {
            err = row(y, rowBuffer);
            empty = Empty;
        }
        if (err) break;
        // Rows past the file's data (a cut file) stay zero, untouched.
        if (!empty) convertRow(b, y, rowBuffer, alpha);
        ++y;
    }
    FreeVec(rowBuffer);
    if (err) {
        FreeVec(alpha);
        return err;
    }
    *alphaOut = alpha;
    return KXERR_NONE;
}

// Source row y (as the file holds it) into the picture's row y.
void KXTiffStrips::convertRow(KX_GfxBuffer* b, uint32_t y, const uint8_t* src, uint8_t* alpha) {
    const uint64_t W = Width;
    const uint32_t T = Bits, spp = Samples, D = Depth;
    const bool separate = Separate;
    uint8_t* dst = b->Data + (size_t)y * OutRow;
    // Sample k of pixel x, wherever the layout puts it.
    const uint32_t sb = T / 8;
    auto at = [&](uint64_t x, uint32_t k) -> const uint8_t* {
        return separate ? src + k * RowBytes + x * sb : src + (x * spp + k) * sb;
    };
    switch (Conversion) {
        case Kind::Planes:
            // Each source row holds its plane rows one after another.
            for (uint32_t k = 0; k < D; ++k) memcpy(b->Data + PlaneBytes * k + (size_t)y * OutRow, src + k * OutRow, OutRow);
            break;
        case Kind::Unpack:
            for (uint64_t x = 0; x < W; ++x) {
                const uint64_t bit = x * T;
                const uint32_t word = (uint32_t)(src[bit / 8] << 8 | (bit / 8 + 1 < RowBytes ? src[bit / 8 + 1] : 0));
                dst[x] = (uint8_t)((word >> (16 - T - bit % 8)) & ((1u << T) - 1));
            }
            break;
        case Kind::Nibbles:
            for (uint64_t x = 0; x < W; ++x) dst[x] = (uint8_t)(x & 1 ? src[x / 2] & 15 : src[x / 2] >> 4);
            break;
        case Kind::Copy8:
        case Kind::Copy24:
        case Kind::Copy48:
            if (!separate) {
                memcpy(dst, src, OutRow);
            } else {
                for (uint64_t x = 0; x < W; ++x)
                    for (uint32_t k = 0; k < 3; ++k) memcpy(dst + (x * 3 + k) * sb, at(x, k), sb);
            }
            break;
        case Kind::Rgba32:
        case Kind::Rgba64: {
            uint8_t* a = alpha + (size_t)y * W * sb;
            for (uint64_t x = 0; x < W; ++x) {
                for (uint32_t k = 0; k < 3; ++k) memcpy(dst + (x * 3 + k) * sb, at(x, k), sb);
                memcpy(a + x * sb, at(x, 3), sb);
            }
            break;
        }
        case Kind::Grey16:
            for (uint64_t x = 0; x < W; ++x) {
                const uint8_t* s = src + x * 2;
                if (To8) {
                    const uint32_t v = Big ? (uint32_t)(s[0] << 8 | s[1]) : (uint32_t)(s[1] << 8 | s[0]);
                    dst[x] = (uint8_t)(v / 257);
                } else {
                    for (int k = 0; k < 3; ++k) memcpy(dst + x * 6 + k * 2, s, 2);
                }
            }
            break;
    }
}

// The palette of pictures of up to 8 bits (and of 16-bit grey made 8-bit):
// the file's colour map, or a grey ramp. 14 when the map cannot be read.
uint32_t KXTiffStrips::setPalette(KX_GfxBuffer* b) {
    const KXTiffLayout& l = M.L;
    if (OutDepth > 8) return KXERR_NONE;
    const uint32_t n = To8 ? 256 : 1u << Depth;
    if (l.HasColorMap && !To8) {
        kLog.text(2, "TIFF unpack: colormap reading");
        // 3 x n 16-bit values; the high byte of each is the colour.
        const uint64_t bytes = 6ull * n;
        uint8_t map[6 * 256];
        if ((uint64_t)l.ColorMapOffset + bytes > M.FileSize || fseeko(M.ReadFile, l.ColorMapOffset, SEEK_SET) != 0 ||
            fread(map, 1, bytes, M.ReadFile) != bytes)
            return KXERR_DECODE;
        for (uint32_t c = 0; c < 3; ++c)
            for (uint32_t i = 0; i < n; ++i) b->Palette[i * 3 + c] = map[(c * n + i) * 2 + (l.BigEndian ? 0 : 1)];
        return KXERR_NONE;
    }
    kLog.text(2, "TIFF unpack: colormap generation");
    uint8_t* p = b->Palette;
    const uint32_t step = 256 / n;
    if (l.Photometric == 1 || To8) {
        memset(p + 3, 255, 3);
        if (n > 2) {
            for (uint32_t i = 0; i < 256; ++i) memset(p + i * 3, (uint8_t)(i * step), 3);
            memset(p + (n - 1) * 3, 255, 3);
        }
    } else {
        if (l.Photometric == 0) memset(p, 255, 3);
        if (n > 2) {
            for (uint32_t i = 0; i < 256; ++i) memset(p + i * 3, (uint8_t)((255 - i) * step), 3);
            memset(p + (n - 1) * 3, 0, 3);
        }
    }
    if (l.Photometric <= 1) KXSUP_AddGfxBufferFlags(b, KXGFXF_GRAY, 1);
    return KXERR_NONE;
}

// The own strip reader: plan the conversion, refuse a file without one
// whole row, read and convert every row, then the palette.
uint32_t kxoTIFF::LoadTIFFInternal(KX_GfxBuffer** out) {
    *out = nullptr;
    kLog.text(4, "TIFF unpack: entered");
    KXTiffStrips st(*this);
    if (uint32_t err = st.plan(L)) return err;
    st.measure(L);
    kLog.text(4, L.StripCount < 2 ? "TIFF unpack: single strip" : "TIFF unpack: several strips");
    kLog.text(2, st.Packbits ? "TIFF unpack: packbits 1-24 bit handler" : "TIFF unpack: uncompressed 1-48 bit handler");
    if (!st.holdsARow()) {
        kLog.text(2, "TIFF unpack: the file holds no complete row");
        return KXERR_EOF;
    }
    st.chooseOutput(st.Conversion == Kind::Grey16 && keyIs("GRAYDEPTH16", "8"));

    KX_GfxBuffer* b = nullptr;
    uint32_t err = KXF_NewImage(&b, st.Type, L.Width, L.Height, st.OutDepth, st.PixelBits, true);
    if (err) return err;
    uint8_t* alpha = nullptr;
    err = st.readPicture(b, &alpha);
    if (!err && alpha) {
        KXSUP_SetGfxBufferVersion(b, 3);
        b->AlphaType = st.Bits == 16 ? KXALPHA_CHANNEL16 : KXALPHA_CHANNEL8;
        b->AlphaData = alpha;
    }
    if (!err) err = st.setPalette(b);
    if (err) {
        KXSUP_FreeGfxBuffer(b);
        kLog.text(4, "TIFF unpack: finished with error");
        return err;
    }
    if (st.Conversion == Kind::Grey16) KXSUP_AddGfxBufferFlags(b, KXGFXF_GRAY, 1);
    // 16-bit samples stay in the file's byte order, and say so.
    if (st.OutDepth == 48) KXSUP_SetGfxBufferEndianess(b, L.BigEndian ? KXGFXF_MM : KXGFXF_II);
    kLog.text(4, "TIFF unpack: finished without error");
    *out = b;
    return KXERR_NONE;
}
