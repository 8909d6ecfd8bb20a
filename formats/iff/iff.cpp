// iff: chunk layer, shared chunks, ByteRun1 and the module frame of the
// IFF family (see iff.h).
#include "formats/iff/iff.h"

#include <cstdlib>
#include <cstring>

// ---- chunk layer ------------------------------------------------------------

IffHandle* iffAlloc() { return static_cast<IffHandle*>(AllocVec(sizeof(IffHandle), MEMF_CLEAR)); }

void iffFree(IffHandle* h) {
    if (!h) return;
    if (h->Current) FreeVec(h->Current);
    FreeVec(h);
}

void iffInitAsFile(IffHandle* h) {
    if (h) h->StreamType = 1;
}

void iffInitAsClipboard(IffHandle* h) {
    if (h) h->StreamType = 2;
}

bool iffIdIs(const char* id, const char* four) { return memcmp(id, four, 4) == 0; }

bool iffReadHead(FILE* file, uint8_t* head, uint32_t n) {
    if (amSeek(file, 0, SEEK_SET) < 0) return false;
    long got = amRead(file, head, n);
    amSeek(file, 0, SEEK_SET);
    return got == (long)n;
}

int iffOpen(IffHandle* h, int32_t mode) {
    if (!h || h->StreamType != 1 || !h->Stream) return 1;
    if (mode == IFFF_WRITE) return 0;
    if (mode != IFFF_READ) return 1;
    FILE* f = h->Stream;
    if (amSeek(f, 0, SEEK_END) < 0) return 1;
    long size = amSeek(f, 0, SEEK_CUR);
    if (size < 0 || amSeek(f, 0, SEEK_SET) < 0) return 1;
    h->FileSize = size;
    uint8_t head[12];
    if (amRead(f, head, 12) != 12 || memcmp(head, "FORM", 4) != 0) return 1;
    // The FORM size is not used: parsing runs to the end of the stream.
    memcpy(h->FormType, head + 8, 4);
    return 0;
}

void iffClose(IffHandle*) {}

void iffSetStopChunks(IffHandle* h, const char* pairs, uint32_t count) {
    if (!h) return;
    h->StopChunks = pairs;
    h->StopCount = count;
}

int iffIsStopChunk(IffHandle* h, const char* id) {
    if (!h || !h->StopChunks || h->StopCount == 0) return 0;
    for (uint32_t i = 0; i < h->StopCount; ++i) {
        const char* pair = h->StopChunks + i * 8;
        if (memcmp(pair, h->FormType, 4) == 0 && memcmp(pair + 4, id, 4) == 0) return 1;
    }
    return 0;
}

void iffScanChunks(IffHandle* h, int32_t mode) {
    if (!h) return;
    IffChunk* previous = h->Current;
    h->Current = nullptr;
    if (mode != 1 || h->StreamType != 1 || !h->Stream) {
        if (previous) FreeVec(previous);
        return;
    }
    FILE* f = h->Stream;
    int64_t lastPosition = previous ? previous->Position : 12;
    char lastId[4] = {0, 0, 0, 0};
    bool first = true;
    while (first || !iffIsStopChunk(h, lastId)) {
        first = false;
        if (h->Current) {
            previous = h->Current;
            h->Current = nullptr;
        }
        if (previous) {
            // 64-bit arithmetic: a size near 4 GB must not wrap around.
            int64_t next = previous->Position + (int64_t)previous->Size + (previous->Size & 1);
            FreeVec(previous);
            previous = nullptr;
            // An empty chunk's successor starts where its data would: that
            // still advances (by its 8-byte header); only a step back ends.
            if (next < lastPosition || next + 8 > h->FileSize) return;
            if (amSeek(f, (long)next, SEEK_SET) < 0) return;
        }
        uint8_t head[8];
        if (amRead(f, head, 8) != 8) return;
        IffChunk* c = static_cast<IffChunk*>(AllocVec(sizeof(IffChunk), MEMF_CLEAR));
        if (!c) return;
        memcpy(c->FormType, h->FormType, 4);
        memcpy(c->Id, head, 4);
        memcpy(lastId, head, 4);
        c->Size = iffGet32(head + 4);
        long pos = amSeek(f, 0, SEEK_CUR);
        if (pos < 0) {
            FreeVec(c);
            return;
        }
        c->Position = pos;
        lastPosition = pos;
        h->Current = c;
    }
}

