// kxoRAW_Import: the raw pixel importer, a device reader (I/O mode 3 only;
// never chosen by recognition). Reads headerless pixel data whose layout
// the settings state: LOADNAME, FORMAT (GRAY8, LUT8, RGB24, RGBA32, ARGB32,
// RGB+A32, RGB48, RGBA64, ARGB64, RGB+A64, BAYER8, RGB16, RGB15, ARGB16),
// WIDTH, HEIGHT, ENDIAN (LITTLE, else big-endian samples and B, G, R
// triples), LUT8_FORMAT (PLANAR: bit planes), LOAD_CM (OFF: no palette file)
// and OFFSET_START / OFFSET_END. Grey and palette data take the palette of
// a ".cm" file beside a ".RAW" file (at most 256 entries). The reading side
// of the raw dump writer kxoRAW.
// Relies on the raster frame (image records, byte reader, progress, log).
// Byte counts are formed in 64 bits. A zero or oversize picture, data
// longer than the layout, planar data that is not a whole number of planes
// or has more than 8 of them give 28; shorter data 29.
#pragma once

#include "formats/raster/kxframe.h"

class kxoRAW_Import : public KXObject {
public:
    explicit kxoRAW_Import(KXClass* lib = nullptr);
    ~kxoRAW_Import() override {
        kxoRAW_Import::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    // Only the device mode: the data file comes from LOADNAME.
    uint32_t SetIOMode(int32_t mode) override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t SetSubFormat(uint32_t index) override { return KXF_SetSubFormat(this, index); }
    uint32_t SetSaveName(const char* path) override { return KXF_SetSaveName(this, path); }
    uint32_t SetReadName(const char* path) override { return KXF_SetReadName(this, path); }
    uint32_t GetGfxBuffer(KX_GfxBuffer** buffer) override { return KXF_GetGfxBuffer(this, buffer); }
    uint32_t SetGfxBuffer(KX_GfxBuffer* buffer) override { return KXF_SetGfxBuffer(this, buffer); }
    uint32_t DetachGfxBuffer(KX_GfxBuffer** buffer) override { return KXF_DetachGfxBuffer(this, buffer); }
    uint32_t GetExtension(char* buffer) override { return KXF_GetExtension(".raw", buffer); }
    uint32_t SetProgress(KXProgressHook hook, uintptr_t user) override { return KXF_SetProgress(this, hook, user); }

private:
    struct Layout;
    uint32_t readLayout(Layout& l);
    uint32_t loadBody(const Layout& l);
    uint32_t readConverted(const Layout& l, KXByteReader& r, KX_GfxBuffer* img);
    void loadPalette(const Layout& l, KX_GfxBuffer* img);
};
