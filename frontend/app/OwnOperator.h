// OwnOperator: runs an operator of the library's catalogue on an object of
// the caller's own (the viewer's zoom and turn, the thumbnail's reduction),
// so the library's operator table and its undo state stay untouched.
#pragma once

#include <QString>
#include <initializer_list>
#include <utility>
#include <vector>

#include "core/kxlib.h"

namespace kxown {

// True when the catalogue entry of this operator number is a real module,
// not a placeholder; name (if given) receives its class name.
bool OperatorLanded(uint32_t number, QString* className = nullptr);

using Keys = std::initializer_list<std::pair<const char*, QByteArray>>;
// A settings list as data: keys and their value texts, in the order set.
using KeyList = std::vector<std::pair<QByteArray, QByteArray>>;

// Makes the operator on the given library object (null: _KXClass), hands it
// a settings list with the keys (or none when withSettings is false, so it
// reads its own control pad), runs it on source and detaches the result.
uint32_t Run(KXClass* lib, uint32_t number, KX_GfxBuffer* source, KX_GfxBuffer** result, Keys keys, bool withSettings = true);
uint32_t Run(KXClass* lib, uint32_t number, KX_GfxBuffer* source, KX_GfxBuffer** result, const KeyList& keys,
             bool withSettings = true);

// Numbers with fraction as the operators read them ("%f", C locale).
QByteArray Num(double v);
QByteArray Int(long v);

// The orientation table of EXIF (tag 0x0112), shared by Fix Orientation and
// the viewer's automatic turning. DEGREES counts counter-clockwise, so the
// clockwise turn of orientation 6 is DEGREES 270. degrees 0: no turn.
struct OrientationStep {
    int degrees;
    bool flip;  // LeftToRight after the turn
};
OrientationStep ForOrientation(uint32_t orientation);

// Runs the orientation's turn and flip on own operators; *result gets a new
// buffer (the caller frees it), or stays null when nothing needs doing.
uint32_t Orient(KXClass* lib, KX_GfxBuffer* source, uint32_t orientation, KX_GfxBuffer** result);

}  // namespace kxown
