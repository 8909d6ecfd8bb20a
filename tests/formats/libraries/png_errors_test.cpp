// PNG failures: the save checks run before any file exists, a failed save
// keeps the old file and leaves no partial one, libpng's errors while
// loading say what the other readers say (a short file 29, damaged data
// 14, only real lack of memory 3), oversized pictures and chunks are
// refused or passed over before anything large is allocated.
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "core/colour.h"
#include "formats/raster/write_failure.h"
#include "png_helpers.h"
#include "support/robustness.h"

namespace {

using namespace pngtest;

TEST(PngErrors, SaveChecksComeBeforeTheFile) {
    struct Case {
        const char* name;
        std::function<void(KX_GfxBuffer*)> change;
        int32_t mode;
        bool noBuffer;
        uint32_t code;
    };
    const Case cases[] = {
        {"clipboard mode", nullptr, KXIO_CLIPBOARD, false, KXERR_NOTSUPPORTED},
        {"no buffer", nullptr, KXIO_FILE, true, KXERR_NOTSUPPORTED},
        {"depth 16", [](KX_GfxBuffer* b) { b->ColorDepth = 16; }, KXIO_FILE, false, KXERR_FILEREQUIREMENTS},
        {"depth 12", [](KX_GfxBuffer* b) { b->ColorDepth = 12; }, KXIO_FILE, false, KXERR_FILEREQUIREMENTS},
        {"HAM", [](KX_GfxBuffer* b) { b->ColorDepth = 6; b->ViewMode = KXVIEWMODE_HAM; }, KXIO_FILE, false,
         KXERR_NOHAM},
        {"locked 48", [](KX_GfxBuffer* b) {
             KXSUP_SetGfxBufferEndianess(b, 2);
             b->Flags |= KXGFXF_LOCKED;
         }, KXIO_FILE, false, KXERR_ENDIANLOCKED},
        {"data too short", [](KX_GfxBuffer* b) { b->BufferSize -= 1; }, KXIO_FILE, false, KXERR_INTERNALACCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer img = MakeImage(c.code == KXERR_ENDIANLOCKED ? 48 : 8, 4, 4);
        if (c.change) c.change(img.get());
        const std::string path = TempPath("checks.png");
        remove(path.c_str());
        Png w;
        ASSERT_EQ(w.obj.SetIOMode(c.mode), KXERR_NONE);
        w.obj.SetSaveName(path.c_str());
        if (!c.noBuffer) w.obj.SetGfxBuffer(img.get());
        EXPECT_EQ(w.obj.Save(), c.code);
        EXPECT_FALSE(KXT_Exists(path));
        EXPECT_EQ(KXT_CountLeftovers(path), 0);
    }
    Png w;
    EXPECT_EQ(w.obj.SetIOMode(KXIO_DEVICE), KXERR_NOTSUPPORTED);
    EXPECT_EQ(w.obj.IOMode, KXIO_FILE);
}

TEST(PngErrors, FailedSaveKeepsTheOldFile) {
    const std::string path = TempPath("old.png");
    ASSERT_TRUE(KXT_WriteBytes(path, {'o', 'l', 'd'}));
    Buffer img = MakeImage(24, 3, 3);
    uint8_t* profile = nullptr;
    uint32_t profileSize = 0;
    ASSERT_EQ(KXSUP_CreateCMSProfileGamma(256, 0.45455, &profile, &profileSize), KXERR_NONE);
    // A profile name libpng cannot turn into a keyword fails inside the
    // write, after the file was opened.
    KXOSpecialInfo info = {};
    info.IccData = profile;
    info.IccSize = profileSize;
    info.IccName = const_cast<char*>("   ");
    Png w;
    EXPECT_EQ(w.Save(img.get(), path, &info), KXERR_NODESTFILE);
    EXPECT_EQ(KXT_ReadBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(KXT_CountLeftovers(path), 0);
    FreeVec(profile);
    // The same object saves again once the problem is gone.
    w.obj.Reset();
    EXPECT_EQ(w.Save(img.get(), path), KXERR_NONE);
    EXPECT_EQ(KXT_ReadBytes(path).size() > 8 && KXT_ReadBytes(path)[1] == 'P', true);
    remove(path.c_str());

    Png v;
    EXPECT_EQ(v.Save(img.get(), TempPath("missing-dir/x.png")), KXERR_NODESTFILE);
}

// A write that fails half-way (file size limit, as on a full disk) is a
// failed save: code 7, old file kept, no temporary file left.
TEST(PngErrors, FailedWriteKeepsTheOldFile) {
    Buffer img = MakeImage(24, 300, 300);
    uint32_t x = 0x12345678;  // noise that deflate cannot shrink
    for (uint32_t i = 0; i < img->BufferSize; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        img->Data[i] = (uint8_t)x;
    }
    Png w;
    EXPECT_EQ(kxt::SaveUnderFileSizeLimit(&w.obj, img.get(), "full.png"), KXERR_NODESTFILE);
}

struct LoadCase {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t code;
};

// Each file of the table fails to load with its code and leaves no buffer.
void ExpectLoadCodes(const std::string& path, const std::vector<LoadCase>& cases) {
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(KXT_WriteBytes(path, c.bytes));
        Png r;
        EXPECT_EQ(r.Load(path), c.code);
        EXPECT_EQ(r.Image(), nullptr);
    }
}

TEST(PngErrors, LoadFailures) {
    const std::string path = TempPath("bad.png");
    std::vector<uint8_t> good;
    {
        Buffer img = MakeImage(8, 9, 9);
        Png w;
        ASSERT_EQ(w.Save(img.get(), path), KXERR_NONE);
        good = KXT_ReadBytes(path);
    }
    std::vector<uint8_t> badCrc = good;
    badCrc[29] ^= 1;  // IHDR CRC
    std::vector<uint8_t> badSig = good;
    badSig[0] = 'x';
    ExpectLoadCodes(path, {
        {"empty", {}, KXERR_UNKNOWNFORMAT},
        {"three bytes", {0x89, 'P', 'N'}, KXERR_UNKNOWNFORMAT},
        {"not png", {'G', 'I', 'F', '8', '9', 'a'}, KXERR_UNKNOWNFORMAT},
        {"signature damaged", badSig, KXERR_DECODE},
        {"header crc", badCrc, KXERR_DECODE},
    });
    Png r;
    EXPECT_EQ(r.Load(TempPath("nothing-here.png")), KXERR_FILENOTFOUND);
    EXPECT_EQ(r.Load(""), KXERR_FILENOTFOUND);
    remove(path.c_str());
}

// Every truncation is a file cut short and leaves no buffer; flipped
// bytes end in an error or a valid image, never a crash or a leak.
TEST(PngErrors, TruncatedAndFlippedFiles) {
    const std::string path = TempPath("cut.png");
    for (uint32_t depth : {4u, 24u, 48u}) {
        Buffer img = MakeImage(depth, 7, 6);
        if (depth != 4) AddAlpha(img.get());
        std::vector<uint8_t> good;
        {
            Png w(Settings{{"SAVE_INTERLACED", depth == 24 ? "ON" : "OFF"}});
            ASSERT_EQ(w.Save(img.get(), path), KXERR_NONE);
            good = KXT_ReadBytes(path);
        }
        for (size_t n = 4; n < good.size(); ++n) {
            ASSERT_TRUE(KXT_WriteBytes(path, std::vector<uint8_t>(good.begin(), good.begin() + (long)n)));
            Png r;
            ASSERT_EQ(r.Load(path), KXERR_EOF) << depth << " cut at " << n;
            ASSERT_EQ(r.Image(), nullptr);
        }
        ASSERT_TRUE(KXT_WriteBytes(path, good));
        KXT_CheckReaderRobustness("kxoPNG", path);
    }
    remove(path.c_str());
}

void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    const uint32_t n = (uint32_t)data.size();
    const uint8_t len[4] = {(uint8_t)(n >> 24), (uint8_t)(n >> 16), (uint8_t)(n >> 8), (uint8_t)n};
    out.insert(out.end(), len, len + 4);
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uint32_t crc = (uint32_t)crc32(0, out.data() + start, (uInt)(out.size() - start));
    const uint8_t c[4] = {(uint8_t)(crc >> 24), (uint8_t)(crc >> 16), (uint8_t)(crc >> 8), (uint8_t)crc};
    out.insert(out.end(), c, c + 4);
}

// Sizes whose byte count does not fit 32 bits are refused with 15, sizes
// beyond the library's size limit with 3, both before anything is
// allocated; a 32-bit product would wrap to a tiny buffer here.
TEST(PngErrors, OversizedPicturesAreRefused) {
    struct Case {
        uint32_t w, h;
        uint8_t bitDepth, colourType;
        uint32_t code;
    };
    const Case cases[] = {
        {65537, 65535, 8, 3, KXERR_NOMEMORY},  // 0xFFFFFFFF bytes: beyond the 2 GiB limit
        {65536, 65536, 8, 0, KXERR_FILEREQUIREMENTS},
        {40000, 40000, 16, 6, KXERR_FILEREQUIREMENTS},
        {1000000, 5000, 8, 2, KXERR_FILEREQUIREMENTS},
        {0x7FFFFFFF, 1, 16, 6, KXERR_FILEREQUIREMENTS},  // a row libpng would make 16 GB wide
        {0x7FFFFFFF, 1, 1, 0, KXERR_NOMEMORY},
    };
    const std::string path = TempPath("huge.png");
    for (const Case& c : cases) {
        std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        Chunk(f, "IHDR", {(uint8_t)(c.w >> 24), (uint8_t)(c.w >> 16), (uint8_t)(c.w >> 8), (uint8_t)c.w,
                          (uint8_t)(c.h >> 24), (uint8_t)(c.h >> 16), (uint8_t)(c.h >> 8), (uint8_t)c.h, c.bitDepth,
                          c.colourType, 0, 0, 0});
        if (c.colourType == 3) Chunk(f, "PLTE", std::vector<uint8_t>(6, 7));
        std::vector<uint8_t> z(64);
        uLongf zn = z.size();
        const std::vector<uint8_t> raw(40, 0);
        compress(z.data(), &zn, raw.data(), raw.size());
        z.resize(zn);
        Chunk(f, "IDAT", z);
        Chunk(f, "IEND", {});
        ASSERT_TRUE(KXT_WriteBytes(path, f));
        Png r;
        EXPECT_EQ(r.Load(path), c.code) << c.w << "x" << c.h;
        EXPECT_EQ(r.Image(), nullptr);
    }
    remove(path.c_str());
}

// Damaged files give the codes the other readers give: a file that ends
// early 29, data libpng finds wrong 14; never "Not enough memory".
TEST(PngErrors, DamagedFilesSayWhatIsWrong) {
    const std::string path = TempPath("damaged.png");
    auto ihdr = [](uint32_t w, uint32_t h, uint8_t bitDepth, uint8_t colourType) {
        return std::vector<uint8_t>{(uint8_t)(w >> 24), (uint8_t)(w >> 16), (uint8_t)(w >> 8), (uint8_t)w,
                                    (uint8_t)(h >> 24), (uint8_t)(h >> 16), (uint8_t)(h >> 8), (uint8_t)h,
                                    bitDepth, colourType, 0, 0, 0};
    };
    auto deflated = [](const std::vector<uint8_t>& raw) {
        std::vector<uint8_t> z(raw.size() + 64);
        uLongf zn = z.size();
        compress(z.data(), &zn, raw.data(), raw.size());
        z.resize(zn);
        return z;
    };
    const std::vector<uint8_t> rows = {0, 10, 20, 30, 0, 40, 50, 60};  // 3 x 2 grey, filter 0
    auto file = [&](const std::function<void(std::vector<uint8_t>&)>& body) {
        std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        Chunk(f, "IHDR", ihdr(3, 2, 8, 0));
        body(f);
        return f;
    };
    std::vector<uint8_t> good = file([&](std::vector<uint8_t>& f) {
        Chunk(f, "IDAT", deflated(rows));
        Chunk(f, "IEND", {});
    });
    {
        ASSERT_TRUE(KXT_WriteBytes(path, good));
        Png r;
        ASSERT_EQ(r.Load(path), KXERR_NONE);
    }
    std::vector<uint8_t> badRows = rows;
    badRows[4] = 9;  // no such filter
    std::vector<uint8_t> garbage = deflated(rows);
    garbage[garbage.size() / 2] ^= 0x55;
    std::vector<uint8_t> idatCrc = good;
    idatCrc[good.size() - 13] ^= 1;  // the IDAT CRC, before IEND's 12 bytes
    ExpectLoadCodes(path, {
        {"signature only", std::vector<uint8_t>(good.begin(), good.begin() + 8), KXERR_EOF},
        {"header cut", std::vector<uint8_t>(good.begin(), good.begin() + 20), KXERR_EOF},
        {"no IEND", std::vector<uint8_t>(good.begin(), good.end() - 12), KXERR_EOF},
        {"IDAT CRC", idatCrc, KXERR_DECODE},
        {"unknown filter", file([&](std::vector<uint8_t>& f) {
             Chunk(f, "IDAT", deflated(badRows));
             Chunk(f, "IEND", {});
         }), KXERR_DECODE},
        {"deflate garbage", file([&](std::vector<uint8_t>& f) {
             Chunk(f, "IDAT", garbage);
             Chunk(f, "IEND", {});
         }), KXERR_DECODE},
        {"rows missing", file([&](std::vector<uint8_t>& f) {
             Chunk(f, "IDAT", deflated(std::vector<uint8_t>(rows.begin(), rows.begin() + 4)));
             Chunk(f, "IEND", {});
         }), KXERR_DECODE},
        {"no IDAT", file([&](std::vector<uint8_t>& f) { Chunk(f, "IEND", {}); }), KXERR_DECODE},
        {"bit depth 3", [&] {
             std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
             Chunk(f, "IHDR", ihdr(3, 2, 3, 0));
             Chunk(f, "IEND", {});
             return f;
         }(), KXERR_DECODE},
        {"unknown critical chunk", file([&](std::vector<uint8_t>& f) {
             Chunk(f, "ABCD", {1, 2, 3});
             Chunk(f, "IDAT", deflated(rows));
             Chunk(f, "IEND", {});
         }), KXERR_DECODE},
    });
    remove(path.c_str());
}

// Loads path in a child process; its result code and its peak resident
// memory in kilobytes.
std::pair<int, long> LoadInChild(const std::string& path) {
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        Png r;
        _exit((int)r.Load(path));
    }
    int status = 0;
    rusage usage = {};
    wait4(pid, &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss};
}

