// GIF LZW codec: round trips checked against a plain dictionary decoder
// written here, crafted streams for the decoder's corner cases, the output
// bound, and malformed input under the sanitizers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/kxtypes.h"
#include "formats/raster/gif_lzw.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A straightforward GIF LZW decoder over a dictionary of strings; also
// records every code it reads.
struct RefDecoded {
    Bytes pixels;
    std::vector<int> codes;
    bool ok = false;
};

RefDecoded refDecode(const Bytes& block) {
    RefDecoded r;
    if (block.empty()) return r;
    const int m = block[0];
    Bytes payload;
    size_t p = 1;
    while (p < block.size() && block[p] != 0) {
        size_t n = block[p++];
        for (size_t i = 0; i < n && p < block.size(); ++i) payload.push_back(block[p++]);
    }
    const int clear = 1 << m;
    std::vector<Bytes> dict;
    int width = m + 1;
    size_t bit = 0;
    Bytes prev;
    auto reset = [&] {
        dict.clear();
        for (int i = 0; i < clear + 2; ++i) dict.push_back(Bytes{static_cast<uint8_t>(i)});
        width = m + 1;
        prev.clear();
    };
    reset();
    for (;;) {
        if (bit + width > payload.size() * 8) return r;
        int code = 0;
        for (int i = 0; i < width; ++i, ++bit)
            if (payload[bit / 8] & (1 << (bit % 8))) code |= 1 << i;
        r.codes.push_back(code);
        if (code == clear) {
            reset();
            continue;
        }
        if (code == clear + 1) break;
        Bytes entry;
        if (prev.empty()) {
            entry = dict.at(code);
        } else {
            if (code < static_cast<int>(dict.size())) {
                entry = dict[code];
            } else {
                entry = prev;
                entry.push_back(prev[0]);
            }
            if (dict.size() < 4096) {
                Bytes add = prev;
                add.push_back(entry[0]);
                dict.push_back(add);
            }
        }
        if (static_cast<int>(dict.size()) == (1 << width) && width < 12) ++width;
        r.pixels.insert(r.pixels.end(), entry.begin(), entry.end());
        prev = entry;
    }
    r.ok = true;
    return r;
}

// Packs codes of explicit widths into sub-blocks of up to 255 bytes.
Bytes pack(int m, const std::vector<std::pair<int, int>>& codes, bool terminator = true) {
    Bytes bits;
    uint32_t acc = 0;
    int n = 0;
    for (auto [code, width] : codes) {
        acc |= static_cast<uint32_t>(code) << n;
        n += width;
        while (n >= 8) {
            bits.push_back(static_cast<uint8_t>(acc));
            acc >>= 8;
            n -= 8;
        }
    }
    if (n > 0) bits.push_back(static_cast<uint8_t>(acc));
    Bytes out{static_cast<uint8_t>(m)};
    for (size_t i = 0; i < bits.size(); i += 255) {
        size_t len = std::min<size_t>(255, bits.size() - i);
        out.push_back(static_cast<uint8_t>(len));
        out.insert(out.end(), bits.begin() + i, bits.begin() + i + len);
    }
    if (terminator) out.push_back(0);
    return out;
}

Bytes pattern(uint32_t w, uint32_t h, uint32_t depth, int kind, uint32_t seed) {
    Bytes px(static_cast<size_t>(w) * h);
    std::mt19937 rng(seed);
    const uint32_t colours = 1u << depth;
    for (size_t i = 0; i < px.size(); ++i) {
        switch (kind) {
            case 0: px[i] = static_cast<uint8_t>(rng() % colours); break;                  // noise
            case 1: px[i] = static_cast<uint8_t>(colours - 1); break;                      // flat
            default: px[i] = static_cast<uint8_t>(((i % w) + (i / w) / 3) % colours); break;  // ramps
        }
    }
    return px;
}

// Encodes into an area of exactly the given size followed by guard bytes.
uint32_t encode(const Bytes& px, uint32_t w, uint32_t h, uint32_t depth, uint32_t flags, uint64_t area, Bytes* block) {
    Bytes buf(area + 64, 0xA5);
    uint8_t* out = buf.data();
    GifLzwEncoder enc;
    uint32_t err = enc.EncodeImage(&out, buf.data() + area, px.data(), w, h, depth, flags);
    for (size_t i = area; i < buf.size(); ++i) EXPECT_EQ(buf[i], 0xA5) << "written past the area at " << i;
    block->assign(buf.data(), out);
    return err;
}

