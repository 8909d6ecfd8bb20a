// kxoFAXX: reads FORM "FAXX" (see kxoFAXX.h). Relies on the chunk layer and
// the metadata chunk set of iff.h. Decodes one-dimensional Modified Huffman
// lines of 1728 pixels through lookup tables built from the white and black
// run-length code tables of ITU-T T.4 (terminating codes 0-63, make-up
// codes 64-1728; the extended make-up codes count as bad codes). Refuses
// compression values above 1, FXHD/GPHD longer than their records (14) and
// pages of no height. A PAGE chunk cut off by the end of the file is decoded
// as far as it goes.
#include "formats/iff/kxoFAXX.h"

#include <cstring>

namespace {
const char kStops[] =
    "FAXXFXHD"
    "FAXXGPHD"
    "FAXXNAME"
    "FAXXAUTH"
    "FAXXANNO"
    "FAXX(c) "
    "FAXXEXIF"
    "FAXXIPTC"
    "FAXXXMP0"
    "FAXXXMP1"
    "FAXXICCP"
    "FAXXICCN"
    "FAXXPAGE";
const uint32_t kStopCount = 13;

const char kTag[] = "faxx";
const uint32_t kLinePixels = 1728;

struct FaxCode {
    uint8_t Length;
    uint16_t Bits;
    uint16_t Run;
};

// ITU-T T.4, tables 2 and 3: terminating codes for runs 0-63, then the
// make-up codes for 64, 128, ..., 1728.
const FaxCode kWhiteCodes[] = {
    {8, 0b00110101, 0}, {6, 0b000111, 1}, {4, 0b0111, 2}, {4, 0b1000, 3},
    {4, 0b1011, 4}, {4, 0b1100, 5}, {4, 0b1110, 6}, {4, 0b1111, 7},
    {5, 0b10011, 8}, {5, 0b10100, 9}, {5, 0b00111, 10}, {5, 0b01000, 11},
    {6, 0b001000, 12}, {6, 0b000011, 13}, {6, 0b110100, 14}, {6, 0b110101, 15},
    {6, 0b101010, 16}, {6, 0b101011, 17}, {7, 0b0100111, 18}, {7, 0b0001100, 19},
    {7, 0b0001000, 20}, {7, 0b0010111, 21}, {7, 0b0000011, 22}, {7, 0b0000100, 23},
    {7, 0b0101000, 24}, {7, 0b0101011, 25}, {7, 0b0010011, 26}, {7, 0b0100100, 27},
    {7, 0b0011000, 28}, {8, 0b00000010, 29}, {8, 0b00000011, 30}, {8, 0b00011010, 31},
    {8, 0b00011011, 32}, {8, 0b00010010, 33}, {8, 0b00010011, 34}, {8, 0b00010100, 35},
    {8, 0b00010101, 36}, {8, 0b00010110, 37}, {8, 0b00010111, 38}, {8, 0b00101000, 39},
    {8, 0b00101001, 40}, {8, 0b00101010, 41}, {8, 0b00101011, 42}, {8, 0b00101100, 43},
    {8, 0b00101101, 44}, {8, 0b00000100, 45}, {8, 0b00000101, 46}, {8, 0b00001010, 47},
    {8, 0b00001011, 48}, {8, 0b01010010, 49}, {8, 0b01010011, 50}, {8, 0b01010100, 51},
    {8, 0b01010101, 52}, {8, 0b00100100, 53}, {8, 0b00100101, 54}, {8, 0b01011000, 55},
    {8, 0b01011001, 56}, {8, 0b01011010, 57}, {8, 0b01011011, 58}, {8, 0b01001010, 59},
    {8, 0b01001011, 60}, {8, 0b00110010, 61}, {8, 0b00110011, 62}, {8, 0b00110100, 63},
    {5, 0b11011, 64}, {5, 0b10010, 128}, {6, 0b010111, 192}, {7, 0b0110111, 256},
    {8, 0b00110110, 320}, {8, 0b00110111, 384}, {8, 0b01100100, 448}, {8, 0b01100101, 512},
    {8, 0b01101000, 576}, {8, 0b01100111, 640}, {9, 0b011001100, 704}, {9, 0b011001101, 768},
    {9, 0b011010010, 832}, {9, 0b011010011, 896}, {9, 0b011010100, 960}, {9, 0b011010101, 1024},
    {9, 0b011010110, 1088}, {9, 0b011010111, 1152}, {9, 0b011011000, 1216}, {9, 0b011011001, 1280},
    {9, 0b011011010, 1344}, {9, 0b011011011, 1408}, {9, 0b010011000, 1472}, {9, 0b010011001, 1536},
    {9, 0b010011010, 1600}, {6, 0b011000, 1664}, {9, 0b010011011, 1728},
};
const FaxCode kBlackCodes[] = {
    {10, 0b0000110111, 0}, {3, 0b010, 1}, {2, 0b11, 2}, {2, 0b10, 3},
    {3, 0b011, 4}, {4, 0b0011, 5}, {4, 0b0010, 6}, {5, 0b00011, 7},
    {6, 0b000101, 8}, {6, 0b000100, 9}, {7, 0b0000100, 10}, {7, 0b0000101, 11},
    {7, 0b0000111, 12}, {8, 0b00000100, 13}, {8, 0b00000111, 14}, {9, 0b000011000, 15},
    {10, 0b0000010111, 16}, {10, 0b0000011000, 17}, {10, 0b0000001000, 18}, {11, 0b00001100111, 19},
    {11, 0b00001101000, 20}, {11, 0b00001101100, 21}, {11, 0b00000110111, 22}, {11, 0b00000101000, 23},
    {11, 0b00000010111, 24}, {11, 0b00000011000, 25}, {12, 0b000011001010, 26}, {12, 0b000011001011, 27},
    {12, 0b000011001100, 28}, {12, 0b000011001101, 29}, {12, 0b000001101000, 30}, {12, 0b000001101001, 31},
    {12, 0b000001101010, 32}, {12, 0b000001101011, 33}, {12, 0b000011010010, 34}, {12, 0b000011010011, 35},
    {12, 0b000011010100, 36}, {12, 0b000011010101, 37}, {12, 0b000011010110, 38}, {12, 0b000011010111, 39},
    {12, 0b000001101100, 40}, {12, 0b000001101101, 41}, {12, 0b000011011010, 42}, {12, 0b000011011011, 43},
    {12, 0b000001010100, 44}, {12, 0b000001010101, 45}, {12, 0b000001010110, 46}, {12, 0b000001010111, 47},
    {12, 0b000001100100, 48}, {12, 0b000001100101, 49}, {12, 0b000001010010, 50}, {12, 0b000001010011, 51},
    {12, 0b000000100100, 52}, {12, 0b000000110111, 53}, {12, 0b000000111000, 54}, {12, 0b000000100111, 55},
    {12, 0b000000101000, 56}, {12, 0b000001011000, 57}, {12, 0b000001011001, 58}, {12, 0b000000101011, 59},
    {12, 0b000000101100, 60}, {12, 0b000001011010, 61}, {12, 0b000001100110, 62}, {12, 0b000001100111, 63},
    {10, 0b0000001111, 64}, {12, 0b000011001000, 128}, {12, 0b000011001001, 192}, {12, 0b000001011011, 256},
    {12, 0b000000110011, 320}, {12, 0b000000110100, 384}, {12, 0b000000110101, 448}, {13, 0b0000001101100, 512},
    {13, 0b0000001101101, 576}, {13, 0b0000001001010, 640}, {13, 0b0000001001011, 704}, {13, 0b0000001001100, 768},
    {13, 0b0000001001101, 832}, {13, 0b0000001110010, 896}, {13, 0b0000001110011, 960}, {13, 0b0000001110100, 1024},
    {13, 0b0000001110101, 1088}, {13, 0b0000001110110, 1152}, {13, 0b0000001110111, 1216}, {13, 0b0000001010010, 1280},
    {13, 0b0000001010011, 1344}, {13, 0b0000001010100, 1408}, {13, 0b0000001010101, 1472}, {13, 0b0000001011010, 1536},
    {13, 0b0000001011011, 1600}, {13, 0b0000001100100, 1664}, {13, 0b0000001100101, 1728},
};

enum : uint8_t { kBad = 0, kTerminating = 1, kMakeUp = 2 };

struct FaxEntry {
    uint16_t Run;
    uint8_t Length;
    uint8_t Kind;
};

// A lookup table indexed by the next `bits` bits of the stream: every index
// a code begins with holds that code; the others are bad codes.
template <uint32_t Bits>
struct FaxTable {
    FaxEntry Entry[1u << Bits] = {};
    FaxTable(const FaxCode* codes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const FaxCode& c = codes[i];
            const uint32_t shift = Bits - c.Length, base = (uint32_t)c.Bits << shift;
            for (uint32_t k = 0; k < (1u << shift); ++k) Entry[base + k] = {c.Run, c.Length, c.Run < 64 ? kTerminating : kMakeUp};
        }
    }
};

