// kxoACBM: reads and writes FORM "ACBM" (see kxoACBM.h). Relies on the
// chunk layer and BMHD/CMAP/CAMG of iff.h, the chunky to bit-plane
// conversion and the safe save. Refuses compressed bodies, more than 8
// planes, BMHDs longer than 20 bytes, pictures wider or taller than the
// 16-bit BMHD fields hold and ABIT chunks shorter than their planes (29).
#include "formats/iff/kxoACBM.h"

#include <cstring>

namespace {
const char kStops[] =
    "ACBMBMHD"
    "ACBMCAMG"
    "ACBMCMAP"
    "ACBMNAME"
    "ACBMAUTH"
    "ACBMANNO"
    "ACBM(c) "
    "ACBMEXIF"
    "ACBMIPTC"
    "ACBMXMP0"
    "ACBMXMP1"
    "ACBMICCP"
    "ACBMICCN"
    "ACBMABIT";
const uint32_t kStopCount = 14;

// The module reports this sub-format number for every file it loads.
const uint32_t kLoadedSubFormat = 3;

// ABIT rows are word-aligned: the width rounded up to 16 pixels.
inline uint32_t abitRow(uint32_t width) { return ((width + 15) >> 4) * 2; }
}  // namespace

kxoACBM::kxoACBM(KXClass* lib) : KXIffBitmapModule(lib, "kxoACBM", ".ABM", "ACBM") {
    InitOwn();
    Configure(nullptr);
}

void kxoACBM::InitOwn() { PlaneCopy = nullptr; }

void kxoACBM::FreeWork() {
    FreeBitmapWork();
    if (PlaneCopy) KXSUP_FreeGfxBuffer(PlaneCopy);
    PlaneCopy = nullptr;
}

uint32_t kxoACBM::Save() {
    if (!SaveBuffer) return KXERR_NOTSUPPORTED;
    FreeWork();
    const KX_GfxBuffer* src = SaveBuffer;
    ReportProgress(10);
    if (src->Type == ONEPLANE) {
        uint32_t e = KXSUP_OnePlaneToBitPlane8(src, &PlaneCopy);
        if (e != KXERR_NONE) return e;
        if (!PlaneCopy) return KXERR_NOMEMORY;
        src = PlaneCopy;
    }
    ReportProgress(50);
    if (src->Type != BITPLANE) return KXERR_NOTSUPPORTED;
    const uint32_t planes = src->ColorDepth;
    if (planes == 24 || planes == 48) return KXERR_NO24BIT;
    if (planes < 1 || planes > 8) return KXERR_NOTSUPPORTED;
    const uint32_t width = src->Width, height = src->Height;
    if (width == 0 || height == 0 || !src->Data) return KXERR_NOTSUPPORTED;
    if (width > 0xFFFF || height > 0xFFFF) return KXERR_FILEREQUIREMENTS;
    const uint32_t bpl = (width + 7) >> 3, row = abitRow(width);
    uint32_t needed;
    if (src->BytesPerLine < bpl || !KXSUP_CheckedSize(&needed, src->BytesPerLine, height, planes) || src->BufferSize < needed)
        return KXERR_NOTSUPPORTED;

    // The ABIT data is built before the file is opened: a failure leaves no file.
    uint32_t abitSize;
    if (uint32_t e = KXSUP_CheckSize(&abitSize, planes, height, row)) return e;
    Body = static_cast<uint8_t*>(AllocVec(abitSize, MEMF_CLEAR));
    if (!Body) return KXERR_NOMEMORY;
    for (uint64_t r = 0; r < (uint64_t)planes * height; ++r) memcpy(Body + r * row, src->Data + r * src->BytesPerLine, bpl);

    const KXOSpecialInfo* info = SaveMetaFlag ? SpecialInfo : nullptr;
    const uint32_t cmapSize = 3u << planes;
    const uint64_t formSize = (uint64_t)cmapSize + abitSize + 60 + iffMetaChunksSize(info);
    if (formSize > 0xFFFFFFFFu) return KXERR_FILEREQUIREMENTS;

    IffBmhd bmhd = iffNewBmhd(width, height, planes, 0);
    TakeTransparentColour(&bmhd, SaveBuffer);

    uint32_t e = OpenWrite();
    if (e != KXERR_NONE) return FinishWrite(e);
    iffPushChunk(Iff, "ACBM", "FORM", (uint32_t)formSize);
    WriteBitmapHead("ACBM", bmhd, SaveBuffer->Palette, cmapSize, SaveBuffer->ViewMode);
    iffWriteMetaChunks(Iff, "ACBM", info);
    iffWriteDataChunk(Iff, "ACBM", "ABIT", Body, abitSize);
    iffPopChunk(Iff);
    FreeVec(Body);
    Body = nullptr;
    return FinishWrite(KXERR_NONE);
}