uint32_t decode(const Bytes& block, uint32_t w, uint32_t h, bool interlaced, Bytes* px) {
    px->assign(static_cast<size_t>(w) * h, 0xEE);
    // A copy of exactly its own size, so that any read past it is caught.
    std::vector<uint8_t> data(block);
    return GifLzwDecode(data.data(), data.data() + data.size(), w, h, px->data(), px->data() + px->size(),
                        interlaced);
}

Bytes deinterlace(const Bytes& px, uint32_t w, uint32_t h) {
    // Rows of an interlaced stream, as a non-interlaced decode lays them out.
    std::vector<uint32_t> order;
    const uint32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int p = 0; p < 4; ++p)
        for (uint32_t y = start[p]; y < h; y += step[p]) order.push_back(y);
    Bytes out;
    for (uint32_t y : order) out.insert(out.end(), px.begin() + y * w, px.begin() + (y + 1) * w);
    return out;
}

}  // namespace

TEST(GifLzw, RoundTripsEveryWidthDepthAndOrder) {
    const uint32_t widths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 61};
    const uint32_t heights[] = {1, 3, 9, 40};
    for (uint32_t w : widths)
        for (uint32_t h : heights)
            for (uint32_t depth : {1u, 2u, 4u, 7u, 8u})
                for (int kind : {0, 1, 2})
                    for (uint32_t flags : {0u, kGifInterlaced}) {
                        SCOPED_TRACE(testing::Message() << w << "x" << h << " depth " << depth << " kind " << kind
                                                        << " flags " << flags);
                        const Bytes px = pattern(w, h, depth, kind, w * 131 + h);
                        Bytes block;
                        ASSERT_EQ(encode(px, w, h, depth, flags, GifLzwBound(uint64_t(w) * h), &block), KXERR_NONE);
                        ASSERT_EQ(block[0], depth < 2 ? 2 : depth);
                        ASSERT_EQ(block.back(), 0);
                        const bool il = flags != 0;
                        RefDecoded ref = refDecode(block);
                        ASSERT_TRUE(ref.ok);
                        EXPECT_EQ(ref.pixels, il ? deinterlace(px, w, h) : px);
                        Bytes out;
                        ASSERT_EQ(decode(block, w, h, il, &out), KXERR_NONE);
                        EXPECT_EQ(out, px);
                    }
}

TEST(GifLzw, StreamStartsWithClearCodeOfTheMinimumSize) {
    struct Case {
        uint32_t depth;
        int minCodeSize;
        int clear;
    } cases[] = {{1, 2, 4}, {2, 2, 4}, {3, 3, 8}, {8, 8, 256}};
    for (const Case& c : cases) {
        const Bytes px = pattern(5, 5, c.depth, 2, 1);
        Bytes block;
        ASSERT_EQ(encode(px, 5, 5, c.depth, 0, GifLzwBound(25), &block), KXERR_NONE);
        EXPECT_EQ(block[0], c.minCodeSize);
        RefDecoded ref = refDecode(block);
        ASSERT_TRUE(ref.ok);
        EXPECT_EQ(ref.codes.front(), c.clear);
        EXPECT_EQ(ref.codes.back(), c.clear + 1);
    }
}

TEST(GifLzw, FullTableIsFollowedByClearCodeAndNewTable) {
    const uint32_t w = 211, h = 199;
    const Bytes px = pattern(w, h, 8, 0, 7);
    Bytes block;
    ASSERT_EQ(encode(px, w, h, 8, 0, GifLzwBound(uint64_t(w) * h), &block), KXERR_NONE);
    RefDecoded ref = refDecode(block);
    ASSERT_TRUE(ref.ok);
    EXPECT_EQ(ref.pixels, px);
    std::vector<size_t> clears;
    for (size_t i = 0; i < ref.codes.size(); ++i)
        if (ref.codes[i] == 256) clears.push_back(i);
    ASSERT_GE(clears.size(), 3u);
    EXPECT_EQ(clears[0], 0u);
    // One code without an entry, then one entry per code up to 4096.
    EXPECT_EQ(clears[1] - clears[0] - 1, 4096u - 258u + 1u);
    Bytes out;
    ASSERT_EQ(decode(block, w, h, false, &out), KXERR_NONE);
    EXPECT_EQ(out, px);
}

