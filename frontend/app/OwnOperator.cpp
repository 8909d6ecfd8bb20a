#include "OwnOperator.h"

#include <cstdio>
#include <memory>

#include "core/kxopnumbers.h"

namespace kxown {

namespace {

const KXOperatorReg* regFor(uint32_t number) {
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    for (uint32_t i = 0; i < count; ++i)
        if (regs[i].Number == number) return &regs[i];
    return nullptr;
}
}  // namespace

bool OperatorLanded(uint32_t number, QString* className) {
    const KXOperatorReg* reg = regFor(number);
    if (className) *className = reg ? QString::fromLatin1(reg->ClassName) : QString();
    return reg && KX_IsBuilt(reg->ClassName);
}

QByteArray Num(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", v);  // LC_NUMERIC stays "C"
    return QByteArray(text);
}

QByteArray Int(long v) { return QByteArray::number(static_cast<qlonglong>(v)); }

uint32_t Run(KXClass* lib, uint32_t number, KX_GfxBuffer* source, KX_GfxBuffer** result, Keys keys, bool withSettings) {
    KeyList list;
    for (const auto& [key, value] : keys) list.emplace_back(QByteArray(key), value);
    return Run(lib, number, source, result, list, withSettings);
}

uint32_t Run(KXClass* lib, uint32_t number, KX_GfxBuffer* source, KX_GfxBuffer** result, const KeyList& keys,
             bool withSettings) {
    if (!result) return KXERR_INTERNALACCESS;
    *result = nullptr;
    if (!source) return KXERR_NOVIEWABLEDATA;
    const KXOperatorReg* reg = regFor(number);
    if (!reg) return KXERR_NOTSUPPORTED;
    std::unique_ptr<KXOperator> op(KX_NewOperator(lib ? lib : _KXClass, *reg));
    if (!op) return KXERR_NOMEMORY;
    std::unique_ptr<KXConfig> cfg;
    if (withSettings) {
        uint32_t err = 0;
        cfg = std::make_unique<KXConfig>(op->PadPath, &err);
        if (err) return KXERR_NOMEMORY;
        // SetValue answers 1 for a stored key, not an error code.
        for (const auto& [key, value] : keys) cfg->SetValue(key.constData(), value.constData());
        op->SetLocalConfig(cfg->GetPadList());
    }
    KX_GfxBuffer* out = nullptr;
    uint32_t err = op->OperateTagList(source, &out, nullptr);
    if (!err) err = op->DetachResult(result);
    if (!err && !*result) err = KXERR_INTERNALACCESS;
    op->Reset();
    return err;
}

OrientationStep ForOrientation(uint32_t o) {
    switch (o) {
    case 2: return {0, true};
    case 3: return {180, false};
    case 4: return {180, true};
    case 5: return {270, true};
    case 6: return {270, false};
    case 7: return {90, true};
    case 8: return {90, false};
    default: return {0, false};
    }
}

uint32_t Orient(KXClass* lib, KX_GfxBuffer* source, uint32_t orientation, KX_GfxBuffer** result) {
    if (!result) return KXERR_INTERNALACCESS;
    *result = nullptr;
    OrientationStep step = ForOrientation(orientation);
    KX_GfxBuffer* turned = nullptr;
    if (step.degrees) {
        if (uint32_t err = Run(lib, KXOP_ROTATE, source, &turned, {{"DEGREES", Int(step.degrees)}})) return err;
    }
    if (step.flip) {
        KX_GfxBuffer* flipped = nullptr;
        uint32_t err = Run(lib, KXOP_LEFTTORIGHT, turned ? turned : source, &flipped, {}, false);
        KXSUP_FreeGfxBuffer(turned);
        if (err) return err;
        turned = flipped;
    }
    *result = turned;
    return KXERR_NONE;
}

}  // namespace kxown
