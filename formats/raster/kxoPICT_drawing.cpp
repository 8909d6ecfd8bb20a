// kxoPICT_drawing: the vector content of a QuickDraw picture: lines, framed
// and painted rectangles, painted polygons and text in the built-in bitmap
// font, upright or turned by picture comments. Shapes are drawn with the
// pen (its size, pattern and transfer), text with the text transfer; other
// shapes (ovals, rounded rectangles, arcs, regions, erased, inverted and
// filled shapes) are passed over by the interpreter.
#include <algorithm>
#include <cstring>

#include "formats/raster/kxoPICT_player.h"

namespace kxpict {

namespace {

const Colour kBlack{0, 0, 0}, kWhite{0xFFFF, 0xFFFF, 0xFFFF};

bool inClip(const Player& p, int32_t x, int32_t y) {
    return x >= p.Clip.Left && x < p.Clip.Right && y >= p.Clip.Top && y < p.Clip.Bottom;
}

void plotPixel(Player& p, int32_t x, int32_t y, const Colour& c, Transfer t) {
    size_t i;
    if (inClip(p, x, y) && p.CanvasIndex(x, y, &i)) {
        p.Combine(i, c, t);
        p.Painted = true;
    }
}

// Every point of the rectangle (cut to the clip rectangle and the canvas)
// gets the pen pattern's colour at that point (a bit of 1 black, 0 white)
// through the pen transfer.
void fillPenRect(Player& p, Rect r) {
    const Rect canvas{p.Frame.Top, p.Frame.Left, p.Frame.Top + (int32_t)p.Height, p.Frame.Left + (int32_t)p.Width};
    r = Intersect(Intersect(r, p.Clip), canvas);
    const uint64_t area = r.Right > r.Left && r.Bottom > r.Top ? (uint64_t)(r.Right - r.Left) * (uint64_t)(r.Bottom - r.Top) : 0;
    p.PenWork += area ? area : 1;
    if (p.PenWork > p.PenBudget) Fail(14, "pen-budget");
    if (area) p.Painted = true;
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        size_t i;
        p.CanvasIndex(r.Left, y, &i);
        const uint8_t* pattern = p.PenPat + (y & 7) * 8;
        for (int32_t x = r.Left; x < r.Right; ++x, ++i) p.Combine(i, pattern[x & 7] ? kBlack : kWhite, p.PenTransfer);
    }
}

void stampPen(Player& p, int32_t x, int32_t y) { fillPenRect(p, Rect{y, x, y + p.PenH, x + p.PenW}); }

// The pen stamped at every point of the line (Bresenham), coordinates as
// signed 16-bit values; a line running off the canvas to the right or the
// bottom stops there.
void traceLine(Player& p, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    if (p.PenW == 0 && p.PenH == 0) return;
    x1 = (int16_t)x1, y1 = (int16_t)y1, x2 = (int16_t)x2, y2 = (int16_t)y2;
    const int32_t dx = x2 - x1, dy = y2 - y1;
    const int32_t sx = dx >= 0 ? 1 : -1, sy = dy >= 0 ? 1 : -1;
    const int32_t ax = 2 * std::abs(dx), ay = 2 * std::abs(dy);
    const int64_t right = (int64_t)p.Frame.Left + p.Width, bottom = (int64_t)p.Frame.Top + p.Height;
    int32_t x = x1, y = y1;
    if (ax > ay) {
        int32_t d = ay - ax / 2;
        for (;;) {
            stampPen(p, x, y);
            if (x == x2 || (sx == 1 && x >= right)) break;
            if (d >= 0) {
                y += sy;
                d -= ax;
            }
            x += sx;
            d += ay;
        }
    } else {
        int32_t d = ax - ay / 2;
        for (;;) {
            stampPen(p, x, y);
            if (y == y2 || (sy == 1 && y >= bottom)) break;
            if (d >= 0) {
                x += sx;
                d -= ay;
            }
            y += sy;
            d += ax;
        }
    }
}

void paintPenRect(Player& p, const Rect& r) { fillPenRect(p, r); }

void outlineRect(Player& p, const Rect& r) {
    if (p.PenW <= 0 || p.PenH <= 0) return;
    for (int32_t x = r.Left; x <= r.Right - p.PenW; x += p.PenW) {
        stampPen(p, x, r.Top);
        stampPen(p, x, r.Bottom - p.PenH);
    }
    for (int32_t y = r.Top; y <= r.Bottom - p.PenH; y += p.PenH) {
        stampPen(p, r.Left, y);
        stampPen(p, r.Right - p.PenW, y);
    }
}

struct Point {
    int32_t X, Y;
};

// Crossings of the polygon's edges with its rows, recorded while the edges
// are traced; the list's index is tested on every use.
class Crossings {
public:
    explicit Crossings(uint64_t capacity) : List(Alloc<Point>(capacity, false, "scan-1")), Capacity((int64_t)capacity) {}
    void Put(int64_t k, Point pt, const char* below, const char* above) {
        Check(k, below, above);
        List.get()[k] = pt;
    }
    void Check(int64_t k, const char* below, const char* above) const {
        if (k < 0) Fail(14, below);
        if (k >= Capacity) Fail(14, above);
    }
    Point* Data() { return List.get(); }

private:
    VecPtr<Point> List;
    int64_t Capacity;
};

void fillPolygon(Player& p, Point* pts, int32_t n) {
    pts[n] = pts[0];  // closed
    // One crossing at most for every row an edge passes, and the first point.
    uint64_t capacity = 2;
    for (int32_t i = 0; i < n; ++i) capacity += (uint64_t)std::abs(pts[i + 1].Y - pts[i].Y) + 1;
    Crossings list(capacity);
    int32_t x = pts[0].X, y = pts[0].Y;
    int64_t k = 0;
    if (pts[1].Y == pts[0].Y) list.Put(k++, pts[0], "scan-2", "scan-3");
    const int32_t d0 = pts[1].Y > pts[0].Y ? 1 : pts[1].Y < pts[0].Y ? -1 : 0;
    int32_t last = d0, sy = 1;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t dx = pts[i + 1].X - pts[i].X, dy = pts[i + 1].Y - pts[i].Y;
        const int32_t sx = dx >= 0 ? 1 : -1;
        sy = dy >= 0 ? 1 : -1;
        const int32_t ax = std::abs(dx), ay = std::abs(dy);
        int32_t e = 0;
        if (ax >= ay) {
            for (int32_t s = 0; s < ax; ++s) {
                e += ay;
                if (e >= ax) {
                    e -= ax;
                    y += sy;
                    if (last != sy) --k, last = sy;
                    list.Put(k++, Point{x + sx, y}, "scan-2", "scan-3");
                }
                x += sx;
                stampPen(p, x, y);
            }
        } else {
            for (int32_t s = 0; s < ay; ++s) {
                e += ax;
                if (e >= ay) {
                    e -= ay;
                    x += sx;
                }
                y += sy;
                if (last != sy) --k, last = sy;
                stampPen(p, x, y);
                list.Put(k++, Point{x, y}, "scan-4", "scan-5");
            }
        }
    }
    --k;
    if (d0 + sy == 0) --k;
    if (k < 0) return;  // nothing was crossed
    list.Check(k, "scan-6", "scan-7");
    Point* r = list.Data();
    // By row, then column: the spans between pairs of crossings are filled.
    std::sort(r, r + k + 1, [](const Point& a, const Point& b) { return a.Y != b.Y ? a.Y < b.Y : a.X < b.X; });
    bool filled = false;
    for (int64_t i = 0; i < k; ++i) {
        if (r[i].Y == r[i + 1].Y && !filled) {
            for (int32_t xx = r[i].X; xx <= r[i + 1].X; ++xx) stampPen(p, xx, r[i].Y);
            filled = true;
        } else {
            filled = false;
        }
    }
}

