// kxtypes: the small records every part of kxlib shares: error codes,
// tag lists, list nodes, the progress record and the capability masks.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- error codes (returned, never thrown) ----------------------------------
enum : uint32_t {
    KXERR_NONE = 0,
    KXERR_UNKNOWNFORMAT = 1,
    KXERR_FILENOTFOUND = 2,
    KXERR_NOMEMORY = 3,
    KXERR_IFFPARSE = 4,
    KXERR_NOCLIPBOARD = 5,
    KXERR_NOSCREEN = 6,
    KXERR_NODESTFILE = 7,
    KXERR_INVALIDHANDLE = 8,
    KXERR_NOVIEWABLEDATA = 9,
    KXERR_NOWINDOWUSED = 10,
    KXERR_NOSCREENUSED = 11,
    KXERR_NOINFO = 12,
    KXERR_INTERNALACCESS = 13,
    KXERR_DECODE = 14,
    KXERR_FILEREQUIREMENTS = 15,
    KXERR_NOTSUPPORTED = 16,
    KXERR_NEWERVERSION = 17,
    KXERR_DRIVERNEEDED = 18,
    KXERR_NOHAM = 19,
    KXERR_NEED24BIT = 20,
    KXERR_NO24BIT = 21,
    KXERR_NEEDHAM = 22,
    KXERR_NOEHB = 23,
    KXERR_NEEDEHB = 24,
    KXERR_ABORTED = 25,
    KXERR_NEEDALPHA = 26,
    KXERR_NOALPHA = 27,
    KXERR_SIZEMISMATCH = 28,
    KXERR_EOF = 29,
    KXERR_IO = 30,
    KXERR_ENCODE = 31,
    KXERR_EXTERNALTOOL = 32,
    KXERR_NEED48BIT = 33,
    KXERR_NO48BIT = 34,
    KXERR_ENDIANLOCKED = 35,
    KXERR_ENDIANCONFLICT = 36,
};

// The fixed English message of a code; any unknown code has one message too.
const char* KXL_GetErrorString(uint32_t code);

// ---- tag lists ----------------------------------------------------------------
// Data is pointer-sized: it carries pointers as often as numbers.
struct TagItem {
    uint32_t Tag;
    uintptr_t Data;
};

enum : uint32_t {
    TAG_DONE = 0,
    TAG_END = 0,
    TAG_IGNORE = 1,
    TAG_MORE = 2,
    TAG_SKIP = 3,
    TAG_USER = 0x80000000u,
    KXTAG_LocalConfig = 0x80000022u,
    KXTAG_SpecialInfo = 0x80000026u,
};

// ---- lists ----------------------------------------------------------------------
struct Node {
    Node* Succ;
    Node* Pred;
    uint8_t Type;
    int8_t Pri;
    char* Name;
};

// Head/Tail/TailPred overlap as two sentinel nodes: Head+Tail act as the
// predecessor sentinel's links and Tail+TailPred as the successor sentinel's.
struct List {
    Node* Head;
    Node* Tail;
    Node* TailPred;
    uint8_t Type;
    uint8_t Pad;
};

// ---- progress -------------------------------------------------------------------
struct KXProgress {
    uint32_t Reserved;
    uint32_t Percent;  // 0..100
};

// The hook cannot cancel a run; the user value is handed back unchanged.
typedef void (*KXProgressHook)(KXProgress* progress, uintptr_t user);

// ---- capability words -------------------------------------------------------------
enum : uint32_t {
    KXPCAP_NOSRC = 0x1,
    KXPCAP_BRK = 0x2,
    KXPCAP_8BIT = 0xC,
    KXPCAP_24BIT = 0x30,
    KXPCAP_ALPHA = 0xC0,
    KXPCAP_HAM = 0x300,
    KXPCAP_SIZECHANGE = 0x400,
    KXPCAP_48BIT = 0x1800,

    KXOCAP_BRK = 0x100,
    KXOCAP_READ = 0x801,
    KXOCAP_WRITE = 0x1004,
    KXOCAP_24BIT = 0x6000,
    KXOCAP_ALPHA = 0x18000,
    KXOCAP_INFO = 0x20000,
    KXOCAP_48BIT = 0xC0000,
    KXOCAP_META = 0x300000,
};

// I/O modes of KXObject::SetIOMode.
enum : int32_t {
    KXIO_FILE = 1,
    KXIO_CLIPBOARD = 2,
    KXIO_DEVICE = 3,
};

// Byte-order codes of the byte-order functions (not the buffer flag bits).
enum : uint32_t {
    KXENDIAN_LITTLE = 1,  // host order
    KXENDIAN_BIG = 2,
};

// Memory flags of AllocVec: bit 0 clears the block.
enum : uint32_t {
    MEMF_ANY = 0,
    MEMF_CLEAR = 1,
};

class KXClass;
class KXLog;
class KXObject;
class KXOperator;
class KXConfig;
struct KX_GfxBuffer;
struct KX_ControlPad;
struct KXOSpecialInfo;
