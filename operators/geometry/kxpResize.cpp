// kxpResize: resamples an image to NEW_WIDTH by NEW_HEIGHT (defaults: the
// source size) by area averaging in 12-bit fixed point, first down the
// columns, then along the row. Palette images (1 to 8 bits, bit planes as
// a chunky copy) come back as 8-bit chunky with their palette, indices
// picked rather than averaged; 24 and 48 bits keep their depth, 48-bit
// samples in host order; an 8-bit alpha map is resized by picking. HAM is
// refused; a target side of 1 or less gives 28.
//
// The averaging walks the source once per output row as a running
// traversal. The weights it gives each output pixel do not depend on the
// row, so the traversal is replayed once into index tables (source index
// and weight per contribution) and every row is summed from them.
#include "kxpResize.h"

#include <cstring>
#include <vector>

namespace {

constexpr int32_t One = 4096;   // one whole pixel
constexpr int32_t Half = 2048;  // rounds the final division to nearest

// Contributions of the source to each output position, in traversal order.
struct Plan {
    std::vector<uint32_t> start;  // output position -> first contribution; size n + 1
    std::vector<uint32_t> index;  // source column or row
    std::vector<int32_t> weight;
    std::vector<uint32_t> pick;   // source index a palette image takes
    std::vector<uint8_t> written; // output position completed by the traversal
};

class PlanBuilder {
public:
    PlanBuilder(Plan& p, uint32_t n) : P(p), N(n)
    {
        P.start.assign(static_cast<size_t>(n) + 1, 0);
        P.pick.assign(n, 0);
        P.written.assign(n, 0);
    }
    void Add(uint32_t pos, uint32_t index, int32_t weight)
    {
        if (pos >= N) return;
        Open(pos);
        P.index.push_back(index);
        P.weight.push_back(weight);
    }
    void Store(uint32_t pos, uint32_t index)
    {
        if (pos >= N) return;
        Open(pos);
        P.written[pos] = 1;
        P.pick[pos] = index;
    }
    void Finish() { Open(N); }

private:
    // Positions only grow; every position up to pos starts here.
    void Open(uint32_t pos)
    {
        while (Next <= pos) P.start[Next++] = static_cast<uint32_t>(P.index.size());
    }
    Plan& P;
    uint32_t N;
    uint32_t Next = 0;
};

// The horizontal traversal: each source column spreads xstep units over
// the output pixels, each of which takes One unit in all.
void PlanColumns(Plan& p, uint32_t srcWidth, uint32_t newWidth, int64_t xstep)
{
    PlanBuilder b(p, newWidth);
    int64_t toFill = One;
    bool needCol = false;
    uint32_t pos = 0;
    for (uint32_t col = 0; col < srcWidth; col++) {
        int64_t left = xstep;
        while (left >= toFill) {
            if (needCol) pos++;
            b.Add(pos, col, static_cast<int32_t>(toFill));
            b.Store(pos, col);
            left -= toFill;
            toFill = One;
            needCol = true;
        }
        if (left > 0) {
            if (needCol) {
                pos++;
                needCol = false;
            }
            b.Add(pos, col, static_cast<int32_t>(left));
            toFill -= left;
        }
    }
    // The pending pixel takes the rest from the last column.
    if (!needCol) {
        if (toFill > 0) b.Add(pos, srcWidth - 1, static_cast<int32_t>(toFill));
        b.Store(pos, srcWidth - 1);
    }
    b.Finish();
}

// The vertical traversal; pick is the source row read last for each
// output row, every output row is completed.
void PlanRows(Plan& p, uint32_t srcHeight, uint32_t newHeight, int64_t ystep)
{
    PlanBuilder b(p, newHeight);
    int64_t rowLeft = ystep;
    bool needRow = true;
    uint32_t rowsRead = 0, current = 0;
    for (uint32_t r = 0; r < newHeight; r++) {
        int64_t toFill = One;
        while (rowLeft < toFill) {
            if (needRow && rowsRead < srcHeight) current = rowsRead++;
            b.Add(r, current, static_cast<int32_t>(rowLeft));
            toFill -= rowLeft;
            rowLeft = ystep;
            needRow = true;
        }
        if (needRow && rowsRead < srcHeight) {
            current = rowsRead++;
            needRow = false;
        }
        b.Add(r, current, static_cast<int32_t>(toFill));
        b.Store(r, current);
        rowLeft -= toFill;
        if (rowLeft == 0) {
            rowLeft = ystep;
            needRow = true;
        }
    }
    b.Finish();
}

template <typename T, unsigned C>
void SumRows(T* dst, const uint8_t* src, size_t srcRowBytes, const Plan& p, uint32_t r, int32_t* acc, size_t samples, int32_t max)
{
    for (size_t i = 0; i < samples; i++) acc[i] = Half;
    for (uint32_t k = p.start[r]; k < p.start[r + 1]; k++) {
        const T* s = reinterpret_cast<const T*>(src + srcRowBytes * p.index[k]);
        const int32_t w = p.weight[k];
        for (size_t i = 0; i < samples; i++) acc[i] += w * s[i];
    }
    for (size_t i = 0; i < samples; i++) {
        int32_t v = acc[i] / One;
        dst[i] = static_cast<T>(v > max ? max : v);
    }
}

template <typename T, unsigned C>
void SumColumns(T* dst, const T* src, const Plan& p, uint32_t newWidth, int32_t max)
{
    for (uint32_t pos = 0; pos < newWidth; pos++) {
        if (!p.written[pos]) continue;
        int32_t acc[C];
        for (unsigned c = 0; c < C; c++) acc[c] = Half;
        for (uint32_t k = p.start[pos]; k < p.start[pos + 1]; k++) {
            const T* s = src + static_cast<size_t>(p.index[k]) * C;
            const int32_t w = p.weight[k];
            for (unsigned c = 0; c < C; c++) acc[c] += w * s[c];
        }
        for (unsigned c = 0; c < C; c++) {
            int32_t v = acc[c] / One;
            dst[static_cast<size_t>(pos) * C + c] = static_cast<T>(v > max ? max : v);
        }
    }
}

void PickColumns(uint8_t* dst, const uint8_t* src, const Plan& p, uint32_t newWidth)
{
    for (uint32_t pos = 0; pos < newWidth; pos++)
        if (p.written[pos]) dst[pos] = src[p.pick[pos]];
}

struct Geometry {
    uint32_t w, h, nw, nh;
    bool sameW, sameH;
    Plan cols, rows;
};

}  // namespace

