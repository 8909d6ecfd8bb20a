// jpeg_backing: a memory limit for our own libjpeg coders, with the
// whole-image arrays that do not fit under it kept in temporary files.
//
// libjpeg-turbo's memory manager keeps every whole-image array (the
// coefficients of a progressive or optimised coding, a two-pass quantiser's
// picture) in memory and has no way to page one out. Its method table is
// public, though: Install replaces the virtual-array methods of one coder,
// right after jpeg_create_(de)compress, with ones that keep each array in
// memory while the coder stays under its limit and otherwise hold a window
// of rows in memory and the array in a temporary file in the library's
// temporary folder. The files are made exclusively (mode 0600) and removed
// from the folder at once; the open descriptor keeps them until the coding
// ends. Failures raise libjpeg's own errors (JERR_TFILE_CREATE, _SEEK,
// _READ, _WRITE) through the coder's error manager.
#pragma once

#include <cstdint>

struct jpeg_common_struct;

// What one coding asked of the memory manager; filled while the coder lives.
struct KXJpegMemoryStats {
    uint64_t peak = 0;       // most bytes held at once through the manager
    uint32_t files = 0;      // temporary files made
    uint64_t fileBytes = 0;  // bytes written to them
};

// The default limit in bytes: 1000000, or JPEGMEM when set (thousands of
// bytes, or millions with a trailing M, as libjpeg reads it). 0: no limit.
long KXJPEG_DefaultMemoryLimit();

// Installs the limit (bytes, 0: no limit) and the backing store on a coder
// made a moment ago. tempDir ends with "/". stats, when given, must outlive
// the coder. Uses the coder's client_data.
void KXJPEG_InstallBackingStore(jpeg_common_struct* coder, const char* tempDir, long limit, KXJpegMemoryStats* stats);