IffChunk* iffParse(IffHandle* h) {
    iffScanChunks(h, 1);
    return h ? h->Current : nullptr;
}

IffChunk* iffCurrentChunk(IffHandle* h) { return h ? h->Current : nullptr; }

long iffReadChunkBytes(IffHandle* h, void* buffer, size_t count) {
    if (!h || h->StreamType != 1 || !h->Stream) return -1;
    return amRead(h->Stream, buffer, count);
}

long iffWriteChunkBytes(IffHandle* h, const void* data, size_t count) {
    if (!h || h->StreamType != 1 || !h->Stream) return -1;
    if (count == 0) return 0;
    long r = amWrite(h->Stream, data, count);
    if (r != (long)count) h->WriteFailed = 1;
    return r;
}

void iffPushChunk(IffHandle* h, const char* formType, const char* id, uint32_t size) {
    if (!h || h->StreamType != 1) return;
    uint8_t head[12];
    memcpy(head, id, 4);
    iffPut32(head + 4, size);
    if (iffIdIs(id, "FORM")) {
        memcpy(head + 8, formType, 4);
        iffWriteChunkBytes(h, head, 12);
    } else {
        iffWriteChunkBytes(h, head, 8);
    }
}

void iffPopChunk(IffHandle*) {}

FILE* iffOpenClipboard(uint32_t) { return nullptr; }
void iffCloseClipboard(FILE*) {}

uint32_t iffChunkAvailable(IffHandle* h) {
    if (!h || !h->Current) return 0;
    int64_t left = h->FileSize - h->Current->Position;
    if (left <= 0) return 0;
    return (int64_t)h->Current->Size < left ? h->Current->Size : (uint32_t)left;
}

bool iffChunkComplete(IffHandle* h) { return h && h->Current && iffChunkAvailable(h) == h->Current->Size; }

bool iffReadRecord(IffHandle* h, void* record, uint32_t size) {
    if (!h || !h->Current || iffChunkAvailable(h) < size) return false;
    return iffReadChunkBytes(h, record, size) == (long)size;
}

// ---- shared writing -----------------------------------------------------------

void iffWriteDataChunk(IffHandle* h, const char* formType, const char* id, const void* data, uint32_t size) {
    iffPushChunk(h, formType, id, size);
    iffWriteChunkBytes(h, data, size);
    if (size & 1) {
        uint8_t pad = 0;
        iffWriteChunkBytes(h, &pad, 1);
    }
    iffPopChunk(h);
}

namespace {
inline uint64_t even(uint64_t v) { return (v + 1) & ~(uint64_t)1; }

// The IPTC block is written without its 26-byte Photoshop header; a block
// too short to hold that header is not written at all.
bool iptcWritable(const KXOSpecialInfo* info) { return info->Version != 0 && info->Iptc && info->IptcSize >= sizeof(Ps3IptcHeader); }
}  // namespace

uint64_t iffMetaChunksSize(const KXOSpecialInfo* info) {
    if (!info) return 0;
    uint64_t total = 0;
    const char* texts[4] = {info->Anno, info->Auth, info->Copy, info->Name};
    for (const char* t : texts)
        if (t) total = even(total + strlen(t) + 9);
    if (info->Version != 0) {
        if (info->Exif) total = even(total + info->ExifSize + 8);
        if (iptcWritable(info)) total = even(total + info->IptcSize - 18);
        if (info->Xmp0) total = even(total + info->Xmp0Size + 8);
        if (info->Xmp1) total = even(total + info->Xmp1Size + 8);
        if (info->IccName) total = even(total + strlen(info->IccName) + 9);
        if (info->IccData) total = even(total + info->IccSize + 8);
    }
    return total;
}

void iffWriteMetaChunks(IffHandle* h, const char* formType, const KXOSpecialInfo* info) {
    if (!info) return;
    const char* texts[4] = {info->Anno, info->Auth, info->Copy, info->Name};
    const char* ids[4] = {"ANNO", "AUTH", "(c) ", "NAME"};
    for (int i = 0; i < 4; ++i)
        if (texts[i]) iffWriteDataChunk(h, formType, ids[i], texts[i], (uint32_t)strlen(texts[i]) + 1);
    if (info->Version == 0) return;
    if (info->Exif) iffWriteDataChunk(h, formType, "EXIF", info->Exif, info->ExifSize);
    if (iptcWritable(info)) iffWriteDataChunk(h, formType, "IPTC", info->Iptc + sizeof(Ps3IptcHeader), info->IptcSize - (uint32_t)sizeof(Ps3IptcHeader));
    if (info->Xmp0) iffWriteDataChunk(h, formType, "XMP0", info->Xmp0, info->Xmp0Size);
    if (info->Xmp1) iffWriteDataChunk(h, formType, "XMP1", info->Xmp1, info->Xmp1Size);
    if (info->IccName) iffWriteDataChunk(h, formType, "ICCN", info->IccName, (uint32_t)strlen(info->IccName) + 1);
    if (info->IccData) iffWriteDataChunk(h, formType, "ICCP", info->IccData, info->IccSize);
}

