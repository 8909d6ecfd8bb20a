#include "DialogMetaXmp.h"

#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include "DialogMetaInfo.h"
#include "UiServices.h"
#include "core/kxclass.h"
#include "core/object.h"

namespace {

// A page built from untrusted bytes loads nothing: no images, no style
// sheets, no other documents.
class QuietBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int, const QUrl&) override { return QVariant(); }
};

xmlParserInputPtr refuseEntity(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

// Every external entity, DTD or document libxml2 would fetch while one
// packet is parsed and transformed is refused (the loader is process-wide:
// the old one comes back when this ends).
struct NoExternalLoads {
    xmlExternalEntityLoader old = xmlGetExternalEntityLoader();
    NoExternalLoads() { xmlSetExternalEntityLoader(refuseEntity); }
    ~NoExternalLoads() { xmlSetExternalEntityLoader(old); }
};

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

}  // namespace

bool KX_XmpToHtml(const QByteArray& packet, const QString& styleSheet, QString* html, int* code) {
    *code = 0;
    html->clear();
    // The style sheet is ours, read before external loads are shut off.
    QFile sheetFile(styleSheet);
    if (!sheetFile.open(QIODevice::ReadOnly)) {
        *code = 1;
        return false;
    }
    const QByteArray sheetBytes = sheetFile.readAll();
    xmlDocPtr sheetDoc = xmlReadMemory(sheetBytes.constData(), int(sheetBytes.size()), "defaultss.xsl", nullptr, kParseOptions);
    xsltStylesheetPtr sheet = sheetDoc ? xsltParseStylesheetDoc(sheetDoc) : nullptr;
    if (!sheet) {
        if (sheetDoc) xmlFreeDoc(sheetDoc);
        *code = 1;
        return false;
    }

    // The packet is UTF-8 text; bytes that are not are read as Latin-1. Its
    // own encoding declaration is overridden to match.
    QByteArray text = packet;
    if (const qsizetype zero = text.indexOf('\0'); zero >= 0) text.truncate(zero);
    text = KX_MetaText(text.constData(), text.size()).toUtf8();

    bool ok = false;
    NoExternalLoads guard;
    xmlParserCtxtPtr parser = xmlNewParserCtxt();
    xsltSecurityPrefsPtr prefs = xsltNewSecurityPrefs();
    if (!parser) {
        *code = 2;
    } else if (!prefs) {
        *code = 3;
    } else {
        xmlDocPtr doc = xmlCtxtReadMemory(parser, text.constData(), int(text.size()), "xmp.xml", "UTF-8", kParseOptions);
        xsltTransformContextPtr ctxt = doc ? xsltNewTransformContext(sheet, doc) : nullptr;
        if (doc && !ctxt) *code = 3;
        if (ctxt) {
            for (xsltSecurityOption o : {XSLT_SECPREF_READ_FILE, XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
                                         XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK})
                xsltSetSecurityPrefs(prefs, o, xsltSecurityForbid);
            if (xsltSetCtxtSecurityPrefs(prefs, ctxt) != 0) {
                *code = 3;
            } else if (xmlDocPtr result = xsltApplyStylesheetUser(sheet, doc, nullptr, nullptr, nullptr, ctxt)) {
                xmlChar* out = nullptr;
                int length = 0;
                if (ctxt->state == XSLT_STATE_OK && xsltSaveResultToString(&out, &length, result, sheet) == 0 && out) {
                    *html = QString::fromUtf8(reinterpret_cast<const char*>(out), length);
                    ok = true;
                } else {
                    *code = ctxt->state == XSLT_STATE_OK ? 4 : 0;
                }
                xmlFree(out);
                xmlFreeDoc(result);
            }
            xsltFreeTransformContext(ctxt);
        }
        if (doc) xmlFreeDoc(doc);
    }
    if (prefs) xsltFreeSecurityPrefs(prefs);
    if (parser) xmlFreeParserCtxt(parser);
    xsltFreeStylesheet(sheet);
    return ok;
}

QByteArray KX_XmpPacket(const KXOSpecialInfo* info) {
    const auto view = [](const uint8_t* b, uint32_t n) {
        return QByteArray::fromRawData(reinterpret_cast<const char*>(b), qsizetype(n));
    };
    if (info && info->Xmp0 && info->Xmp0Size) return view(info->Xmp0, info->Xmp0Size);
    if (info && info->Xmp1 && info->Xmp1Size) return view(info->Xmp1, info->Xmp1Size);
    return QByteArray();
}

DialogShowMetaDetailsXmp::DialogShowMetaDetailsXmp(UiServices* u, QWidget* parent) : QDialog(parent), ui(u) {
    setWindowTitle(QStringLiteral("Show XMP Details"));
    XmpBrowser = new QuietBrowser(this);
    XmpBrowser->setObjectName(QStringLiteral("XmpBrowser"));
    XmpBrowser->setOpenLinks(false);
    XmpBrowser->setOpenExternalLinks(false);
    XmpBrowser->setMinimumSize(640, 480);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->addWidget(XmpBrowser);
}

bool DialogShowMetaDetailsXmp::PrepareP(KXOSpecialInfo* info, KXClass* kxclass, const QString&, const QString& progdir) {
    const QByteArray packet = KX_XmpPacket(info);
    QString dir = progdir;
    if (dir.isEmpty() && kxclass && kxclass->ProgDir) dir = QFile::decodeName(kxclass->ProgDir);
    QString html;
    int code = 0;
    if (!KX_XmpToHtml(packet, dir + QStringLiteral("/Resources/XML/defaultss.xsl"), &html, &code)) {
        ui->Message(parentWidget(), QStringLiteral("Kaxon5 Error"), QStringLiteral("XML Parsing Failure! [code %1]").arg(code),
                    UiServices::Icon::Critical);
        return false;
    }
    XmpBrowser->setHtml(html);
    return true;
}

int DialogShowMetaDetailsXmp::ShowDialogP(KXOSpecialInfo* info, KXClass* kxclass, const QString& atomstr) {
    return PrepareP(info, kxclass, atomstr) ? exec() : QDialog::Rejected;
}
