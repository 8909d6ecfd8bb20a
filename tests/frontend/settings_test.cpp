// Program settings: defaults, clamps, case rules and where the pad is read.
#include "frontend_support.h"

using namespace kxt;

namespace {
KXProgramSettings ReadPad(const std::string& text) {
    ScratchDir dir;
    WriteFile(dir / "env/Kaxon5.controlpad", text);
    KXProgramSettings s;
    KXReadProgramSettings((dir / "env/").c_str(), (dir / "arc/").c_str(), nullptr, &s);
    return s;
}
}  // namespace

TEST(ProgramSettings, DefaultsWithoutAnyPad) {
    ScratchDir dir;
    KXProgramSettings s;
    s.LogLevel = 0;  // the clamps hold without a pad too
    s.UndoMax = 5000;
    EXPECT_FALSE(KXReadProgramSettings((dir / "a/").c_str(), (dir / "b/").c_str(), nullptr, &s));
    EXPECT_EQ(s.LogLevel, 1);
    EXPECT_EQ(s.UndoMax, 999);
    KXProgramSettings d;
    EXPECT_TRUE(d.ThreadedProgress && d.Undo && d.AutoConv && d.AutoCM && d.MetaLoad && d.ViewAlpha && d.OnlineUpdate);
    EXPECT_FALSE(d.LogStart || d.UndoLimit || d.UndoCompress || d.AutoConv8 || d.MetaSave || d.ViewFullScreen);
    EXPECT_EQ(d.UndoCompressLevel, 6);
    EXPECT_EQ(d.ViewMode, KXVIEW_ZOOM);
    EXPECT_EQ(d.SaveFormat, 6);
    EXPECT_EQ(d.Language, "english");
    EXPECT_EQ(d.MaxBufferMB, 2048);
}

TEST(ProgramSettings, TableOfPads) {
    using S = KXProgramSettings;
    struct Row {
        const char* pad;
        std::function<bool(const S&)> check;
    } rows[] = {
        {"THREADED_PROGRESS=no\n", [](const S& s) { return !s.ThreadedProgress; }},
        {"threaded_progress=NO\n", [](const S& s) { return s.ThreadedProgress; }},  // keys are case-sensitive
        {"THREADED_PROGRESS\n", [](const S& s) { return s.ThreadedProgress; }},     // no value: ignored
        {"LOGFILE=Yes\n", [](const S& s) { return s.LogStart; }},
        {"LOGLEVEL=0\n", [](const S& s) { return s.LogLevel == 1; }},
        {"LOGLEVEL=15\n", [](const S& s) { return s.LogLevel == 9; }},
        {"LOGLEVEL=abc\n", [](const S& s) { return s.LogLevel == 1; }},
        {"LOGLEVEL=  7xyz\n", [](const S& s) { return s.LogLevel == 7; }},
        {"LOGLEVEL=99999999999999\n", [](const S& s) { return s.LogLevel == 9; }},
        {"UNDO_UNLIMITED=NO\nUNDO_LIMIT=0\n", [](const S& s) { return s.UndoLimit && s.UndoMax == 1; }},
        {"UNDO_LIMIT=5000\n", [](const S& s) { return s.UndoMax == 999 && !s.UndoLimit; }},
        {"UNDO_COMPRESS=YES\nUNDO_LIMIT=3\n", [](const S& s) { return s.UndoCompress && s.UndoCompressLevel == 6; }},
        {"UNDO_COMPRESS_FACTOR=12\n", [](const S& s) { return s.UndoCompressLevel == 9; }},
        {"UNDO_COMPRESS_FACTOR=-3\n", [](const S& s) { return s.UndoCompressLevel == 0; }},
        {"AUTOCONV8=TRUE\n", [](const S& s) { return !s.AutoConv8; }},  // only YES switches it on
        {"AUTOCONV=OFF\n", [](const S& s) { return s.AutoConv; }},     // only NO switches it off
        {"AUTOCONV=no\nAUTOCONV8=yes\nUNDO=No\nAUTOCM=NO\n",
         [](const S& s) { return !s.AutoConv && s.AutoConv8 && !s.Undo && !s.AutoCM; }},
        {"VIEW_MODE=normal\n", [](const S& s) { return s.ViewMode == KXVIEW_NORMAL; }},
        {"VIEW_MODE=CENTERIMAGE\n", [](const S& s) { return s.ViewMode == KXVIEW_CENTER; }},
        {"VIEW_MODE=Tiles\n", [](const S& s) { return s.ViewMode == KXVIEW_ZOOM; }},
        {"VIEW_FIXEDSIZE=YES\nVIEW_FULLSCREEN=YES\n", [](const S& s) { return s.ViewFixedSize && !s.ViewFullScreen; }},
        {"VIEW_FULLSCREEN=YES\n", [](const S& s) { return !s.ViewFixedSize && s.ViewFullScreen; }},
        {"VIEW_WIDTH=70000\nVIEW_HEIGHT=-5\n", [](const S& s) { return s.ViewWidth == 65535 && s.ViewHeight == 0; }},
        {"DIASHOW_TIMER_SEC=0\n", [](const S& s) { return s.DiaTimerSec == 1; }},
        {"META_LOAD=NO\nMETA_SAVE=YES\n", [](const S& s) { return !s.MetaLoad && s.MetaSave; }},
        {"MAX_BUFFER_MB=3000\n", [](const S& s) { return s.MaxBufferMB == 3000; }},
        {"MAX_BUFFER_MB=100\n", [](const S& s) { return s.MaxBufferMB == 100; }},  // it lowers the limit too
        {"MAX_BUFFER_MB=1\n", [](const S& s) { return s.MaxBufferMB == 1; }},
        {"MAX_BUFFER_MB=0\n", [](const S& s) { return s.MaxBufferMB == 1; }},
        {"MAX_BUFFER_MB=-5\n", [](const S& s) { return s.MaxBufferMB == 1; }},
        {"MAX_BUFFER_MB=99999\n", [](const S& s) { return s.MaxBufferMB == 4096; }},
        {"LANGUAGE=deutsch\nJPEGTRAN_PATH=/usr/bin/jpegtran\nSTD_CMFILE=/x.icc\n",
         [](const S& s) { return s.Language == "deutsch" && s.JpegtranPath == "/usr/bin/jpegtran" && s.StdCmFile == "/x.icc"; }},
    };
    for (const Row& r : rows) EXPECT_TRUE(r.check(ReadPad(r.pad))) << r.pad;
}

