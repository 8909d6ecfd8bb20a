// kxoHDR: Radiance RGBE pictures (see kxoHDR.h).
#include "formats/raster/kxoHDR.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace {

const char* const TAG = "hdr";
const char* const FORMAT = "32-bit_rle_rgbe";

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
template <class T>
using VecPtr = std::unique_ptr<T, VecDeleter>;

template <class T>
VecPtr<T> allocArray(uint64_t count) {
    uint32_t n = 0;
    if (KXSUP_CheckSize(&n, count ? count : 1, sizeof(T)) != KXERR_NONE) return nullptr;
    return VecPtr<T>(static_cast<T*>(AllocVec(n, MEMF_ANY)));
}

// The mapping between display bytes and RGBE, built for a gamma of 2.0
// (exposure 1) as the format's original display code does: a display
// table for reading and mantissa and shift tables for writing. Reading
// goes through one 256 x 256 table of exponent and mantissa to the 16-bit
// sample, so no pixel needs a branch or a float.
struct Tables {
    uint8_t Mantissa[256];
    uint8_t Shift[256];
    uint16_t Sample[256][256];  // [exponent][mantissa] -> display byte x 257

    Tables() {
        const double gamma = 2.0;
        uint8_t display[16][256];
        for (int i = 0; i < 16; ++i) {
            const double m = std::pow(0.5, i + 8);
            for (int j = 0; j < 256; ++j) display[i][j] = (uint8_t)(int)(256.0 * std::pow((j + 0.5) * m, 1.0 / gamma));
        }
        int k = 0;
        double f = 256.0;
        for (int j = 255; j > 0; --j) {
            double v = f * std::pow(j / 256.0, gamma);
            while (v < 128.0) {
                ++k;
                f *= 2.0;
                v = f * std::pow(j / 256.0, gamma);
            }
            Mantissa[j] = (uint8_t)(int)v;
            Shift[j] = (uint8_t)k;
        }
        Mantissa[0] = 0;
        Shift[0] = 128;
        for (int e = 0; e < 256; ++e) {
            for (int m = 0; m < 256; ++m) {
                int d;
                if (e >= 113 && e <= 128) {
                    d = display[128 - e][m];
                } else if (e >= 129 && e <= 136) {
                    const int v = (2 * m + 1) << (e - 129);
                    d = v > 255 ? 255 : display[0][v];
                } else if (e >= 137) {
                    d = 255;
                } else if (e >= 105) {
                    d = display[15][((m >> (112 - e)) + 1) >> 1];
                } else {
                    d = 0;
                }
                Sample[e][m] = (uint16_t)(d * 257);
            }
        }
    }

