// Convolve, ConvolveFloat, ConvolveNxN, Sharpen and Blur: the settings and
// matrix files, the rounding rules, edges and progress, every sum width
// against the arithmetic written out plainly (64-bit sums), and vips conv.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>

#include "kinds_support.h"
#include "operators/geometry/kxpBlur.h"
#include "operators/geometry/kxpConvolve.h"
#include "operators/geometry/kxpConvolveFloat.h"
#include "operators/geometry/kxpConvolveNxN.h"
#include "operators/geometry/kxpSharpen.h"

using namespace geo;
using Keys = std::vector<std::pair<const char*, const char*>>;
using S16 = std::vector<uint16_t>;

namespace {

TEST(Convolution, InputKindsAlphaAndFlags)
{
    using namespace kinds;
    const uint32_t none = KXALPHA_NONE;
    const std::vector<Row> rows = {
        {PAL8, KXERR_NEED24BIT, 0, 0}, {PLANES4, KXERR_NEED24BIT, 0, 0}, {HAM6, KXERR_NEED24BIT, 0, 0},
        {RGB24, 0, none, 0},           {RGB48, 0, none, 0},               {RGB48MM, 0, none, KXGFXF_II},
        {KEY8, KXERR_NEED24BIT, 0, 0}, {MAP24, 0, none, 0},               {MAP16_48, 0, none, 0},
        {TYPE3, KXERR_NEED24BIT, 0, 0}, {DEPTH12, KXERR_NEED24BIT, 0, 0},
    };
    CheckRows<kxpConvolve>("Convolve", rows);
    CheckRows<kxpConvolveFloat>("ConvolveFloat", rows);
    CheckRows<kxpConvolveNxN>("ConvolveNxN", rows, {{"MATRIX_SIZE", "7x7"}});
    CheckRows<kxpSharpen>("Sharpen", rows);
    CheckRows<kxpBlur>("Blur", rows);

    // True colour in bit planes is not taken.
    Buffer planes = Make(4, 4, 24);
    planes->Type = BITPLANE;
    kxpBlur op(Lib());
    KX_GfxBuffer* res = nullptr;
    EXPECT_EQ(RunOp(op, planes.get(), &res), KXERR_FILEREQUIREMENTS);
}

// ---- the arithmetic written out plainly ----

struct Matrix {
    uint32_t n;
    std::vector<double> k;
    double divisor, offset;
    enum { Truncated, RealQuotient, Real } rule;
};

// Every interior sample from the n x n neighbourhood in row-major order;
// the outer n/2 rows and columns stay.
S16 Reference(const KX_GfxBuffer* src, const Matrix& m)
{
    const int w = int(src->Width), h = int(src->Height), half = int(m.n / 2);
    const int64_t max = src->ColorDepth == 48 ? 65535 : 255;
    const S16 in = Samples(src);
    S16 out = in;
    for (int y = half; y < h - half; y++)
        for (int x = half; x < w - half; x++)
            for (int ch = 0; ch < 3; ch++) {
                int64_t sum = 0;
                double real = 0;
                for (int r = 0; r < int(m.n); r++)
                    for (int c = 0; c < int(m.n); c++) {
                        const uint16_t s = in[(size_t(y + r - half) * w + (x + c - half)) * 3 + ch];
                        sum += int64_t(m.k[r * m.n + c]) * s;
                        real += m.k[r * m.n + c] * s;
                    }
                int64_t v;
                if (m.rule == Matrix::Truncated) {
                    v = std::clamp<int64_t>(sum / int64_t(m.divisor) + int64_t(m.offset), 0, max);
                } else {
                    const double t = (m.rule == Matrix::Real ? real : double(sum)) / m.divisor + m.offset;
                    v = t < 0 ? 0 : t > double(max) ? max : int64_t(t);
                }
                out[(size_t(y) * w + x) * 3 + ch] = uint16_t(v);
            }
    return out;
}

std::string Line(const std::vector<double>& k, uint32_t n, uint32_t r, bool real)
{
    std::string s;
    char num[40];
    for (uint32_t c = 0; c < n; c++) {
        snprintf(num, sizeof num, real ? "%.17g " : "%.0f ", k[r * n + c]);
        s += num;
    }
    return s;
}

// Runs the operator that takes the matrix, with its keys as text.
S16 RunMatrix(const KX_GfxBuffer* src, const Matrix& m, uint32_t* code = nullptr)
{
    const bool real = m.rule == Matrix::Real;
    std::vector<std::string> texts;
    texts.reserve(12);
    Keys keys;
    for (uint32_t r = 0; r < m.n; r++) {
        static const char* const names[] = {"MATRIX_LINE1", "MATRIX_LINE2", "MATRIX_LINE3", "MATRIX_LINE4", "MATRIX_LINE5",
                                            "MATRIX_LINE6", "MATRIX_LINE7", "MATRIX_LINE8", "MATRIX_LINE9"};
        texts.push_back(Line(m.k, m.n, r, real));
        keys.push_back({names[r], texts.back().c_str()});
    }
    char num[2][40];
    snprintf(num[0], sizeof num[0], real ? "%.17g" : "%.0f", m.divisor);
    snprintf(num[1], sizeof num[1], real ? "%.17g" : "%.0f", m.offset);
    keys.push_back({"DIVIDE_EQUAL", num[0]});
    keys.push_back({"ADD_EQUAL", num[1]});
    KX_GfxBuffer* res = nullptr;
    uint32_t err;
    Buffer copy = Make(src->Width, src->Height, src->ColorDepth, Bytes(src));
    if (real) {
        kxpConvolveFloat op(Lib());
        err = RunOp(op, copy.get(), &res, keys);
        if (!err) return Samples(res);
    } else if (m.n == 3) {
        kxpConvolve op(Lib());
        err = RunOp(op, copy.get(), &res, keys);
        if (!err) return Samples(res);
    } else {
        keys.push_back({"MATRIX_SIZE", m.n == 5 ? "5x5" : m.n == 7 ? "7x7" : "9x9"});
        kxpConvolveNxN op(Lib());
        err = RunOp(op, copy.get(), &res, keys);
        if (!err) return Samples(res);
    }
    if (code) *code = err;
    return {};
}

TEST(Convolution, EverySumWidthAgreesWithTheArithmetic)
{
    std::mt19937 rng(0xC0FFEE);
    struct Case {
        const char* name;
        uint32_t depth, n, w, h;
        int32_t range;    // entries from -range to range
        int32_t divisor;  // 0: random from 1 to 50, either sign
        bool real;
        bool separable = false;  // a column times a row
    } cases[] = {
        {"separable 5 x 5", 24, 5, 31, 19, 4, 0, false, true},
        {"separable 9 x 9, 48 bit", 48, 9, 31, 23, 3, 0, false, true},
        {"separable 3 x 3, 32-bit sums", 24, 3, 29, 17, 300, 0, false, true},
        {"separable 7 x 7, 64-bit sums", 48, 7, 29, 17, 46000, 0, false, true},
        {"16-bit sums", 24, 3, 23, 17, 12, 0, false},
        {"16-bit sums, divisor 1", 24, 3, 23, 17, 3, 1, false},
        {"32-bit sums in single precision", 24, 3, 23, 17, 2000, 0, false},
        {"32-bit sums in double precision", 24, 3, 23, 17, 1000000, 999983, false},
        {"64-bit sums", 24, 3, 23, 17, 2147483647, 2147483647, false},
        {"48 bit, 32-bit sums", 48, 3, 23, 17, 20, 0, false},
        {"48 bit, 32-bit sums in double precision", 48, 3, 23, 17, 1000, 7919, false},
        {"48 bit, 64-bit sums", 48, 3, 23, 17, 100000, 0, false},
        {"5 x 5", 24, 5, 23, 17, 9, 0, false},
        {"7 x 7", 24, 7, 23, 17, 9, 0, false},
        {"9 x 9, 48 bit", 48, 9, 23, 17, 9, 0, false},
        {"9 x 9, 64-bit sums beyond double precision", 48, 9, 23, 17, 2147483647, 3, false},
        {"real", 24, 3, 23, 17, 0, 0, true},
        {"real, 48 bit", 48, 3, 23, 17, 0, 0, true},
        {"rows of several chunks", 24, 5, 700, 9, 9, 0, false},
        {"rows in bands on threads", 24, 3, 1200, 400, 5, 0, false},
        {"rows in bands on threads, 48 bit", 48, 7, 600, 300, 5, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer src = Make(c.w, c.h, c.depth, Noise(size_t(c.w) * c.h * Bpp(c.depth), c.w * 31 + c.n));
        Matrix m{c.n, std::vector<double>(c.n * c.n), 1, 0, c.real ? Matrix::Real : c.n >= 7 ? Matrix::RealQuotient : Matrix::Truncated};
        std::vector<int64_t> u(c.n), v(c.n);
        for (uint32_t i = 0; i < c.n; i++) {
            u[i] = std::uniform_int_distribution<int64_t>(-c.range, c.range)(rng);
            v[i] = std::uniform_int_distribution<int64_t>(-c.range, c.range)(rng);
        }
        u[1] = 0;  // a zero row
        for (size_t i = 0; i < m.k.size(); i++) {
            auto& k = m.k[i];
            if (c.separable)
                k = double(u[i / c.n] * v[i % c.n]);
            else if (c.real)
                k = std::round((std::uniform_real_distribution<double>(-3, 3)(rng)) * 1000) / 1000;
            else
                k = double(std::uniform_int_distribution<int64_t>(-c.range, c.range)(rng));
        }
        if (c.real) {
            m.divisor = 2.5;
            m.offset = 17.25;
        } else {
            m.divisor = c.divisor ? c.divisor : int(rng() % 50 + 1) * (rng() % 2 ? 1 : -1);
            m.offset = double(int(rng() % 200) - 60);
        }
        const S16 ours = RunMatrix(src.get(), m);
        ASSERT_FALSE(ours.empty());
        if (c.depth == 48) {
            // The offset as the operators widen it for 16-bit samples.
            const double o = m.offset;
            m.offset = c.real ? o * 257 : double(int32_t(uint32_t(int32_t(o)) << 8 | uint32_t(int32_t(o))));
        }
        const S16 want = Reference(src.get(), m);
        size_t bad = 0;
        for (size_t i = 0; i < want.size(); i++) {
            if (ours[i] != want[i] && bad < 3) ADD_FAILURE() << "sample " << i << ": " << ours[i] << " for " << want[i];
            bad += ours[i] != want[i];
        }
        EXPECT_EQ(bad, 0u) << "of " << want.size() << " samples";
    }
}

TEST(Convolution, SettingsAndTheirDefaults)
{
    // 5 x 5 picture: every sample 10 except the centre pixel, 40.
    std::vector<uint8_t> px(5 * 5 * 3, 10);
    for (int ch = 0; ch < 3; ch++) px[(2 * 5 + 2) * 3 + ch] = 40;
    Buffer src = Make(5, 5, 24, px);
    auto centre = [](const KX_GfxBuffer* b) { return b->Data[(2 * 5 + 2) * 3]; };
    auto beside = [](const KX_GfxBuffer* b) { return b->Data[(2 * 5 + 1) * 3]; };
    KX_GfxBuffer* res = nullptr;
    struct Case {
        const char* name;
        Keys keys;
        int centre, beside;
    } cases[] = {
        {"a pad without the keys: all ones, divisor 1", {{"OTHER", "1"}}, 120, 120},
        {"divisor 0 becomes 1", {{"DIVIDE_EQUAL", "0"}}, 120, 120},
        {"divisor and offset", {{"DIVIDE_EQUAL", "4"}, {"ADD_EQUAL", "-7"}}, 23, 23},
        {"a short line fills its leading entries", {{"MATRIX_LINE2", "0 -1"}, {"DIVIDE_EQUAL", "1"}}, 30, 90},
        {"parsing stops at a token that is not a number", {{"MATRIX_LINE1", "0 x 0"}, {"MATRIX_LINE2", "0,5"}, {"MATRIX_LINE3", "abc"}}, 100, 100},
        {"a divisor that does not parse keeps 1", {{"DIVIDE_EQUAL", "two"}}, 120, 120},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kxpConvolve op(Lib());
        ASSERT_EQ(RunOp(op, src.get(), &res, c.keys), 0u);
        EXPECT_EQ(centre(res), c.centre);
        EXPECT_EQ(beside(res), c.beside);
    }
    // No pad at all: the mean.
    kxpConvolve bare(Lib());
    ASSERT_EQ(bare.OperateTagList(src.get(), &res, nullptr), 0u);
    EXPECT_EQ(centre(res), 13);
    kxpConvolveFloat bareFloat(Lib());
    ASSERT_EQ(bareFloat.OperateTagList(src.get(), &res, nullptr), 0u);
    EXPECT_EQ(centre(res), 13);
    kxpConvolveNxN bareNxN(Lib());
    ASSERT_EQ(bareNxN.OperateTagList(src.get(), &res, nullptr), 0u);
    EXPECT_EQ(centre(res), 11) << "(24 x 10 + 40) / 25";

    kxpConvolveFloat zero(Lib());
    ASSERT_EQ(RunOp(zero, src.get(), &res, {{"DIVIDE_EQUAL", "0"}, {"MATRIX_LINE1", "0.5 0.5 0.5"}}), 0u);
    EXPECT_EQ(centre(res), 105);
    // "inf" and "nan" are no numbers to a setting: a line stops there, a
    // divisor or offset keeps its default.
    for (const std::string bad : {"nan", "inf", "-inf", "INF", "NaN"}) {
        SCOPED_TRACE(bad);
        const std::string inside = "0 " + bad + " 0", last = "2 2 " + bad;
        const struct {
            Keys keys;
            int centre;
        } uses[] = {
            {{{"MATRIX_LINE3", bad.c_str()}}, 120},
            {{{"MATRIX_LINE3", inside.c_str()}}, 110},
            {{{"MATRIX_LINE1", last.c_str()}}, 140},
            {{{"DIVIDE_EQUAL", bad.c_str()}}, 120},
            {{{"DIVIDE_EQUAL", "4"}, {"ADD_EQUAL", bad.c_str()}}, 30},
        };
        for (const auto& u : uses) {
            kxpConvolveFloat op(Lib());
            ASSERT_EQ(RunOp(op, src.get(), &res, u.keys), 0u);
            EXPECT_EQ(centre(res), u.centre);
        }
    }
    kxpConvolveNxN nxnZero(Lib());
    ASSERT_EQ(RunOp(nxnZero, src.get(), &res, {{"DIVIDE_EQUAL", "0"}, {"MATRIX_SIZE", "5X5"}}), 0u);
    EXPECT_EQ(centre(res), 11) << "divisor 0 becomes 25";

    // Sharpness: "3" is 7, "20" is 15, "abc" 11.
    struct SharpCase {
        const char* value;
        int centre;
    } sharp[] = {{"3", (7 * 40 - 60) / 1}, {"7", 220}, {"20", (15 * 40 - 60) / 9}, {"abc", (11 * 40 - 60) / 5}, {nullptr, (11 * 40 - 60) / 5}};
    for (const auto& s : sharp) {
        kxpSharpen op(Lib());
        Keys keys;
        if (s.value) keys.push_back({"SHARPNESS", s.value});
        ASSERT_EQ(RunOp(op, src.get(), &res, keys), 0u);
        EXPECT_EQ(centre(res), std::min(s.centre, 255)) << (s.value ? s.value : "missing");
    }
}

TEST(Convolution, MatrixSizesAndTheImpulse)
{
    // A single 1 at (r, c) with divisor 1 moves every interior sample by
    // (c - n/2, r - n/2): it takes the source sample there.
    const uint32_t w = 13, h = 12;
    Buffer src = Make(w, h, 24, Noise(w * h * 3, 5));
    for (uint32_t n : {3u, 5u, 7u, 9u})
        for (uint32_t r = 0; r < n; r++)
            for (uint32_t c = 0; c < n; c++) {
                Matrix m{n, std::vector<double>(n * n, 0), 1, 0, n >= 7 ? Matrix::RealQuotient : Matrix::Truncated};
                m.k[r * n + c] = 1;
                const S16 ours = RunMatrix(src.get(), m);
                const S16 in = Samples(src.get());
                const int half = int(n / 2);
                for (int y = 0; y < int(h); y++)
                    for (int x = 0; x < int(w); x++) {
                        const bool inside = x >= half && y >= half && x < int(w) - half && y < int(h) - half;
                        const size_t from = inside ? (size_t(y + int(r) - half) * w + (x + int(c) - half)) * 3 : (size_t(y) * w + x) * 3;
                        ASSERT_EQ(ours[(size_t(y) * w + x) * 3], in[from]) << n << "x" << n << " at " << r << "," << c << ": " << x << "," << y;
                    }
            }

    // MATRIX_SIZE: "3x3" and any other text give 9, "7X7" gives 7, none 5.
    // The impulse at the top-left corner tells the size by how far it moves.
    struct SizeCase {
        const char* size;
        uint32_t n;
    } cases[] = {{"3x3", 9}, {"7X7", 7}, {"5x5", 5}, {nullptr, 5}, {"", 5}, {"big", 9}};
    for (const auto& c : cases) {
        Keys keys{{"DIVIDE_EQUAL", "1"}};
        std::vector<std::string> lines(9, "0 0 0 0 0 0 0 0 0");
        lines[0] = "1 0 0 0 0 0 0 0 0";
        static const char* const names[] = {"MATRIX_LINE1", "MATRIX_LINE2", "MATRIX_LINE3", "MATRIX_LINE4", "MATRIX_LINE5",
                                            "MATRIX_LINE6", "MATRIX_LINE7", "MATRIX_LINE8", "MATRIX_LINE9"};
        for (int i = 0; i < 9; i++) keys.push_back({names[i], lines[i].c_str()});
        if (c.size) keys.push_back({"MATRIX_SIZE", c.size});
        kxpConvolveNxN op(Lib());
        KX_GfxBuffer* res = nullptr;
        ASSERT_EQ(RunOp(op, src.get(), &res, keys), 0u);
        const uint32_t half = c.n / 2;
        EXPECT_EQ(res->Data[(half * w + half) * 3], src->Data[0]) << (c.size ? c.size : "missing");
        EXPECT_EQ(res->Data[((half - 1) * w + half) * 3], src->Data[((half - 1) * w + half) * 3]) << "edge row kept";
    }
}

TEST(Convolution, RoundingOfTheQuotientAndTheWideOffset)
{
    // Sum -3 (one entry -3 on samples of 1), divisor 2, offset 128.
    Buffer ones = Make(9, 9, 24, std::vector<uint8_t>(9 * 9 * 3, 1));
    for (uint32_t n : {5u, 7u}) {
        Matrix m{n, std::vector<double>(n * n, 0), 2, 128, n >= 7 ? Matrix::RealQuotient : Matrix::Truncated};
        m.k[(n / 2) * n + n / 2] = -3;
        const S16 out = RunMatrix(ones.get(), m);
        EXPECT_EQ(out[(4 * 9 + 4) * 3], n == 5 ? 127 : 126) << n << "x" << n;
    }

    // 48 bit: ADD_EQUAL 1 adds 257 and -10 adds -10 for the integer
    // matrices, -2570 for the real one.
    Buffer wide = Make(3, 3, 48);
    for (uint32_t i = 0; i < 27; i++) reinterpret_cast<uint16_t*>(wide->Data)[i] = 5000;
    struct Case {
        int which;  // 0 Convolve, 1 ConvolveNxN (7 x 7 on a 9 x 9 picture), 2 ConvolveFloat
        const char* add;
        int want;
    } cases[] = {{0, "1", 5257}, {0, "-10", 4990}, {2, "-10", 2430}, {2, "1", 5257}, {1, "1", 5257}, {1, "-10", 4990}};
    Buffer seven = Make(7, 7, 48);
    for (uint32_t i = 0; i < 7 * 7 * 3; i++) reinterpret_cast<uint16_t*>(seven->Data)[i] = 5000;
    std::vector<std::string> lines(7, "0 0 0 0 0 0 0");
    lines[3] = "0 0 0 1 0 0 0";
    for (const auto& c : cases) {
        Keys keys{{"DIVIDE_EQUAL", "1"}, {"ADD_EQUAL", c.add}};
        static const char* const names[] = {"MATRIX_LINE1", "MATRIX_LINE2", "MATRIX_LINE3", "MATRIX_LINE4", "MATRIX_LINE5", "MATRIX_LINE6", "MATRIX_LINE7"};
        if (c.which == 1) {
            keys.push_back({"MATRIX_SIZE", "7x7"});
            for (int i = 0; i < 7; i++) keys.push_back({names[i], lines[i].c_str()});
        } else {
            for (int i = 0; i < 3; i++) keys.push_back({names[i], i == 1 ? "0 1 0" : "0 0 0"});
        }
        kxpConvolve convolve(Lib());
        kxpConvolveNxN nxn(Lib());
        kxpConvolveFloat real(Lib());
        KX_GfxBuffer* res = nullptr;
        const uint32_t code = c.which == 0 ? RunOp(convolve, wide.get(), &res, keys)
                              : c.which == 1 ? RunOp(nxn, seven.get(), &res, keys)
                                             : RunOp(real, wide.get(), &res, keys);
        ASSERT_EQ(code, 0u);
        const uint32_t at = c.which == 1 ? 3 * 7 + 3 : 4;
        EXPECT_EQ(reinterpret_cast<uint16_t*>(res->Data)[at * 3], c.want) << c.which << " " << c.add;
    }

    // Sums beyond 32 bits: flat pictures keep their value where 32-bit
    // sums would have wrapped.
    Buffer flat = Make(5, 5, 48);
    for (uint32_t i = 0; i < 75; i++) reinterpret_cast<uint16_t*>(flat->Data)[i] = 65535;
    kxpConvolve big(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(big, flat.get(), &res, {{"MATRIX_LINE1", "4000 4000 4000"}, {"MATRIX_LINE2", "4000 4000 4000"}, {"MATRIX_LINE3", "4000 4000 4000"}, {"DIVIDE_EQUAL", "36000"}}), 0u);
    EXPECT_EQ(Bytes(res), Bytes(flat.get()));
}

TEST(Convolution, MatrixFiles)
{
    const std::string dir = TempPath("matrices");
    mkdir(dir.c_str(), 0755);
    auto write = [&](const char* name, const char* text) {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << text;
        return path;
    };
    const std::string onlyLine1 = write("line1.controlpad", "MATRIX_LINE1=0 0 0\n");
    const std::string noSize = write("nosize.controlpad", "DIVIDE_EQUAL=0\n");
    const std::string chained = write("chained.controlpad", ("MATRIX_FILE=" + onlyLine1 + "\n").c_str());
    const std::string garbage = write("garbage.controlpad", "MATRIX_LINE1=x\nMATRIX_LINE2=\nDIVIDE_EQUAL=none\n");
    const std::string empty = write("empty.controlpad", "");

    std::vector<uint8_t> px(9 * 9 * 3, 10);
    for (int ch = 0; ch < 3; ch++) px[(4 * 9 + 4) * 3 + ch] = 37;
    Buffer src = Make(9, 9, 24, px);
    auto centre = [](const KX_GfxBuffer* b) { return int(b->Data[(4 * 9 + 4) * 3]); };
    struct Case {
        const char* name;
        int which;  // 0 Convolve, 1 ConvolveNxN
        Keys keys;
        int want;
    } cases[] = {
        // The file replaces everything: rows it lacks are 1, not the pad's.
        {"only line 1", 0, {{"MATRIX_LINE2", "0 0 0"}, {"DIVIDE_EQUAL", "3"}, {"MATRIX_FILE", onlyLine1.c_str()}}, 87},
        {"no size in the file: 5 x 5", 1, {{"MATRIX_SIZE", "9x9"}, {"MATRIX_FILE", noSize.c_str()}}, 11},
        {"a file's own MATRIX_FILE is not followed", 0, {{"MATRIX_FILE", chained.c_str()}}, 117},
        {"numbers that do not parse keep the defaults", 0, {{"MATRIX_FILE", garbage.c_str()}}, 117},
        {"an empty file leaves the pad's", 0, {{"DIVIDE_EQUAL", "9"}, {"MATRIX_FILE", empty.c_str()}}, 13},
        {"a missing file leaves the pad's", 0, {{"DIVIDE_EQUAL", "9"}, {"MATRIX_FILE", "/nonexistent/m.controlpad"}}, 13},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KX_GfxBuffer* res = nullptr;
        if (c.which == 0) {
            kxpConvolve op(Lib());
            ASSERT_EQ(RunOp(op, src.get(), &res, c.keys), 0u);
            EXPECT_EQ(centre(res), c.want);
        } else {
            kxpConvolveNxN op(Lib());
            ASSERT_EQ(RunOp(op, src.get(), &res, c.keys), 0u);
            EXPECT_EQ(centre(res), c.want);
            EXPECT_EQ(res->Data[(1 * 9 + 1) * 3], 10) << "5 x 5: row 1 is no longer an edge row of a 9 x 9";
            EXPECT_EQ(res->Data[(2 * 9 + 2) * 3], 11);
        }
    }
    for (const std::string& f : {onlyLine1, noSize, chained, garbage, empty}) remove(f.c_str());
    rmdir(dir.c_str());
}

std::vector<uint32_t> g_percent;
void Hook(KXProgress* p, uintptr_t) { g_percent.push_back(p->Percent); }

TEST(Convolution, EdgesSmallPicturesAndProgress)
{
    // The outer n/2 rows and columns are the source's; Blur's too.
    for (uint32_t depth : {24u, 48u}) {
        Buffer src = Make(12, 10, depth, Noise(12 * 10 * Bpp(depth), depth));
        const S16 in = Samples(src.get());
        auto edgesKept = [&](const KX_GfxBuffer* res, uint32_t half) {
            const S16 out = Samples(res);
            for (uint32_t y = 0; y < 10; y++)
                for (uint32_t x = 0; x < 12; x++) {
                    if (x >= half && y >= half && x < 12 - half && y < 10 - half) continue;
                    for (int ch = 0; ch < 3; ch++)
                        if (out[(y * 12 + x) * 3 + ch] != in[(y * 12 + x) * 3 + ch]) return false;
                }
            return true;
        };
        KX_GfxBuffer* res = nullptr;
        kxpBlur blur(Lib());
        ASSERT_EQ(RunOp(blur, src.get(), &res), 0u);
        EXPECT_TRUE(edgesKept(res, 1)) << "Blur " << depth;
        kxpSharpen sharpen(Lib());
        ASSERT_EQ(RunOp(sharpen, src.get(), &res), 0u);
        EXPECT_TRUE(edgesKept(res, 1)) << "Sharpen " << depth;
        kxpConvolveNxN nxn(Lib());
        ASSERT_EQ(RunOp(nxn, src.get(), &res, {{"MATRIX_SIZE", "9x9"}}), 0u);
        EXPECT_TRUE(edgesKept(res, 4)) << "9x9 " << depth;
    }

    // Pictures without an interior come back unchanged; so do flat ones
    // from Sharpen at every strength.
    for (auto [w, h] : {std::pair{5u, 1u}, {5u, 2u}, {2u, 5u}, {1u, 1u}}) {
        Buffer small = Make(w, h, 24, Noise(w * h * 3, w + h));
        KX_GfxBuffer* res = nullptr;
        kxpConvolve a(Lib());
        ASSERT_EQ(RunOp(a, small.get(), &res), 0u);
        EXPECT_EQ(Bytes(res), Bytes(small.get()));
        kxpConvolveFloat b(Lib());
        ASSERT_EQ(RunOp(b, small.get(), &res), 0u);
        EXPECT_EQ(Bytes(res), Bytes(small.get()));
        kxpBlur c(Lib());
        ASSERT_EQ(RunOp(c, small.get(), &res), 0u);
        EXPECT_EQ(Bytes(res), Bytes(small.get()));
    }
    for (uint32_t depth : {24u, 48u}) {
        Buffer flat = Make(6, 6, depth, std::vector<uint8_t>(36 * Bpp(depth), 0xC7));
        for (int s = 7; s <= 15; s++) {
            kxpSharpen op(Lib());
            KX_GfxBuffer* res = nullptr;
            const std::string v = std::to_string(s);
            ASSERT_EQ(RunOp(op, flat.get(), &res, {{"SHARPNESS", v.c_str()}}), 0u);
            EXPECT_EQ(Bytes(res), Bytes(flat.get())) << depth << " bits, sharpness " << s;
        }
    }

    // Progress: 3 x 3 over rows 1 to h - 2 by h - 1; n x n over rows n/2 on by h - n/2.
    Buffer tall = Make(3, 20, 24);
    kxpBlur blur(Lib());
    blur.SetProgress(Hook, 0);
    g_percent.clear();
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(blur, tall.get(), &res), 0u);
    EXPECT_EQ(g_percent, (std::vector<uint32_t>{8 * 100 / 19, 16 * 100 / 19}));
    Buffer taller = Make(5, 20, 48);
    kxpConvolveNxN nxn(Lib());
    nxn.SetProgress(Hook, 0);
    g_percent.clear();
    ASSERT_EQ(RunOp(nxn, taller.get(), &res), 0u);
    EXPECT_EQ(g_percent, (std::vector<uint32_t>{8 * 100 / 18, 16 * 100 / 18}));
}

// vips conv with an integer mask rounds the quotient where ours truncates:
// the interiors agree within 1.
TEST(ConvolutionOracles, AgreeWithVipsConv)
{
    if (!KXT_HaveTool("vips")) GTEST_SKIP() << "vips is not installed";
    struct Case {
        uint32_t depth, n;
        std::vector<int> k;
        int divisor;
        const char* op;  // "blur", "sharpen" or a matrix
    } cases[] = {
        {24, 3, {1, 2, 1, 2, 4, 2, 1, 2, 1}, 16, nullptr},
        // vips's vector path approximates signed masks on 8-bit samples:
        // those are compared on 16-bit samples, which it sums exactly.
        {48, 3, {-1, -1, -1, -1, 12, -1, -1, -1, -1}, 4, nullptr},
        {48, 3, {0, -1, 0, -1, 9, -2, 0, -2, 0}, 3, "sharpen"},
        {24, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1}, 9, "blur"},
        {48, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1}, 9, "blur"},
        {24, 5, std::vector<int>(25, 1), 25, nullptr},
        {48, 9, std::vector<int>(81, 2), 162, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.n) + "x" + std::to_string(c.n) + " on " + std::to_string(c.depth) + (c.op ? c.op : ""));
        const uint32_t w = 37, h = 29;
        Buffer src = Make(w, h, c.depth, Noise(size_t(w) * h * Bpp(c.depth), c.n * c.depth));
        KX_GfxBuffer* res = nullptr;
        Buffer copy = Make(w, h, c.depth, Bytes(src.get()));
        kxpBlur blur(Lib());
        kxpSharpen sharpen(Lib());
        S16 ours;
        if (c.op && std::string(c.op) == "blur") {
            ASSERT_EQ(RunOp(blur, copy.get(), &res), 0u);
            ours = Samples(res);
        } else if (c.op) {
            ASSERT_EQ(RunOp(sharpen, copy.get(), &res, {{"SHARPNESS", "9"}}), 0u);
            ours = Samples(res);
        } else {
            Matrix m{c.n, std::vector<double>(c.k.begin(), c.k.end()), double(c.divisor), 0, c.n >= 7 ? Matrix::RealQuotient : Matrix::Truncated};
            ours = RunMatrix(src.get(), m);
        }
        const std::string in = TempPath("conv_in.ppm"), out = TempPath("conv_out.ppm"), mask = TempPath("conv.mat");
        {
            std::ofstream f(mask);
            f << c.n << " " << c.n << " " << c.divisor << " 0\n";
            for (uint32_t r = 0; r < c.n; r++) {
                for (uint32_t col = 0; col < c.n; col++) f << c.k[r * c.n + col] << " ";
                f << "\n";
            }
        }
        ASSERT_TRUE(WritePNM(in, src.get()));
        const std::string cmd = "vips conv " + in + " " + out + " " + mask + " --precision integer > /dev/null 2>&1";
        ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
        Pnm p;
        ASSERT_TRUE(ReadPNM(out, p));
        ASSERT_EQ(p.w, w);
        ASSERT_EQ(p.h, h);
        const int half = int(c.n / 2);
        int worst = 0;
        for (int y = half; y < int(h) - half; y++)
            for (int x = half; x < int(w) - half; x++)
                for (int ch = 0; ch < 3; ch++) {
                    const size_t i = (size_t(y) * w + x) * 3 + ch;
                    worst = std::max(worst, std::abs(int(ours[i]) - int(p.samples[i])));
                }
        EXPECT_LE(worst, 1);
        remove(in.c_str());
        remove(out.c_str());
        remove(mask.c_str());
    }
}

}  // namespace
