// kxoIMG: GEM bit images (see kxoIMG.h).
#include "formats/raster/kxoIMG.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

const uint32_t SUB_HS16 = 0, SUB_HS18 = 1, SUB_XIMG = 2;  // ids as registered
const uint32_t MAX_BIT_STRING = 127;

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

VecPtr allocBytes(uint64_t size, uint32_t* err) {
    uint32_t n = 0;
    *err = KXSUP_CheckSize(&n, size ? size : 1);
    if (*err != KXERR_NONE) return nullptr;
    VecPtr p(static_cast<uint8_t*>(AllocVec(n, MEMF_CLEAR)));
    if (!p) *err = KXERR_NOMEMORY;
    return p;
}

// The fixed palettes of the 9-word header, by the file's pixel value.
const uint8_t FIXED_1[2][3] = {{240, 240, 240}, {0, 0, 0}};
const uint8_t FIXED_2[4][3] = {{240, 240, 240}, {240, 0, 0}, {0, 240, 0}, {0, 0, 0}};
const uint8_t FIXED_3[8][3] = {{240, 240, 240}, {240, 0, 0}, {0, 240, 0}, {240, 240, 0},
                               {0, 0, 240},     {240, 0, 240}, {0, 240, 240}, {0, 0, 0}};
const uint8_t FIXED_4[16][3] = {{240, 240, 240}, {240, 0, 0},   {0, 240, 0},   {240, 240, 0}, {0, 0, 240},   {240, 0, 240},
                                {0, 240, 240},   {176, 176, 176}, {80, 80, 80}, {176, 0, 0},   {0, 176, 0},   {176, 176, 0},
                                {0, 0, 176},     {176, 0, 176},   {0, 176, 176}, {0, 0, 0}};

// Planar data are held inverted, so the colour of the file's pixel value v
// belongs to the picture's index n - 1 - v.
void putFileColour(uint8_t* palette, uint32_t n, uint32_t v, const uint8_t* rgb) { memcpy(palette + 3 * (n - 1 - v), rgb, 3); }

// Entry k = k x (256 / n), the last white: black for the inverted 0 bits.
void greyRamp(uint8_t* palette, uint32_t n) {
    for (uint32_t k = 0; k < n; ++k) memset(palette + 3 * k, (int)(k * (256 / n)), 3);
    memset(palette + 3 * (n - 1), 255, 3);
}

void fixedPalette(uint8_t* palette, uint32_t planes) {
    const uint32_t n = 1u << planes;
    const uint8_t(*table)[3] = planes == 1 ? FIXED_1 : planes == 2 ? FIXED_2 : planes == 3 ? FIXED_3 : planes == 4 ? FIXED_4 : nullptr;
    if (table) {
        for (uint32_t v = 0; v < n; ++v) putFileColour(palette, n, v, table[v]);
    } else if (planes == 8) {
        // 255 minus the value with its bits in reverse order.
        for (uint32_t v = 0; v < 256; ++v) {
            uint32_t rev = 0;
            for (int b = 0; b < 8; ++b) rev |= ((v >> b) & 1u) << (7 - b);
            const uint8_t g[3] = {(uint8_t)(255 - rev), (uint8_t)(255 - rev), (uint8_t)(255 - rev)};
            putFileColour(palette, n, v, g);
        }
    } else {
        greyRamp(palette, n);
    }
}

// The packed items of the pixel data. A row is read until at least length
// bytes are produced; what a run brings past the row's end is dropped.
// unit is 3 for true-colour pixels (counts count pixels), else 1.
class ItemReader {
public:
    ItemReader(const uint8_t* data, uint64_t size, uint32_t patternLength, uint32_t unit)
        : Data(data), Size(size), Pattern((uint64_t)patternLength * unit), Unit(unit) {}

