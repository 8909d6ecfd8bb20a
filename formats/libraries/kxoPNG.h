// kxoPNG: PNG on libpng 1.6 through stdio streams. Reads every PNG libpng
// reads into a palette (1-8 bit), 8-bit grey, 24-bit or 48-bit buffer with
// its transparency, texts, raw EXIF/IPTC profiles, XMP and colour
// information (iCCP, sRGB, or a profile built from cHRM/gAMA). Writes
// palette images of 1 to 8 bits, 24- and 48-bit RGB with or without alpha,
// tRNS, texts, raw profiles, XMP and iCCP or sRGB.
// Relies on the colour-management builders, the hex-text coding, the
// checked-size helper and the safe save. Refuses sizes beyond the 32-bit
// buffer size, HAM images and depths other than 1-8, 24 and 48.
#pragma once

#include "core/object.h"

class kxoPNG : public KXObject {
public:
    explicit kxoPNG(KXClass* lib);
    ~kxoPNG() override;

    void Reset() override;
    uint32_t Save() override;
    uint32_t SetIOMode(int32_t mode) override;
    uint32_t SetSubFormat(uint32_t index) override;
    uint32_t SetSaveName(const char* path) override;
    uint32_t SetReadName(const char* path) override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t GetGfxBuffer(KX_GfxBuffer** buffer) override;
    uint32_t SetGfxBuffer(KX_GfxBuffer* buffer) override;
    uint32_t DetachGfxBuffer(KX_GfxBuffer** buffer) override;
    uint32_t GetExtension(char* buffer) override;
    uint32_t SetProgress(KXProgressHook hook, uintptr_t user) override;

private:
    struct ReadSession;
    struct WriteSession;
    uint32_t readImage(ReadSession& s);
    uint32_t writeImage(WriteSession& s);
    void readTexts(ReadSession& s);
    void readColour(ReadSession& s);
    int keyValue(const char* key, bool anyCase, char* value, size_t size);
    bool keyIsOn(const char* key, bool fallback);
    long keyNumber(const char* key, long fallback, bool anyCase);
};
