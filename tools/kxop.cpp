// kxop: runs one operator on a PNM/PAM picture and writes the result.
//   kxop <operator number> <in.pnm|pam> <out.pnm> [KEY=VALUE ...]
// Reads P5/P6 (8 or 16 bits) and P7 with GRAYSCALE or RGB tuples; writes
// P5 for palette results (the indices; their colours as P6 when the out
// name ends in ".ppm", as other programs write a reduced picture), P6 for
// 24 and 48 bits. Prints the time of the operator run alone on stderr, for
// the comparison scripts, which time the whole program: the picture moves
// in large blocks, and 16-bit samples are swapped a block at a time while
// it is in cache.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include <sys/mman.h>

#include "kxlib.h"

namespace {

bool Token(FILE* f, char* out, size_t size)
{
    int c = fgetc(f);
    for (;;) {
        if (c == '#')
            while (c != '\n' && c != EOF) c = fgetc(f);
        else if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            c = fgetc(f);
        else
            break;
    }
    size_t n = 0;
    while (c != EOF && c != ' ' && c != '\t' && c != '\n' && c != '\r' && n + 1 < size) {
        out[n++] = static_cast<char>(c);
        c = fgetc(f);
    }
    out[n] = 0;
    return n > 0;
}

// Blocks of this many bytes (even, a few rows of a large picture) are
// swapped or expanded while in cache.
constexpr size_t Chunk = 256 * 1024;

// PNM samples are big-endian; the buffers hold host order. A plain loop
// that the compiler turns into vector code.
void SwapSamples(uint8_t* dst, const uint8_t* src, size_t bytes)
{
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        uint16_t v;
        std::memcpy(&v, src + i, 2);
        v = __builtin_bswap16(v);
        std::memcpy(dst + i, &v, 2);
    }
}

