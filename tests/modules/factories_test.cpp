// The factory table: every built class makes an object carrying its own
// registration, and every other class still gets a placeholder, so the
// tables keep their numbers and positions whatever has been built.
#include <gtest/gtest.h>

#include <memory>

#include "kxlib.h"

TEST(FactoriesTest, BuiltClassesMakeTheirOwnModuleAndOthersAPlaceholder) {
    KXClass lib;
    uint32_t count = 0;
    const KXOperatorReg* ops = KX_OperatorRegs(&count);
    for (uint32_t i = 0; i < count; i++) {
        SCOPED_TRACE(ops[i].ClassName);
        std::unique_ptr<KXOperator> op(KX_NewOperator(&lib, ops[i]));
        ASSERT_NE(op, nullptr);
        EXPECT_STREQ(op->PadName, ops[i].PadName);
        EXPECT_EQ(KX_OperatorIsBuilt(ops[i].Number), KX_IsBuilt(ops[i].ClassName));
        if (!KX_IsBuilt(ops[i].ClassName)) {
            KX_GfxBuffer* out = nullptr;
            EXPECT_EQ(op->OperateTagList(nullptr, &out, nullptr), KXERR_NOTSUPPORTED);
        }
    }
    const KXFormatReg* fmts = KX_FormatRegs(&count);
    for (uint32_t i = 0; i < count; i++) {
        SCOPED_TRACE(fmts[i].ClassName);
        std::unique_ptr<KXObject> obj(KX_NewObject(&lib, fmts[i]));
        ASSERT_NE(obj, nullptr);
        EXPECT_STREQ(obj->PadName, fmts[i].PadName);
        EXPECT_STREQ(obj->FormatName, fmts[i].FormatName);
    }
    EXPECT_FALSE(KX_IsBuilt("kxoNoSuchFormat"));
    EXPECT_FALSE(KX_IsBuilt(nullptr));
    EXPECT_FALSE(KX_OperatorIsBuilt(62));
}

TEST(FactoriesTest, TheMainRoadModulesAreBuilt) {
    for (const char* cls : {"kxoPNG", "kxoBMP", "kxoGIF", "kxoPNM", "kxoILBM", "kxoRGFX", "kxoKGX", "kxpResize",
                            "kxpAnyTo24Bit", "kxpPaste"})
        EXPECT_TRUE(KX_IsBuilt(cls)) << cls;
}
