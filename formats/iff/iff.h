// iff: the small EA IFF 85 chunk layer the IFF-family modules share (one
// FORM read chunk by chunk up to the chunks a module asks for; chunk
// headers written with sizes computed in advance), the metadata chunk set,
// BMHD/CMAP/CAMG, the ByteRun1 codec, the module frame of these modules and
// the bitmap body layer of the BMHD forms (ILBM, PBM, ACBM).
// Relies on the core's file helpers, AllocVec and the safe save.
// Refuses chunks that claim more bytes than the file still holds.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/kxlib.h"

// ---- chunk layer ------------------------------------------------------------

struct IffChunk {
    char FormType[4];
    char Id[4];
    uint32_t Size;      // as stored, without the pad byte
    int64_t Position;   // stream offset of the first data byte
};

struct IffHandle {
    FILE* Stream;  // borrowed: the module opens and closes it
    uint32_t StreamType;  // 0 none, 1 file, 2 clipboard
    const char* StopChunks;  // runs of 8 characters: form type, chunk id
    uint32_t StopCount;
    IffChunk* Current;
    char FormType[4];
    int64_t FileSize;    // known after iffOpen in read mode
    uint32_t WriteFailed;  // a write came back short
};

enum : int32_t { IFFF_READ = 1, IFFF_WRITE = 2 };

IffHandle* iffAlloc();
void iffFree(IffHandle* h);
void iffInitAsFile(IffHandle* h);
void iffInitAsClipboard(IffHandle* h);
// 0 on success, 1 on failure.
int iffOpen(IffHandle* h, int32_t mode);
void iffClose(IffHandle* h);
void iffSetStopChunks(IffHandle* h, const char* pairs, uint32_t count);
IffChunk* iffParse(IffHandle* h);
int iffIsStopChunk(IffHandle* h, const char* id);
void iffScanChunks(IffHandle* h, int32_t mode);
IffChunk* iffCurrentChunk(IffHandle* h);
void iffPushChunk(IffHandle* h, const char* formType, const char* id, uint32_t size);
void iffPopChunk(IffHandle* h);
long iffReadChunkBytes(IffHandle* h, void* buffer, size_t count);
long iffWriteChunkBytes(IffHandle* h, const void* data, size_t count);
FILE* iffOpenClipboard(uint32_t unit);
void iffCloseClipboard(FILE* stream);

// The data bytes of the current chunk that the file really holds:
// min(chunk size, bytes left after the chunk's position).
uint32_t iffChunkAvailable(IffHandle* h);
// True when the whole current chunk lies inside the file.
bool iffChunkComplete(IffHandle* h);
// Reads a record of exactly `size` bytes from the current chunk: false when
// the chunk is shorter than the record or the read comes back short.
bool iffReadRecord(IffHandle* h, void* record, uint32_t size);

bool iffIdIs(const char* id, const char* four);
// The first n bytes of a file, the stream rewound after: false when the
// file is shorter or cannot be positioned.
bool iffReadHead(FILE* file, uint8_t* head, uint32_t n);

// ---- shared writing -----------------------------------------------------------

void iffWriteDataChunk(IffHandle* h, const char* formType, const char* id, const void* data, uint32_t size);
// FORM-size share of the metadata chunk set (0 without a record).
uint64_t iffMetaChunksSize(const KXOSpecialInfo* info);
void iffWriteMetaChunks(IffHandle* h, const char* formType, const KXOSpecialInfo* info);

// Stop pairs of the metadata chunk set, for building a module's list.
extern const char* const kIffMetaIds[10];
// True when the id belongs to the metadata chunk set.
bool iffIsMetaChunk(const char* id);
// Stores one metadata chunk in the module's metadata fields. With
// skipEmpty a chunk of size 0 is ignored; without it an empty text chunk
// gives an empty text.
void iffReadMetaChunk(KXObject* module, IffHandle* h, const IffChunk* chunk, bool skipEmpty);

// ---- BMHD / CMAP / CAMG ---------------------------------------------------------

struct IffBmhd {
    uint16_t Width, Height;
    int16_t X, Y;
    uint8_t Planes, Masking, Compression, Flags;
    uint16_t TransparentColor;
    uint8_t XAspect, YAspect;
    int16_t PageWidth, PageHeight;
};
// Parses 20 big-endian bytes; shorter data leaves the rest zero.
void iffParseBmhd(const uint8_t* data, uint32_t size, IffBmhd* out);
void iffBuildBmhd(const IffBmhd& in, uint8_t out[20]);

