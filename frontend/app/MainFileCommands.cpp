// Main: the file commands: open (with the platform decoder behind the
// library's readers), save with the save-format lists, import and export
// of the alpha channel.
#include "Main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include "ActionTable.h"
#include "MainShared.h"
#include "UiServices.h"
#include "core/writerendings.h"

using kxmain::fileNameOf;
using kxmain::filterFor;

using kxactions::ActionDef;

uint32_t Main::LoadFile(const QString& path) {
    bool hidden = false;
    if (iniload || (app.Settings.HiddenView && checkBoxAutoView->isChecked())) {
        hide();
        hidden = true;
    }
    checkBoxArea->setChecked(false);
    QByteArray name = QFile::encodeName(path);
    uint32_t r = app.LoadFile(name.constData());
    if (r == 0) {
        loadRememberPath = QFileInfo(path).absolutePath();
        shownFile = QFileInfo(path).absoluteFilePath();
        UpdateImageInfo(KX_GetGfxBuffer());
        if (checkBoxAutoView->isChecked()) cmdView();
    }
    if (hidden && !quitRequest) show();
    return r;
}

uint32_t Main::DecodeImage(const char* path, KXDecodedImage* image) {
    QImageReader reader(QFile::decodeName(path));
    reader.setAutoTransform(false);
    QImage img = reader.read();
    if (img.isNull()) return 1;
    image->Format = reader.format().toUpper().toStdString();
    img = img.convertToFormat(QImage::Format_ARGB32);
    if (img.isNull()) return 3;
    image->Width = uint32_t(img.width());
    image->Height = uint32_t(img.height());
    image->Stride = size_t(img.bytesPerLine());
    // ARGB32 is one 32-bit word per pixel: blue, green, red, alpha in memory
    // on this little-endian machine.
    const uchar* bits = img.constBits();
    image->Pixels.assign(bits, bits + img.sizeInBytes());
    return 0;
}

QString Main::startFolder(const QString& own, const QString& other) const {
    if (!shownFile.isEmpty()) {
        const QString folder = QFileInfo(shownFile).absolutePath();
        if (QDir(folder).exists()) return folder;
    }
    // The remembered folders start as the pictures folder: one that differs
    // was chosen by the user.
    for (const QString& folder : {own, other})
        if (!folder.isEmpty() && folder != picturesDir && QDir(folder).exists()) return folder;
    return QDir(picturesDir).exists() ? picturesDir : QDir::homePath();
}

void Main::cmdOpen() {
    const QString path = ui->OpenFileName(this, startFolder(loadRememberPath, saveRememberPath), loadRememberFile,
                                          QStringLiteral("All Files (*)"));
    if (path.isEmpty() || !mayReplacePicture()) return;
    loadRememberPath = QFileInfo(path).absolutePath();
    loadRememberFile = fileNameOf(path);
    LoadFile(path);
}

// The save-format list offers the writers that are real modules, in
// writer-table order; each item carries its writer-table index.
void Main::fillSaveFormats() {
    formatGuard = true;
    comboBoxFormat->clear();
    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    for (int i = 0; kxoWrite && kxoWrite[i]; ++i) {
        bool built = false;
        for (uint32_t r = 0; r < count; ++r)
            if (regs[r].Writer == i) built = KX_IsBuilt(regs[r].ClassName);
        if (built) comboBoxFormat->addItem(QString::fromUtf8(kxoWrite[i]->FormatName), i);
    }
    formatGuard = false;
}

// Selects the list item of a writer-table index; a writer that is not
// offered leaves PNG (or the first offered writer) selected.
void Main::selectWriter(int index) {
    int item = comboBoxFormat->findData(index);
    if (item < 0) item = comboBoxFormat->findData(int(KXWRITER_PNG));
    if (item < 0 && comboBoxFormat->count() > 0) item = 0;
    comboBoxFormat->setCurrentIndex(item);
}

int Main::selectedWriter() const {
    const QVariant v = comboBoxFormat->currentData();
    return v.isValid() ? v.toInt() : -1;
}

// Hands the chosen writer and subtype to the bridge and makes the save
// dialog's filter its format's usual endings; returns the first of them
// ("jpg"), the one a name without an ending gets, or empty.
QString Main::chooseWriter() {
    const int format = selectedWriter();
    KX_SetSaveFormat(uint32_t(format < 0 ? 0x7FFFFFFF : format), uint32_t(std::max(0, comboBoxSubFormat->currentIndex())));
    KXObject* w = format < 0 ? nullptr : KX_GetSaveFormat(uint32_t(format));
    char ext[64] = {};
    if (!w || w->GetExtension(ext) != 0 || !ext[0]) return QString();
    const char* className = nullptr;
    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    for (uint32_t r = 0; r < count; ++r)
        if (regs[r].Writer == format) className = regs[r].ClassName;
    QStringList endings;
    for (const std::string& e : KX_WriterEndings(className, ext)) endings << QString::fromStdString(e);
    if (endings.isEmpty()) return QString();
    saveFilter = filterFor(comboBoxFormat->currentText(), endings);
    return endings.constFirst();
}