    // False when the data end before the row is complete.
    bool Row(uint8_t* out, uint64_t length, uint32_t* repeat) {
        uint64_t done = 0;
        auto copy = [&](const uint8_t* s, uint64_t n) {
            const uint64_t k = n < length - done ? n : length - done;
            memcpy(out + done, s, (size_t)k);
            done += k;
        };
        auto fill = [&](uint8_t v, uint64_t n) {
            const uint64_t k = n < length - done ? n : length - done;
            memset(out + done, v, (size_t)k);
            done += k;
        };
        while (done < length) {
            if (At >= Size) return false;
            const uint8_t b = Data[At++];
            if (b == 0x00) {
                if (At >= Size) return false;
                const uint32_t n = Data[At++];
                if (n == 0) {
                    // Scanline run: 0x00 0x00 0xFF count.
                    if (Size - At < 2) return false;
                    *repeat = Data[At + 1];
                    At += 2;
                    continue;
                }
                if (Size - At < Pattern) return false;
                for (uint32_t i = 0; i < n && done < length && Pattern; ++i) copy(Data + At, Pattern);
                At += Pattern;
            } else if (b == 0x80) {
                if (At >= Size) return false;
                const uint64_t n = (uint64_t)Data[At++] * Unit;
                if (Size - At < n) return false;
                copy(Data + At, n);
                At += n;
            } else {
                fill(b & 0x80 ? 0xFF : 0x00, (uint64_t)(b & 0x7F) * Unit);
            }
        }
        return true;
    }

private:
    const uint8_t* Data;
    uint64_t Size, Pattern, At = 0;
    uint32_t Unit;
};

// The 8 x 8 bit matrix in a word turned over its diagonal: row 0 is the top
// byte, column 0 each byte's top bit (Hacker's Delight, 7-3). Eight pixels'
// bytes of one channel become the eight plane bytes of that channel (the
// plane of bit k in byte k), and back.
uint64_t transpose8(uint64_t x) {
    uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    return x ^ t ^ (t << 28);
}

}  // namespace

kxoIMG::kxoIMG(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoIMG");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoIMG::Reset() { FrameReset(); }

uint32_t kxoIMG::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t h[20] = {};
    const size_t n = KXF_PeekHead(file, h, sizeof(h));
    if (n < 4) return 0;
    const uint32_t version = h[0] << 8 | h[1], words = h[2] << 8 | h[3];
    if (version != 1 && version != 2) return 0;
    if (words == 8 || words == 9) return 1;
    return n == sizeof(h) && memcmp(h + 16, "XIMG", 4) == 0 ? 1 : 0;
}

uint32_t kxoIMG::Load() { return KXF_Load(this, &kxoIMG::LoadBody); }

