// kxoPICT_player: the QuickDraw picture interpreter (see kxoPICT_player.h).
#include "formats/raster/kxoPICT_player.h"

#include <cstdarg>
#include <cstring>

namespace kxpict {

void Fail(uint32_t code, const char* tag) { throw Failure{code, tag}; }

void Log(const char* format, ...) {
    KXLog* log = __kxlib_log_global;
    if (!log || !log->File || log->Level < 9) return;  // formatting costs more than the line is worth
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    log->Log(9, "%-16s: %s\n", "pict", text);
}

Rect Intersect(const Rect& a, const Rect& b) {
    Rect r;
    r.Top = a.Top > b.Top ? a.Top : b.Top;
    r.Left = a.Left > b.Left ? a.Left : b.Left;
    r.Bottom = a.Bottom < b.Bottom ? a.Bottom : b.Bottom;
    r.Right = a.Right < b.Right ? a.Right : b.Right;
    return r;
}

Transfer SelectTransfer(uint32_t mode) {
    static const Transfer low[8] = {Transfer::SrcCopy,    Transfer::SrcOr,    Transfer::SrcXor,    Transfer::SrcBic,
                                    Transfer::NotSrcCopy, Transfer::NotSrcOr, Transfer::NotSrcXor, Transfer::NotSrcBic};
    static const Transfer high[8] = {Transfer::Blend,       Transfer::AddPin, Transfer::AddOver, Transfer::SubPin,
                                     Transfer::Transparent, Transfer::AddMax, Transfer::SubOver, Transfer::AddMin};
    if (mode < 8) return low[mode];
    if (mode >= 32 && mode < 40) return high[mode - 32];
    return Transfer::SrcCopy;
}

// ---- Input ----------------------------------------------------------------------

bool Input::Refill() {
    if (fseeko(File, (off_t)Pos, SEEK_SET) != 0) return false;
    BufStart = Pos;
    BufLen = fread(Buf, 1, sizeof(Buf), File);
    return BufLen > 0;
}

uint8_t Input::Byte() {
    if ((Pos < BufStart || Pos >= BufStart + BufLen) && !Refill()) Fail(14, "read-1");
    return Buf[Pos++ - BufStart];
}

uint16_t Input::Word() {
    uint16_t hi = Byte();
    return (uint16_t)(hi << 8 | Byte());
}

uint32_t Input::Long() {
    uint32_t hi = Word();
    return hi << 16 | Word();
}

Rect Input::ReadRect() {
    Rect r;
    r.Top = SignedWord();
    r.Left = SignedWord();
    r.Bottom = SignedWord();
    r.Right = SignedWord();
    return r;
}

void Input::ReadPoint(int32_t* x, int32_t* y) {
    *y = SignedWord();
    *x = SignedWord();
}

void Input::Block(void* out, uint64_t n) {
    uint8_t* d = static_cast<uint8_t*>(out);
    while (n) {
        if ((Pos < BufStart || Pos >= BufStart + BufLen) && !Refill()) Fail(14, "read-2");
        size_t have = (size_t)(BufStart + BufLen - Pos);
        size_t k = have < n ? have : (size_t)n;
        memcpy(d, Buf + (Pos - BufStart), k);
        d += k;
        Pos += k;
        n -= k;
    }
}

void Input::Skip(uint64_t n) {
    // Lazily: the next read seeks; a position past the end fails there.
    if (n > UINT64_MAX / 2 - Pos) Fail(14, "seek-1");
    Pos += n;
}

uint64_t Input::Remaining() {
    if (Size < 0) {
        const off_t here = ftello(File);
        if (fseeko(File, 0, SEEK_END) != 0) return 0;
        Size = (int64_t)ftello(File);
        fseeko(File, here, SEEK_SET);
        BufLen = 0;  // the stream moved: read anew
    }
    return (uint64_t)Size > Pos ? (uint64_t)Size - Pos : 0;
}

// ---- Player ---------------------------------------------------------------------

Player::Player(KXObject* module, FILE* file) : Module(module), In(file) {
    memset(PenPat, 1, sizeof(PenPat));
    memset(FillPat, 1, sizeof(FillPat));
    memset(BkPat, 1, sizeof(BkPat));
}

uint32_t Player::Play() {
    try {
        return PlayPicture();
    } catch (const Failure& f) {
        Log("PICT Decode Error: %ld (%s)", (long)f.Code, f.Tag);
        return f.Code;
    }
}

bool Player::CanvasIndex(int32_t x, int32_t y, size_t* index) const {
    const int64_t cx = (int64_t)x - Frame.Left, cy = (int64_t)y - Frame.Top;
    if (cx < 0 || cy < 0 || cx >= Width || cy >= Height) return false;
    *index = (size_t)cy * Width + (size_t)cx;
    return true;
}

void Player::Combine(size_t i, const Colour& s, Transfer t) {
    const Colour d = At(i);
    Colour r = d;
    auto each = [&](auto f) {
        r.R = (uint16_t)f(s.R, d.R, Op.R);
        r.G = (uint16_t)f(s.G, d.G, Op.G);
        r.B = (uint16_t)f(s.B, d.B, Op.B);
    };
    switch (t) {
    case Transfer::SrcCopy: r = s.IsBlack() ? Fore : Back; break;
    case Transfer::SrcOr: if (s.IsBlack()) r = Fore; break;
    case Transfer::SrcXor: each([](uint32_t a, uint32_t b, uint32_t) { return (b ^ ~a) & 0xFFFF; }); break;
    case Transfer::SrcBic: if (s.IsBlack()) r = Back; break;
    case Transfer::NotSrcCopy: if (s.IsWhite()) r = Fore; else if (s.IsBlack()) r = Back; break;
    case Transfer::NotSrcOr: if (s.IsWhite()) r = Fore; break;
    case Transfer::NotSrcXor: each([](uint32_t a, uint32_t b, uint32_t) { return b ^ a; }); break;
    case Transfer::NotSrcBic: if (s.IsWhite()) r = Back; break;
    case Transfer::Blend:
        each([](uint32_t a, uint32_t b, uint32_t op) { return a * op / 65536 + b * (65536 - op) / 65536; });
        break;
    case Transfer::AddPin: each([](uint32_t a, uint32_t b, uint32_t op) { return a + b > op ? op : a + b; }); break;
    case Transfer::AddOver: each([](uint32_t a, uint32_t b, uint32_t) { return (a + b) & 0xFFFF; }); break;
    case Transfer::SubPin:
        each([](uint32_t a, uint32_t b, uint32_t op) { return (int32_t)b - (int32_t)a < (int32_t)op ? op : b - a; });
        break;
    case Transfer::Transparent: if (!(s == Back)) r = s; break;
    case Transfer::AddMax: each([](uint32_t a, uint32_t b, uint32_t) { return a > b ? a : b; }); break;
    case Transfer::SubOver: each([](uint32_t a, uint32_t b, uint32_t) { return (b - a) & 0xFFFF; }); break;
    case Transfer::AddMin: each([](uint32_t a, uint32_t b, uint32_t) { return a < b ? a : b; }); break;
    }
    Store(i, r);
}

// Planes of width x height samples with some spare ones after them, all
// white (alpha: opaque). A frame whose right lies left of its left (or
// bottom above top) would wrap to a huge canvas, and one whose picture
// could not be stored is refused before anything is drawn.
void Player::MakeCanvas() {
    if (Frame.Right < Frame.Left || Frame.Bottom < Frame.Top) Fail(3, "plane-alloc");
    Width = (uint16_t)(Frame.Right - Frame.Left);
    Height = (uint16_t)(Frame.Bottom - Frame.Top);
    Clip = Frame;
    uint32_t picture = 0;
    if (KXSUP_CheckSize(&picture, Width, Height, 3) != KXERR_NONE) Fail(3, "plane-alloc");
    const uint64_t samples = ((uint64_t)Width - Width % 32 + 32) * Height + 1;
    for (VecPtr<uint16_t>* plane : {&Red, &Green, &Blue}) *plane = Alloc<uint16_t>(samples, true, "plane-alloc");
    PenBudget = (uint64_t)Width * Height * 16 + (1u << 26);  // sixteen coats of the whole canvas, and some
}

void Player::MakeAlphaPlane() {
    if (Alpha) return;
    const uint64_t samples = ((uint64_t)Width - Width % 32 + 32) * Height + 1;
    Alpha = Alloc<uint16_t>(samples, true, "alpha-alloc");
}

void Player::StoreCanvas() {
    Log("output_ppm-begin");
    if (Width == 0) Fail(14, "gfxb-1");
    if (Height == 0) Fail(14, "gfxb-2");
    if (!Red) Fail(14, "gfxb-3");
    if (!Green) Fail(14, "gfxb-4");
    if (!Blue) Fail(14, "gfxb-5");
    if (!Painted && (uint64_t)Width * Height * 3 > BlankLimit) Fail(14, "gfxb-blank");
    KX_GfxBuffer* img = nullptr;
    if (KXF_NewImage(&img, ONEPLANE, Width, Height, 24, 24, false) != KXERR_NONE) Fail(3, "gfxb-6");
    // Held here until it is handed over, so that nothing can leak it.
    struct Holder {
        KX_GfxBuffer* B;
        ~Holder() { KXSUP_FreeGfxBuffer(B); }
    } hold{img};
    const uint16_t *r = Red.get(), *g = Green.get(), *b = Blue.get();
    for (uint32_t y = 0; y < Height; ++y) {
        uint8_t* d = img->Data + (size_t)y * Width * 3;
        const size_t row = (size_t)y * Width;
        for (uint32_t x = 0; x < Width; ++x) {
            d[3 * x] = (uint8_t)((uint16_t)~r[row + x] >> 8);
            d[3 * x + 1] = (uint8_t)((uint16_t)~g[row + x] >> 8);
            d[3 * x + 2] = (uint8_t)((uint16_t)~b[row + x] >> 8);
        }
        if (Module->ProgressHook && ((y & 7) == 7 || y + 1 == Height))
            KXF_Progress(Module, (uint32_t)((uint64_t)(y + 1) * 100 / Height));
    }
    Red.reset();
    Green.reset();
    Blue.reset();
    if (Alpha) {
        if (KXF_AttachAlpha8(img) == KXERR_NONE) {
            uint8_t* a = KXSUP_AlphaBytes(img);
            const size_t n = (size_t)Width * Height;
            for (size_t i = 0; i < n; ++i) a[i] = (uint8_t)((uint16_t)~Alpha.get()[i] >> 8);
        } else {
            Log("failed to allocate gfxb-alpha");
        }
        Alpha.reset();
    }
    if (Module->LoadedBuffer) KXSUP_FreeGfxBuffer(Module->LoadedBuffer);
    Module->LoadedBuffer = img;
    hold.B = nullptr;
    Log("output_ppm-end");
}

uint32_t Player::NextOpcode() {
    if (Version == 1) return In.Byte();
    if (In.Consumed() & 1) In.Skip(1);
    return In.Word();
}

void Player::SkipShape() {
    const uint32_t size = In.Word();
    if (size == 1 || size == 2) In.Skip(size);
    else if (size > 2) In.Skip(size - 2);
}

void Player::HandleComment(uint32_t kind, uint32_t length) {
    if (kind == 150 && length >= 6) {  // text begins
        In.Byte();                      // justification
        In.Byte();                      // flip
        Rotation = In.Word();
        In.Byte();                      // line spacing
        length -= 5;
        Rotated = true;
        CentreApplied = false;
    } else if (kind == 151) {  // text ends
        Rotated = false;
    } else if (kind == 154 && length >= 8) {  // text centre
        CentreY = In.SignedWord();
        In.Skip(2);
        CentreX = In.SignedWord();
        In.Skip(2);
        length -= 8;
    }
    In.Skip(length);
}

namespace {

// Data lengths of the opcodes up to 0xA1 that are skipped; -1: a length
// word follows, then that many bytes. Opcodes with handlers are not here.
int32_t skipLength(uint32_t op) {
    switch (op) {
    case 0x06: case 0x0B: case 0x0C: case 0x0E: case 0x0F: return 4;
    case 0x10: return 8;
    case 0x11: return 1;
    case 0x16: return 2;
    case 0x1D: return 6;
    default: break;
    }
    if ((op >= 0x24 && op <= 0x27) || (op >= 0x2C && op <= 0x2F) || (op >= 0x92 && op <= 0x97) || (op >= 0x9B && op <= 0x9F))
        return -1;
    if ((op >= 0x32 && op <= 0x37) || (op >= 0x40 && op <= 0x47) || (op >= 0x50 && op <= 0x57)) return 8;
    if (op >= 0x60 && op <= 0x67) return 12;
    if (op >= 0x68 && op <= 0x6F) return 4;
    return 0;
}

void readPattern(Input& in, uint8_t* pattern) {
    for (int r = 0; r < 8; ++r) {
        const uint8_t b = in.Byte();
        for (int c = 0; c < 8; ++c) pattern[r * 8 + c] = (b >> (7 - c)) & 1;
    }
}

Colour readColour(Input& in) {
    Colour c;
    c.R = in.Word();
    c.G = in.Word();
    c.B = in.Word();
    return c;
}

uint32_t modeNumber(uint32_t m) { return m >= 8 && m <= 14 ? m - 8 : m; }

}  // namespace

void Player::HandleOpcode(uint32_t op) {
    if (op > 0xA1) {
        if (op == 0x0C00) {
            Log("header skipped");
            In.Skip(24);
        } else if (op <= 0xAF) {
            In.Skip(In.Word());
        } else if (op <= 0xCF) {
            Log("reserved opcode grp 1: %lx", (unsigned long)op);
        } else if (op <= 0xFE) {
            const uint32_t n = In.Long();
            Log("reserved opcode grp 2: %lx", (unsigned long)op);
            In.Skip(n);
        } else if (op <= 0x7FFF) {
            Log("reserved opcode grp 3: %lx", (unsigned long)op);
            In.Skip((op >> 7) & 0xFF);
        } else if (op <= 0x80FF) {
            Log("reserved opcode grp 4: %lx", (unsigned long)op);
        } else {
            const uint32_t n = In.Long();
            Log("reserved opcode grp 5: %lx", (unsigned long)op);
            In.Skip(n);
        }
        return;
    }
    switch (op) {
    case 0x01: {  // Clip: a rectangle region is taken, others passed over
        const uint32_t size = In.Word();
        if (size == 10) Clip = In.ReadRect();
        else if (size > 2) In.Skip(size - 2);
        break;
    }
    case 0x02: readPattern(In, BkPat); break;
    case 0x03: TextFont = In.Word(); break;
    case 0x04: TextFace = In.Byte(); break;
    case 0x05:
        TextMode = modeNumber(In.Word());
        TextTransfer = SelectTransfer(TextMode & ~0x40u);
        break;
    case 0x07:
        PenH = In.SignedWord();
        PenW = In.SignedWord();
        break;
    case 0x08:  // the mode keeps bit 0x40, which selects srcCopy
        PenMode = modeNumber(In.Word());
        PenTransfer = SelectTransfer(PenMode);
        break;
    case 0x09: readPattern(In, PenPat); break;
    case 0x0A: readPattern(In, FillPat); break;
    case 0x0D: TextSize = In.Word(); break;
    case 0x12: case 0x13: case 0x14: SkipPixPat(*this); break;
    case 0x15: In.Word(); break;
    case 0x1A: Fore = readColour(In); break;
    case 0x1B: Back = readColour(In); break;
    case 0x1F: Op = readColour(In); break;
    case 0x20: Line(*this); break;
    case 0x21: LineFrom(*this); break;
    case 0x22: ShortLine(*this); break;
    case 0x23: ShortLineFrom(*this); break;
    case 0x28: case 0x29: case 0x2A: case 0x2B: Text(*this, op); break;
    case 0x30: FrameRect(*this, false); break;
    case 0x31: PaintRect(*this, false); break;
    case 0x38: FrameRect(*this, true); break;
    case 0x39: PaintRect(*this, true); break;
    case 0x71: PaintPoly(*this); break;
    case 0x90: case 0x98: DrawBitsRect(*this, false); break;
    case 0x91: case 0x99: DrawBitsRect(*this, true); break;
    case 0x9A: DrawDirectBits(*this); break;
    case 0xA0: HandleComment(In.Word(), 0); break;
    case 0xA1: {
        const uint32_t kind = In.Word();
        HandleComment(kind, In.Word());
        break;
    }
    default:
        if ((op >= 0x70 && op <= 0x77) || (op >= 0x80 && op <= 0x87)) {
            SkipShape();
        } else {
            const int32_t n = skipLength(op);
            In.Skip(n < 0 ? In.Word() : (uint32_t)n);
        }
        break;
    }
}

uint32_t Player::PlayPicture() {
    In.Skip(512);
    In.Word();  // picture size, not used
    Frame = In.ReadRect();
    MakeCanvas();
    uint8_t b;
    while ((b = In.Byte()) == 0) {
    }
    if (b != 0x11) return KXERR_DECODE;
    const uint8_t v = In.Byte();
    if (v == 1) Version = 1;
    else if (v == 2 && In.Byte() == 0xFF) Version = 2;
    else return KXERR_FILEREQUIREMENTS;
    for (;;) {
        const uint32_t op = NextOpcode();
        if (op == 0xFF) break;  // the end: the byte FF (version 1) or the word 00FF
        Log("opcode: %lx (at: $%lx", (unsigned long)op, (unsigned long)In.Consumed());
        HandleOpcode(op);
    }
    StoreCanvas();
    Log("interpret-pict-end");
    return KXERR_NONE;
}

}  // namespace kxpict