    // Three display bytes to R, G, B mantissas and the shared exponent.
    void toRgbe(uint8_t r, uint8_t g, uint8_t b, uint8_t* out) const {
        int n = Shift[r];
        if (Shift[g] < n) n = Shift[g];
        if (Shift[b] < n) n = Shift[b];
        const uint8_t c[3] = {r, g, b};
        for (int i = 0; i < 3; ++i) {
            const int d = Shift[c[i]] - n;
            out[i] = d >= 8 ? 0 : (uint8_t)(Mantissa[c[i]] >> d);
        }
        out[3] = (uint8_t)(128 - n);
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

// The file through a block buffer, with one byte of push-back; eof()
// tells that a read found the end, as a stream's end-of-file mark does.
class Stream {
public:
    explicit Stream(KXByteReader& r) : R(r) {}
    int get() {
        if (Pos == Len && !refill()) {
            Eof = true;
            return -1;
        }
        return Buf[Pos++];
    }
    void unget() {
        if (Pos > 0) --Pos;
    }
    // n bytes to out, stepping by stride; false when the file ends first.
    bool take(uint8_t* out, size_t n, size_t stride) {
        while (n) {
            if (Pos == Len && !refill()) {
                Eof = true;
                return false;
            }
            size_t k = Len - Pos < n ? Len - Pos : n;
            const uint8_t* s = Buf + Pos;
            if (stride == 1) {
                memcpy(out, s, k);
                out += k;
            } else {
                for (size_t i = 0; i < k; ++i, out += stride) *out = s[i];
            }
            Pos += k;
            n -= k;
        }
        return true;
    }
    bool eof() const { return Eof; }
    // Bytes read from the file but not yet taken.
    uint64_t buffered() const { return Len - Pos; }

private:
    bool refill() {
        // Keeps the last byte so that a push-back after a refill still works.
        if (Len > 0) {
            Buf[0] = Buf[Len - 1];
            Pos = Len = 1;
        }
        size_t got = R.some(Buf + Len, sizeof(Buf) - Len);
        Len += got;
        return got > 0;
    }
    KXByteReader& R;
    uint8_t Buf[65536];
    size_t Pos = 0, Len = 0;
    bool Eof = false;
};

// One header line as the format's reader takes it: at most 510 characters
// and its line feed; a longer line goes on in the next piece. False at the
// end of the file.
bool headerLine(Stream& s, std::string& line) {
    line.clear();
    int c;
    while ((c = s.get()) >= 0) {
        line += (char)c;
        if (c == '\n') return true;
        if (line.size() == 510) {
            if ((c = s.get()) == '\n') line += '\n';
            else if (c >= 0) s.unget();
            return true;
        }
    }
    return false;  // a piece cut by the end cannot end the header
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// 1: the header names our format; 0: it names none; -1: another format,
// or the file ends inside the header.
int checkHeader(Stream& s) {
    std::string line, value;
    bool tooLong = false;
    for (;;) {
        if (!headerLine(s, line)) return -1;
        if (line[0] == '\n') break;
        if (line.compare(0, 7, "FORMAT=") != 0) continue;
        size_t i = 7;
        while (i < line.size() && isBlank(line[i])) ++i;
        value = line.substr(i);
        while (!value.empty() && isBlank(value.back())) value.pop_back();
        tooLong = value.size() > 63;  // no room for it: it cannot be ours
    }
    if (value.empty()) return 0;
    return !tooLong && value == FORMAT ? 1 : -1;
}

// The decimal number after position at, as the C runtime's conversion
// reads it; -1 when it is not a positive 32-bit number.
long long positiveNumber(const std::string& line, size_t at) {
    size_t i = at;
    while (i < line.size() && isBlank(line[i])) ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
    long long v = 0;
    bool digits = false;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        digits = true;
        v = v * 10 + (line[i] - '0');
        if (v > 0x7FFFFFFF) return -1;
    }
    if (!digits || negative || v == 0) return -1;
    return v;
}

// The resolution line (at most 63 characters): the orientation flags (4 Y
// named first, 2 Y decreasing, 1 X decreasing) or -1.
int readResolution(Stream& s, uint32_t* width, uint32_t* height) {
    std::string line;
    int c;
    while (line.size() < 63 && (c = s.get()) >= 0) {
        line += (char)c;
        if (c == '\n') break;
    }
    if (line.empty()) return -1;
    size_t x = std::string::npos, y = std::string::npos;
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] == 'X') x = i;
        if (line[i] == 'Y') y = i;
    }
    if (x == std::string::npos || y == std::string::npos) return -1;
    int flags = (x > y ? 4 : 0) | (line[x - 1] == '-' ? 1 : 0) | (line[y - 1] == '-' ? 2 : 0);
    long long w = positiveNumber(line, x + 1), h = positiveNumber(line, y + 1);
    if (w < 0 || h < 0) return -1;
    *width = (uint32_t)w;
    *height = (uint32_t)h;
    return flags;
}

// Flat pixels from index at on, R, G, B, E each; a pixel (1, 1, 1, n)
// repeats the one before it n << s times, s growing by 8 with each marker
// that follows another. A marker with nothing before it in the row, or
// whose copies would pass the row's end, is damage.
bool readFlat(Stream& s, uint8_t* row, uint32_t at, uint32_t width) {
    uint32_t shift = 0;
    while (at < width) {
        uint8_t* p = row + 4 * (size_t)at;
        if (!s.take(p, 4, 1)) return false;
        if (p[0] == 1 && p[1] == 1 && p[2] == 1) {
            if (at == 0 || shift > 24) return false;
            const uint64_t copies = (uint64_t)p[3] << shift;
            if (copies > width - at) return false;
            for (uint64_t k = 0; k < copies; ++k) memcpy(row + 4 * (size_t)(at + k), row + 4 * (size_t)(at - 1), 4);
            at += (uint32_t)copies;
            shift += 8;
        } else {
            ++at;
            shift = 0;
        }
    }
    return true;
}