// A chunk that libpng would hold whole but that claims 2^31 bytes in a
// 43-byte file is passed over: nothing near 2 GB is allocated, and the
// file, which ends there, is cut short.
TEST(PngErrors, ChunksClaimingGigabytesAreNotAllocated) {
    const std::string path = TempPath("claim.png");
    for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT", "eXIf", "prIv"}) {
        SCOPED_TRACE(type);
        std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        Chunk(f, "IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0});
        const uint8_t header[8] = {0x7F, 0xFF, 0xFF, 0xFF, (uint8_t)type[0], (uint8_t)type[1], (uint8_t)type[2], (uint8_t)type[3]};
        f.insert(f.end(), header, header + 8);
        f.push_back('a');
        f.push_back(0);
        ASSERT_EQ(f.size(), 43u);
        ASSERT_TRUE(KXT_WriteBytes(path, f));
        const auto [code, peakKb] = LoadInChild(path);
        EXPECT_EQ(code, (int)KXERR_EOF);
        EXPECT_LT(peakKb, 512L * 1024) << "kilobytes at the peak";
    }
    remove(path.c_str());
}

// A real text chunk above the chunk-memory limit is passed over and the
// picture loads; the texts before and after it are kept.
TEST(PngErrors, OversizedTextChunkIsSkipped) {
    const std::string path = TempPath("bigtext.png");
    std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Chunk(f, "IHDR", {0, 0, 0, 2, 0, 0, 0, 1, 8, 0, 0, 0, 0});
    auto text = [](const std::string& key, const std::string& value) {
        std::vector<uint8_t> d(key.begin(), key.end());
        d.push_back(0);
        d.insert(d.end(), value.begin(), value.end());
        return d;
    };
    Chunk(f, "tEXt", text("Title", "kept"));
    Chunk(f, "tEXt", text("Comment", std::string((33u << 20), 'x')));
    Chunk(f, "tEXt", text("Author", "also kept"));
    std::vector<uint8_t> z(64);
    uLongf zn = z.size();
    const uint8_t raw[3] = {0, 77, 99};
    compress(z.data(), &zn, raw, 3);
    z.resize(zn);
    Chunk(f, "IDAT", z);
    Chunk(f, "IEND", {});
    ASSERT_TRUE(KXT_WriteBytes(path, f));
    f.clear();
    f.shrink_to_fit();
    Png r;
    r.obj.SetLoadMeta(1);
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    ASSERT_NE(r.Image(), nullptr);
    EXPECT_EQ(r.Image()->Data[1], 99);
    KXOSpecialInfo* info = r.obj.GetSpecialInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->Name, "kept");
    EXPECT_STREQ(info->Auth, "also kept");
    EXPECT_EQ(info->Anno, nullptr);
    remove(path.c_str());
}

