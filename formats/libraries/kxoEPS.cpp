// kxoEPS: Encapsulated PostScript (see kxoEPS.h).
#include "formats/libraries/kxoEPS.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

namespace {
const char* const TAG = "eps";
const uint8_t kMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};

// ---- writing ----------------------------------------------------------------

// The settings of one save, all read before the file is opened.
struct Page {
    bool header, rotated, center, rle;
    long dpi, width, height;
    float ox, oy, r, v;
};

long positiveKey(KXObject* o, const char* key, long fallback) {
    const std::string text = KXCONV_Key(o, key, nullptr);
    long v = text.empty() ? fallback : strtol(text.c_str(), nullptr, 10);
    // No resolution or page size of 0 or less: the default, rather than a
    // division by zero or a picture of no size.
    return v > 0 ? v : fallback;
}

bool switchIs(KXObject* o, const char* key, const char* word) {
    return strcasecmp(KXCONV_Key(o, key, "").c_str(), word) == 0;
}

// Page geometry in single precision: the picture's point size from the
// resolution, shrunk to 95 % of the page width, then of its height.
Page pageFor(KXObject* o, uint32_t w, uint32_t h) {
    char unused[8];
    Page p = {};
    p.header = o->GetKey("NO_EPS_HEADER", unused, sizeof(unused)) != 1;
    p.rotated = switchIs(o, "SAVE_ROTATE", "ON") || w > h;
    p.center = !switchIs(o, "SAVE_CENTER", "OFF");
    p.rle = switchIs(o, "SAVE_RLE", "ON");
    p.dpi = positiveKey(o, "SAVE_DPI", 300);
    p.width = positiveKey(o, "SAVE_WIDTH", 612);
    p.height = positiveKey(o, "SAVE_HEIGHT", 762);
    const float x = (float)(p.rotated ? h : w), y = (float)(p.rotated ? w : h);
    const float wp = (float)p.width, hp = (float)p.height;
    long k = (long)((float)p.dpi / 72.0f + 0.5f);
    if (k < 1) k = 1;  // below 36 dpi the picture would have no size at all
    const float m = 72.0f / (float)p.dpi * (float)k;
    float s = 1.0f;
    p.r = x * s * m;
    p.v = y * s * m;
    if (p.r > 0.95f * wp) {
        s = s * (wp / p.r * 0.95f);
        p.r = x * s * m;
        p.v = y * s * m;
    }
    if (p.v > 0.95f * hp) {
        s = s * (hp / p.v * 0.95f);
        p.r = x * s * m;
        p.v = y * s * m;
    }
    p.ox = p.center ? (wp - p.r) / 2.0f : 0.0f;
    p.oy = p.center ? (hp - p.v) / 2.0f : 0.0f;
    return p;
}

const char* const kHexProlog[] = {"/readstring {", "  currentfile exch readhexstring pop", "} bind def"};
const char* const kRleProlog[] = {"/rlestr1 1 string def",
                                  "/readrlestring {",
                                  "  /rlestr exch def",
                                  "  currentfile rlestr1 readhexstring pop",
                                  "  0 get",
                                  "  dup 127 le {",
                                  "    currentfile rlestr 0",
                                  "    4 3 roll",
                                  "    1 add  getinterval",
                                  "    readhexstring pop",
                                  "    length",
                                  "  } {",
                                  "    256 exch sub dup",
                                  "    currentfile rlestr1 readhexstring pop",
                                  "    0 get",
                                  "    exch 0 exch 1 exch 1 sub {",
                                  "      rlestr exch 2 index put",
                                  "    } for",
                                  "    pop",
                                  "  } ifelse",
                                  "} bind def",
                                  "/readstring {",
                                  "  dup length 0 {",
                                  "    3 copy exch",
                                  "    1 index sub",
                                  "    getinterval",
                                  "    readrlestring",
                                  "    add",
                                  "    2 copy le { exit } if",
                                  "  } loop",
                                  "  pop pop",
                                  "} bind def"};

// Output bytes as two lower-case hexadecimal digits, 30 bytes (60 digits)
// a line, collected in a block that goes out whole.
class HexOut {
public:
    explicit HexOut(KXByteWriter& w) : W(w) {}
    void byte(uint8_t b) {
        static const char kDigits[] = "0123456789abcdef";
        if (Used > sizeof(Block) - 3) flush();
        if (OnLine == 30) {
            Block[Used++] = '\n';
            OnLine = 0;
        }
        Block[Used++] = kDigits[b >> 4];
        Block[Used++] = kDigits[b & 15];
        ++OnLine;
    }
    void flush() {
        if (Used) W.bytes(Block, Used);
        Used = 0;
    }

private:
    KXByteWriter& W;
    char Block[8192];
    size_t Used = 0;
    uint32_t OnLine = 0;
};

