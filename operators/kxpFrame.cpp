// kxpFrame: the shared frame of the image operators (see the header).
// Relies on the core's graphics-buffer helpers (bit-plane conversion, byte
// order, alpha maps, flags), the control-pad finders and AllocVec.
#include "kxpFrame.h"

#include <locale.h>
#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

// ---- paste registry ----------------------------------------------------------

namespace {

std::mutex& PasteMutex()
{
    static std::mutex m;
    return m;
}

std::unordered_set<const void*>& PasteSet()
{
    static std::unordered_set<const void*> s;
    return s;
}

locale_t CLocale()
{
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

const char* SkipBlanks(const char* p)
{
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') p++;
    return p;
}

}  // namespace

void KX_RegisterPasteBuffer(KX_GfxBuffer* buffer)
{
    if (!buffer) return;
    std::lock_guard<std::mutex> lock(PasteMutex());
    PasteSet().insert(buffer);
}

void KX_UnregisterPasteBuffer(KX_GfxBuffer* buffer)
{
    std::lock_guard<std::mutex> lock(PasteMutex());
    PasteSet().erase(buffer);
}

bool KX_IsPasteBufferRegistered(const void* address)
{
    if (!address) return false;
    std::lock_guard<std::mutex> lock(PasteMutex());
    return PasteSet().count(address) != 0;
}

// ---- text parsing ----------------------------------------------------------------

// atol as on a system whose long has 32 bits: out-of-range values saturate
// the way strtol does there.
int32_t KXP_ParseLong(const char* text)
{
    if (!text) return 0;
    const char* p = SkipBlanks(text);
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p++ - '0');
        if (v > static_cast<int64_t>(INT32_MAX) + 1) v = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative) v = -v;
    if (v > INT32_MAX) v = INT32_MAX;
    return static_cast<int32_t>(v);
}

bool KXP_ParseReal(const char* text, double* out)
{
    if (!text) return false;
    char* end = nullptr;
    double v = strtod_l(text, &end, CLocale());
    if (end == text) return false;
    *out = v;
    return true;
}

bool KXP_ParseHex(const char* text, uint64_t* out)
{
    if (!text) return false;
    const char* p = SkipBlanks(text);
    char* end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(p, &end, 16);
    if (end == p) return false;
    *out = v;
    return true;
}

// ---- key reader ------------------------------------------------------------------

KXPKeyReader::KXPKeyReader(KXOperator* op, bool noCase) : NoCase(noCase)
{
    if (!op || !op->PadPath) return;
    // The settings list's pad, else the settings pad file, else the
    // archive's defaults, so that a Reset never loses the defaults.
    Chain = op->KeyPad(&Loaded);
}

KXPKeyReader::~KXPKeyReader()
{
    if (Loaded) KXSUP_FreeControlPad(Loaded);
}

bool KXPKeyReader::Has(const char* key) const
{
    if (!Chain || !key) return false;
    char* value = nullptr;
    return (NoCase ? KXSUP_FindControlPadNoCase(Chain, key, &value) : KXSUP_FindControlPad(Chain, key, &value)) != 0;
}

const char* KXPKeyReader::Text(const char* key) const
{
    if (!Chain || !key) return nullptr;
    char* value = nullptr;
    int found = NoCase ? KXSUP_FindControlPadNoCase(Chain, key, &value) : KXSUP_FindControlPad(Chain, key, &value);
    return found ? value : nullptr;
}

int32_t KXPKeyReader::Long(const char* key, int32_t def) const
{
    const char* t = Text(key);
    return t ? KXP_ParseLong(t) : def;
}

uint32_t KXPKeyReader::ULong(const char* key, uint32_t def) const
{
    const char* t = Text(key);
    return t ? static_cast<uint32_t>(KXP_ParseLong(t)) : def;
}

uint32_t KXPKeyReader::Depth(const char* key) const
{
    const uint32_t d = ULong(key, 8);
    return d == 0 ? 1 : d > 8 ? 8 : d;
}

