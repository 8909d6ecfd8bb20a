// DialogShowEXIF: the one window on the current image's metadata record.
// It shows the texts, the compression note, the orientation and which
// EXIF, IPTC, XMP and ICC blocks the file carried; it sets the texts and the
// orientation, strips whole groups, exports and imports the XMP packet,
// exports the GPS position as a GPX 1.1 waypoint and opens it in the map
// services, and opens the detail dialogs. Every change goes to the bridge's
// editable copy (made before the first change), never to the reader's own
// record, and sets `changed` so the caller can mark the picture modified.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class UiServices;
class KXClass;
struct KXOSpecialInfo;

// A metadata text as Qt text: UTF-8 when the bytes are valid UTF-8, else
// Latin-1. Null gives an empty text.
QString KX_MetaText(const char* bytes);
QString KX_MetaText(const char* bytes, qsizetype length);

// The GPS position of an EXIF block: latitude and longitude in signed
// decimal degrees and their texts for the map links. False (and nothing
// set) unless the block opens and all four values (latitude, its
// reference, longitude, its reference) are read and parse.
struct KXGpsPosition {
    double latitude = 0, longitude = 0;
    QString latText, lonText;  // general form, 15 significant digits, "-" for S and W
};
bool KX_GpsFromExif(const uint8_t* exif, uint32_t size, KXGpsPosition* pos);
// The GPX 1.1 file of one waypoint at the position, line by line ("\n").
QByteArray KX_GpxDocument(double latitude, double longitude);

// The editable copy of the bridge's record: makes it when *cloned is
// false, then sets *info to the bridge's current record; false (*info
// kept) when the copy cannot be made or there is no record.
bool KX_EditableMetaData(bool* cloned, KXOSpecialInfo** info);

class DialogShowEXIF : public QDialog {
    Q_OBJECT
public:
    DialogShowEXIF(UiServices* ui, QWidget* parent = nullptr);
    ~DialogShowEXIF() override;

    // Stores the arguments and fills the window (the caller shows it).
    void PrepareP(KXOSpecialInfo* info, KXClass* kxclass, const QString& atomstr, bool cmsactive,
                  const QString& progdir);
    // PrepareP, then shown modally.
    int ShowDialogP(KXOSpecialInfo* info, KXClass* kxclass, const QString& atomstr, bool cmsactive,
                    const QString& progdir);
    void UpdateContent();

    // How a nested dialog is shown (default: exec); the window's own
    // showModal goes here so tests can script the detail dialogs.
    std::function<int(QDialog*)> showModal;
    // Opens the colour-space dialog on the record; unset: its button stays
    // disabled.
    std::function<void(KXOSpecialInfo*)> showColourSpace;
    // Set by every change that reached the record.
    bool changed = false;

    KXOSpecialInfo* info() const { return _info; }
    const QString& gpsText(int which) const { return which == 0 ? GPSText : which == 1 ? GPSText2 : GPSText3; }
    double Latitude = 0, Longitude = 0;

    QLineEdit *textBoxAnno, *textBoxAuth, *textBoxCopy, *textBoxName, *textBoxMore1, *textBoxMore2, *textBoxMore3,
        *textBoxMore4;
    QPushButton *buttonSetAnno, *buttonSetAuth, *buttonSetCopy, *buttonSetName, *buttonSetMore1, *buttonSetMore2,
        *buttonSetMore3, *buttonSetMore4;
    QCheckBox *checkBoxMeta, *checkBoxCompDetails, *checkBoxOrient, *checkBoxExif, *checkBoxIptc, *checkBoxXmp,
        *checkBoxCMS, *checkBoxGPS;
    QLabel *labelCompDetails, *labelOrient;
    QSpinBox* numericOrientation;
    QPushButton *ShowEXIF, *buttonSaveEXIFData, *buttonLoadEXIFData, *ShowIPTC, *buttonSaveIPTCData,
        *buttonLoadIPTCData, *ShowXMP, *buttonSaveXMP, *buttonLoadXMP, *ShowCMS, *buttonSaveICCProfile,
        *buttonLoadICCProfile, *ShowGPS, *ShowGPS2, *showGPS3, *buttonSaveGPX, *buttonCancel;

private:
    // Makes the editable copy when needed and reloads _info; false when no
    // copy could be made (the change is dropped).
    bool copyStep() { return KX_EditableMetaData(&_cloned, &_info); }
    void setText(int field, QLineEdit* box);
    void strip(QCheckBox* box);
    void openDetail(int which);
    void saveXmp();
    void loadXmp();
    void saveGpx();
    void openMap(int which);
    void info(const QString& text);
    void error(const QString& text);
    int modal(QDialog* d);

    UiServices* ui;
    KXOSpecialInfo* _info = nullptr;
    KXOSpecialInfo* ownInfo = nullptr;  // the zero-filled record when the caller gave none
    KXClass* _kxclass = nullptr;
    QString _atomstr, _progdir;
    bool _cmsactive = false;
    bool _cloned = false;
    bool filling = false;
    QString GPSText, GPSText2, GPSText3;
};
