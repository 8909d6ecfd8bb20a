// The settings editor's model, without widgets: a module's control pad,
// its schema (".cpinfo", a control pad whose SECTION lines open one section
// per pad key with TYPE, MASK, DESCRIPTION, DEFAULT, MIN and MAX after it),
// the section list with its display texts, and the edits the dialog makes
// (store a value, switch a key on or off, save the pad or delete its file).
// A section's attributes are those between its SECTION line and the next
// one: a section never borrows another's limits.
#pragma once

#include <string>
#include <vector>

struct KX_ControlPad;

// Which value editor a section opens, in the order the editor tries them.
enum class CPEditor { None, Switch, Choice, Integer, Area, Colour, Module, File, Text };

struct CPSection {
    std::string key;          // the pad key (the SECTION line's value)
    std::string type, mask, description, def, min, max;
    bool hasMask = false, hasDefault = false;
    std::string display;      // "KEY=value", "KEY" or "*KEY"
    KX_ControlPad* line = nullptr;  // its SECTION line in the schema
};

class KXPrefsModel {
public:
    KXPrefsModel() = default;
    ~KXPrefsModel();
    KXPrefsModel(const KXPrefsModel&) = delete;
    KXPrefsModel& operator=(const KXPrefsModel&) = delete;

    // Loads name + ".controlpad" and name + ".cpinfo", each from the settings
    // directory, else from the archive settings directory (both end in "/").
    // Without a schema the pad is released and nothing is listed; false then.
    bool Load(const std::string& name, const std::string& settingsDir, const std::string& archiveDir);
    bool HasSchema() const { return schema != nullptr; }

    const std::vector<CPSection>& Sections() const { return sections; }

    bool IsOn(const CPSection& s) const;
    // The pad's value, else DEFAULT, else empty.
    std::string CurrentValue(const CPSection& s) const;
    static CPEditor EditorFor(const CPSection& s);
    // The choices of a "<a|b|c>" mask, in order.
    static std::vector<std::string> Choices(const std::string& mask);
    // MIN and MAX as decimal numbers (0 and 65535 when absent or not numbers).
    static void Limits(const CPSection& s, long* min, long* max);

    // Stores value for the section's key (switched on first with DEFAULT).
    bool Store(size_t index, const std::string& value);
    // Switches the key on with its DEFAULT value.
    bool SwitchOn(size_t index);
    // Removes the key's line from the pad; the pad's other lines stay.
    void Disable(size_t index);

    // Writes the pad to dir + name + ".controlpad", or deletes that file when
    // there is no pad. False when the file could not be written or deleted.
    bool SaveTo(const std::string& dir) const;

    const std::string& Name() const { return name; }
    KX_ControlPad* Pad() const { return pad; }

private:
    // The sections from the schema and their display texts from the pad;
    // every edit ends with it.
    void Rebuild();
    // SwitchOn without the rebuild (Store rebuilds once, after its value).
    bool addKey(size_t index);
    KX_ControlPad* findKey(const std::string& key) const;

    std::string name;
    KX_ControlPad* pad = nullptr;
    KX_ControlPad* schema = nullptr;
    std::vector<CPSection> sections;
};
