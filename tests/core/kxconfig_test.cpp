// Settings lists: typed setters write their values as text (locale-free),
// keys are replaced without regard to case, unknown pads are refused, and
// a list saves as a pad file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <climits>
#include <cstdlib>
#include <functional>
#include <string>

#include "core/kxlib.h"
#include "core/libstate.h"
#include "support/testfiles.h"

namespace {

const char kPadPath[] = "/home/u/ENV/Kaxon5-Library/Resize.controlpad";

std::string scratchDir() {
    static const std::string dir = KXT_NewTempDir("/tmp/kxcfgtest-XXXXXX") + "/";
    return dir;
}

const char* valueOf(KXConfig& cfg, const char* key) {
    char* value = nullptr;
    KX_ControlPad* pad = nullptr;
    if (!KXCP_FindPad(kPadPath, &pad, cfg.GetPadList())) return "(no pad)";
    if (!KXSUP_FindControlPad(pad, key, &value)) return "(absent)";
    return value ? value : "(null)";
}

struct Setter {
    const char* name;
    std::function<uint32_t(KXConfig&)> set;
    const char* expected;
};

const int32_t kNine[9] = {1, -2, 3, -4, 5, -6, 7, -8, INT32_MIN};
const int32_t kSeven[7] = {7, 6, 5, 4, 3, 2, INT32_MAX};

const Setter kSetters[] = {
    {"text", [](KXConfig& c) { return c.SetValue("K", "some text"); }, "some text"},
    {"three reals", [](KXConfig& c) { return c.SetValue("K", 1.5f, 0.0f, -2.0f); }, "1.500000 0.000000 -2.000000"},
    {"two reals", [](KXConfig& c) { return c.SetValue("K", 0.1f, 1e6f); }, "0.100000 1000000.000000"},
    {"one real", [](KXConfig& c) { return c.SetValue("K", -0.0000004f); }, "-0.000000"},
    {"double literal", [](KXConfig& c) { return c.SetValue("K", 2.25); }, "2.250000"},
    {"nine integers", [](KXConfig& c) { return c.SetValue("K", kNine); }, "1 -2 3 -4 5 -6 7 -8 -2147483648"},
    {"seven integers", [](KXConfig& c) { return c.SetValue("K", kSeven); }, "7 6 5 4 3 2 2147483647"},
    {"five integers", [](KXConfig& c) { return c.SetValue("K", 1, 2, 3, 4, 5); }, "1 2 3 4 5"},
    {"four integers", [](KXConfig& c) { return c.SetValue("K", 1, 2, 3, 4); }, "1 2 3 4"},
    {"three integers", [](KXConfig& c) { return c.SetValue("K", 0, -1, 65536); }, "0 -1 65536"},
    {"two integers", [](KXConfig& c) { return c.SetValue("K", 640, 480); }, "640 480"},
    {"one integer", [](KXConfig& c) { return c.SetValue("K", int32_t{-640}); }, "-640"},
    // long is 64 bits here; the value is taken as a signed 32-bit integer.
    {"long literal", [](KXConfig& c) { return c.SetValue("K", 0x1FFFFFFFFL); }, "-1"},
    {"switch key", [](KXConfig& c) { return c.SetValue("K"); }, "0"},
    {"named pad, in other case", [](KXConfig& c) { return c.SetPadValue("/HOME/u/env/kaxon5-library/resize.controlpad", "K", 9, 8); }, "9 8"},
};

void checkSetters() {
    for (const Setter& s : kSetters) {
        SCOPED_TRACE(s.name);
        uint32_t err = 99;
        KXConfig cfg(kPadPath, &err);
        ASSERT_EQ(err, KXERR_NONE);
        EXPECT_EQ(s.set(cfg), 1u);
        EXPECT_STREQ(valueOf(cfg, "K"), s.expected);
    }
}

}  // namespace

TEST(KXConfig, SettersWriteTheirForms) { checkSetters(); }

// A decimal-comma locale must not turn "1.500000" into "1,500000".
TEST(KXConfig, SettersIgnoreTheLocale) {
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"};
    const char* found = nullptr;
    for (const char* n : names)
        if (setlocale(LC_ALL, n)) {
            found = n;
            break;
        }
    if (!found) GTEST_SKIP() << "no decimal-comma locale installed (package locales-all)";
    char probe[16];
    snprintf(probe, sizeof(probe), "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5");
    checkSetters();
    setlocale(LC_ALL, "C");
}

TEST(KXConfig, KeysAreReplacedWithoutRegardToCase) {
    uint32_t err = 99;
    KXConfig cfg(kPadPath, &err);
    ASSERT_EQ(err, KXERR_NONE);
    EXPECT_EQ(cfg.SetValue("NEW_WIDTH", 640), 1u);
    EXPECT_EQ(cfg.SetValue("new_width", 800), 1u);
    EXPECT_EQ(cfg.SetValue("DITHERMODE", 2), 1u);
    KX_ControlPad* pad = cfg.DefaultPad->Pad;
    ASSERT_NE(pad, nullptr);
    EXPECT_STREQ(pad->Key, "; created by KXConfig class");
    EXPECT_EQ(pad->Value, nullptr);
    ASSERT_NE(pad->Next, nullptr);
    EXPECT_STREQ(pad->Next->Key, "NEW_WIDTH");
    EXPECT_STREQ(pad->Next->Value, "800");
    ASSERT_NE(pad->Next->Next, nullptr);
    EXPECT_STREQ(pad->Next->Next->Key, "DITHERMODE");
    EXPECT_EQ(pad->Next->Next->Next, nullptr);
}

