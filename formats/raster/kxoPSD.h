// kxoPSD: Photoshop documents ("8BPS", version 1). Reads the flattened
// composite after the resources and the layer section: bitmap (1 bit),
// greyscale, indexed, RGB and CMYK with 8 bits a channel, raw or PackBits,
// the fourth channel of an RGB document as an 8-bit alpha map. Writes flat
// uncompressed documents: indexed for palette pictures, RGB for 24-bit
// ones, with a fourth channel when the picture has an alpha map.
// Refuses 16-bit, duotone, multichannel and Lab documents, zip data, more
// than 16 channels, bitmap documents of more than one channel and CMYK of
// fewer than four (15).
// Relies on the raster frame (byte reader and writer, checked sizes, safe
// save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoPSD : public KXObject {
public:
    explicit kxoPSD(KXClass* lib = nullptr);
    ~kxoPSD() override {
        kxoPSD::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".PSD")

private:
    uint32_t ReadImage();
};
