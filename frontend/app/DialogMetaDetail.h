// The metadata detail dialogs, opened from DialogShowEXIF: the EXIF
// editor (DialogShowMetaDetailsExif), the IPTC editor
// (DialogShowMetaDetailsIptc) and the maker-note list
// (DialogShowExifMakerNote). Each lists its block entry by entry in a
// fixed-pitch list; the editors replace or remove the selected entry and
// add one the block lacks.
//
// An edit parses the record's block with libexif or libiptcdata, builds the
// new entry first, swaps it for the old one in the entry's own directory
// (GPS and Interoperability entries stay where they are), serialises the
// block once and only then replaces the record's block; any failure leaves
// the old block as it was. The serialised bytes are copied into our own
// memory (AllocVec) and the library's buffer freed by the library. The
// replacement (KX_MetaReplaceBlock) brings along the record's texts and
// orientation that came from the block, so that the writers, which write
// such a text only where no block carries it, write the new value.
#pragma once

#include <QDialog>
#include <QString>
#include <QVector>
#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class UiServices;
struct KXOSpecialInfo;
struct _ExifData;
struct _ExifMnoteData;

// ---- the block functions the editors run ------------------------------------------

struct KXExifRow {
    QString line;       // as listed: "%-32s%-16s%s"
    QString name;       // libexif's table name
    int tag = 0, ifd = 0, format = 0;
    unsigned long components = 0;
};
// The listed entries of an EXIF block; *makerNote tells whether the EXIF
// directory holds a maker note.
QVector<KXExifRow> KX_ExifRows(const uint8_t* exif, uint32_t size, bool* makerNote = nullptr);
QString KX_ExifFormatName(int format);
bool KX_ExifEditable(int format, unsigned long components);
// A number as an EXIF rational: denominator and numerator scaled by 8 until
// either reaches 2^28; Rational (sign false) takes negatives as 0.
void KX_ExifRational(float value, bool sign, int64_t* numerator, uint32_t* denominator);

// Result codes of the edits.
enum KXMetaEdit : uint32_t {
    KXMETA_OK = 0,
    KXMETA_NOT_EDITABLE = 1,  // format not editable (or several components)
    KXMETA_NOT_FOUND = 2,     // no such entry, or the block does not parse
    KXMETA_BAD_VALUE = 3,     // the text is not a number of the entry's format
    KXMETA_NO_MEMORY = 4,
    KXMETA_FAILED = 5,        // the entry could not be made, added or the block serialised
};
// Replaces the entry tag of directory ifd with the value text (UTF-8).
uint32_t KX_ExifUpdate(KXOSpecialInfo* info, int ifd, int tag, int format, unsigned long components,
                       const QByteArray& value);
// Removes the entry tag of directory ifd.
uint32_t KX_ExifRemove(KXOSpecialInfo* info, int ifd, int tag);
// The tags a block may take that it lacks, by name, each with the
// directory it would go to (the EXIF directory for tags 33434-42016, else
// the first) and its usual format; only formats the editor can write.
QVector<KXExifRow> KX_ExifAddable(const uint8_t* exif, uint32_t size);
// Adds the entry tag with the value text to the block (refused when the
// block holds it already).
uint32_t KX_ExifAdd(KXOSpecialInfo* info, int tag, int format, const QByteArray& value);
// Gives the record's EXIF block the orientation value (0 removes the entry)
// so that a save never says otherwise than the record: an entry that cannot
// take the value goes. A block without the entry stays as it is.
uint32_t KX_ExifSetOrientation(KXOSpecialInfo* info, uint32_t value);

struct KXIptcRow {
    QString line;
    QString name;
    int record = 0, dataset = 0, format = 0;
    unsigned maxLength = 0;
};
QVector<KXIptcRow> KX_IptcRows(const uint8_t* iptc, uint32_t size);
QString KX_IptcFormatName(int format);
bool KX_IptcEditable(int format);
// Removes the first record:dataset and appends one with the value at the
// end of the records.
uint32_t KX_IptcUpdate(KXOSpecialInfo* info, int record, int dataset, int format, const QByteArray& value);
uint32_t KX_IptcRemove(KXOSpecialInfo* info, int record, int dataset);
// The datasets of libiptcdata's table with an editable format that the
// block lacks; adding one appends it to the records.
QVector<KXIptcRow> KX_IptcAddable(const uint8_t* iptc, uint32_t size);
uint32_t KX_IptcAdd(KXOSpecialInfo* info, int record, int dataset, int format, const QByteArray& value);

// ---- the dialogs ----------------------------------------------------------------------

// The shared look: the list, the selected row, the clipboard buttons, the
// entry's fields, Update, Remove, Add... and Done; and the editors' shared
// steps: the record taken, the selected entry shown, updated or removed on
// the editable copy and the list rebuilt after it.
class DialogMetaList : public QDialog {
    Q_OBJECT
public:
    DialogMetaList(UiServices* ui, const QString& title, const QString& allToClip, QWidget* parent);
    ~DialogMetaList() override;
    // Rebuilds the list from the record; false when it has no rows.
    virtual bool UpdateContent() { return true; }

