// controlpad: reads and writes key=value settings files line by line,
// keeping comments and empty lines so that a changed pad is written back
// with everything the user put there. Lines are read in pieces of at most
// 254 characters; a longer line is continued as a further line. Saving goes
// through the safe save, so a failed write leaves the old pad.
#include "controlpad.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "files.h"
#include "log.h"
#include "memory.h"

namespace {

constexpr size_t kMaxLine = 254;

// Key and value buffers get room for eight times their text, so a caller
// may write a longer value into place.
char* copyText(const char* text) {
    if (!text) return nullptr;
    size_t n = strlen(text);
    char* copy = static_cast<char*>(AllocVec(n * 8 + 1, MEMF_CLEAR));
    if (copy) memcpy(copy, text, n + 1);
    return copy;
}

// ASCII-only folding: the process locale must not change which key matches.
bool sameNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
        if (!x) return true;
    }
}

KX_ControlPad* findLine(KX_ControlPad* pad, const char* key, bool caseSensitive) {
    if (!key) return nullptr;
    for (KX_ControlPad* line = pad; line; line = line->Next) {
        if (!line->Key) continue;
        if (caseSensitive ? strcmp(line->Key, key) == 0 : sameNoCase(line->Key, key)) return line;
    }
    return nullptr;
}

// Turns one read line (without its line feed) into a pad line.
KX_ControlPad* storeLine(KX_ControlPad* previous, char* text) {
    size_t n = strlen(text);
    if (n && text[n - 1] == '\r') text[--n] = 0;  // pads saved on Windows
    if (n == 0) return AddControlPadLine(previous, "", nullptr);
    if (text[0] == '/' || text[0] == ';' || text[0] == '\n') return AddControlPadLine(previous, "", text);
    char* eq = strchr(text, '=');
    if (!eq) return AddControlPadLine(previous, text, nullptr);
    *eq = 0;
    return AddControlPadLine(previous, text, eq + 1);
}

}  // namespace

KX_ControlPad* AddControlPadLine(KX_ControlPad* previous, const char* key, const char* value) {
    auto* line = static_cast<KX_ControlPad*>(AllocVec(sizeof(KX_ControlPad), MEMF_CLEAR));
    if (!line) return nullptr;
    line->Key = copyText(key);
    line->Value = copyText(value);
    if ((key && !line->Key) || (value && !line->Value)) {
        FreeVec(line->Key);
        FreeVec(line->Value);
        FreeVec(line);
        return nullptr;
    }
    if (previous) {
        // Linked in after the previous line; the rest of the chain follows it.
        line->Next = previous->Next;
        previous->Next = line;
    }
    return line;
}

int KXSUP_LoadControlPad(const char* path, KX_ControlPad** pad) {
    if (!pad) return 0;
    *pad = nullptr;
    FILE* f = amOpen(path, "r");
    if (!f) return 0;
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && st.st_size > 0) setvbuf(f, nullptr, _IOFBF, st.st_size < 2048 ? (size_t)st.st_size : 2048);

    KX_ControlPad* first = nullptr;
    KX_ControlPad* last = nullptr;
    char text[kMaxLine + 1];
    size_t n = 0;
    bool pieceEnded = false;  // the previous piece filled kMaxLine characters
    auto emit = [&]() {
        text[n] = 0;
        KX_ControlPad* line = storeLine(last, text);
        if (line) {  // a line that cannot be stored is dropped
            if (!first) first = line;
            last = line;
        }
        n = 0;
    };
    int c;
    while ((c = getc(f)) != EOF) {
        if (pieceEnded) {
            pieceEnded = false;
            // The line end right after a full piece belongs to that piece,
            // not to an empty line of its own.
            if (c == '\n') continue;
            if (c == '\r') {
                int d = getc(f);
                if (d == '\n') continue;
                if (d != EOF) ungetc(d, f);
            }
        }
        if (c == '\n') {
            emit();
            continue;
        }
        text[n++] = static_cast<char>(c);
        if (n == kMaxLine) {
            emit();
            pieceEnded = true;
        }
    }
    if (n) emit();
    fclose(f);
    *pad = first;
    return first ? 1 : 0;
}

