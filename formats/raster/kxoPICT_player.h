// kxoPICT_player: the QuickDraw picture interpreter behind kxoPICT. It reads
// version-1 (byte opcodes) and version-2 (word opcodes) pictures, keeps the
// drawing state of one picture, lets the pixel-map handlers
// (kxoPICT_pixmaps.cpp) and the drawing handlers (kxoPICT_drawing.cpp) paint
// into a canvas of 16-bit red, green and blue planes the size of the picture
// frame, skips every opcode it does not draw, and at the end opcode turns the
// canvas into a 24-bit image (with an 8-bit alpha map when a four-component
// direct pixel map was drawn).
//
// Each picture gets a state of its own. A failure deep inside the stream
// throws Failure, which Play catches at its entry: it records the code and
// logs one line, and nothing after it is read, drawn or stored. Every
// buffer lives in an owning holder, so that the unwinding frees it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "formats/raster/kxframe.h"

namespace kxpict {

// The error exit: Play turns it into its result and the log line
// "PICT Decode Error: <code> (<tag>)".
struct Failure {
    uint32_t Code;
    const char* Tag;
};
[[noreturn]] void Fail(uint32_t code, const char* tag);

// One line "pict: <text>" in the library's global log at level 9.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
template <class T>
using VecPtr = std::unique_ptr<T, VecDeleter>;
// A block of count elements of T, cleared or not; Fail(3, tag) when the
// size is beyond the library's limit or memory runs out.
template <class T>
VecPtr<T> Alloc(uint64_t count, bool clear, const char* tag) {
    uint32_t size = 0;
    if (KXSUP_CheckSize(&size, count, sizeof(T)) != KXERR_NONE || size == 0) Fail(3, tag);
    T* p = static_cast<T*>(AllocVec(size, clear ? MEMF_CLEAR : MEMF_ANY));
    if (!p) Fail(3, tag);
    return VecPtr<T>(p);
}

struct Colour {
    uint16_t R = 0, G = 0, B = 0;
    bool operator==(const Colour& o) const { return R == o.R && G == o.G && B == o.B; }
    bool IsBlack() const { return R == 0 && G == 0 && B == 0; }
    bool IsWhite() const { return R == 0xFFFF && G == 0xFFFF && B == 0xFFFF; }
};

// Picture coordinates: x to the right, y downwards, words read as signed.
struct Rect {
    int32_t Top = 0, Left = 0, Bottom = 0, Right = 0;
};
Rect Intersect(const Rect& a, const Rect& b);

// The transfer operations of the pen, text and pixel-map modes.
enum class Transfer {
    SrcCopy, SrcOr, SrcXor, SrcBic, NotSrcCopy, NotSrcOr, NotSrcXor, NotSrcBic,
    Blend, AddPin, AddOver, SubPin, Transparent, AddMax, SubOver, AddMin,
};
Transfer SelectTransfer(uint32_t mode);

// The built-in bitmap font.
struct Glyph {
    uint8_t Code, Width, Height;
    int8_t XOffset, YOffset;
    uint8_t Advance;
    uint16_t Rows[12];  // bit (Width - 1 - c) of a row is column c
    bool Ink(uint32_t c, uint32_t r) const { return (Rows[r] >> (Width - 1 - c)) & 1; }
};
// The glyph of a character code, or null for a code without one.
const Glyph* FontGlyph(uint8_t code);

// Buffered reading from the picture file; every read and skip counts the
// bytes consumed since the start of the file (the leading block included),
// which keeps version-2 opcodes on even positions.
class Input {
public:
    explicit Input(FILE* file) : File(file) {}
    uint8_t Byte();                      // Fail(14, "read-1") at the end
    uint16_t Word();
    uint32_t Long();
    int32_t SignedWord() { return (int16_t)Word(); }
    Rect ReadRect();                     // top, left, bottom, right
    void ReadPoint(int32_t* x, int32_t* y);  // v, then h
    void Block(void* out, uint64_t n);   // exactly n bytes, or Fail(14, "read-2")
    void Skip(uint64_t n);               // past the end is allowed
    uint64_t Consumed() const { return Pos; }
    // Back (or on) to a position counted as Consumed counts it: a row read
    // once is read again another way.
    void Rewind(uint64_t position) { Pos = position; }
    // What is left of the file after the current position (0 past its end).
    uint64_t Remaining();

private:
    bool Refill();
    FILE* File;
    uint8_t Buf[65536];
    uint64_t BufStart = 0;  // file position of Buf[0]
    size_t BufLen = 0;
    uint64_t Pos = 0;
    int64_t Size = -1;
};

class Player {
public:
    Player(KXObject* module, FILE* file);
    // Runs one picture; the image goes to the module's LoadedBuffer.
    uint32_t Play();