uint32_t kxoACBM::Load() {
    FreeWork();
    uint32_t e = StartLoad();
    if (e != KXERR_NONE) return e;
    IffBmhd bmhd;
    IffChunk* bodyChunk;
    // A map that cannot be read whole counts as no map.
    const uint32_t bmhdErr = ReadBitmapChunks(kStops, kStopCount, "ABIT", BadMap::Drop, &bmhd, &bodyChunk);

    if (bmhdErr != KXERR_NONE) return FailLoad(bmhdErr);
    const uint32_t planes = bmhd.Planes, width = bmhd.Width, height = bmhd.Height;
    if (bmhd.Compression != 0 || planes > 8) return FailLoad(KXERR_FILEREQUIREMENTS);
    if (!bodyChunk) return FailLoad(KXERR_NOVIEWABLEDATA);
    // No BMHD (or an empty picture) leaves nothing to decode.
    if (planes == 0 || width == 0 || height == 0) return FailLoad(KXERR_FILEREQUIREMENTS);

    const uint32_t bpl = (width + 7) >> 3, row = abitRow(width);
    const uint64_t planeRows = (uint64_t)planes * height;
    // The picture is sized first (3 beyond the library's size limit); every
    // plane row must then lie inside the chunk (the last one's pad may be
    // missing), checked before anything is allocated.
    uint32_t size;
    if ((e = KXSUP_CheckSize(&size, bpl, height, planes))) return FailLoad(e);
    if (!iffChunkComplete(Iff)) return FailLoad(KXERR_EOF);
    const uint32_t bodySize = bodyChunk->Size;
    if (bodySize < (planeRows - 1) * row + bpl) return FailLoad(KXERR_EOF);

    if ((e = NewLoadedBuffer(2, 0, MEMF_CLEAR, BITPLANE, width, height, planes))) return FailLoad(e);
    KX_GfxBuffer* b = LoadedBuffer;
    b->BytesPerLine = bpl;
    SetLoadedPalette(b, planes);
    ApplyTransparentColour(b, bmhd);
    b->ViewMode = iffResolveModeId(this, Camg, CamgRead, width, height, planes);
    KXSUP_SetGfxBufferModeFlags(b);
    SubFormatId = kLoadedSubFormat;

    ReportProgress(50);
    Body = static_cast<uint8_t*>(AllocVec(bodySize, MEMF_ANY));
    if (!Body) return FailLoad(KXERR_NOMEMORY);
    if (iffReadChunkBytes(Iff, Body, bodySize) != (long)bodySize) return FailLoad(KXERR_EOF);
    b->Data = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
    if (!b->Data) return FailLoad(KXERR_NOMEMORY);
    b->BufferSize = size;
    for (uint64_t r = 0; r < planeRows; ++r) memcpy(b->Data + r * bpl, Body + r * row, bpl);
    FreeVec(Body);
    Body = nullptr;
    if (!Cmap && planes < 8) KXSUP_AddGfxBufferFlags(b, KXGFXF_GRAY, 1);
    FinishRead();
    return KXERR_NONE;
}