// One scanline into row (4 bytes a pixel); false for damaged or short data.
bool readScanline(Stream& s, uint8_t* row, uint32_t width) {
    if (width < 8) return readFlat(s, row, 0, width);
    int c = s.get();
    if (c < 0) return false;
    if (c != 2) {
        s.unget();
        return readFlat(s, row, 0, width);
    }
    const int g = s.get(), b = s.get(), e = s.get();
    if (e < 0) return false;
    if (g != 2 || (b & 0x80)) {
        row[0] = 2, row[1] = (uint8_t)g, row[2] = (uint8_t)b, row[3] = (uint8_t)e;
        return readFlat(s, row, 1, width);
    }
    if ((uint32_t)(b << 8 | e) != width) return false;
    for (int comp = 0; comp < 4; ++comp) {
        uint8_t* out = row + comp;
        for (uint32_t j = 0; j < width;) {
            const int code = s.get();
            if (code < 0) return false;
            if (code > 128) {
                const uint32_t n = (uint32_t)code - 128;
                const int v = s.get();
                if (v < 0 || n > width - j) return false;
                for (uint32_t k = 0; k < n; ++k) out[4 * (size_t)(j + k)] = (uint8_t)v;
                j += n;
            } else {
                if ((uint32_t)code > width - j) return false;
                if (!s.take(out + 4 * (size_t)j, (size_t)code, 4)) return false;
                j += (uint32_t)code;
            }
        }
    }
    return !s.eof();
}

// One component of a row in the run-length code: runs of 4 to 127 equal
// bytes, literals of up to 128, and runs of 2 or 3 only where they fill
// the whole gap before the next long run. Returns the bytes produced.
size_t encodeComponent(const uint8_t* v, uint32_t width, uint8_t* out) {
    size_t o = 0;
    uint32_t j = 0;
    while (j < width) {
        uint32_t beg = j, cnt = 0;
        while (beg < width) {
            cnt = 1;
            while (cnt < 127 && beg + cnt < width && v[beg + cnt] == v[beg]) ++cnt;
            if (cnt >= 4) break;
            beg += cnt;
        }
        if (beg >= width) cnt = 0;
        if (beg - j >= 2 && beg - j <= 3) {
            bool same = true;
            for (uint32_t k = j + 1; k < beg; ++k) same = same && v[k] == v[j];
            if (same) {
                out[o++] = (uint8_t)(128 + beg - j);
                out[o++] = v[j];
                j = beg;
            }
        }
        while (j < beg) {
            uint32_t n = beg - j < 128 ? beg - j : 128;
            out[o++] = (uint8_t)n;
            memcpy(out + o, v + j, n);
            o += n;
            j += n;
        }
        if (cnt >= 4) {
            out[o++] = (uint8_t)(128 + cnt);
            out[o++] = v[beg];
            j = beg + cnt;
        }
    }
    return o;
}

}  // namespace

kxoHDR::kxoHDR(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoHDR");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoHDR::Reset() { FrameReset(); }

uint32_t kxoHDR::Fail(uint32_t code, const char* message) {
    KXF_Log(this, 5, TAG, "errcode %lu (%s)\n", (unsigned long)code, message);
    return code;
}

uint32_t kxoHDR::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    char head[16] = {};
    const size_t n = KXF_PeekHead(file, head, sizeof(head));
    if (n >= 10 && memcmp(head, "#?RADIANCE", 10) == 0) return 1;
    return n >= 6 && memcmp(head, "#?RGBE", 6) == 0 ? 1 : 0;
}

uint32_t kxoHDR::Load() { return KXF_Load(this, &kxoHDR::ReadPicture); }

