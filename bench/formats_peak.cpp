// One conversion per run, so that the peak memory of one format's load and
// save can be measured from outside (bench/compare_formats.sh runs it under
// /usr/bin/time -f %M):
//   formats_peak <reader class> <input> <writer class> <output>
//   formats_peak none      start-up only, the baseline to subtract
// Prints the loaded picture's data size in bytes. Also makes the inputs of
// formats that no other program writes (the 24-bit GIF mosaic).
#include <cstdio>
#include <cstring>

#include "bench_support.h"

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "none") == 0) return 0;
    if (argc != 5) {
        fprintf(stderr, "usage: %s <reader class> <input> <writer class> <output> | none\n", argv[0]);
        return 2;
    }
    KXObject* r = kxbench::make(argv[1]);
    KXObject* w = kxbench::make(argv[3]);
    if (!r || !w) {
        fprintf(stderr, "unknown class\n");
        return 2;
    }
    r->SetReadName(argv[2]);
    uint32_t err = r->Load();
    KX_GfxBuffer* b = nullptr;
    if (err == KXERR_NONE) err = r->DetachGfxBuffer(&b);
    r->Reset();
    delete r;
    if (err != KXERR_NONE || !b) {
        fprintf(stderr, "load failed: %u\n", err);
        return 1;
    }
    const unsigned long long size = b->BufferSize;
    w->Reset();
    w->SetSaveName(argv[4]);
    w->SetSubFormat(0);
    w->SetGfxBuffer(b);
    err = w->Save();
    w->Reset();
    delete w;
    KXSUP_FreeGfxBuffer(b);
    if (err != KXERR_NONE) {
        fprintf(stderr, "save failed: %u\n", err);
        return 1;
    }
    printf("%llu\n", size);
    return 0;
}