TEST(ProgramSettings, SaveFormatByWriterName) {
    KXClass lib;
    KXObject** writers = lib.GetObjects(1);
    // A name no writer has leaves PNG (6) selected.
    struct Row {
        const char* name;
        bool known;
    } rows[] = {{"JPEG", true}, {"RGFX", true}, {"BMP", true}, {"NoSuchFormat", false}, {"png", false}};
    for (const Row& r : rows) {
        ScratchDir dir;
        WriteFile(dir / "p.controlpad", std::string("SAVE_FORMAT=") + r.name + "\n");
        KX_ControlPad* pad = nullptr;
        KXSUP_LoadControlPad((dir / "p.controlpad").c_str(), &pad);
        KXProgramSettings s;
        KXApplyProgramSettings(pad, writers, &s);
        KXSUP_FreeControlPad(pad);
        if (r.known) {
            EXPECT_STREQ(writers[s.SaveFormat]->FormatName, r.name);
        } else {
            EXPECT_EQ(s.SaveFormat, 6) << r.name;
        }
    }
}

TEST(ProgramSettings, OneDirectoryWholeAndLanguageStore) {
    ScratchDir dir;
    std::string env = dir / "env/", arc = dir / "arc/";
    fs::create_directories(env);
    WriteFile(arc + "Kaxon5.controlpad", "UNDO=NO\nLANGUAGE=english\nAUTOCONV=NO\n");
    KXProgramSettings s;
    EXPECT_TRUE(KXReadProgramSettings(env.c_str(), arc.c_str(), nullptr, &s));
    EXPECT_FALSE(s.Undo);

    // The settings directory's copy wins whole: no key of the archive is merged.
    WriteFile(env + "Kaxon5.controlpad", "AUTOCONV=NO\n");
    KXProgramSettings t;
    KXReadProgramSettings(env.c_str(), arc.c_str(), nullptr, &t);
    EXPECT_TRUE(t.Undo);
    EXPECT_FALSE(t.AutoConv);

    // An empty settings copy counts as missing.
    WriteFile(env + "Kaxon5.controlpad", "");
    KXProgramSettings u;
    KXReadProgramSettings(env.c_str(), arc.c_str(), nullptr, &u);
    EXPECT_FALSE(u.Undo);

    // From the archive only: the new language goes into a copy in env.
    EXPECT_EQ(KXStoreLanguage(env.c_str(), arc.c_str(), "deutsch"), KXLanguageStore::Stored);
    KXProgramSettings v;
    KXReadProgramSettings(env.c_str(), arc.c_str(), nullptr, &v);
    EXPECT_EQ(v.Language, "deutsch");
    EXPECT_FALSE(v.Undo);

    // A pad without LANGUAGE drops the choice.
    WriteFile(env + "Kaxon5.controlpad", "UNDO=NO\n");
    EXPECT_EQ(KXStoreLanguage(env.c_str(), arc.c_str(), "francais"), KXLanguageStore::NotInPad);
    KXProgramSettings w;
    KXReadProgramSettings(env.c_str(), arc.c_str(), nullptr, &w);
    EXPECT_EQ(w.Language, "english");

    // No pad anywhere: one "LANGUAGE=<name>" without a line end.
    fs::remove(env + "Kaxon5.controlpad");
    fs::remove(arc + "Kaxon5.controlpad");
    EXPECT_EQ(KXStoreLanguage(env.c_str(), arc.c_str(), "dansk"), KXLanguageStore::Stored);
    std::ifstream f(env + "Kaxon5.controlpad");
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "LANGUAGE=dansk");
    EXPECT_EQ(KXStoreLanguage((dir / "missing/deeper/").c_str(), arc.c_str(), "x"), KXLanguageStore::CreateFailed);
}