// ---- text ------------------------------------------------------------------------------

// A point turned about the text centre by the comment's rotation, in steps
// of a quarter turn.
void turnPoint(const Player& p, int32_t* x, int32_t* y) {
    const uint32_t r = p.Rotation;
    if (r >= 315 || r <= 45) return;
    const int32_t rx = *x - p.CentreX, ry = *y - p.CentreY;
    int32_t nx = rx, ny = ry;
    if (r <= 134) nx = ry, ny = rx;
    else if (r <= 224) nx = -rx;
    else nx = ry, ny = -rx;
    *x = nx + p.CentreX;
    *y = ny + p.CentreY;
}

void drawTurnedString(Player& p, int32_t x, int32_t y) {
    p.PenX = x;
    p.PenY = y;
    if (!p.CentreApplied) {
        p.CentreX += x;
        p.CentreY += y;
        p.CentreApplied = true;
    }
    const uint32_t count = p.In.Byte();
    uint8_t codes[256];
    p.In.Block(codes, count);
    for (uint32_t n = 0; n < count; ++n) {
        const Glyph* g = codes[n] > 190 ? nullptr : FontGlyph(codes[n]);
        if (!g) continue;
        for (uint32_t r = 0; r < g->Height; ++r)
            for (uint32_t c = 0; c < g->Width; ++c) {
                if (!g->Ink(c, r)) continue;
                int32_t px = x + g->XOffset + (int32_t)c, py = y - g->Height - g->YOffset + (int32_t)r;
                turnPoint(p, &px, &py);
                size_t i;
                if (px >= p.Frame.Left && px < p.Frame.Right && py >= p.Frame.Top && py < p.Frame.Bottom && p.CanvasIndex(px, py, &i)) {
                    p.Store(i, p.Fore);
                    p.Painted = true;
                }
            }
        x += g->Advance;
    }
}