int KXSUP_SaveControlPad(const char* path, KX_ControlPad* pad) {
    if (!pad || !path) return 0;
    KXSafeFile sf;
    FILE* f = KXSUP_SafeOpen(&sf, path);
    if (!f) return 0;
    bool ok = true;
    for (KX_ControlPad* line = pad; line && ok; line = line->Next) {
        if (!line->Key) continue;
        bool hasValue = line->Value && line->Value[0];
        int r;
        if (line->Key[0] && hasValue)
            r = fprintf(f, "%s=%s\n", line->Key, line->Value);
        else if (!line->Key[0] && line->Value)
            r = fprintf(f, "%s\n", line->Value);
        else
            r = fprintf(f, "%s\n", line->Key);
        if (r < 0) ok = false;
    }
    return KXSUP_SafeCommit(&sf, ok) == KXERR_NONE ? 1 : 0;
}

int KXSUP_FreeControlPad(KX_ControlPad* pad) {
    if (!pad) return 0;
    while (pad) {
        KX_ControlPad* next = pad->Next;
        FreeVec(pad->Key);
        FreeVec(pad->Value);
        FreeVec(pad);
        pad = next;
    }
    return 1;
}

int KXSUP_FindControlPad(KX_ControlPad* pad, const char* key, char** value) {
    KX_ControlPad* line = findLine(pad, key, true);
    if (value) *value = line ? line->Value : nullptr;
    return line ? 1 : 0;
}

int KXSUP_FindControlPadNoCase(KX_ControlPad* pad, const char* key, char** value) {
    KX_ControlPad* line = findLine(pad, key, false);
    if (value) *value = line ? line->Value : nullptr;
    return line ? 1 : 0;
}

int KXSUP_ModifyControlPad(KX_ControlPad* pad, const char* key, const char* value, int caseSensitive) {
    KX_ControlPad* line = findLine(pad, key, caseSensitive != 0);
    if (!line) return 0;
    char* copy = copyText(value);
    if (value && !copy) return 0;  // the old value stays
    FreeVec(line->Value);
    line->Value = copy;
    return 1;
}

int KXSUP_AddControlPad(KX_ControlPad* pad, const char* key, const char* value, int caseSensitive) {
    if (!pad || !key) return 0;
    if (findLine(pad, key, caseSensitive != 0)) return KXSUP_ModifyControlPad(pad, key, value, caseSensitive);
    KX_ControlPad* last = pad;
    while (last->Next) last = last->Next;
    return AddControlPadLine(last, key, value) ? 1 : 0;
}

KXPadNode* KXCP_FindName(List* settings, const char* name) {
    if (!settings || !name) return nullptr;
    KXLog* log = __kxlib_log_global;
    for (Node* node = GetHead(settings); node; node = GetSucc(node)) {
        const char* nodeName = node->Name ? node->Name : "";
        if (log) log->Log(9, "%-16s: cmp '%s vs. '%s'\n", "KXCP_FindName", nodeName, name);
        if (sameNoCase(nodeName, name)) return reinterpret_cast<KXPadNode*>(node);
        if (log) log->Log(9, "%-16s: Failed (once).\n", "KXCP_FindName");
    }
    if (log) log->Log(9, "%-16s: Failed (finally).\n", "KXCP_FindName");
    return nullptr;
}

int KXCP_FindPad(const char* name, KX_ControlPad** pad, List* settings) {
    KXPadNode* node = KXCP_FindName(settings, name);
    KX_ControlPad* found = node ? node->Pad : nullptr;
    if (pad) *pad = found;
    return found ? 1 : 0;
}
