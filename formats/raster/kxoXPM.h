// kxoXPM: X pixmaps, the three text forms: "v1" (#define lines and two
// string arrays), "v2" (bare lines after "! XPM2") and "v3" (the C array
// after "/* XPM */"). Reads up to 256 colours of 1 to 31 characters a pixel,
// colours as #RGB hexadecimal (12, 9 or up to 6 digits), None (the
// transparent index), sixteen colour names and grey levels for other names;
// loaded as one byte a pixel. Writes 2 characters a pixel and a table of
// 2^depth colours in the chosen form.
// Refuses a first line of no known form, more than 256 colours and bad
// value lines (15), missing keywords, codes or quotes (14), files that end
// early (29); does not save 24- and 48-bit pictures (21).
// Relies on the raster frame (checked sizes, safe save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoXPM : public KXObject {
public:
    explicit kxoXPM(KXClass* lib = nullptr);
    ~kxoXPM() override {
        kxoXPM::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".XPM")

    // The colour a colour word names as 0xRRGGBB: hexadecimal after "#",
    // one of the sixteen names, else -1 (None and unknown names are the
    // caller's).
    static int64_t ColourOfWord(const char* word);

private:
    uint32_t LoadBody();
};
