// kxframe: the shared part of the raster format modules (see kxframe.h).
#include "formats/raster/kxframe.h"

#include <strings.h>

#include <cstring>
#include <memory>

#include "core/catalogue.h"
#include "core/operator.h"

// ---- KXByteReader -------------------------------------------------------------

KXByteReader::KXByteReader(FILE* file) : File(file) {
    if (!file) {
        Ok = false;
        return;
    }
    long here = ftell(file);
    if (here < 0 || fseek(file, 0, SEEK_END) != 0) {
        Ok = false;
        return;
    }
    long end = ftell(file);
    if (end < 0 || fseek(file, here, SEEK_SET) != 0) {
        Ok = false;
        return;
    }
    Size = (uint64_t)end;
    Pos = (uint64_t)here;
}

KXByteReader::KXByteReader(const uint8_t* data, size_t size) : Data(data), Size(data ? size : 0) {}

size_t KXByteReader::some(void* destination, size_t length) {
    if (!Ok || length == 0) return 0;
    uint64_t left = remaining();
    size_t n = length < left ? length : (size_t)left;
    if (n == 0) return 0;
    if (Data) {
        memcpy(destination, Data + Pos, n);
    } else {
        n = fread(destination, 1, n, File);
    }
    Pos += n;
    return n;
}

bool KXByteReader::bytes(void* destination, size_t length) {
    if (!Ok) return false;
    if (some(destination, length) != length) Ok = false;
    return Ok;
}

uint8_t KXByteReader::u8() {
    uint8_t b[1] = {0};
    return bytes(b, 1) ? b[0] : 0;
}

uint16_t KXByteReader::le16() {
    uint8_t b[2];
    return bytes(b, 2) ? (uint16_t)(b[0] | b[1] << 8) : 0;
}

uint16_t KXByteReader::be16() {
    uint8_t b[2];
    return bytes(b, 2) ? (uint16_t)(b[0] << 8 | b[1]) : 0;
}