// The count byte and the character codes: each glyph's box drawn through
// the text transfer, black for ink and white for the rest; the pen ends
// after the last glyph.
void drawString(Player& p, int32_t x, int32_t y) {
    if (p.Rotated) {
        drawTurnedString(p, x, y);
        return;
    }
    const uint32_t count = p.In.Byte();
    for (uint32_t n = 0; n < count; ++n) {
        const Glyph* g = FontGlyph(p.In.Byte());
        if (!g) continue;
        for (uint32_t r = 0; r < g->Height; ++r)
            for (uint32_t c = 0; c < g->Width; ++c)
                plotPixel(p, x + g->XOffset + (int32_t)c, y - g->Height - g->YOffset + (int32_t)r, g->Ink(c, r) ? kBlack : kWhite,
                          p.TextTransfer);
        x += g->Advance;
    }
    p.PenX = x;
    p.PenY = y;
}

}  // namespace

void Line(Player& p) {
    int32_t x1, y1;
    p.In.ReadPoint(&x1, &y1);
    p.In.ReadPoint(&p.PenX, &p.PenY);
    traceLine(p, x1, y1, p.PenX, p.PenY);
}

void LineFrom(Player& p) {
    int32_t x, y;
    p.In.ReadPoint(&x, &y);
    traceLine(p, p.PenX, p.PenY, x, y);
    p.PenX = x;
    p.PenY = y;
}

void ShortLine(Player& p) {
    int32_t x, y;
    p.In.ReadPoint(&x, &y);
    const int32_t dh = (int8_t)p.In.Byte(), dv = (int8_t)p.In.Byte();
    p.PenX = x + dh;
    p.PenY = y + dv;
    traceLine(p, x, y, p.PenX, p.PenY);
}

void ShortLineFrom(Player& p) {
    const int32_t dh = (int8_t)p.In.Byte(), dv = (int8_t)p.In.Byte();
    const int32_t x = p.PenX + dh, y = p.PenY + dv;
    traceLine(p, p.PenX, p.PenY, x, y);
    p.PenX = x;
    p.PenY = y;
}

void FrameRect(Player& p, bool same) {
    if (!same) p.LastRect = p.In.ReadRect();
    outlineRect(p, p.LastRect);
}

void PaintRect(Player& p, bool same) {
    if (!same) p.LastRect = p.In.ReadRect();
    paintPenRect(p, p.LastRect);
}

void PaintPoly(Player& p) {
    const int32_t size = p.In.Word();
    const int32_t n = (size - 10) >= 0 ? (size - 10) / 4 : -((10 - size + 3) / 4);  // rounded towards minus infinity
    if (n <= 0) Fail(3, "paint-1");
    VecPtr<Point> pts = Alloc<Point>((uint64_t)n + 1, false, "paint-1");
    p.In.ReadRect();  // bounding rectangle, not used
    for (int32_t i = 0; i < n; ++i) p.In.ReadPoint(&pts.get()[i].X, &pts.get()[i].Y);
    fillPolygon(p, pts.get(), n);
}

void Text(Player& p, uint32_t op) {
    if (op == 0x28) {  // LongText
        int32_t x, y;
        p.In.ReadPoint(&x, &y);
        drawString(p, x, y);
        return;
    }
    if (op == 0x29 || op == 0x2B) p.PenX += p.In.Byte();
    if (op == 0x2A || op == 0x2B) p.PenY += p.In.Byte();
    drawString(p, p.PenX, p.PenY);
}

}  // namespace kxpict