TEST(GifLzw, OutputAreaFromTheBoundHoldsTinyAndIncompressiblePictures) {
    struct Case {
        uint32_t w, h, depth;
        uint64_t area;  // 0: the bound
        uint32_t result;
    } cases[] = {
        {1, 1, 8, 0, KXERR_NONE},        {1, 1, 1, 0, KXERR_NONE},    {2, 1, 8, 0, KXERR_NONE},
        {256, 256, 8, 0, KXERR_NONE},    {16, 16, 8, 8192, KXERR_NONE},
        {64, 64, 8, 64 * (64 + 16), KXERR_ENCODE},  // noise does not fit in w x (h + h/4)
        {64, 64, 8, 300, KXERR_ENCODE},  {1, 1, 8, 3, KXERR_ENCODE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " area " << c.area);
        const Bytes px = pattern(c.w, c.h, c.depth, 0, 99);
        const uint64_t area = c.area ? c.area : GifLzwBound(uint64_t(c.w) * c.h);
        Bytes block;
        ASSERT_EQ(encode(px, c.w, c.h, c.depth, 0, area, &block), c.result);
        if (c.result == KXERR_NONE) {
            Bytes out;
            ASSERT_EQ(decode(block, c.w, c.h, false, &out), KXERR_NONE);
            EXPECT_EQ(out, px);
        }
    }
}

TEST(GifLzw, PixelsAboveTheDepthAreMaskedIntoAValidStream) {
    const Bytes px = {0, 1, 2, 3, 7, 255};
    Bytes block;
    ASSERT_EQ(encode(px, 6, 1, 1, 0, GifLzwBound(6), &block), KXERR_NONE);
    RefDecoded ref = refDecode(block);
    ASSERT_TRUE(ref.ok);
    EXPECT_EQ(ref.pixels, (Bytes{0, 1, 0, 1, 1, 1}));
}

TEST(GifLzw, InterlacedShortPicturesKeepToTheirRows) {
    for (uint32_t h = 1; h <= 9; ++h) {
        const uint32_t w = 3;
        Bytes px;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) px.push_back(static_cast<uint8_t>(y * 10 + x));
        Bytes block;
        ASSERT_EQ(encode(px, w, h, 8, kGifInterlaced, GifLzwBound(w * h), &block), KXERR_NONE);
        Bytes straight;
        ASSERT_EQ(decode(block, w, h, false, &straight), KXERR_NONE);
        EXPECT_EQ(straight, deinterlace(px, w, h)) << "height " << h;
        if (h == 3) {
            EXPECT_EQ(straight, (Bytes{0, 1, 2, 20, 21, 22, 10, 11, 12}));
        }
    }
}

TEST(GifLzw, DecoderCornerCases) {
    // m = 2: clear 4, end 5, first free code 6; width 3 until the table reaches 8.
    struct Case {
        const char* name;
        Bytes data;
        uint32_t w, h;
        uint32_t result;
        Bytes pixels;
    } cases[] = {
        {"leading clear codes", pack(2, {{4, 3}, {4, 3}, {4, 3}, {1, 3}, {5, 3}}), 1, 1, KXERR_NONE, {1}},
        {"KwKwK", pack(2, {{4, 3}, {1, 3}, {2, 3}, {7, 3}, {5, 4}}), 4, 1, KXERR_NONE, {1, 2, 2, 2}},
        {"code above the next free one", pack(2, {{4, 3}, {1, 3}, {7, 3}, {5, 3}}), 3, 1, KXERR_NONE, {1, 1, 1}},
        {"clear code mid-stream", pack(2, {{4, 3}, {1, 3}, {2, 3}, {4, 3}, {3, 3}, {6, 3}}), 5, 1, KXERR_NONE,
         {1, 2, 3, 3, 3}},
        {"end code then terminator", pack(2, {{4, 3}, {1, 3}, {5, 3}}), 3, 1, KXERR_NONE, {1, 254, 0}},
        {"end code then data end", pack(2, {{4, 3}, {1, 3}, {5, 3}}, false), 3, 1, KXERR_NONE, {1, 253, 0}},
        {"end code, more sub-blocks, terminator", Bytes{2, 2, 0x4C, 0x01, 2, 0xFF, 0xFF, 0}, 3, 1, KXERR_NONE,
         {1, 254, 0}},
        {"data runs out", pack(2, {{4, 3}, {1, 3}}, false), 3, 1, KXERR_NONE, {1, 255, 0}},
        {"no code after clear", Bytes{7, 1, 0x80, 0}, 2, 1, KXERR_NONE, {255, 0}},
        {"sub-block longer than the data", Bytes{2, 200, 0x0C, 0x0A}, 3, 1, KXERR_NONE, {1, 0, 253}},
        {"first code is no pixel", pack(2, {{4, 3}, {7, 3}}), 2, 1, KXERR_DECODE, {0, 0}},
        {"pixels after the picture are ignored", pack(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 4}}), 2, 1,
         KXERR_NONE, {1, 2}},
        {"minimum code size 0", Bytes{0, 1, 0, 0}, 1, 1, KXERR_DECODE, {0}},
        {"minimum code size 12", Bytes{12, 2, 0, 0, 0}, 1, 1, KXERR_DECODE, {0}},
        {"minimum code size 255", Bytes{255, 2, 0, 0, 0}, 1, 1, KXERR_DECODE, {0}},
        {"no data at all", Bytes{}, 1, 1, KXERR_DECODE, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out;
        std::vector<uint8_t> data(c.data);
        out.assign(c.w * c.h, 0xEE);
        EXPECT_EQ(GifLzwDecode(data.data(), data.data() + data.size(), c.w, c.h, out.data(), out.data() + out.size(),
                               false),
                  c.result);
        EXPECT_EQ(out, c.pixels);
    }
}

