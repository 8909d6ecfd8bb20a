// kxoTIFFInternal: what the TIFF module's files share among themselves
// beyond kxoTIFF.h: the libtiff opener, the default transfer curve, the
// orientation names, and the seam through which the tests watch and steer
// the reader.
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

// ---- the tests' seam -------------------------------------------------------
// What the reader's loads went through, and libtiff failures asked for so
// that the fall-backs can be driven. A test declares one around its loads;
// while it lives, every load in the process reports to it (and the seam
// before it is back when it goes). Without one, loads record nothing.
struct KXTiffTestSeam {
    enum Road : uint32_t { ROAD_NONE = 0, ROAD_OWN = 1, ROAD_LIBTIFF = 2, ROAD_FALLBACK1 = 3, ROAD_FALLBACK2 = 4,
                           ROAD_FALLBACK3 = 5, ROAD_OWN_LAST = 6, ROAD_THUMBNAIL = 7 };
    // The road of the last load.
    uint32_t LastRoad = ROAD_NONE;
    // A libtiff decode of a file whose name contains one of these texts
    // fails as if libtiff could not decode it.
    const char* FailLibtiffOn[4] = {};

    KXTiffTestSeam();
    ~KXTiffTestSeam();
    KXTiffTestSeam(const KXTiffTestSeam&) = delete;
    KXTiffTestSeam& operator=(const KXTiffTestSeam&) = delete;

private:
    KXTiffTestSeam* Previous;
};

// The seam in force, null in production.
KXTiffTestSeam* KXTIFF_TestSeam();
