// kxoJFIF: JPEG on libjpeg (libjpeg-turbo, API 62) through stdio streams.
// Reads every baseline or progressive JPEG libjpeg decodes (grey, YCbCr,
// RGB, CMYK and YCCK, optionally scaled down in steps of 1/8) into a 24-bit
// RGB buffer or an 8-bit grey or quantised palette image, and JPEG data
// behind a MacBinary header or Photoshop preamble. Writes JFIF, or SPIFF
// (a SPIFF header and end-of-directory entry before the JFIF stream), from
// 24-bit and palette images, in colour or grey. EXIF, IPTC, XMP and ICC
// profiles travel in APPn markers both ways (kxoJFIFMeta.cpp).
// Relies on the core's EXIF/IPTC access, the checked-size helper and the
// format frame (safe save). Refuses outputs other than 1, 3 or (CMYK/YCCK)
// 4 components (15), HAM images (19) and depths other than 1-8 and 24 (15).
// A file whose coded data ends early loads with LoadWarning 29 (KXERR_EOF):
// a single-scan file with the rows after its data left black (untouched),
// a progressive one with what its scans give. libjpeg's whole-image arrays
// beyond a memory limit (MAX_MEMORY, JPEGMEM, 1000000 bytes) go to
// temporary files (jpeg_backing).
//
// Other modules decode JPEG data with an object of their own (an EXIF
// thumbnail, a converter's output): make one on the library object, hand it
// a settings list (SetLocalConfig; READ_EXIF and READ_IPTC "OFF" for a
// thumbnail), SetReadName, Load, DetachGfxBuffer, delete it. Or, for bytes
// in memory, KXJFIF_DecodeThumbnail below does all of that.
#pragma once

#include "formats/libraries/jpeg_backing.h"
#include "formats/raster/kxframe.h"

struct jpeg_compress_struct;
struct jpeg_decompress_struct;

uint32_t KXJFIF_DecodeThumbnail(KXClass* lib, const uint8_t* data, uint32_t size, KX_GfxBuffer** out);

class kxoJFIF : public KXObject {
public:
    explicit kxoJFIF(KXClass* lib = nullptr);
    ~kxoJFIF() override;

    void Reset() override;
    uint32_t Save() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    KXF_FRAME_OPERATIONS(".JFIF")

    // 1 when libjpeg reads a complete JPEG header from the file, else 0.
    uint32_t CheckJPEG(const char* name);

    // Sub-format ids.
    static constexpr uint32_t kJfif = 0;
    static constexpr uint32_t kSpiff = 1;

    // What libjpeg's memory manager held at most during the last load or
    // save, and the temporary files it used (MAX_MEMORY sets its limit in
    // bytes, 0 for none).
    KXJpegMemoryStats MemoryStats;

    // ---- metadata markers (kxoJFIFMeta.cpp) ----
    // Which markers a load keeps.
    struct MetaSwitches {
        bool exif = false, iptc = false, xmp = false, icc = false;
        bool any() const { return exif || iptc || xmp || icc; }
    };
    // Writes EXIF, IPTC, XMP and ICC markers after jpeg_start_compress.
    void writeJpegMetadata(jpeg_compress_struct* c, const KXOSpecialInfo* info);
    static void writeIccMarkers(jpeg_compress_struct* c, const uint8_t* profile, uint32_t size);
    // Asks libjpeg to keep the markers (before jpeg_read_header).
    static void saveMarkers(jpeg_decompress_struct* d, const MetaSwitches& on);
    static void saveIccMarkers(jpeg_decompress_struct* d);
    // Walks the kept markers into the metadata fields.
    void readMarkers(jpeg_decompress_struct* d, const MetaSwitches& on);
    // A complete profile from the APP2 chunks; malloc'd, the caller frees.
    static bool readIccMarkers(jpeg_decompress_struct* d, uint8_t** profile, uint32_t* size);
    // Fill the texts from the IPTC block, then from the EXIF block.
    void importJfifIptc();
    void importJfifExif();

private:
    friend uint32_t KXJFIF_DecodeThumbnail(KXClass*, const uint8_t*, uint32_t, KX_GfxBuffer**);
    struct ReadSession;
    struct WriteSession;
    uint32_t readImage(FILE* file);
    uint32_t decode(ReadSession& s);
    uint32_t encode(WriteSession& s);
    uint32_t unwrapMac();
    bool keyIsOn(const char* key, bool fallback);
    bool keyIsExactOn(const char* key);
    bool keyIs(const char* key, const char* word);
    long keyNumber(const char* key, long fallback);
    void limitMemory(jpeg_common_struct* coder);
};

// Decodes JPEG bytes (an EXIF thumbnail) into a new 24-bit or 8-bit buffer
// owned by the caller, without metadata. lib may be null (the application's
// library object). 13 for null arguments, else the reader's code.
uint32_t KXJFIF_DecodeThumbnail(KXClass* lib, const uint8_t* data, uint32_t size, KX_GfxBuffer** out);
