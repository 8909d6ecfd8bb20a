// kxoPSP: Paint Shop Pro images (see kxoPSP.h).
#include "formats/raster/kxoPSP.h"
#include "formats/raster/kxplanes.h"

#include <zlib.h>

#include <cstring>
#include <memory>

namespace {

const char* const TAG = "psp";
const uint8_t MARKER[4] = {0x7E, 0x42, 0x4B, 0x00};  // "~BK" and a zero
const uint8_t SIGNATURE[32] = {'P', 'a', 'i', 'n', 't', ' ', 'S', 'h', 'o', 'p', ' ', 'P', 'r', 'o', ' ', 'I',
                               'm', 'a', 'g', 'e', ' ', 'F', 'i', 'l', 'e', 0x0A, 0x1A, 0,   0,   0,   0,   0};

const char* blockName(uint32_t id) {
    static const char* const names[] = {"image block",     "creator block", "color block",   "layer-s block",
                                        "layer block",     "channel block", "selection block", "alpha-b block",
                                        "alpha-c block",   "thumbnail block", "ext-data block"};
    return id <= 10 ? names[id] : "unknown";
}

enum { IMAGE = 0, CREATOR = 1, COLOUR = 2, LAYER_START = 3, LAYER = 4, CHANNEL = 5, ALPHA_BANK = 7, ALPHA_CHANNEL = 8 };

struct Block {
    uint64_t Start = 0;
    uint32_t Id = 0;
    uint64_t Length = 0;  // by the length rule; at least 1, so a scan always moves on
};

// The next block header from position at on: a header whose marker does
// not match moves the search one byte on. False when fewer than 14 bytes
// remain. Each length word beyond the file's end counts as 0; the block
// takes the larger (a header of one word takes the data's first four bytes
// as the second).
bool nextBlock(KXByteReader& r, uint64_t at, Block& b) {
    for (;; ++at) {
        uint8_t h[14];
        if (at > r.size() || r.size() - at < sizeof(h)) return false;  // so the reader never fails here
        if (!r.seek(at) || !r.bytes(h, sizeof(h))) return false;
        if (memcmp(h, MARKER, 4) != 0) continue;
        const uint64_t left = r.size() - at;
        uint64_t a = (uint64_t)h[6] | h[7] << 8 | h[8] << 16 | (uint64_t)h[9] << 24;
        uint64_t c = (uint64_t)h[10] | h[11] << 8 | h[12] << 16 | (uint64_t)h[13] << 24;
        if (a > left) a = 0;
        if (c > left) c = 0;
        b.Start = at;
        b.Id = (uint32_t)(h[4] | h[5] << 8);
        b.Length = a > c ? a : c;
        if (b.Length == 0) b.Length = 1;
        return true;
    }
}

}  // namespace

kxoPSP::kxoPSP(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoPSP");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoPSP::Reset() { FrameReset(); }

uint32_t kxoPSP::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t s[32] = {};
    const size_t n = KXF_PeekHead(file, s, sizeof(s));
    return n == 32 && memcmp(s, SIGNATURE, 32) == 0 ? 1 : 0;
}

uint32_t kxoPSP::Load() { return KXF_Load(this, &kxoPSP::LoadBody); }

