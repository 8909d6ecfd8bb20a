// kxoRAWMeta: one block of the metadata record handed in, written as a
// headerless file (".rawmeta"), save only. Sub-formats: Meta/EXIF (without
// the 6-byte "Exif" 00 00 prefix, or with EXIF_TYPE=APP1 the whole APP1
// payload), Meta/IPTC (the IPTC-NAA records without the 26-byte Photoshop
// resource header, or with IPTC_TYPE=APP13 the whole block), Meta/XMP0 and
// Meta/XMP1 (each falling back to the other packet), Meta/Text (the text
// TEXT_FIELD names: Auth, Anno, Copy, Name, More1 to More4) and Meta/ICCP
// (the ICC profile). One line naming the block and its size goes into the
// "_COMMENT.txt" side file; kxoRAWMeta_Import reads the blocks back.
// Relies on the raster frame (safe save, checked writer). Needs a picture
// although it writes none (16); a missing record or block gives 12 before
// the file is opened.
#pragma once

#include "formats/raster/kxframe.h"

class kxoRAWMeta : public KXObject {
public:
    explicit kxoRAWMeta(KXClass* lib = nullptr);
    ~kxoRAWMeta() override {
        kxoRAWMeta::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t Save() override;
    uint32_t CheckFile(FILE*, const char*, int32_t) override { return 0; }
    uint32_t Load() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".rawmeta")

private:
    struct Block;
    uint32_t chooseBlock(const KXOSpecialInfo* info, Block& b);
};
