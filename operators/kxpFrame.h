// kxpFrame: the shared frame of the image operators. It sits between
// KXOperator and every operator class and holds what they all do alike:
// Reset, DetachResult, SetProgress and OperateTags; the three input checks
// (any depth, true colour only, palette only) with the chunky copy of
// bit-plane input; the 48-bit byte-order step; the 8-bit alpha map; the
// result record copied from the work image with the alpha and flag
// carry-over; row progress; and a typed reader for control-pad keys.
//
// An operator class derives from kxpFrame, passes its class name to the
// constructor (the catalogue supplies pad name, description and
// capability word) and overrides OperateTagList only.
#pragma once

#include <cstdint>

#include "kxlib.h"

// Buffers the front end may hand to the paste operator by address. The
// address travels as text in a settings list, so only buffers registered
// here are ever dereferenced; anything else is refused. Process-wide and
// thread-safe; registering twice is harmless, unregistering an unknown
// buffer does nothing.
void KX_RegisterPasteBuffer(KX_GfxBuffer* buffer);
void KX_UnregisterPasteBuffer(KX_GfxBuffer* buffer);
bool KX_IsPasteBufferRegistered(const void* address);

// Bytes per chunky pixel of a work image: 1 up to 8 bits, 3 for 24, 6 for 48.
inline uint32_t KXP_BytesPerPixel(const KX_GfxBuffer* b) { return b->ColorDepth <= 8 ? 1u : b->ColorDepth == 24 ? 3u : 6u; }

// Reads an operator's keys: the pad named by the operator's pad path in its
// settings list, else the pad file at that path (loaded once for the
// reader's lifetime and freed with it). Every getter leaves its default
// when the key is missing, has no value or does not parse.
class KXPKeyReader {
public:
    // noCase: keys compared without regard to case.
    KXPKeyReader(KXOperator* op, bool noCase);
    ~KXPKeyReader();
    KXPKeyReader(const KXPKeyReader&) = delete;
    KXPKeyReader& operator=(const KXPKeyReader&) = delete;

    // The key is present (with or without a value).
    bool Has(const char* key) const;
    // The value text, or null when missing or without a value.
    const char* Text(const char* key) const;
    // atol on a 32-bit long: leading blanks, sign, digits; out of range
    // saturates; no digits gives 0.
    int32_t Long(const char* key, int32_t def) const;
    // The same number taken as unsigned 32 bits ("-3" gives 0xFFFFFFFD).
    uint32_t ULong(const char* key, uint32_t def) const;
    // A palette depth in bits, 1 to 8: missing gives 8, 0 gives 1, above 8
    // (a negative number too, taken as unsigned) gives 8.
    uint32_t Depth(const char* key) const;
    // sscanf "%lf", independent of the locale; "inf" and "nan" parse too,
    // so callers that cannot use them test std::isfinite.
    double Real(const char* key, double def, bool* parsed = nullptr) const;
    // Case-insensitive switch word: the index of the word in words, else def.
    int Word(const char* key, const char* const* words, int count, int def) const;
    // sscanf "%lx" of the text after a required "0x" prefix; 32 bits.
    uint32_t HexColor(const char* key, uint32_t def) const;

private:
    KX_ControlPad* Chain = nullptr;
    KX_ControlPad* Loaded = nullptr;  // owned when the pad file was read
    bool NoCase = false;
};

// Text helpers shared with the key reader (exposed for the tests).
int32_t KXP_ParseLong(const char* text);
bool KXP_ParseReal(const char* text, double* out);
bool KXP_ParseHex(const char* text, uint64_t* out);

class kxpFrame : public KXOperator {
public:
    // Applies the catalogue registration of className and loads the
    // operator's own control pad.
    kxpFrame(KXClass* lib, const char* className);
    ~kxpFrame() override;

