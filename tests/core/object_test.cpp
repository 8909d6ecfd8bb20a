// The format base class: where Configure and key look-ups find the pad and
// what they log, the metadata record rules, the shared Reset and the
// placeholder objects of modules not built yet.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "support/testfiles.h"

namespace fs = std::filesystem;

namespace {

// A program directory and a user directory under one temporary root, which
// is also the temporary directory (the log goes there).
struct Tree {
    std::string root, prog, user;
    Tree() {
        // Taken once: every tree points TMPDIR into itself.
        static const std::string base = fs::temp_directory_path().string();
        root = KXT_NewTempDir(base + "/kxobjXXXXXX") + "/";
        prog = root + "prog/";
        user = root + "user/";
        fs::create_directories(prog + "ENV/Kaxon5-Library");
        fs::create_directories(user + "ENV/Kaxon5-Library");
        setenv("TMPDIR", root.substr(0, root.size() - 1).c_str(), 1);
    }
    ~Tree() { fs::remove_all(root); }
    std::string settingsPad(const char* pad) const { return user + "ENV/Kaxon5-Library/" + pad; }
    std::string archivePad(const char* pad) const { return prog + "ENV/Kaxon5-Library/" + pad; }
    static void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
};

// The log lines written since offset that start with the module tag.
std::vector<std::string> logLines(KXLog* log, const char* tag, std::streamoff offset) {
    log->Flush();
    std::ifstream in(log->GetPath());
    in.seekg(offset);
    std::vector<std::string> out;
    std::string line, prefix = tag;
    prefix.resize(16, ' ');
    prefix += ": ";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
    return out;
}

std::streamoff logSize(KXLog* log) {
    log->Flush();
    return static_cast<std::streamoff>(fs::file_size(log->GetPath()));
}

KXObject* makeFormat(KXClass* lib, const char* cls) {
    const KXFormatReg* reg = KX_FindFormatReg(cls);
    return reg ? KX_NewObject(lib, *reg) : nullptr;
}

char* dupVec(const char* text) {
    char* p = static_cast<char*>(AllocVec(strlen(text) + 1, MEMF_ANY));
    strcpy(p, text);
    return p;
}

KX_GfxBuffer* smallBuffer() {
    auto* b = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
    b->Version = 1;
    b->Data = static_cast<uint8_t*>(AllocVec(16, MEMF_CLEAR));
    b->BufferSize = 16;
    return b;
}

}  // namespace

TEST(KXObjectTest, ConfigureReadsSettingsThenArchiveAndLogsEachStep) {
    struct Case {
        bool inSettings, inArchive;
        const char* value;  // KEY after Configure and after Reset; null: not found
    } cases[] = {
        {true, true, "settings"},
        {false, true, "archive"},
        {false, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.inSettings << c.inArchive);
        Tree t;
        if (c.inSettings) Tree::write(t.settingsPad("BMP.controlpad"), "KEY=settings\n");
        if (c.inArchive) Tree::write(t.archivePad("BMP.controlpad"), "KEY=archive\n");
        KXClass lib;
        lib.SetPaths(t.prog.c_str(), t.user.c_str());
        lib.SetLogLevel(0);
        lib.StartLog();  // the tables configure silently at level 0
        lib.SetLogLevel(5);
        std::streamoff start = logSize(lib.GetLog());

        KXObject* obj = makeFormat(&lib, "kxoBMP");
        const std::string s = t.settingsPad("BMP.controlpad"), a = t.archivePad("BMP.controlpad");
        EXPECT_EQ(std::string(obj->PadPath), s);
        EXPECT_EQ(std::string(obj->PadPathArchive), a);
        std::vector<std::string> want = {"Configure...", "Loading from '" + s + "'"};
        if (!c.inSettings) {
            want.push_back("Failed.");
            want.push_back("Now loading from '" + a + "'");
        }
        if (c.value) want.push_back("Loaded.");
        EXPECT_EQ(logLines(lib.GetLog(), "BMP.controlpad", start), want);

        char value[32];
        if (c.value) {
            // The pad node is named by the settings path even when the
            // archive pad was read.
            ASSERT_NE(obj->PadList, nullptr);
            EXPECT_NE(KXCP_FindName(obj->PadList, s.c_str()), nullptr);
            EXPECT_EQ(std::string(obj->OwnPadNode.NameBuf), s);
            ASSERT_EQ(obj->GetKey("KEY", value, sizeof(value)), 1);
            EXPECT_STREQ(value, c.value);
        } else {
            EXPECT_EQ(obj->PadList, nullptr);
            EXPECT_EQ(obj->GetKey("KEY", value, sizeof(value)), 0);
        }
        // After a Reset no pad is loaded, yet look-ups still see the same pad.
        obj->Reset();
        EXPECT_EQ(obj->PadList, nullptr);
        EXPECT_EQ(obj->GetKey("KEY", value, sizeof(value)), c.value ? 1 : 0);
        if (c.value) {
            EXPECT_STREQ(value, c.value);
        }
        delete obj;
        lib.StopLog();
    }
}

