// kxpPaste: copies a second image into the area (KX_AREA or
// PASTE_LEFTEDGE, PASTE_TOPEDGE, PASTE_WIDTH, PASTE_HEIGHT; keys compared
// without regard to case). PASTEBUFFER names the buffer by its address in
// hexadecimal; only buffers registered with KX_RegisterPasteBuffer are
// taken, any other address gives 3, as does a missing one. The buffer must
// be chunky, of the image's depth (else 15) and of the limited area's size
// (else 28). It is changed in place where needed: 48-bit samples to the
// image's byte order, a 16-bit alpha map narrowed to 8 bits. The image's
// own 8-bit alpha map is kept as it is; else a pasted map is set into an
// opaque one.
#include "kxpPaste.h"

#include "kxpArea.h"

uint32_t kxpPaste::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputWithAlpha(source, result, &work);
    if (err) return err;

    KXPKeyReader keys(this, true);
    KXPArea a = KXP_ReadArea(keys, "PASTE_", work->Width, work->Height);
    KXP_LimitArea(a, work->Width, work->Height);
    uint64_t address = 0;
    if (!KXP_ParseHex(keys.Text("PASTEBUFFER"), &address) || !address) return KXERR_NOMEMORY;
    // The address is only text in a settings list: never follow one the
    // front end did not register for pasting.
    if (!KX_IsPasteBufferRegistered(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)))) {
        LogLine("PASTEBUFFER is not a registered paste buffer");
        return KXERR_NOMEMORY;
    }
    KX_GfxBuffer* paste = reinterpret_cast<KX_GfxBuffer*>(static_cast<uintptr_t>(address));
    if (paste->ColorDepth != work->ColorDepth) return KXERR_FILEREQUIREMENTS;
    // Its rows are read as contiguous chunky pixels.
    uint32_t pasteSize = 0;
    if (paste->Type != ONEPLANE || !paste->Data || !KXSUP_CheckedSize(&pasteSize, paste->Width, paste->Height, KXP_BytesPerPixel(paste)) ||
        pasteSize > paste->BufferSize)
        return KXERR_FILEREQUIREMENTS;
    if (work->ColorDepth == 48 && (err = KXSUP_ConvertGfxBufferEndianess(paste, KXSUP_GetGfxBufferEndianess(work)))) return err;
    if (a.Width != paste->Width || a.Height != paste->Height || !a.Width || !a.Height) return KXERR_SIZEMISMATCH;

    if ((err = NewSameSizeResult(work))) return err;
    KX_GfxBuffer* r = Result;
    const uint32_t bpp = KXP_BytesPerPixel(work);

    // What the paste buffer's AlphaData holds follows the core's rule: a
    // transparent index (bit 1, whatever else is set) is no map.
    const uint8_t* pastedMap = nullptr;
    const uint32_t pasteAlpha = KXSUP_AlphaHolds(paste);
    if (!AlphaMap8 && paste->AlphaData) {
        if (pasteAlpha == KXALPHA_CHANNEL8) {
            pastedMap = static_cast<const uint8_t*>(paste->AlphaData);
        } else if (pasteAlpha == KXALPHA_CHANNEL16) {
            auto* map16 = static_cast<uint16_t*>(paste->AlphaData);
            KXSUP_Convert16To8Bit(map16, reinterpret_cast<uint8_t*>(map16), paste->Width, paste->Height, KXSUP_GetGfxBufferEndianess(paste), 1);
            paste->AlphaType = KXALPHA_CHANNEL8;
            pastedMap = static_cast<const uint8_t*>(paste->AlphaData);
        }
    }

    std::memcpy(r->Data, work->Data, r->BufferSize);
    const size_t areaBytes = static_cast<size_t>(a.Width) * bpp;
    for (uint32_t i = 0; i < a.Height; i++) {
        RowProgress(i, a.Height);
        std::memcpy(Row(r, a.Top + i, bpp) + static_cast<size_t>(a.Left) * bpp, paste->Data + areaBytes * i, areaBytes);
    }

    if (AlphaMap8 || pastedMap) {
        const size_t w = work->Width;
        auto* map = static_cast<uint8_t*>(AllocVec(w * work->Height, MEMF_ANY));
        if (!map) return KXERR_NOMEMORY;
        if (AlphaMap8) {
            std::memcpy(map, AlphaMap8, w * work->Height);
        } else {
            std::memset(map, 255, w * work->Height);
            for (uint32_t i = 0; i < a.Height; i++) std::memcpy(map + w * (a.Top + i) + a.Left, pastedMap + static_cast<size_t>(a.Width) * i, a.Width);
        }
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        return err;
    }
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
