// kxpHilbertDither256: palette pictures to black and white along a Hilbert
// curve (see the header). The turtle string is turned into the 256 cells of
// a block once per run; each strip of 16 rows is gathered into a buffer as
// wide as the padded picture and its blocks are walked one after another.
// Relies on the operator frame.
#include "kxpHilbertDither256.h"

#include <strings.h>

#include <cstring>

namespace {

struct Cell {
    uint8_t x, y;
};

// The walk through a block: heading 0 right, 1 down, 2 left, 3 up; "+"
// lowers it, "-" raises it, "F" steps. false when the path leaves the
// block or does not visit each cell once.
bool WalkCells(const std::string& path, Cell* cells)
{
    static const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, 1, 0, -1};
    bool seen[256] = {};
    int x = 0, y = 0, heading = 0, n = 0;
    cells[n++] = {0, 0};
    seen[0] = true;
    for (char c : path) {
        if (c == '+') heading = (heading + 3) & 3;
        else if (c == '-') heading = (heading + 1) & 3;
        else if (c == 'F') {
            x += dx[heading];
            y += dy[heading];
            if (x < 0 || x > 15 || y < 0 || y > 15 || n == 256 || seen[y * 16 + x]) return false;
            seen[y * 16 + x] = true;
            cells[n++] = {uint8_t(x), uint8_t(y)};
        }
    }
    return n == 256;
}

}  // namespace

std::string kxpHilbertDither256::HilbertPath()
{
    std::string s = "X";
    for (int round = 1; round <= 4; ++round) {
        const char* xr = round < 4 ? "-YF+XFX+FY-" : "-F+F+F-";
        const char* yr = round < 4 ? "+XF-YFY-FX+" : "+F-F-F+";
        std::string next;
        next.reserve(s.size() * 6);
        for (char c : s) {
            if (c == 'X') next += xr;
            else if (c == 'Y') next += yr;
            else next += c;
        }
        s.swap(next);
    }
    return s;
}

uint32_t kxpHilbertDither256::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputPalette(source, result, &work);
    // The storage type is tested last here: a picture of a kind no
    // operator knows still names its depth first.
    if (err == KXERR_NOTSUPPORTED) {
        if (source->ColorDepth == 48) return KXERR_NO48BIT;
        if (source->ColorDepth == 24) return KXERR_NO24BIT;
        if (source->ColorDepth > 8) return KXERR_FILEREQUIREMENTS;
        if (IsHamBuffer(source)) return KXERR_NOHAM;
    }
    if (err) return err;

    const uint64_t pw = (uint64_t(work->Width) + 15) & ~uint64_t(15), ph = (uint64_t(work->Height) + 15) & ~uint64_t(15);
    uint32_t bytes = 0, stripBytes = 0;
    if (!KXSUP_CheckedSize(&bytes, pw, ph) || !KXSUP_CheckedSize(&stripBytes, pw, 16)) return KXERR_NOMEMORY;
    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    r->Version = 1;
    r->ColorDepth = 1;
    r->PixelBits = 8;
    r->Width = uint32_t(pw);
    r->Height = uint32_t(ph);
    r->BufferSize = bytes;
    r->NativeDIPF = 0;
    // A copied EHB mode would call two colours extra-half-brite.
    r->ViewMode = KXSUP_BestModeID(r->Width, r->Height, 1);
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(bytes, MEMF_CLEAR)))) return KXERR_NOMEMORY;

    KXPKeyReader keys(this, false);
    // Any word but "BLACK" shows the bright pixels black.
    const char* background = keys.Text("BACKGROUND");
    const bool black = !background || strcasecmp(background, "BLACK") == 0;
    const uint8_t first = black ? 0 : 255;
    memset(r->Palette, first, 3);
    memset(r->Palette + 3, 255 - first, 3);

    Cell cells[256];
    if (!WalkCells(HilbertPath(), cells)) return KXERR_NOMEMORY;
    auto* strip = static_cast<uint8_t*>(AllocVec(stripBytes, MEMF_CLEAR));
    if (!strip) return KXERR_NOMEMORY;

    uint8_t grey[256];
    for (uint32_t i = 0; i < 256; ++i) {
        const uint8_t* p = work->Palette + 3 * i;
        grey[i] = uint8_t((30u * p[0] + 59u * p[1] + 11u * p[2]) / 100);
    }
    // Each cell's place in a strip as wide as the padded picture.
    size_t offset[256];
    for (uint32_t i = 0; i < 256; ++i) offset[i] = size_t(cells[i].y) * pw + cells[i].x;

    const uint32_t w = work->Width, h = work->Height;
    for (uint64_t top = 0; top < ph; top += 16) {
        if (ProgressHook) ReportProgress(uint32_t(top * 100 / ph));
        // Rows below the picture count as index 0, like the padding columns.
        for (uint32_t row = 0; row < 16; ++row) {
            uint8_t* to = strip + row * pw;
            if (top + row < h) memcpy(to, work->Data + (top + row) * w, w);
            else memset(to, 0, w);
        }
        uint8_t* outStrip = r->Data + top * pw;
        for (uint64_t left = 0; left < pw; left += 16) {
            const uint8_t* in = strip + left;
            uint8_t* out = outStrip + left;
            const uint32_t g0 = grey[in[0]];
            int32_t sum;
            if (g0 >= 128) {
                out[0] = 1;
                sum = int32_t(255 - g0);
            } else {
                sum = int32_t(g0);
            }
            for (uint32_t i = 1; i < 256; ++i) {
                const size_t at = offset[i];
                sum += grey[in[at]];
                if (sum > 254) {
                    out[at] = 1;
                    sum -= 255;
                }
            }
        }
    }
    FreeVec(strip);
    KXSUP_AddGfxBufferFlags(r, KXGFXF_GRAY, 1);
    *result = r;
    return KXERR_NONE;
}
