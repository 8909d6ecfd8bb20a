// gif_lzw: the variable-length-code LZW compressor and decompressor of the
// GIF module. The compressor turns one picture of 8-bit indices, held whole
// in memory, into a GIF image data block (minimum code size byte, data
// sub-blocks, terminator) in a caller's memory area; the decompressor turns
// such a block back into indices, row by row or in the four interlace passes.
// Neither reads or writes outside the areas it is given.
#pragma once

#include <cstddef>
#include <cstdint>

// Progress relay: the percentage reached; user is handed back unchanged.
typedef void (*GifLzwProgressHook)(void* user, uint32_t percent);

// Streaming: the compressor hands each filled part of its area to a sink
// (false when it could not take it), the decompressor asks a source for
// the next bytes of the block (the count copied; fewer than asked means
// the source failed). Neither then holds more than its area.
typedef bool (*GifLzwSink)(void* sink, const uint8_t* data, size_t size);
typedef size_t (*GifLzwSource)(void* source, uint8_t* buffer, size_t size);

// Bytes an image data block of this many pixels can take at most: every
// pixel its own 12-bit code, the clear codes of every table refill, the
// first clear and end codes, the sub-block length bytes, the minimum code
// size byte and the terminator. Formed in 64 bits.
uint64_t GifLzwBound(uint64_t pixels);

// Image flag of the descriptor that selects interlaced order.
constexpr uint32_t kGifInterlaced = 0x40;

// Compressor: a hashed string table of 5003 slots, codes up to 12 bits, a
// clear code whenever the table is full. The object holds no state between
// pictures; the code and packet state of one picture lives in the run.
class GifLzwEncoder {
public:
    // Writes the block for width x height pixels of the given depth (1..8)
    // into [*out, end); *out is left after the last byte produced. Pixels
    // above the depth's largest index are masked to it, so the stream always
    // stays valid. Results: 0, KXERR_NOMEMORY, KXERR_ENCODE (the block did
    // not fit; nothing was stored past end and the bytes are not to be used).
    uint32_t EncodeImage(uint8_t** out, uint8_t* end, const uint8_t* pixels, uint32_t width, uint32_t height,
                         uint32_t depth, uint32_t imageFlags, GifLzwProgressHook hook = nullptr,
                         void* user = nullptr);
    // The same block, given to sink through the area (at least 512 bytes)
    // as it fills. Results as above; KXERR_IO when the sink refused a part.
    uint32_t EncodeImage(GifLzwSink sink, void* sinkUser, uint8_t* area, size_t areaSize, const uint8_t* pixels,
                         uint32_t width, uint32_t height, uint32_t depth, uint32_t imageFlags,
                         GifLzwProgressHook hook = nullptr, void* user = nullptr);

private:
    struct Run;
    uint32_t Encode(Run& run, const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t depth,
                    uint32_t imageFlags);
    uint32_t Compress(Run& run, const uint8_t* pixels, uint32_t width, uint32_t height, bool interlaced);
    static void StorePacket(Run& run, const uint8_t* packet, size_t length);
    static void StorePackets(Run& run, uint8_t* begin, uint8_t** fill, bool last);
    static void Drain(Run& run);
};

// Decompressor. data points at the minimum code size byte, dataEnd after the
// last byte that may be read. Fills width x height indices at pixels, which
// must hold that many bytes before pixelsEnd, in row order or interlaced.
// With a hook, reports before every eighth row.
//
// Malformed data never makes it read outside data..dataEnd, its tables or
// the picture, and the picture is always filled whole: a code above the next
// free code is taken as the next free code; an end code while pixels are
// missing marks the current pixel 254 when a block terminator follows, 253
// when the data ends first; data running out marks the current pixel 255;
// pixels after such a mark are 0. Results: 0; KXERR_DECODE when there is no
// data, the minimum code size is not 1 to 11, or a first code (after the
// start or a clear code) is no pixel; KXERR_NOMEMORY; KXERR_INTERNALACCESS
// when the picture area is too small.
//
// rowsReached (height bytes, all 0) says that the picture is already
// cleared: each row the data reaches gets its entry set to 1, and rows it
// never reaches are left untouched instead of being zeroed, so that a tiny
// file declaring a huge image costs no memory for the rows it lacks.
uint32_t GifLzwDecode(const uint8_t* data, const uint8_t* dataEnd, uint32_t width, uint32_t height, uint8_t* pixels,
                      const uint8_t* pixelsEnd, bool interlaced, GifLzwProgressHook hook = nullptr,
                      void* user = nullptr, uint8_t* rowsReached = nullptr);

// The same, with the block's length bytes taken from source through a
// window of windowSize bytes (at least 1). KXERR_EOF when the source
// failed; the picture is then not to be used.
uint32_t GifLzwDecode(GifLzwSource source, void* sourceUser, uint64_t length, uint8_t* window, size_t windowSize,
                      uint32_t width, uint32_t height, uint8_t* pixels, const uint8_t* pixelsEnd, bool interlaced,
                      GifLzwProgressHook hook = nullptr, void* user = nullptr, uint8_t* rowsReached = nullptr);