const char* const kIffMetaIds[10] = {"ANNO", "AUTH", "(c) ", "NAME", "EXIF", "IPTC", "XMP0", "XMP1", "ICCN", "ICCP"};

bool iffIsMetaChunk(const char* id) {
    for (const char* m : kIffMetaIds)
        if (iffIdIs(id, m)) return true;
    return false;
}

namespace {
// Reads the whole current chunk into a zero-filled block with `extra`
// zero bytes behind it. Null when the file does not hold the whole chunk
// (checked before anything is allocated), memory is short or the read
// comes back short.
uint8_t* readWholeChunk(IffHandle* h, uint32_t extra) {
    if (!iffChunkComplete(h)) return nullptr;
    uint32_t size = h->Current->Size;
    uint32_t total;
    if (!KXSUP_CheckedSize(&total, (uint64_t)size + extra) || total == 0) return nullptr;
    uint8_t* block = static_cast<uint8_t*>(AllocVec(total, MEMF_CLEAR));
    if (!block) return nullptr;
    if (size && iffReadChunkBytes(h, block, size) != (long)size) {
        FreeVec(block);
        return nullptr;
    }
    return block;
}

void replaceText(char** slot, char* text) {
    if (*slot) FreeVec(*slot);
    *slot = text;
}

void replaceBlock(uint8_t** slot, uint32_t* sizeSlot, uint8_t* block, uint32_t size) {
    if (*slot) FreeVec(*slot);
    *slot = block;
    *sizeSlot = block ? size : 0;
}
}  // namespace

void iffReadMetaChunk(KXObject* m, IffHandle* h, const IffChunk* chunk, bool skipEmpty) {
    if (!m || !h || !chunk) return;
    const uint32_t size = chunk->Size;
    if (size == 0 && skipEmpty) return;
    const char* id = chunk->Id;
    if (iffIdIs(id, "ANNO") || iffIdIs(id, "AUTH") || iffIdIs(id, "(c) ") || iffIdIs(id, "NAME")) {
        // One zero byte more than the chunk: the text ends at its first NUL
        // or at the end of the chunk.
        char* text = reinterpret_cast<char*>(readWholeChunk(h, 1));
        if (!text) return;
        char** slot = iffIdIs(id, "ANNO") ? &m->Anno : iffIdIs(id, "AUTH") ? &m->Auth : iffIdIs(id, "(c) ") ? &m->Copy : &m->Name;
        replaceText(slot, text);
        return;
    }
    if (iffIdIs(id, "ICCN")) {
        // An empty chunk drops the name held; a later ICCP then names the
        // profile with the default.
        if (size == 0) {
            replaceText(&m->IccName, nullptr);
            return;
        }
        // The chunk carries its own NUL; one more guards a name without it.
        char* name = reinterpret_cast<char*>(readWholeChunk(h, 1));
        if (!name) return;
        replaceText(&m->IccName, name);
        return;
    }
    if (size == 0) return;  // an empty block carries nothing
    uint8_t* block = readWholeChunk(h, 0);
    if (!block) return;
    if (iffIdIs(id, "EXIF")) {
        replaceBlock(&m->Exif, &m->ExifSize, block, size);
    } else if (iffIdIs(id, "XMP0")) {
        replaceBlock(&m->Xmp0, &m->Xmp0Size, block, size);
    } else if (iffIdIs(id, "XMP1")) {
        replaceBlock(&m->Xmp1, &m->Xmp1Size, block, size);
    } else if (iffIdIs(id, "ICCP")) {
        replaceBlock(&m->IccData, &m->IccSize, block, size);
        if (!m->IccName) {
            static const char kDefault[] = "IFF ICC Profile";
            char* name = static_cast<char*>(AllocVec(sizeof(kDefault), MEMF_CLEAR));
            if (name) memcpy(name, kDefault, sizeof(kDefault));
            m->IccName = name;
        }
    } else if (iffIdIs(id, "IPTC")) {
        if (size >= 13 && memcmp(block, "Photoshop 3.0", 13) == 0) {
            replaceBlock(&m->Iptc, &m->IptcSize, block, size);
            return;
        }
        uint32_t total;
        uint8_t* wrapped = nullptr;
        if (KXSUP_CheckedSize(&total, (uint64_t)size + sizeof(Ps3IptcHeader)))
            wrapped = static_cast<uint8_t*>(AllocVec(total, MEMF_CLEAR));
        if (!wrapped) {
            FreeVec(block);
            replaceBlock(&m->Iptc, &m->IptcSize, nullptr, 0);
            return;
        }
        KX_WritePs3IptcHeader(wrapped, size);
        memcpy(wrapped + sizeof(Ps3IptcHeader), block, size);
        FreeVec(block);
        replaceBlock(&m->Iptc, &m->IptcSize, wrapped, total);
    } else {
        FreeVec(block);
    }
}

