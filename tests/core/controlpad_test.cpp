// Control pads: load/save round trips, line kinds, look-ups and changes,
// the safe save, settings-list look-up and tag-list walking.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "core/libstate.h"
#include "support/testfiles.h"

namespace {

std::string scratchDir() {
    static const std::string dir = KXT_NewTempDir("/tmp/kxpadtest-XXXXXX") + "/";
    return dir;
}

struct Line {
    const char* key;    // null: line has no key
    const char* value;  // null: line has no value
};

void expectLines(KX_ControlPad* pad, const std::vector<Line>& want) {
    size_t i = 0;
    for (KX_ControlPad* l = pad; l; l = l->Next, ++i) {
        ASSERT_LT(i, want.size()) << "extra line " << (l->Key ? l->Key : "(null)");
        ASSERT_NE(l->Key, nullptr);
        EXPECT_STREQ(l->Key, want[i].key) << "line " << i;
        if (want[i].value)
            EXPECT_STREQ(l->Value, want[i].value) << "line " << i;
        else
            EXPECT_EQ(l->Value, nullptr) << "line " << i;
    }
    EXPECT_EQ(i, want.size());
}

struct RoundTrip {
    const char* name;
    std::string in;
    std::string out;  // what saving the loaded pad writes
    std::vector<Line> lines;
};

const std::string k254(254, 'x');
const std::string k46(46, 'k');

const RoundTrip kRoundTrips[] = {
    {"comment, lone key, blanks around =", "; settings\nQUICK\nNEW_WIDTH = 640\n", "; settings\nQUICK\nNEW_WIDTH = 640\n",
     {{"", "; settings"}, {"QUICK", nullptr}, {"NEW_WIDTH ", " 640"}}},
    {"no final line feed", "A=1", "A=1\n", {{"A", "1"}}},
    {"empty lines kept", "\n\nA=1\n\n", "\n\nA=1\n\n", {{"", nullptr}, {"", nullptr}, {"A", "1"}, {"", nullptr}}},
    {"slash comment holding =", "// x=1\n/* y */\n", "// x=1\n/* y */\n", {{"", "// x=1"}, {"", "/* y */"}}},
    {"split at the first =", "a=b=c\n", "a=b=c\n", {{"a", "b=c"}}},
    {"key with = and nothing after comes back as the key", "KEY=\n", "KEY\n", {{"KEY", ""}}},
    {"CRLF in, LF out", "; c\r\nA=1\r\n\r\nB\r\n", "; c\nA=1\n\nB\n", {{"", "; c"}, {"A", "1"}, {"", nullptr}, {"B", nullptr}}},
    {"only one CR is removed", "A=1\r\r\n", "A=1\r\n", {{"A", "1\r"}}},
    {"line of 300 continues as a second line", std::string(254, 'x') + k46 + "\n", k254 + "\n" + k46 + "\n",
     {{k254.c_str(), nullptr}, {k46.c_str(), nullptr}}},
    {"line of exactly 254 gets no extra empty line", k254 + "\nB\n", k254 + "\nB\n", {{k254.c_str(), nullptr}, {"B", nullptr}}},
    {"line of 254 with CRLF", k254 + "\r\nB\r\n", k254 + "\nB\n", {{k254.c_str(), nullptr}, {"B", nullptr}}},
    {"NUL ends the line's text", std::string("A=1\0junk\nB=2\n", 13), "A=1\nB=2\n", {{"A", "1"}, {"B", "2"}}},
    {"bytes above 127 kept", "K\xc3\xa4=\xff\x01\n", "K\xc3\xa4=\xff\x01\n", {{"K\xc3\xa4", "\xff\x01"}}},
};

}  // namespace

TEST(ControlPad, LoadsAndSavesBackAsWritten) {
    for (const RoundTrip& rt : kRoundTrips) {
        SCOPED_TRACE(rt.name);
        std::string in = scratchDir() + "in.controlpad", out = scratchDir() + "out.controlpad";
        KXT_WriteFile(in, rt.in);
        KX_ControlPad* pad = nullptr;
        ASSERT_EQ(KXSUP_LoadControlPad(in.c_str(), &pad), 1);
        expectLines(pad, rt.lines);
        EXPECT_EQ(KXSUP_SaveControlPad(out.c_str(), pad), 1);
        EXPECT_EQ(KXT_ReadFile(out), rt.out);
        EXPECT_EQ(KXSUP_FreeControlPad(pad), 1);
    }
}

