// exifiptc: opens EXIF blocks (libexif) and IPTC records (libiptcdata) from a
// file or from the metadata record's blocks into a handle, looks a tag up
// and renders its value as UTF-8 text into the caller's buffer (or its raw
// bytes), and bridges both libraries' log output into the library log.
// The wrappers only parse: they never change a block and never fill a
// metadata record themselves. The caller owns a handle until it closes it.
//
// Beside them, the one place that knows which of the record's texts come
// from its blocks: the readers take them from here, an edit of a block
// brings them along (KX_MetaReplaceBlock), and a writer that writes a block
// asks here which texts that block already carries, so that it writes each
// value once.
//
// Result codes of the find functions: 0 value delivered, 3 null handle or
// buffer, 7 buffer length 0 or value too large for the buffer, 4 no parsed
// data, 5 tag or occurrence not present, 6 present without a usable value.
// Open errors: 1 nothing read from the file, 2 no memory for the handle,
// 4 nothing parsed from the buffer.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include <libexif/exif-data.h>
#include <libexif/exif-log.h>
#include <libiptcdata/iptc-data.h>
#include <libiptcdata/iptc-log.h>

struct IptcHandle {
    uint32_t Valid;   // 1 once the block was parsed
    IptcData* Data;
    IptcLog* Log;     // only while the library log was open at opening time
    int32_t Offset;   // of the IPTC records in the Photoshop resource buffer
    uint32_t Length;  // of those records
};

struct ExifHandle {
    ExifData* Data;
    ExifLog* Log;
};

// EXIF directories by libexif index.
enum : uint32_t { KXEXIF_IFD0 = 0, KXEXIF_IFD1 = 1, KXEXIF_EXIF = 2, KXEXIF_GPS = 3, KXEXIF_INTEROP = 4 };

// A caller that wants a tag's bytes rather than its text puts this string at
// the start of its buffer (length above 13). The result is then a 32-bit
// data size (host order), two 32-bit zero words, the bytes and a zero.
extern const char KXEXIF_RAW_MARKER[12];  // 06 06 "kINARY" 06 06 06 00
constexpr uint32_t KXEXIF_RAW_HEADER = 12;

// path: a JPEG file. Null with *error 1 when libiptcdata reads no IPTC data.
IptcHandle* IPTC_Open(const char* path, uint32_t* error);
// buffer: a Photoshop resource block as in KXOSpecialInfo.Iptc (the 26-byte
// Ps3IptcHeader and the records). Null with *error 4 when no IPTC resource
// is found or it does not parse.
IptcHandle* IPTC_OpenBuf(const uint8_t* buffer, uint32_t size, uint32_t* error);
void IPTC_Close(IptcHandle* handle);
// The text of the index-th (0 = first) occurrence of record:dataset.
uint32_t IPTC_FindTag(IptcHandle* handle, uint32_t record, uint32_t dataset, uint32_t index, char* buffer,
                      uint32_t length);

// path: any file libexif finds EXIF data in. Null with *error 1 when none.
ExifHandle* EXIF_Open(const char* path, uint32_t* error);
// buffer: an EXIF block as in KXOSpecialInfo.Exif ("Exif" 00 00 and the
// TIFF-structured data). Null with *error 4 when nothing parses.
ExifHandle* EXIF_OpenBuf(const uint8_t* buffer, uint32_t size, uint32_t* error);
void EXIF_Close(ExifHandle* handle);
// EXIF_FindTagIFD over every directory.
uint32_t EXIF_FindTag(ExifHandle* handle, uint32_t tag, char* buffer, uint32_t length);
// The first hit in directories first..last. GPS latitude, longitude and
// altitude (2, 4, 6) read "48.00° 8.00' 54.37''"; orientation (274) a
// decimal number; any other tag libexif's rendering.
uint32_t EXIF_FindTagIFD(ExifHandle* handle, uint32_t first, uint32_t last, uint32_t tag, char* buffer,
                         uint32_t length);

