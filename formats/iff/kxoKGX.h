// kxoKGX: the system's own plain image file: an 822-byte big-endian header
// (size, depth, display mode, storage kind, palette) and the raw pixel data
// of a KX_GfxBuffer, stored or packed with zlib ("LZ77" block). No metadata.
#pragma once

#include "formats/iff/iff.h"

class kxoKGX : public KXIffModule {
public:
    explicit kxoKGX(KXClass* lib);
    ~kxoKGX() override {
        kxoKGX::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t Save() override;
    uint32_t Load() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;

private:
    void InitOwn() override;

    uint8_t* Header = nullptr;       // 822-byte header record
    uint8_t* Interleaved = nullptr;  // R,G,B,A body made for saving alpha
};

// The "LZ77" block: tag, u32 big-endian unpacked length, one zlib stream.
uint32_t writeKgxLz77(const uint8_t* data, uint32_t n, int level, uint8_t** block, uint32_t* size);
// expected: the unpacked length the header promises; anything else is refused.
uint32_t readKgxLz77(const uint8_t* block, uint32_t blockSize, uint32_t expected, uint8_t** data, uint32_t* size);
