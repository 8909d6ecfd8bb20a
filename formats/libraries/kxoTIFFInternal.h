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
