// kxpMatrixKeys: the matrix settings of Convolve, ConvolveFloat and
// ConvolveNxN, read from the operator's pad (keys matched with case) and
// then, when the pad names one with MATRIX_FILE, from a matrix file: a
// control-pad file opened exactly as written, which replaces every setting
// (a key missing from it takes its default, not the pad's). A MATRIX_FILE
// key inside a matrix file is not followed; a file that cannot be read
// leaves the pad's settings. Numbers are read as sscanf's "%ld" and "%lf"
// read them: a line with fewer numbers fills the leading entries, parsing
// stops at the first token that is not a number, a value that does not
// parse keeps the default. Integers are 32-bit and saturate.
#pragma once

#include <locale.h>
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "kxlib.h"

namespace kxp_matrix {

inline const char* Value(KX_ControlPad* pad, const char* key)
{
    char* v = nullptr;
    return pad && KXSUP_FindControlPad(pad, key, &v) && v && *v ? v : nullptr;
}

inline bool Blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Up to n "%ld" numbers; the count read.
inline uint32_t Longs(const char* text, int32_t* out, uint32_t n)
{
    uint32_t count = 0;
    const char* p = text;
    while (p && count < n) {
        while (Blank(*p)) p++;
        bool negative = false;
        if (*p == '+' || *p == '-') negative = *p++ == '-';
        if (*p < '0' || *p > '9') break;
        int64_t v = 0;
        while (*p >= '0' && *p <= '9') {
            v = v * 10 + (*p++ - '0');
            if (v > int64_t(INT32_MAX) + 1) v = int64_t(INT32_MAX) + 1;
        }
        v = negative ? -v : v;
        out[count++] = static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v);
    }
    return count;
}

// Up to n "%lf" numbers, whatever the program's locale; the count read.
inline uint32_t Reals(const char* text, double* out, uint32_t n)
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    uint32_t count = 0;
    const char* p = text;
    while (p && count < n) {
        char* end = nullptr;
        const double v = strtod_l(p, &end, c);
        if (end == p) break;
        out[count++] = v;
        p = end;
    }
    return count;
}

inline bool Long(KX_ControlPad* pad, const char* key, int32_t* out) { return Longs(Value(pad, key), out, 1) == 1; }
inline bool Real(KX_ControlPad* pad, const char* key, double* out) { return Reals(Value(pad, key), out, 1) == 1; }

// Loads the module's pad (the settings list's, else its pad file) and the
// matrix file it names, and hands each to read(pad) in turn; false when
// there is no pad at all.
template <class Read>
bool ReadPads(KXOperator* op, Read&& read)
{
    KX_ControlPad* loaded = nullptr;
    KX_ControlPad* pad = op->KeyPad(&loaded);
    if (!pad) return false;
    read(pad);
    if (const char* file = Value(pad, "MATRIX_FILE")) {
        KX_ControlPad* matrix = nullptr;
        if (KXSUP_LoadControlPad(file, &matrix)) read(matrix);
        if (matrix) KXSUP_FreeControlPad(matrix);
    }
    if (loaded) KXSUP_FreeControlPad(loaded);
    return true;
}

// The name of matrix line r (from 0).
inline const char* LineKey(uint32_t r)
{
    static const char* const keys[] = {"MATRIX_LINE1", "MATRIX_LINE2", "MATRIX_LINE3", "MATRIX_LINE4", "MATRIX_LINE5",
                                       "MATRIX_LINE6", "MATRIX_LINE7", "MATRIX_LINE8", "MATRIX_LINE9"};
    return keys[r];
}

}  // namespace kxp_matrix
