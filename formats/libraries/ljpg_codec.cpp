// ljpg_codec: lossless JPEG, ITU-T T.81 Annex H with Huffman coding (see
// ljpg_codec.h).
//
// Prediction (H.1.2.1): Ra left, Rb above, Rc above-left; the first pixel
// of the picture and of every restart interval is predicted by
// 2^(P - Pt - 1), the rest of that row by Ra, the first pixel of other rows
// by Rb, all others by the scan's predictor (PSV). The difference is coded
// as its category k (the number of bits of |d|) by Huffman code, then its
// k low bits (of d - 1 when d is negative). The decoder works modulo 2^16,
// where category 16 stands for 32768 with no further bits (H.1.2.2);
// categories above 16 are bad codes.
//
// Restart intervals of a lossless scan are whole rows (T.81 requires a
// multiple of the MCUs of a row; the rest of a division is dropped): a
// restart marker comes before rows R, 2R, ... of an interval of R rows.
#include "formats/libraries/ljpg_codec.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/memory.h"

namespace {

void say(LjpgMessage message, void* user, const char* format, ...) __attribute__((format(printf, 3, 4)));
void say(LjpgMessage message, void* user, const char* format, ...) {
    if (!message) return;
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    message(user, text);
}

// Bits of |d|: 0 for 0, else floor(log2 |d|) + 1.
inline uint32_t category(int32_t d) {
    const uint32_t a = (uint32_t)(d < 0 ? -d : d);
    return 31 - (uint32_t)__builtin_clz(a * 2 + 1);
}

constexpr uint32_t kMaxSide = 65535;

// ---- predictors ---------------------------------------------------------------
// a, b, c: Ra, Rb, Rc. PSV 0 and undefined values predict 0.
inline int32_t predict(uint32_t psv, int32_t a, int32_t b, int32_t c) {
    switch (psv) {
    case 1: return a;
    case 2: return b;
    case 3: return c;
    case 4: return a + b - c;
    case 5: return a + ((b - c) >> 1);
    case 6: return b + ((a - c) >> 1);
    case 7: return (a + b) >> 1;
    default: return 0;
    }
}

// ---- Huffman tables from counts (T.81 Annex K.2, K.3) ------------------------

// Code lengths of the symbols of one table: lengths[s] for s in 0..16.
// False when a code would be longer than 32 bits before the adjustment.
bool optimalTable(const uint64_t counts[17], LjpgHuffman* table, LjpgMessage message, void* user) {
    uint64_t freq[257] = {};
    int codeSize[257] = {};
    int others[257];
    for (int i = 0; i < 257; ++i) others[i] = -1;
    for (int i = 0; i < 17; ++i) freq[i] = counts[i];
    // The reserved symbol keeps every code from being all ones.
    freq[256] = 1;
    for (;;) {
        // The two least frequent symbols; among equal counts the higher one first.
        int c1 = -1, c2 = -1;
        uint64_t v = UINT64_MAX;
        for (int i = 0; i < 257; ++i)
            if (freq[i] && freq[i] <= v) {
                v = freq[i];
                c1 = i;
            }
        v = UINT64_MAX;
        for (int i = 0; i < 257; ++i)
            if (freq[i] && freq[i] <= v && i != c1) {
                v = freq[i];
                c2 = i;
            }
        if (c2 < 0) break;
        freq[c1] += freq[c2];
        freq[c2] = 0;
        ++codeSize[c1];
        while (others[c1] >= 0) {
            c1 = others[c1];
            ++codeSize[c1];
        }
        others[c1] = c2;
        ++codeSize[c2];
        while (others[c2] >= 0) {
            c2 = others[c2];
            ++codeSize[c2];
        }
    }
    int bits[33] = {};
    for (int i = 0; i < 257; ++i) {
        if (!codeSize[i]) continue;
        if (codeSize[i] > 32) {
            say(message, user, "Huffman code size table overflow: codesize[%d]=%d\n", i, codeSize[i]);
            return false;
        }
        ++bits[codeSize[i]];
    }
    // No code longer than 16 bits (K.3): move pairs up the tree.
    for (int i = 32; i > 16; --i) {
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0) --j;
            bits[i] -= 2;
            ++bits[i - 1];
            bits[j + 1] += 2;
            --bits[j];
        }
    }
    // Take the reserved symbol's code away from the longest length.
    int longest = 16;
    while (longest > 0 && bits[longest] == 0) --longest;
    if (longest > 0) --bits[longest];
    memset(table, 0, sizeof(*table));
    for (int i = 1; i <= 16; ++i) table->Counts[i] = (uint8_t)bits[i];
    int p = 0;
    for (int length = 1; length <= 32; ++length)
        for (int s = 0; s < 256; ++s)
            if (codeSize[s] == length) table->Symbols[p++] = (uint8_t)s;
    table->Defined = true;
    return true;
}

// Codes and lengths per symbol (T.81 Annex C); false when the counts claim
// more codes than their lengths hold.
bool codesOf(const LjpgHuffman& t, uint16_t codes[256], uint8_t lengths[256], uint32_t* total) {
    memset(lengths, 0, 256);
    memset(codes, 0, 256 * sizeof(uint16_t));
    uint32_t code = 0, k = 0;
    for (uint32_t length = 1; length <= 16; ++length) {
        for (uint32_t i = 0; i < t.Counts[length]; ++i, ++k) {
            if (k >= 256 || code >= (1u << length)) return false;
            codes[t.Symbols[k]] = (uint16_t)code;
            lengths[t.Symbols[k]] = (uint8_t)length;
            ++code;
        }
        code <<= 1;
    }
    if (total) *total = k;
    return true;
}

