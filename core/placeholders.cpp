// placeholders: the objects the catalogue builds for a module whose own
// source does not exist yet. Each carries its class's real registration and
// loads its pad like the real module, recognises no file (CheckFile 0) and
// answers every other operation with KXERR_NOTSUPPORTED.
#include "catalogue.h"
#include "kxclass.h"
#include "object.h"
#include "operator.h"

namespace {

class PlaceholderOperator : public KXOperator {
public:
    PlaceholderOperator(KXClass* lib, const KXOperatorReg& reg) {
        Lib = lib ? lib : _KXClass;
        ApplyRegistration(reg.ClassName);
        BaseInit();
        InitWorkingFields();
        Configure(nullptr);
    }
    ~PlaceholderOperator() override {
        PlaceholderOperator::Reset();
        FreeConfig();
    }
    void Reset() override { FrameReset(); }
};

class PlaceholderObject : public KXObject {
public:
    PlaceholderObject(KXClass* lib, const KXFormatReg& reg) {
        Lib = lib ? lib : _KXClass;
        ApplyRegistration(reg.ClassName);
        BaseInit();
        InitWorkingFields();
        Configure(nullptr);
    }
    ~PlaceholderObject() override {
        PlaceholderObject::Reset();
        FreeConfig();
    }
    void Reset() override { FrameReset(); }
    uint32_t CheckFile(FILE*, const char*, int32_t) override { return 0; }
};

}  // namespace

KXOperator* KX_MakePlaceholderOperator(KXClass* lib, const KXOperatorReg& reg) {
    return new PlaceholderOperator(lib, reg);
}

KXObject* KX_MakePlaceholderObject(KXClass* lib, const KXFormatReg& reg) { return new PlaceholderObject(lib, reg); }