TEST(KXObjectTest, LocalConfigAndSpecialInfoTagsAreLoggedAtLevelNine) {
    Tree t;
    KXClass lib;
    lib.SetPaths(t.prog.c_str(), t.user.c_str());
    lib.SetLogLevel(0);
    lib.StartLog();
    lib.SetLogLevel(9);
    KXObject* obj = makeFormat(&lib, "kxoPNG");
    List settings;
    NewList(&settings);
    KXOSpecialInfo info = {};
    std::streamoff start = logSize(lib.GetLog());
    TagItem tags[] = {{KXTAG_LocalConfig, reinterpret_cast<uintptr_t>(&settings)},
                      {KXTAG_SpecialInfo, reinterpret_cast<uintptr_t>(&info)},
                      {TAG_DONE, 0}};
    obj->Configure(tags);
    std::vector<std::string> want = {"Configure...", "LocalConfig SET", "SpecialInfo SET"};
    EXPECT_EQ(logLines(lib.GetLog(), "PNG.controlpad", start), want);
    EXPECT_EQ(obj->PadList, &settings);
    EXPECT_EQ(obj->SpecialInfo, &info);
    // FreeConfig forgets the caller's list without touching it.
    obj->FreeConfig();
    EXPECT_EQ(obj->PadList, nullptr);
    delete obj;
    lib.StopLog();
}

TEST(KXObjectTest, GetKeyRules) {
    Tree t;
    Tree::write(t.archivePad("GIF.controlpad"), "; comment\nKEY=archive\nkey=lower\nFLAG\nLONG=abcdefgh\n");
    Tree::write(t.root + "local.controlpad", "KEY=local\n");
    KXClass lib;
    lib.SetPaths(t.prog.c_str(), t.user.c_str());
    KXObject* obj = makeFormat(&lib, "kxoGIF");
    char v[32];
    struct Case {
        const char* key;
        size_t size;
        int found;
        const char* value;
    } cases[] = {
        {"KEY", sizeof(v), 1, "archive"}, {"key", sizeof(v), 1, "lower"}, {"Key", sizeof(v), 0, ""},
        {"FLAG", sizeof(v), 1, ""},       {"LONG", 4, 1, "abc"},           {"MISSING", sizeof(v), 0, ""},
    };
    for (int round = 0; round < 2; round++) {  // with the pad loaded, then after Reset
        for (const Case& c : cases) {
            SCOPED_TRACE(c.key);
            strcpy(v, "junk");
            EXPECT_EQ(obj->GetKey(c.key, v, c.size), c.found);
            EXPECT_STREQ(v, c.value);
        }
        obj->Reset();
    }
    EXPECT_EQ(obj->GetKey("KEY", nullptr, 0), 1);
    EXPECT_EQ(obj->GetKey(nullptr, v, sizeof(v)), 0);

    // A settings list's pad named by the pad path wins; a key it lacks is
    // not looked for in the files.
    List list;
    NewList(&list);
    KXPadNode node = {};
    node.node.Name = node.NameBuf;
    strcpy(node.NameBuf, obj->PadPath);
    ASSERT_EQ(KXSUP_LoadControlPad((t.root + "local.controlpad").c_str(), &node.Pad), 1);
    AddTail(&list, &node.node);
    obj->SetLocalConfig(&list);
    EXPECT_EQ(obj->GetKey("KEY", v, sizeof(v)), 1);
    EXPECT_STREQ(v, "local");
    EXPECT_EQ(obj->GetKey("LONG", v, sizeof(v)), 0);
    // A list without a pad of that name leaves the files to answer.
    strcpy(node.NameBuf, "Other.controlpad");
    EXPECT_EQ(obj->GetKey("KEY", v, sizeof(v)), 1);
    EXPECT_STREQ(v, "archive");
    obj->SetLocalConfig(nullptr);  // does nothing
    EXPECT_EQ(obj->PadList, &list);
    delete obj;
    KXSUP_FreeControlPad(node.Pad);
}