// ---- encoder ------------------------------------------------------------------

// Category counts of one row, for the scan's predictor or for the fixed
// first-row and first-column rule (first: Ra along the row after the
// initial prediction; otherwise x = 0 takes Rb).
template <int N>
void countRow(const uint8_t* cur, const uint8_t* prev, uint32_t width, uint32_t psv, bool first, uint64_t (*counts)[17],
              uint64_t (*fixed)[17]) {
    if (first) {
        for (int c = 0; c < N; ++c) ++fixed[c][category((int32_t)cur[c] - 128)];
        for (uint32_t i = N; i < width * N; ++i) ++fixed[i % N][category((int32_t)cur[i] - cur[i - N])];
        return;
    }
    for (int c = 0; c < N; ++c) ++fixed[c][category((int32_t)cur[c] - prev[c])];
    for (int c = 0; c < N; ++c) {
        uint64_t* h = counts[c];
        for (uint32_t i = N + c; i < width * N; i += N)
            ++h[category((int32_t)cur[i] - predict(psv, cur[i - N], prev[i], prev[i - N]))];
    }
}

void countRowAny(uint32_t n, const uint8_t* cur, const uint8_t* prev, uint32_t width, uint32_t psv, bool first,
                 uint64_t (*counts)[17], uint64_t (*fixed)[17]) {
    switch (n) {
    case 1: countRow<1>(cur, prev, width, psv, first, counts, fixed); break;
    case 2: countRow<2>(cur, prev, width, psv, first, counts, fixed); break;
    case 3: countRow<3>(cur, prev, width, psv, first, counts, fixed); break;
    default: countRow<4>(cur, prev, width, psv, first, counts, fixed); break;
    }
}

bool restartsBefore(uint32_t row, uint32_t restartRows) { return restartRows && row > 0 && row % restartRows == 0; }

// Bits into bytes, 0xFF stuffed with 0x00, through an output block.
struct BitWriter {
    LjpgWrite write;
    void* user;
    uint8_t* out;
    size_t size, fill = 0;
    uint64_t acc = 0;
    uint32_t bits = 0;
    bool failed = false;

    void flushBlock() {
        if (fill && !failed && !write(user, out, fill)) failed = true;
        fill = 0;
    }
    void byte(uint8_t b) {
        if (fill + 2 > size) flushBlock();
        out[fill++] = b;
    }
    void bytes(const uint8_t* data, size_t n) {
        for (size_t i = 0; i < n; ++i) byte(data[i]);
    }
    // count bits (at most 32) of value, most significant first.
    void put(uint32_t value, uint32_t count) {
        acc = (acc << count) | value;
        bits += count;
        while (bits >= 8) {
            bits -= 8;
            const uint8_t b = (uint8_t)(acc >> bits);
            if (fill + 2 > size) flushBlock();
            out[fill++] = b;
            if (b == 0xFF) out[fill++] = 0;
        }
    }
    // Completes the last byte with 1-bits.
    void pad() {
        if (bits) put((1u << (8 - bits)) - 1, 8 - bits);
        acc = 0;
    }
};

template <int N>
void encodeRow(BitWriter& w, const uint8_t* cur, const uint8_t* prev, uint32_t width, uint32_t psv, bool first,
               const uint16_t (*codes)[256], const uint8_t (*lengths)[256]) {
    auto put = [&](int c, int32_t d) {
        const uint32_t k = category(d);
        const uint32_t extra = (uint32_t)(d < 0 ? d - 1 : d) & ((1u << k) - 1);
        w.put((uint32_t)codes[c][k] << k | extra, lengths[c][k] + k);
    };
    if (first) {
        for (int c = 0; c < N; ++c) put(c, (int32_t)cur[c] - 128);
        for (uint32_t x = 1; x < width; ++x)
            for (int c = 0; c < N; ++c) put(c, (int32_t)cur[x * N + c] - cur[(x - 1) * N + c]);
        return;
    }
    for (int c = 0; c < N; ++c) put(c, (int32_t)cur[c] - prev[c]);
    for (uint32_t x = 1; x < width; ++x) {
        for (int c = 0; c < N; ++c) {
            const uint32_t i = x * N + c;
            put(c, (int32_t)cur[i] - predict(psv, cur[i - N], prev[i], prev[i - N]));
        }
    }
}

void encodeRowAny(uint32_t n, BitWriter& w, const uint8_t* cur, const uint8_t* prev, uint32_t width, uint32_t psv, bool first,
                  const uint16_t (*codes)[256], const uint8_t (*lengths)[256]) {
    switch (n) {
    case 1: encodeRow<1>(w, cur, prev, width, psv, first, codes, lengths); break;
    case 2: encodeRow<2>(w, cur, prev, width, psv, first, codes, lengths); break;
    case 3: encodeRow<3>(w, cur, prev, width, psv, first, codes, lengths); break;
    default: encodeRow<4>(w, cur, prev, width, psv, first, codes, lengths); break;
    }
}

