// Every writer the catalogue builds over every alpha kind, the combined
// ones included (the index bit with a map or table bit, two maps, a map
// with a table): AlphaData is read by the core's one rule, so a save ends
// with a code or a file its reader loads, and the writers that store a
// transparent index keep it when other bits are set beside it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>

#include "core/kxlib.h"
#include "support/robustness.h"
#include "support/testfiles.h"

namespace {

KXClass* Lib() {
    static KXClass* lib = new KXClass();
    return lib;
}

KX_GfxBuffer* Picture(uint32_t depth, uint32_t alpha) {
    const uint32_t w = 5, h = 3;
    KX_GfxBuffer* b = KXT_NewChunkyBuffer(3, w, h, depth);
    if (!b) return nullptr;
    for (uint32_t i = 0; i < b->BufferSize; ++i) b->Data[i] = (uint8_t)(depth < 8 ? i % (1u << depth) : i * 41);
    for (int c = 0; c < 768; ++c) b->Palette[c] = (uint8_t)(c * 7);
    KXT_AttachAlpha(b, alpha, 2, depth);
    return b;
}

TEST(WriterAlphaKinds, EveryWriterReadsAlphaDataByTheOneRule) {
    // Writers that store one transparent palette index.
    const std::set<std::string> keyWriters = {"kxoPNG", "kxoGIF", "kxoRGFX", "kxoILBM"};
    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    const std::string path = std::string(KX_GetProcessTempDir()) + "writer_alpha_" + std::to_string(getpid());
    int writers = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const KXFormatReg& reg = regs[i];
        if (reg.Writer < 0 || !KX_IsBuilt(reg.ClassName)) continue;
        ++writers;
        for (uint32_t depth : {4u, 8u, 24u, 48u}) {
            for (uint32_t kind : KXT_AlphaKinds) {
                SCOPED_TRACE(std::string(reg.ClassName) + " depth " + std::to_string(depth) + " alpha " + std::to_string(kind));
                KX_GfxBuffer* pic = Picture(depth, kind);
                ASSERT_NE(pic, nullptr);
                KXObject* writer = KX_NewObject(Lib(), reg);
                writer->SetSaveName(path.c_str());
                writer->SetGfxBuffer(pic);
                if (std::string(reg.ClassName) == "kxoGIF") writer->SetSubFormat(1);  // 89a carries the key
                const uint32_t saved = writer->Save();
                delete writer;
                if (saved == KXERR_NONE && reg.Reader >= 0) {
                    KXObject* reader = KX_NewObject(Lib(), reg);
                    reader->SetReadName(path.c_str());
                    EXPECT_EQ(reader->Load(), KXERR_NONE);
                    KX_GfxBuffer* back = nullptr;
                    reader->GetGfxBuffer(&back);
                    std::string why;
                    EXPECT_TRUE(KXT_ImageIsValid(back, &why)) << why;
                    if (back && depth <= 8 && (kind & KXALPHA_SINGLECOLOR) && keyWriters.count(reg.ClassName)) {
                        EXPECT_EQ(KXSUP_AlphaHolds(back), uint32_t(KXALPHA_SINGLECOLOR)) << "the key is written";
                        if (KXSUP_AlphaHolds(back) == KXALPHA_SINGLECOLOR) EXPECT_EQ(KXSUP_AlphaIndex(back), 2u);
                    }
                    delete reader;
                }
                KXSUP_FreeGfxBuffer(pic);
                remove(path.c_str());
            }
        }
    }
    EXPECT_GE(writers, 7);
}

}  // namespace