double KXPKeyReader::Real(const char* key, double def, bool* parsed) const
{
    double v = def;
    bool ok = KXP_ParseReal(Text(key), &v);
    if (parsed) *parsed = ok;
    return ok ? v : def;
}

int KXPKeyReader::Word(const char* key, const char* const* words, int count, int def) const
{
    const char* t = Text(key);
    if (!t) return def;
    for (int i = 0; i < count; i++)
        if (strcasecmp(t, words[i]) == 0) return i;
    return def;
}

uint32_t KXPKeyReader::HexColor(const char* key, uint32_t def) const
{
    const char* t = Text(key);
    if (!t || strncmp(t, "0x", 2) != 0) return def;
    uint64_t v = 0;
    if (!KXP_ParseHex(t + 2, &v)) return def;
    // "%lx" into a 32-bit long: a negative text wraps, a too long one saturates.
    const char* p = SkipBlanks(t + 2);
    if (*p != '-' && v > UINT32_MAX) return UINT32_MAX;
    return static_cast<uint32_t>(v);
}

// ---- frame -----------------------------------------------------------------------

kxpFrame::kxpFrame(KXClass* lib, const char* className) : KXOperator(lib), ClassName(className)
{
    ApplyRegistration(className);
    // Pad paths follow the registered pad name.
    KXOperator::Reset();
    Configure(nullptr);
}

kxpFrame::~kxpFrame()
{
    kxpFrame::Reset();
    FreeConfig();
}

void kxpFrame::Reset()
{
    FrameReset();
    if (Retired) {
        KXSUP_FreeGfxBuffer(Retired);
        Retired = nullptr;
    }
}

uint32_t kxpFrame::OperateTags(KX_GfxBuffer* source, KX_GfxBuffer** result, ...)
{
    va_list args;
    va_start(args, result);
    CollectTags(args);
    va_end(args);
    return OperateTagList(source, result, Tags);
}

uint32_t kxpFrame::DetachResult(KX_GfxBuffer** buffer)
{
    if (!buffer) return KXERR_INTERNALACCESS;
    *buffer = Result;
    Result = nullptr;
    return KXERR_NONE;
}

uint32_t kxpFrame::SetProgress(KXProgressHook hook, uintptr_t user)
{
    ProgressHook = hook;
    ProgressUser = user;
    return KXERR_NONE;
}

void kxpFrame::LogLine(const char* text)
{
    if (Log) Log->Log(1, "%-16s: %s\n", ClassName, text);
}

// Releases what an earlier run left behind: an undetached result (kept
// alive when it is this run's source) and the alpha map of the earlier
// source, which must never be applied to another image.
uint32_t kxpFrame::BeginRun(KX_GfxBuffer* source, KX_GfxBuffer** result)
{
    if (!source || !result) return KXERR_INTERNALACCESS;
    *result = nullptr;
    if (Result) {
        if (Result == source) {
            if (Retired) KXSUP_FreeGfxBuffer(Retired);
            Retired = Result;
        } else {
            KXSUP_FreeGfxBuffer(Result);
        }
        Result = nullptr;
    }
    if (AlphaMap8) {
        if (AlphaMap8Owned) FreeVec(AlphaMap8);
        AlphaMap8 = nullptr;
        AlphaMap8Owned = 0;
    }
    return KXERR_NONE;
}

uint32_t kxpFrame::ConvertBitPlanes(KX_GfxBuffer* source, KX_GfxBuffer** work)
{
    KX_GfxBuffer* copy = nullptr;
    uint32_t err = KXSUP_BitPlaneToOnePlane8(source, &copy);
    if (err) {
        if (copy) KXSUP_FreeGfxBuffer(copy);
        return err;
    }
    if (!copy) return KXERR_NOMEMORY;
    if (Scratch1) KXSUP_FreeGfxBuffer(Scratch1);
    Scratch1 = copy;
    *work = copy;
    return KXERR_NONE;
}