// ---- BMHD / CMAP / CAMG ---------------------------------------------------------

void iffParseBmhd(const uint8_t* data, uint32_t size, IffBmhd* out) {
    uint8_t b[20] = {};
    memcpy(b, data, size < 20 ? size : 20);
    out->Width = iffGet16(b);
    out->Height = iffGet16(b + 2);
    out->X = (int16_t)iffGet16(b + 4);
    out->Y = (int16_t)iffGet16(b + 6);
    out->Planes = b[8];
    out->Masking = b[9];
    out->Compression = b[10];
    out->Flags = b[11];
    out->TransparentColor = iffGet16(b + 12);
    out->XAspect = b[14];
    out->YAspect = b[15];
    out->PageWidth = (int16_t)iffGet16(b + 16);
    out->PageHeight = (int16_t)iffGet16(b + 18);
}

void iffBuildBmhd(const IffBmhd& in, uint8_t out[20]) {
    iffPut16(out, in.Width);
    iffPut16(out + 2, in.Height);
    iffPut16(out + 4, (uint16_t)in.X);
    iffPut16(out + 6, (uint16_t)in.Y);
    out[8] = in.Planes;
    out[9] = in.Masking;
    out[10] = in.Compression;
    out[11] = in.Flags;
    iffPut16(out + 12, in.TransparentColor);
    out[14] = in.XAspect;
    out[15] = in.YAspect;
    iffPut16(out + 16, (uint16_t)in.PageWidth);
    iffPut16(out + 18, (uint16_t)in.PageHeight);
}

bool iffReadCamg(IffHandle* h, uint32_t* value) {
    uint8_t b[4];
    *value = 0;
    if (!iffReadRecord(h, b, 4)) return false;
    uint32_t v = iffGet32(b);
    // An old-style 16-bit mode carries stray bits; keep only the meaningful ones.
    if ((v & 0xFFFF1000u) == 0 || ((v & 0x1000u) && (v & 0xFFFF0000u) == 0)) v &= 0x9EFDu;
    *value = v;
    return true;
}

uint32_t iffResolveModeId(KXObject* m, uint32_t camg, bool camgPresent, uint32_t width, uint32_t height, uint32_t depth) {
    char value[8];
    if (m && m->GetKey("IGNORE_CAMG", value, sizeof(value))) return KXSUP_BestModeID(width, height, depth);
    uint32_t mode = camgPresent ? camg : KXSUP_BestModeID(width, height, depth);
    if ((mode & 0xFFFF0000u) == 0) mode |= 0x21000u;  // PAL monitor
    return mode;
}

uint32_t iffCamgForViewMode(uint32_t viewMode) {
    // "No mode" must not turn into every mode bit (HAM and EHB included).
    if (viewMode == KXVIEWMODE_NONE) viewMode = 0;
    return viewMode & ~0x6102u;
}

// ---- ByteRun1 -------------------------------------------------------------------

namespace {
inline void emitLiteral(uint8_t*& out, const uint8_t* bytes, uint32_t k) {
    if (k == 0) return;
    *out++ = (uint8_t)(k - 1);
    memcpy(out, bytes, k);
    out += k;
}
inline void emitRun(uint8_t*& out, uint8_t value, uint32_t k) {
    *out++ = (uint8_t)(1 - (int)k);
    *out++ = value;
}
}  // namespace

