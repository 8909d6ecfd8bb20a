// kxoRAWMeta_Import: one raw metadata block file (".rawmeta", the whole
// file, no header) into one metadata slot, a device reader (I/O mode 3
// only; the file comes from LOADNAME). FORMAT picks the slot: EXIF, IPTC,
// XMP0, XMP1 take the bytes, AUTH, ANNO, COPY, NAME the text with a zero
// byte after it. A block dumped without its wrapper (bare TIFF data for
// EXIF, bare IPTC-NAA records for IPTC) gets back its "Exif" 00 00 prefix
// or Photoshop resource header, as the slots hold them for every writer.
// Since a reader must hand back a picture, it makes a black
// placeholder of WIDTH x HEIGHT (default 1 x 1) at DEPTH 8, 24 or 48.
// Refuses an empty file for a byte slot (3) and a file it cannot read
// whole (29). Writes nothing.
// Relies on the converter helpers (kxconvert) and the raster frame.
#pragma once

#include "formats/libraries/kxconvert.h"

class kxoRAWMeta_Import : public KXObject {
public:
    explicit kxoRAWMeta_Import(KXClass* lib = nullptr);
    ~kxoRAWMeta_Import() override {
        kxoRAWMeta_Import::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t Load() override;
    KXCONV_DEVICE_OPERATIONS(".rawmeta")

private:
    uint32_t readBlock();
    uint32_t makePlaceholder();
};
