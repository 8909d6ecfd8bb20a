// kxoRAW: headerless pixel dumps, save only. Sub-formats: Dump (palette
// pictures as bit planes, or one index byte a pixel with LUT8_FORMAT=CHUNKY;
// 24-bit R, G, B; 48-bit big-endian samples; an alpha map follows the
// colour data as bytes or big-endian 16-bit samples), Bayer Matrix (one
// byte a pixel, G B / R G sensor rows), YCbCr16 (two pixels in a 32-bit
// little-endian word Y0 Cb Y1 Cr, chroma per four pixels and two rows) and
// RGB16 (5:6:5 little-endian words). One line describing the layout goes
// into the "_COMMENT.txt" side file; kxoRAW_Import reads the dumps back.
// Relies on the raster frame (safe save, checked writer), the core's plane
// and byte-order conversions and the kxpAnyTo24Bit operator. Every check,
// conversion and allocation runs before the file is opened. Refuses other
// storage kinds and depths (16) and HAM pictures as Bayer Matrix (19).
// Dumping a 48-bit picture leaves it in big-endian order, marked so.
#pragma once

#include <string>

#include "formats/raster/kxframe.h"

class kxoRAW : public KXObject {
public:
    explicit kxoRAW(KXClass* lib = nullptr);
    ~kxoRAW() override {
        kxoRAW::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t Save() override;
    uint32_t CheckFile(FILE*, const char*, int32_t) override { return 0; }
    uint32_t Load() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".RAW")

private:
    struct Job;
    void releaseWork();
    uint32_t prepareDump(Job& j);
    uint32_t prepareBayer(Job& j);
    uint32_t prepare24(Job& j);
    uint32_t write(Job& j, KXByteWriter& w);
};