const FaxTable<9>& whiteTable() {
    static const FaxTable<9> t(kWhiteCodes, sizeof(kWhiteCodes) / sizeof(kWhiteCodes[0]));
    return t;
}
const FaxTable<13>& blackTable() {
    static const FaxTable<13> t(kBlackCodes, sizeof(kBlackCodes) / sizeof(kBlackCodes[0]));
    return t;
}

// One page: the bit stream (most significant bit first), the line being
// built (white until black runs are set in it) and the image rows.
struct FaxDecoder {
    const uint8_t* Data;
    uint64_t Bits;
    uint64_t Pos = 0;
    uint8_t* Line;
    uint32_t LineBytes;
    uint8_t* Out;
    uint32_t BytesPerRow;
    uint32_t Pixel = 0;
    uint32_t Lines = 0;
    bool Black = false;
    bool EndOfData = false;
    bool Stop = false;
    uint32_t EolRepeats = 0;

    // The next 16 bits, zeros past the end of the data.
    uint32_t Peek16() const {
        const uint64_t i = Pos >> 3;
        uint32_t w;
        if (i + 3 <= (Bits >> 3)) {
            w = (uint32_t)Data[i] << 16 | (uint32_t)Data[i + 1] << 8 | Data[i + 2];
        } else {
            w = 0;
            for (uint64_t k = 0; k < 3; ++k) w = w << 8 | (i + k < (Bits >> 3) ? Data[i + k] : 0);
        }
        return (w >> (8 - (Pos & 7))) & 0xFFFF;
    }