TEST(KXConfig, UnknownPadIsRefusedAndChangesNothing) {
    uint32_t err = 99;
    KXConfig cfg(kPadPath, &err);
    EXPECT_EQ(cfg.SetPadValue("Crop.controlpad", "K", 1), KXERR_INTERNALACCESS);
    EXPECT_EQ(cfg.SetPadValue("Crop.controlpad", "K", "x"), KXERR_INTERNALACCESS);
    EXPECT_EQ(cfg.SetPadValue(nullptr, "K", 1.0f), KXERR_INTERNALACCESS);
    EXPECT_EQ(cfg.SavePadTo(scratchDir().c_str(), "Crop.controlpad", "x.controlpad"), KXERR_INTERNALACCESS);
    EXPECT_EQ(cfg.DefaultPad->Pad->Next, nullptr);
    EXPECT_EQ(cfg.SetValue(nullptr, 1), 0u);  // no key: nothing stored
    EXPECT_EQ(cfg.DefaultPad->Pad->Next, nullptr);
    EXPECT_EQ(access((scratchDir() + "x.controlpad").c_str(), F_OK), -1);
}

TEST(KXConfig, ListIsTheObjectsOwnAndFoundByPadPath) {
    uint32_t err = 99;
    KXConfig cfg(kPadPath, &err);
    List* list = cfg.GetPadList();
    EXPECT_EQ(list, &cfg.PadList);
    EXPECT_EQ(CountNodes(list), 1u);
    EXPECT_EQ(KXCP_FindName(list, "/home/U/env/KAXON5-library/RESIZE.controlpad"), cfg.DefaultPad);
    KXConfig unnamed(nullptr, nullptr);  // no error address: nothing written
    EXPECT_NE(unnamed.GetPadList(), nullptr);
    EXPECT_EQ(unnamed.SetValue("A", 1), 1u);
    EXPECT_EQ(cfg.InitPads("Other.controlpad"), KXERR_NONE);  // starts over without leaking
    EXPECT_EQ(CountNodes(cfg.GetPadList()), 1u);
    EXPECT_EQ(cfg.SetPadValue("other.controlpad", "A", 1), 1u);
}

TEST(KXConfig, SavePadToWritesThePadAndLogsIt) {
    setenv("TMPDIR", scratchDir().c_str(), 1);
    KX_RefreshProcessTempDir();
    KXLog log;
    log.SetLevel(1);
    __kxlib_log_global = &log;

    uint32_t err = 99;
    KXConfig cfg(kPadPath, &err);
    cfg.SetValue("MATRIX_LINE1", 1, 2, 3);
    cfg.SetValue("DIVISOR", 1.5f);
    cfg.SetValue("QUICK");
    EXPECT_EQ(cfg.SavePadTo(scratchDir().c_str(), kPadPath, "Matrix.controlpad"), 1u);
    EXPECT_EQ(KXT_ReadFile(scratchDir() + "Matrix.controlpad"),
              "; created by KXConfig class\nMATRIX_LINE1=1 2 3\nDIVISOR=1.500000\nQUICK=0\n");
    EXPECT_EQ(cfg.SavePadTo(nullptr, kPadPath, "Matrix.controlpad"), 0u);
    EXPECT_EQ(cfg.SavePadTo((scratchDir() + "missing/").c_str(), kPadPath, "M.controlpad"), 0u);

    __kxlib_log_global = nullptr;
    log.Close();
    std::string text = KXT_ReadFile(log.GetPath());
    std::string line = "kxconfig        : saving " + scratchDir() + "Matrix.controlpad\n";
    EXPECT_NE(text.find(line), std::string::npos) << text;
}

// Saved, the list loads back as the same lines.
TEST(KXConfig, SavedListLoadsBack) {
    uint32_t err = 99;
    KXConfig cfg(kPadPath, &err);
    cfg.SetValue("NEW_WIDTH", 640);
    cfg.SetValue("TITLE", "a = b");
    std::string path = scratchDir() + "Resize.controlpad";
    ASSERT_EQ(cfg.SavePadTo(scratchDir().c_str(), kPadPath, "Resize.controlpad"), 1u);
    KX_ControlPad* pad = nullptr;
    ASSERT_EQ(KXSUP_LoadControlPad(path.c_str(), &pad), 1);
    char* value = nullptr;
    EXPECT_EQ(KXSUP_FindControlPad(pad, "NEW_WIDTH", &value), 1);
    EXPECT_STREQ(value, "640");
    EXPECT_EQ(KXSUP_FindControlPad(pad, "TITLE", &value), 1);
    EXPECT_STREQ(value, "a = b");
    EXPECT_STREQ(pad->Value, "; created by KXConfig class");  // a comment line now
    KXSUP_FreeControlPad(pad);
}

// The file name is the part of the pad path after its last "/".
TEST(KXConfig, SavePadWritesIntoTheSettingsDirectory) {
    KXClass lib;
    char* kept = lib.SettingsDir;
    std::string dir = scratchDir();
    lib.SettingsDir = dir.data();
    uint32_t err = 99;
    KXConfig cfg(kPadPath, &err);
    cfg.SetValue("NEW_WIDTH", 640);
    EXPECT_EQ(cfg.SavePad(&lib), 1u);
    EXPECT_EQ(KXT_ReadFile(dir + "Resize.controlpad"), "; created by KXConfig class\nNEW_WIDTH=640\n");
    EXPECT_EQ(cfg.SavePadAs(nullptr, "x.controlpad"), KXERR_INTERNALACCESS);
    KXConfig bare("Bare.controlpad", &err);
    EXPECT_EQ(bare.SavePad(&lib), 1u);
    EXPECT_EQ(KXT_ReadFile(dir + "Bare.controlpad"), "; created by KXConfig class\n");
    lib.SettingsDir = kept;
}
