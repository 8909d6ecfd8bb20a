// testfiles: the small helpers the tests share: a scratch directory, a
// whole file read or written at once, an independent program on PATH, the
// entries of a directory and a save's leftovers, a chunky picture record
// of a given depth, and the global log's allocation trace.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct KX_GfxBuffer;

// mkdtemp on a template ending in "XXXXXX"; the new directory without a
// trailing "/" (a test failure and "" when it cannot be made).
std::string KXT_NewTempDir(const std::string& pathTemplate);

// The whole file; empty when it cannot be read.
std::string KXT_ReadFile(const std::string& path);
std::vector<uint8_t> KXT_ReadBytes(const std::string& path);

// Writes the file anew; false when it cannot be opened or written.
bool KXT_WriteFile(const std::string& path, const std::string& bytes);
bool KXT_WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Byte tables of hand-built files: a value appended little- or big-endian,
// or a text without its terminating zero.
inline void KXT_PutLe16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back((uint8_t)v);
    b.push_back((uint8_t)(v >> 8));
}
inline void KXT_PutLe32(std::vector<uint8_t>& b, uint32_t v) {
    KXT_PutLe16(b, v & 0xFFFF);
    KXT_PutLe16(b, v >> 16);
}
inline void KXT_PutBe16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back((uint8_t)(v >> 8));
    b.push_back((uint8_t)v);
}
inline void KXT_PutBe32(std::vector<uint8_t>& b, uint32_t v) {
    KXT_PutBe16(b, v >> 16);
    KXT_PutBe16(b, v & 0xFFFF);
}
inline void KXT_PutText(std::vector<uint8_t>& b, const char* s) {
    while (*s) b.push_back((uint8_t)*s++);
}

// The program is on PATH.
bool KXT_HaveTool(const char* name);

// Entries in a directory, "." and ".." not counted; -1 when it cannot be read.
int KXT_CountEntries(const std::string& dir);

// The path names something that exists.
bool KXT_Exists(const std::string& path);

// Entries beside path whose names begin with its name and go on: the
// temporary siblings a safe save leaves when it does not clean up.
int KXT_CountLeftovers(const std::string& path);

// A picture record that frees itself (KXSUP_FreeGfxBuffer) when it goes.
struct KXT_BufferDeleter {
    void operator()(KX_GfxBuffer* b) const;
};
using KXT_Buffer = std::unique_ptr<KX_GfxBuffer, KXT_BufferDeleter>;

// A cleared chunky record (ONEPLANE, view mode 0) of the given depth: one
// byte a pixel up to 8 bits, else depth bits; null after a test failure
// when it cannot be allocated.
KX_GfxBuffer* KXT_NewChunkyBuffer(uint32_t version, uint32_t width, uint32_t height, uint32_t depth);

// Every alpha kind with the combined ones whose AlphaData the core's rule
// decides (the index bit with a map or table bit, two maps, a map with a
// table).
extern const uint32_t KXT_AlphaKinds[10];
// Sets AlphaType to kind (raising the record to version 3) and AlphaData to
// what the core's rule says it holds: the index for a key, else a new block
// of pattern bytes for a map or table.
void KXT_AttachAlpha(KX_GfxBuffer* b, uint32_t kind, uint32_t index, uint32_t seed);

class KXLog;

// Installs a fresh global log at the given level, written into a new
// scratch $TMPDIR; lines() removes it again and returns what was logged
// after the header and level marker (the trace of AllocVec and FreeVec at
// level 9).
struct KXT_TraceLog {
    KXLog* log;
    explicit KXT_TraceLog(uint32_t level);
    std::string lines();
};