    void SetBlack(uint32_t p, uint32_t run) {
        const uint32_t end = p + run;
        for (; p < end && (p & 7); ++p) Line[p >> 3] |= (uint8_t)(0x80 >> (p & 7));
        const uint32_t whole = (end - p) >> 3;
        memset(Line + (p >> 3), 0xFF, whole);
        for (p += whole * 8; p < end; ++p) Line[p >> 3] |= (uint8_t)(0x80 >> (p & 7));
    }

    void DecodeLine() {
        const FaxTable<9>& white = whiteTable();
        const FaxTable<13>& black = blackTable();
        for (;;) {
            if (Pos >= Bits) {
                EndOfData = true;
                break;
            }
            const uint32_t w = Peek16();
            const FaxEntry& e = Black ? black.Entry[w >> 3] : white.Entry[w >> 7];
            // A bad code, or one cut by the end of the data, ends the line
            // where it stands; so does a run past the line end.
            if (e.Kind == kBad || Pos + e.Length > Bits || Pixel + e.Run > kLinePixels) break;
            Pos += e.Length;
            if (Black) SetBlack(Pixel, e.Run);
            Pixel += e.Run;
            if (e.Kind == kMakeUp) continue;
            Black = !Black;
            if (Pixel == kLinePixels) break;
        }
        FinishLine();
    }

    // Stores a line that has pixels, then looks for the next EOL.
    void FinishLine() {
        if (Pixel != 0) {
            memcpy(Out + (uint64_t)Lines * BytesPerRow, Line, BytesPerRow);
            memset(Line, 0, LineBytes);
            ++Lines;
        }
        Pixel = 0;
        Black = false;
        FindNextLine();
    }

    // Skips to the bits after an EOL (eleven or more zeros and a one; stray
    // bits are dropped). An EOL followed by eleven zeros is the start of
    // another; when EOLs follow each other directly a fourth time (the
    // return to control that ends a page), decoding stops.
    void FindNextLine() {
        uint32_t zeros = 0;
        bool eolBefore = false;
        for (;;) {
            if (Pos >= Bits) {
                EndOfData = true;
                return;
            }
            const uint32_t w = Peek16();
            if ((w & 0xFF00) == 0) {
                Pos += 8;
                zeros += 8;
                continue;
            }
            if (!(w & 0x8000)) {
                Pos += 1;
                zeros += 1;
                continue;
            }
            Pos += 1;
            if (zeros < 11) {
                zeros = 0;
                eolBefore = false;
                continue;
            }
            if (eolBefore && ++EolRepeats >= 4) {
                Stop = true;
                return;
            }
            if ((Peek16() >> 5) != 0 || Pos >= Bits) return;
            Pos += 11;
            zeros = 11;
            eolBefore = true;
        }
    }
};
}  // namespace

kxoFAXX::kxoFAXX(KXClass* lib) : KXIffModule(lib, "kxoFAXX", ".ABM", "FAXX") {
    InitOwn();
    Configure(nullptr);
}

void kxoFAXX::InitOwn() {
    memset(Fxhd, 0, sizeof(Fxhd));
    memset(Gphd, 0, sizeof(Gphd));
    Page = nullptr;
}

void kxoFAXX::Reset() {
    ReleaseFrame();
    FrameReset();
    if (Page) FreeVec(Page);
    InitOwn();
}

void kxoFAXX::LogLine(const char* text) {
    if (Log) Log->Log(5, "%-16s: %s\n", kTag, text);
}

uint32_t kxoFAXX::Save() { return KXERR_NOTSUPPORTED; }

