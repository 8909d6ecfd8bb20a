#include "DialogSettingsModel.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "core/controlpad.h"
#include "core/kxsettings.h"
#include "core/memory.h"

namespace {

// ASCII-only folding, as the control-pad reader compares keys.
bool sameNoCase(const std::string& a, const char* b) {
    const size_t n = a.size();
    if (std::strlen(b) != n) return false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// A decimal number, or def when the text is empty or not a number.
long decimal(const std::string& text, long def) {
    if (text.empty()) return def;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE) return def;
    return v;
}

constexpr size_t kMaxDisplay = 255;

}  // namespace

KXPrefsModel::~KXPrefsModel() {
    KXSUP_FreeControlPad(pad);
    KXSUP_FreeControlPad(schema);
}

bool KXPrefsModel::Load(const std::string& padName, const std::string& settingsDir, const std::string& archiveDir) {
    KXSUP_FreeControlPad(pad);
    KXSUP_FreeControlPad(schema);
    name = padName;
    pad = KX_GetCPContent(settingsDir.c_str(), archiveDir.c_str(), padName.c_str(), ".controlpad");
    schema = KX_GetCPContent(settingsDir.c_str(), archiveDir.c_str(), padName.c_str(), ".cpinfo");
    if (!schema) {
        KXSUP_FreeControlPad(pad);
        pad = nullptr;
    }
    Rebuild();
    return schema != nullptr;
}

void KXPrefsModel::Rebuild() {
    sections.clear();
    CPSection* open = nullptr;
    bool seen[4] = {};  // TYPE, DESCRIPTION, MIN, MAX met in the open section
    for (KX_ControlPad* line = schema; line; line = line->Next) {
        if (!line->Key || !line->Key[0]) continue;  // comments and empty lines
        const char* value = line->Value ? line->Value : "";
        if (sameNoCase("SECTION", line->Key)) {
            // A SECTION without a key to edit opens nothing; the attribute
            // lines after it belong to no section.
            if (!value[0]) {
                open = nullptr;
                continue;
            }
            sections.push_back({});
            open = &sections.back();
            for (bool& b : seen) b = false;
            open->key = value;
            open->line = line;
            continue;
        }
        if (!open) continue;  // lines before the first section
        // The first line of an attribute within the section counts.
        struct Attr {
            const char* key;
            std::string* field;
            bool* seen;
        };
        const Attr attrs[] = {{"TYPE", &open->type, &seen[0]},        {"MASK", &open->mask, &open->hasMask},
                              {"DESCRIPTION", &open->description, &seen[1]}, {"DEFAULT", &open->def, &open->hasDefault},
                              {"MIN", &open->min, &seen[2]},          {"MAX", &open->max, &seen[3]}};
        for (const Attr& a : attrs)
            if (sameNoCase(a.key, line->Key)) {
                if (!*a.seen) *a.field = value;
                *a.seen = true;
                break;
            }
    }
    for (CPSection& s : sections) {
        KX_ControlPad* held = findKey(s.key);
        if (!held)
            s.display = "*" + s.key;
        else if (held->Value && held->Value[0])
            s.display = s.key + "=" + held->Value;
        else
            s.display = s.key;
        if (s.display.size() > kMaxDisplay) s.display.resize(kMaxDisplay);
    }
}

KX_ControlPad* KXPrefsModel::findKey(const std::string& key) const {
    for (KX_ControlPad* line = pad; line; line = line->Next)
        if (line->Key && key == line->Key) return line;
    return nullptr;
}

bool KXPrefsModel::IsOn(const CPSection& s) const { return findKey(s.key) != nullptr; }

std::string KXPrefsModel::CurrentValue(const CPSection& s) const {
    if (KX_ControlPad* held = findKey(s.key)) return held->Value ? held->Value : "";
    return s.def;
}

CPEditor KXPrefsModel::EditorFor(const CPSection& s) {
    if (!s.hasMask) return CPEditor::None;
    if (sameNoCase(s.type, "NONE")) return CPEditor::Switch;
    if (!s.mask.empty() && s.mask[0] == '<' && s.mask.find('|') != std::string::npos) return CPEditor::Choice;
    if (sameNoCase(s.type, "INTEGER")) return CPEditor::Integer;
    if (sameNoCase(s.type, "AREA")) return CPEditor::Area;
    for (const char* t : {"COLOR_RGB", "COLOR_RGB0", "COLOR_RGBA", "COLOR_IDX"})
        if (sameNoCase(s.type, t)) return CPEditor::Colour;
    if (sameNoCase(s.mask, "_KXOBJECT") || sameNoCase(s.mask, "_KXOPERATOR")) return CPEditor::Module;
    if (!s.mask.empty() && s.mask[0] == '_') return CPEditor::File;
    return CPEditor::Text;
}

std::vector<std::string> KXPrefsModel::Choices(const std::string& mask) {
    std::vector<std::string> out;
    if (mask.empty() || mask[0] != '<') return out;
    std::string inner = mask.substr(1);
    const size_t close = inner.rfind('>');
    if (close != std::string::npos) inner.resize(close);
    size_t from = 0;
    for (;;) {
        const size_t bar = inner.find('|', from);
        out.push_back(inner.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
        if (bar == std::string::npos) break;
        from = bar + 1;
    }
    return out;
}

void KXPrefsModel::Limits(const CPSection& s, long* min, long* max) {
    *min = decimal(s.min, 0);
    *max = decimal(s.max, 65535);
}

bool KXPrefsModel::SwitchOn(size_t index) {
    const bool ok = addKey(index);
    Rebuild();
    return ok;
}

bool KXPrefsModel::addKey(size_t index) {
    if (index >= sections.size()) return false;
    const CPSection& s = sections[index];
    if (findKey(s.key)) return true;
    if (!pad) {
        pad = AddControlPadLine(nullptr, s.key.c_str(), s.def.c_str());
        return pad != nullptr;
    }
    return KXSUP_AddControlPad(pad, s.key.c_str(), s.def.c_str(), 1) != 0;
}

bool KXPrefsModel::Store(size_t index, const std::string& value) {
    if (!addKey(index)) return false;
    const std::string key = sections[index].key;
    const bool ok = KXSUP_ModifyControlPad(pad, key.c_str(), value.c_str(), 1) != 0;
    Rebuild();
    return ok;
}

void KXPrefsModel::Disable(size_t index) {
    if (index >= sections.size()) return;
    const std::string key = sections[index].key;
    KX_ControlPad** link = &pad;
    while (*link && !((*link)->Key && key == (*link)->Key)) link = &(*link)->Next;
    if (KX_ControlPad* gone = *link) {
        *link = gone->Next;
        FreeVec(gone->Key);
        FreeVec(gone->Value);
        FreeVec(gone);
    }
    Rebuild();
}

bool KXPrefsModel::SaveTo(const std::string& dir) const {
    if (pad) return KX_PutCPContent(dir.c_str(), pad, name.c_str(), ".controlpad");
    // Nothing left to keep: the file goes, so the module's defaults apply.
    return unlink((dir + name + ".controlpad").c_str()) == 0 || errno == ENOENT;
}