uint32_t byteRun1PackRow(const uint8_t* row, uint32_t n, uint8_t* out) {
    if (n == 0) return 0;
    uint8_t* start = out;
    // The pending bytes are always a contiguous window of the row.
    uint32_t base = 0;      // row index of the buffer's first byte
    uint32_t runStart = 0;  // buffer index at which the equal run began
    bool runMode = false;
    for (uint32_t i = 1; i < n; ++i) {
        uint8_t c = row[i], p = row[i - 1];
        uint32_t m = i - base + 1;  // buffer size with c appended
        if (!runMode) {
            if (m > 128) {
                emitLiteral(out, row + base, m - 1);
                base = i;
                runStart = 0;
            } else if (c == p && m - runStart >= 3) {
                emitLiteral(out, row + base, runStart);
                base += runStart;
                runStart = 0;
                runMode = true;
            } else if (c == p && runStart == 0) {
                runMode = true;
            } else if (c != p) {
                runStart = m - 1;
            }
        } else {
            if (c != p || m - runStart > 128) {
                emitRun(out, p, m - 1 - runStart);
                base = i;
                runStart = 0;
                runMode = false;
            }
        }
    }
    uint32_t m = n - base;
    if (!runMode)
        emitLiteral(out, row + base, m);
    else
        emitRun(out, row[n - 1], m - runStart);
    return (uint32_t)(out - start);
}

bool byteRun1UnpackRow(const uint8_t** src, const uint8_t* end, uint8_t* out, uint32_t n) {
    const uint8_t* s = *src;
    uint32_t produced = 0;
    while (produced < n) {
        if (s >= end) {
            *src = s;
            return false;
        }
        uint8_t c = *s++;
        if (c < 128) {
            uint32_t k = (uint32_t)c + 1;
            uint32_t avail = (uint32_t)(end - s);
            uint32_t take = k < avail ? k : avail;
            uint32_t keep = take < n - produced ? take : n - produced;
            memcpy(out + produced, s, keep);
            produced += keep;
            s += take;
            if (take < k) {
                *src = s;
                return false;
            }
        } else if (c > 128) {
            if (s >= end) {
                *src = s;
                return false;
            }
            uint32_t k = 257 - c;
            uint8_t v = *s++;
            uint32_t keep = k < n - produced ? k : n - produced;
            memset(out + produced, v, keep);
            produced += keep;
        }
        // 128: no operation.
    }
    *src = s;
    return true;
}

// ---- module frame ------------------------------------------------------------------

KXIffModule::KXIffModule(KXClass* lib, const char* className, const char* extension, const char* formTypes) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration(className);
    BaseInit();
    InitWorkingFields();
    Extension = extension;
    FormTypes = formTypes;
}

void KXIffModule::Reset() {
    ReleaseFrame();
    FrameReset();
    FreeWork();
    InitOwn();
}

uint32_t KXIffModule::SetIOMode(int32_t mode) {
    if (mode != KXIO_FILE && mode != KXIO_CLIPBOARD) return KXERR_NOTSUPPORTED;
    IOMode = mode;
    return KXERR_NONE;
}

uint32_t KXIffModule::SetSubFormat(uint32_t index) {
    SelectedSubFormat = index;
    return KXERR_NONE;
}

uint32_t KXIffModule::SetSaveName(const char* path) {
    SaveName = path;
    return KXERR_NONE;
}

uint32_t KXIffModule::SetReadName(const char* path) {
    ReadName = path;
    return KXERR_NONE;
}

uint32_t KXIffModule::GetGfxBuffer(KX_GfxBuffer** buffer) {
    if (!buffer) return KXERR_INTERNALACCESS;
    *buffer = LoadedBuffer;
    return KXERR_NONE;
}

uint32_t KXIffModule::SetGfxBuffer(KX_GfxBuffer* buffer) {
    if (!buffer) return KXERR_INTERNALACCESS;
    SaveBuffer = buffer;
    return KXERR_NONE;
}

uint32_t KXIffModule::DetachGfxBuffer(KX_GfxBuffer** buffer) {
    if (!buffer) return KXERR_INTERNALACCESS;
    *buffer = LoadedBuffer;
    LoadedBuffer = nullptr;
    return KXERR_NONE;
}

uint32_t KXIffModule::GetExtension(char* buffer) {
    if (!buffer) return KXERR_INTERNALACCESS;
    strcpy(buffer, Extension);
    return KXERR_NONE;
}