// The run-length coder that the prolog's readrlestring undoes: blocks of up
// to 128 bytes, a run of n written as 256 - n and the byte, a literal of n
// as n - 1 and the bytes. A block starts as a run; a different byte after a
// run of 3 or more starts a new run, after a shorter one turns the block
// into a literal; a fourth equal byte at a literal's end takes the three
// before it out into a run of four.
class RleOut {
public:
    explicit RleOut(HexOut& h) : H(h) {}
    void byte(uint8_t b) {
        if (N == 128) flush();
        if (N == 0) {
            Buf[N++] = b;
            Run = true;
            return;
        }
        if (Run) {
            if (b == Buf[0]) {
                Buf[N++] = b;
            } else if (N >= 3) {
                flush();
                Buf[N++] = b;
                Run = true;
            } else {
                Buf[N++] = b;
                Run = false;
                Equal = 1;
            }
            return;
        }
        Equal = b == Buf[N - 1] ? Equal + 1 : 1;
        if (Equal == 4) {
            N -= 3;
            flush();
            for (int i = 0; i < 4; ++i) Buf[N++] = b;
            Run = true;
            return;
        }
        Buf[N++] = b;
    }
    void flush() {
        if (N == 0) return;
        if (Run) {
            H.byte((uint8_t)(256 - N));
            H.byte(Buf[0]);
        } else {
            H.byte((uint8_t)(N - 1));
            for (uint32_t i = 0; i < N; ++i) H.byte(Buf[i]);
        }
        N = 0;
    }

private:
    HexOut& H;
    uint8_t Buf[128];
    uint32_t N = 0;
    bool Run = true;
    uint32_t Equal = 0;
};

void line(KXByteWriter& w, const char* text) {
    w.text(text);
    w.u8('\n');
}

// ---- reading ----------------------------------------------------------------

uint32_t le32(const uint8_t* p) { return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }

// Copies count bytes from the file's offset into out, block by block.
uint32_t copySection(FILE* in, uint32_t offset, uint32_t count, FILE* out) {
    if (fseek(in, (long)offset, SEEK_SET) != 0) return KXERR_EOF;
    uint8_t block[65536];
    while (count) {
        size_t n = count < sizeof(block) ? count : sizeof(block);
        if (fread(block, 1, n, in) != n) return KXERR_EOF;
        if (fwrite(block, 1, n, out) != n) return KXERR_IO;
        count -= (uint32_t)n;
    }
    return KXERR_NONE;
}
}  // namespace

kxoEPS::kxoEPS(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoEPS");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoEPS::Reset() {
    FrameReset();
    Section.Release();
}

uint32_t kxoEPS::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t head[4] = {};
    return KXF_PeekHead(file, head, 4) == 4 && memcmp(head, kMagic, 4) == 0 ? 1 : 0;
}

uint32_t kxoEPS::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    const KX_GfxBuffer* b = SaveBuffer;
    if (b->ColorDepth != 24 || b->PixelBits != 24) return KXERR_NEED24BIT;
    const uint32_t w = b->Width, h = b->Height;
    const Page p = pageFor(this, w, h);

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    setvbuf(WriteFile, nullptr, _IOFBF, 16384);
    KXByteWriter out(WriteFile);
    if (p.header) {
        out.bytes(kMagic, 4);
        out.le32(32);
        out.zeros(20);  // PostScript length (filled in last), metafile and preview
        out.le16(0xFFFF);
        out.le16(0);
    }
    line(out, "%!PS-Adobe-2.0 EPSF-2.0");
    line(out, "%%Creator: Kaxon5");
    out.printf("%%%%Title: %s.ps\n", amFilePart(SaveName));
    line(out, "%%Pages: 1");
    out.printf("%%%%BoundingBox: %d %d %d %d\n", (int)p.ox, (int)p.oy, (int)(p.ox + p.r + 0.5f), (int)(p.oy + p.v + 0.5f));
    line(out, "%%EndComments");
    if (p.rle)
        for (const char* l : kRleProlog) line(out, l);
    else
        for (const char* l : kHexProlog) line(out, l);
    out.printf("/rpicstr %u string def\n/gpicstr %u string def\n/bpicstr %u string def\n", w, w, w);
    line(out, "%%EndProlog");
    line(out, "%%Page: 1 1");
    line(out, "gsave");
    out.printf("%g %g translate\n", (double)p.ox, (double)p.oy);
    out.printf("%g %g scale\n", (double)p.r, (double)p.v);
    if (p.rotated) line(out, "0.5 0.5 translate  90 rotate  -0.5 -0.5 translate");
    out.printf("%u %u %d\n[ %u 0 0 -%u 0 %u ]\n", w, h, 8, w, h, h);
    for (const char* l : {"{ rpicstr readstring }", "{ gpicstr readstring }", "{ bpicstr readstring }", "true 3", "colorimage"})
        line(out, l);

    HexOut hex(out);
    RleOut rle(hex);
    const size_t stride = (size_t)w * 3;
    for (uint32_t y = 0; y < h && out.ok(); ++y) {
        KXF_RowProgress(this, y, h);
        const uint8_t* row = b->Data + stride * y;
        for (uint32_t c = 0; c < 3; ++c) {
            if (p.rle) {
                for (uint32_t x = 0; x < w; ++x) rle.byte(row[3 * x + c]);
                rle.flush();
            } else {
                for (uint32_t x = 0; x < w; ++x) hex.byte(row[3 * x + c]);
            }
        }
        hex.flush();
    }
    out.text("\ngrestore\nshowpage\n%%Trailer\n");
    bool ok = out.ok();
    if (ok && p.header) {
        const uint64_t length = out.written() - 32;
        uint8_t field[4] = {(uint8_t)length, (uint8_t)(length >> 8), (uint8_t)(length >> 16), (uint8_t)(length >> 24)};
        ok = length <= 0xFFFFFFFFu && fflush(WriteFile) == 0 && fseek(WriteFile, 8, SEEK_SET) == 0 &&
             fwrite(field, 1, 4, WriteFile) == 4;
    }
    KXF_Progress(this, 100);
    return KXF_EndSave(this, &sf, ok ? KXERR_NONE : KXERR_IO);
}

