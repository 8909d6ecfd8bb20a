// kxoMAC: MacPaint documents (see kxoMAC.h).
#include "formats/raster/kxoMAC.h"

#include <cstring>
#include <memory>

namespace {

const uint32_t MAC_WIDTH = 576, MAC_HEIGHT = 720, MAC_ROW = MAC_WIDTH / 8;
const uint32_t DOCUMENT_HEADER = 512, MACBINARY_HEADER = 128;

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

struct BufferDeleter {
    void operator()(KX_GfxBuffer* b) const { KXSUP_FreeGfxBuffer(b); }
};
using BufferPtr = std::unique_ptr<KX_GfxBuffer, BufferDeleter>;

}  // namespace

kxoMAC::kxoMAC(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoMAC");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoMAC::Reset() { FrameReset(); }

// A MacBinary header names the Macintosh file type at offset 65; a bare
// document begins with its 4-byte version (0 or 2), so only its name tells.
uint32_t kxoMAC::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t h[69];
    const size_t n = KXF_PeekHead(file, h, sizeof(h));
    if (n == sizeof(h) && memcmp(h + 65, "PNTG", 4) == 0) return 1;
    return n >= 4 && h[0] == 0 && h[1] == 0 && h[2] == 0 && KXF_NameEndsWith(name, ".MAC") ? 1 : 0;
}

uint32_t kxoMAC::Load() {
    KXF_Log(this, 2, "mac", "MAC recognized\n");
    return KXF_Load(this, &kxoMAC::LoadBody);
}

uint32_t kxoMAC::LoadBody() {
    KXByteReader r(ReadFile);
    if (!r.ok()) return KXERR_EOF;
    // Bytes 1 and 2 of a MacBinary header hold the name's length and first
    // character; both are 0 in a document's version number.
    uint8_t head[DOCUMENT_HEADER + MACBINARY_HEADER] = {};
    r.some(head, sizeof(head));
    const bool macBinary = head[1] != 0 || head[2] != 0;
    KXF_Log(this, 2, "mac", macBinary ? "with header\n" : "without header\n");
    const uint64_t start = macBinary ? DOCUMENT_HEADER + MACBINARY_HEADER : DOCUMENT_HEADER;
    SubFormatId = SubFormatIds[0];

    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, BITPLANE, MAC_WIDTH, MAC_HEIGHT, 1, 0, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    memset(img->Palette, 0, sizeof(img->Palette));
    memset(img->Palette, 255, 3);  // 0 white, 1 black

    // The packed rows are read whole; trailing bytes (a resource fork) are
    // read but not decoded. A file that ends in its header leaves nothing.
    if (r.size() <= start) return KXERR_NOMEMORY;
    const uint64_t packed = r.size() - start;
    uint32_t n = 0;
    if ((err = KXSUP_CheckSize(&n, packed)) != KXERR_NONE) return err;
    VecPtr block(static_cast<uint8_t*>(AllocVec(n, MEMF_ANY)));
    if (!block) return KXERR_NOMEMORY;
    KXF_Log(this, 2, "mac", "reading...\n");
    if (!r.seek(start) || !r.bytes(block.get(), n)) return KXERR_EOF;
    KXF_Log(this, 2, "mac", "decoding...\n");
    if ((err = UnpackRows(block.get(), n, img->Data, MAC_WIDTH, MAC_HEIGHT, 1)) != KXERR_NONE) return err;
    return KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
}

uint32_t kxoMAC::UnpackRows(const uint8_t* input, uint64_t size, uint8_t* data, uint32_t width, uint32_t height,
                            uint32_t planes) {
    const uint64_t rowBytes = ((uint64_t)width + 7) >> 3, planeBytes = rowBytes * height;
    uint64_t at = 0;
    for (uint32_t i = 0; i < height; ++i) {
        KXF_RowProgress(this, i, height);
        for (uint32_t p = 0; p < planes; ++p) {
            uint8_t* out = data + i * rowBytes + p * planeBytes;
            uint64_t filled = 0;
            // A run never crosses the end of its row.
            while (filled < rowBytes) {
                if (at >= size) return KXERR_EOF;
                const uint32_t n = input[at++];
                if (n == 128) continue;
                if (n < 128) {
                    const uint64_t count = n + 1;
                    if (filled + count > rowBytes) return KXERR_DECODE;
                    if (size - at < count) return KXERR_EOF;
                    memcpy(out + filled, input + at, (size_t)count);
                    at += count;
                    filled += count;
                } else {
                    const uint64_t count = 257 - n;
                    if (filled + count > rowBytes) return KXERR_DECODE;
                    if (at >= size) return KXERR_EOF;
                    memset(out + filled, input[at++], (size_t)count);
                    filled += count;
                }
            }
        }
    }
    return KXERR_NONE;
}

