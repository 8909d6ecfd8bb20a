// kxoYUVN: FORM "YUVN", a luma plane with up to two subsampled chroma
// planes (YCbCr, 8-bit samples) and an optional alpha plane. Reads the
// seven sampling modes (400, 411, 422, 444, 200, 211, 222) with DATA or
// DATO alpha; writes 24-bit images as mode 411 with DATO alpha.
#pragma once

#include "formats/iff/iff.h"

class kxoYUVN : public KXIffModule {
public:
    explicit kxoYUVN(KXClass* lib);
    ~kxoYUVN() override {
        kxoYUVN::Reset();
        FreeConfig();
    }

    uint32_t Save() override;
    uint32_t Load() override;

private:
    void InitOwn() override;
    void FreeWork() override;
    // WRITE_ALPHA / READ_ALPHA: on unless the value is "OFF" (any case).
    bool SwitchOn(const char* key);

    uint8_t Ychd[22] = {};
    uint8_t* Plane[6] = {};      // Y, U, V, DATA, DATO as read; Y, U, V when saving
    uint32_t PlaneSize[6] = {};
    uint32_t ModeNumber = 0;     // 400, 411, ...
};