TEST(ControlPad, NothingToLoadGivesZeroAndNullPad) {
    std::string empty = scratchDir() + "empty.controlpad";
    KXT_WriteFile(empty, "");
    KX_ControlPad* pad = reinterpret_cast<KX_ControlPad*>(0x1);
    EXPECT_EQ(KXSUP_LoadControlPad(empty.c_str(), &pad), 0);
    EXPECT_EQ(pad, nullptr);
    pad = reinterpret_cast<KX_ControlPad*>(0x1);
    EXPECT_EQ(KXSUP_LoadControlPad((scratchDir() + "missing.controlpad").c_str(), &pad), 0);
    EXPECT_EQ(pad, nullptr);
    pad = reinterpret_cast<KX_ControlPad*>(0x1);
    EXPECT_EQ(KXSUP_LoadControlPad(nullptr, &pad), 0);
    EXPECT_EQ(pad, nullptr);
    EXPECT_EQ(KXSUP_LoadControlPad(empty.c_str(), nullptr), 0);
    EXPECT_EQ(KXSUP_FreeControlPad(nullptr), 0);
    EXPECT_EQ(KXSUP_SaveControlPad(empty.c_str(), nullptr), 0);
}

// Saving writes a sibling file and renames it: an old pad is never
// truncated in place, and nothing is left behind.
TEST(ControlPad, SaveReplacesTheOldFileWhole) {
    std::string dir = scratchDir() + "safe/";
    ASSERT_EQ(system(("mkdir -p " + dir).c_str()), 0);
    std::string path = dir + "Resize.controlpad";
    KXT_WriteFile(path, "OLD=1\n");
    FILE* old = fopen(path.c_str(), "rb");  // still sees the old file after the rename
    ASSERT_NE(old, nullptr);

    KX_ControlPad* pad = AddControlPadLine(nullptr, "NEW", "2");
    ASSERT_EQ(KXSUP_SaveControlPad(path.c_str(), pad), 1);
    EXPECT_EQ(KXT_ReadFile(path), "NEW=2\n");
    char buf[16] = {};
    EXPECT_EQ(fread(buf, 1, sizeof(buf) - 1, old), 6u);
    EXPECT_STREQ(buf, "OLD=1\n");
    fclose(old);
    EXPECT_EQ(KXT_ReadFile(dir + "../safe/Resize.controlpad"), "NEW=2\n");
    EXPECT_EQ(KXT_CountEntries(dir), 1) << "temporary file left behind";

    // A folder that does not exist: 0, nothing created.
    EXPECT_EQ(KXSUP_SaveControlPad((dir + "no/such/x.controlpad").c_str(), pad), 0);
    KXSUP_FreeControlPad(pad);
}

