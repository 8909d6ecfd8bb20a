// kxframe: what every raster format module shares. A bounds-checked byte
// reader and a checked byte writer, the creation of a new image record with
// checked sizes, the grey ramp, progress, log lines, the load and safe-save
// brackets, the common save checks and the eleven frame operations.
//
// A module class derives directly from KXObject, whose working fields
// (ReadFile, WriteFile, ReadName, SaveName, SelectedSubFormat, IOMode,
// LoadedBuffer, SaveBuffer, Progress...) are the frame's fields, and puts
// KXF_FRAME_OPERATIONS(".EXT") into its class body. Its Load and Save then
// follow this pattern:
//
//   uint32_t kxoXYZ::Load() { return KXF_Load(this, &kxoXYZ::LoadBody); }
//   (LoadBody reads ReadFile through KXByteReader; KXF_Load below opens and closes)
//   uint32_t kxoXYZ::Save() {
//       uint32_t err = KXF_SaveChecks(this);        // mode, buffer, chunky, no HAM
//       if (err == KXERR_NONE) err = ownChecks();   // depth, size, memory: before opening
//       if (err != KXERR_NONE) return err;
//       KXSafeFile sf;
//       if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;   // 7
//       KXByteWriter w(WriteFile);
//       ... w.le32(x); w.bytes(row, n); ...
//       return KXF_EndSave(this, &sf, w.ok() ? KXERR_NONE : KXERR_IO);
//   }
#pragma once

#include <cstdarg>
#include <cstdio>
#include <initializer_list>
#include <utility>

#include "core/kxlib.h"

// ---- reading ----------------------------------------------------------------
// Reads from a stream or a memory block. Any read that cannot be satisfied
// in full makes the reader fail and stay failed; failed reads return 0 so
// that a group of fields is read first and checked once with ok().
// Positions count from the start of the file or block.
class KXByteReader {
public:
    // Starts at the stream's current position; the length is measured once.
    explicit KXByteReader(FILE* file);
    KXByteReader(const uint8_t* data, size_t size);

    bool ok() const { return Ok; }
    void fail() { Ok = false; }
    uint64_t tell() const { return Pos; }
    uint64_t size() const { return Size; }
    uint64_t remaining() const { return Pos < Size ? Size - Pos : 0; }

    uint8_t u8();
    uint16_t le16();
    uint16_t be16();
    uint32_t le32();
    uint32_t be32();
    uint64_t le64();
    uint64_t be64();
    // Whole block or failure; on failure the destination holds what there was.
    bool bytes(void* destination, size_t length);
    // Up to length bytes; returns the count read and never fails the reader.
    size_t some(void* destination, size_t length);
    // Moves within the file or block; beyond its end fails.
    bool skip(uint64_t count);
    bool seek(uint64_t position);
    // The next byte or -1 at the end; never fails the reader (text parsers).
    int next();

private:
    FILE* File = nullptr;
    const uint8_t* Data = nullptr;
    uint64_t Size = 0;
    uint64_t Pos = 0;
    bool Ok = true;
};

// ---- writing ----------------------------------------------------------------
// Every write is checked; the first one that fails makes the writer fail
// and stay failed, so one ok() after a group tells whether all went out.
class KXByteWriter {
public:
    explicit KXByteWriter(FILE* file) : File(file), Ok(file != nullptr) {}
    bool ok() const { return Ok; }
    uint64_t written() const { return Count; }

    void u8(uint8_t v);
    void le16(uint16_t v);
    void be16(uint16_t v);
    void le32(uint32_t v);
    void be32(uint32_t v);
    void bytes(const void* data, size_t length);
    void zeros(size_t length);
    void text(const char* s);
    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    FILE* File;
    bool Ok;
    uint64_t Count = 0;
};

