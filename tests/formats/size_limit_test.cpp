// The library's size limit as every reader meets it: files of a few dozen
// bytes that declare gigantic pictures are refused with 3 before anything
// large is allocated, and a limit lowered below a picture's buffer refuses
// an ordinary file of each reader class that the catalogue builds.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "support/testfiles.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string TempPath(const std::string& name) {
    return std::string(KX_GetProcessTempDir()) + "size_limit_" + std::to_string(getpid()) + "_" + name;
}

KXClass* Lib() {
    static KXClass* lib = new KXClass();
    return lib;
}


// GIF89a with a two-colour global table on a screen of the given size.
Bytes GifScreen(uint32_t w, uint32_t h) {
    Bytes b;
    KXT_PutText(b, "GIF89a");
    KXT_PutLe16(b, w);
    KXT_PutLe16(b, h);
    b.insert(b.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255});
    return b;
}

// One image at (x, y) with two bytes of LZW data (a clear code and the
// first pixel code at 3 bits).
void GifImage(Bytes& b, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    b.push_back(',');
    KXT_PutLe16(b, x);
    KXT_PutLe16(b, y);
    KXT_PutLe16(b, w);
    KXT_PutLe16(b, h);
    b.insert(b.end(), {0, 2, 2, 0x04, 0x01, 0});
}

Bytes HugeGif() {
    Bytes b = GifScreen(65535, 65535);
    GifImage(b, 0, 0, 65535, 65535);
    b.push_back(';');
    return b;
}

Bytes TwoFramesOnAHugeScreen() {
    Bytes b = GifScreen(65535, 65535);
    GifImage(b, 0, 0, 1, 1);
    GifImage(b, 1, 1, 1, 1);
    b.push_back(';');
    return b;
}

// FORM ILBM with a BMHD of 65535 x 65535, 8 planes, stored, and a BODY of
// two bytes.
Bytes HugeIlbm() {
    Bytes b;
    KXT_PutText(b, "FORM");
    KXT_PutBe32(b, 4 + 8 + 20 + 8 + 2);
    KXT_PutText(b, "ILBM");
    KXT_PutText(b, "BMHD");
    KXT_PutBe32(b, 20);
    KXT_PutBe16(b, 65535);
    KXT_PutBe16(b, 65535);
    KXT_PutBe32(b, 0);                             // x, y
    b.insert(b.end(), {8, 0, 0, 0});        // planes, masking, compression, pad
    KXT_PutBe16(b, 0);                             // transparent colour
    b.insert(b.end(), {1, 1});              // aspect
    KXT_PutBe16(b, 320);
    KXT_PutBe16(b, 200);
    KXT_PutText(b, "BODY");
    KXT_PutBe32(b, 2);
    b.insert(b.end(), {0x55, 0xAA});
    return b;
}

// An RLE8 bitmap of 60000 x 60000 whose only code is end-of-bitmap.
Bytes HugeRle8Bmp() {
    Bytes b;
    const uint32_t offset = 14 + 40 + 1024;
    KXT_PutText(b, "BM");
    KXT_PutLe32(b, offset + 2);
    KXT_PutLe32(b, 0);
    KXT_PutLe32(b, offset);
    KXT_PutLe32(b, 40);
    KXT_PutLe32(b, 60000);
    KXT_PutLe32(b, 60000);
    KXT_PutLe16(b, 1);
    KXT_PutLe16(b, 8);
    KXT_PutLe32(b, 1);  // RLE8
    KXT_PutLe32(b, 2);
    KXT_PutLe32(b, 2835);
    KXT_PutLe32(b, 2835);
    KXT_PutLe32(b, 256);
    KXT_PutLe32(b, 0);
    for (int i = 0; i < 256; ++i) b.insert(b.end(), {(uint8_t)i, (uint8_t)i, (uint8_t)i, 0});
    b.insert(b.end(), {0, 1});
    return b;
}

// A binary PGM header of 65535 x 65535 with no pixels.
Bytes HugePgm() {
    Bytes b;
    KXT_PutText(b, "P5\n65535 65535\n255\n");
    return b;
}

// Runs a load of the file by the class's reader in a child process: its
// result code and the child's peak resident memory in kilobytes.
std::pair<int, long> LoadInChild(const char* className, const std::string& path) {
    KXObject* obj = KX_NewObject(Lib(), *KX_FindFormatReg(className));
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        obj->SetReadName(path.c_str());
        _exit((int)obj->Load());
    }
    int status = 0;
    rusage usage = {};
    wait4(pid, &status, 0, &usage);
    delete obj;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss};
}

