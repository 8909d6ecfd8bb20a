// exifiptc: opens EXIF blocks (libexif) and IPTC records (libiptcdata) from a
// file or from the metadata record's blocks into a handle, looks a tag up
// and renders its value as UTF-8 text into the caller's buffer (or its raw
// bytes), and bridges both libraries' log output into the library log.
// The wrappers only parse: they never change a block and never fill a
// metadata record themselves. The caller owns a handle until it closes it.
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

// Text from a metadata block as UTF-8: valid UTF-8 is kept, anything else is
// read as Latin-1. Writes at most size-1 bytes and a zero, never cutting a
// character; returns the length written.
size_t KXSUP_MetaTextToUtf8(const char* text, size_t length, char* out, size_t size);
