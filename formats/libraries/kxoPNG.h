// kxoPNG: PNG on libpng 1.6 through stdio streams. Reads every PNG libpng
// reads into a palette (1-8 bit), 8-bit grey, 24-bit or 48-bit buffer with
// its transparency, texts, raw EXIF/IPTC profiles, XMP and colour
// information (iCCP, sRGB, or a profile built from cHRM/gAMA); a text no
// chunk gives comes from the raw profiles. Writes palette images of 1 to 8
// bits, 24- and 48-bit RGB with or without alpha, tRNS, texts, raw
// profiles, XMP and iCCP or sRGB; a text a written raw profile carries is
// left to the profile, so that each value is in the file once.
// Relies on the colour-management builders, the hex-text coding, the
// checked-size helper and the format frame (safe save). Refuses sizes beyond the 32-bit
// buffer size (15) or the library's size limit (3), HAM images and depths
// other than 1-8, 24 and 48; passes over ancillary chunks (but iCCP) that
// claim more than 32 MiB.
#pragma once

#include "formats/raster/kxframe.h"

class kxoPNG : public KXObject {
public:
    explicit kxoPNG(KXClass* lib = nullptr);
    ~kxoPNG() override;

    void Reset() override;
    uint32_t Save() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    KXF_FRAME_OPERATIONS(".PNG")

private:
    struct ReadSession;
    struct WriteSession;
    uint32_t readImage(ReadSession& s);
    uint32_t writeImage(WriteSession& s);
    void prepareMeta(WriteSession& s);
    void readTexts(ReadSession& s);
    void readColour(ReadSession& s);
    int keyValue(const char* key, bool anyCase, char* value, size_t size);
    bool keyIsOn(const char* key, bool fallback);
    bool keyIsWord(const char* key, const char* word);
    long keyNumber(const char* key, long fallback, bool anyCase);
};