// The log bridges (installed by the open functions).
void IPTC_LogFunc(IptcLog* log, IptcLogCode code, const char* domain, const char* format, va_list args, void* data);
void EXIF_LogFunc(ExifLog* log, ExifLogCode code, const char* domain, const char* format, va_list args, void* data);

// ---- the record's texts that come from its blocks ------------------------------

struct KXOSpecialInfo;

// The record's texts by index.
enum : uint32_t {
    KXMETATEXT_ANNO,
    KXMETATEXT_AUTH,
    KXMETATEXT_COPY,
    KXMETATEXT_NAME,
    KXMETATEXT_MORE1,
    KXMETATEXT_MORE2,
    KXMETATEXT_MORE3,
    KXMETATEXT_MORE4,
    KXMETATEXT_COUNT
};

// What the blocks give the record. Each text is the first one found, the
// IPTC records (record 2) first, then EXIF:
//   Anno  IPTC 120;            EXIF 37510, 40092, 270
//   Auth  IPTC 122, 80;        EXIF 40093, 315, 272
//   Copy  IPTC 116;            EXIF 33432
//   Name  IPTC 5;              EXIF 40091, 269
//   More1 IPTC 85; More3 IPTC 101; More4 IPTC 115
//   More2 the GPS summary: "GPS Lat <lat> <ref> Long <lon> <ref> Alt <alt> <ref>  - <date>"
// and the orientation is EXIF 274. Empty text, orientation 0: none.
struct KXMetaTexts {
    std::string Text[KXMETATEXT_COUNT];
    uint32_t Orientation = 0;
};
// Either handle may be null.
void KX_MetaTextsFromHandles(ExifHandle* exif, IptcHandle* iptc, KXMetaTexts* out);
// The blocks as the record holds them; either may be null.
void KX_MetaTextsFromBlocks(const uint8_t* exif, uint32_t exifSize, const uint8_t* iptc, uint32_t iptcSize,
                            KXMetaTexts* out);

// A reader's step: each of the fields (by KXMETATEXT_ index) still empty
// takes the text the blocks give, as a new text of its own (AllocVec).
void KX_MetaFillTexts(char** const fields[KXMETATEXT_COUNT], const KXMetaTexts& texts);

// The record's text field by index (KXMETATEXT_...).
char** KX_MetaTextField(KXOSpecialInfo* info, uint32_t index);

enum : uint32_t { KXMETABLOCK_EXIF = 0, KXMETABLOCK_IPTC = 1 };
// Replaces the record's EXIF or IPTC block with a copy of size bytes (null
// or 0: removes it) and brings along what came from the blocks: each text
// that holds what the old blocks gave (an absent text counts as empty)
// takes what the new ones give, an empty one removing the field, and so
// does the orientation; a text or orientation set otherwise stays. 3 when
// memory runs out (the record as it was), 13 for a null record or an
// unknown block.
uint32_t KX_MetaReplaceBlock(KXOSpecialInfo* info, uint32_t which, const uint8_t* bytes, uint32_t size);

// Which of the record's texts the given blocks carry: those whose text is
// not empty and is what the blocks give. A writer that writes these blocks
// and a reader that takes the texts from them need not write such a text
// again.
void KX_MetaTextsCarried(const KXOSpecialInfo* info, bool exif, bool iptc, bool carried[KXMETATEXT_COUNT]);

// An EXIF block ("Exif" 00 00 and the TIFF data) turned into the other
// byte order (intel: "II", else "MM") through libexif: a new block of our
// own (AllocVec) in *out with its size, or null. A block already in that
// order is copied as it is. 4 when the block does not parse, 3 when memory
// runs out, 5 when libexif cannot write it.
uint32_t KX_ExifWithByteOrder(const uint8_t* exif, uint32_t size, bool intel, uint8_t** out, uint32_t* outSize);

// Text from a metadata block as UTF-8: valid UTF-8 is kept, anything else is
// read as Latin-1. Writes at most size-1 bytes and a zero, never cutting a
// character; returns the length written.
size_t KXSUP_MetaTextToUtf8(const char* text, size_t length, char* out, size_t size);