uint32_t KXIffModule::SetProgress(KXProgressHook hook, uintptr_t user) {
    ProgressHook = hook;
    ProgressUser = user;
    return KXERR_NONE;
}

void KXIffModule::CloseHandle() {
    if (!Iff) return;
    iffClose(Iff);
    if (IOMode == KXIO_CLIPBOARD) iffCloseClipboard(Iff->Stream);
    iffFree(Iff);
    Iff = nullptr;
}

void KXIffModule::ReleaseFrame() {
    CloseHandle();
    if (SafeOpenNow) {
        KXSUP_SafeCommit(&Safe, false);
        SafeOpenNow = false;
    }
}

uint32_t KXIffModule::NewHandle() {
    ReleaseFrame();
    Iff = iffAlloc();
    if (!Iff) return KXERR_NOMEMORY;
    if (IOMode != KXIO_CLIPBOARD) return KXERR_NONE;
    Iff->Stream = iffOpenClipboard(0);
    if (!Iff->Stream) return KXERR_NOCLIPBOARD;
    iffInitAsClipboard(Iff);
    return KXERR_NONE;
}

uint32_t KXIffModule::OpenRead() {
    if (uint32_t err = NewHandle()) return err;
    if (IOMode != KXIO_CLIPBOARD) {
        if (ReadFile) amClose(ReadFile);
        ReadFile = amOpen(ReadName, "rb");
        if (!ReadFile) return KXERR_FILENOTFOUND;
        Iff->Stream = ReadFile;
        iffInitAsFile(Iff);
    }
    if (iffOpen(Iff, IFFF_READ) != 0) return KXERR_IFFPARSE;
    return KXERR_NONE;
}

uint32_t KXIffModule::OpenWrite() {
    if (uint32_t err = NewHandle()) return err;
    if (IOMode != KXIO_CLIPBOARD) {
        if (!SaveName || !*SaveName || !KXSUP_SafeOpen(&Safe, SaveName)) return KXERR_NODESTFILE;
        SafeOpenNow = true;
        Iff->Stream = Safe.File;
        iffInitAsFile(Iff);
    }
    if (iffOpen(Iff, IFFF_WRITE) != 0) return KXERR_NOMEMORY;
    return KXERR_NONE;
}

uint32_t KXIffModule::FinishWrite(uint32_t result) {
    bool failed = Iff && Iff->WriteFailed;
    if (Iff) {
        iffClose(Iff);
        iffFree(Iff);
        Iff = nullptr;
    }
    if (SafeOpenNow) {
        SafeOpenNow = false;
        uint32_t r = KXSUP_SafeCommit(&Safe, result == KXERR_NONE && !failed);
        if (result == KXERR_NONE && r != KXERR_NONE) result = KXERR_IO;
    }
    return result;
}

void KXIffModule::FinishRead() {
    CloseHandle();
    if (ReadFile) {
        amClose(ReadFile);
        ReadFile = nullptr;
    }
}

uint32_t KXIffModule::CheckFile(FILE* file, const char* /*name*/, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t head[12];
    if (!iffReadHead(file, head, 12) || memcmp(head, "FORM", 4) != 0) return 0;
    for (const char* t = FormTypes; t[0]; t += 4)
        if (memcmp(head + 8, t, 4) == 0) return 1;
    return 0;
}

uint32_t KXIffModule::StartLoad() {
    if (LoadedBuffer) {
        KXSUP_FreeGfxBuffer(LoadedBuffer);
        LoadedBuffer = nullptr;
    }
    uint32_t e = OpenRead();
    if (e != KXERR_NONE) FinishRead();
    return e;
}

uint32_t KXIffModule::FailLoad(uint32_t code) {
    FinishRead();
    if (LoadedBuffer) KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    return code;
}

uint32_t KXIffModule::NewLoadedBuffer(uint32_t version, uint32_t dataSize, uint32_t memFlags, uint32_t type, uint32_t width, uint32_t height, uint32_t depth) {
    KX_GfxBuffer* b = nullptr;
    const uint32_t e = KXSUP_AllocGfxBuffer(&b, version, dataSize, memFlags);
    if (e != KXERR_NONE || !b) return e != KXERR_NONE ? e : KXERR_NOMEMORY;
    LoadedBuffer = b;
    b->Type = type;
    b->Width = width;
    b->Height = height;
    b->ColorDepth = depth;
    return KXERR_NONE;
}

