// gif_lzw: GIF LZW compressor (hashed string table after the classic
// "compress" design) and bounded decompressor. See gif_lzw.h.
#include "formats/raster/gif_lzw.h"

#include <cstring>

#include "core/memory.h"

namespace {

constexpr int32_t kHashSize = 5003;  // prime, about 120 % of 4096
constexpr int32_t kHashShift = 4;    // 8 minus the doublings that take 5003 to 65536
constexpr int32_t kMaxCodes = 4096;  // 12-bit codes

const uint32_t kMasks[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F, 0x003F, 0x007F, 0x00FF,
                             0x01FF, 0x03FF, 0x07FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};

// Row order of a picture: straight, or the four interlace passes (every 8th
// row from 0, every 8th from 4, every 4th from 2, every 2nd from 1). A pass
// whose first row lies at or beyond the height is skipped.
class RowOrder {
public:
    RowOrder(uint32_t height, bool interlaced) : height_(height), interlaced_(interlaced) {
        if (interlaced_) skipEmptyPasses();
    }
    bool done() const { return row_ >= height_; }
    uint32_t row() const { return row_; }
    uint32_t pass() const { return pass_; }
    void next() {
        if (!interlaced_) {
            ++row_;
            return;
        }
        row_ += kStep[pass_];
        skipEmptyPasses();
    }

private:
    static constexpr uint32_t kStart[4] = {0, 4, 2, 1};
    static constexpr uint32_t kStep[4] = {8, 8, 4, 2};
    void skipEmptyPasses() {
        while (row_ >= height_ && pass_ < 3) row_ = kStart[++pass_];
    }
    uint32_t height_;
    bool interlaced_;
    uint32_t row_ = 0;
    uint32_t pass_ = 0;
};

}  // namespace

uint64_t GifLzwBound(uint64_t pixels) {
    // Codes: the first clear code, at most one per pixel, a clear code per
    // table refill (a refill takes at least 4096 - 258 new strings, each of
    // which consumed a pixel), the end code.
    const uint64_t codes = 1 + pixels + pixels / (kMaxCodes - 258) + 1 + 1;
    const uint64_t dataBytes = (codes * 12 + 7) / 8;
    const uint64_t lengthBytes = (dataBytes + 253) / 254;  // packets hold 254 bytes
    return 1 + dataBytes + lengthBytes + 1;
}

// ---- compressor ------------------------------------------------------------

struct GifLzwEncoder::Run {
    uint8_t* out;
    uint8_t* end;
    bool overflow;
    GifLzwSink sink;  // with a sink, out runs over an area that is emptied into it
    void* sinkUser;
    uint8_t* area;
    bool refused;
    int32_t initialWidth;
    uint8_t pixelMask;
    GifLzwProgressHook hook;
    void* user;
};

// Hands the area's bytes to the sink and starts it afresh; a refusal ends
// the block as failed.
void GifLzwEncoder::Drain(Run& run) {
    if (run.out > run.area && !run.sink(run.sinkUser, run.area, static_cast<size_t>(run.out - run.area))) {
        run.refused = true;
        run.overflow = true;
    }
    run.out = run.area;
}

// Stores one sub-block: the length byte and the packet.
void GifLzwEncoder::StorePacket(Run& run, const uint8_t* packet, size_t length) {
    if (run.sink && !run.overflow && static_cast<size_t>(run.end - run.out) < length + 1) Drain(run);
    // Nothing is ever stored beyond the area: a packet that does not fit
    // ends the block as failed.
    if (run.overflow || static_cast<size_t>(run.end - run.out) < length + 1) {
        run.overflow = true;
        return;
    }
    *run.out++ = static_cast<uint8_t>(length);
    std::memcpy(run.out, packet, length);
    run.out += length;
}

// The codes form one byte stream that the sub-blocks cut into packets of
// 254 bytes, the last one shorter. Stores the whole packets of the stream's
// [begin, *fill) (with last, the short one too) and moves what is left to
// begin.
void GifLzwEncoder::StorePackets(Run& run, uint8_t* begin, uint8_t** fill, bool last) {
    const uint8_t* p = begin;
    for (; *fill - p >= 254; p += 254) StorePacket(run, p, 254);
    const size_t rest = static_cast<size_t>(*fill - p);
    if (last && rest > 0) {
        StorePacket(run, p, rest);
        *fill = begin;
        return;
    }
    std::memmove(begin, p, rest);
    *fill = begin + rest;
}