TEST(PngErrors, CheckFile) {
    const std::string path = TempPath("check.png");
    struct Case {
        std::vector<uint8_t> bytes;
        int32_t mode;
        uint32_t known;
    };
    const Case cases[] = {
        {{0x89, 'P', 'N', 'G', 1, 2}, KXIO_FILE, 1},
        {{0x89, 'p', 'n', 'g'}, KXIO_FILE, 1},
        {{0x89, 'P', 'N', 'G'}, KXIO_CLIPBOARD, 0},
        {{0x89, 'P', 'N'}, KXIO_FILE, 0},
        {{'J', 'P', 'N', 'G'}, KXIO_FILE, 1},
        {{0x89, 'M', 'N', 'G'}, KXIO_FILE, 0},
    };
    Png r;
    for (const Case& c : cases) {
        ASSERT_TRUE(KXT_WriteBytes(path, c.bytes));
        FILE* f = fopen(path.c_str(), "rb");
        fseek(f, 2, SEEK_SET);
        EXPECT_EQ(r.obj.CheckFile(f, path.c_str(), c.mode), c.known);
        if (c.mode == KXIO_FILE) {
            EXPECT_EQ(ftell(f), 0);
        }
        fclose(f);
    }
    EXPECT_EQ(r.obj.CheckFile(nullptr, path.c_str(), KXIO_FILE), 0u);
    remove(path.c_str());
}

}  // namespace