uint32_t kxoIMG::LoadBody() {
    KXByteReader r(ReadFile);
    uint16_t h[8];
    for (uint16_t& word : h) word = r.be16();
    if (!r.ok()) return KXERR_EOF;
    const uint32_t version = h[0], words = h[1], planes = h[2], patternLength = h[3], w = h[6], ht = h[7];
    bool trueColour = false, fixed = false, filePalette = false;
    if (words == 8) {
        KXF_Log(this, 2, "img", "header size 16\n");
        if (version > 1) return KXERR_FILEREQUIREMENTS;
        SubFormatId = SubFormatIds[SUB_HS16];
    } else if (words == 9) {
        KXF_Log(this, 2, "img", "header size 18\n");
        if (version > 1) return KXERR_FILEREQUIREMENTS;
        const uint32_t flag = r.be16();
        if (!r.ok()) return KXERR_EOF;
        if (flag == 3) trueColour = true;
        else if (flag <= 1) fixed = true;
        else return KXERR_FILEREQUIREMENTS;
        SubFormatId = SubFormatIds[SUB_HS18];
    } else {
        KXF_Log(this, 2, "img", "header size 16+6 assumed (XIMG/STTT/... check)\n");
        char magic[4];
        r.bytes(magic, 4);
        const uint32_t model = r.be16();
        if (!r.ok()) return KXERR_EOF;
        if (memcmp(magic, "XIMG", 4) != 0 || (version <= 2 && words < 11)) return KXERR_FILEREQUIREMENTS;
        SubFormatId = SubFormatIds[SUB_XIMG];
        KXF_Log(this, 2, "img", "XIMG magic found\n");
        if (model == 0) {
            filePalette = true;
            KXF_Log(this, 2, "img", "color palette flagged\n");
        }
    }
    const uint32_t depth = trueColour ? 24 : planes;
    KXF_Log(this, 2, "img", "%ld x %ld x %ld\n", (long)w, (long)ht, (long)depth);
    if (depth == 0 || (depth > 8 && depth != 24)) return KXERR_FILEREQUIREMENTS;
    KXF_Log(this, 2, "img", depth == 24 ? "truecolor\n" : "palette/gray\n");
    const bool planar = depth <= 8;
    if (depth == 24) filePalette = fixed = false;

    // The least pixel data the rows can take: one decoded row stands for
    // at most 255 (a scanline run), and every item of a plane's row is at
    // least a byte that brings at most a solid run (127 bytes, or pixels
    // in true colour) or 255 patterns. A file too short for that ends
    // here, before the picture is allocated (after the size checks, whose
    // codes come first; a file without pixel data keeps its own code).
    uint32_t err = planar ? KXSUP_CheckSize(nullptr, ((uint64_t)w + 7) / 8, ht, depth) : KXSUP_CheckSize(nullptr, w, ht, 3);
    if (err != KXERR_NONE) return err;
    {
        const uint64_t unit = trueColour ? 3 : 1, pattern = (uint64_t)patternLength * unit;
        const uint64_t perItem = std::max<uint64_t>(127 * unit, 255 * pattern);
        const uint64_t planeRow = trueColour ? (uint64_t)w * 3 : ((uint64_t)w + 7) / 8;
        const uint64_t least = ((uint64_t)ht + 254) / 255 * (trueColour ? 1 : depth) * ((planeRow + perItem - 1) / perItem);
        const uint64_t start = 2ull * words;
        if (r.size() > start && r.size() - start < least) return KXERR_EOF;
    }

    KX_GfxBuffer* img = nullptr;
    err = KXF_NewImage(&img, planar ? BITPLANE : ONEPLANE, w, ht, depth, planar ? 0 : 24, true);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    if (planar) {
        const uint32_t n = 1u << depth;
        if (filePalette) {
            // Entries of three words in thousandths, by the file's pixel value.
            if (!r.seek(22)) return KXERR_EOF;
            for (uint32_t v = 0; v < n; ++v) {
                uint8_t rgb[3];
                for (uint8_t& c : rgb) {
                    const uint32_t t = r.be16();
                    c = (uint8_t)(t >= 1000 ? 255 : t * 255 / 1000);
                }
                putFileColour(img->Palette, n, v, rgb);
            }
            if (!r.ok()) return KXERR_EOF;
        } else if (fixed) {
            fixedPalette(img->Palette, depth);
        } else {
            greyRamp(img->Palette, n);
        }
    }

    // The pixel data, read whole. A file that ends in its header leaves
    // nothing to read.
    const uint64_t start = 2ull * words;
    if (r.size() <= start) return KXERR_NOMEMORY;
    const uint64_t dataSize = r.size() - start;
    VecPtr data = allocBytes(dataSize, &err);
    if (!data) return err;
    if (!r.seek(start) || !r.bytes(data.get(), (size_t)dataSize)) return KXERR_EOF;

    // One row of every plane (or of blue, green, red pixels) at a time.
    const uint64_t rowBytes = ((uint64_t)w + 7) / 8;
    const uint32_t rowPlanes = trueColour ? 1 : depth;
    const uint64_t rowLength = trueColour ? (uint64_t)w * 3 : rowBytes;
    VecPtr row = allocBytes(rowLength * rowPlanes, &err);
    if (!row) return err;
    ItemReader items(data.get(), dataSize, patternLength, trueColour ? 3 : 1);
    const uint64_t planeBytes = (uint64_t)img->BytesPerLine * ht, rgbRow = (uint64_t)w * 3;
    for (uint32_t y = 0; y < ht;) {
        if (!trueColour) KXF_RowProgress(this, y, ht);
        uint32_t repeat = 1;
        for (uint32_t p = 0; p < rowPlanes; ++p)
            if (!items.Row(row.get() + p * rowLength, rowLength, &repeat)) return KXERR_EOF;
        uint8_t* first;
        uint64_t stride, length;
        if (trueColour) {
            // Blue, green, red as they stand.
            first = img->Data + y * rgbRow;
            const uint8_t* s = row.get();
            for (uint32_t x = 0; x < w; ++x, s += 3) {
                first[3 * x] = s[2];
                first[3 * x + 1] = s[1];
                first[3 * x + 2] = s[0];
            }
            stride = length = rgbRow;
        } else if (depth == 24) {
            uint8_t* planes24 = row.get();
            for (uint64_t i = 0; i < rowBytes * 24; ++i) planes24[i] = (uint8_t)~planes24[i];
            first = img->Data + y * rgbRow;
            Planes24ToChunky(planes24, rowBytes, first, w);
            stride = length = rgbRow;
        } else {
            first = img->Data + (uint64_t)y * img->BytesPerLine;
            for (uint32_t p = 0; p < depth; ++p) {
                const uint8_t* s = row.get() + p * rowLength;
                uint8_t* d = first + p * planeBytes;
                for (uint64_t j = 0; j < rowBytes; ++j) d[j] = (uint8_t)~s[j];
            }
            stride = img->BytesPerLine;
            length = rowBytes;
        }
        // A scanline run repeats the row; never past the last one.
        const uint32_t count = repeat ? repeat : 1;
        uint32_t k = 1;
        for (; k < count && y + k < ht; ++k)
            for (uint32_t p = 0; p < (planar ? depth : 1); ++p)
                memcpy(first + p * planeBytes + k * stride, first + p * planeBytes, (size_t)length);
        y += k;
    }
    if (planar && !fixed && !filePalette) return KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
    if (planar && fixed && depth <= 4) return KXSUP_AddGfxBufferFlags(img, KXGFXF_SRCLOWDEPTH, 1);
    return KXERR_NONE;
}