// Reads the current CAMG chunk; false when it could not be read.
bool iffReadCamg(IffHandle* h, uint32_t* value);
// The display mode of a loaded palette image.
uint32_t iffResolveModeId(KXObject* module, uint32_t camg, bool camgPresent, uint32_t width, uint32_t height, uint32_t depth);
// The CAMG word written for a buffer's display mode.
uint32_t iffCamgForViewMode(uint32_t viewMode);

// ---- ByteRun1 -------------------------------------------------------------------

// Worst-case packed size of n bytes.
inline uint64_t byteRun1Bound(uint64_t n) { return n + (n + 127) / 128; }
uint32_t byteRun1PackRow(const uint8_t* row, uint32_t n, uint8_t* out);
// Unpacks one row of n bytes from [*src, end) into out (n bytes). Bytes
// produced beyond n are dropped. Returns false when the source ends before
// n bytes were produced (the rest of out is left as it was).
bool byteRun1UnpackRow(const uint8_t** src, const uint8_t* end, uint8_t* out, uint32_t n);

// ---- zlib ------------------------------------------------------------------------

// deflate cannot expand its input by more than about 1032:1; a stated
// unpacked length beyond that cannot be real and is refused before allocation.
inline bool iffPlausibleUnpackedLength(uint64_t unpacked, uint64_t packed) { return unpacked <= packed * 1040 + 1024; }

// ---- numbers ----------------------------------------------------------------------

inline uint16_t iffGet16(const uint8_t* p) { return (uint16_t)((p[0] << 8) | p[1]); }
inline uint32_t iffGet32(const uint8_t* p) { return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3]; }
inline void iffPut16(uint8_t* p, uint32_t v) { p[0] = (uint8_t)(v >> 8); p[1] = (uint8_t)v; }
inline void iffPut32(uint8_t* p, uint32_t v) { p[0] = (uint8_t)(v >> 24); p[1] = (uint8_t)(v >> 16); p[2] = (uint8_t)(v >> 8); p[3] = (uint8_t)v; }

// ---- module frame ------------------------------------------------------------------

// The operations every module of the family implements alike: set-up,
// reset, I/O mode, subtype, names, buffer hand-over, extension, FORM check
// and progress hook. A module's own Reset calls ReleaseFrame() for the
// handle and the safe save.
class KXIffModule : public KXObject {
public:
    // Registers the module under className; the module's constructor then
    // calls its InitOwn and Configure.
    KXIffModule(KXClass* lib, const char* className, const char* extension, const char* formTypes);

    // Frame and object state, then the module's FreeWork and InitOwn.
    void Reset() override;

    uint32_t SetIOMode(int32_t mode) override;
    uint32_t SetSubFormat(uint32_t index) override;
    uint32_t SetSaveName(const char* path) override;
    uint32_t SetReadName(const char* path) override;
    uint32_t GetGfxBuffer(KX_GfxBuffer** buffer) override;
    uint32_t SetGfxBuffer(KX_GfxBuffer* buffer) override;
    uint32_t DetachGfxBuffer(KX_GfxBuffer** buffer) override;
    uint32_t GetExtension(char* buffer) override;
    uint32_t SetProgress(KXProgressHook hook, uintptr_t user) override;
    // A file is the module's when it is a FORM of one of FormTypes.
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;

protected:
    // The module's work blocks freed, and its own fields set to their
    // starting values.
    virtual void FreeWork() {}
    virtual void InitOwn() {}
    // Frees a left-over handle and drops an unfinished save file.
    void ReleaseFrame();
    // Opens the read file and a handle on it (2 file, 3 memory, 4 no FORM,
    // 5 clipboard).
    uint32_t OpenRead();
    // Opens a sibling temporary file and a handle for writing (3, 5, 7).
    uint32_t OpenWrite();
    // Ends a save: frees the handle and renames the file over SaveName only
    // when result is 0 and every write went through (else 30 or result).
    uint32_t FinishWrite(uint32_t result);
    // Ends a load: frees the handle, closes the file.
    void FinishRead();
    // Begins a load: drops the buffer of an earlier load and opens the read
    // file as OpenRead does, ending the read again when that fails.
    uint32_t StartLoad();
    // Ends a failed load: a failed load leaves no buffer. Returns code.
    uint32_t FailLoad(uint32_t code);
    // Allocates the buffer a load fills (KXSUP_AllocGfxBuffer's version,
    // data size and memory flags), makes it LoadedBuffer and gives it its
    // type, size and colour depth. KXERR_NOMEMORY when no buffer came back.
    uint32_t NewLoadedBuffer(uint32_t version, uint32_t dataSize, uint32_t memFlags, uint32_t type, uint32_t width, uint32_t height, uint32_t depth);
    // A switch key: on when present, whatever its value.
    bool KeyPresent(const char* key);
    // A number key read with atol; empty text when absent.
    long KeyNumber(const char* key, long fallback);
    // Replaces the module's compression text.
    void SetCompressionText(const char* text);
    // The buffer's alpha channel as an 8-bit (16-bit) map, converted where
    // needed and kept in AlphaMap8 (AlphaMap16) until Reset; null when the
    // buffer has none. Only KXERR_NOMEMORY is passed on.
    uint32_t TakeAlphaMap8(const KX_GfxBuffer* buf, const uint8_t** map);
    uint32_t TakeAlphaMap16(const KX_GfxBuffer* buf, const uint16_t** map);
    // The pixels of a 24- or 48-bit buffer with its alpha channel woven in:
    // samples then alpha, or alpha first; 48-bit samples and alpha copied as
    // they lie in memory. *body (the caller's to free) stays null when the
    // buffer has no alpha; tooLarge is returned when the result would not
    // fit 32 bits.
    uint32_t WeaveAlpha(const KX_GfxBuffer* buf, bool alphaFirst, uint32_t tooLarge, uint8_t** body, uint32_t* size);