TEST(SizeLimit, GiganticDeclaredPicturesAreRefusedBeforeAllocating) {
    struct Case {
        const char* name;
        const char* className;
        Bytes bytes;
        uint32_t limit;  // 0: the default
        uint32_t code;
    };
    const Case cases[] = {
        {"GIF image of 65535 x 65535", "kxoGIF", HugeGif(), 0, KXERR_NOMEMORY},
        {"GIF frames on a 65535 x 65535 screen", "kxoGIF", TwoFramesOnAHugeScreen(), 0, KXERR_NOMEMORY},
        {"ILBM of 65535 x 65535 x 8 planes", "kxoILBM", HugeIlbm(), 0, KXERR_NOMEMORY},
        // Allowed by a raised limit, the body is still far too short for it.
        {"the same ILBM, limit raised", "kxoILBM", HugeIlbm(), 0xFFFFFFFFu, KXERR_EOF},
        {"RLE8 BMP of 60000 x 60000", "kxoBMP", HugeRle8Bmp(), 0, KXERR_NOMEMORY},
        {"PGM of 65535 x 65535", "kxoPNM", HugePgm(), 0, KXERR_NOMEMORY},
    };
    const std::string path = TempPath("huge");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(KXT_WriteBytes(path, c.bytes));
        if (c.limit) KXSUP_SetSizeLimit(c.limit);
        const auto [code, peakKb] = LoadInChild(c.className, path);
        KXSUP_ResetSizeLimit();
        EXPECT_EQ(code, (int)c.code);
        EXPECT_LT(peakKb, 512L * 1024) << "kilobytes at the peak";
    }
    remove(path.c_str());
}

// Every reader the catalogue builds meets the limit on its own buffer: a
// picture its writer saved loads, and does not once the limit is below
// its pixel data.
TEST(SizeLimit, EveryReaderRefusesAPictureAboveTheLimit) {
    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    int tried = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const KXFormatReg& reg = regs[i];
        if (reg.Reader < 0 || reg.Writer < 0 || !KX_IsBuilt(reg.ClassName)) continue;
        SCOPED_TRACE(reg.ClassName);
        ++tried;
        const std::string path = TempPath(std::string("pic_") + reg.ClassName);
        // 8-bit first: every writer but the true-colour ones takes a palette picture.
        KX_GfxBuffer* pic = KXT_NewChunkyBuffer(1, 120, 100, 8);
        ASSERT_NE(pic, nullptr);
        for (uint32_t p = 0; p < pic->BufferSize; ++p) pic->Data[p] = (uint8_t)(p * 7 + p / 120);
        for (int c = 0; c < 256; ++c) pic->Palette[c * 3] = pic->Palette[c * 3 + 1] = pic->Palette[c * 3 + 2] = (uint8_t)c;
        KXObject* writer = KX_NewObject(Lib(), reg);
        writer->SetSaveName(path.c_str());
        writer->SetGfxBuffer(pic);
        uint32_t saved = writer->Save();
        if (saved == KXERR_NEED24BIT) {
            // A true-colour writer: the same picture in 24 bits.
            KX_GfxBuffer* rgb = nullptr;
            ASSERT_EQ(KXSUP_GfxBufferTo24Bit(pic, &rgb), KXERR_NONE);
            KXSUP_FreeGfxBuffer(pic);
            pic = rgb;
            writer->Reset();
            writer->SetSaveName(path.c_str());
            writer->SetGfxBuffer(pic);
            saved = writer->Save();
        }
        ASSERT_EQ(saved, KXERR_NONE);
        delete writer;
        KXSUP_FreeGfxBuffer(pic);

        KXObject* reader = KX_NewObject(Lib(), reg);
        reader->SetReadName(path.c_str());
        ASSERT_EQ(reader->Load(), KXERR_NONE);
        reader->Reset();
        KXSUP_SetSizeLimit(1000);  // below 120 x 100 pixels in any layout
        reader->SetReadName(path.c_str());
        EXPECT_EQ(reader->Load(), KXERR_NOMEMORY);
        KX_GfxBuffer* left = nullptr;
        reader->GetGfxBuffer(&left);
        EXPECT_EQ(left, nullptr);
        KXSUP_ResetSizeLimit();
        delete reader;
        remove(path.c_str());
    }
    EXPECT_GE(tried, 7);
}

}  // namespace