// A name without an ending gets the writer's usual one.
QString Main::withExtension(const QString& path, const QString& ext) const {
    if (ext.isEmpty() || fileNameOf(path).contains(QLatin1Char('.'))) return path;
    return path + QLatin1Char('.') + ext;
}

bool Main::cmdSave() {
    // Without a picture the dialog would only lead to an error afterwards.
    if (!KX_GetGfxBuffer()) {
        app.Status((Msg("TXT_ERROR_SAVING") + QStringLiteral(": ") + Msg("TXT_NO_FILE_LOADED")).toStdString());
        return false;
    }
    const QString ext = chooseWriter();
    QString path = ui->SaveFileName(this, startFolder(saveRememberPath, loadRememberPath), saveRememberFile, saveFilter);
    if (path.isEmpty()) {
        SetStatusLight(KXStatusLight::Green);
        return false;
    }
    path = withExtension(path, ext);
    QByteArray name = QFile::encodeName(path);
    if (app.SaveFile(name.constData(), uint32_t(selectedWriter()), uint32_t(std::max(0, comboBoxSubFormat->currentIndex()))) != 0)
        return false;
    saveRememberPath = QFileInfo(path).absolutePath();
    saveRememberFile = fileNameOf(path);
    return true;
}

void Main::fillSubFormats() {
    comboBoxSubFormat->clear();
    const int format = selectedWriter();
    KXObject* w = format < 0 ? nullptr : KX_GetSaveFormat(uint32_t(format));
    if (!w || !w->SubFormatCount) {
        comboBoxSubFormat->addItem(QString());
        return;
    }
    for (uint32_t i = 0; i < w->SubFormatCount && i < 16; ++i) comboBoxSubFormat->addItem(QString::fromUtf8(w->SubFormatNames[i]));
    comboBoxSubFormat->setCurrentIndex(0);
}

void Main::cmdImportAlpha() {
    if (!KX_GetGfxBuffer()) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    const QString path = ui->OpenFileName(this, startFolder(loadRememberPath, saveRememberPath), loadRememberFile,
                                          QStringLiteral("All Files (*)"));
    if (path.isEmpty()) {
        app.Status(Text("TXT_ADDALPHA_NO_SOURCE"));
        return;
    }
    std::unique_ptr<KXConfig> cfg(app.MakeOperatorSettings(KXOP_ADDALPHA));
    QByteArray p = QFile::encodeName(path);
    uint32_t err = cfg ? 0u : uint32_t(KXERR_NOMEMORY);
    if (!err) {
        cfg->SetValue("ALPHA_MODE", "SOURCE");
        cfg->SetValue("SCALE_SOURCEGFX", "ON");
        cfg->SetValue("ALPHA_SOURCE", p.constData());
    }
    if (!err) err = app.DoOperation(KX_GetGfxBuffer(), nullptr, KXOP_ADDALPHA, cfg.get());
    if (err) statusError(err);
}

void Main::cmdExportAlpha() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    const uint32_t kind = KXSUP_AlphaHolds(img);
    if (kind != KXALPHA_CHANNEL8) {
        if (kind == KXALPHA_SINGLECOLOR || kind == KXALPHA_MULTICOLOR) {
            const QString q = Msg("TXT_NO_ALPHA") + "\n" + Msg("TXT_TRANSPARENCY_OK") + "\nConvert graphics to truecolor with Alpha?";
            if (!AskYesNo(KXMessageKind::Request, q.toStdString())) {
                statusError(KXERR_NOVIEWABLEDATA);
                return;
            }
            if (const ActionDef* to24 = kxactions::Find(QStringLiteral("depth.24"))) runAction(*to24);
            img = KX_GetGfxBuffer();
            if (KXSUP_AlphaHolds(img) != KXALPHA_CHANNEL8) return;
        } else {
            ShowMessage(KXMessageKind::Error, Text("TXT_NO_ALPHA"));
            statusError(KXERR_NOVIEWABLEDATA);
            return;
        }
    }
    const QString ext = chooseWriter();
    QString path = ui->SaveFileName(this, startFolder(saveRememberPath, loadRememberPath), saveRememberFile, saveFilter);
    if (path.isEmpty()) return;
    path = withExtension(path, ext);
    SetBusyCursor(true);
    app.Status(Text("TXT_SAVING_ALPHA"));
    app.Tasks.Begin();
    SetStatusLight(KXStatusLight::Yellow);
    QByteArray name = QFile::encodeName(path);
    uint32_t err = KX_SaveAlpha(name.constData());
    app.Tasks.End();
    SetStatusLight(KXStatusLight::Green);
    if (err) app.Status((Msg("TXT_ERROR_SAVING") + ": " + QString::fromUtf8(KXL_GetErrorString(err))).toStdString());
    else app.Status(Text("TXT_DONE"));
    SetBusyCursor(false);
}