    const char* Extension = "";
    const char* FormTypes = "";  // runs of 4 characters: the forms CheckFile takes
    IffHandle* Iff = nullptr;
    KXSafeFile Safe = {};
    bool SafeOpenNow = false;

private:
    // Releases the frame and allocates a new handle; on the clipboard its
    // stream is opened too (3, 5).
    uint32_t NewHandle();
    // Closes and frees the handle (and its clipboard stream), if any.
    void CloseHandle();
};

// ---- bitmap body layer -----------------------------------------------------------

// A BMHD for a new file: the picture's size and planes, the page the same
// size, square pixels, no mask.
IffBmhd iffNewBmhd(uint32_t width, uint32_t height, uint32_t planes, uint8_t compression);

// What the BMHD forms (ILBM, PBM, ACBM) do alike around their bodies: the
// chunk pass up to the body (BMHD, CAMG, CMAP and the metadata chunk set;
// other chunks go to ReadOtherChunk), the palette from CMAP or a grey ramp,
// the transparent colour both ways, and the chunks written before the body.
// The body itself (planes, chunky pixels, contiguous planes) stays with
// each module.
class KXIffBitmapModule : public KXIffModule {
public:
    using KXIffModule::KXIffModule;

protected:
    // Whether a CMAP that cannot be read whole leaves an earlier map in
    // place (ILBM) or counts as no map at all (PBM, ACBM).
    enum class BadMap { KeepEarlier, Drop };
    // Reads the chunks up to the body chunk `bodyId` (stops: the module's
    // stop pairs). *body is that chunk, null when the form has none. Returns
    // the state of the last BMHD: 0, KXERR_DECODE for one longer than 20
    // bytes, KXERR_EOF for one cut short; a missing BMHD leaves *bmhd zero.
    uint32_t ReadBitmapChunks(const char* stops, uint32_t stopCount, const char* bodyId, BadMap badMap, IffBmhd* bmhd, IffChunk** body);
    // A chunk of the pass that is none of the shared ones (size above 0).
    virtual void ReadOtherChunk(IffChunk* /*chunk*/) {}
    // The palette of a loaded picture of `planes` planes: the CMAP as read
    // (at most 256 entries), else a grey ramp ending in white.
    void SetLoadedPalette(KX_GfxBuffer* b, uint32_t planes) const;
    // BMHD masking 2: the transparent colour as the buffer's alpha index.
    static void ApplyTransparentColour(KX_GfxBuffer* b, const IffBmhd& bmhd);
    // The buffer's single transparent colour, if any, as BMHD masking 2.
    static void TakeTransparentColour(IffBmhd* bmhd, const KX_GfxBuffer* buf);
    // BMHD, then CMAP (cmapSize bytes of palette) and CAMG unless cmapSize
    // is 0.
    void WriteBitmapHead(const char* formType, const IffBmhd& bmhd, const uint8_t* palette, uint32_t cmapSize, uint32_t viewMode);
    // Frees Body and Cmap and forgets the CAMG.
    void FreeBitmapWork();

    uint8_t* Body = nullptr;  // the body as read, or built for saving
    uint8_t* Cmap = nullptr;  // CMAP as read
    uint32_t CmapSize = 0;
    uint32_t Camg = 0;
    bool CamgRead = false;
};
