// kxoTIFF's decoding through libtiff.
#include "formats/libraries/kxoTIFF.h"

uint32_t kxoTIFF::loadTiffLibtiff(const char*, KX_GfxBuffer** out) {
    *out = nullptr;
    return KXERR_FILEREQUIREMENTS;
}