void putBe16(BitWriter& w, uint32_t v) {
    w.byte((uint8_t)(v >> 8));
    w.byte((uint8_t)v);
}

}  // namespace

uint32_t LjpgPlan(LjpgEncoder* e) {
    if (!e || !e->Pixels || e->Components < 1 || e->Components > 4 || e->Width == 0 || e->Height == 0) return LJPG_ERROR;
    if (e->Width > kMaxSide || e->Height > kMaxSide) {
        say(e->Message, e->User, "Maximum image dimension for JFIF is 65535 pixels\n");
        return LJPG_ERROR;
    }
    if ((uint64_t)e->RestartRows * e->Width > 65535) {
        say(e->Message, e->User, "Error: Restart interval is too big.\n");
        say(e->Message, e->User, "It should be less than %d rows.\n", (int)(65535 / e->Width));
        return LJPG_ERROR;
    }
    const uint32_t n = e->Components;
    const size_t stride = (size_t)e->Width * n;
    if (e->CandidateCount < 1 || e->CandidateCount > 7) return LJPG_ERROR;
    // Counts of the fixed first-row and first-column predictions, shared by
    // every candidate, and of each candidate's own predictions.
    uint64_t fixed[4][17] = {};
    auto* counts = static_cast<uint64_t(*)[4][17]>(AllocVec(sizeof(uint64_t[7][4][17]), MEMF_CLEAR));
    if (!counts) {
        say(e->Message, e->User, "Not enough memory for mcuTable\n");
        return LJPG_NO_MEMORY;
    }
    for (uint32_t y = 0; y < e->Height; ++y) {
        const uint8_t* cur = e->Pixels + y * stride;
        const uint8_t* prev = y ? cur - stride : cur;
        const bool first = y == 0 || restartsBefore(y, e->RestartRows);
        if (first) {
            countRowAny(n, cur, prev, e->Width, 0, true, nullptr, fixed);
            continue;
        }
        // The first column is counted once; each candidate counts the rest.
        uint64_t scratch[4][17] = {};
        countRowAny(n, cur, prev, e->Width, e->Candidates[0], false, counts[0], fixed);
        for (uint32_t k = 1; k < e->CandidateCount; ++k)
            countRowAny(n, cur, prev, e->Width, e->Candidates[k], false, counts[k], scratch);
    }
    uint64_t best = UINT64_MAX;
    uint32_t result = LJPG_OK;
    for (uint32_t k = 0; k < e->CandidateCount && result == LJPG_OK; ++k) {
        if (e->Candidates[k] < 1 || e->Candidates[k] > 7) {
            result = LJPG_ERROR;
            break;
        }
        LjpgHuffman tables[4];
        uint64_t size = 0;
        for (uint32_t c = 0; c < n; ++c) {
            uint64_t all[17];
            for (int s = 0; s < 17; ++s) all[s] = counts[k][c][s] + fixed[c][s];
            if (!optimalTable(all, &tables[c], e->Message, e->User)) {
                result = LJPG_ERROR;
                break;
            }
            uint16_t codes[256];
            uint8_t lengths[256];
            codesOf(tables[c], codes, lengths, nullptr);
            for (int s = 0; s < 17; ++s) size += all[s] * (lengths[s] + (uint64_t)s);
        }
        // Strictly shorter only: the earlier candidate keeps a tie.
        if (result == LJPG_OK && size < best) {
            best = size;
            e->Psv = e->Candidates[k];
            e->CodedBits = size;
            memcpy(e->Tables, tables, sizeof(LjpgHuffman) * n);
        }
    }
    FreeVec(counts);
    return result;
}

