// kxoPSP: no program here writes Paint Shop Pro files, so the fixtures are
// byte tables built in the test: every bit depth, each compression
// (uncompressed, run-length, deflated) with 14- and 10-byte block headers;
// channels by type, palettes, grey files; the refusals, scans that must
// move on, and damaged input.
#include <gtest/gtest.h>
#include <zlib.h>

#include <tuple>

#include "formats/raster/kxoPSP.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "tiny_load.h"

using namespace kxt;

namespace {

const std::string kSignature("Paint Shop Pro Image File\n\x1a\0\0\0\0\0", 32);

// A block: marker, id, then the lengths. Long headers carry the initial
// and the total length; short ones the total only, their data opening
// with a chunk length of four bytes (so the data proper starts 14 bytes
// in either way).
std::vector<uint8_t> block(uint32_t id, const std::vector<uint8_t>& data, bool longHeader) {
    std::vector<uint8_t> v = {0x7E, 0x42, 0x4B, 0x00};
    Put16(v, id);
    const uint32_t total = 14 + (uint32_t)data.size();
    Put32(v, longHeader ? total : total);
    Put32(v, longHeader ? total : 4);  // the short header's chunk length
    PutBytes(v, data);
    return v;
}

struct Picture {
    uint32_t W = 5, H = 3, Bits = 8, Planes = 1, Compression = 0;
    bool Grey = false, LongHeader = true;
    std::vector<uint8_t> Pixels;  // indices or R, G, B
};

Picture picture(uint32_t bits, uint32_t compression, bool longHeader) {
    Picture p;
    p.Bits = bits, p.Planes = bits == 24 ? 3 : 1, p.Compression = compression, p.LongHeader = longHeader;
    const uint32_t n = p.W * p.H * (bits == 24 ? 3 : 1);
    for (uint32_t i = 0; i < n; ++i) p.Pixels.push_back((uint8_t)((i < 4 ? 7 : i * 29 + 3) % (bits == 24 ? 256 : 1u << bits)));
    return p;
}

std::vector<uint8_t> attributes(const Picture& p) {
    std::vector<uint8_t> v;
    Put32(v, p.W);
    Put32(v, p.H);
    v.resize(v.size() + 9, 0);
    Put16(v, p.Compression);
    Put16(v, p.Bits);
    Put16(v, p.Planes);
    Put32(v, 0);
    v.push_back(p.Grey ? 1 : 0);
    Put32(v, 0);
    Put32(v, 0);
    Put16(v, 1);
    return v;
}

std::vector<uint8_t> rle(const std::vector<uint8_t>& d) {
    std::vector<uint8_t> v;
    for (size_t i = 0; i < d.size();) {
        size_t k = 1;
        while (i + k < d.size() && d[i + k] == d[i] && k < 127) ++k;
        if (k >= 3) {
            v.push_back((uint8_t)(128 + k));
            v.push_back(d[i]);
            i += k;
        } else {
            size_t n = std::min<size_t>(d.size() - i, 5);
            v.push_back((uint8_t)n);
            v.insert(v.end(), d.begin() + i, d.begin() + i + n);
            i += n;
        }
    }
    return v;
}

std::vector<uint8_t> deflate(const std::vector<uint8_t>& d) {
    uLongf n = compressBound(d.size());
    std::vector<uint8_t> v(n);
    compress2(v.data(), &n, d.data(), d.size(), 9);
    v.resize(n);
    return v;
}

// The unpacked bytes of one channel: bit rows, nibble rows, or bytes.
std::vector<uint8_t> channelData(const Picture& p, uint32_t component) {
    std::vector<uint8_t> v;
    for (uint32_t y = 0; y < p.H; ++y) {
        if (p.Bits == 1) {
            std::vector<uint8_t> row((p.W + 7) / 8, 0);
            for (uint32_t x = 0; x < p.W; ++x)
                if (p.Pixels[y * p.W + x]) row[x / 8] |= (uint8_t)(0x80 >> (x % 8));
            PutBytes(v, row);
        } else if (p.Bits == 4) {
            std::vector<uint8_t> row((p.W + 1) / 2, 0);
            for (uint32_t x = 0; x < p.W; ++x) row[x / 2] |= (uint8_t)(p.Pixels[y * p.W + x] << (x & 1 ? 0 : 4));
            PutBytes(v, row);
        } else {
            for (uint32_t x = 0; x < p.W; ++x) v.push_back(p.Pixels[(y * p.W + x) * (p.Bits == 24 ? 3 : 1) + component]);
        }
    }
    return v;
}

std::vector<uint8_t> channel(const Picture& p, uint32_t type, uint32_t component, int extraRleByte = 0) {
    const std::vector<uint8_t> raw = channelData(p, component);
    std::vector<uint8_t> packed = p.Compression == 0 ? raw : p.Compression == 1 ? rle(raw) : deflate(raw);
    if (extraRleByte) packed.push_back(1);
    std::vector<uint8_t> info;
    Put32(info, (uint32_t)packed.size());
    Put32(info, (uint32_t)raw.size());
    Put16(info, 0);
    Put16(info, type);
    PutBytes(info, packed);
    return block(5, info, p.LongHeader);
}

std::vector<uint8_t> paletteBlock(uint32_t count, bool longHeader) {
    std::vector<uint8_t> v;
    Put32(v, count);
    for (uint32_t i = 0; i < count; ++i) PutBytes(v, {(uint8_t)(i * 3), (uint8_t)(i * 5), (uint8_t)(i * 7), 0});
    return block(2, v, longHeader);
}

struct Options {
    uint32_t PaletteEntries = 256;
    std::vector<uint32_t> Types = {};  // 24 bits: channel types in file order
    int ExtraRleByte = 0;
    bool ZeroLengthBlock = false;
    bool NoChannels = false;
};

std::vector<uint8_t> pspFile(const Picture& p, const Options& o = {}) {
    std::vector<uint8_t> v(kSignature.begin(), kSignature.end());
    Put16(v, 4);
    Put16(v, 0);
    PutBytes(v, block(0, attributes(p), p.LongHeader));
    PutBytes(v, block(1, std::vector<uint8_t>(20, 0x55), p.LongHeader));
    if (o.ZeroLengthBlock) PutBytes(v, {0x7E, 0x42, 0x4B, 0x00, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    if (p.Bits <= 8) PutBytes(v, paletteBlock(o.PaletteEntries, p.LongHeader));
    std::vector<uint8_t> inside;
    std::vector<uint8_t> layerInfo(256 + 1 + 16, 0);
    layerInfo[257] = 2;
    PutBytes(inside, block(4, layerInfo, p.LongHeader));
    if (!o.NoChannels) {
        if (p.Bits == 24) {
            for (uint32_t t : o.Types.empty() ? std::vector<uint32_t>{1, 2, 3} : o.Types)
                PutBytes(inside, channel(p, t, t ? t - 1 : 0, 0));
        } else {
            PutBytes(inside, channel(p, 0, 0, o.ExtraRleByte));
        }
    }
    PutBytes(v, block(3, inside, p.LongHeader));
    if (p.Bits == 24) PutBytes(v, block(7, std::vector<uint8_t>(8, 0), p.LongHeader));
    return v;
}

Rgb expected(const Picture& p, bool greyPalette) {
    Rgb r;
    r.W = p.W, r.H = p.H;
    for (uint32_t i = 0; i < p.W * p.H; ++i) {
        if (p.Bits == 24) {
            for (int c = 0; c < 3; ++c) r.Pix.push_back(p.Pixels[3 * i + c]);
        } else if (p.Bits == 1) {
            for (int c = 0; c < 3; ++c) r.Pix.push_back(p.Pixels[i] ? 255 : 0);
        } else {
            const uint8_t v = p.Pixels[i];
            if (greyPalette) r.Pix.insert(r.Pix.end(), {v, v, v});
            else r.Pix.insert(r.Pix.end(), {(uint8_t)(v * 7), (uint8_t)(v * 5), (uint8_t)(v * 3)});  // stored B, G, R
        }
    }
    return r;
}

TEST(Psp, EveryDepthCompressionAndHeaderForm) {
    for (uint32_t bits : {1u, 4u, 8u, 24u})
        for (uint32_t comp : {0u, 1u, 2u})
            for (bool longHeader : {true, false}) {
                SCOPED_TRACE("bits " + std::to_string(bits) + " compression " + std::to_string(comp) + (longHeader ? " long" : " short"));
                const Picture p = picture(bits, comp, longHeader);
                Loaded l;
                LoadBytes<kxoPSP>(pspFile(p), l);
                ASSERT_EQ(l.Err, KXERR_NONE);
                EXPECT_EQ(l.SubFormat, comp);
                EXPECT_EQ(l.Buffer->ColorDepth, bits);
                EXPECT_EQ(Compare(ToRgb(l.Buffer), expected(p, false)), "");
                EXPECT_EQ((KXSUP_GetGfxBufferFlags(l.Buffer) & KXGFXF_GRAY) != 0, bits == 1);
            }
}

TEST(Psp, ChannelsByTypePalettesAndGreyFiles) {
    {
        // Colours in any order; a composite channel among them is passed over.
        Picture p = picture(24, 1, true);
        Options o;
        o.Types = {0, 3, 1, 2};
        Loaded l;
        LoadBytes<kxoPSP>(pspFile(p, o), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), expected(p, false)), "");
    }
    {
        // The grey flag wins over the palette block.
        Picture p = picture(8, 0, true);
        p.Grey = true;
        Loaded l;
        LoadBytes<kxoPSP>(pspFile(p), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), expected(p, true)), "");
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(l.Buffer) & KXGFXF_GRAY, (uint32_t)KXGFXF_GRAY);
    }
    {
        // 300 palette entries: the first 256; none: the grey ramp.
        Picture p = picture(8, 2, false);
        Options o;
        o.PaletteEntries = 300;
        Loaded l;
        LoadBytes<kxoPSP>(pspFile(p, o), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->Palette[3 * 255], (uint8_t)(255 * 7));
        o.PaletteEntries = 0;
        Loaded m;
        LoadBytes<kxoPSP>(pspFile(p, o), m);
        ASSERT_EQ(m.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(m.Buffer), expected(p, true)), "");
    }
    {
        // A block of length 0 does not stop the scan from moving on.
        Options o;
        o.ZeroLengthBlock = true;
        const Picture p = picture(4, 1, true);
        Loaded l;
        LoadBytes<kxoPSP>(pspFile(p, o), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), expected(p, false)), "");
    }
    EXPECT_EQ(kxoPSP().Save(), KXERR_NOTSUPPORTED);
}

