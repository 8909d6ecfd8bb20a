// kxoPICT: Macintosh PICT files, QuickDraw pictures behind a 512-byte
// leading block. Recognises ".PCT", ".PIC" and ".PICT" files by their
// picture header (version 1 or 2) or by a JPEG stream at offset 859.
// Reads a picture by running the QuickDraw interpreter (kxoPICT_player),
// which draws bitmaps, indexed and direct pixel maps, lines, rectangles,
// polygons and text into a 24-bit canvas (with alpha after a four-component
// direct map); a file that only wraps a JPEG stream is loaded through the
// JPEG module of the catalogue from a temporary copy of the stream.
// Writes version-2 pictures with one PackBits pixel map: 8-bit indexed with
// a 256-entry colour table for palette images, 32-bit direct for 24-bit
// images (alpha, red, green, blue components with the pad key WRITE_ARGB,
// else three).
// Refuses 48-bit images and pictures wider or taller than 32767 pixels,
// indexed rows above 0x3FFF and direct rows above 4095 pixels (15).
// Relies on the raster frame (checked sizes, safe save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoPICT : public KXObject {
public:
    explicit kxoPICT(KXClass* lib = nullptr);
    ~kxoPICT() override {
        kxoPICT::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".PCT")

    uint32_t LoadBody();
    bool IsEmbeddedJPEG();
    uint32_t LoadEmbeddedJPEG();
    uint32_t DecodePicture();
    bool GetWriteARGB();
    // PackBits, at most 128 bytes per run; returns the packed length.
    static size_t PackRow(const uint8_t* row, size_t length, uint8_t* out);

    // The temporary copy of a wrapped JPEG stream, until the next such
    // load or Reset deletes it.
    char* JpegTempName = nullptr;
    const char* JpegTempFile = nullptr;

private:
    uint32_t WriteBody(bool argb, const uint8_t* alpha);
};