uint32_t LjpgEncode(LjpgEncoder* e) {
    if (!e || !e->Write || e->Psv < 1 || e->Psv > 7) return LJPG_ERROR;
    const uint32_t n = e->Components;
    uint16_t codes[4][256];
    uint8_t lengths[4][256];
    for (uint32_t c = 0; c < n; ++c)
        if (!e->Tables[c].Defined || !codesOf(e->Tables[c], codes[c], lengths[c], nullptr)) {
            say(e->Message, e->User, "Huffman table 0x%02x was not defined\n", c);
            return LJPG_ERROR;
        }
    constexpr size_t kBlock = 1 << 16;
    BitWriter w{e->Write, e->User, static_cast<uint8_t*>(AllocVec(kBlock, MEMF_ANY)), kBlock};
    if (!w.out) {
        say(e->Message, e->User, "Not enough memory for buffer\n");
        return LJPG_NO_MEMORY;
    }
    // Start of image, frame (SOF3).
    const uint8_t soi[2] = {0xFF, 0xD8};
    w.bytes(soi, 2);
    w.byte(0xFF);
    w.byte(0xC3);
    putBe16(w, 3 * n + 8);
    w.byte(8);
    putBe16(w, e->Height);
    putBe16(w, e->Width);
    w.byte((uint8_t)n);
    for (uint32_t c = 0; c < n; ++c) {
        w.byte((uint8_t)c);
        w.byte(0x11);
        w.byte(0);
    }
    // One table per component.
    for (uint32_t c = 0; c < n; ++c) {
        uint32_t count = 0;
        for (int i = 1; i <= 16; ++i) count += e->Tables[c].Counts[i];
        w.byte(0xFF);
        w.byte(0xC4);
        putBe16(w, 19 + count);
        w.byte((uint8_t)c);
        w.bytes(e->Tables[c].Counts + 1, 16);
        w.bytes(e->Tables[c].Symbols, count);
    }
    if (e->RestartRows) {
        w.byte(0xFF);
        w.byte(0xDD);
        putBe16(w, 4);
        putBe16(w, e->RestartRows * e->Width);
    }
    w.byte(0xFF);
    w.byte(0xDA);
    putBe16(w, 2 * n + 6);
    w.byte((uint8_t)n);
    for (uint32_t c = 0; c < n; ++c) {
        w.byte((uint8_t)c);
        w.byte((uint8_t)(c << 4));
    }
    w.byte((uint8_t)e->Psv);
    w.byte(0);
    w.byte(0);

    const size_t stride = (size_t)e->Width * n;
    uint32_t restart = 0;
    for (uint32_t y = 0; y < e->Height && !w.failed; ++y) {
        const uint8_t* cur = e->Pixels + y * stride;
        bool first = y == 0;
        if (restartsBefore(y, e->RestartRows)) {
            w.pad();
            w.byte(0xFF);
            w.byte((uint8_t)(0xD0 + restart));
            restart = (restart + 1) & 7;
            first = true;
        }
        encodeRowAny(n, w, cur, y ? cur - stride : cur, e->Width, e->Psv, first, codes, lengths);
    }
    w.pad();
    w.byte(0xFF);
    w.byte(0xD9);
    w.flushBlock();
    const bool failed = w.failed;
    FreeVec(w.out);
    return failed ? LJPG_WRITE_FAILED : LJPG_OK;
}

// ---- decoder ------------------------------------------------------------------

namespace {

// Look-up of the first kLookBits bits of a code. A complete entry holds
// the difference itself (code and extra bits fit); otherwise the code's
// length and category, with the extra bits read after. Length 0: the
// code is longer, found through the per-length ranges.
constexpr uint32_t kLookBits = 11;
constexpr uint8_t kComplete = 0x80;

struct LookEntry {
    uint8_t length;  // bits consumed, kComplete set when diff is the difference
    uint8_t symbol;
    int16_t diff;    // modulo 2^16: category 16 is 32768, stored as -32768
};

struct DecodeTable {
    LookEntry look[1u << kLookBits];
    int32_t maxCode[17];  // largest code of each length, -1 for none
    int32_t firstCode[17];
    uint32_t firstIndex[17];
    uint8_t count[17];
    uint8_t symbols[256];
};

// The difference of category k (1..15) from its k extra bits.
inline int32_t extend(uint32_t v, uint32_t k) { return v < (1u << (k - 1)) ? (int32_t)v - (int32_t)(1u << k) + 1 : (int32_t)v; }

struct FrameComponent {
    uint8_t id, h, v;
};

}  // namespace

struct LjpgDecoderState {
    // Input block.
    uint8_t in[1 << 16];
    size_t pos, end;
    bool eof;
    // Frame and scan.
    bool frameRead;
    uint32_t frameCount;
    FrameComponent frame[256];
    uint32_t scanTable[4];
    int pendingMarker;
    LjpgHuffman tables[4];
    DecodeTable decode[4];
    // Entropy-coded data: valid bits are the low `bits` of acc.
    uint64_t acc;
    uint32_t bits;
    int marker;  // a marker met in the data (then zero bits follow), or -1
    uint32_t zeroBits;  // zero bits put behind the data since it ended
    bool badCodeSaid;
    // Rows.
    uint16_t* rows[2];
    int32_t* diffs;
    uint32_t restartRows;
};