// The whole buffer is about to be written: let the kernel back it with
// large pages and map it in one call rather than fault it in 4 KB at a
// time. Only advice: where refused, the pages come as usual.
void Prepare(uint8_t* data, size_t size)
{
    const uintptr_t start = reinterpret_cast<uintptr_t>(data), end = start + size;
    constexpr uintptr_t Large = uintptr_t(2) << 20, Page = 4096;
    const uintptr_t from = (start + Large - 1) & ~(Large - 1), to = end & ~(Large - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
    const uintptr_t first = (start + Page - 1) & ~(Page - 1), last = end & ~(Page - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#endif
}

KX_GfxBuffer* ReadPicture(const char* path)
{
    FILE* f = fopen(path, "rb");
    if (!f) return nullptr;
    char tok[64];
    unsigned long w = 0, h = 0, maxval = 0, depth = 0;
    bool ok = Token(f, tok, sizeof tok);
    std::string magic = tok;
    if (ok && magic == "P7") {
        while (ok && Token(f, tok, sizeof tok) && strcmp(tok, "ENDHDR") != 0) {
            std::string key = tok;
            ok = Token(f, tok, sizeof tok);
            if (key == "WIDTH") w = strtoul(tok, nullptr, 10);
            else if (key == "HEIGHT") h = strtoul(tok, nullptr, 10);
            else if (key == "DEPTH") depth = strtoul(tok, nullptr, 10);
            else if (key == "MAXVAL") maxval = strtoul(tok, nullptr, 10);
        }
    } else if (ok && (magic == "P5" || magic == "P6")) {
        depth = magic == "P6" ? 3 : 1;
        ok = Token(f, tok, sizeof tok) && (w = strtoul(tok, nullptr, 10)) && Token(f, tok, sizeof tok) && (h = strtoul(tok, nullptr, 10)) &&
             Token(f, tok, sizeof tok) && (maxval = strtoul(tok, nullptr, 10));
    } else {
        ok = false;
    }
    const bool wide = maxval > 255;
    uint32_t size = 0;
    ok = ok && (depth == 1 || depth == 3) && maxval && maxval < 65536 && KXSUP_CheckedSize(&size, w, h, depth * (wide ? 2 : 1));
    KX_GfxBuffer* b = nullptr;
    if (ok && !KXSUP_AllocGfxBuffer(&b, 2, size, MEMF_ANY)) {
        b->Type = ONEPLANE;
        b->Width = static_cast<uint32_t>(w);
        b->Height = static_cast<uint32_t>(h);
        b->ColorDepth = depth == 1 ? 8 : wide ? 48 : 24;
        b->PixelBits = b->ColorDepth;
        b->ViewMode = KXVIEWMODE_NONE;
        for (int i = 0; i < 256; i++) b->Palette[i * 3] = b->Palette[i * 3 + 1] = b->Palette[i * 3 + 2] = static_cast<uint8_t>(i);
        if (depth == 1 && wide) ok = false;  // 16-bit grey has no buffer kind here
        if (ok) Prepare(b->Data, size);
        if (ok && !wide) {
            // One request: the C library reads it straight into the buffer.
            ok = fread(b->Data, 1, size, f) == size;
        } else if (ok) {
            for (size_t done = 0; ok && done < size; done += Chunk) {
                const size_t n = size - done < Chunk ? size - done : Chunk;
                ok = fread(b->Data + done, 1, n, f) == n;
                if (ok) SwapSamples(b->Data + done, b->Data + done, n);
            }
        }
    }
    fclose(f);
    if (!ok && b) {
        KXSUP_FreeGfxBuffer(b);
        b = nullptr;
    }
    return b;
}

bool EndsWith(std::string_view s, std::string_view tail) { return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail; }

bool WritePicture(const char* path, const KX_GfxBuffer* b)
{
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    const bool grey = b->ColorDepth <= 8, wide = b->ColorDepth == 48;
    const bool colours = grey && EndsWith(path, ".ppm");
    fprintf(f, "%s\n%u %u\n%u\n", grey && !colours ? "P5" : "P6", b->Width, b->Height, wide ? 65535u : 255u);
    const size_t pixels = static_cast<size_t>(b->Width) * b->Height;
    const size_t n = pixels * (grey ? 1 : wide ? 6 : 3);
    bool ok = true;
    if (colours) {
        // Each index becomes its palette entry, a block of pixels at a time.
        const size_t per = Chunk / 3;
        std::unique_ptr<uint8_t[]> tmp(new uint8_t[per * 3]);
        for (size_t done = 0; ok && done < pixels; done += per) {
            const size_t m = pixels - done < per ? pixels - done : per;
            const uint8_t* s = b->Data + done;
            uint8_t* d = tmp.get();
            for (size_t i = 0; i < m; i++, d += 3) std::memcpy(d, b->Palette + 3 * s[i], 3);
            ok = fwrite(tmp.get(), 1, m * 3, f) == m * 3;
        }
    } else if (wide && KXSUP_GetGfxBufferEndianess(b) != KXENDIAN_BIG) {
        std::unique_ptr<uint8_t[]> tmp(new uint8_t[Chunk]);
        for (size_t done = 0; ok && done < n; done += Chunk) {
            const size_t m = n - done < Chunk ? n - done : Chunk;
            SwapSamples(tmp.get(), b->Data + done, m);
            ok = fwrite(tmp.get(), 1, m, f) == m;
        }
    } else {
        ok = fwrite(b->Data, 1, n, f) == n;
    }
    return fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: kxop <operator number> <in.pnm|pam> <out.pnm> [KEY=VALUE ...]\n");
        return 2;
    }
    KXClass lib;
    const int number = atoi(argv[1]);
    // Only the chosen operator is made, from its catalogue line.
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    std::unique_ptr<KXOperator> op;
    if (number >= 0 && static_cast<uint32_t>(number) < count) op.reset(KX_NewOperator(&lib, regs[number]));
    if (!op) {
        fprintf(stderr, "kxop: no operator %d\n", number);
        return 2;
    }
    KX_GfxBuffer* src = ReadPicture(argv[2]);
    if (!src) {
        fprintf(stderr, "kxop: cannot read %s\n", argv[2]);
        return 1;
    }
    op->Reset();
    uint32_t err = 0;
    KXConfig cfg(op->PadPath, &err);
    for (int i = 4; i < argc; i++) {
        std::string kv = argv[i];
        size_t eq = kv.find('=');
        if (eq == std::string::npos)
            cfg.SetValue(kv.c_str());
        else
            cfg.SetValue(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str());
    }
    op->SetLocalConfig(cfg.GetPadList());
    KX_GfxBuffer* res = nullptr;
    auto t0 = std::chrono::steady_clock::now();
    err = op->OperateTagList(src, &res, nullptr);
    auto t1 = std::chrono::steady_clock::now();
    fprintf(stderr, "kxop: %.3f ms\n", std::chrono::duration<double, std::milli>(t1 - t0).count());
    int rc = 0;
    if (err) {
        fprintf(stderr, "kxop: error %u: %s\n", err, KXL_GetErrorString(err));
        rc = 1;
    } else if (!WritePicture(argv[3], res)) {
        fprintf(stderr, "kxop: cannot write %s\n", argv[3]);
        rc = 1;
    }
    op->Reset();
    KXSUP_FreeGfxBuffer(src);
    return rc;
}