TEST(GifLzw, FullTableWithoutClearGoesOnWithTwelveBitCodes) {
    // Literal codes only: each after the first makes an entry until 4096;
    // then twelve-bit codes without new entries.
    std::vector<std::pair<int, int>> codes{{4, 3}};
    Bytes expected;
    int next = 6, width = 3;
    for (int i = 0; i < 4091 + 20; ++i) {
        codes.push_back({i % 4, width});
        expected.push_back(static_cast<uint8_t>(i % 4));
        if (i > 0 && next < 4096) {
            ++next;
            if (next == (1 << width) && width < 12) ++width;
        }
    }
    ASSERT_EQ(width, 12);
    codes.push_back({5, 12});
    const Bytes block = pack(2, codes);
    ASSERT_EQ(refDecode(block).pixels, expected);
    Bytes out;
    ASSERT_EQ(decode(block, static_cast<uint32_t>(expected.size()), 1, false, &out), KXERR_NONE);
    EXPECT_EQ(out, expected);
}

TEST(GifLzw, MalformedStreamsStayInsideTheirAreas) {
    std::mt19937 rng(2024);
    const Bytes px = pattern(23, 19, 8, 2, 5);
    Bytes good;
    ASSERT_EQ(encode(px, 23, 19, 8, 0, GifLzwBound(23 * 19), &good), KXERR_NONE);
    for (int round = 0; round < 3000; ++round) {
        Bytes data;
        if (round % 2 == 0) {
            data.resize(rng() % 300);
            for (auto& b : data) b = static_cast<uint8_t>(rng());
            if (!data.empty()) data[0] = static_cast<uint8_t>(1 + rng() % 11);
        } else {
            data = good;
            for (int k = 0; k < 4; ++k) data[rng() % data.size()] = static_cast<uint8_t>(rng());
            data.resize(rng() % (data.size() + 1));
        }
        const uint32_t w = 1 + rng() % 40, h = 1 + rng() % 40;
        const bool il = rng() % 2;
        Bytes out, again(size_t(w) * h, 0x11);
        const uint32_t r = decode(data, w, h, il, &out);
        ASSERT_TRUE(r == KXERR_NONE || r == KXERR_DECODE) << r;
        // Filled whole: what was there before does not show through.
        GifLzwDecode(data.data(), data.data() + data.size(), w, h, again.data(), again.data() + again.size(), il);
        ASSERT_EQ(out, again);
    }
}

TEST(GifLzw, DecoderRefusesAPictureAreaTooSmall) {
    const Bytes data = pack(2, {{4, 3}, {1, 3}, {5, 3}});
    Bytes out(3);
    EXPECT_EQ(GifLzwDecode(data.data(), data.data() + data.size(), 2, 2, out.data(), out.data() + out.size(), false),
              KXERR_INTERNALACCESS);
}

TEST(GifLzw, ProgressReports) {
    std::vector<uint32_t> seen;
    auto hook = [](void* user, uint32_t percent) { static_cast<std::vector<uint32_t>*>(user)->push_back(percent); };
    const Bytes px = pattern(4, 20, 8, 2, 1);
    Bytes block;
    ASSERT_EQ(encode(px, 4, 20, 8, 0, GifLzwBound(80), &block), KXERR_NONE);
    Bytes out(80);
    ASSERT_EQ(GifLzwDecode(block.data(), block.data() + block.size(), 4, 20, out.data(), out.data() + 80, false, hook,
                           &seen),
              KXERR_NONE);
    EXPECT_EQ(seen, (std::vector<uint32_t>{5, 45, 85}));

    seen.clear();
    uint8_t area[512];
    uint8_t* p = area;
    GifLzwEncoder enc;
    ASSERT_EQ(enc.EncodeImage(&p, area + sizeof area, px.data(), 4, 20, 8, kGifInterlaced, hook, &seen), KXERR_NONE);
    EXPECT_EQ(seen.front(), 0u);
    EXPECT_EQ(seen.back(), 100u);
}
