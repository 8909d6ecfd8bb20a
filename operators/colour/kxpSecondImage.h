// kxpSecondImage: the loading of a second picture that three colour
// operators need (the reference palette, the alpha source, the picture to
// blend). The readers of a library object's table are asked in order which
// one knows the file; the file is then loaded by a fresh object of that
// reader's class, never by the table's object, whose reset would free a
// picture the application may hold in it (even this run's source).
#pragma once

#include <cstdint>

#include "kxlib.h"

// Paths of second pictures hold at most this many characters; longer ones
// are refused with 30, as a file that cannot be opened.
constexpr size_t KXP_SECOND_PATH_MAX = 259;

// Loads path with the readers of lib (a temporary library object when lib
// is null). On success *image is the loaded picture, owned by the caller
// (free it with KXSUP_FreeGfxBuffer). 30 when the file cannot be opened
// (an empty or over-long path included), 3 when no reader knows it or an
// object cannot be made, else the reader's own error.
uint32_t KXP_LoadSecondImage(KXClass* lib, const char* path, KX_GfxBuffer** image);

// Scales picture to width x height with a Resize operator of lib (NEW_WIDTH
// and NEW_HEIGHT in a settings list of its own); *scaled is the new
// picture, owned by the caller. The Resize operator's error is returned as
// it is; 3 when an object cannot be made.
uint32_t KXP_ScaleSecondImage(KXClass* lib, KX_GfxBuffer* picture, uint32_t width, uint32_t height, KX_GfxBuffer** scaled);
