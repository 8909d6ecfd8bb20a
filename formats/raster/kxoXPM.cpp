// kxoXPM: X pixmaps (see kxoXPM.h).
#include "formats/raster/kxoXPM.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

enum Variant : uint32_t { V1 = 0, V2 = 1, V3 = 2 };
const uint32_t LINE = 256, MAX_COLOURS = 256, MAX_CODE = 31;

struct Named {
    const char* Name;
    uint32_t Value;
};
const Named kNames[16] = {
    {"white", 0xFFFFFF}, {"silver", 0xC0C0C0}, {"gray", 0x808080},    {"black", 0x000000},
    {"yellow", 0xFFFF00}, {"fuchsia", 0xFF00FF}, {"red", 0xFF0000},   {"maroon", 0x800000},
    {"lime", 0x00FF00},  {"olive", 0x808000},  {"green", 0x008000},   {"purple", 0x800080},
    {"aqua", 0x00FFFF},  {"teal", 0x008080},   {"blue", 0x0000FF},    {"navy", 0x000080},
};

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// The next line: for "v2" any that is not empty, for the others one that
// holds a double quote.
uint32_t readLine(FILE* f, char* buffer, uint32_t size, uint32_t variant) {
    for (;;) {
        if (!fgets(buffer, (int)size, f)) return KXERR_EOF;
        if (variant == V2) {
            if (buffer[0] != 0 && buffer[0] != '\r' && buffer[0] != '\n') return KXERR_NONE;
        } else if (strchr(buffer, '"')) {
            return KXERR_NONE;
        }
    }
}

// Where a line's text starts: "v2" at once, the others after the first
// double quote; every double quote becomes a blank. -1 without a quote.
long quoteStart(char* line, uint32_t variant) {
    if (variant == V2) return 0;
    long first = -1;
    for (char* p = line; *p; ++p)
        if (*p == '"') {
            if (first < 0) first = p - line;
            *p = ' ';
        }
    return first < 0 ? -1 : first + 1;
}

// The next blank-separated word from *p (none at the end of the text).
std::string_view nextWord(const char*& p) {
    while (*p && isBlank(*p)) ++p;
    const char* s = p;
    while (*p && !isBlank(*p)) ++p;
    return std::string_view(s, (size_t)(p - s));
}

// "#define NAME_<keyword> <value>": the keyword searched from the ninth
// character on, the one character after it passed over.
uint32_t keywordValue(const char* line, const char* keyword, bool needValue, long* value) {
    const size_t n = strlen(line), k = strlen(keyword);
    size_t at = 8;
    while (at + k <= n && strncasecmp(line + at, keyword, k) != 0) ++at;
    if (at + k > n) return KXERR_DECODE;
    if (!needValue) return KXERR_NONE;
    const char* p = line + (at + k + 1 <= n ? at + k + 1 : n);
    char* end = nullptr;
    *value = strtol(p, &end, 10);
    return end == p ? KXERR_DECODE : KXERR_NONE;
}

}  // namespace

int64_t kxoXPM::ColourOfWord(const char* word) {
    if (word[0] == '#') {
        const char* d = word + 1;
        const size_t n = strlen(d);
        if (n == 0 || strspn(d, "0123456789abcdefABCDEF") != n) return -1;
        auto group = [&](size_t at, size_t len) {
            uint32_t v = 0;
            for (size_t i = 0; i < len; ++i) v = v << 4 | (uint32_t)(isdigit((unsigned char)d[at + i]) ? d[at + i] - '0' : (d[at + i] | 0x20) - 'a' + 10);
            return v;
        };
        // Four digits a component: their high byte. Three: their top 8
        // bits. Up to six: the number itself as 0xRRGGBB.
        if (n == 12) return (int64_t)(group(0, 4) >> 8 << 16 | group(4, 4) >> 8 << 8 | group(8, 4) >> 8);
        if (n == 9) return (int64_t)(group(0, 3) >> 4 << 16 | group(3, 3) >> 4 << 8 | group(6, 3) >> 4);
        if (n <= 6) return (int64_t)group(0, n);
        return -1;
    }
    for (const Named& c : kNames)
        if (strcasecmp(word, c.Name) == 0) return c.Value;
    return -1;
}

kxoXPM::kxoXPM(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoXPM");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoXPM::Reset() { FrameReset(); }

uint32_t kxoXPM::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    char s[16] = {};
    KXF_PeekHead(file, s, 15);
    if (strncmp(s, "! XPM2", 6) == 0 || strncmp(s, "/* XPM */", 9) == 0) return 1;
    return strncmp(s, "#define ", 8) == 0 && KXF_NameEndsWith(name, ".xpm") ? 1 : 0;
}

uint32_t kxoXPM::Load() { return KXF_Load(this, &kxoXPM::LoadBody); }