namespace {

// A slot of the hashed string table packs the string's key (suffix << 12 |
// prefix code, 20 bits) above its code (12 bits). New codes start above the
// clear and end codes, so 0 marks an empty slot, and the whole table (20 KB)
// stays in the first-level cache.
constexpr uint32_t kCodeBits = 12;
constexpr uint32_t kCodeMask = (1u << kCodeBits) - 1;

// The code stream is gathered in a buffer of this many bytes before it is
// cut into packets (a multiple of 254), with room for one more 4-byte store.
constexpr size_t kStreamBytes = 254 * 64;

// The low 4 bytes of v, least significant first.
inline void store32(uint8_t* p, uint64_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

uint32_t GifLzwEncoder::Compress(Run& run, const uint8_t* pixels, uint32_t width, uint32_t height, bool interlaced) {
    auto* table = static_cast<uint32_t*>(AllocVec(sizeof(uint32_t) * kHashSize, MEMF_ANY));
    if (!table) return KXERR_NOMEMORY;
    uint8_t stream[kStreamBytes + 8];

    // The code state lives in locals and a code is written in a few
    // register operations inside the pixel loop: codes (at most 12 bits,
    // always below 1 << codeWidth) gather in a 64-bit accumulator that goes
    // to the stream 4 bytes at a time.
    int32_t codeWidth = run.initialWidth;
    int32_t maxCode = (1 << codeWidth) - 1;
    bool clearPending = false;
    const int32_t clearCode = 1 << (run.initialWidth - 1);
    const int32_t endCode = clearCode + 1;
    int32_t nextCode = clearCode + 2;
    uint64_t accumulator = 0;
    int32_t bits = 0;
    uint8_t* fill = stream;

    auto output = [&](int32_t code) {
        accumulator |= static_cast<uint64_t>(code) << bits;
        bits += codeWidth;
        if (bits >= 32) {
            store32(fill, accumulator);
            fill += 4;
            accumulator >>= 32;
            bits -= 32;
            if (fill >= stream + kStreamBytes) StorePackets(run, stream, &fill, false);
        }
        // The code that triggers a width change has been written with the old width.
        if (nextCode > maxCode || clearPending) {
            if (clearPending) {
                codeWidth = run.initialWidth;
                maxCode = (1 << codeWidth) - 1;
                clearPending = false;
            } else {
                ++codeWidth;
                maxCode = codeWidth == 12 ? kMaxCodes : (1 << codeWidth) - 1;
            }
        }
    };
    auto clearTable = [table] { std::memset(table, 0, sizeof(uint32_t) * kHashSize); };

    const uint32_t mask = run.pixelMask;
    const uint64_t count = static_cast<uint64_t>(width) * height;
    uint64_t left = count;  // pixels not yet read

    int32_t ent = pixels[0] & mask;
    --left;
    clearTable();
    output(clearCode);

    for (RowOrder order(height, interlaced); !order.done() && !run.overflow; order.next()) {
        const uint32_t y = order.row();
        if (interlaced && run.hook) run.hook(run.user, order.pass() * 100 / 3);
        const uint8_t* row = pixels + static_cast<uint64_t>(y) * width;
        uint32_t x = y == 0 ? 1 : 0;
        while (x < width) {
            // Progress before every pixel read while a multiple of 4096
            // pixels is left: the row is taken in runs between those points.
            uint32_t stop = width;
            if (!interlaced && run.hook) {
                if ((left & 4095) == 0) run.hook(run.user, static_cast<uint32_t>((count - left) * 100 / count));
                const uint64_t next = (left - 1) & 4095;  // pixels after this one before the next report
                if (next + 1 < width - x) stop = x + static_cast<uint32_t>(next) + 1;
            }
            left -= stop - x;
            for (; x < stop; ++x) {
                const int32_t c = static_cast<int32_t>(row[x] & mask);
                // The key in the slot's upper bits; an empty slot holds 0, the
                // slot of the string (0, 0) its code alone.
                const uint32_t key = static_cast<uint32_t>((c << 12) + ent) << kCodeBits;
                int32_t i = (c << kHashShift) ^ ent;
                uint32_t slot = table[i];
                if ((slot & ~kCodeMask) == key && slot != 0) {
                    ent = static_cast<int32_t>(slot & kCodeMask);
                    continue;
                }
                if (slot != 0) {
                    // Secondary probe, stepping backwards by the slot's
                    // complement; like the classic table it also stops at the
                    // string (0, 0), which is then overwritten.
                    const int32_t d = i == 0 ? 1 : kHashSize - i;
                    bool found = false;
                    do {
                        i -= d;
                        if (i < 0) i += kHashSize;
                        slot = table[i];
                        if ((slot & ~kCodeMask) == key && slot != 0) {
                            ent = static_cast<int32_t>(slot & kCodeMask);
                            found = true;
                            break;
                        }
                    } while (slot > kCodeMask);
                    if (found) continue;
                }
                output(ent);
                ent = c;
                if (nextCode < kMaxCodes) {
                    table[i] = key | static_cast<uint32_t>(nextCode++);
                } else {
                    clearTable();
                    nextCode = clearCode + 2;
                    clearPending = true;
                    output(clearCode);
                }
            }
        }
    }
    output(ent);
    output(endCode);
    for (; bits > 0; bits -= 8, accumulator >>= 8) *fill++ = static_cast<uint8_t>(accumulator);
    StorePackets(run, stream, &fill, true);
    FreeVec(table);
    return run.overflow ? KXERR_ENCODE : KXERR_NONE;
}

uint32_t GifLzwEncoder::Encode(Run& run, const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t depth,
                              uint32_t imageFlags) {
    if (run.end - run.out < 2) return KXERR_ENCODE;

    const int32_t minCodeSize = depth < 2 ? 2 : static_cast<int32_t>(depth);
    run.initialWidth = minCodeSize + 1;
    run.pixelMask = static_cast<uint8_t>((1u << depth) - 1);
    *run.out++ = static_cast<uint8_t>(minCodeSize);
    uint32_t err = Compress(run, pixels, width, height, (imageFlags & kGifInterlaced) != 0);
    if (err) return run.refused ? KXERR_IO : err;
    if (run.sink && run.out >= run.end) Drain(run);
    if (run.out >= run.end) return run.refused ? KXERR_IO : KXERR_ENCODE;
    *run.out++ = 0;
    if (run.sink) Drain(run);
    return run.refused ? KXERR_IO : KXERR_NONE;
}

uint32_t GifLzwEncoder::EncodeImage(uint8_t** out, uint8_t* end, const uint8_t* pixels, uint32_t width,
                                    uint32_t height, uint32_t depth, uint32_t imageFlags, GifLzwProgressHook hook,
                                    void* user) {
    if (!out || !*out || !pixels || width == 0 || height == 0 || depth == 0 || depth > 8 || end < *out)
        return KXERR_INTERNALACCESS;
    Run run = {*out, end, false, nullptr, nullptr, *out, false, 0, 0, hook, user};
    const uint32_t err = Encode(run, pixels, width, height, depth, imageFlags);
    if (err == KXERR_NONE) *out = run.out;
    return err;
}

uint32_t GifLzwEncoder::EncodeImage(GifLzwSink sink, void* sinkUser, uint8_t* area, size_t areaSize,
                                    const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t depth,
                                    uint32_t imageFlags, GifLzwProgressHook hook, void* user) {
    if (!sink || !area || areaSize < 512 || !pixels || width == 0 || height == 0 || depth == 0 || depth > 8)
        return KXERR_INTERNALACCESS;
    Run run = {area, area + areaSize, false, sink, sinkUser, area, false, 0, 0, hook, user};
    return Encode(run, pixels, width, height, depth, imageFlags);
}

// ---- decompressor ----------------------------------------------------------

namespace {

// Codes least significant bit first from the payloads of the sub-blocks,
// never past a sub-block's length, the terminator or the end of the data. A
// sub-block cut short by the end of the data gives what is there. The data
// is either all in memory or comes from a source through a window; the
// bytes not yet in the window are counted in rest_.
class CodeReader {
public:
    CodeReader(const uint8_t* p, const uint8_t* end) : p_(p), win_(end) {}
    CodeReader(GifLzwSource source, void* user, uint64_t length, uint8_t* window, size_t windowSize)
        : p_(window), win_(window), rest_(length), source_(source), user_(user), window_(window),
          windowSize_(windowSize) {}

    bool failed() const { return failed_; }

    // False once no whole code is left.
    bool read(int32_t width, int32_t* code) {
        while (bits_ < width) {
            if (blockLeft_ == 0 && !nextBlock()) return false;
            if (p_ == win_) refill();
            buffer_ |= static_cast<uint32_t>(*p_++) << bits_;
            bits_ += 8;
            --blockLeft_;
        }
        *code = static_cast<int32_t>(buffer_ & kMasks[width]);
        buffer_ >>= width;
        bits_ -= width;
        return true;
    }

    // After an end code: passes over the remaining sub-blocks; true when a
    // terminator ends them, false when the data ends first.
    bool skipToTerminator() {
        if (terminated_) return true;
        if (exhausted_) return false;
        pass(blockLeft_);
        blockLeft_ = 0;
        while (nextBlock()) {
            pass(blockLeft_);
            blockLeft_ = 0;
        }
        return terminated_;
    }

private:
    uint64_t available() const { return static_cast<uint64_t>(win_ - p_) + rest_; }

    // The next part of the source into the window; only called with bytes
    // left. A source that falls short leaves zeros and the reader failed.
    void refill() {
        const size_t want = rest_ < windowSize_ ? static_cast<size_t>(rest_) : windowSize_;
        const size_t got = failed_ ? 0 : source_(user_, window_, want);
        if (got < want) {
            memset(window_ + got, 0, want - got);
            failed_ = true;
        }
        rest_ -= want;
        p_ = window_;
        win_ = window_ + want;
    }

    void pass(uint64_t count) {
        while (count > 0) {
            if (p_ == win_) refill();
            const uint64_t here = static_cast<uint64_t>(win_ - p_);
            const uint64_t step = count < here ? count : here;
            p_ += step;
            count -= step;
        }
    }

    bool nextBlock() {
        if (terminated_ || exhausted_) return false;
        if (available() == 0) {
            exhausted_ = true;
            return false;
        }
        if (p_ == win_) refill();
        const uint32_t n = *p_++;
        if (n == 0) {
            terminated_ = true;
            return false;
        }
        const uint64_t avail = available();
        if (avail == 0) {
            exhausted_ = true;
            return false;
        }
        blockLeft_ = n <= avail ? n : static_cast<uint32_t>(avail);
        return true;
    }

    const uint8_t* p_;
    const uint8_t* win_;
    uint64_t rest_ = 0;
    GifLzwSource source_ = nullptr;
    void* user_ = nullptr;
    uint8_t* window_ = nullptr;
    size_t windowSize_ = 0;
    uint32_t blockLeft_ = 0;
    uint32_t buffer_ = 0;
    int32_t bits_ = 0;
    bool terminated_ = false;
    bool exhausted_ = false;
    bool failed_ = false;
};

// The picture as a sequence of rows in file order; put() stops at its end.
class PixelSink {
public:
    // With reached, the picture is cleared beforehand: rows are marked there
    // as they are entered, and the ones never entered are left untouched.
    PixelSink(uint8_t* pixels, uint32_t width, uint32_t height, bool interlaced, GifLzwProgressHook hook, void* user,
              uint8_t* reached)
        : pixels_(pixels), rowWidth_(width), height_(height), order_(height, interlaced), hook_(hook), user_(user),
          reached_(reached) {
        startRow();
    }
    bool full() const { return order_.done(); }
    // Returns false once the picture is full.
    bool put(uint8_t v) {
        *dst_++ = v;
        if (dst_ == rowEnd_) {
            order_.next();
            ++rowsDone_;
            startRow();
        }
        return !order_.done();
    }
    // Zeroes everything not yet written (already zero in a cleared picture).
    void fillRest() {
        if (reached_) return;
        while (!order_.done()) {
            while (dst_ != rowEnd_) *dst_++ = 0;
            order_.next();
            ++rowsDone_;
            startRow();
        }
    }

private:
    void startRow() {
        if (order_.done()) return;
        if (hook_ && (rowsDone_ & 7) == 0)
            hook_(user_, static_cast<uint32_t>((static_cast<uint64_t>(rowsDone_) + 1) * 100 / height_));
        dst_ = pixels_ + static_cast<uint64_t>(order_.row()) * rowWidth_;
        rowEnd_ = dst_ + rowWidth_;
        if (reached_) reached_[order_.row()] = 1;
    }
    uint8_t* pixels_;
    uint32_t rowWidth_;
    uint32_t height_;
    RowOrder order_;
    GifLzwProgressHook hook_;
    void* user_;
    uint8_t* reached_;
    uint32_t rowsDone_ = 0;
    uint8_t* dst_ = nullptr;
    uint8_t* rowEnd_ = nullptr;
};

struct DecodeTables {
    uint16_t prefix[kMaxCodes];
    uint16_t suffix[kMaxCodes];
    uint8_t stack[kMaxCodes + 1];
};

}  // namespace

namespace {

// The codes after the minimum code size m, decoded into the sink.
uint32_t decodeCodes(CodeReader& reader, int32_t m, PixelSink& sink) {
    auto* t = static_cast<DecodeTables*>(AllocVec(sizeof(DecodeTables), 1));
    if (!t) return KXERR_NOMEMORY;

    const int32_t clear = 1 << m;
    const int32_t end = clear + 1;
    for (int32_t i = 0; i < clear; ++i) t->suffix[i] = static_cast<uint16_t>(i);

    // Every entry made refers to an older code, so a chain from any code
    // below next falls strictly and ends below clear within 4096 steps.
    int32_t next = clear + 2;
    int32_t codeWidth = m + 1;
    int32_t threshold = 2 * clear;
    int32_t old = -1;  // none: the next code starts a table
    uint8_t first = 0;
    uint32_t result = KXERR_NONE;

    for (;;) {
        int32_t code;
        if (!reader.read(codeWidth, &code)) {
            sink.put(255);
            break;
        }
        if (code == clear) {
            next = clear + 2;
            codeWidth = m + 1;
            threshold = 2 * clear;
            old = -1;
            continue;
        }
        if (code == end) {
            sink.put(reader.skipToTerminator() ? 254 : 253);
            break;
        }
        if (old < 0) {
            if (code > end) {
                result = KXERR_DECODE;
                break;
            }
            old = code;
            first = static_cast<uint8_t>(t->suffix[code]);
            if (!sink.put(first)) break;
            continue;
        }
        // A code at or above the next free one stands for the previous
        // string followed by its own first character.
        const int32_t incoming = code;
        uint32_t sp = 0;
        int32_t c = code;
        uint8_t tail = 0;
        bool kwk = false;
        if (c >= next) {
            kwk = true;
            c = old;
        }
        while (c >= clear) {
            t->stack[sp++] = static_cast<uint8_t>(t->suffix[c]);
            c = t->prefix[c];
        }
        first = static_cast<uint8_t>(t->suffix[c]);
        t->stack[sp++] = first;
        if (kwk) tail = first;
        if (next < kMaxCodes) {
            t->prefix[next] = static_cast<uint16_t>(old);
            t->suffix[next] = first;
            ++next;
            if (next >= threshold && threshold < kMaxCodes) {
                threshold *= 2;
                ++codeWidth;
            }
        }
        // A code above next has no entry of its own; it decodes as next did.
        old = incoming < next ? incoming : next - 1;
        bool more = true;
        while (sp > 0 && more) more = sink.put(t->stack[--sp]);
        if (more && kwk) more = sink.put(tail);
        if (!more) break;
    }
    sink.fillRest();
    FreeVec(t);
    return result;
}

}  // namespace

uint32_t GifLzwDecode(const uint8_t* data, const uint8_t* dataEnd, uint32_t width, uint32_t height, uint8_t* pixels,
                      const uint8_t* pixelsEnd, bool interlaced, GifLzwProgressHook hook, void* user,
                      uint8_t* rowsReached) {
    if (!pixels || !pixelsEnd) return KXERR_INTERNALACCESS;
    const uint64_t count = static_cast<uint64_t>(width) * height;
    if (pixelsEnd < pixels || static_cast<uint64_t>(pixelsEnd - pixels) < count) return KXERR_INTERNALACCESS;
    if (count == 0) return KXERR_NONE;

    PixelSink sink(pixels, width, height, interlaced, hook, user, rowsReached);
    if (!data || !dataEnd || data >= dataEnd) {
        sink.fillRest();
        return KXERR_DECODE;
    }
    const int32_t m = data[0];
    if (m < 1 || m > 11) {
        sink.fillRest();
        return KXERR_DECODE;
    }
    CodeReader reader(data + 1, dataEnd);
    return decodeCodes(reader, m, sink);
}

uint32_t GifLzwDecode(GifLzwSource source, void* sourceUser, uint64_t length, uint8_t* window, size_t windowSize,
                      uint32_t width, uint32_t height, uint8_t* pixels, const uint8_t* pixelsEnd, bool interlaced,
                      GifLzwProgressHook hook, void* user, uint8_t* rowsReached) {
    if (!pixels || !pixelsEnd || !source || !window || windowSize == 0) return KXERR_INTERNALACCESS;
    const uint64_t count = static_cast<uint64_t>(width) * height;
    if (pixelsEnd < pixels || static_cast<uint64_t>(pixelsEnd - pixels) < count) return KXERR_INTERNALACCESS;
    if (count == 0) return KXERR_NONE;

    PixelSink sink(pixels, width, height, interlaced, hook, user, rowsReached);
    uint8_t m = 0;
    if (length == 0) {
        sink.fillRest();
        return KXERR_DECODE;
    }
    if (source(sourceUser, &m, 1) != 1) return KXERR_EOF;
    if (m < 1 || m > 11) {
        sink.fillRest();
        return KXERR_DECODE;
    }
    CodeReader reader(source, sourceUser, length - 1, window, windowSize);
    const uint32_t err = decodeCodes(reader, m, sink);
    return reader.failed() ? KXERR_EOF : err;
}