    void Reset() override;
    uint32_t OperateTags(KX_GfxBuffer* source, KX_GfxBuffer** result, ...) override;
    uint32_t DetachResult(KX_GfxBuffer** buffer) override;
    uint32_t SetProgress(KXProgressHook hook, uintptr_t user) override;

protected:
    // ---- input checks: the first failing test decides the code ----
    // Any depth. smallCode, when not 0, is returned right after the depth
    // test for a source narrower or lower than 2 pixels. *work is the
    // source, or its chunky copy (kept in Scratch1) for bit planes.
    uint32_t InputAnyDepth(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** work, uint32_t smallCode = 0, bool refuseHam = true);
    // 24 or 48 bits (24 only with only24), chunky. *work is the source.
    uint32_t InputTrueColour(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** work, bool only24 = false);
    // 1 to 8 bits, HAM refused, bit planes converted.
    uint32_t InputPalette(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** work);
    // InputAnyDepth, then FetchAlphaMap8.
    uint32_t InputWithAlpha(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** work);

    // 48-bit work images are brought to host order in place (the one change
    // an operator makes to its source). Other depths: 0.
    uint32_t MakeHostOrder(KX_GfxBuffer* work);
    // Fetches the 8-bit alpha map of a true-colour work image into
    // AlphaMap8. 0 with or without a map; 3 only when memory runs out.
    uint32_t FetchAlphaMap8(KX_GfxBuffer* work);

    // ---- the result record ----
    // A new record copied from the work image with Version 2 (NativeDIPF
    // cleared for work images below version 2). Pixel and alpha pointers
    // of the copy are cleared: they belong to the work image. Becomes
    // Result; the operator sets *result once its run has succeeded.
    uint32_t NewResult(const KX_GfxBuffer* work);
    // Gives the result a pixel buffer of the work image's buffer size with
    // the bytes past its rows cleared; the rows are the operator's to fill.
    uint32_t AllocSameSizePixels(KX_GfxBuffer* result, const KX_GfxBuffer* work);
    // NewResult, then AllocSameSizePixels on it.
    uint32_t NewSameSizeResult(const KX_GfxBuffer* work);
    // The prologue of an operator whose result has the work image's size
    // and depth: InputWithAlpha, then NewSameSizeResult; the first failure
    // decides the code. With map, an alpha map of width*height is then attached to the
    // result when the work image has one (*map stays null without).
    uint32_t BeginSameSize(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** work, uint8_t** map = nullptr);
    // Frees Result (after a failure that must not leave it held).
    void DropResult();
    // Attaches a new 8-bit map of the result's size (owned by the result).
    void AttachAlphaMap(KX_GfxBuffer* result, uint8_t* map);
    // Transparent index or alpha table of a palette work image.
    uint32_t CarryAlpha(KX_GfxBuffer* result, const KX_GfxBuffer* work);
    // Byte-order mark of a 48-bit result, then the flag bits carried from
    // the source (KXGFXF_GRAY, KXGFXF_SRC8BIT, KXGFXF_SRCLOWDEPTH).
    void MarkResult(KX_GfxBuffer* result, const KX_GfxBuffer* work, const KX_GfxBuffer* source, uint32_t carriedFlags);
    static constexpr uint32_t CarryGray = KXGFXF_GRAY;
    static constexpr uint32_t CarryAll = KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_SRCLOWDEPTH;

    // Progress before rows 0, 8, 16, ...: Percent = row * 100 / rows.
    void RowProgress(uint64_t row, uint64_t rows)
    {
        if ((row & 7) == 0 && ProgressHook && rows) ReportProgress(static_cast<uint32_t>(row * 100 / rows));
    }
    // Pointer to row y of a chunky image.
    static uint8_t* Row(const KX_GfxBuffer* b, uint32_t y, uint32_t bpp) { return b->Data + static_cast<size_t>(y) * b->Width * bpp; }

    // Log a refusal under the operator's class name.
    void LogLine(const char* text);

private:
    uint32_t BeginRun(KX_GfxBuffer* source, KX_GfxBuffer** result);
    uint32_t ConvertBitPlanes(KX_GfxBuffer* source, KX_GfxBuffer** work);
    uint32_t ChunkyWork(KX_GfxBuffer* source, KX_GfxBuffer** work);
    static uint32_t CheckChunky(const KX_GfxBuffer* work);

    const char* ClassName;
    // An undetached result that the caller passed back in as the next
    // source: it must outlive that run, so it is freed at Reset.
    KX_GfxBuffer* Retired = nullptr;
};
