// DialogShowMetaDetailsXmp: the record's XMP packet as a page. libxslt
// applies our style sheet Resources/XML/defaultss.xsl to the packet and a
// QTextBrowser shows the HTML. The packet is untrusted: it is parsed from
// memory with no network, no entity substitution and no DTD loading, every
// external entity or document load is refused, and the transform may
// neither read nor write files or the network. The page loads nothing
// either.
#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;
class UiServices;
class KXClass;
struct KXOSpecialInfo;

// The packet (UTF-8, or Latin-1 when its bytes are not UTF-8) through the
// style sheet: 0 and *html set, or a failure code for "XML Parsing Failure!
// [code N]": 1 the style sheet cannot be read or compiled, 2 no parser,
// 3 no transform context, 4 no output, 0 the packet does not parse or the
// transform fails.
bool KX_XmpToHtml(const QByteArray& packet, const QString& styleSheet, QString* html, int* code);
// The record's packet, Xmp0 or else Xmp1, as a view of the record's bytes
// (valid while the block is); empty without either.
QByteArray KX_XmpPacket(const KXOSpecialInfo* info);

class DialogShowMetaDetailsXmp : public QDialog {
    Q_OBJECT
public:
    DialogShowMetaDetailsXmp(UiServices* ui, QWidget* parent = nullptr);
    // Xmp0, or Xmp1 without it, through the program directory's style
    // sheet (kxclass's program directory when progdir is empty). False after
    // the failure message: the window is then not shown.
    bool PrepareP(KXOSpecialInfo* info, KXClass* kxclass, const QString& atomstr, const QString& progdir = QString());
    int ShowDialogP(KXOSpecialInfo* info, KXClass* kxclass, const QString& atomstr);

    QTextBrowser* XmpBrowser;

private:
    UiServices* ui;
};