// ---- image records ----------------------------------------------------------
// A new cleared record (AllocVec, version 1, ViewMode from KXSUP_BestModeID)
// with its pixel data. ONEPLANE: pixelBits 8, 24 or 48, BufferSize
// width x height x pixelBits / 8. BITPLANE: BytesPerLine (width + 7) / 8,
// BufferSize BytesPerLine x height x depth. All sizes are formed with
// KXSUP_CheckSize; zero width or height and sizes that do not fit 32 bits
// give 15, sizes beyond the library's size limit and memory 3, before
// anything is allocated. slack bytes are allocated past BufferSize (not
// counted in it).
// clear: the pixel data is cleared.
uint32_t KXF_NewImage(KX_GfxBuffer** out, uint32_t type, uint32_t width, uint32_t height, uint32_t depth, uint32_t pixelBits,
                      bool clear, size_t slack = 0);
// Attaches a cleared 8-bit alpha map of width x height bytes (version 3,
// AlphaType KXALPHA_CHANNEL8). 3 when memory runs out or the map would
// exceed the size limit.
uint32_t KXF_AttachAlpha8(KX_GfxBuffer* image);
// True when the buffer's data holds what its type, size and depth promise
// (so that a writer never reads past it).
bool KXF_BufferIsConsistent(const KX_GfxBuffer* b);

// A linear grey ramp over the first levels entries (0 black, levels - 1
// white); the entries beyond are white. levels 1..256.
void KXF_GreyRamp(uint8_t* palette, uint32_t levels);

// ---- progress and log -------------------------------------------------------
// Reports percent to the object's hook, when one is set (Percent is written
// only then).
void KXF_Progress(KXObject* o, uint32_t percent);
// Before row `row` of `rows`: reports row x 100 / rows on every 8th row.
void KXF_RowProgress(KXObject* o, uint32_t row, uint32_t rows);
// One log line "<tag padded to 16>: <text>" at level; nothing without a log.
// The format carries its own line feed.
void KXF_Log(KXObject* o, uint32_t level, const char* tag, const char* format, ...) __attribute__((format(printf, 4, 5)));

// ---- file names and sizes ---------------------------------------------------
// True when name is longer than ending and ends with it, compared without
// regard to case (readers that recognise their files by the extension too).
bool KXF_NameEndsWith(const char* name, const char* ending);
// The stream's length, measured from its end; the stream is left at its
// start. -1 when it cannot be measured.
int64_t KXF_FileSize(FILE* file);
// Reads up to size bytes from the stream's start into head for a CheckFile
// and puts the stream back at its start with its error flags cleared.
// Returns the count read; 0 when the stream cannot be positioned.
size_t KXF_PeekHead(FILE* file, void* head, size_t size);

// Runs the catalogue's operator className on source with the given keys over
// its built-in defaults (never the user's pad); on success *result holds its
// picture, which the caller then owns, else it is null.
uint32_t KXF_RunOperator(KXClass* lib, const char* className, KX_GfxBuffer* source, KX_GfxBuffer** result,
                         std::initializer_list<std::pair<const char*, const char*>> keys = {});

// ---- what a file can hold ---------------------------------------------------
// True when the bytes left from the reader's position can hold `bytes`: a
// reader whose data size follows from its header asks this before it
// allocates, so that a few bytes declaring a gigantic picture cost nothing.
bool KXF_FileCanHold(KXByteReader& r, uint64_t bytes);

// ---- settings ---------------------------------------------------------------
// A key that may be spelt in any case: the exact spelling first (GetKey),
// then the same places GetKey looks in (the settings list's pad of the
// module, else the settings pad file, else the archive pad file), with the
// key compared without regard to case. Returns 1 and copies the value (at
// most size-1 characters, empty for a key without "=") when found.
int KXF_GetKeyNoCase(KXObject* o, const char* key, char* value, size_t size);
// True when the key (exact spelling) is set to word, compared in any case.
bool KXF_KeyIs(KXObject* o, const char* key, const char* word);

