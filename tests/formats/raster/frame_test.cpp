// The raster frame: the byte reader fails and stays failed on a short read,
// the writer reports a failed write, image records are sized with checks,
// and the frame operations behave alike in every module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/raster/kxframe.h"
#include "formats/raster/kxoBMP.h"
#include "formats/raster/kxoPNM.h"
#include "raster_pixels.h"

using namespace kxt;

namespace {

TEST(Frame, ByteReaderReadsBothOrdersAndStaysFailed) {
    const uint8_t d[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    KXByteReader m(d, sizeof(d));
    EXPECT_EQ(m.le16(), 0x0201);
    EXPECT_EQ(m.be16(), 0x0304);
    EXPECT_EQ(m.le32(), 0x08070605u);
    EXPECT_TRUE(m.ok());
    EXPECT_EQ(m.be32(), 0u);  // one byte left: fails
    EXPECT_FALSE(m.ok());
    EXPECT_EQ(m.u8(), 0);  // and stays failed
    EXPECT_FALSE(m.seek(0));

    std::string p = TempPath("reader.bin");
    WriteAll(p, std::vector<uint8_t>(d, d + sizeof(d)));
    FILE* f = fopen(p.c_str(), "rb");
    fseek(f, 2, SEEK_SET);
    KXByteReader r(f);
    EXPECT_EQ(r.size(), 9u);
    EXPECT_EQ(r.tell(), 2u);
    EXPECT_EQ(r.be32(), 0x03040506u);
    EXPECT_TRUE(r.seek(7));
    uint8_t buf[4] = {};
    EXPECT_EQ(r.some(buf, 4), 2u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.next(), -1);
    EXPECT_FALSE(r.skip(1));
    EXPECT_FALSE(r.ok());
    fclose(f);
    unlink(p.c_str());
}

// A stream on a block of memory that counts the seeks stdio asks of it.
struct CountedStream {
    std::vector<uint8_t> data;
    size_t pos = 0;
    int seeks = 0;
};

ssize_t CountedRead(void* cookie, char* buffer, size_t size) {
    auto* s = static_cast<CountedStream*>(cookie);
    const size_t n = std::min(size, s->data.size() - s->pos);
    memcpy(buffer, s->data.data() + s->pos, n);
    s->pos += n;
    return (ssize_t)n;
}

int CountedSeek(void* cookie, off64_t* offset, int whence) {
    auto* s = static_cast<CountedStream*>(cookie);
    ++s->seeks;
    const off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? (off64_t)s->pos : (off64_t)s->data.size();
    if (base + *offset < 0 || base + *offset > (off64_t)s->data.size()) return -1;
    s->pos = (size_t)(base + *offset);
    *offset = (off64_t)s->pos;
    return 0;
}

// Steps over small blocks (GIF sub-blocks, chunk padding) go through the
// stream's buffer: no seek per block, and every position and byte as a
// reader on memory gives them, across buffer refills, backward seeks and
// the end of the file.
TEST(Frame, ByteReaderStepsOverSmallBlocksWithoutSeeking) {
    CountedStream stream;
    for (uint32_t i = 0; i < 20000; ++i) stream.data.push_back((uint8_t)(i * 7 + i / 251));
    FILE* f = fopencookie(&stream, "rb", {CountedRead, nullptr, CountedSeek, nullptr});
    ASSERT_NE(f, nullptr);
    setvbuf(f, nullptr, _IOFBF, 4096);
    KXByteReader r(f);
    KXByteReader m(stream.data.data(), stream.data.size());
    EXPECT_EQ(r.size(), stream.data.size());

    // Sub-blocks of 1 to 255 bytes with their length bytes, as a GIF has them.
    const int seeksBefore = stream.seeks;
    uint32_t blocks = 0;
    while (r.remaining() > 300) {
        const int n = r.next();
        ASSERT_EQ(n, m.next());
        const uint32_t step = (uint32_t)n % 255 + 1;
        ASSERT_TRUE(r.skip(step));
        ASSERT_TRUE(m.skip(step));
        ASSERT_EQ(r.tell(), m.tell());
        ++blocks;
    }
    EXPECT_GT(blocks, 100u);
    EXPECT_EQ(stream.seeks, seeksBefore) << "seeks for " << blocks << " small steps";

    struct Step {
        const char* name;
        bool seek;       // seek to value, else skip value
        uint64_t value;
        bool ok;
    };
    const Step steps[] = {
        {"back to the start", true, 0, true},
        {"a step of exactly one buffer", false, 4096, true},
        {"a step of more than one buffer", false, 9000, true},
        {"forward to a position", true, 19000, true},
        {"a step to the very end", false, 999, true},
        {"back into the middle", true, 5000, true},
        {"a step past the end", false, 15001, false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        const bool a = s.seek ? r.seek(s.value) : r.skip(s.value);
        const bool b = s.seek ? m.seek(s.value) : m.skip(s.value);
        EXPECT_EQ(a, s.ok);
        EXPECT_EQ(b, s.ok);
        if (!s.ok) break;
        EXPECT_EQ(r.tell(), m.tell());
        EXPECT_EQ(r.next(), m.next());
    }
    EXPECT_FALSE(r.ok());
    fclose(f);
}

TEST(Frame, ByteWriterReportsAFailedWrite) {
    FILE* f = fopen("/dev/full", "wb");
    if (!f) GTEST_SKIP() << "/dev/full is missing";
    setvbuf(f, nullptr, _IONBF, 0);
    KXByteWriter w(f);
    w.le32(1);
    EXPECT_FALSE(w.ok());
    fclose(f);
}

TEST(Frame, NewImageChecksSizes) {
    struct {
        uint32_t Type, W, H, Depth, Bits, Err, Size;
    } cases[] = {
        {ONEPLANE, 3, 2, 24, 24, KXERR_NONE, 18},
        {ONEPLANE, 3, 2, 48, 48, KXERR_NONE, 36},
        {BITPLANE, 9, 2, 3, 0, KXERR_NONE, 12},
        {ONEPLANE, 0, 2, 8, 8, KXERR_FILEREQUIREMENTS, 0},
        {ONEPLANE, 65536, 65536, 24, 24, KXERR_FILEREQUIREMENTS, 0},
        {ONEPLANE, 2, 2, 16, 16, KXERR_FILEREQUIREMENTS, 0},
        {BITPLANE, 2, 2, 9, 0, KXERR_FILEREQUIREMENTS, 0},
    };
    for (auto& c : cases) {
        KX_GfxBuffer* b = nullptr;
        EXPECT_EQ(KXF_NewImage(&b, c.Type, c.W, c.H, c.Depth, c.Bits, true), c.Err);
        if (c.Err == KXERR_NONE) {
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(b->BufferSize, c.Size);
            EXPECT_EQ(b->Version, 1u);
            EXPECT_TRUE(KXF_BufferIsConsistent(b));
        } else {
            EXPECT_EQ(b, nullptr);
        }
        KXSUP_FreeGfxBuffer(b);
    }
}

TEST(Frame, GreyRampSpansBlackToWhite) {
    uint8_t pal[768];
    KXF_GreyRamp(pal, 16);
    EXPECT_EQ(pal[0], 0);
    EXPECT_EQ(pal[3 * 1], 17);
    EXPECT_EQ(pal[3 * 15], 255);
    EXPECT_EQ(pal[3 * 200], 255);
    KXF_GreyRamp(pal, 256);
    EXPECT_EQ(pal[3 * 100 + 2], 100);
}

template <class T>
void frameOperations() {
    T o;
    char ext[8];
    EXPECT_EQ(o.SetIOMode(3), KXERR_NOTSUPPORTED);
    EXPECT_EQ(o.IOMode, KXIO_FILE);
    EXPECT_EQ(o.SetSubFormat(7), KXERR_NONE);
    EXPECT_EQ(o.GetExtension(nullptr), KXERR_INTERNALACCESS);
    EXPECT_EQ(o.GetExtension(ext), KXERR_NONE);
    EXPECT_EQ(o.SetGfxBuffer(nullptr), KXERR_INTERNALACCESS);
    EXPECT_EQ(o.GetGfxBuffer(nullptr), KXERR_INTERNALACCESS);
    EXPECT_EQ(o.DetachGfxBuffer(nullptr), KXERR_INTERNALACCESS);
    KX_GfxBuffer* b = reinterpret_cast<KX_GfxBuffer*>(1);
    EXPECT_EQ(o.GetGfxBuffer(&b), KXERR_NONE);
    EXPECT_EQ(b, nullptr);

    // Mode 2: Save refuses, Load still reads the file.
    std::string p = TempPath("frame.pnm");
    WriteAll(p, std::vector<uint8_t>{'P', '5', ' ', '1', ' ', '1', ' ', '2', '5', '5', ' ', 7});
    std::string bmp = TempPath("frame.bmp");
    KX_GfxBuffer* img = MakeImage(1, 1, 24);
    {
        kxoBMP w;
        w.SetSaveName(bmp.c_str());
        w.SetGfxBuffer(img);
        ASSERT_EQ(w.Save(), KXERR_NONE);
    }
    EXPECT_EQ(o.SetIOMode(KXIO_CLIPBOARD), KXERR_NONE);
    o.SetGfxBuffer(img);
    const std::string never = TempPath("never");
    o.SetSaveName(never.c_str());
    EXPECT_EQ(o.Save(), KXERR_NOTSUPPORTED);
    o.SetReadName(std::is_same_v<T, kxoPNM> ? p.c_str() : bmp.c_str());
    ASSERT_EQ(o.Load(), KXERR_NONE);

    // Detach hands the buffer over once; Reset does not free it.
    KX_GfxBuffer* d1 = nullptr;
    KX_GfxBuffer* d2 = reinterpret_cast<KX_GfxBuffer*>(1);
    EXPECT_EQ(o.DetachGfxBuffer(&d1), KXERR_NONE);
    EXPECT_EQ(o.DetachGfxBuffer(&d2), KXERR_NONE);
    EXPECT_NE(d1, nullptr);
    EXPECT_EQ(d2, nullptr);
    o.Reset();
    EXPECT_EQ(d1->Width, 1u);
    KXSUP_FreeGfxBuffer(d1);

    // After Reset the read name is gone.
    EXPECT_STREQ(o.ReadName, "");
    EXPECT_EQ(o.Load(), KXERR_FILENOTFOUND);
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
    unlink(bmp.c_str());
}

TEST(Frame, OperationsBehaveAlikeInEveryModule) {
    frameOperations<kxoBMP>();
    frameOperations<kxoPNM>();
    char ext[8];
    kxoBMP b;
    b.GetExtension(ext);
    EXPECT_STREQ(ext, ".BMP");
    kxoPNM n;
    n.GetExtension(ext);
    EXPECT_STREQ(ext, ".PNM");
}

void record(KXProgress* p, uintptr_t user) { reinterpret_cast<std::vector<uint32_t>*>(user)->push_back(p->Percent); }

TEST(Frame, RowProgressEveryEighthRow) {
    // A 20-row image: the hook sees 0, 40 and 80; without a hook the
    // record is not written.
    KX_GfxBuffer* img = MakeImage(3, 20, 24);
    std::string p = TempPath("progress.bmp");
    {
        kxoBMP w;
        w.SetSaveName(p.c_str());
        w.SetGfxBuffer(img);
        ASSERT_EQ(w.Save(), KXERR_NONE);
    }
    std::vector<uint32_t> seen;
    kxoBMP r;
    r.SetProgress(record, reinterpret_cast<uintptr_t>(&seen));
    r.SetReadName(p.c_str());
    ASSERT_EQ(r.Load(), KXERR_NONE);
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 40, 80}));
    kxoBMP quiet;
    quiet.Progress.Percent = 77;
    quiet.SetReadName(p.c_str());
    ASSERT_EQ(quiet.Load(), KXERR_NONE);
    EXPECT_EQ(quiet.Progress.Percent, 77u);
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
}

}  // namespace