TEST(Psp, Refusals) {
    auto with = [](uint32_t bits, uint32_t planes, uint32_t comp) {
        Picture p = picture(bits == 24 ? 24 : 8, comp > 2 ? 0 : comp, true);
        p.Bits = bits, p.Planes = planes, p.Compression = comp;
        return pspFile(p);
    };
    Options leftover;
    leftover.ExtraRleByte = 1;
    Options none;
    none.NoChannels = true;
    std::vector<uint8_t> noMarker = pspFile(picture(8, 0, true));
    noMarker[36] = 0;
    std::vector<uint8_t> strayChannel = pspFile(picture(8, 0, true));
    {
        // A channel block at the top level, before the layer start.
        const Picture p = picture(8, 0, true);
        std::vector<uint8_t> c = channel(p, 0, 0);
        strayChannel.insert(strayChannel.begin() + 36 + 14 + 38, c.begin(), c.end());
    }
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } cases[] = {
        {"compression 3", with(8, 1, 3), KXERR_FILEREQUIREMENTS},
        {"two planes", with(8, 2, 0), KXERR_FILEREQUIREMENTS},
        {"24 bits in one plane", with(24, 1, 0), KXERR_FILEREQUIREMENTS},
        {"8 bits in three planes", with(8, 3, 0), KXERR_FILEREQUIREMENTS},
        {"16 bits", with(16, 1, 0), KXERR_FILEREQUIREMENTS},
        {"run-length byte left over", pspFile(picture(8, 1, true), leftover), KXERR_DECODE},
        {"no marker after the start", noMarker, KXERR_DECODE},
        {"channel block at the top", strayChannel, KXERR_DECODE},
        {"no channel block", pspFile(picture(8, 0, true), none), KXERR_DECODE},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoPSP>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
    EXPECT_EQ(Recognises<kxoPSP>(pspFile(picture(8, 0, true))), 1u);
    std::vector<uint8_t> other = pspFile(picture(8, 0, true));
    other[0] = 'p';
    EXPECT_EQ(Recognises<kxoPSP>(other), 0u);
}

