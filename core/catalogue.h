// catalogue: the registration of every operator and format class, in table
// order, one line per class. The core does not know the modules: it reaches
// their factories only through KX_FindOperatorFactory/KX_FindFormatFactory,
// which the factory table above the modules defines (modules/factories.cpp).
#pragma once

#include "kxtypes.h"

struct KXOperatorReg;
struct KXFormatReg;

typedef KXOperator* (*KXOperatorFactory)(KXClass* lib, const KXOperatorReg& reg);
typedef KXObject* (*KXFormatFactory)(KXClass* lib, const KXFormatReg& reg);

struct KXOperatorReg {
    uint32_t Number;
    const char* ClassName;  // "kxpResize"
    const char* PadName;    // "Resize.controlpad"
    const char* Description;
    uint32_t Capabilities;
};

struct KXFormatReg {
    const char* ClassName;  // "kxoBMP"
    const char* PadName;
    const char* FormatName;
    uint32_t SubFormatCount;          // subtypes offered
    uint32_t SubFormatRegistered;     // subtypes registered (may be more)
    const char* SubFormatNames[16];
    uint32_t SubFormatIds[16];
    uint32_t Capabilities;
    int Reader;  // reader table position or -1
    int Writer;  // writer table position or -1
    int Device;  // device-reader table position or -1
};

const KXOperatorReg* KX_OperatorRegs(uint32_t* count);
const KXFormatReg* KX_FormatRegs(uint32_t* count);
const KXOperatorReg* KX_FindOperatorReg(const char* className);
const KXFormatReg* KX_FindFormatReg(const char* className);

// The words the front end prints for a capability word ("READ WRITE ...",
// each followed by one blank).
void KX_OperatorCapsText(uint32_t caps, char* out, size_t size);
void KX_FormatCapsText(uint32_t caps, char* out, size_t size);

// The factory of a class's own module, or null while the class has none.
// Defined by the factory table above the modules, not by the core.
KXOperatorFactory KX_FindOperatorFactory(const char* className);
KXFormatFactory KX_FindFormatFactory(const char* className);

// A fresh object of the registration's class: its own module where there is
// one, else a placeholder. The caller owns it.
KXOperator* KX_NewOperator(KXClass* lib, const KXOperatorReg& reg);
KXObject* KX_NewObject(KXClass* lib, const KXFormatReg& reg);
// True when the class (by name) or operator (by number) has a module of its
// own; menus and save-format lists offer only these.
bool KX_IsBuilt(const char* className);
bool KX_OperatorIsBuilt(uint32_t number);

template <class T>
KXOperator* KX_MakeOperator(KXClass* lib, const KXOperatorReg&) { return new T(lib); }
template <class T>
KXObject* KX_MakeObject(KXClass* lib, const KXFormatReg&) { return new T(lib); }
KXOperator* KX_MakePlaceholderOperator(KXClass* lib, const KXOperatorReg& reg);
KXObject* KX_MakePlaceholderObject(KXClass* lib, const KXFormatReg& reg);