void kxoIMG::Planes24ToChunky(const uint8_t* planes, uint64_t rowBytes, uint8_t* rgb, uint32_t width) {
    for (uint64_t j = 0; j < rowBytes; ++j) {
        const uint32_t n = width - 8 * j < 8 ? (uint32_t)(width - 8 * j) : 8;  // pixels in this byte
        for (uint32_t c = 0; c < 3; ++c) {
            uint64_t t = 0;
            for (uint32_t k = 0; k < 8; ++k) t |= (uint64_t)planes[(8 * c + k) * rowBytes + j] << (8 * k);
            const uint64_t x = transpose8(t);
            for (uint32_t i = 0; i < n; ++i) rgb[3 * (8 * j + i) + c] |= (uint8_t)(x >> (56 - 8 * i));
        }
    }
}

void kxoIMG::ChunkyToPlanes24(const uint8_t* rgb, uint8_t* planes, uint64_t rowBytes, uint32_t width) {
    for (uint64_t j = 0; j < rowBytes; ++j) {
        const uint32_t n = width - 8 * j < 8 ? (uint32_t)(width - 8 * j) : 8;
        for (uint32_t c = 0; c < 3; ++c) {
            uint64_t x = 0;
            for (uint32_t i = 0; i < n; ++i) x |= (uint64_t)rgb[3 * (8 * j + i) + c] << (56 - 8 * i);
            const uint64_t t = transpose8(x);
            for (uint32_t k = 0; k < 8; ++k) planes[(8 * c + k) * rowBytes + j] |= (uint8_t)(t >> (8 * k));
        }
    }
}