uint32_t kxoPSP::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t start[36 + 14] = {};
    if (!r.seek(0) || !r.bytes(start, sizeof(start)) || memcmp(start + 36, MARKER, 4) != 0) {
        KXF_Log(this, 5, TAG, "%.4s\n", (const char*)(start + 36));
        return KXERR_DECODE;
    }
    // The general image attributes.
    const uint32_t w = r.le32(), h = r.le32();
    r.skip(9);  // resolution and its unit
    const uint32_t compression = r.le16(), bits = r.le16(), planes = r.le16();
    r.skip(4);
    const uint32_t grey = r.u8();
    r.skip(8);
    const uint32_t layers = r.le16();
    if (!r.ok()) return KXERR_EOF;
    KXF_Log(this, 5, TAG, "PSP: %ldx%ldx%ld(pixbits) - channels: %ld - colors: %ld - gray: %ld - comp: %ld - layers: %ld\n", (long)w,
            (long)h, (long)bits, (long)planes, (long)(planes * bits), (long)grey, (long)compression, (long)layers);
    // One plane of 1, 4 or 8 bits or three of 8: other pairs would make
    // pictures whose depth and pixel data disagree.
    const bool known = (planes == 1 && (bits == 1 || bits == 4 || bits == 8)) || (planes == 3 && bits == 24);
    if (!known || compression > 2) return KXERR_FILEREQUIREMENTS;
    SubFormatId = compression;

    // Sizes beyond 32 bits (15) or the limit (3) come first; the picture
    // itself is made once the channels are known.
    uint32_t size = 0;
    uint32_t err = bits == 1 ? KXSUP_CheckSize(&size, ((uint64_t)w + 7) / 8, h) : KXSUP_CheckSize(&size, w, h, bits == 24 ? 3 : 1);
    if (err != KXERR_NONE) return err;

    // The top-level blocks that matter, found by their markers.
    Block creator, colour, layerStart, alphaBank;
    bool seenCreator = false, seenColour = false, seenLayerStart = false, seenAlphaBank = false;
    for (uint64_t at = 46;;) {
        Block b;
        if (!nextBlock(r, at, b)) break;
        KXF_Log(this, 5, TAG, "%s: %ld(%lx) %ld(%lx)\n", blockName(b.Id), (long)b.Id, (long)b.Id, (long)b.Length, (long)b.Length);
        switch (b.Id) {
        case IMAGE:
        case LAYER:
        case CHANNEL:
        case ALPHA_CHANNEL:
            return KXERR_DECODE;  // these belong inside other blocks
        case CREATOR: creator = b, seenCreator = true; break;
        case COLOUR: colour = b, seenColour = true; break;
        case LAYER_START: layerStart = b, seenLayerStart = true; break;
        case ALPHA_BANK: alphaBank = b, seenAlphaBank = true; break;
        default: break;
        }
        at = b.Start + b.Length;
        if (seenCreator && seenLayerStart && (bits == 24 ? seenAlphaBank : seenColour)) break;
    }
    (void)creator, (void)alphaBank;
    if (!seenLayerStart) {
        KXF_Log(this, 5, TAG, "no layer start block\n");
        return KXERR_DECODE;
    }

    // Channel blocks directly inside the layer start block; layer blocks
    // are only logged.
    // One channel for up to 8 bits; red, green and blue (and a composite
    // channel that may stand among them) for 24.
    const uint32_t wanted = bits == 24 ? 4 : 1;
    Block channels[4];
    uint32_t found = 0, layersFound = 0;
    Block layerBlocks[8];
    const uint64_t end = layerStart.Start + layerStart.Length;
    for (uint64_t at = layerStart.Start + 14; at < end;) {
        Block b;
        if (!nextBlock(r, at, b)) break;
        KXF_Log(this, 5, TAG, "%s: %ld(%ld) %ld(%lx)\n", blockName(b.Id), (long)b.Id, (long)b.Id, (long)b.Length, (long)b.Length);
        if (b.Id == LAYER && layersFound < 8) layerBlocks[layersFound++] = b;
        else if (b.Id == CHANNEL && found < wanted) channels[found++] = b;
        at = b.Start + b.Length;
    }
    if (found == 0) {
        KXF_Log(this, 5, TAG, "no channel block\n");
        return KXERR_DECODE;
    }

    // What one channel holds unpacked: rows of (w + 7) / 8 bytes for one
    // bit, (w + 1) / 2 for four (the low nibble of an odd row's last byte
    // is passed over), w for eight.
    const uint64_t rowBytes = bits == 1 ? ((uint64_t)w + 7) / 8 : bits == 4 ? ((uint64_t)w + 1) / 2 : w;
    const uint64_t channelSize = rowBytes * h;
    // What the channels can yield at most: raw their length, run-length
    // coded 127 bytes for every 2, deflated 1032 for every byte (zlib's
    // best). A short file still loads, the rest of its picture blank, but
    // not one whose channels could not fill half of it; and the work block
    // is no larger than the largest channel can fill.
    uint64_t most = 0, largest = 0;
    for (uint32_t i = 0; i < found; ++i) {
        r.seek(channels[i].Start + 14);
        const uint64_t packedLength = r.le32();
        r.skip(6);
        const uint32_t type = r.le16();
        if (!r.ok()) return KXERR_EOF;
        if (bits == 24 && (type == 0 || type > 3)) continue;
        const uint64_t yield = compression == 0 ? packedLength : compression == 1 ? (packedLength + 1) / 2 * 127 : packedLength * 1032;
        const uint64_t fills = yield < channelSize ? yield : channelSize;
        most += fills;
        if (fills > largest) largest = fills;
    }
    if (most < (channelSize * (bits == 24 ? 3 : 1) + 1) / 2) {
        KXF_Log(this, 5, TAG, "channels too short for the picture\n");
        return KXERR_EOF;
    }
    KX_GfxBuffer* img = nullptr;
    err = KXF_NewImage(&img, bits == 1 ? BITPLANE : ONEPLANE, w, h, bits, bits == 1 ? 0 : bits == 24 ? 24 : 8, true);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    KXVecBlock work = KXF_AllocBlock(largest);
    if (!work) return KXERR_NOMEMORY;
    const uint64_t workSize = largest;  // no channel yields more
    KXF_Log(this, 5, TAG, "parse Channel Start\n");
    for (uint32_t i = 0; i < found; ++i) {
        r.seek(channels[i].Start + 14);
        const uint32_t packedLength = r.le32(), unpackedLength = r.le32(), bitmapType = r.le16(), type = r.le16();
        if (!r.ok()) return KXERR_EOF;
        KXF_Log(this, 5, TAG, "ch: %ld - clen %ld uclen %ld bmtype %ld chtype %ld\n", (long)i, (long)packedLength, (long)unpackedLength,
                (long)bitmapType, (long)type);
        if (bits == 24 && (type == 0 || type > 3)) continue;  // a composite channel among the colours
        if (packedLength > r.remaining()) return KXERR_EOF;
        KXVecBlock packed = KXF_AllocBlock(packedLength);
        if (!packed) return KXERR_NOMEMORY;
        if (!r.bytes(packed.get(), packedLength)) return KXERR_EOF;
        const uint8_t* in = packed.get();
        uint8_t* out = work.get();
        // Only what a channel yields is placed: the rest of the picture
        // stays clear, and a short channel costs no pass over all of it.
        uint64_t done = 0;
        if (compression == 0) {
            done = packedLength < workSize ? packedLength : workSize;
            memcpy(out, in, (size_t)done);
        } else if (compression == 2) {
            // Deflated; the output never passes the channel's size.
            z_stream z = {};
            if (inflateInit(&z) != Z_OK) return KXERR_NOMEMORY;
            uint64_t fed = 0;
            int steps = 0, rc = Z_OK;
            while (rc == Z_OK && done < workSize) {
                if (z.avail_in == 0 && fed < packedLength) {
                    const uint64_t n = packedLength - fed < 0x8000 ? packedLength - fed : 0x8000;
                    z.next_in = const_cast<Bytef*>(in + fed);
                    z.avail_in = (uInt)n;
                    fed += n;
                }
                const uint64_t room = workSize - done < 0x8000 ? workSize - done : 0x8000;
                z.next_out = out + done;
                z.avail_out = (uInt)room;
                rc = inflate(&z, Z_SYNC_FLUSH);
                done += room - z.avail_out;
                ++steps;
                if (room == z.avail_out && z.avail_in == 0 && fed == packedLength) break;  // nothing more to come
            }
            inflateEnd(&z);
            KXF_Log(this, 5, TAG, "uc-size: %ld (steps: %ld)\n", (long)done, (long)steps);
        } else {
            // Run-length: c < 128 literals, c > 128 a run of c - 128, 128
            // nothing. The data must end with the channel.
            const uint64_t target = unpackedLength < workSize ? unpackedLength : workSize;
            uint64_t p = 0;
            while (done < target && p < packedLength) {
                const uint32_t c = in[p++];
                if (c == 128) continue;
                if (c < 128) {
                    const uint64_t n = c < packedLength - p ? c : packedLength - p;
                    const uint64_t keep = n < target - done ? n : target - done;
                    memcpy(out + done, in + p, (size_t)keep);
                    p += n;
                    done += keep;
                } else {
                    if (p >= packedLength) break;
                    const uint8_t v = in[p++];
                    const uint64_t n = c - 128, keep = n < target - done ? n : target - done;
                    memset(out + done, v, (size_t)keep);
                    done += keep;
                }
            }
            if (p != packedLength) return KXERR_DECODE;
            KXF_Log(this, 5, TAG, "noerr\n");
        }
        // Into the picture: colour channels by their type in 24 bits.
        if (bits == 1 || bits == 8) {
            memcpy(img->Data, out, (size_t)done);
        } else if (bits == 4) {
            for (uint32_t y = 0; y < h && rowBytes * y < done; ++y) {
                const uint8_t* s = out + rowBytes * y;
                const uint64_t have = done - rowBytes * y;
                uint8_t* d = img->Data + (uint64_t)w * y;
                for (uint32_t x = 0; x < w && x / 2 < have; ++x) d[x] = x & 1 ? s[x / 2] & 15 : s[x / 2] >> 4;
            }
        } else {
            uint8_t* d = img->Data + (type - 1);
            for (uint64_t k = 0; k < done; ++k, d += 3) *d = out[k];
        }
    }
    for (uint32_t i = 0; i < layersFound; ++i) {
        const uint64_t at = layerBlocks[i].Start + 14 + 256 + 1;
        if (at + 16 > r.size() || !r.seek(at)) break;
        const int32_t x = (int32_t)r.le32(), y = (int32_t)r.le32(), right = (int32_t)r.le32(), bottom = (int32_t)r.le32();
        if (!r.ok()) break;
        KXF_Log(this, 5, TAG, "layer: %ld - x/y: %ld,%ld - %ldx%ld\n", (long)i, (long)x, (long)y, (long)right, (long)bottom);
    }

    bool greyPalette = bits == 1;
    if (bits == 1) {
        memset(img->Palette + 3, 255, 3);  // 0 black, 1 white
    } else if (bits <= 8) {
        uint32_t count = 0;
        if (!grey && seenColour && r.seek(colour.Start + 14)) count = r.le32();
        if (!r.ok() || count == 0) {
            greyPalette = true;
        } else {
            for (uint32_t i = 0; i < count && i < 256; ++i) {
                uint8_t bgrx[4];
                if (!r.bytes(bgrx, 4)) return KXERR_EOF;
                img->Palette[3 * i] = bgrx[2], img->Palette[3 * i + 1] = bgrx[1], img->Palette[3 * i + 2] = bgrx[0];
            }
        }
        if (greyPalette)
            for (int i = 0; i < 256; ++i) memset(img->Palette + 3 * i, i, 3);
    }
    if (greyPalette) KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
    return KXERR_NONE;
}