// ---- load and save brackets -------------------------------------------------
// Opens ReadName ("rb") into ReadFile; 2 when it cannot be opened.
uint32_t KXF_OpenRead(KXObject* o);
// Ends a Load: closes ReadFile; on failure frees the buffer made so far,
// so a failed Load leaves no buffer. Returns err.
uint32_t KXF_EndLoad(KXObject* o, uint32_t err);
// The whole Load of a module whose reading lives in one member: drops the
// previous picture, opens ReadName (2), runs body and ends as KXF_EndLoad.
template <class Module>
uint32_t KXF_Load(Module* m, uint32_t (Module::*body)()) {
    if (m->LoadedBuffer) {
        KXSUP_FreeGfxBuffer(m->LoadedBuffer);
        m->LoadedBuffer = nullptr;
    }
    uint32_t err = KXF_OpenRead(m);
    if (err == KXERR_NONE) err = (m->*body)();
    return KXF_EndLoad(m, err);
}
// The frame's save checks, in order: IOMode 1 and SaveBuffer set (else 16);
// a BITPLANE buffer of up to 8 bits is converted into LoadedBuffer and
// SaveBuffer repointed at the copy; then ONEPLANE (else 16), no HAM (19),
// and data consistent with the record (else 13).
uint32_t KXF_SaveChecks(KXObject* o);
// Opens a sibling temporary file of SaveName into WriteFile; 7 on failure.
uint32_t KXF_OpenSave(KXObject* o, KXSafeFile* sf);
// Ends a Save: on err 0 the temporary file replaces SaveName (30 when that
// fails); otherwise it is removed and the old file stays. WriteFile is none
// afterwards. Returns the final code.
uint32_t KXF_EndSave(KXObject* o, KXSafeFile* sf, uint32_t err);

// ---- frame operations (identical bodies in every module) --------------------
uint32_t KXF_SetIOMode(KXObject* o, int32_t mode);         // 1 or 2, else 16
uint32_t KXF_SetSubFormat(KXObject* o, uint32_t index);    // stored unchecked
uint32_t KXF_SetSaveName(KXObject* o, const char* path);   // borrowed
uint32_t KXF_SetReadName(KXObject* o, const char* path);   // borrowed
uint32_t KXF_GetGfxBuffer(KXObject* o, KX_GfxBuffer** buffer);     // lent; 13 for null
uint32_t KXF_SetGfxBuffer(KXObject* o, KX_GfxBuffer* buffer);      // borrowed; 13 for null
uint32_t KXF_DetachGfxBuffer(KXObject* o, KX_GfxBuffer** buffer);  // handed over; 13 for null
uint32_t KXF_GetExtension(const char* extension, char* buffer);    // 13 for null
uint32_t KXF_SetProgress(KXObject* o, KXProgressHook hook, uintptr_t user);

// Every frame operation but SetIOMode, for modules whose I/O modes differ.
#define KXF_COMMON_OPERATIONS(extension)                                                                          \
    uint32_t SetSubFormat(uint32_t index) override { return KXF_SetSubFormat(this, index); }                     \
    uint32_t SetSaveName(const char* path) override { return KXF_SetSaveName(this, path); }                      \
    uint32_t SetReadName(const char* path) override { return KXF_SetReadName(this, path); }                      \
    uint32_t GetGfxBuffer(KX_GfxBuffer** buffer) override { return KXF_GetGfxBuffer(this, buffer); }             \
    uint32_t SetGfxBuffer(KX_GfxBuffer* buffer) override { return KXF_SetGfxBuffer(this, buffer); }              \
    uint32_t DetachGfxBuffer(KX_GfxBuffer** buffer) override { return KXF_DetachGfxBuffer(this, buffer); }       \
    uint32_t GetExtension(char* buffer) override { return KXF_GetExtension(extension, buffer); }                 \
    uint32_t SetProgress(KXProgressHook hook, uintptr_t user) override { return KXF_SetProgress(this, hook, user); }

// Declares the frame operations in a module's class body.
#define KXF_FRAME_OPERATIONS(extension)                                                                          \
    uint32_t SetIOMode(int32_t mode) override { return KXF_SetIOMode(this, mode); }                              \
    KXF_COMMON_OPERATIONS(extension)