uint32_t KXByteReader::le32() {
    uint8_t b[4];
    return bytes(b, 4) ? (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24 : 0;
}

uint32_t KXByteReader::be32() {
    uint8_t b[4];
    return bytes(b, 4) ? (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | (uint32_t)b[3] : 0;
}

uint64_t KXByteReader::le64() {
    uint64_t lo = le32();
    uint64_t hi = le32();
    return Ok ? lo | hi << 32 : 0;
}

uint64_t KXByteReader::be64() {
    uint64_t hi = be32();
    uint64_t lo = be32();
    return Ok ? lo | hi << 32 : 0;
}

bool KXByteReader::seek(uint64_t position) {
    if (!Ok) return false;
    if (position > Size) return Ok = false;
    if (File && fseek(File, (long)position, SEEK_SET) != 0) return Ok = false;
    Pos = position;
    return true;
}

bool KXByteReader::skip(uint64_t count) {
    if (!Ok) return false;
    if (count > remaining()) return Ok = false;
    return seek(Pos + count);
}

int KXByteReader::next() {
    if (!Ok || Pos >= Size) return -1;
    if (Data) return Data[Pos++];
    int c = fgetc(File);
    if (c == EOF) return -1;
    ++Pos;
    return c;
}

// ---- KXByteWriter -------------------------------------------------------------

void KXByteWriter::bytes(const void* data, size_t length) {
    if (!Ok || length == 0) return;
    if (fwrite(data, 1, length, File) != length) {
        Ok = false;
        return;
    }
    Count += length;
}

void KXByteWriter::u8(uint8_t v) { bytes(&v, 1); }

void KXByteWriter::le16(uint16_t v) {
    uint8_t b[2] = {(uint8_t)v, (uint8_t)(v >> 8)};
    bytes(b, 2);
}

void KXByteWriter::be16(uint16_t v) {
    uint8_t b[2] = {(uint8_t)(v >> 8), (uint8_t)v};
    bytes(b, 2);
}

void KXByteWriter::le32(uint32_t v) {
    uint8_t b[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
    bytes(b, 4);
}

void KXByteWriter::be32(uint32_t v) {
    uint8_t b[4] = {(uint8_t)(v >> 24), (uint8_t)(v >> 16), (uint8_t)(v >> 8), (uint8_t)v};
    bytes(b, 4);
}

void KXByteWriter::zeros(size_t length) {
    static const uint8_t z[256] = {};
    while (Ok && length) {
        size_t n = length < sizeof(z) ? length : sizeof(z);
        bytes(z, n);
        length -= n;
    }
}

void KXByteWriter::text(const char* s) {
    if (s) bytes(s, strlen(s));
}

void KXByteWriter::printf(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (n < 0 || (size_t)n >= sizeof(line)) {
        Ok = false;
        return;
    }
    bytes(line, (size_t)n);
}

// ---- image records ------------------------------------------------------------

uint32_t KXF_NewImage(KX_GfxBuffer** out, uint32_t type, uint32_t width, uint32_t height, uint32_t depth, uint32_t pixelBits,
                      bool clear, size_t slack) {
    if (!out) return KXERR_INTERNALACCESS;
    *out = nullptr;
    if (width == 0 || height == 0) return KXERR_FILEREQUIREMENTS;
    uint32_t size = 0, bytesPerLine = 0, err;
    if (type == BITPLANE) {
        if (depth < 1 || depth > 8) return KXERR_FILEREQUIREMENTS;
        bytesPerLine = (uint32_t)(((uint64_t)width + 7) / 8);
        err = KXSUP_CheckSize(&size, bytesPerLine, height, depth);
        pixelBits = 0;
    } else {
        if (pixelBits != 8 && pixelBits != 24 && pixelBits != 48) return KXERR_FILEREQUIREMENTS;
        err = KXSUP_CheckSize(&size, width, height, pixelBits / 8);
    }
    // 15 beyond 32 bits, 3 beyond the size limit: before anything is allocated.
    if (err) return err;
    if ((uint64_t)size + slack > 0xFFFFFFFFull) return KXERR_FILEREQUIREMENTS;
    auto* b = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
    if (!b) return KXERR_NOMEMORY;
    b->Data = static_cast<uint8_t*>(AllocVec(size + slack, clear ? MEMF_CLEAR : MEMF_ANY));
    if (!b->Data) {
        FreeVec(b);
        return KXERR_NOMEMORY;
    }
    b->Version = 1;
    b->Type = type;
    b->Width = width;
    b->Height = height;
    b->ColorDepth = depth;
    b->ViewMode = KXSUP_BestModeID(width, height, depth);
    b->BytesPerLine = bytesPerLine;
    b->PixelBits = pixelBits;
    b->BufferSize = size;
    *out = b;
    return KXERR_NONE;
}

uint32_t KXF_AttachAlpha8(KX_GfxBuffer* image) {
    if (!image) return KXERR_INTERNALACCESS;
    uint32_t size = 0;
    if (uint32_t err = KXSUP_CheckSize(&size, image->Width, image->Height)) return err;
    if (size == 0) return KXERR_FILEREQUIREMENTS;
    void* map = AllocVec(size, MEMF_CLEAR);
    if (!map) return KXERR_NOMEMORY;
    if (image->Version < 3) {
        image->Version = 3;
        image->AlphaType = KXALPHA_NONE;
        image->AlphaData = nullptr;
    }
    image->AlphaType = KXALPHA_CHANNEL8;
    image->AlphaData = map;
    return KXERR_NONE;
}

bool KXF_BufferIsConsistent(const KX_GfxBuffer* b) {
    if (!b || !b->Data || b->Width == 0 || b->Height == 0) return false;
    uint32_t need = 0;
    if (b->Type == BITPLANE) {
        if (b->ColorDepth < 1 || b->ColorDepth > 8) return false;
        if ((uint64_t)b->BytesPerLine < ((uint64_t)b->Width + 7) / 8) return false;
        if (!KXSUP_CheckedSize(&need, b->BytesPerLine, b->Height, b->ColorDepth)) return false;
    } else if (b->Type == ONEPLANE) {
        if (b->PixelBits != 8 && b->PixelBits != 24 && b->PixelBits != 48) return false;
        if (!KXSUP_CheckedSize(&need, b->Width, b->Height, b->PixelBits / 8)) return false;
    } else {
        return false;
    }
    if (b->BufferSize < need) return false;
    const uint32_t alpha = KXSUP_AlphaHolds(b);
    if ((alpha == KXALPHA_CHANNEL8 || alpha == KXALPHA_CHANNEL16) && !b->AlphaData) return false;
    return true;
}

void KXF_GreyRamp(uint8_t* palette, uint32_t levels) {
    if (!palette) return;
    if (levels < 1) levels = 1;
    if (levels > 256) levels = 256;
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t g = 255;
        if (i < levels && levels > 1) g = (i * 255 + (levels - 1) / 2) / (levels - 1);
        if (levels == 1 && i == 0) g = 0;
        palette[i * 3] = palette[i * 3 + 1] = palette[i * 3 + 2] = (uint8_t)g;
    }
}

// ---- progress and log ---------------------------------------------------------

void KXF_Progress(KXObject* o, uint32_t percent) {
    if (!o || !o->ProgressHook) return;
    o->Progress.Percent = percent;
    o->ProgressHook(&o->Progress, o->ProgressUser);
}

void KXF_RowProgress(KXObject* o, uint32_t row, uint32_t rows) {
    if (!o || !o->ProgressHook || rows == 0 || (row & 7) != 0) return;
    KXF_Progress(o, (uint32_t)((uint64_t)row * 100 / rows));
}

void KXF_Log(KXObject* o, uint32_t level, const char* tag, const char* format, ...) {
    if (!o || !o->Log) return;
    char line[1024];
    int n = snprintf(line, sizeof(line), "%-16s: ", tag);
    if (n < 0 || (size_t)n >= sizeof(line)) return;
    va_list args;
    va_start(args, format);
    vsnprintf(line + n, sizeof(line) - (size_t)n, format, args);
    va_end(args);
    o->Log->Log(level, "%s", line);
}

// ---- settings -----------------------------------------------------------------

int KXF_GetKeyNoCase(KXObject* o, const char* key, char* value, size_t size) {
    if (value && size) value[0] = 0;
    if (!o || !key) return 0;
    // One pad, read once: the exact spelling first, then any spelling.
    KX_ControlPad* loaded = nullptr;
    KX_ControlPad* pad = o->KeyPad(&loaded);
    char* found = nullptr;
    const int hit = pad && (KXSUP_FindControlPad(pad, key, &found) || KXSUP_FindControlPadNoCase(pad, key, &found)) ? 1 : 0;
    if (hit && value && size) {
        size_t n = found ? strlen(found) : 0;
        if (n > size - 1) n = size - 1;
        if (n) memcpy(value, found, n);
        value[n] = 0;
    }
    if (loaded) KXSUP_FreeControlPad(loaded);
    return hit;
}

bool KXF_KeyIs(KXObject* o, const char* key, const char* word) {
    char value[64];
    return o && o->GetKey(key, value, sizeof(value)) == 1 && strcasecmp(value, word) == 0;
}

// ---- what a file can hold ------------------------------------------------------

bool KXF_FileCanHold(KXByteReader& r, uint64_t bytes) { return bytes <= r.remaining(); }

// ---- file names and sizes -----------------------------------------------------

bool KXF_NameEndsWith(const char* name, const char* ending) {
    if (!name || !ending) return false;
    const size_t n = strlen(name), e = strlen(ending);
    return n > e && strcasecmp(name + n - e, ending) == 0;
}

int64_t KXF_FileSize(FILE* file) {
    if (!file || fseek(file, 0, SEEK_END) != 0) return -1;
    const long end = ftell(file);
    if (fseek(file, 0, SEEK_SET) != 0) return -1;
    return end < 0 ? -1 : (int64_t)end;
}

size_t KXF_PeekHead(FILE* file, void* head, size_t size) {
    if (!file || fseek(file, 0, SEEK_SET) != 0) return 0;
    const size_t n = fread(head, 1, size, file);
    clearerr(file);
    fseek(file, 0, SEEK_SET);
    return n;
}

// ---- load and save brackets ---------------------------------------------------

uint32_t KXF_OpenRead(KXObject* o) {
    if (!o) return KXERR_INTERNALACCESS;
    if (o->ReadFile) {
        amClose(o->ReadFile);
        o->ReadFile = nullptr;
    }
    o->ReadFile = amOpen(o->ReadName, "rb");
    return o->ReadFile ? KXERR_NONE : KXERR_FILENOTFOUND;
}

uint32_t KXF_EndLoad(KXObject* o, uint32_t err) {
    if (!o) return err;
    if (o->ReadFile) {
        amClose(o->ReadFile);
        o->ReadFile = nullptr;
    }
    if (err != KXERR_NONE && o->LoadedBuffer) {
        KXSUP_FreeGfxBuffer(o->LoadedBuffer);
        o->LoadedBuffer = nullptr;
    }
    return err;
}

uint32_t KXF_SaveChecks(KXObject* o) {
    if (!o) return KXERR_INTERNALACCESS;
    if (o->IOMode != KXIO_FILE || !o->SaveBuffer) return KXERR_NOTSUPPORTED;
    if (o->SaveBuffer->Type == BITPLANE) {
        if (!KXF_BufferIsConsistent(o->SaveBuffer)) return KXERR_INTERNALACCESS;
        KX_GfxBuffer* copy = nullptr;
        uint32_t err = KXSUP_BitPlaneToOnePlane8(o->SaveBuffer, &copy);
        if (err != KXERR_NONE) {
            if (copy) KXSUP_FreeGfxBuffer(copy);
            return err;
        }
        if (!copy) return KXERR_NOMEMORY;
        // A converted copy from an earlier Save (or a loaded image) is ours.
        if (o->LoadedBuffer) KXSUP_FreeGfxBuffer(o->LoadedBuffer);
        o->LoadedBuffer = copy;
        o->SaveBuffer = copy;
    }
    if (o->SaveBuffer->Type != ONEPLANE) return KXERR_NOTSUPPORTED;
    if (IsHamBuffer(o->SaveBuffer)) return KXERR_NOHAM;
    if (!KXF_BufferIsConsistent(o->SaveBuffer)) return KXERR_INTERNALACCESS;
    return KXERR_NONE;
}

uint32_t KXF_OpenSave(KXObject* o, KXSafeFile* sf) {
    if (!o || !sf) return KXERR_INTERNALACCESS;
    if (!o->SaveName || !*o->SaveName) return KXERR_NODESTFILE;
    o->WriteFile = KXSUP_SafeOpen(sf, o->SaveName);
    return o->WriteFile ? KXERR_NONE : KXERR_NODESTFILE;
}

uint32_t KXF_EndSave(KXObject* o, KXSafeFile* sf, uint32_t err) {
    if (!o || !sf) return err ? err : KXERR_INTERNALACCESS;
    uint32_t commit = KXSUP_SafeCommit(sf, err == KXERR_NONE);
    o->WriteFile = nullptr;
    if (err != KXERR_NONE) return err;
    return commit;  // KXERR_IO when flushing, closing or renaming failed
}

// ---- frame operations ---------------------------------------------------------

uint32_t KXF_SetIOMode(KXObject* o, int32_t mode) {
    if (mode != KXIO_FILE && mode != KXIO_CLIPBOARD) return KXERR_NOTSUPPORTED;
    o->IOMode = mode;
    return KXERR_NONE;
}

uint32_t KXF_SetSubFormat(KXObject* o, uint32_t index) {
    o->SelectedSubFormat = index;
    return KXERR_NONE;
}

uint32_t KXF_SetSaveName(KXObject* o, const char* path) {
    o->SaveName = path;
    return KXERR_NONE;
}

uint32_t KXF_SetReadName(KXObject* o, const char* path) {
    o->ReadName = path;
    return KXERR_NONE;
}

uint32_t KXF_GetGfxBuffer(KXObject* o, KX_GfxBuffer** buffer) {
    if (!buffer) return KXERR_INTERNALACCESS;
    *buffer = o->LoadedBuffer;
    return KXERR_NONE;
}

uint32_t KXF_SetGfxBuffer(KXObject* o, KX_GfxBuffer* buffer) {
    if (!buffer) return KXERR_INTERNALACCESS;
    o->SaveBuffer = buffer;
    return KXERR_NONE;
}

uint32_t KXF_DetachGfxBuffer(KXObject* o, KX_GfxBuffer** buffer) {
    if (!buffer) return KXERR_INTERNALACCESS;
    *buffer = o->LoadedBuffer;
    o->LoadedBuffer = nullptr;
    return KXERR_NONE;
}

uint32_t KXF_GetExtension(const char* extension, char* buffer) {
    if (!buffer) return KXERR_INTERNALACCESS;
    strcpy(buffer, extension);
    return KXERR_NONE;
}

uint32_t KXF_SetProgress(KXObject* o, KXProgressHook hook, uintptr_t user) {
    o->ProgressHook = hook;
    o->ProgressUser = user;
    return KXERR_NONE;
}

uint32_t KXF_RunOperator(KXClass* lib, const char* className, KX_GfxBuffer* source, KX_GfxBuffer** result,
                         std::initializer_list<std::pair<const char*, const char*>> keys) {
    *result = nullptr;
    const KXOperatorReg* reg = KX_FindOperatorReg(className);
    if (!reg) return KXERR_NOTSUPPORTED;
    std::unique_ptr<KXOperator> op(KX_NewOperator(lib, *reg));
    if (!op) return KXERR_NOMEMORY;
    // A settings list under the operator's own pad name: the keys set here
    // and the operator's built-in defaults.
    uint32_t err = KXERR_NONE;
    KXConfig settings(op->PadPath, &err);
    if (err != KXERR_NONE) return err;
    op->SetLocalConfig(settings.GetPadList());
    for (const auto& key : keys) settings.SetValue(key.first, key.second);
    KX_GfxBuffer* lent = nullptr;
    err = op->OperateTagList(source, &lent, nullptr);
    if (err == KXERR_NONE) err = op->DetachResult(result);
    if (err == KXERR_NONE && !*result) err = KXERR_NOMEMORY;
    if (err != KXERR_NONE && *result) {
        KXSUP_FreeGfxBuffer(*result);
        *result = nullptr;
    }
    return err;
}
