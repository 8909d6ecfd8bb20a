// kxoTIFF: TIFF.
// Writes one big-endian directory with the image in strips of about 8 KB,
// uncompressed or Deflate: palette images of 1 to 8 bits as 8-bit palette
// files (256-entry colour map), 24- and 48-bit RGB with an optional
// unassociated alpha channel, and the metadata record's XMP, IPTC, ICC,
// EXIF (either byte order), orientation and four text tags (subtypes
// "V5.0" without the blocks, "V6.0", "EP (ISO)").
// Reads the selected page (PAGENUMBER) of little- and big-endian files:
// a pre-parser of its own reads the directory first; libtiff then decodes
// (kxoTIFFLibtiff.cpp), with copy-and-convert fall-backs into simpler
// temporary files when it fails (kxoTIFFCopy.cpp); uncompressed and
// PackBits files have an own strip reader (kxoTIFFStrips.cpp), which is
// the first choice for simple layouts and the last resort for the others.
// IS_EXIF files yield their JPEG thumbnail through the JFIF module.
// Refuses BigTIFF (15), directories and blocks that point past the end of
// the file (29), sizes beyond the library's limits (15 or 3), and, before
// allocating the picture, files whose strips cannot hold it (29 when not
// one row is there, 14 for compressed data that cannot give the picture);
// a cut file of the own reader's layouts loads the rows it holds.
// Relies on libtiff, zlib, the colour-management builders, the format
// frame (safe save) and the checked-size helper.
#pragma once

#include <cstdint>

#include "formats/raster/kxframe.h"

// What the pre-parser takes from the selected directory.
struct KXTiffLayout {
    bool BigEndian = false;
    uint32_t Width = 0, Height = 0;
    uint32_t BitsPerSample = 1;
    uint32_t Compression = 1;
    uint32_t Photometric = 1;
    uint32_t SamplesPerPixel = 1;
    uint32_t RowsPerStrip = 0;
    bool HasRowsPerStrip = false;
    uint32_t Planar = 1;
    int32_t ExtraSamples = -1;  // -1 none, -2 several or unusual
    uint32_t SampleFormat = 1;
    uint32_t Tag366 = 0;
    uint32_t FillOrder = 1;  // 2: the bits of each byte stored in reverse
    uint32_t TileWidth = 0, TileLength = 0, TileByteCounts = 0;
    bool Tiled = false;
    uint32_t StripCount = 0;
    uint32_t ColorMapOffset = 0;
    bool HasColorMap = false;
    uint32_t ThumbOffset = 0, ThumbLength = 0;
    uint32_t IptcOffset = 0, IptcCount = 0, IptcType = 0;
    bool HasIptc = false;
    uint32_t IccOffset = 0, IccLength = 0;
    bool HasIcc = false;
    float WhitePoint[2] = {};
    float Primaries[6] = {};
    bool HasWhitePoint = false, HasPrimaries = false;
    uint32_t Found = 0;
};

// Numbers of either byte order through the byte reader.
struct KXTiffReader {
    KXByteReader& r;
    bool big;
    uint16_t u16() { return big ? r.be16() : r.le16(); }
    uint32_t u32() { return big ? r.be32() : r.le32(); }
};

class kxoTIFF : public KXObject {
public:
    explicit kxoTIFF(KXClass* lib = nullptr);
    ~kxoTIFF() override;

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".TIFF")

private:
    // ---- settings ----
    bool keyIs(const char* key, const char* word);
    long keyNumber(const char* key, long fallback);

    // ---- writer (kxoTIFFWriter.cpp) ----
    friend struct KXTiffSave;
    uint8_t* ExifCopy = nullptr;
    uint32_t ExifCopySize = 0;

    // ---- reader (kxoTIFF.cpp, kxoTIFFParse.cpp) ----
    uint32_t loadBody(bool& readMeta);
    uint32_t parseTiffDirectory(bool readMeta, bool isExif);
    uint32_t findExifThumbnail(KXByteReader& r, struct KXTiffReader& in, uint32_t dir, uint32_t count);
    static bool isTextTag(uint32_t tag);
    uint32_t readText(KXByteReader& r, const struct KXTiffEntry& e, bool big);
    uint32_t chooseAndDecode(bool readMeta);
    uint32_t runOwnReader();
    uint32_t runFallbacks(uint32_t err);
    void readMetaWithoutLibtiff();
    void takeIptcTexts();
    uint32_t loadTiffExifThumbnail();
    void deleteTempFiles();

    KXTiffLayout L;
    uint64_t FileSize = 0;
    uint32_t* StripOffsets = nullptr;  // AllocVec, StripCount entries
    uint32_t* StripLengths = nullptr;  // AllocVec, StripCount entries (0 when absent)
    uint16_t* Transfer = nullptr;      // AllocVec, TransferCurves x TransferLength
    uint32_t TransferCurves = 0, TransferLength = 0;
    uint8_t* Thumbnail = nullptr;
    bool WasCmykOrYcc = false;
    bool DataShort = false;  // libtiff found less data in the file than the page needs
    char TempNames[3][256] = {};
    char MakeText[64] = {};
    char ModelText[64] = {};
    char OrientationText[16] = {};
    uint32_t TempCounter = 0;

    // ---- libtiff decoding (kxoTIFFLibtiff.cpp) ----
    friend struct KXTiffDecoder;
    uint32_t loadTiffLibtiff(const char* path, KX_GfxBuffer** out);

    // ---- own strip reader (kxoTIFFStrips.cpp) ----
    friend struct KXTiffStrips;
    uint32_t LoadTIFFInternal(KX_GfxBuffer** out);
};

// The copy-and-convert routine (kxoTIFFCopy.cpp): rewrites TIFF files as
// libtiff's "tiffcp" command line does, from an argument vector of that
// form ("tiffcp" [options] input... output). 0 success, -2 the output
// cannot be created, -3 an input cannot be opened, 1 a page cannot be
// copied or written (or the options are not understood).
int KXTIFF_CopyConvert(int argc, const char* const* argv);

// Whether the data a libtiff handle's file holds for its current page can
// give the picture the page declares (kxoTIFFLibtiff.cpp); checked before
// the page's pixels are allocated.
struct tiff;
bool KXTIFF_DataCanFit(struct tiff* tif);
