// kxoLJPG: lossless JPEG (ITU-T T.81, predictive process with Huffman
// coding, SOF3) on the codec of its own (ljpg_codec). Reads one scan of 1
// to 4 components of 2 to 16 bits, with restart intervals: one component
// (or two, the first of them) as an 8-bit grey image, three or four (the
// first three) as 24-bit RGB; samples of more than 8 bits keep their top 8.
// Writes 24-bit images as three-component 8-bit files with the predictor
// that codes shortest and optimal Huffman tables, no restarts, no metadata.
// Despite the sub-format's name "(JPEG-LS)" and the extension, these are
// not JPEG-LS (T.87) files. Relies on the format frame (safe save); the
// codec's messages go to the log. Refuses other depths (20) and sides
// above 65535 (14) before the file is opened.
#pragma once

#include "formats/raster/kxframe.h"

class kxoLJPG : public KXObject {
public:
    explicit kxoLJPG(KXClass* lib = nullptr);
    ~kxoLJPG() override;

    void Reset() override;
    uint32_t Save() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    KXF_FRAME_OPERATIONS(".JLS")

private:
    uint32_t decode();
};
