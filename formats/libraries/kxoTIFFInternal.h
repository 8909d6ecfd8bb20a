// kxoTIFFInternal: what the TIFF module's files share among themselves
// beyond kxoTIFF.h: the libtiff opener, the default transfer curve and the
// orientation names.
#pragma once

#include <tiffio.h>

#include <cstdint>

// A libtiff handle on path (mode as TIFFOpen takes it) whose errors and
// warnings go to handler and whose single allocations stay within the
// library's size limit. Null when the file cannot be opened.
TIFF* KXTIFF_Open(const char* path, const char* mode, TIFFErrorHandlerExtR handler);

// The default transfer curve, gamma 2.2, at entries points (at least 2)
// from 0 to 65535, in an AllocVec block; null without memory.
uint16_t* KXTIFF_NewGamma22Curve(uint32_t entries);

// The names of the Orientation values 1 to 8, as the metadata texts and
// the log give them.
extern const char* const KXTIFF_OrientationNames[8];