uint32_t kxoHDR::ReadPicture() {
    KXByteReader r(ReadFile);
    std::unique_ptr<Stream> s(new (std::nothrow) Stream(r));
    if (!s) return KXERR_NOMEMORY;
    const Tables& t = tables();
    if (checkHeader(*s) < 0) return Fail(KXERR_DECODE, "Not a HDR file!");
    uint32_t w = 0, h = 0;
    if (readResolution(*s, &w, &h) != 6) return Fail(KXERR_DECODE, "Not a HDR file!");
    SubFormatId = 0;

    // Every row takes at least one 4-byte pixel, however it is coded: a
    // file too short for its rows ends here, before the picture is
    // allocated (after the size checks, whose codes come first).
    uint32_t err = KXSUP_CheckSize(nullptr, w, h, 6);
    if (err != KXERR_NONE) return err;
    const uint64_t least = (uint64_t)h * 4;
    if (least > s->buffered() && !KXF_FileCanHold(r, least - s->buffered())) return Fail(KXERR_DECODE, "Read error!");

    KX_GfxBuffer* img = nullptr;
    err = KXF_NewImage(&img, ONEPLANE, w, h, 48, 48, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    VecPtr<uint8_t> row = allocArray<uint8_t>((uint64_t)w * 4);
    if (!row) return Fail(KXERR_DECODE, "Out of memory!");

    uint16_t* out = reinterpret_cast<uint16_t*>(img->Data);
    for (uint32_t y = 0; y < h; ++y) {
        if (!readScanline(*s, row.get(), w)) return Fail(KXERR_DECODE, "Read error!");
        KXF_Progress(this, (uint32_t)(((uint64_t)y + 1) * 100 / h));
        const uint8_t* p = row.get();
        for (uint32_t x = 0; x < w; ++x, p += 4, out += 3) {
            const uint16_t* lut = t.Sample[p[3]];
            out[0] = lut[p[0]];
            out[1] = lut[p[1]];
            out[2] = lut[p[2]];
        }
    }
    KXSUP_SetGfxBufferEndianess(img, 2);  // 16-bit samples in host order
    return KXERR_NONE;
}

uint32_t kxoHDR::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* src = SaveBuffer;
    if (src->ColorDepth != 24 && src->ColorDepth != 48) return KXERR_NEED24BIT;
    if (src->PixelBits != src->ColorDepth) return KXERR_NEED24BIT;
    if (src->ColorDepth == 48) {
        // 16-bit samples to little-endian order in place, as every writer
        // of 16-bit samples leaves the caller's picture.
        if ((err = KXSUP_ConvertGfxBufferEndianess(src, KXENDIAN_LITTLE)) != KXERR_NONE) return err;
    }
    return WritePicture();
}

uint32_t kxoHDR::WritePicture() {
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t w = src->Width, h = src->Height;
    // The run-length row header holds the width in 15 bits.
    if (w > 32767) return Fail(KXERR_DECODE, "Write error!");
    const Tables& t = tables();
    VecPtr<uint8_t> row = allocArray<uint8_t>((uint64_t)w * 4);
    VecPtr<uint8_t> comp = allocArray<uint8_t>(w);
    VecPtr<uint8_t> coded = allocArray<uint8_t>(4 + 4 * ((uint64_t)w + w / 128 + 2));
    if (!row || !comp || !coded) return Fail(KXERR_DECODE, "Out of memory!");

    KXSafeFile sf;
    uint32_t err = KXF_OpenSave(this, &sf);
    if (err != KXERR_NONE) return err;
    KXByteWriter wr(WriteFile);
    wr.text("#?RADIANCE\n# Kaxon5 SDK\nFORMAT=");
    wr.text(FORMAT);
    wr.text("\nEXPOSURE=          1.0000000000000\n\n");
    wr.printf("%cY %d %cX %d\n", '-', (int)h, '+', (int)w);

    const bool deep = src->PixelBits == 48;
    const uint64_t srcRow = (uint64_t)w * (deep ? 6 : 3);
    for (uint32_t y = 0; y < h && wr.ok(); ++y) {
        KXF_Progress(this, (uint32_t)(((uint64_t)y + 1) * 100 / h));
        const uint8_t* s = src->Data + srcRow * y;
        uint8_t* p = row.get();
        if (deep) {
            for (uint32_t x = 0; x < w; ++x, s += 6, p += 4) t.toRgbe(s[1], s[3], s[5], p);  // high bytes, little-endian
        } else {
            for (uint32_t x = 0; x < w; ++x, s += 3, p += 4) t.toRgbe(s[0], s[1], s[2], p);
        }
        if (w < 8) {
            wr.bytes(row.get(), (size_t)w * 4);
            continue;
        }
        uint8_t* o = coded.get();
        size_t n = 0;
        o[n++] = 2, o[n++] = 2, o[n++] = (uint8_t)(w >> 8), o[n++] = (uint8_t)w;
        for (int c = 0; c < 4; ++c) {
            const uint8_t* q = row.get() + c;
            uint8_t* v = comp.get();
            for (uint32_t x = 0; x < w; ++x) v[x] = q[4 * (size_t)x];
            n += encodeComponent(v, w, o + n);
        }
        wr.bytes(o, n);
    }
    if (!wr.ok()) {
        Fail(KXERR_IO, "Write error!");
        return KXF_EndSave(this, &sf, KXERR_IO);
    }
    return KXF_EndSave(this, &sf, KXERR_NONE);
}
