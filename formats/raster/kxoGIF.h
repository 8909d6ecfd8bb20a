// kxoGIF: GIF87a and GIF89a. Reads single pictures, animations and mosaics
// of many images, which it flattens onto one canvas of the logical screen
// (a palette canvas, or 24 bits when the images' colour tables differ), with
// the graphic control extension's transparency, disposal and delay and the
// first comment sub-block as annotation. Writes palette pictures of 1 to 8
// bits as one image (optionally interlaced, with a local colour table, with
// a transparent index in 89a) and 24-bit pictures losslessly as a mosaic of
// 16 x 16 tiles with a 256-colour table each.
// Relies on the frame's byte reader and writer, checked sizes, the safe save
// and the LZW codec beside it. Refuses pictures wider or taller than 65535
// pixels (15), depths other than 1 to 8 and 24 (16), 24 bits with
// TILED_SAVING "OFF" (21), HAM (19); alpha maps and 48-bit data are not written.
#pragma once

#include "core/kxlib.h"
#include "formats/raster/gif_lzw.h"
#include "formats/raster/kxframe.h"

class kxoGIF : public KXObject {
public:
    explicit kxoGIF(KXClass* lib);
    ~kxoGIF() override {
        kxoGIF::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t Save() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    KXF_FRAME_OPERATIONS(".GIF")

    // ---- own fields ----
    GifLzwEncoder Lzw;          // compressor state and packet buffer
    uint8_t Header[13] = {};    // signature and logical screen descriptor
    uint8_t Descriptor[9] = {}; // image descriptor as in the file
    uint32_t* Offsets = nullptr;  // file offset after each image's ","
    uint64_t* DataEnds = nullptr; // offset after each recorded image's data sub-blocks
    uint32_t ImageIndex = 0;
    uint32_t OffsetCount = 0;
    uint32_t OffsetCapacity = 4096;

    // Settings, each read from the pad when asked.
    int GetTransparentColor(uint32_t* index);
    int UseLocalColorMap();
    int SaveInterlaced();
    int TiledSaving();
    int TiledLoading(int64_t* selection);  // 1 on (selection -1), 0 off (selection TILE_NUMBER)
    int AnimLoading();                     // -1 none, 0 "FIRST", -2 "LAST"

private:
    struct ExtState {
        uint32_t transparentIndex = 0;
        int transparent = 0;
        uint32_t disposal = 0;
        uint32_t delay = 0;
    };
    struct Scan;
    void ReadExtension(KXByteReader& r, int introducer, ExtState* st);
    uint32_t ScanFile(KXByteReader& r, Scan* scan);
    uint32_t ReadImage(KXByteReader& r, uint8_t** pixels, uint32_t* size, bool single, uint8_t* rowsReached);
    uint32_t LoadSingle(KXByteReader& r, const Scan& scan);
    uint32_t LoadComposite(KXByteReader& r, Scan& scan, int64_t selection);
    uint32_t LoadBody();
    uint32_t SavePalette(KXByteWriter& w, uint8_t* area, size_t areaSize);
    uint32_t SaveTiled(KXByteWriter& w, uint8_t* area, size_t areaSize);
    void WriteColorMap(KXByteWriter& w);
    void WriteHeader(KXByteWriter& w, uint8_t flags);
    bool Is87a() const;
    static void RelayProgress(void* self, uint32_t percent);
};