// One way of reading: cut the section out into a temporary file. *extracted
// tells whether the chained reader ran, so that its failure may try the
// other way while an extraction failure ends the load.
uint32_t kxoEPS::extract(bool tiff, bool* extracted) {
    *extracted = false;
    KXF_Log(this, 2, TAG, tiff ? "Extractmode TIFF.\n" : "Extractmode PS.\n");
    uint32_t err = KXF_OpenRead(this);
    if (err != KXERR_NONE) return err;
    uint8_t h[32];
    size_t got = fread(h, 1, sizeof(h), ReadFile);
    if (got < 4 || memcmp(h, kMagic, 4) != 0) return KXF_EndLoad(this, KXERR_UNKNOWNFORMAT);
    if (got < sizeof(h)) return KXF_EndLoad(this, KXERR_EOF);
    const uint32_t psOffset = le32(h + 4), psLength = le32(h + 8);
    const uint32_t tiffOffset = le32(h + 20), tiffLength = le32(h + 24);
    uint32_t offset, length;
    if (tiff) {
        offset = tiffOffset;
        length = tiffLength;
        KXF_Log(this, 5, TAG, "tiffoffset: %ld / tiffsize: %ld\n", (long)tiffOffset, (long)tiffLength);
        if (length == 0) {
            KXF_Log(this, 5, TAG, "psoffset: %ld / pssize: %ld\n", (long)psOffset, (long)psLength);
            if (tiffOffset < psOffset) length = psOffset - tiffOffset;
        }
    } else {
        offset = psOffset;
        length = psLength;
        KXF_Log(this, 5, TAG, "psoffset: %ld / pssize: %ld\n", (long)psOffset, (long)psLength);
        if (length == 0) {
            KXF_Log(this, 5, TAG, "tiffoffset: %ld / tiffsize: %ld\n", (long)tiffOffset, (long)tiffLength);
            if (tiffOffset > psOffset) length = tiffOffset - psOffset;
        }
    }
    if (length == 0) return KXF_EndLoad(this, KXERR_DECODE);
    // The section must lie within the file before anything is copied.
    KXByteReader size(ReadFile);
    if ((uint64_t)offset + length > size.size()) return KXF_EndLoad(this, KXERR_EOF);
    // A preview larger than any picture the size limit allows is not copied
    // out only to be refused by its reader.
    if (tiff && length > KXSUP_GetSizeLimit()) return KXF_EndLoad(this, KXERR_NOMEMORY);

    if ((err = KXCONV_MakeName(Lib, "eps", tiff ? "tif" : "ps", KXCONV_NextCall(), &Section)) != KXERR_NONE)
        return KXF_EndLoad(this, err);
    FILE* out = amOpen(Section.Name, "wb");
    if (!out) return KXF_EndLoad(this, KXERR_NODESTFILE);
    Section.Registered = true;
    err = copySection(ReadFile, offset, length, out);
    if (err == KXERR_NONE && !tiff && fwrite("showpage\r\n", 1, 10, out) != 10) err = KXERR_IO;
    if (amClose(out) != 0 && err == KXERR_NONE) err = KXERR_IO;
    KXF_EndLoad(this, KXERR_NONE);
    if (err != KXERR_NONE) {
        Section.Release();
        return err;
    }
    KXF_Log(this, 2, TAG, "Successfully extracted.\n");
    KXF_Log(this, 2, TAG, "Reading \"%s\"\n", Section.Name);
    *extracted = true;
    err = KXCONV_LoadChained(Lib, tiff ? "kxoTIFF" : "kxoGS", Section.Name, KXChainSettings::OwnPad, &LoadedBuffer);
    KXF_Log(this, 2, TAG, "%s %s: %ld\n", tiff ? "TIFF" : "GS", err ? "Error" : "Code", (long)err);
    Section.Release();
    return err;
}

uint32_t kxoEPS::Load() {
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    KXF_Log(this, 2, TAG, "EPS reading started.\n");
    const bool tiffFirst = switchIs(this, "EXTRACTMODE", "HEADER");
    bool extracted = false;
    uint32_t err = extract(tiffFirst, &extracted);
    if (err == KXERR_NONE || !extracted) return err;
    // A picture above the size limit is refused as such: the other way
    // gives the same picture.
    if (err == KXERR_NOMEMORY) return err;
    // Both ways failed: the last one's code.
    return extract(!tiffFirst, &extracted);
}