bool KXIffModule::KeyPresent(const char* key) {
    char value[16];
    return GetKey(key, value, sizeof(value)) != 0;
}

long KXIffModule::KeyNumber(const char* key, long fallback) {
    char value[64];
    if (!GetKey(key, value, sizeof(value))) return fallback;
    return atol(value);
}

void KXIffModule::SetCompressionText(const char* text) {
    if (Compression) FreeVec(Compression);
    Compression = nullptr;
    size_t n = strlen(text);
    if (n > 63) n = 63;
    Compression = static_cast<char*>(AllocVec(n + 1, MEMF_CLEAR));
    if (Compression) memcpy(Compression, text, n);
}

uint32_t KXIffModule::TakeAlphaMap8(const KX_GfxBuffer* buf, const uint8_t** map) {
    *map = nullptr;
    uint8_t* m = nullptr;
    int owned = 0;
    uint32_t e = KXSUP_GetAlphaMap8(buf, &m, &owned, 1, 1);
    if (e == KXERR_NOMEMORY) return e;
    if (e == KXERR_NONE && m) {
        if (AlphaMap8 && AlphaMap8Owned) FreeVec(AlphaMap8);
        AlphaMap8 = m;
        AlphaMap8Owned = owned ? 1 : 0;
        *map = m;
    }
    return KXERR_NONE;
}

uint32_t KXIffModule::TakeAlphaMap16(const KX_GfxBuffer* buf, const uint16_t** map) {
    *map = nullptr;
    uint16_t* m = nullptr;
    int owned = 0;
    uint32_t e = KXSUP_GetAlphaMap16(buf, &m, &owned, 1);
    if (e == KXERR_NOMEMORY) return e;
    if (e == KXERR_NONE && m) {
        if (AlphaMap16 && AlphaMap16Owned) FreeVec(AlphaMap16);
        AlphaMap16 = m;
        AlphaMap16Owned = owned ? 1 : 0;
        *map = m;
    }
    return KXERR_NONE;
}

namespace {
// Fixed sizes keep the per-pixel copies down to plain moves.
template <size_t S, size_t A>
void weave(const uint8_t* s, const uint8_t* a, uint64_t pixels, bool alphaFirst, uint8_t* d) {
    const size_t sampleAt = alphaFirst ? A : 0, alphaAt = alphaFirst ? 0 : S;
    for (uint64_t i = 0; i < pixels; ++i, s += S, a += A, d += S + A) {
        memcpy(d + sampleAt, s, S);
        memcpy(d + alphaAt, a, A);
    }
}
}  // namespace

uint32_t KXIffModule::WeaveAlpha(const KX_GfxBuffer* buf, bool alphaFirst, uint32_t tooLarge, uint8_t** body, uint32_t* size) {
    *body = nullptr;
    const bool deep = buf->ColorDepth == 48;
    const uint8_t* alpha = nullptr;
    uint32_t e;
    if (deep) {
        const uint16_t* map16 = nullptr;
        e = TakeAlphaMap16(buf, &map16);
        alpha = reinterpret_cast<const uint8_t*>(map16);
    } else {
        e = TakeAlphaMap8(buf, &alpha);
    }
    if (e != KXERR_NONE || !alpha) return e;
    const uint64_t pixels = (uint64_t)buf->Width * buf->Height;
    uint32_t bytes;
    if (!KXSUP_CheckedSize(&bytes, pixels, deep ? 8 : 4)) return tooLarge;
    uint8_t* out = static_cast<uint8_t*>(AllocVec(bytes, MEMF_ANY));
    if (!out) return KXERR_NOMEMORY;
    if (deep)
        weave<6, 2>(buf->Data, alpha, pixels, alphaFirst, out);
    else
        weave<3, 1>(buf->Data, alpha, pixels, alphaFirst, out);
    *body = out;
    *size = bytes;
    return KXERR_NONE;
}

// ---- bitmap body layer -----------------------------------------------------------

IffBmhd iffNewBmhd(uint32_t width, uint32_t height, uint32_t planes, uint8_t compression) {
    IffBmhd bmhd = {};
    bmhd.Width = (uint16_t)width;
    bmhd.Height = (uint16_t)height;
    bmhd.Planes = (uint8_t)planes;
    bmhd.Compression = compression;
    bmhd.Flags = 0x80;
    bmhd.XAspect = bmhd.YAspect = 1;
    bmhd.PageWidth = (int16_t)width;
    bmhd.PageHeight = (int16_t)height;
    return bmhd;
}