    // ---- state shared with the handlers ----
    KXObject* Module;
    Input In;
    int Version = 2;
    Rect Frame;
    uint32_t Width = 0, Height = 0;  // canvas, from the frame as 16-bit values
    VecPtr<uint16_t> Red, Green, Blue, Alpha;
    Rect Clip;
    int32_t PenH = 1, PenW = 1;
    uint32_t PenMode = 0, TextMode = 0;
    Transfer PenTransfer = Transfer::SrcCopy, TextTransfer = Transfer::SrcCopy;
    uint8_t PenPat[64], FillPat[64], BkPat[64];
    Colour Fore{0, 0, 0}, Back{0xFFFF, 0xFFFF, 0xFFFF}, Op{0xFFFF, 0xFFFF, 0xFFFF};
    int32_t PenX = 0, PenY = 0;
    Rect LastRect;
    uint32_t TextFont = 0, TextFace = 0, TextSize = 0;
    bool Rotated = false, CentreApplied = false;
    uint32_t Rotation = 0;
    int32_t CentreX = 0, CentreY = 0;
    // Pen pixels painted so far: a picture that would paint more than its
    // budget (a huge pen traced over and over) is refused, not drawn for hours.
    uint64_t PenWork = 0, PenBudget = 0;
    // Whether anything reached the canvas: a picture that paints nothing is
    // its frame alone, and a frame of more than BlankLimit bytes from such
    // a picture is refused rather than handed out as a sea of white.
    bool Painted = false;
    static constexpr uint64_t BlankLimit = uint64_t(64) << 20;

    // The planes hold each sample inverted, so that a fresh cleared block,
    // which costs no memory until it is written, is a white (and opaque)
    // canvas.
    Colour At(size_t i) const {
        return Colour{(uint16_t)~Red.get()[i], (uint16_t)~Green.get()[i], (uint16_t)~Blue.get()[i]};
    }
    void Store(size_t i, const Colour& c) {
        Red.get()[i] = (uint16_t)~c.R;
        Green.get()[i] = (uint16_t)~c.G;
        Blue.get()[i] = (uint16_t)~c.B;
    }
    void StoreAlpha(size_t i, uint16_t a) { Alpha.get()[i] = (uint16_t)~a; }
    // Combines a source colour into the canvas colour at a canvas index.
    void Combine(size_t index, const Colour& src, Transfer t);
    // The canvas index of a picture point, or false when it lies off the canvas.
    bool CanvasIndex(int32_t x, int32_t y, size_t* index) const;
    void MakeAlphaPlane();

private:
    uint32_t PlayPicture();
    void MakeCanvas();
    void StoreCanvas();
    void HandleOpcode(uint32_t op);
    void HandleComment(uint32_t kind, uint32_t length);
    void SkipShape();
    uint32_t NextOpcode();
};

// Handlers in kxoPICT_pixmaps.cpp.
void DrawBitsRect(Player& p, bool region);  // 0x90, 0x98 (false) and 0x91, 0x99 (true)
void DrawDirectBits(Player& p);             // 0x9A
void SkipPixPat(Player& p);                 // 0x12, 0x13, 0x14

// Handlers in kxoPICT_drawing.cpp.
void Line(Player& p);
void LineFrom(Player& p);
void ShortLine(Player& p);
void ShortLineFrom(Player& p);
void FrameRect(Player& p, bool same);
void PaintRect(Player& p, bool same);
void PaintPoly(Player& p);
void Text(Player& p, uint32_t op);  // 0x28 to 0x2B

}  // namespace kxpict