// A chunky work image must hold its pixels: a record whose block is
// smaller than its size says, or an empty picture, is refused before any
// row loop reads it.
uint32_t kxpFrame::CheckChunky(const KX_GfxBuffer* work)
{
    if (!work->Width || !work->Height || !work->Data) return KXERR_FILEREQUIREMENTS;
    uint32_t size = 0;
    if (!KXSUP_CheckedSize(&size, work->Width, work->Height, KXP_BytesPerPixel(work)) || size > work->BufferSize)
        return KXERR_FILEREQUIREMENTS;
    return KXERR_NONE;
}

// The source itself when chunky, else its chunky copy; then checked.
uint32_t kxpFrame::ChunkyWork(KX_GfxBuffer* source, KX_GfxBuffer** work)
{
    if (source->Type == ONEPLANE) {
        *work = source;
    } else if (source->Type == BITPLANE) {
        uint32_t err = ConvertBitPlanes(source, work);
        if (err) return err;
    } else {
        return KXERR_FILEREQUIREMENTS;
    }
    return CheckChunky(*work);
}

uint32_t kxpFrame::InputAnyDepth(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** work, uint32_t smallCode, bool refuseHam)
{
    uint32_t err = BeginRun(source, result);
    if (err) return err;
    if (source->Type > 2) return KXERR_NOTSUPPORTED;
    if (source->ColorDepth > 8 && source->ColorDepth != 24 && source->ColorDepth != 48) return KXERR_FILEREQUIREMENTS;
    if (smallCode && (source->Width < 2 || source->Height < 2)) return smallCode;
    if (refuseHam && IsHamBuffer(source)) return KXERR_NOHAM;
    return ChunkyWork(source, work);
}

uint32_t kxpFrame::InputTrueColour(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** work, bool only24)
{
    uint32_t err = BeginRun(source, result);
    if (err) return err;
    if (source->ColorDepth != 24 && (only24 || source->ColorDepth != 48)) return KXERR_NEED24BIT;
    if (source->Type != ONEPLANE) return KXERR_FILEREQUIREMENTS;
    *work = source;
    return CheckChunky(*work);
}

uint32_t kxpFrame::InputPalette(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** work)
{
    uint32_t err = BeginRun(source, result);
    if (err) return err;
    if (source->Type > 2) return KXERR_NOTSUPPORTED;
    if (source->ColorDepth == 48) return KXERR_NO48BIT;
    if (source->ColorDepth == 24) return KXERR_NO24BIT;
    if (source->ColorDepth > 8) return KXERR_FILEREQUIREMENTS;
    if (IsHamBuffer(source)) return KXERR_NOHAM;
    return ChunkyWork(source, work);
}

uint32_t kxpFrame::InputWithAlpha(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** work)
{
    uint32_t err = InputAnyDepth(source, result, work);
    return err ? err : FetchAlphaMap8(*work);
}

uint32_t kxpFrame::MakeHostOrder(KX_GfxBuffer* work)
{
    if (work->ColorDepth != 48) return KXERR_NONE;
    return KXSUP_ConvertGfxBufferEndianess(work, KXENDIAN_LITTLE);
}

uint32_t kxpFrame::FetchAlphaMap8(KX_GfxBuffer* work)
{
    if (AlphaMap8) return KXERR_NONE;
    uint8_t* map = nullptr;
    int owned = 0;
    uint32_t err = KXSUP_GetAlphaMap8(work, &map, &owned, 1, 1);
    if (err == KXERR_NOMEMORY) return KXERR_NOMEMORY;
    if (err || !map) return KXERR_NONE;  // no map: the run goes on without alpha
    AlphaMap8 = map;
    AlphaMap8Owned = owned ? 1 : 0;
    return KXERR_NONE;
}