uint32_t kxoIMG::Save() {
    if (IOMode != KXIO_FILE || !SaveBuffer) return KXERR_NOTSUPPORTED;
    // Every sub-format is written as XIMG, the one variant that keeps the
    // palette: the save list preselects the first ("(HS 16)"), and a plain
    // header would turn a colour picture into a grey ramp.
    const KX_GfxBuffer* src = SaveBuffer;
    if (src->Type != ONEPLANE && src->Type != BITPLANE) return KXERR_NOTSUPPORTED;
    if (IsHamBuffer(src)) return KXERR_NOHAM;
    if (!KXF_BufferIsConsistent(src)) return KXERR_INTERNALACCESS;
    const uint32_t depth = src->ColorDepth, w = src->Width, ht = src->Height;
    // Width, height and the header length are 16-bit words.
    if (w > 65535 || ht > 65535) return KXERR_FILEREQUIREMENTS;
    const bool rgb = depth == 24 && src->Type == ONEPLANE && src->PixelBits == 24;
    if (depth == 0 || (depth > 8 && !rgb)) return KXERR_FILEREQUIREMENTS;
    if (!rgb && src->Type == ONEPLANE) {
        KX_GfxBuffer* copy = nullptr;
        uint32_t err = KXSUP_OnePlaneToBitPlane8(src, &copy);
        if (err != KXERR_NONE) {
            KXSUP_FreeGfxBuffer(copy);
            return err;
        }
        if (!copy) return KXERR_NOMEMORY;
        KXSUP_FreeGfxBuffer(LoadedBuffer);
        LoadedBuffer = copy;
        src = copy;
    }
    const uint32_t planes = rgb ? 24 : depth;
    const uint32_t colours = rgb ? 0 : 1u << depth;
    const uint64_t rowBytes = ((uint64_t)w + 7) / 8;
    // Each plane row as bit strings of at most 127 bytes, with two bytes
    // in front of each.
    const uint64_t packedRow = rowBytes + 2 * ((rowBytes + MAX_BIT_STRING - 1) / MAX_BIT_STRING);
    uint32_t err = KXERR_NONE;
    VecPtr out = allocBytes(packedRow * planes, &err);
    if (!out) return err;
    VecPtr planes24;
    if (rgb && !(planes24 = allocBytes(rowBytes * 24, &err))) return err;

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter wr(WriteFile);
    wr.be16(1);
    wr.be16((uint16_t)(11 + 3 * colours));
    wr.be16((uint16_t)planes);
    wr.be16(1);  // pattern length
    wr.be16(85);
    wr.be16(85);  // pixel size in micrometres
    wr.be16((uint16_t)w);
    wr.be16((uint16_t)ht);
    wr.bytes("XIMG", 4);
    wr.be16(0);  // RGB palette
    // The palette by the file's pixel value: the picture's index in reverse.
    for (uint32_t v = 0; v < colours; ++v)
        for (int c = 0; c < 3; ++c) wr.be16((uint16_t)(src->Palette[3 * (colours - 1 - v) + c] * 1000 / 255));

    const uint64_t planeBytes = (uint64_t)src->BytesPerLine * ht;
    for (uint32_t y = 0; y < ht && wr.ok(); ++y) {
        KXF_RowProgress(this, y, ht);
        const uint8_t* first;
        uint64_t step;
        if (rgb) {
            memset(planes24.get(), 0, (size_t)(rowBytes * 24));
            ChunkyToPlanes24(src->Data + (uint64_t)y * w * 3, planes24.get(), rowBytes, w);
            first = planes24.get();
            step = rowBytes;
        } else {
            first = src->Data + (uint64_t)y * src->BytesPerLine;
            step = planeBytes;
        }
        uint8_t* o = out.get();
        for (uint32_t p = 0; p < planes; ++p) {
            const uint8_t* s = first + p * step;
            for (uint64_t at = 0; at < rowBytes;) {
                const uint64_t n = rowBytes - at < MAX_BIT_STRING ? rowBytes - at : MAX_BIT_STRING;
                *o++ = 0x80;
                *o++ = (uint8_t)n;
                for (uint64_t j = 0; j < n; ++j) *o++ = (uint8_t)~s[at + j];
                at += n;
            }
        }
        wr.bytes(out.get(), (size_t)(o - out.get()));
    }
    return KXF_EndSave(this, &sf, wr.ok() ? KXERR_NONE : KXERR_IO);
}