namespace {

bool fillInput(LjpgDecoder* d) {
    LjpgDecoderState* s = d->State;
    if (s->eof) return false;
    s->pos = 0;
    s->end = d->Read ? d->Read(d->User, s->in, sizeof(s->in)) : 0;
    if (s->end > sizeof(s->in)) s->end = 0;
    if (s->end == 0) s->eof = true;
    return s->end > 0;
}

// The next byte, or -1 at the end of the file.
inline int nextByte(LjpgDecoder* d) {
    LjpgDecoderState* s = d->State;
    if (s->pos == s->end && !fillInput(d)) return -1;
    return s->in[s->pos++];
}

// ---- segments -------------------------------------------------------------------

bool endOfFile(LjpgDecoder* d) {
    say(d->Message, d->User, "Premature end of file\n");
    return false;
}

bool read8(LjpgDecoder* d, uint32_t* v) {
    const int b = nextByte(d);
    if (b < 0) return endOfFile(d);
    *v = (uint32_t)b;
    return true;
}

bool read16(LjpgDecoder* d, uint32_t* v) {
    uint32_t hi, lo;
    if (!read8(d, &hi) || !read8(d, &lo)) return false;
    *v = hi << 8 | lo;
    return true;
}

// The next marker: bytes up to an 0xFF are passed over, fill bytes (0xFF)
// too, and 0xFF 0x00 is no marker. -1 at the end of the file.
int nextMarker(LjpgDecoder* d) {
    for (;;) {
        int b = nextByte(d);
        while (b >= 0 && b != 0xFF) b = nextByte(d);
        while (b == 0xFF) b = nextByte(d);
        if (b < 0) return -1;
        if (b != 0) return b;
    }
}

bool skipSegment(LjpgDecoder* d) {
    uint32_t length;
    if (!read16(d, &length)) return false;
    if (length < 2) {
        say(d->Message, d->User, "Bogus marker length\n");
        return false;
    }
    for (uint32_t i = 2; i < length; ++i)
        if (nextByte(d) < 0) return endOfFile(d);
    return true;
}

bool readDht(LjpgDecoder* d) {
    LjpgDecoderState* s = d->State;
    uint32_t length;
    if (!read16(d, &length)) return false;
    int32_t left = (int32_t)length - 2;
    while (left > 0) {
        uint32_t index;
        if (!read8(d, &index)) return false;
        // An AC table (class 1) has no use in lossless mode; its index is out of range.
        if (index & 0xF0) say(d->Message, d->User, "Huffman table for lossless JPEG is not defined.\n");
        if (index > 3) {
            say(d->Message, d->User, "Bogus DHT index %d", (int)index);
            return false;
        }
        LjpgHuffman t = {};
        uint32_t total = 0;
        for (int i = 1; i <= 16; ++i) {
            uint32_t c;
            if (!read8(d, &c)) return false;
            t.Counts[i] = (uint8_t)c;
            total += c;
        }
        if (total > 256 || (int32_t)(17 + total) > left) {
            say(d->Message, d->User, "Bogus DHT counts");
            return false;
        }
        for (uint32_t i = 0; i < total; ++i) {
            uint32_t v;
            if (!read8(d, &v)) return false;
            t.Symbols[i] = (uint8_t)v;
        }
        t.Defined = true;
        s->tables[index] = t;
        left -= (int32_t)(17 + total);
    }
    return true;
}

bool readDri(LjpgDecoder* d) {
    uint32_t length, interval;
    if (!read16(d, &length)) return false;
    if (length != 4) {
        say(d->Message, d->User, "Bogus length in DRI");
        return false;
    }
    if (!read16(d, &interval)) return false;
    d->RestartInterval = interval;
    return true;
}

bool readSof(LjpgDecoder* d) {
    LjpgDecoderState* s = d->State;
    uint32_t length, precision, height, width, count;
    if (!read16(d, &length) || !read8(d, &precision) || !read16(d, &height) || !read16(d, &width) || !read8(d, &count))
        return false;
    if (precision < 2 || precision > 16) {
        say(d->Message, d->User, "Unsupported JPEG data precision");
        return false;
    }
    if (height == 0 || width == 0 || count == 0) {
        say(d->Message, d->User, "Empty JPEG image (DNL not supported)");
        return false;
    }
    if (length != 3 * count + 8) {
        say(d->Message, d->User, "Bogus SOF length");
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t id, hv, tq;
        if (!read8(d, &id) || !read8(d, &hv) || !read8(d, &tq)) return false;
        s->frame[i] = {(uint8_t)id, (uint8_t)(hv >> 4), (uint8_t)(hv & 15)};
    }
    d->Width = width;
    d->Height = height;
    d->Precision = precision;
    s->frameCount = count;
    s->frameRead = true;
    return true;
}

bool readSos(LjpgDecoder* d) {
    LjpgDecoderState* s = d->State;
    uint32_t length, count;
    if (!read16(d, &length) || !read8(d, &count)) return false;
    if (count < 1 || count > 4 || length != 2 * count + 6) {
        say(d->Message, d->User, "Bogus SOS length");
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t id, tables;
        if (!read8(d, &id) || !read8(d, &tables)) return false;
        uint32_t k = 0;
        while (k < s->frameCount && s->frame[k].id != id) ++k;
        if (k == s->frameCount) {
            say(d->Message, d->User, "Invalid component number in SOS");
            return false;
        }
        s->scanTable[i] = tables >> 4;
    }
    uint32_t ss, se, a;
    if (!read8(d, &ss) || !read8(d, &se) || !read8(d, &a)) return false;
    d->ScanComponents = count;
    d->Psv = ss;
    d->Pt = a & 15;
    return true;
}

bool isFrameMarker(int m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

// Reads segments up to a frame, scan, start or end marker and returns that
// marker; -1 for an error (its message said).
int processTables(LjpgDecoder* d) {
    for (;;) {
        const int m = nextMarker(d);
        if (m < 0) {
            endOfFile(d);
            return -1;
        }
        if (isFrameMarker(m) || m == 0xDA || m == 0xD8 || m == 0xD9) return m;
        bool ok = true;
        if (m == 0xC4) {
            ok = readDht(d);
        } else if (m == 0xDD) {
            ok = readDri(d);
        } else if (m == 0xDB) {
            say(d->Message, d->User, "Not a lossless JPEG file.\n");
            ok = skipSegment(d);
        } else if ((m >= 0xD0 && m <= 0xD7) || m == 0x01) {
            say(d->Message, d->User, "Warning: unexpected marker 0x%02x", m);
        } else {
            ok = skipSegment(d);
        }
        if (!ok) return -1;
    }
}

// Decoding tables of one Huffman table; false when its counts claim more
// codes than their lengths hold.
bool deriveTable(const LjpgHuffman& t, DecodeTable* dt) {
    uint16_t codes[256];
    uint8_t lengths[256];
    memset(dt, 0, sizeof(*dt));
    uint32_t code = 0, k = 0;
    for (uint32_t length = 1; length <= 16; ++length) {
        dt->count[length] = t.Counts[length];
        dt->firstIndex[length] = k;
        dt->firstCode[length] = (int32_t)code;
        dt->maxCode[length] = -1;
        for (uint32_t i = 0; i < t.Counts[length]; ++i, ++k) {
            if (k >= 256 || code >= (1u << length)) return false;
            codes[k] = (uint16_t)code;
            lengths[k] = (uint8_t)length;
            dt->symbols[k] = t.Symbols[k];
            dt->maxCode[length] = (int32_t)code;
            ++code;
        }
        code <<= 1;
    }
    for (uint32_t i = 0; i < k; ++i) {
        const uint32_t length = lengths[i];
        if (length > kLookBits) continue;
        const uint32_t symbol = dt->symbols[i];
        const uint32_t spare = kLookBits - length;
        const uint32_t base = (uint32_t)codes[i] << spare;
        for (uint32_t j = 0; j < (1u << spare); ++j) {
            LookEntry& e = dt->look[base + j];
            e.symbol = (uint8_t)symbol;
            e.length = (uint8_t)length;
            e.diff = 0;
            if (symbol == 0) {
                e.length |= kComplete;
            } else if (symbol == 16) {
                e.diff = -32768;
                e.length |= kComplete;
            } else if (symbol < 16 && symbol <= spare) {
                const uint32_t extra = (j >> (spare - symbol)) & ((1u << symbol) - 1);
                e.diff = (int16_t)extend(extra, symbol);
                e.length = (uint8_t)((length + symbol) | kComplete);
            }
        }
    }
    return true;
}

// ---- entropy-coded data -------------------------------------------------------------

// Tops the bit buffer up to more than 56 bits. A marker ends the data: it
// is kept for the restart, and zero bits follow, as after the file's end.
void fillBitsSlowly(LjpgDecoder* d) {
    LjpgDecoderState* s = d->State;
    while (s->bits <= 56) {
        int b = -1;
        if (s->marker < 0) {
            b = s->pos < s->end ? s->in[s->pos++] : nextByte(d);
            if (b == 0xFF) {
                int next = nextByte(d);
                while (next == 0xFF) next = nextByte(d);
                if (next > 0) {
                    s->marker = next;
                    b = -1;
                } else if (next < 0) {
                    b = -1;
                }
            }
        }
        if (b < 0) s->zeroBits += 8;
        s->acc = (s->acc << 8) | (uint32_t)(b < 0 ? 0 : b);
        s->bits += 8;
    }
}

// True when the data of the scan (or of the restart interval) has ended
// and every bit it left has been taken: what follows would be decoded from
// zero bits alone.
bool dataEnded(LjpgDecoderState* s) {
    if (s->zeroBits > s->bits) s->zeroBits = s->bits;
    return (s->marker >= 0 || s->eof) && s->bits <= s->zeroBits;
}

// The bit buffer of the row being decoded, kept in locals: the state
// record is written back only around the calls that need it.
struct Bits {
    uint64_t acc;
    uint32_t bits;
};

// At most 32 bits are taken between two fills (a 16-bit code and 16 extra
// bits at most). With eight bytes in the block and no 0xFF among them,
// whole bytes are taken at once.
__attribute__((always_inline)) inline void fillBits(LjpgDecoder* d, Bits& b) {
    LjpgDecoderState* s = d->State;
    if (s->marker < 0 && s->pos + 8 <= s->end) {
        uint64_t w;
        memcpy(&w, s->in + s->pos, 8);
        w = __builtin_bswap64(w);
        const uint64_t inverse = ~w;
        if (((inverse - 0x0101010101010101ull) & ~inverse & 0x8080808080808080ull) == 0) {
            const uint32_t take = (63 - b.bits) >> 3;  // 4..7 bytes, as bits < 32
            b.acc = (b.acc << (take * 8)) | (w >> (64 - take * 8));
            b.bits += take * 8;
            s->pos += take;
            return;
        }
    }
    s->acc = b.acc;
    s->bits = b.bits;
    fillBitsSlowly(d);
    b.acc = s->acc;
    b.bits = s->bits;
}

inline uint32_t peekBits(const Bits& b, uint32_t n) { return (uint32_t)(b.acc >> (b.bits - n)) & ((1u << n) - 1); }

// A difference whose code the look-up table does not finish: a code of
// more than kLookBits bits, or extra bits that go past the look-up. A code
// that matches no length or a category above 16 is a bad code: the
// difference counts as 0.
__attribute__((noinline)) int32_t decodeSlowly(LjpgDecoder* d, Bits& b, const DecodeTable& t, LookEntry e) {
    LjpgDecoderState* s = d->State;
    uint32_t k;
    if (e.length) {
        b.bits -= e.length;
        k = e.symbol;
    } else {
        uint32_t length = kLookBits + 1;
        uint32_t code = 0;
        for (; length <= 16; ++length) {
            code = peekBits(b, length);
            if ((int32_t)code <= t.maxCode[length]) break;
        }
        if (length > 16 || code < (uint32_t)t.firstCode[length] ||
            code - (uint32_t)t.firstCode[length] >= t.count[length]) {
            b.bits -= 16;
            k = 17;
        } else {
            b.bits -= length;
            k = t.symbols[t.firstIndex[length] + code - (uint32_t)t.firstCode[length]];
        }
    }
    if (k == 0) return 0;
    if (k == 16) return -32768;
    if (k > 16) {
        // One line per scan: a damaged stream would otherwise fill the log.
        if (!s->badCodeSaid) say(d->Message, d->User, "Corrupt JPEG data: bad Huffman code");
        s->badCodeSaid = true;
        return 0;
    }
    const uint32_t v = peekBits(b, k);
    b.bits -= k;
    return extend(v, k);
}

template <int N>
void decodeDiffs(LjpgDecoder* d, const DecodeTable* const* tables, int32_t* out, uint32_t width) {
    LjpgDecoderState* s = d->State;
    Bits b = {s->acc, s->bits};
    for (uint32_t x = 0; x < width; ++x, out += N) {
        for (int c = 0; c < N; ++c) {
            if (b.bits < 32) fillBits(d, b);
            const DecodeTable& t = *tables[c];
            const LookEntry e = t.look[peekBits(b, kLookBits)];
            if (__builtin_expect((e.length & kComplete) != 0, 1)) {
                b.bits -= e.length & ~kComplete;
                out[c] = e.diff;
            } else {
                out[c] = decodeSlowly(d, b, t, e);
            }
        }
    }
    s->acc = b.acc;
    s->bits = b.bits;
}

// Reconstructs the rest of a row (from the second pixel) modulo 2^16.
template <int N, int PSV>
void predictRow(uint16_t* cur, const uint16_t* prev, const int32_t* diff, uint32_t n) {
    for (uint32_t i = N; i < n; ++i)
        cur[i] = (uint16_t)((uint32_t)predict(PSV, cur[i - N], prev[i], prev[i - N]) + (uint32_t)diff[i]);
}

template <int N>
void reconstruct(uint16_t* cur, const uint16_t* prev, const int32_t* diff, uint32_t width, uint32_t psv, bool first,
                 uint32_t initial) {
    const uint32_t n = width * N;
    if (first) {
        for (int c = 0; c < N; ++c) cur[c] = (uint16_t)(initial + (uint32_t)diff[c]);
        predictRow<N, 1>(cur, prev, diff, n);
        return;
    }
    for (int c = 0; c < N; ++c) cur[c] = (uint16_t)(prev[c] + (uint32_t)diff[c]);
    switch (psv) {
    case 1: predictRow<N, 1>(cur, prev, diff, n); break;
    case 2: predictRow<N, 2>(cur, prev, diff, n); break;
    case 3: predictRow<N, 3>(cur, prev, diff, n); break;
    case 4: predictRow<N, 4>(cur, prev, diff, n); break;
    case 5: predictRow<N, 5>(cur, prev, diff, n); break;
    case 6: predictRow<N, 6>(cur, prev, diff, n); break;
    case 7: predictRow<N, 7>(cur, prev, diff, n); break;
    default: predictRow<N, 0>(cur, prev, diff, n); break;
    }
}

template <int N>
uint32_t decodeScan(LjpgDecoder* d, LjpgRow row, void* user);

// The restart marker that must come next: the bits of the interval are
// dropped and the data are searched for the marker.
bool restart(LjpgDecoder* d, uint32_t expected) {
    LjpgDecoderState* s = d->State;
    s->acc = 0;
    s->bits = 0;
    s->zeroBits = 0;
    int m = s->marker;
    s->marker = -1;
    if (m < 0) m = nextMarker(d);
    if (m < 0) return endOfFile(d);
    if (m != (int)(0xD0 + expected)) {
        say(d->Message, d->User, "Error: Corrupt JPEG data.  Exiting...\n");
        return false;
    }
    return true;
}

template <int N>
uint32_t decodeScan(LjpgDecoder* d, LjpgRow row, void* user) {
    LjpgDecoderState* s = d->State;
    const DecodeTable* tables[N];
    for (int c = 0; c < N; ++c) tables[c] = &s->decode[s->scanTable[c]];
    const uint32_t initial = 1u << (d->Precision - d->Pt - 1);
    uint32_t next = 0;
    uint16_t* cur = s->rows[0];
    uint16_t* prev = s->rows[1];
    for (uint32_t y = 0; y < d->Height; ++y) {
        bool first = y == 0;
        if (restartsBefore(y, s->restartRows)) {
            if (!restart(d, next)) return LJPG_ERROR;
            next = (next + 1) & 7;
            first = true;
        } else if (dataEnded(s)) {
            // Rows without data are left as they are (the caller's cleared
            // picture), so that a small file that claims a large picture
            // costs no decoding: up to the next restart, or to the end.
            if (!s->restartRows) break;
            const uint64_t boundary = ((uint64_t)y / s->restartRows + 1) * s->restartRows;
            if (boundary >= d->Height) break;
            y = (uint32_t)boundary - 1;
            continue;
        }
        decodeDiffs<N>(d, tables, s->diffs, d->Width);
        reconstruct<N>(cur, prev, s->diffs, d->Width, d->Psv, first, initial);
        if (row) row(user, y, cur);
        uint16_t* t = cur;
        cur = prev;
        prev = t;
    }
    return LJPG_OK;
}

}  // namespace

uint32_t LjpgReadFileHeader(LjpgDecoder* d) {
    if (!d) return LJPG_ERROR;
    LjpgDecoderEnd(d);
    d->State = static_cast<LjpgDecoderState*>(AllocVec(sizeof(LjpgDecoderState), MEMF_CLEAR));
    if (!d->State) return LJPG_NO_MEMORY;
    LjpgDecoderState* s = d->State;
    s->pendingMarker = -1;
    s->marker = -1;
    d->Width = d->Height = d->Precision = d->ScanComponents = d->Psv = d->Pt = 0;
    d->RestartInterval = 0;
    const int b0 = nextByte(d), b1 = nextByte(d);
    if (b0 != 0xFF || b1 != 0xD8) {
        say(d->Message, d->User, "Not a JPEG file\n");
        return LJPG_ERROR;
    }
    const int m = processTables(d);
    if (m < 0) return LJPG_ERROR;
    if (m == 0xC0 || m == 0xC1 || m == 0xC3) return readSof(d) ? LJPG_OK : LJPG_ERROR;
    if (isFrameMarker(m)) {
        say(d->Message, d->User, "Unsupported SOF marker type 0x%02x", m);
        return skipSegment(d) ? LJPG_OK : LJPG_ERROR;
    }
    // A scan or the end before any frame: the scan header meets it.
    s->pendingMarker = m;
    return LJPG_OK;
}

uint32_t LjpgReadScanHeader(LjpgDecoder* d, bool* found) {
    if (!d || !d->State || !found) return LJPG_ERROR;
    *found = false;
    LjpgDecoderState* s = d->State;
    int m = s->pendingMarker;
    s->pendingMarker = -1;
    if (m < 0) m = processTables(d);
    if (m < 0) return LJPG_ERROR;
    if (m == 0xD9) return LJPG_OK;
    if (m != 0xDA) {
        say(d->Message, d->User, "Unexpected marker 0x%02x", m);
        return LJPG_OK;
    }
    if (!readSos(d)) return LJPG_ERROR;
    *found = true;
    return LJPG_OK;
}

uint32_t LjpgDecodeInit(LjpgDecoder* d) {
    if (!d || !d->State) return LJPG_ERROR;
    LjpgDecoderState* s = d->State;
    if (!s->frameRead || d->ScanComponents < 1) {
        say(d->Message, d->User, "Invalid component number in SOS");
        return LJPG_ERROR;
    }
    for (uint32_t i = 0; i < s->frameCount; ++i)
        if (s->frame[i].h != 1 || s->frame[i].v != 1) {
            say(d->Message, d->User, "Error: Downsampling is not supported.\n");
            return LJPG_ERROR;
        }
    if (d->ScanComponents > 4) {
        say(d->Message, d->User, "Too many components for interleaved scan");
        return LJPG_ERROR;
    }
    if (d->Pt >= d->Precision) {
        say(d->Message, d->User, "Unsupported point transform %u for precision %u", d->Pt, d->Precision);
        return LJPG_ERROR;
    }
    if (d->Psv > 7) say(d->Message, d->User, "Warning: Undefined PSV\n");
    for (uint32_t c = 0; c < d->ScanComponents; ++c) {
        const uint32_t t = s->scanTable[c];
        if (t > 3 || !s->tables[t].Defined) {
            say(d->Message, d->User, "Error: Use of undefined Huffman table\n");
            return LJPG_ERROR;
        }
        if (!deriveTable(s->tables[t], &s->decode[t])) {
            say(d->Message, d->User, "Bogus DHT counts");
            return LJPG_ERROR;
        }
    }
    const size_t samples = (size_t)d->Width * d->ScanComponents;
    s->rows[0] = static_cast<uint16_t*>(AllocVec(samples * sizeof(uint16_t), MEMF_CLEAR));
    s->rows[1] = static_cast<uint16_t*>(AllocVec(samples * sizeof(uint16_t), MEMF_CLEAR));
    s->diffs = static_cast<int32_t*>(AllocVec(samples * sizeof(int32_t), MEMF_CLEAR));
    if (!s->rows[0] || !s->rows[1] || !s->diffs) {
        say(d->Message, d->User, "Not enough memory for d_mcuROW1\n");
        return LJPG_NO_MEMORY;
    }
    s->restartRows = d->RestartInterval / d->Width;
    s->acc = 0;
    s->bits = 0;
    s->marker = -1;
    s->zeroBits = 0;
    s->badCodeSaid = false;
    return LJPG_OK;
}

uint32_t LjpgDecodeImage(LjpgDecoder* d, LjpgRow row, void* user) {
    if (!d || !d->State || !d->State->rows[0]) return LJPG_ERROR;
    switch (d->ScanComponents) {
    case 1: return decodeScan<1>(d, row, user);
    case 2: return decodeScan<2>(d, row, user);
    case 3: return decodeScan<3>(d, row, user);
    case 4: return decodeScan<4>(d, row, user);
    default: return LJPG_ERROR;
    }
}

void LjpgDecoderEnd(LjpgDecoder* d) {
    if (!d || !d->State) return;
    FreeVec(d->State->rows[0]);
    FreeVec(d->State->rows[1]);
    FreeVec(d->State->diffs);
    FreeVec(d->State);
    d->State = nullptr;
}