// The chain from the picture to save to one bit of 576 x 720 with white at
// index 0 (*result); *owned holds the newest intermediate, which the caller
// frees.
uint32_t kxoMAC::Convert(KX_GfxBuffer** owned, const KX_GfxBuffer** result) {
    KX_GfxBuffer* current = SaveBuffer;
    auto step = [&](const char* className, std::initializer_list<std::pair<const char*, const char*>> keys) -> uint32_t {
        KX_GfxBuffer* next = nullptr;
        const uint32_t err = KXF_RunOperator(Lib, className, current, &next, keys);
        if (err != KXERR_NONE) return err;
        KXSUP_FreeGfxBuffer(*owned);
        *owned = current = next;
        return KXERR_NONE;
    };
    uint32_t err = KXERR_NONE;
    if (current->Width != MAC_WIDTH || current->Height != MAC_HEIGHT) {
        if ((err = step("kxpResize", {{"NEW_WIDTH", "576"}, {"NEW_HEIGHT", "720"}})) != KXERR_NONE) return err;
        if ((err = step("kxpOptimizePalette", {})) != KXERR_NONE) return err;
    }
    if (current->ColorDepth > 1) {
        if (current->ColorDepth > 8) return KXERR_NO24BIT;
        if ((err = step("kxpHilbertDither256", {})) != KXERR_NONE) return err;
    }
    if ((err = step("kxpExtractGrayScales", {{"COLORDEPTH", "1"}, {"SORTED8BIT", "DESCENDING"}})) != KXERR_NONE) return err;
    if (current->Type == ONEPLANE) {
        KX_GfxBuffer* planes = nullptr;
        err = KXSUP_OnePlaneToBitPlane8(current, &planes);
        if (err != KXERR_NONE) {
            KXSUP_FreeGfxBuffer(planes);
            return err;
        }
        if (!planes) return KXERR_NOMEMORY;
        KXSUP_FreeGfxBuffer(LoadedBuffer);
        LoadedBuffer = current = planes;
    }
    if (current->Type != BITPLANE || current->ColorDepth > 1 || !KXF_BufferIsConsistent(current)) return KXERR_FILEREQUIREMENTS;
    if (current->Width != MAC_WIDTH || current->Height != MAC_HEIGHT) return KXERR_SIZEMISMATCH;
    *result = current;
    return KXERR_NONE;
}

uint32_t kxoMAC::Save() {
    if (IOMode != KXIO_FILE || !SaveBuffer) return KXERR_NOTSUPPORTED;
    if (SaveBuffer->Type != ONEPLANE && SaveBuffer->Type != BITPLANE) return KXERR_NOTSUPPORTED;
    if (!KXF_BufferIsConsistent(SaveBuffer)) return KXERR_INTERNALACCESS;
    // The operators run before the file is opened, so a refusal leaves the
    // old file as it was.
    KX_GfxBuffer* owned = nullptr;
    const KX_GfxBuffer* pic = nullptr;
    uint32_t err = Convert(&owned, &pic);
    BufferPtr intermediate(owned);
    if (err != KXERR_NONE) return err;

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter w(WriteFile);
    w.zeros(DOCUMENT_HEADER);
    // Every row as one literal run of 72 bytes.
    for (uint32_t i = 0; i < MAC_HEIGHT && w.ok(); ++i) {
        KXF_RowProgress(this, i, MAC_HEIGHT);
        w.u8(MAC_ROW - 1);
        w.bytes(pic->Data + (uint64_t)i * pic->BytesPerLine, MAC_ROW);
    }
    return KXF_EndSave(this, &sf, w.ok() ? KXERR_NONE : KXERR_IO);
}