    QListWidget* listBoxTags;
    QLineEdit *textBoxTag, *textBoxNum, *textBoxIFD, *textBoxName, *textBoxTiffTag, *textBoxTypeInt, *textBoxType,
        *textBoxSize, *textBoxContent;
    QLabel* labelContent;
    QPushButton *buttonCopyLineToClip, *buttonCopyAllToClip, *buttonOK, *buttonEdit, *buttonRemove, *buttonAdd;
    int max_index = 0;
    // How a nested dialog is shown (default: exec).
    std::function<int(QDialog*)> showModal;
    // Set by every change that reached the record.
    bool changed = false;

protected:
    void error(const QString& text);
    void setRows(const QStringList& rows);
    bool copyStep();
    // Takes the record (a zero-filled one of our own when null) and fills
    // the list a first time; UpdateContent's answer.
    bool prepare(KXOSpecialInfo* info);
    void showEntry(int row, int group, const QString& name, int tag, int format, const QString& type,
                   unsigned long size);
    virtual void rowSelected(int row) = 0;
    // An editor's own steps on a row of its list (0 <= row < entryCount()).
    virtual int entryCount() const { return 0; }
    virtual bool editable(int) const { return false; }
    virtual bool hasBlock() const { return false; }
    virtual uint32_t updateEntry(int, const QByteArray&) { return KXMETA_NOT_EDITABLE; }
    virtual uint32_t removeEntry(int) { return KXMETA_NOT_FOUND; }
    // Add...: the entries the block could take (their texts for the
    // choice), the chosen one shown in the fields, and, on Update, added
    // with the content; then the row that shows it.
    virtual QStringList addableEntries() { return {}; }
    virtual void showAddable(int) {}
    virtual uint32_t addEntry(const QByteArray&) { return KXMETA_NOT_EDITABLE; }
    virtual int addedRow() const { return -1; }
    // Add... is live while the editor has a block to add to.
    void enableAdd();

    UiServices* ui;
    KXOSpecialInfo* _info = nullptr;
    KXOSpecialInfo* ownInfo = nullptr;
    bool _cloned = false;
    bool _initial = false;
    bool do_not_edit_tag = false;

private:
    int selectedEntry() const;
    void updateSelected();
    void removeSelected();
    void addClicked();
    bool adding = false;  // the fields show a chosen entry to add
};

class DialogShowMetaDetailsExif : public DialogMetaList {
    Q_OBJECT
public:
    explicit DialogShowMetaDetailsExif(UiServices* ui, QWidget* parent = nullptr);
    // Fills the list (shown even without rows); true: show it.
    bool PrepareP(KXOSpecialInfo* info);
    int ShowDialogP(KXOSpecialInfo* info);
    // Rebuilds the list; false when a rebuild after a change finds no rows
    // (the dialog then closes).
    bool UpdateContent() override;
    const QVector<KXExifRow>& rows() const { return entries; }
    QPushButton* buttonViewMakerNote;

private:
    void rowSelected(int row) override;
    int entryCount() const override { return int(entries.size()); }
    bool editable(int row) const override;
    bool hasBlock() const override;
    uint32_t updateEntry(int row, const QByteArray& value) override;
    uint32_t removeEntry(int row) override;
    QStringList addableEntries() override;
    void showAddable(int index) override;
    uint32_t addEntry(const QByteArray& value) override;
    int addedRow() const override;
    void viewMakerNote();
    QVector<KXExifRow> entries, addable;
    KXExifRow pending;
};

class DialogShowMetaDetailsIptc : public DialogMetaList {
    Q_OBJECT
public:
    explicit DialogShowMetaDetailsIptc(UiServices* ui, QWidget* parent = nullptr);
    // False after "IPTC Parsing Failure!" when the block has no rows.
    bool PrepareP(KXOSpecialInfo* info);
    int ShowDialogP(KXOSpecialInfo* info);
    bool UpdateContent() override;
    const QVector<KXIptcRow>& rows() const { return entries; }

private:
    void rowSelected(int row) override;
    int entryCount() const override { return int(entries.size()); }
    bool editable(int row) const override;
    bool hasBlock() const override;
    uint32_t updateEntry(int row, const QByteArray& value) override;
    uint32_t removeEntry(int row) override;
    QStringList addableEntries() override;
    void showAddable(int index) override;
    uint32_t addEntry(const QByteArray& value) override;
    int addedRow() const override;
    QVector<KXIptcRow> entries, addable;
    KXIptcRow pending;
};

class DialogShowExifMakerNote : public DialogMetaList {
    Q_OBJECT
public:
    explicit DialogShowExifMakerNote(UiServices* ui, QWidget* parent = nullptr);
    // False after "Sorry, no known MakerNotes found. Exiting..." without rows.
    bool PrepareP(KXOSpecialInfo* info, _ExifData* data, _ExifMnoteData* note);

private:
    void rowSelected(int) override {}
};
