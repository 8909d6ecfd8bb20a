// kxoPICT_pixmaps: the raster content of a QuickDraw picture: 1-bit bitmaps
// and indexed pixel maps (BitsRect, PackBitsRect and their region forms),
// 16- and 32-bit direct pixel maps (DirectBitsRect), and the pixel patterns
// that are read and passed over. Rows are decoded one at a time (PackBits or
// plain) and each is copied into the canvas as soon as it is decoded, so a
// record costs one row of memory and a file that ends early costs nothing.
#include <algorithm>
#include <cstring>

#include "formats/raster/kxoPICT_player.h"

namespace kxpict {

namespace {

struct PixMap {
    uint32_t RowBytes = 0;
    Rect Bounds;
    uint32_t PackType = 0, PixelType = 0, PixelSize = 0, CmpCount = 0, CmpSize = 0;
};

// The fields of an indexed pixel map after its row bytes; only plain
// indexed maps are drawn.
void fetchPixMap(Input& in, PixMap& pm, bool readRowBytes) {
    if (readRowBytes) pm.RowBytes = in.Word();
    pm.Bounds = in.ReadRect();
    in.Word();  // version
    pm.PackType = in.Word();
    in.Long();  // pack size
    in.Long();  // resolutions
    in.Long();
    pm.PixelType = in.Word();
    pm.PixelSize = in.Word();
    pm.CmpCount = in.Word();
    pm.CmpSize = in.Word();
    in.Skip(12);  // plane bytes, colour-table handle, reserved
    Log("pixelSize %ld, pixelType %ld, packType %ld, cmpCount %ld, cmpSize %ld", (long)pm.PixelSize, (long)pm.PixelType,
        (long)pm.PackType, (long)pm.CmpCount, (long)pm.CmpSize);
    if (pm.PixelType != 0) Fail(15, "rp-1");
    if (pm.CmpCount != 1) Fail(15, "rp-2");
    if (pm.PixelSize != pm.CmpSize) Fail(15, "rp-3");
}

// 256 colours, black until given; entries numbered beyond 255 are read
// and dropped (a pixel byte cannot reach them).
void fetchColorTable(Input& in, Colour* table) {
    in.Long();  // seed
    const uint32_t flags = in.Word();
    const uint32_t n = in.Word();
    Log("ctSeed %ld, ctFlags %ld, ctSize %ld", 0L, (long)flags, (long)n);
    for (uint32_t i = 0; i < 256; ++i) table[i] = Colour{0, 0, 0};
    for (uint32_t i = 0; i <= n; ++i) {
        const uint32_t value = in.Word();
        const uint32_t index = flags & 0x8000 ? i : value;
        if (index > n) Fail(14, "col-2");
        Colour c;
        c.R = in.Word();
        c.G = in.Word();
        c.B = in.Word();
        if (index < 256) table[index] = c;
    }
}

// 1-, 2- and 4-bit pixels to one byte each, the leftmost first; values
// beyond `room` are dropped.
size_t spread(uint8_t* out, size_t room, const uint8_t* in, size_t bytes, uint32_t pixelSize) {
    const uint32_t per = 8 / pixelSize, mask = (1u << pixelSize) - 1;
    size_t n = 0;
    for (size_t i = 0; i < bytes && n < room; ++i)
        for (uint32_t k = 0; k < per && n < room; ++k) out[n++] = (uint8_t)((in[i] >> (8 - pixelSize * (k + 1))) & mask);
    return n;
}

// The rows of one record, one at a time. Row bytes below 8: plain rows of
// exactly that many bytes; otherwise each row is a byte count and that many
// PackBits bytes. QuickDraw makes the count a word when the row bytes exceed
// 250 (indexed maps also when the pixels are deeper than 8 bits); direct
// maps are packed whatever their row bytes. Other writers switch elsewhere:
// ImageMagick and GraphicsMagick already when the unpacked row exceeds 200
// bytes (components x width for direct maps). So a row that, read with the
// expected count width, runs past its row or leaves it short is read again
// with the other width, and when that gives exactly one row, the record's
// remaining rows are read that way first. A row holds lineLength bytes;
// whatever the data would put beyond them is dropped.
class RowDecoder {
public:
    RowDecoder(Input& in, uint32_t rowBytes, uint32_t pixelSize, uint32_t lineLength, bool direct = false)
        : In(in), PixelSize(pixelSize), Line(lineLength), Direct(direct) {
        rowBytes &= direct ? 0x3FFF : pixelSize <= 8 ? 0x7FFF : 0xFFFF;
        RowBytes = rowBytes ? rowBytes : lineLength;
        if (direct && RowBytes < 8) RowBytes = 8;  // packed all the same
        Spreads = pixelSize == 1 || pixelSize == 2 || pixelSize == 4;
        Wide = RowBytes > 250 || (PixelSize > 8 && !Direct);
        MaxPacked = 2 * (uint64_t)(Direct ? std::max(RowBytes, Line) : RowBytes);
        Packed = Alloc<uint8_t>(RowBytes < 8 ? RowBytes : MaxPacked, false, "up-3");
        Row = Alloc<uint8_t>((uint64_t)Line + 16, true, "up-1");
    }
    // Before the first row of a record that draws: the file must hold
    // `rows` rows at the least they can take (plain rows whole; packed ones
    // a count and two bytes for every 256 they unpack to), so that a few
    // bytes never paint a canvas of thousands of empty rows before they
    // run out.
    void Require(uint64_t rows) {
        const uint64_t unpacked = Direct ? Line : Spreads ? RowBytes : std::min(RowBytes, Line);
        const uint64_t least = RowBytes < 8 ? RowBytes : 1 + (unpacked + 255) / 256 * 2;
        if (In.Remaining() / least < rows) Fail(14, "read-1");
    }
    const uint8_t* Next() {
        uint8_t* row = Row.get();
        if (RowBytes < 8) {
            memset(row, 0, Line);
            In.Block(Packed.get(), RowBytes);
            if (Spreads) spread(row, Line, Packed.get(), RowBytes, PixelSize);
            else memcpy(row, Packed.get(), RowBytes < Line ? RowBytes : Line);
            return row;
        }
        const uint64_t start = In.Consumed();
        if (Unpack(Wide, false)) return row;
        In.Rewind(start);
        if (Unpack(!Wide, false)) {
            Wide = !Wide;
            return row;
        }
        // Neither width fits: the expected one, with its failures.
        In.Rewind(start);
        Unpack(Wide, true);
        return row;
    }

private:
    // Reads one packed row with a count of a word (wide) or a byte and
    // unpacks it into Row. True when it gives exactly one row: every run
    // whole and the unpacked bytes those of the row bytes (or of the line,
    // for direct and 8-bit maps). Without strict, a count too large or past
    // the file's end reads nothing more and answers false.
    bool Unpack(bool wide, bool strict) {
        uint8_t* row = Row.get();
        memset(row, 0, Line);
        if (!strict && In.Remaining() < (wide ? 2u : 1u)) return false;
        const uint32_t length = wide ? In.Word() : In.Byte();
        if (length > MaxPacked) {
            if (strict) Fail(14, "up-2");
            return false;
        }
        if (!strict && In.Remaining() < length) return false;
        const uint8_t* p = Packed.get();
        In.Block(Packed.get(), length);
        const uint32_t unit = PixelSize == 16 ? 2 : 1;
        size_t at = 0, i = 0;
        uint64_t unpacked = 0;
        bool whole = true;
        while (i < length) {
            const uint32_t c = p[i++];
            if (c >= 0x80) {  // 0xFF repeats twice, 0x81 128 times, 0x80 129 times
                const uint32_t count = 257 - c;
                if (i + unit > length) {
                    whole = false;
                    break;
                }
                uint8_t value[8];
                const size_t n = Spreads ? spread(value, sizeof(value), p + i, 1, PixelSize) : unit;
                if (!Spreads) memcpy(value, p + i, unit);
                for (uint32_t k = 0; k < count && at < Line; ++k)
                    for (size_t j = 0; j < n && at < Line; ++j) row[at++] = value[j];
                i += unit;
                unpacked += (uint64_t)count * unit;
            } else {
                size_t bytes = (size_t)(c + 1) * unit;
                if (bytes > length - i) bytes = length - i, whole = false;
                if (Spreads) {
                    at += spread(row + at, Line - at, p + i, bytes, PixelSize);
                } else {
                    const size_t n = bytes < Line - at ? bytes : Line - at;
                    memcpy(row + at, p + i, n);
                    at += n;
                }
                i += bytes;
                unpacked += bytes;
            }
        }
        return whole && (unpacked == RowBytes || (!Spreads && unpacked == Line));
    }

