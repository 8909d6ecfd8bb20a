// hextext: binary data as lower-case hexadecimal text, a line feed every 36
// bytes, and back; the PNG module keeps profile data in text chunks this way.
// Reading skips everything that is not a hex digit and stops where the text
// ends. Relies on AllocVec and the checked-size helper.
#include "gfxbuffer.h"
#include "memory.h"

namespace {

constexpr uint32_t kBytesPerLine = 36;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

uint32_t KXSUP_BinToHex(const uint8_t* data, char** text, uint32_t count, uint32_t* size) {
    if (!text || !size || (!data && count)) return KXERR_INTERNALACCESS;
    if (!*text) {
        uint32_t bytes = 0;
        if (!KXSUP_CheckedSize(&bytes, uint64_t(count) / 32 + uint64_t(count) * 2 + 32)) {
            *size = 0;
            return KXERR_NOMEMORY;
        }
        *text = static_cast<char*>(AllocVec(bytes, MEMF_ANY));
        if (!*text) {
            *size = 0;
            return KXERR_NOMEMORY;
        }
        *size = bytes;
    }
    static const char digits[] = "0123456789abcdef";
    char* out = *text;
    const uint64_t room = *size;
    uint64_t pos = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const bool newLine = i && i % kBytesPerLine == 0;
        if (pos + newLine + 2 > room) return KXERR_ENCODE;
        if (newLine) out[pos++] = '\n';
        out[pos++] = digits[data[i] >> 4];
        out[pos++] = digits[data[i] & 15];
    }
    if (pos + 2 > room) return KXERR_ENCODE;
    out[pos++] = '\n';
    out[pos] = '\0';
    *size = static_cast<uint32_t>(pos);
    return KXERR_NONE;
}

uint32_t KXSUP_HexToBin(const char* text, uint8_t** data, uint32_t count, uint32_t* size) {
    if (!text || !data || !size) return KXERR_INTERNALACCESS;
    if (!*data) {
        if (count == 0) {
            *size = 0;
            return KXERR_NONE;
        }
        *data = static_cast<uint8_t*>(AllocVec(count, MEMF_ANY));
        if (!*data) {
            *size = 0;
            return KXERR_NOMEMORY;
        }
        *size = count;
    }
    // Each byte consumes at least two characters, so decoding into the text
    // itself never overtakes the reading position.
    uint8_t* out = *data;
    const uint32_t room = *size;
    uint32_t written = 0;
    int high = -1;
    for (const char* p = text; *p && written < count; ++p) {
        int v = hexValue(*p);
        if (v < 0) continue;
        if (high < 0) {
            high = v;
            continue;
        }
        if (written >= room) return KXERR_DECODE;
        out[written++] = static_cast<uint8_t>(high << 4 | v);
        high = -1;
    }
    *size = written;
    return KXERR_NONE;
}
