// kxop: runs one operator on a PNM/PAM picture and writes the result.
//   kxop <operator number> <in.pnm|pam> <out.pnm> [KEY=VALUE ...]
// Reads P5/P6 (8 or 16 bits) and P7 with GRAYSCALE or RGB tuples; writes
// P5 for palette results (the indices), P6 for 24 and 48 bits. Prints the
// time of the operator run alone on stderr, for the comparison scripts.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "kxlib.h"
#include "operators/geometry/kxpCrop.h"
#include "operators/geometry/kxpCut.h"
#include "operators/geometry/kxpCutInverse.h"
#include "operators/geometry/kxpLeftToRight.h"
#include "operators/geometry/kxpMirror.h"
#include "operators/geometry/kxpMirrorCopy.h"
#include "operators/geometry/kxpPaste.h"
#include "operators/geometry/kxpResize.h"
#include "operators/geometry/kxpResizeDDA.h"
#include "operators/geometry/kxpRotate.h"
#include "operators/geometry/kxpRotateFree.h"
#include "operators/geometry/kxpScale50.h"
#include "operators/geometry/kxpTopToBottom.h"

namespace {

// Operators built here by number; others come from the library's table.
KXOperator* MakeOperator(KXClass* lib, int number)
{
    switch (number) {
    case 4: return new kxpRotate(lib);
    case 9: return new kxpScale50(lib);
    case 14: return new kxpResize(lib);
    case 21: return new kxpCrop(lib);
    case 22: return new kxpPaste(lib);
    case 23: return new kxpCut(lib);
    case 25: return new kxpLeftToRight(lib);
    case 26: return new kxpTopToBottom(lib);
    case 27: return new kxpRotateFree(lib);
    case 29: return new kxpMirror(lib);
    case 30: return new kxpMirrorCopy(lib);
    case 34: return new kxpCutInverse(lib);
    case 54: return new kxpResizeDDA(lib);
    default: return nullptr;
    }
}

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
        ok = ok && fread(b->Data, 1, size, f) == size;
        if (ok && wide)
            for (uint32_t i = 0; i < size; i += 2) std::swap(b->Data[i], b->Data[i + 1]);
    }
    fclose(f);
    if (!ok && b) {
        KXSUP_FreeGfxBuffer(b);
        b = nullptr;
    }
    return b;
}

bool WritePicture(const char* path, const KX_GfxBuffer* b)
{
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    const bool grey = b->ColorDepth <= 8, wide = b->ColorDepth == 48;
    fprintf(f, "%s\n%u %u\n%u\n", grey ? "P5" : "P6", b->Width, b->Height, wide ? 65535u : 255u);
    const size_t n = static_cast<size_t>(b->Width) * b->Height * (grey ? 1 : wide ? 6 : 3);
    bool ok = true;
    if (wide) {
        std::unique_ptr<uint8_t[]> tmp(new uint8_t[n]);
        const bool big = KXSUP_GetGfxBufferEndianess(b) == KXENDIAN_BIG;
        for (size_t i = 0; i < n; i += 2) {
            tmp[i] = big ? b->Data[i] : b->Data[i + 1];
            tmp[i + 1] = big ? b->Data[i + 1] : b->Data[i];
        }
        ok = fwrite(tmp.get(), 1, n, f) == n;
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
    std::unique_ptr<KXOperator> own(MakeOperator(&lib, number));
    KXOperator* op = own.get();
    if (!op) {
        KXOperator** table = lib.GetOperators();
        for (int i = 0; table && table[i] && !op; i++)
            if (i == number) op = table[i];
    }
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