TEST(KXObjectTest, SpecialInfoFollowsTheMetaFlags) {
    KXClass lib;
    KXObject obj(&lib);
    obj.SubFormatId = 3;
    obj.Anno = dupVec("annotation");
    obj.Compression = dupVec("TIFF:LZW");
    obj.Exif = reinterpret_cast<uint8_t*>(dupVec("Exif"));
    obj.ExifSize = 5;
    obj.IccType = 1;
    obj.Orientation = 6;
    obj.AlphaMap8 = static_cast<uint8_t*>(AllocVec(4, MEMF_CLEAR));
    obj.AlphaMap8Owned = 1;

    EXPECT_EQ(obj.GetSpecialInfo(), nullptr);  // load-meta off
    obj.SetLoadMeta(1);
    KXOSpecialInfo* own = obj.GetSpecialInfo();
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->Version, 1u);
    EXPECT_EQ(own->SubFormat, 3u);
    EXPECT_EQ(own->Anno, obj.Anno);  // borrowed, not copied
    EXPECT_EQ(own->Exif, obj.Exif);
    EXPECT_EQ(own->ExifSize, 5u);
    EXPECT_EQ(own->IccType, 1u);
    EXPECT_EQ(own->Orientation, 6u);
    EXPECT_STREQ(own->Compression, "TIFF:LZW");
    EXPECT_EQ(obj.GetSpecialInfo(), own);

    KXOSpecialInfo mine = {};
    obj.SetSpecialInfo(&mine);  // save-meta off: ignored
    EXPECT_EQ(obj.GetSpecialInfo(), own);
    obj.SetSaveMeta(1);
    obj.SetSpecialInfo(&mine);
    EXPECT_EQ(obj.GetSpecialInfo(), &mine);

    // Reset frees the metadata (the sanitizer sees a leak otherwise) and
    // clears every field, so the next file reports no colour information.
    obj.Reset();
    EXPECT_EQ(obj.Anno, nullptr);
    EXPECT_EQ(obj.Exif, nullptr);
    EXPECT_EQ(obj.AlphaMap8, nullptr);
    EXPECT_EQ(obj.IccType, 0u);
    EXPECT_EQ(obj.SubFormatId, 0u);
    EXPECT_EQ(obj.GetSpecialInfo(), nullptr);
    obj.SetLoadMeta(1);
    ASSERT_NE(obj.GetSpecialInfo(), nullptr);
    EXPECT_EQ(obj.GetSpecialInfo()->IccType, 0u);
    EXPECT_EQ(obj.GetSpecialInfo()->Anno, nullptr);

    // An alpha map the object does not own is left alone.
    uint8_t lent[4] = {};
    obj.AlphaMap8 = lent;
    obj.AlphaMap8Owned = 0;
    obj.Reset();
    EXPECT_EQ(obj.AlphaMap8, nullptr);
}

TEST(KXObjectTest, PlaceholderCarriesTheRegistrationAndRefusesWork) {
    KXClass lib;
    // Built straight from the registration, so that the test holds whichever
    // modules have their own class by now.
    KXObject* psp = KX_MakePlaceholderObject(&lib, *KX_FindFormatReg("kxoPSP"));
    EXPECT_STREQ(psp->FormatName, "PSP");
    EXPECT_STREQ(psp->PadName, "PSP.controlpad");
    EXPECT_EQ(psp->Version, 1u);
    EXPECT_EQ(psp->SubFormatCount, 3u);
    EXPECT_STREQ(psp->SubFormatNames[2], "(P'intSh'p LZ77)");
    EXPECT_EQ(strlen(psp->SubFormatNames[2]), 16u);
    EXPECT_STREQ(psp->SubFormatNames[3], "");
    EXPECT_EQ(psp->Capabilities, 0x3E801u);

    // More names registered than offered: the writer still knows the id.
    KXObject* img = KX_MakePlaceholderObject(&lib, *KX_FindFormatReg("kxoIMG"));
    EXPECT_EQ(img->SubFormatCount, 3u);
    EXPECT_STREQ(img->SubFormatNames[3], "(XIMG v2)");
    EXPECT_EQ(img->SubFormatIds[3], 3u);

    FILE* f = tmpfile();
    fputs("BM anything", f);
    EXPECT_EQ(psp->CheckFile(f, "x.psp", KXIO_FILE), 0u);
    fclose(f);
    KX_GfxBuffer* b = nullptr;
    char ext[16];
    uint32_t results[] = {psp->Save(),           psp->SetIOMode(KXIO_FILE),   psp->SetSubFormat(0),
                          psp->SetSaveName("a"), psp->SetReadName("a"),       psp->Load(),
                          psp->GetGfxBuffer(&b), psp->SetGfxBuffer(nullptr), psp->DetachGfxBuffer(&b),
                          psp->GetExtension(ext), psp->SetProgress(nullptr, 0)};
    for (uint32_t r : results) EXPECT_EQ(r, KXERR_NOTSUPPORTED);
    delete psp;
    delete img;
}