uint32_t kxpResize::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (!err) err = FetchAlphaMap8(work);
    if (!err) err = NewResult(work);
    if (err) return err;

    KXPKeyReader keys(this, false);
    const int64_t nw = keys.Text("NEW_WIDTH") ? keys.Long("NEW_WIDTH", 0) : static_cast<int64_t>(work->Width);
    const int64_t nh = keys.Text("NEW_HEIGHT") ? keys.Long("NEW_HEIGHT", 0) : static_cast<int64_t>(work->Height);
    if (nw <= 1 || nh <= 1) return KXERR_SIZEMISMATCH;

    const uint32_t bpp = KXP_BytesPerPixel(work);
    uint32_t size = 0;
    if (!KXSUP_CheckedSize(&size, static_cast<uint64_t>(nw), static_cast<uint64_t>(nh), bpp)) return KXERR_NOMEMORY;
    KX_GfxBuffer* r = Result;
    r->Width = static_cast<uint32_t>(nw);
    r->Height = static_cast<uint32_t>(nh);
    r->Version = 1;
    r->ColorDepth = r->PixelBits = bpp * 8;
    r->BufferSize = size;
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(size, MEMF_CLEAR)))) return KXERR_NOMEMORY;

    Geometry g;
    g.w = work->Width;
    g.h = work->Height;
    g.nw = r->Width;
    g.nh = r->Height;
    g.sameW = g.nw == g.w;
    g.sameH = g.nh == g.h;
    const double sx = g.sameW ? 1.0 : static_cast<double>(g.nw) / g.w;
    const double sy = g.sameH ? 1.0 : static_cast<double>(g.nh) / g.h;
    const int64_t xstep = static_cast<int64_t>(sx * One);
    // A step of 0 (more than 4096 source rows per output row) would never
    // fill an output row; one unit keeps the traversal moving.
    int64_t ystep = static_cast<int64_t>(sy * One);
    if (ystep < 1) ystep = 1;
    try {
        if (!g.sameW) PlanColumns(g.cols, g.w, g.nw, xstep);
        if (!g.sameH) PlanRows(g.rows, g.h, g.nh, ystep);
    } catch (...) {
        return KXERR_NOMEMORY;
    }

    // Row buffers: the intermediate row (source width) and the output row,
    // which keeps what earlier rows left where the traversal writes nothing.
    const size_t srcRowBytes = static_cast<size_t>(g.w) * bpp, outRowBytes = static_cast<size_t>(g.nw) * bpp;
    auto* inter = static_cast<uint8_t*>(AllocVec(srcRowBytes, MEMF_CLEAR));
    auto* out = static_cast<uint8_t*>(AllocVec(outRowBytes, MEMF_CLEAR));
    auto* acc = static_cast<int32_t*>(AllocVec(static_cast<size_t>(g.w) * (bpp == 1 ? 1 : 3) * sizeof(int32_t), MEMF_CLEAR));
    if (!inter || !out || !acc) {
        FreeVec(inter);
        FreeVec(out);
        FreeVec(acc);
        return KXERR_NOMEMORY;
    }

    // One pass of the traversal over an image of the source's size; bpp 1
    // picks, 3 and 6 average.
    auto pass = [&](uint8_t* dst, const uint8_t* src, uint32_t pixelBytes) {
        const size_t sRow = static_cast<size_t>(g.w) * pixelBytes, oRow = static_cast<size_t>(g.nw) * pixelBytes;
        std::memset(out, 0, oRow);
        for (uint32_t y = 0; y < g.nh; y++) {
            RowProgress(y, g.nh);
            const uint8_t* row;
            if (g.sameH) {
                row = src + sRow * y;
            } else if (pixelBytes == 1) {
                row = src + sRow * g.rows.pick[y];
            } else {
                if (pixelBytes == 3)
                    SumRows<uint8_t, 3>(inter, src, sRow, g.rows, y, acc, static_cast<size_t>(g.w) * 3, 255);
                else
                    SumRows<uint16_t, 3>(reinterpret_cast<uint16_t*>(inter), src, sRow, g.rows, y, acc, static_cast<size_t>(g.w) * 3, 65535);
                row = inter;
            }
            if (g.sameW) {
                std::memcpy(dst + oRow * y, row, oRow);
                continue;
            }
            if (pixelBytes == 1)
                PickColumns(out, row, g.cols, g.nw);
            else if (pixelBytes == 3)
                SumColumns<uint8_t, 3>(out, row, g.cols, g.nw, 255);
            else
                SumColumns<uint16_t, 3>(reinterpret_cast<uint16_t*>(out), reinterpret_cast<const uint16_t*>(row), g.cols, g.nw, 65535);
            std::memcpy(dst + oRow * y, out, oRow);
        }
    };

    pass(r->Data, work->Data, bpp);
    if (AlphaMap8) {
        auto* map = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(g.nw) * g.nh, MEMF_CLEAR));
        if (!map) err = KXERR_NOMEMORY;
        else {
            pass(map, AlphaMap8, 1);
            AttachAlphaMap(r, map);
        }
    }
    FreeVec(inter);
    FreeVec(out);
    FreeVec(acc);
    if (err) return err;
    if (!AlphaMap8 && (err = CarryAlpha(r, work))) return err;
    MarkResult(r, work, source, CarryGray);
    *result = r;
    return KXERR_NONE;
}
