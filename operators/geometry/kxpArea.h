// kxpArea: the area and the background shared by the area operators
// (crop, cut, cut inverse, paste). The area comes from KX_AREA
// ("left,top,width,height") or, without that key, from four prefixed keys;
// all numbers are unsigned 32 bits, so a negative text counts as very
// large, and the area is then limited to the image.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "operators/kxpFrame.h"
#include "kxpRows.h"

struct KXPArea {
    uint32_t Left, Top, Width, Height;
};

// prefix: "CUT_", "CROP_" or "PASTE_".
inline KXPArea KXP_ReadArea(const KXPKeyReader& keys, const char* prefix, uint32_t width, uint32_t height)
{
    KXPArea a = {0, 0, width, height};
    if (keys.Has("KX_AREA")) {
        const char* t = keys.Text("KX_AREA");
        // Longer texts are ignored; each value is taken only when the comma
        // behind it is there, the height is whatever follows the third.
        if (!t || strlen(t) > 32) return a;
        const char* c1 = strchr(t, ',');
        if (!c1) return a;
        a.Left = static_cast<uint32_t>(KXP_ParseLong(t));
        const char* c2 = strchr(c1 + 1, ',');
        if (!c2) return a;
        a.Top = static_cast<uint32_t>(KXP_ParseLong(c1 + 1));
        const char* c3 = strchr(c2 + 1, ',');
        if (!c3) return a;
        a.Width = static_cast<uint32_t>(KXP_ParseLong(c2 + 1));
        a.Height = static_cast<uint32_t>(KXP_ParseLong(c3 + 1));
        return a;
    }
    char key[32];
    const char* names[] = {"LEFTEDGE", "TOPEDGE", "WIDTH", "HEIGHT"};
    uint32_t* fields[] = {&a.Left, &a.Top, &a.Width, &a.Height};
    for (int i = 0; i < 4; i++) {
        snprintf(key, sizeof key, "%s%s", prefix, names[i]);
        *fields[i] = keys.ULong(key, *fields[i]);
    }
    return a;
}

// Left and top at most the last column and row; width and height cut to
// what fits (compared without overflow).
inline void KXP_LimitArea(KXPArea& a, uint32_t width, uint32_t height)
{
    if (a.Top >= height) a.Top = height - 1;
    if (a.Left >= width) a.Left = width - 1;
    if (a.Height > height - a.Top) a.Height = height - a.Top;
    if (a.Width > width - a.Left) a.Width = width - a.Left;
}

// The fill pixel of cut and cut inverse: a palette index (BACKPEN, the
// remainder by 2^depth taken as non-negative, so that the fill is always a
// colour of the picture: -35 at 4 bits is 13) up to 8 bits, else BACKCOLOR
// 0xRRGGBB as bytes or as samples of byte x 257. Low is the byte an alpha
// map is filled with.
struct KXPBackground {
    uint8_t Pixel[6];
    uint8_t Low;
};

inline KXPBackground KXP_ReadBackground(const KXPKeyReader& keys, const KX_GfxBuffer* work)
{
    KXPBackground bg = {};
    if (work->ColorDepth <= 8) {
        const int32_t modulus = static_cast<int32_t>(1u << work->ColorDepth);
        int32_t pen = keys.Long("BACKPEN", 0) % modulus;
        if (pen < 0) pen += modulus;
        bg.Pixel[0] = bg.Low = static_cast<uint8_t>(pen & 0xFF);
        return bg;
    }
    const uint32_t v = keys.HexColor("BACKCOLOR", 0);
    const uint8_t rgb[3] = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    bg.Low = rgb[2];
    if (work->ColorDepth == 24) {
        std::memcpy(bg.Pixel, rgb, 3);
    } else {
        // A byte times 257 has both bytes equal: the same in either byte order.
        for (int i = 0; i < 3; i++) bg.Pixel[2 * i] = bg.Pixel[2 * i + 1] = rgb[i];
    }
    return bg;
}

// The area of cut and cut inverse (the "CUT_" keys, compared without
// regard to case) limited to the image, and their background;
// KXERR_SIZEMISMATCH for an empty area.
inline uint32_t KXP_ReadCutSettings(KXOperator* op, const KX_GfxBuffer* work, KXPArea* area, KXPBackground* bg)
{
    KXPKeyReader keys(op, true);
    *area = KXP_ReadArea(keys, "CUT_", work->Width, work->Height);
    KXP_LimitArea(*area, work->Width, work->Height);
    if (!area->Width || !area->Height) return KXERR_SIZEMISMATCH;
    *bg = KXP_ReadBackground(keys, work);
    return KXERR_NONE;
}
