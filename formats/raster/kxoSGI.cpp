// kxoSGI: SGI image files (see kxoSGI.h).
#include "formats/raster/kxoSGI.h"

#include <cstring>

#include "formats/raster/kxplanes.h"

namespace {

const uint32_t HEADER_SIZE = 512;
const uint16_t MAGIC = 474;

// One run-length row: a control byte whose low 7 bits count; top bit set,
// that many literal bytes follow, clear, the next byte repeats. A count of
// 0 carries nothing. The decoder stays within the row's bytes and the
// line's width: what a row leaves short stays 0.
void decodeRow(const uint8_t* in, size_t length, uint8_t* out, uint32_t width) {
    size_t i = 0;
    uint32_t x = 0;
    while (i < length && x < width) {
        const uint8_t c = in[i++];
        uint32_t n = c & 0x7F;
        if (n == 0) continue;
        if (c & 0x80) {
            if (n > length - i) n = (uint32_t)(length - i);
            const uint32_t k = n < width - x ? n : width - x;
            memcpy(out + x, in + i, k);
            i += n;
            x += k;
        } else {
            if (i == length) break;
            const uint8_t v = in[i++];
            const uint32_t k = n < width - x ? n : width - x;
            memset(out + x, v, k);
            x += k;
        }
    }
}

}  // namespace

kxoSGI::kxoSGI(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoSGI");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoSGI::Reset() { FrameReset(); }

uint32_t kxoSGI::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t b[2] = {};
    const bool read = KXF_PeekHead(file, b, 2) == 2;
    return read && b[0] == 0x01 && b[1] == 0xDA ? 1 : 0;
}

uint32_t kxoSGI::Load() { return KXF_Load(this, &kxoSGI::LoadBody); }

uint32_t kxoSGI::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t h[HEADER_SIZE];
    auto be16 = [&](int at) { return (uint32_t)(h[at] << 8 | h[at + 1]); };
    if (!r.bytes(h, sizeof(h)) || be16(0) != MAGIC || h[2] > 1) {
        SubFormatId = (uint32_t)-1;
        return KXERR_FILEREQUIREMENTS;
    }
    SubFormatId = 0;
    const bool rle = h[2] == 1;
    const uint32_t bpc = h[3], w = be16(6), ht = be16(8), channels = be16(10);
    // One byte a channel only: two-byte samples, or a single channel of
    // three bytes, would otherwise pass for one of the accepted depths.
    if (bpc != 1 || (channels != 1 && channels != 3 && channels != 4)) return KXERR_NOTSUPPORTED;
    if (w == 0 || ht == 0) return KXERR_FILEREQUIREMENTS;

    // Run-length files: the start and length of every row (channel-major)
    // follow the header; verbatim files must hold every row.
    const uint64_t rows = (uint64_t)ht * channels;
    KXVecBlock table;
    if (rle) {
        if (r.remaining() < rows * 8) return KXERR_EOF;
        table = KXF_AllocBlock(rows * 8);
        if (!table) return KXERR_NOMEMORY;
        if (!r.bytes(table.get(), (size_t)rows * 8)) return KXERR_EOF;
    } else if (r.remaining() < rows * w) {
        return KXERR_EOF;
    }

    const bool grey = channels == 1;
    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, ONEPLANE, w, ht, grey ? 8 : 24, grey ? 8 : 24, true);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    if (grey) KXF_GreyRamp(img->Palette, 256);
    if (channels == 4 && (err = KXF_AttachAlpha8(img)) != KXERR_NONE) return err;
    uint8_t* alpha = channels == 4 ? KXSUP_AlphaBytes(img) : nullptr;

    // Run-length rows are at most six bytes a pixel.
    const uint64_t rowLimit = (uint64_t)w * 6;
    KXVecBlock packed, line = KXF_AllocBlock(w);
    if (rle) packed = KXF_AllocBlock(rowLimit);
    if (!line || (rle && !packed)) return KXERR_NOMEMORY;
    auto entry = [&](uint64_t i) {
        const uint8_t* p = table.get() + 4 * i;
        return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
    };

    const uint32_t pixelBytes = grey ? 1 : 3;
    for (uint32_t c = 0; c < channels; ++c) {
        for (uint32_t fr = 0; fr < ht; ++fr) {
            KXF_RowProgress(this, fr, ht);
            // The first row of the file is the bottom row of the picture.
            const uint64_t y = ht - 1 - fr;
            uint8_t* l = line.get();
            if (rle) {
                const uint64_t i = (uint64_t)c * ht + fr;
                const uint32_t start = entry(i), length = entry(rows + i);
                if (length > rowLimit) return KXERR_DECODE;
                if (!r.seek(start) || !r.bytes(packed.get(), length)) return KXERR_EOF;
                memset(l, 0, w);
                decodeRow(packed.get(), length, l, w);
            } else if (!r.bytes(l, w)) {
                return KXERR_EOF;
            }
            if (c == 3) memcpy(alpha + y * w, l, w);
            else KXF_PlaneToPixels(l, img->Data + y * w * pixelBytes + c, w, 1, pixelBytes);
        }
    }
    if (grey) KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
    return KXERR_NONE;
}

uint32_t kxoSGI::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    const KX_GfxBuffer* src = SaveBuffer;
    if (src->ColorDepth != 24 || src->PixelBits != 24) return KXERR_NEED24BIT;
    // The sizes are 16-bit fields.
    const uint32_t w = src->Width, h = src->Height;
    if (w > 65535 || h > 65535) return KXERR_FILEREQUIREMENTS;
    KXVecBlock line = KXF_AllocBlock(w);
    if (!line) return KXERR_NOMEMORY;

    uint8_t hd[HEADER_SIZE] = {};
    auto put16 = [&](int at, uint32_t v) {
        hd[at] = (uint8_t)(v >> 8);
        hd[at + 1] = (uint8_t)v;
    };
    put16(0, MAGIC);
    hd[2] = 0;  // verbatim
    hd[3] = 1;  // one byte a channel
    put16(4, 3);
    put16(6, w);
    put16(8, h);
    put16(10, 3);
    hd[19] = 255;  // pixmax

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter out(WriteFile);
    out.bytes(hd, sizeof(hd));
    for (uint32_t c = 0; c < 3 && out.ok(); ++c) {
        KXF_Progress(this, c * 33);
        for (uint32_t fr = 0; fr < h && out.ok(); ++fr) {
            const uint64_t y = h - 1 - fr;
            KXF_PixelsToPlane(src->Data + y * w * 3 + c, line.get(), w, 1, 3);
            out.bytes(line.get(), w);
        }
    }
    return KXF_EndSave(this, &sf, out.ok() ? KXERR_NONE : KXERR_IO);
}