uint32_t kxoXPM::LoadBody() {
    FILE* f = ReadFile;
    setvbuf(f, nullptr, _IOFBF, 8192);
    char line[LINE];
    if (!fgets(line, sizeof(line), f)) return KXERR_EOF;
    uint32_t variant;
    if (strncmp(line, "! XPM2", 6) == 0) variant = V2;
    else if (strncmp(line, "/* XPM */", 9) == 0) variant = V3;
    else if (strncmp(line, "#define ", 8) == 0) variant = V1;
    else return KXERR_FILEREQUIREMENTS;
    SubFormatId = variant;

    long width = 0, height = 0, colours = 0, chars = 0;
    uint32_t err;
    if (variant == V1) {
        // Five #define lines, in this order.
        if (fseek(f, 0, SEEK_SET) != 0) return KXERR_EOF;
        const char* keywords[5] = {"format", "width", "height", "ncolors", "chars_per_pixel"};
        long* values[5] = {nullptr, &width, &height, &colours, &chars};
        for (int i = 0; i < 5; ++i) {
            if ((err = readLine(f, line, sizeof(line), V2))) return err;
            if ((err = keywordValue(line, keywords[i], values[i] != nullptr, values[i]))) return err;
        }
    } else {
        if ((err = readLine(f, line, sizeof(line), variant))) return err;
        const long at = quoteStart(line, variant);
        if (at < 0 || sscanf(line + at, "%ld %ld %ld %ld", &width, &height, &colours, &chars) != 4) return KXERR_DECODE;
    }
    if (colours > (long)MAX_COLOURS) return KXERR_FILEREQUIREMENTS;
    // A pixel code is at most 31 characters.
    if (width < 1 || height < 1 || width > 0xFFFFFFFFL || height > 0xFFFFFFFFL || colours < 1 || chars < 1 ||
        chars > (long)MAX_CODE)
        return KXERR_FILEREQUIREMENTS;
    const uint32_t w = (uint32_t)width, h = (uint32_t)height, n = (uint32_t)colours, cpp = (uint32_t)chars;

    // The colour table: a code, then the colour ("v1": the first word from
    // the third character behind the code; the others: the value of the
    // first key beginning with "c").
    std::vector<char> codes((size_t)n * cpp);
    uint32_t values[MAX_COLOURS] = {};
    long transparent = -1;
    for (uint32_t i = 0; i < n; ++i) {
        if ((err = readLine(f, line, sizeof(line), variant))) return err;
        const long at = quoteStart(line, variant);
        const size_t length = strlen(line);
        if (at < 0 || (size_t)at + cpp > length) return KXERR_DECODE;
        memcpy(&codes[(size_t)i * cpp], line + at, cpp);
        std::string word = "-undefined-";
        const char* p = line + at + cpp;
        if (variant == V1) {
            p = (size_t)at + cpp + 2 <= length ? line + at + cpp + 2 : line + length;
            std::string_view v = nextWord(p);
            if (!v.empty()) word.assign(v);
        } else {
            for (;;) {
                std::string_view key = nextWord(p);
                if (key.empty() || key[0] == ',') break;
                std::string_view value = nextWord(p);
                if (value.empty() || value[0] == ',') break;
                if (key[0] == 'c') {
                    word.assign(value);
                    break;
                }
            }
        }
        const int64_t c = ColourOfWord(word.c_str());
        if (c >= 0) {
            values[i] = (uint32_t)c;
        } else if (strcasecmp(word.c_str(), "none") == 0) {
            values[i] = 0;
            transparent = i;  // the last one counts
        } else if (word == "-undefined-" || word[0] == '#') {
            values[i] = 0;
        } else {
            // An unknown name: a grey level by its place in the table.
            const uint32_t g = i == 0 ? 0 : i == n - 1 ? 255 : (256 / n) * i & 0xFF;
            values[i] = g * 0x010101u;
        }
    }

    KX_GfxBuffer* img = nullptr;
    if ((err = KXF_NewImage(&img, ONEPLANE, w, h, KXSUP_ColorsToDepth(n), 8, false))) return err;
    LoadedBuffer = img;
    for (uint32_t i = 0; i < n; ++i) {
        img->Palette[3 * i] = (uint8_t)(values[i] >> 16);
        img->Palette[3 * i + 1] = (uint8_t)(values[i] >> 8);
        img->Palette[3 * i + 2] = (uint8_t)values[i];
    }
    if (transparent >= 0) {
        img->Version = 3;
        img->AlphaType = KXALPHA_SINGLECOLOR;
        KXSUP_SetAlphaIndex(img, (uint32_t)transparent);
    }

    // Code -> index, the first entry of equal codes winning.
    std::vector<int16_t> direct(cpp == 1 ? 256 : cpp == 2 ? 65536 : 0, -1);
    std::unordered_map<std::string_view, uint8_t> byCode;
    for (uint32_t i = 0; i < n; ++i) {
        const char* c = &codes[(size_t)i * cpp];
        if (cpp > 2) {
            byCode.emplace(std::string_view(c, cpp), (uint8_t)i);  // keeps the first
        } else {
            int16_t& slot = direct[cpp == 1 ? (uint8_t)c[0] : (uint8_t)c[0] << 8 | (uint8_t)c[1]];
            if (slot < 0) slot = (int16_t)i;
        }
    }

    uint32_t rowSize = 0;
    if ((err = KXSUP_CheckSize(&rowSize, (uint64_t)(cpp + 1) * w + 256))) return err;
    std::vector<char> row(rowSize);
    for (uint32_t y = 0; y < h; ++y) {
        KXF_RowProgress(this, y, h);
        if ((err = readLine(f, row.data(), rowSize, variant))) return err;
        // The codes run to the closing quote ("v2": to the end of the line);
        // pixels the line does not reach, and unknown codes, are index 0.
        const char* text = row.data();
        size_t start = 0, end = strlen(text);
        if (variant != V2) {
            const char* q = strchr(text, '"');
            if (q - text >= (ptrdiff_t)LINE) return KXERR_DECODE;
            start = (size_t)(q - text) + 1;
            if (const char* close = strchr(text + start, '"')) end = (size_t)(close - text);
        }
        while (end > start && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
        uint8_t* out = img->Data + (uint64_t)y * w;
        const uint32_t present = (uint32_t)((end - start) / cpp < w ? (end - start) / cpp : w);
        const char* s = text + start;
        if (cpp <= 2) {
            for (uint32_t x = 0; x < present; ++x, s += cpp) {
                const int16_t i = direct[cpp == 1 ? (uint8_t)s[0] : (uint8_t)s[0] << 8 | (uint8_t)s[1]];
                out[x] = (uint8_t)(i < 0 ? 0 : i);
            }
        } else {
            for (uint32_t x = 0; x < present; ++x, s += cpp) {
                auto it = byCode.find(std::string_view(s, cpp));
                out[x] = it == byCode.end() ? 0 : it->second;
            }
        }
        memset(out + present, 0, w - present);
    }
    return KXERR_NONE;
}

uint32_t kxoXPM::Save() {
    uint32_t err = KXF_SaveChecks(this);  // file mode, a buffer, one byte a pixel, no HAM
    if (err != KXERR_NONE) return err;
    const KX_GfxBuffer* src = SaveBuffer;
    if (src->ColorDepth > 8) return KXERR_NO24BIT;
    const uint32_t variant = SelectedSubFormat == V1 ? V1 : SelectedSubFormat == V2 ? V2 : V3;
    const uint32_t w = src->Width, h = src->Height, n = 1u << src->ColorDepth;
    uint32_t rowSize = 0;
    if ((err = KXSUP_CheckSize(&rowSize, w, 2, 1, 1))) return err;
    std::vector<char> row((size_t)rowSize + 8);  // quotes, comma, line feed
    static const char hex[] = "0123456789abcdef";

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    setvbuf(WriteFile, nullptr, _IOFBF, 8192);
    KXByteWriter out(WriteFile);
    auto colour = [&](uint32_t i) {
        const uint8_t* c = src->Palette + 3 * i;
        return (long)((uint32_t)c[0] << 16 | c[1] << 8 | c[2]);
    };
    if (variant == V3) {
        // Every line of the array begins with its quote and no blank line
        // comes between them: netpbm's line-by-line reader demands it.
        out.printf("/* XPM */\nstatic char *image[] = {\n\"%ld %ld %ld %ld\",\n", (long)w, (long)h, (long)n, 2L);
        for (uint32_t i = 0; i < n; ++i) out.printf("\"%02lx c #%06lx\",\n", (long)i, colour(i));
    } else if (variant == V2) {
        out.printf("! XPM2\n%ld %ld %ld %ld\n", (long)w, (long)h, (long)n, 2L);
        for (uint32_t i = 0; i < n; ++i) out.printf("%02lx c #%06lx\n", (long)i, colour(i));
    } else {
        out.printf("#define IMAGE_format 1\n#define IMAGE_width %ld\n#define IMAGE_height %ld\n"
                   "#define IMAGE_ncolors %ld\n#define IMAGE_chars_per_pixel %ld\n",
                   (long)w, (long)h, (long)n, 2L);
        out.text("static char *IMAGE_colors[] = {\n");
        for (uint32_t i = 0; i < n; ++i) out.printf("\"%02lx\", \"#%06lx\",\n", (long)i, colour(i));
        out.text("};\nstatic char *IMAGE_pixels[] = {\n");
    }
    for (uint32_t y = 0; y < h && out.ok(); ++y) {
        KXF_RowProgress(this, y, h);
        const uint8_t* px = src->Data + (uint64_t)y * w;
        char* t = row.data();
        if (variant == V1) *t++ = ' ';
        if (variant != V2) *t++ = '"';
        for (uint32_t x = 0; x < w; ++x, t += 2) t[0] = hex[px[x] >> 4], t[1] = hex[px[x] & 15];
        if (variant != V2) *t++ = '"', *t++ = ',';
        *t++ = '\n';
        out.bytes(row.data(), (size_t)(t - row.data()));
    }
    if (variant != V2) out.text("};\n");
    return KXF_EndSave(this, &sf, out.ok() ? KXERR_NONE : KXERR_IO);
}