uint32_t kxoFAXX::Load() {
    if (Page) FreeVec(Page);
    InitOwn();
    uint32_t e = StartLoad();
    if (e != KXERR_NONE) return e;
    auto fail = [&](uint32_t code) {
        if (Page) FreeVec(Page);
        Page = nullptr;
        return FailLoad(code);
    };
    LogLine("Parsing...");
    iffSetStopChunks(Iff, kStops, kStopCount);
    uint32_t err = KXERR_NONE;
    // A header chunk is read into its cleared record: longer than the
    // record is 14, cut short by the end of the file 29.
    auto readHeader = [&](uint8_t* record, uint32_t size, const IffChunk* c) {
        memset(record, 0, size);
        uint32_t code = KXERR_NONE;
        if (c->Size > size)
            code = KXERR_DECODE;
        else if (!iffReadRecord(Iff, record, c->Size))
            code = KXERR_EOF;
        if (code == KXERR_NONE)
            LogLine("...OK");
        else if (err == KXERR_NONE)
            err = code;
    };
    IffChunk* pageChunk = nullptr;
    while (IffChunk* c = iffParse(Iff)) {
        if (c->Size == 0) continue;
        const char* id = c->Id;
        if (iffIdIs(id, "FXHD")) {
            LogLine("FXHD...");
            readHeader(Fxhd, sizeof(Fxhd), c);
        } else if (iffIdIs(id, "GPHD")) {
            LogLine("GPHD...");
            readHeader(Gphd, sizeof(Gphd), c);
        } else if (iffIdIs(id, "PAGE")) {
            pageChunk = c;
            break;
        } else if (iffIsMetaChunk(id)) {
            iffReadMetaChunk(this, Iff, c, true);
        }
    }
    LogLine("Parsing finished.");
    if (err != KXERR_NONE) return fail(err);
    if (!pageChunk) return fail(KXERR_NOVIEWABLEDATA);
    if (Fxhd[8] > 1) return fail(KXERR_FILEREQUIREMENTS);

    // Narrower pages are shown 640 pixels wide (the first 640 of each line);
    // a page of unknown length gets the standard page length of its resolution.
    const uint32_t fxWidth = iffGet16(Fxhd), fxHeight = iffGet16(Fxhd + 2), resolution = iffGet16(Fxhd + 6);
    const uint32_t width = fxWidth >= kLinePixels ? fxWidth : 640;
    const uint32_t height = fxHeight == 0xFFFF ? (resolution == 385 ? 1160 : 2320) : fxHeight;
    if (height == 0) return fail(KXERR_FILEREQUIREMENTS);
    const uint32_t bpl = (width + 7) >> 3;
    uint32_t size;
    if ((e = KXSUP_CheckSize(&size, bpl, height))) return fail(e);

    // The page is decoded from what the file holds of the chunk.
    const uint32_t pageBytes = iffChunkAvailable(Iff);
    Page = static_cast<uint8_t*>(AllocVec(pageBytes ? pageBytes : 1, MEMF_ANY));
    if (!Page) return fail(KXERR_NOMEMORY);
    const long got = pageBytes ? iffReadChunkBytes(Iff, Page, pageBytes) : 0;
    const uint32_t have = got > 0 ? (uint32_t)got : 0;

    if ((e = NewLoadedBuffer(2, size, MEMF_CLEAR, BITPLANE, width, height, 1))) return fail(e);
    KX_GfxBuffer* b = LoadedBuffer;
    b->BytesPerLine = bpl;
    b->ViewMode = KXSUP_BestModeID(width, height, 1);
    memset(b->Palette, 255, 3);  // 0 white, 1 black

    const uint32_t lineBytes = bpl > kLinePixels / 8 ? bpl : kLinePixels / 8;
    uint8_t* line = static_cast<uint8_t*>(AllocVec(lineBytes, MEMF_CLEAR));
    if (!line) return fail(KXERR_NOMEMORY);
    FaxDecoder d{Page, (uint64_t)have * 8, 0, line, lineBytes, b->Data, bpl};
    // The first EOL, then line after line.
    d.FinishLine();
    d.Lines = 0;
    d.EndOfData = d.Stop = false;
    d.EolRepeats = 0;
    while (!d.EndOfData && !d.Stop && d.Lines < height) {
        if ((d.Lines & 7) == 0) ReportProgress((uint32_t)((uint64_t)d.Lines * 100 / height));
        d.DecodeLine();
    }
    FreeVec(line);
    FreeVec(Page);
    Page = nullptr;
    SubFormatId = SubFormatIds[0];
    KXSUP_AddGfxBufferFlags(b, KXGFXF_GRAY, 1);
    FinishRead();
    return KXERR_NONE;
}