    Input& In;
    uint32_t PixelSize, Line, RowBytes = 0;
    uint64_t MaxPacked = 0;
    bool Direct, Spreads = false, Wide = false;
    VecPtr<uint8_t> Packed, Row;
};

// Where the rows go: the source clip (source rectangle within the bounds)
// copied from its top-left to the top-left of the destination clip
// (destination rectangle within the frame and the canvas), one to one, as
// much as both clips hold.
struct Blit {
    bool Draw = false;
    int32_t FirstRow = 0, Rows = 0;  // bounds rows that are copied
    int32_t Column = 0, Columns = 0;  // first source pixel within a row, and the count
    size_t Target = 0;                // canvas index of the first pixel drawn
    uint32_t Mode = 0;
    bool Plain = true;
    Transfer How = Transfer::SrcCopy;
};

Blit prepare(Player& p, const Rect& src, const Rect& bounds, const Rect& dst, uint32_t mode) {
    Blit b;
    Log("blit-1");
    if (p.Rotated) return b;  // pixel maps are not drawn while text is turned
    Log("blit-2");
    const Rect s = Intersect(src, bounds);
    Rect canvas{p.Frame.Top, p.Frame.Left, p.Frame.Top + (int32_t)p.Height, p.Frame.Left + (int32_t)p.Width};
    const Rect d = Intersect(Intersect(dst, p.Frame), canvas);
    const int32_t w = std::min(s.Right - s.Left, d.Right - d.Left), h = std::min(s.Bottom - s.Top, d.Bottom - d.Top);
    if (w <= 0 || h <= 0) return b;
    b.Draw = true;
    b.FirstRow = s.Top - bounds.Top;
    b.Rows = h;
    b.Column = s.Left - bounds.Left;
    b.Columns = w;
    p.CanvasIndex(d.Left, d.Top, &b.Target);
    b.Mode = mode & ~0x40u;
    b.Plain = b.Mode == 0;
    b.How = SelectTransfer(b.Mode);
    return b;
}

// Copies one decoded row (bounds row `row`) if the blit covers it.
// pixelSize 8: bytes through the table; 16: 1-5-5-5 words; 32: component
// runs of `run` bytes (alpha first when there are four components).
void copyRow(Player& p, const Blit& b, int32_t row, const uint8_t* src, uint32_t pixelSize, const Colour* table,
             uint32_t components, uint32_t run) {
    if (!b.Draw || row < b.FirstRow || row >= b.FirstRow + b.Rows) return;
    p.Painted = true;
    const size_t target = b.Target + (size_t)(row - b.FirstRow) * p.Width;
    const uint32_t n = (uint32_t)b.Columns;
    if (pixelSize == 8) {
        const uint8_t* s = src + b.Column;
        for (uint32_t x = 0; x < n; ++x) {
            const Colour& c = table[s[x]];
            if (b.Plain) p.Store(target + x, c);
            else p.Combine(target + x, c, b.How);
        }
    } else if (pixelSize == 16) {
        const uint8_t* s = src + 2 * (size_t)b.Column;
        for (uint32_t x = 0; x < n; ++x) {
            const uint32_t b0 = s[2 * x], b1 = s[2 * x + 1];
            const Colour c{(uint16_t)((b0 & 0x7C) << 9), (uint16_t)((b0 & 0x03) << 14 | (b1 & 0xE0) << 6), (uint16_t)((b1 & 0x1F) << 11)};
            if (b.Plain) p.Store(target + x, c);
            else p.Combine(target + x, c, b.How);
        }
    } else if (pixelSize == 32) {
        const uint8_t* a = components == 4 ? src + b.Column : nullptr;
        const uint8_t* sr = src + (components == 4 ? run : 0) + b.Column;
        const uint8_t *sg = sr + run, *sb = sg + run;
        const bool alpha = a && p.Alpha;
        for (uint32_t x = 0; x < n; ++x) {
            const Colour c{(uint16_t)(sr[x] << 8), (uint16_t)(sg[x] << 8), (uint16_t)(sb[x] << 8)};
            if (b.Plain) p.Store(target + x, c);
            else p.Combine(target + x, c, b.How);
            if (alpha) p.StoreAlpha(target + x, (uint16_t)(a[x] << 8));
        }
    }
}

void logCopy(const Blit& b, uint32_t pixelSize) {
    if (!b.Draw) return;
    Log("%ld bit - %s", (long)pixelSize, b.Plain ? "notrf" : "trf");
}

// Pixels per row that row bytes of this depth can hold (bitmaps and
// indexed maps of 1, 2, 4 or 8 bits).
bool rowHolds(uint32_t rowBytes, uint32_t pixelSize, uint32_t width) {
    if (pixelSize != 1 && pixelSize != 2 && pixelSize != 4 && pixelSize != 8) return true;
    return (uint64_t)width <= (uint64_t)rowBytes * 8 / pixelSize;
}

// The rows of a bitmap or indexed map, drawn as bytes through the table.
void drawIndexedRows(Player& p, const Rect& bounds, uint32_t rowBytes, uint32_t pixelSize, const Colour* table, const Rect& src,
                     const Rect& dst, uint32_t mode) {
    const uint32_t width = (uint32_t)(bounds.Right - bounds.Left);
    uint32_t line = pixelSize == 16 ? 2 * width : pixelSize == 32 ? 3 * width : width;
    const uint32_t effective = (pixelSize <= 8 ? rowBytes & 0x7FFF : rowBytes) ? (pixelSize <= 8 ? rowBytes & 0x7FFF : rowBytes) : line;
    // A bounds wider than the row's pixels would be drawn from bytes the row never had.
    if (!rowHolds(effective, pixelSize, width)) Fail(15, "up-6");
    RowDecoder rows(p.In, rowBytes, pixelSize, line);
    const Blit b = prepare(p, src, bounds, dst, mode);
    logCopy(b, 8);
    const int32_t height = bounds.Bottom - bounds.Top;
    if (height > 0) rows.Require((uint64_t)height);
    for (int32_t y = 0; y < height; ++y) copyRow(p, b, y, rows.Next(), 8, table, 0, 0);
    Log("blit-end");
}

void drawBitmap(Player& p, uint32_t rowBytes, bool region) {
    const Rect bounds = p.In.ReadRect();
    if (bounds.Right - bounds.Left <= 0) Fail(3, "do-1");
    const Rect src = p.In.ReadRect(), dst = p.In.ReadRect();
    const uint32_t mode = p.In.Word();
    if (region) {
        const uint32_t size = p.In.Word();
        if (size == 1 || size == 2) p.In.Skip(size);
        else if (size > 2) p.In.Skip(size - 2);
    }
    Colour table[256];
    table[0] = Colour{0xFFFF, 0xFFFF, 0xFFFF};  // 0 white, 1 black
    drawIndexedRows(p, bounds, rowBytes, 1, table, src, dst, mode);
}

void drawPixMap(Player& p, uint32_t rowBytes, bool region) {
    Log("dopixmap-begin (rowBytes %ld (%ld))", (long)rowBytes, (long)(rowBytes & 0x7FFF));
    PixMap pm;
    pm.RowBytes = rowBytes;
    fetchPixMap(p.In, pm, false);
    if (pm.Bounds.Right - pm.Bounds.Left <= 0) Fail(3, "do-1");
    Colour table[256];
    fetchColorTable(p.In, table);
    const Rect src = p.In.ReadRect(), dst = p.In.ReadRect();
    const uint32_t mode = p.In.Word();
    if (region) {
        const uint32_t size = p.In.Word();
        if (size == 1 || size == 2) p.In.Skip(size);
        else if (size > 2) p.In.Skip(size - 2);
    }
    drawIndexedRows(p, pm.Bounds, rowBytes, pm.PixelSize, table, src, dst, mode);
    Log("dopixmap-end");
}

}  // namespace

void DrawBitsRect(Player& p, bool region) {
    const uint32_t rowBytes = p.In.Word();
    Log(region ? "bitsregion-begin" : "bitsrect-begin");
    if (rowBytes & 0x8000) drawPixMap(p, rowBytes, region);
    else drawBitmap(p, rowBytes, region);
    Log("bitsrect-end");
}

void DrawDirectBits(Player& p) {
    Input& in = p.In;
    in.Skip(4);  // base address
    const uint32_t rowBytes = in.Word();  // tells the count width; the rows are as long as the pixels make them
    const Rect bounds = in.ReadRect();
    in.Skip(2);  // version
    const int32_t width = bounds.Right - bounds.Left;
    if (width <= 0) Fail(3, "op-1");
    uint32_t packType = in.Word();
    in.Long();  // pack size
    in.Long();  // resolutions
    in.Long();
    in.Word();  // pixel type
    const uint32_t pixelSize = in.Word(), cmpCount = in.Word();
    in.Word();    // component size
    in.Skip(12);  // plane bytes, colour-table handle, reserved
    Log("pixelSize %ld", (long)pixelSize);
    Log("packtype-%ld", (long)packType);
    Log("cmpCount-%ld", (long)cmpCount);
    if (packType == 0) packType = pixelSize == 16 ? 3 : pixelSize == 32 ? 4 : 0;
    if (packType > 4) Fail(15, "9a: unknown packType >4");
    // A four-component map brings alpha; a map of any other count is read
    // as three components.
    const uint32_t components = pixelSize == 32 && cmpCount == 4 ? 4 : 3;
    const uint32_t line = pixelSize == 16 ? 2 * (uint32_t)width : pixelSize == 32 ? components * (uint32_t)width : (uint32_t)width;
    if (components == 4) p.MakeAlphaPlane();
    const Rect src = in.ReadRect(), dst = in.ReadRect();
    const uint32_t mode = in.Word();
    RowDecoder rows(in, rowBytes, pixelSize, line, true);
    const bool drawn = pixelSize == 16 || pixelSize == 32;
    Blit b;
    if (drawn) b = prepare(p, src, bounds, dst, mode);
    logCopy(b, pixelSize);
    const int32_t height = bounds.Bottom - bounds.Top;
    if (height > 0) rows.Require((uint64_t)height);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = rows.Next();
        if (drawn) copyRow(p, b, y, row, pixelSize, nullptr, components, (uint32_t)width);
    }
    if (drawn) Log("blit-end");
    Log("op9a-end");
}

void SkipPixPat(Player& p) {
    Input& in = p.In;
    const uint32_t type = in.Word();
    if (type == 1) {
        in.Skip(8);  // the 1-bit pattern
        PixMap pm;
        fetchPixMap(in, pm, true);
        Colour table[256];
        fetchColorTable(in, table);
        const int32_t width = pm.Bounds.Right - pm.Bounds.Left, height = pm.Bounds.Bottom - pm.Bounds.Top;
        if (width <= 0) return;
        const uint32_t line =
            pm.PixelSize == 16 ? 2 * (uint32_t)width : pm.PixelSize == 32 ? 3 * (uint32_t)width : (uint32_t)width;
        RowDecoder rows(in, pm.RowBytes, pm.PixelSize, line);
        for (int32_t y = 0; y < height; ++y) rows.Next();
    } else if (type == 2) {
        in.Skip(8 + 5);  // the pattern and the RGB colour; its last byte is the opcode pad
    } else {
        Fail(15, "pat-1");
    }
}

}  // namespace kxpict