TEST(KXObjectTest, NullLibraryObjectFallsBackWithoutCrashing) {
    _KXClass = nullptr;
    KXObject bare(nullptr);
    EXPECT_EQ(bare.Lib, nullptr);
    ASSERT_NE(bare.PadPath, nullptr);
    EXPECT_NE(strstr(bare.PadPath, "Missing.controlpad"), nullptr);
    bare.Configure(nullptr);
    char v[8];
    EXPECT_EQ(bare.GetKey("KEY", v, sizeof(v)), 0);
    bare.Reset();
    KXObject* placeholder = makeFormat(nullptr, "kxoTGA");
    ASSERT_NE(placeholder, nullptr);
    EXPECT_STREQ(placeholder->FormatName, "TGA");
    delete placeholder;

    KXClass app;
    _KXClass = &app;
    app.SetPaths("/opt/kx", "/home/kx");
    KXObject withApp(nullptr);
    EXPECT_EQ(withApp.Lib, &app);
    EXPECT_STREQ(withApp.PadPath, "/home/kx/ENV/Kaxon5-Library/Missing.controlpad");
    EXPECT_STREQ(withApp.PadPathArchive, "/opt/kx/ENV/Kaxon5-Library/Missing.controlpad");
}

namespace {
// A format class as the modules write them, with a block of its own.
class SampleFormat : public KXObject {
public:
    explicit SampleFormat(KXClass* lib) {
        Lib = lib;
        ApplyRegistration("kxoRAS");
        BaseInit();
        InitWorkingFields();
        Configure(nullptr);
    }
    ~SampleFormat() override {
        SampleFormat::Reset();
        FreeConfig();
    }
    void Reset() override {
        FrameReset();
        FreeVec(Work);
        Work = nullptr;
        Resets++;
    }
    void* Work = nullptr;
    int Resets = 0;
};

// A class that forgets to release the common working fields itself.
class CarelessFormat : public KXObject {
public:
    explicit CarelessFormat(KXClass* lib) : KXObject(lib) {}
};
}  // namespace

TEST(KXObjectTest, FrameResetAndDestructionThroughTheBase) {
    KXClass lib;
    SampleFormat* s = new SampleFormat(&lib);
    EXPECT_STREQ(s->FormatName, "RAS");
    KX_GfxBuffer lentToSave = {};
    s->Work = AllocVec(32, MEMF_ANY);
    s->LoadedBuffer = smallBuffer();
    s->SaveBuffer = &lentToSave;  // never freed by the module
    s->ReadFile = tmpfile();
    s->ReadName = "in.ras";
    s->SelectedSubFormat = 2;
    s->IOMode = KXIO_CLIPBOARD;
    s->Anno = dupVec("x");
    s->Reset();
    EXPECT_EQ(s->LoadedBuffer, nullptr);
    EXPECT_EQ(s->SaveBuffer, nullptr);
    EXPECT_EQ(s->ReadFile, nullptr);
    EXPECT_STREQ(s->ReadName, "");
    EXPECT_EQ(s->SelectedSubFormat, 0u);
    EXPECT_EQ(s->IOMode, KXIO_FILE);
    s->Reset();  // twice is harmless

    s->Work = AllocVec(32, MEMF_ANY);
    s->LoadedBuffer = smallBuffer();
    s->WriteFile = tmpfile();
    s->Iptc = static_cast<uint8_t*>(AllocVec(26, MEMF_CLEAR));
    KXObject* base = s;
    delete base;  // the sanitizer reports anything left behind

    KXObject* careless = new CarelessFormat(&lib);
    careless->LoadedBuffer = smallBuffer();
    careless->ReadFile = tmpfile();
    delete careless;
}
