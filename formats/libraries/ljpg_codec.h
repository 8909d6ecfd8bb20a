// ljpg_codec: the lossless JPEG coder and decoder of the LJPG module: the
// predictive process of ITU-T T.81 (Annex H) with Huffman coding, frame
// type SOF3. The encoder takes an interleaved picture of 8-bit samples,
// tries the candidate predictors, keeps the one with the shortest coded
// size together with its optimal Huffman tables (Annex K.2, K.3) and writes
// the whole file. The decoder reads the headers (frames SOF0, SOF1 and SOF3
// read alike, DHT, DRI, other segments passed over), then decodes one scan
// of 1 to 4 interleaved components of 2 to 16 bits with restart intervals
// of whole rows, and hands each reconstructed row to the caller.
// Each run keeps all of its state in its own record; the codec reports
// through the caller's message routine and never reads or writes outside
// its tables, rows and buffers, whatever the input holds.
#pragma once

#include <cstddef>
#include <cstdint>

// A text for the caller's log; user is handed back unchanged.
typedef void (*LjpgMessage)(void* user, const char* text);
// The next bytes of the file: the count read (0 at its end).
typedef size_t (*LjpgRead)(void* user, uint8_t* buffer, size_t count);
// Bytes of the file to write: false when they could not be written.
typedef bool (*LjpgWrite)(void* user, const uint8_t* data, size_t count);
// A reconstructed row: width x components samples of the scan, interleaved,
// as coded (before the point transform's left shift), modulo 2^16.
typedef void (*LjpgRow)(void* user, uint32_t row, const uint16_t* samples);

// Results of the codec's entry points.
enum : uint32_t {
    LJPG_OK = 0,
    LJPG_ERROR = 1,        // a coding error; its message went to the routine
    LJPG_NO_MEMORY = 2,    // a table or row could not be allocated
    LJPG_WRITE_FAILED = 3, // the write routine refused bytes
};

// One Huffman table as a DHT segment carries it.
struct LjpgHuffman {
    uint8_t Counts[17];  // codes of each length 1..16 (entry 0 unused)
    uint8_t Symbols[256];
    bool Defined;
};

// ---- encoder ----------------------------------------------------------------
struct LjpgEncoder {
    // The picture: Width x Height pixels of Components (1..4) 8-bit samples,
    // interleaved, rows of Width x Components bytes.
    const uint8_t* Pixels = nullptr;
    uint32_t Width = 0, Height = 0, Components = 0;
    // Rows between restart markers (0: none).
    uint32_t RestartRows = 0;
    // The predictors to try, in order (1..7); ties keep the earlier one.
    uint8_t Candidates[7] = {1, 2, 3, 4, 5, 6, 7};
    uint32_t CandidateCount = 7;
    LjpgMessage Message = nullptr;
    LjpgWrite Write = nullptr;
    void* User = nullptr;

    // Chosen by LjpgPlan: the predictor and one table per component.
    uint32_t Psv = 0;
    LjpgHuffman Tables[4] = {};
    uint64_t CodedBits = 0;  // entropy-coded size with the chosen tables
};

// Checks the picture (sides up to 65535, the restart interval), counts the
// differences of every candidate predictor and builds the tables of the
// shortest. Writes nothing.
uint32_t LjpgPlan(LjpgEncoder* e);
// Writes the file for the plan: SOI, SOF3, the tables, DRI when restarts
// are set, SOS, the entropy-coded data and EOI.
uint32_t LjpgEncode(LjpgEncoder* e);

// ---- decoder ----------------------------------------------------------------
struct LjpgDecoderState;

struct LjpgDecoder {
    LjpgRead Read = nullptr;
    LjpgMessage Message = nullptr;
    void* User = nullptr;

    // The frame and the scan, as the headers give them.
    uint32_t Width = 0, Height = 0, Precision = 0;
    uint32_t ScanComponents = 0;  // 1..4
    uint32_t Psv = 0, Pt = 0;
    uint32_t RestartInterval = 0;  // in samples of a row (MCUs)

    LjpgDecoderState* State = nullptr;  // tables, input, rows; freed by LjpgDecoderEnd
};

// SOI, then the segments up to the frame header.
uint32_t LjpgReadFileHeader(LjpgDecoder* d);
// The segments up to a scan header and that header: *found is false when
// the file ends (EOI) or another marker comes first.
uint32_t LjpgReadScanHeader(LjpgDecoder* d, bool* found);
// Checks the scan against the frame, derives the decoding tables and
// allocates the rows.
uint32_t LjpgDecodeInit(LjpgDecoder* d);
// Decodes the scan, handing every row to the routine in order. Rows after
// the data has ended (the file, or a restart interval, cut short) are not
// handed over: the caller's picture keeps what it held for them.
uint32_t LjpgDecodeImage(LjpgDecoder* d, LjpgRow row, void* user);
// Frees what the decoder holds; safe to call at any point and again.
void LjpgDecoderEnd(LjpgDecoder* d);