// A small file whose channels declare a huge picture is refused as short
// before the picture and the work block are made (raw channels give their
// length, run-length 127 bytes for 2, deflated at most 1032 for 1);
// channels that really describe a large picture still load.
TEST(Psp, TinyFilesNeverCostTheirDeclaredPicture) {
    auto huge = [](Picture p, uint32_t side) {
        std::vector<uint8_t> f = pspFile(p);
        std::vector<uint8_t> size;
        Put32(size, side);
        Put32(size, side);
        std::copy(size.begin(), size.end(), f.begin() + 50);  // width and height of the attributes
        return f;
    };
    Picture flat;
    flat.W = flat.H = 2000, flat.Compression = 2;
    flat.Pixels.assign(2000 * 2000, 3);
    const std::vector<TinyCase> cases = {
        {"deflated 24 bits for 651 MB", huge(picture(24, 2, true), 14732), KXERR_EOF},
        {"run-length 8 bits for 217 MB", huge(picture(8, 1, true), 14732), KXERR_EOF},
        {"raw 1 bit for 200 MB", huge(picture(1, 0, false), 40000), KXERR_EOF},
        {"deflated channel that fills 4 MB", pspFile(flat), KXERR_NONE},
    };
    EXPECT_LT(cases[0].File.size(), 1000u);
    ExpectTinyLoads<kxoPSP>(cases, "tiny.psp");
    Loaded l;
    LoadBytes<kxoPSP>(pspFile(flat), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->Data[2000 * 2000 - 1], 3);
}

TEST(Psp, ReadersSurviveDamagedFiles) {
    const std::string p = TempPath("robust.psp");
    const std::tuple<uint32_t, uint32_t, bool> kinds[] = {{24, 2, true}, {8, 1, false}, {1, 0, true}, {4, 2, false}};
    for (auto [bits, comp, longHeader] : kinds) {
        WriteAll(p, pspFile(picture(bits, comp, longHeader)));
        KXT_CheckReaderRobustness("kxoPSP", p);
    }
    unlink(p.c_str());
}

}  // namespace