TEST(ControlPad, FindModifyAndAdd) {
    KX_ControlPad* pad = AddControlPadLine(nullptr, "", "; settings");
    KX_ControlPad* quick = AddControlPadLine(pad, "QUICK", nullptr);
    AddControlPadLine(quick, "NEW_WIDTH", "640");
    char* value = reinterpret_cast<char*>(0x1);

    struct Find {
        const char* key;
        int exact, noCase;
        const char* value;
    };
    const Find finds[] = {
        {"QUICK", 1, 1, nullptr}, {"quick", 0, 1, nullptr}, {"NEW_WIDTH", 1, 1, "640"}, {"NEW", 0, 0, nullptr}, {nullptr, 0, 0, nullptr},
    };
    for (const Find& f : finds) {
        SCOPED_TRACE(f.key ? f.key : "(null)");
        EXPECT_EQ(KXSUP_FindControlPad(pad, f.key, &value), f.exact);
        if (f.exact && f.value) {
            EXPECT_STREQ(value, f.value);
        }
        if (!f.exact) {
            EXPECT_EQ(value, nullptr);
        }
        EXPECT_EQ(KXSUP_FindControlPadNoCase(pad, f.key, &value), f.noCase);
        if (f.noCase && f.value) {
            EXPECT_STREQ(value, f.value);
        }
    }
    // The value is handed back, not copied.
    KXSUP_FindControlPad(pad, "NEW_WIDTH", &value);
    EXPECT_EQ(value, pad->Next->Next->Value);

    EXPECT_EQ(KXSUP_ModifyControlPad(pad, "new_width", "800", 1), 0);
    EXPECT_EQ(KXSUP_ModifyControlPad(pad, "new_width", "800", 0), 1);
    EXPECT_EQ(KXSUP_ModifyControlPad(pad, "QUICK", "yes", 1), 1);
    EXPECT_EQ(KXSUP_ModifyControlPad(pad, "QUICK", nullptr, 1), 1);
    EXPECT_EQ(KXSUP_ModifyControlPad(pad, "ABSENT", "1", 0), 0);
    EXPECT_EQ(KXSUP_ModifyControlPad(nullptr, "QUICK", "1", 0), 0);

    EXPECT_EQ(KXSUP_AddControlPad(pad, "NEW_WIDTH", "1024", 0), 1);
    EXPECT_EQ(KXSUP_AddControlPad(pad, "DITHER", "2", 0), 1);
    EXPECT_EQ(KXSUP_AddControlPad(pad, "Dither", "3", 1), 1);  // case-sensitive: a second key
    EXPECT_EQ(KXSUP_AddControlPad(pad, nullptr, "1", 0), 0);
    EXPECT_EQ(KXSUP_AddControlPad(nullptr, "X", "1", 0), 0);
    expectLines(pad, {{"", "; settings"}, {"QUICK", nullptr}, {"NEW_WIDTH", "1024"}, {"DITHER", "2"}, {"Dither", "3"}});
    KXSUP_FreeControlPad(pad);
}

TEST(ControlPad, AddAfterTrailingCommentAppends) {
    std::string in = scratchDir() + "c.controlpad";
    KXT_WriteFile(in, "A=1\n; end\n");
    KX_ControlPad* pad = nullptr;
    ASSERT_EQ(KXSUP_LoadControlPad(in.c_str(), &pad), 1);
    EXPECT_EQ(KXSUP_AddControlPad(pad, "B", "2", 0), 1);
    ASSERT_EQ(KXSUP_SaveControlPad(in.c_str(), pad), 1);
    EXPECT_EQ(KXT_ReadFile(in), "A=1\n; end\nB=2\n");
    KXSUP_FreeControlPad(pad);
}

TEST(ControlPad, LineIsInsertedAfterPreviousKeepingTheRest) {
    KX_ControlPad* a = AddControlPadLine(nullptr, "A", nullptr);
    AddControlPadLine(a, "C", nullptr);
    AddControlPadLine(a, "B", "x");
    expectLines(a, {{"A", nullptr}, {"B", "x"}, {"C", nullptr}});
    KXSUP_FreeControlPad(a);
}