uint32_t KXIffBitmapModule::ReadBitmapChunks(const char* stops, uint32_t stopCount, const char* bodyId, BadMap badMap, IffBmhd* bmhd, IffChunk** body) {
    Camg = 0;
    CamgRead = false;
    *bmhd = {};
    *body = nullptr;
    iffSetStopChunks(Iff, stops, stopCount);
    uint32_t bmhdErr = KXERR_NONE;
    while (IffChunk* c = iffParse(Iff)) {
        if (c->Size == 0) continue;
        const char* id = c->Id;
        if (iffIdIs(id, "BMHD")) {
            uint8_t raw[20] = {};
            if (c->Size > 20)
                bmhdErr = KXERR_DECODE;
            else if (!iffReadRecord(Iff, raw, c->Size))
                bmhdErr = KXERR_EOF;
            else
                bmhdErr = KXERR_NONE;
            iffParseBmhd(raw, 20, bmhd);
        } else if (iffIdIs(id, "CAMG")) {
            CamgRead = iffReadCamg(Iff, &Camg);
        } else if (iffIdIs(id, "CMAP")) {
            if (badMap == BadMap::Drop) {
                if (Cmap) FreeVec(Cmap);
                Cmap = nullptr;
                CmapSize = 0;
            }
            if (!iffChunkComplete(Iff)) continue;
            uint8_t* map = static_cast<uint8_t*>(AllocVec(c->Size, MEMF_CLEAR));
            if (!map) continue;
            if (iffReadChunkBytes(Iff, map, c->Size) != (long)c->Size) {
                FreeVec(map);
                continue;
            }
            if (Cmap) FreeVec(Cmap);
            Cmap = map;
            CmapSize = c->Size;
        } else if (iffIdIs(id, bodyId)) {
            *body = c;
            break;
        } else if (iffIsMetaChunk(id)) {
            iffReadMetaChunk(this, Iff, c, true);
        } else {
            ReadOtherChunk(c);
        }
    }
    return bmhdErr;
}

void KXIffBitmapModule::SetLoadedPalette(KX_GfxBuffer* b, uint32_t planes) const {
    if (Cmap) {
        // More than 256 entries do not fit the palette; the rest is dropped.
        memcpy(b->Palette, Cmap, CmapSize < 768 ? CmapSize / 3 * 3 : 768);
        return;
    }
    const uint32_t colours = 1u << planes;
    for (uint32_t i = 0; i < 256; ++i) memset(b->Palette + i * 3, (int)((i * (256 / colours)) & 0xFF), 3);
    memset(b->Palette + (colours - 1) * 3, 255, 3);
}

void KXIffBitmapModule::ApplyTransparentColour(KX_GfxBuffer* b, const IffBmhd& bmhd) {
    if (bmhd.Masking != 2) return;
    b->Version = 3;
    b->AlphaType = KXALPHA_SINGLECOLOR;
    KXSUP_SetAlphaIndex(b, bmhd.TransparentColor);
}

void KXIffBitmapModule::TakeTransparentColour(IffBmhd* bmhd, const KX_GfxBuffer* buf) {
    if (KXSUP_AlphaHolds(buf) != KXALPHA_SINGLECOLOR) return;
    bmhd->Masking = 2;
    bmhd->TransparentColor = (uint16_t)KXSUP_AlphaIndex(buf);
}

void KXIffBitmapModule::WriteBitmapHead(const char* formType, const IffBmhd& bmhd, const uint8_t* palette, uint32_t cmapSize, uint32_t viewMode) {
    uint8_t raw[20];
    iffBuildBmhd(bmhd, raw);
    iffWriteDataChunk(Iff, formType, "BMHD", raw, 20);
    if (cmapSize == 0) return;
    iffWriteDataChunk(Iff, formType, "CMAP", palette, cmapSize);
    uint8_t camg[4];
    iffPut32(camg, iffCamgForViewMode(viewMode));
    iffWriteDataChunk(Iff, "    ", "CAMG", camg, 4);
}

void KXIffBitmapModule::FreeBitmapWork() {
    if (Body) FreeVec(Body);
    if (Cmap) FreeVec(Cmap);
    Body = Cmap = nullptr;
    CmapSize = 0;
    Camg = 0;
    CamgRead = false;
}