uint32_t kxpFrame::NewResult(const KX_GfxBuffer* work)
{
    auto* r = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
    if (!r) return KXERR_NOMEMORY;
    CopyMem(work, r, sizeof(KX_GfxBuffer));
    r->Version = 2;
    if (work->Version < 2) r->NativeDIPF = 0;
    // The copied pointers belong to the work image: a result freed before
    // its own blocks are attached must not free them.
    r->Type = ONEPLANE;
    r->Data = nullptr;
    r->AlphaType = 0;
    r->AlphaData = nullptr;
    r->Flags = 0;
    Result = r;
    return KXERR_NONE;
}

void kxpFrame::DropResult()
{
    if (Result) KXSUP_FreeGfxBuffer(Result);
    Result = nullptr;
}

uint32_t kxpFrame::AllocSameSizePixels(KX_GfxBuffer* result, const KX_GfxBuffer* work)
{
    result->Data = static_cast<uint8_t*>(AllocVec(work->BufferSize, MEMF_ANY));
    if (!result->Data) return KXERR_NOMEMORY;
    const size_t used = static_cast<size_t>(work->Width) * KXP_BytesPerPixel(work) * work->Height;
    if (work->BufferSize > used) std::memset(result->Data + used, 0, work->BufferSize - used);
    return KXERR_NONE;
}

uint32_t kxpFrame::NewSameSizeResult(const KX_GfxBuffer* work)
{
    uint32_t err = NewResult(work);
    return err ? err : AllocSameSizePixels(Result, work);
}

uint32_t kxpFrame::BeginSameSize(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** work, uint8_t** map)
{
    *work = nullptr;
    if (map) *map = nullptr;
    uint32_t err = InputWithAlpha(source, result, work);
    if (!err) err = NewSameSizeResult(*work);
    if (err || !map || !AlphaMap8) return err;
    const KX_GfxBuffer* w = *work;
    if (!(*map = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(w->Width) * w->Height, MEMF_ANY)))) return KXERR_NOMEMORY;
    AttachAlphaMap(Result, *map);
    return KXERR_NONE;
}

void kxpFrame::AttachAlphaMap(KX_GfxBuffer* result, uint8_t* map)
{
    if (result->Version < 3) result->Version = 3;
    result->AlphaType = KXALPHA_CHANNEL8;
    result->AlphaData = map;
}

uint32_t kxpFrame::CarryAlpha(KX_GfxBuffer* result, const KX_GfxBuffer* work)
{
    // The core's one rule for several alpha bits: the index bit wins, so a
    // keyed picture keeps its index whatever map bits it carries too, and
    // a map bit beside the table bit means the block is a map, not a table.
    const uint32_t kind = KXSUP_AlphaHolds(work);
    if (kind == KXALPHA_SINGLECOLOR) {
        if (result->Version < 3) result->Version = 3;
        result->AlphaType = KXALPHA_SINGLECOLOR;
        result->AlphaData = work->AlphaData;
    } else if (kind == KXALPHA_MULTICOLOR && work->AlphaData) {
        auto* table = static_cast<uint8_t*>(AllocVec(256, MEMF_ANY));
        if (!table) return KXERR_NOMEMORY;
        CopyMem(work->AlphaData, table, 256);
        if (result->Version < 3) result->Version = 3;
        result->AlphaType = KXALPHA_MULTICOLOR;
        result->AlphaData = table;
    }
    return KXERR_NONE;
}

void kxpFrame::MarkResult(KX_GfxBuffer* result, const KX_GfxBuffer* work, const KX_GfxBuffer* source, uint32_t carriedFlags)
{
    if (result->ColorDepth == 48 || result->PixelBits == 48) KXSUP_SetGfxBufferEndianess(result, KXSUP_GetGfxBufferFlags(work));
    uint32_t sourceFlags = KXSUP_GetGfxBufferFlags(source);
    for (uint32_t bit : {static_cast<uint32_t>(KXGFXF_GRAY), static_cast<uint32_t>(KXGFXF_SRC8BIT), static_cast<uint32_t>(KXGFXF_SRCLOWDEPTH)})
        if ((carriedFlags & bit) && (sourceFlags & bit)) KXSUP_AddGfxBufferFlags(result, bit, 1);
}