TEST(SettingsList, FindNameIgnoresCaseAndTracesAtLevel9) {
    setenv("TMPDIR", scratchDir().c_str(), 1);
    KX_RefreshProcessTempDir();
    KXLog log;
    log.SetLevel(9);
    __kxlib_log_global = &log;

    KXPadNode a{}, b{};
    snprintf(a.NameBuf, sizeof(a.NameBuf), "Resize.controlpad");
    snprintf(b.NameBuf, sizeof(b.NameBuf), "/u/ENV/Kaxon5-Library/Crop.controlpad");
    a.node.Name = a.NameBuf;
    b.node.Name = b.NameBuf;
    b.Pad = AddControlPadLine(nullptr, "X", "1");
    List list;
    NewList(&list);
    AddTail(&list, &a.node);
    AddTail(&list, &b.node);

    EXPECT_EQ(KXCP_FindName(&list, "/U/env/kaxon5-library/crop.CONTROLPAD"), &b);
    EXPECT_EQ(KXCP_FindName(&list, "Other"), nullptr);
    EXPECT_EQ(KXCP_FindName(nullptr, "Other"), nullptr);
    EXPECT_EQ(KXCP_FindName(&list, nullptr), nullptr);
    KX_ControlPad* pad = nullptr;
    EXPECT_EQ(KXCP_FindPad("resize.controlpad", &pad, &list), 0);  // found, but its pad is empty
    EXPECT_EQ(KXCP_FindPad("/u/env/kaxon5-library/crop.controlpad", &pad, &list), 1);
    EXPECT_EQ(pad, b.Pad);
    __kxlib_log_global = nullptr;
    log.Close();

    std::string text = KXT_ReadFile(log.GetPath());
    const char* expected =
        "KXCP_FindName   : cmp 'Resize.controlpad vs. '/U/env/kaxon5-library/crop.CONTROLPAD'\n"
        "KXCP_FindName   : Failed (once).\n"
        "KXCP_FindName   : cmp '/u/ENV/Kaxon5-Library/Crop.controlpad vs. '/U/env/kaxon5-library/crop.CONTROLPAD'\n"
        "KXCP_FindName   : cmp 'Resize.controlpad vs. 'Other'\n"
        "KXCP_FindName   : Failed (once).\n"
        "KXCP_FindName   : cmp '/u/ENV/Kaxon5-Library/Crop.controlpad vs. 'Other'\n"
        "KXCP_FindName   : Failed (once).\n"
        "KXCP_FindName   : Failed (finally).\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    KXSUP_FreeControlPad(b.Pad);
}

TEST(TagList, WalkFollowsSystemTags) {
    const uintptr_t x = 11, y = 22;
    TagItem chained[] = {{KXTAG_LocalConfig, x}, {TAG_DONE, 0}};
    TagItem more[] = {{TAG_MORE, reinterpret_cast<uintptr_t>(chained)}, {KXTAG_LocalConfig, 99}, {TAG_DONE, 0}};
    TagItem skip[] = {{TAG_SKIP, 1}, {KXTAG_LocalConfig, x}, {KXTAG_LocalConfig, y}, {TAG_DONE, 0}};
    TagItem ignore[] = {{TAG_IGNORE, 0}, {KXTAG_SpecialInfo, 5}, {KXTAG_LocalConfig, y}, {TAG_DONE, 0}};
    TagItem nullMore[] = {{TAG_USER + 1, 0}, {TAG_MORE, 0}, {KXTAG_LocalConfig, y}, {TAG_DONE, 0}};
    TagItem ended[] = {{TAG_DONE, 0}, {KXTAG_LocalConfig, y}};

    struct Case {
        const char* name;
        const TagItem* list;
        uint32_t tag;
        const TagItem* expected;
    };
    const Case cases[] = {
        {"TAG_MORE continues in the chained list", more, KXTAG_LocalConfig, &chained[0]},
        {"TAG_SKIP passes over Data items", skip, KXTAG_LocalConfig, &skip[2]},
        {"TAG_IGNORE is passed over", ignore, KXTAG_LocalConfig, &ignore[2]},
        {"TAG_MORE with null Data ends", nullMore, KXTAG_LocalConfig, nullptr},
        {"TAG_DONE ends", ended, KXTAG_LocalConfig, nullptr},
        {"system tags are never found", more, TAG_MORE, nullptr},
        {"absent tag", ignore, TAG_USER + 7, nullptr},
        {"null list", nullptr, KXTAG_LocalConfig, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FindTagItem(c.tag, c.list), c.expected);
    }

    EXPECT_EQ(NextTagItem(&ignore[1]), &ignore[2]);
    EXPECT_EQ(NextTagItem(&ignore[2]), nullptr);
    EXPECT_EQ(NextTagItem(&more[0]), &chained[0]);  // a system item is processed first
    EXPECT_EQ(NextTagItem(&chained[0]), nullptr);   // the items after TAG_MORE are not read
    EXPECT_EQ(NextTagItem(nullptr), nullptr);
}
