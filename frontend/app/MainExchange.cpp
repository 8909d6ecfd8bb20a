// Main: the exchange commands: copy (the image or the area) and its alpha
// channel to the clipboard, open from the clipboard, paste (into the area
// when one is selected), the screen grab, printing with its set-up and
// preview, and acquisition from scanners and cameras.
//
// Pictures that come in are written to the clipboard files in the
// library's temporary directory and read through the reader table with a
// reader of their own, so one that fails costs the current picture
// nothing; each file is removed once it has been read.
#include "Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGuiApplication>
#include <QPrinter>
#include <QScreen>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

#include "Acquire.h"
#include "Clipboard.h"
#include "OwnOperator.h"
#include "Printing.h"
#include "UiServices.h"
#include "View.h"
#include "core/kxopnumbers.h"

namespace {

std::string errorText(uint32_t code) { return KXL_GetErrorString(code); }
}  // namespace

QString Main::clipFile(int index) const { return QFile::decodeName(app.ClipFileName(index).c_str()); }

// Reads a clipboard or acquisition file as the new current picture, without
// metadata; the file goes afterwards.
uint32_t Main::openVirtual(const QString& path, const char* statusKey) {
    const QByteArray name = QFile::encodeName(path);
    app.Tasks.Threaded = app.Settings.ThreadedProgress;
    app.Tasks.Begin();
    app.Status(Text(statusKey));
    KXObject* reader = nullptr;
    const char* file = name.constData();
    const uint32_t r = app.Tasks.Run([file, &reader] { return KX_ReadWithOwnReader(file, 0, &reader); });
    app.Tasks.End();
    QFile::remove(path);
    if (r == KXERR_NONE) {
        checkBoxArea->setChecked(false);  // an area of the old picture has no place in the new one
        KX_AdoptReader(reader);
        app.ImageReplaced(true);
        shownFile.clear();
        app.LastFile = Text("TXT_NO_FILE_LOADED");
        app.Status(Text("TXT_DONE"));
        UpdatePreview(false);
    }
    SetStatusLight(KXStatusLight::Green);
    return r;
}

void Main::cmdCopy() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        app.Status(Text("TXT_ERROR") + " " + Text("TXT_NO_FILE_LOADED"));
        return;
    }
    const bool area = app.AreaBuffer != nullptr;
    QImage bitmap;
    {
        View converter(app.Library, area ? app.AreaBuffer : img, KX_GetMetaData(), checkBoxAlpha->isChecked(),
                       checkBoxAutoCM->isChecked(), false, ui, nullptr);
        bitmap = converter.image();
    }
    if (bitmap.isNull()) {
        statusError(KXERR_NOMEMORY);
        return;
    }
    kxclip::PutImage(bitmap);
    app.Status(Text(area ? "TXT_CLIP_COPY_AREA" : "TXT_CLIP_COPY_IMAGE"));
}

void Main::cmdCopyAlpha() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        app.Status(Text("TXT_ERROR") + " " + Text("TXT_NO_FILE_LOADED"));
        return;
    }
    if (img->Version < 3 || KXSUP_AlphaHolds(img) != KXALPHA_CHANNEL8) {
        app.Status(Text("TXT_ERROR") + " " + Text("TXT_NO_ALPHA"));
        return;
    }
    const bool area = app.AreaBuffer != nullptr;
    KX_GfxBuffer* alpha = nullptr;
    if (uint32_t err = kxown::Run(app.Library, KXOP_EXTRACTALPHA, area ? app.AreaBuffer : img, &alpha, {}, false)) {
        statusError(err);
        return;
    }
    QImage bitmap;
    {
        View converter(app.Library, alpha, nullptr, false, false, false, ui, nullptr);
        bitmap = converter.image();
    }
    KXSUP_FreeGfxBuffer(alpha);
    if (bitmap.isNull()) {
        statusError(KXERR_NOMEMORY);
        return;
    }
    kxclip::PutImage(bitmap);
    app.Status(Text(area ? "TXT_CLIP_COPY_AREA_ALPHA" : "TXT_CLIP_COPY_IMAGE_ALPHA"));
}

uint32_t Main::cmdOpenFromClipboard() { return openClipboardImage(kxclip::Image()); }

uint32_t Main::openClipboardImage(const QImage& bitmap) {
    if (!bitmap.isNull() && !mayReplacePicture()) return KXERR_ABORTED;
    SetBusyCursor(true);
    uint32_t r;
    if (bitmap.isNull()) {
        // Nothing to open: the picture shown stays.
        app.Status(Text("TXT_ERROR_LOADING") + ".");
        r = KXERR_NOVIEWABLEDATA;
    } else {
        checkBoxArea->setChecked(false);
        const QString file = clipFile(0);
        r = kxclip::SavePng(bitmap, file) ? openVirtual(file, "TXT_LOADING_FROM_CLIP") : uint32_t(KXERR_NODESTFILE);
        if (r) app.Status(Text("TXT_ERROR_LOADING") + ": " + errorText(r));
    }
    SetBusyCursor(false);
    return r;
}

// Paste: without an area the clipboard's picture becomes the image; with
// one it is scaled to the area, read back through a PNG reader of the
// command's own, and put into the image at the area's place (the area road
// of Convert to 24 Bit).
void Main::cmdPaste() {
    if (!app.AreaBuffer) {
        cmdOpenFromClipboard();
        return;
    }
    SetBusyCursor(true);
    const QImage clip = kxclip::Image();
    if (clip.isNull()) {
        app.Status(Text("TXT_ERROR_PASTING"));
        SetBusyCursor(false);
        return;
    }
    const QImage scaled = clip.scaled(std::max(1, int(app.AreaWidth)), std::max(1, int(app.AreaHeight)), Qt::IgnoreAspectRatio,
                                      Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_RGB888);
    const QString file = clipFile(0);
    uint32_t r = KXERR_NODESTFILE;
    KX_GfxBuffer* pasted = nullptr;
    if (kxclip::SavePng(scaled, file)) {
        const KXFormatReg* reg = KX_FindFormatReg("kxoPNG");
        std::unique_ptr<KXObject> png(reg ? KX_NewObject(app.Library, *reg) : nullptr);
        const QByteArray name = QFile::encodeName(file);
        app.Tasks.Begin();
        app.Status(Text("TXT_CLIP_PASTE"));
        r = png ? png->SetReadName(name.constData()) : uint32_t(KXERR_NOMEMORY);
        if (!r) r = png->Load();
        if (!r) r = png->DetachGfxBuffer(&pasted);
        if (!r && !pasted) r = KXERR_NOVIEWABLEDATA;
        app.Tasks.End();
        if (png) png->Reset();
        QFile::remove(file);
        SetStatusLight(KXStatusLight::Green);
    }
    if (!r) {
        app.SetArea(pasted, app.AreaLeft, app.AreaTop, app.AreaWidth, app.AreaHeight);
        r = app.DoOperation(KX_GetGfxBuffer(), nullptr, KXOP_ANYTO24BIT, nullptr);
    } else {
        KXSUP_FreeGfxBuffer(pasted);
    }
    if (r) {
        app.Status(Text("TXT_ERROR_PASTING") + ": " + errorText(r));
    } else {
        app.Status(Text("TXT_DONE"));
        UpdatePreview(false);
    }
    SetBusyCursor(false);
}

// The primary screen as the new picture, by way of the clipboard.
void Main::cmdGrab() {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QImage shot = screen ? screen->grabWindow(0).toImage() : QImage();
    if (shot.isNull()) {
        app.Status(Text("TXT_ERROR_LOADING") + ": " + errorText(KXERR_NOSCREEN));
        return;
    }
    kxclip::PutImage(shot);
    openClipboardImage(shot);
}

QPrinter* Main::printer() {
    if (!printDocumentFile) {
        printDocumentFile = std::make_unique<QPrinter>(QPrinter::HighResolution);
        ui->SetUpPrinter(printDocumentFile.get());
    }
    return printDocumentFile.get();
}

void Main::cmdPrinterSetup() {
    if (!ui->PrintDialog(this, printer())) return;
    if (KX_GetGfxBuffer() &&
        ui->Ask(this, Msg("TXT_KAXON5_REQUEST"), QStringLiteral("Print right now?"), UiServices::Icon::Warning))
        cmdPrint(false);
}

void Main::cmdPrint(bool preview) {
    if (!KX_GetGfxBuffer()) {
        ShowMessage(KXMessageKind::Info, Text("TXT_NO_FILE_LOADED"));
        return;
    }
    bool printed = true;
    const auto page = [this, &printed](QPrinter* p) { printed = kxprint::PrintPage(p, app.Library, KX_GetGfxBuffer()); };
    if (preview) {
        ui->PrintPreview(this, printer(), page);
        return;
    }
    SetBusyCursor(true);
    page(printer());
    SetBusyCursor(false);
    if (!printed) statusError(KXERR_NODESTFILE);
}

// Scanner or camera: the device list (SANE's types "still camera" and
// "video camera" are cameras, the rest scanners), a device chosen, one
// scan into a private folder, then the acquisition file read as the image.
void Main::cmdAcquire(bool camera) {
    const char* noDevice = camera ? "TXT_ERROR_NO_WIA_CAMERA" : "TXT_ERROR_NO_WIA_SCANNER";
    const QString busy = Msg("TXT_IMPORT_SCANNER");
    QList<kxacquire::Device> all;
    switch (kxacquire::List(this, scanProgram, busy, &all)) {
    case kxacquire::Result::Missing: ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_WIA_NO_DLL")); return;
    case kxacquire::Result::Failed: ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_WIA_NO_ACCESS")); return;
    case kxacquire::Result::Cancelled: statusError(KXERR_NOVIEWABLEDATA); return;
    case kxacquire::Result::Ok: break;
    }
    QList<kxacquire::Device> devices;
    QStringList items;
    for (const kxacquire::Device& d : all) {
        if (d.camera() != camera) continue;
        devices.append(d);
        items << QStringLiteral("%1 %2 (%3)").arg(d.vendor, d.model, d.name);
    }
    if (devices.isEmpty()) {
        ShowMessage(KXMessageKind::Error, Text(noDevice));
        return;
    }
    const int pick = ui->ChooseItem(this, Msg("MN1_FILE_IMAGEACQ"), camera ? QStringLiteral("Camera:") : QStringLiteral("Scanner:"), items);
    if (pick < 0 || pick >= devices.size()) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    // Asked before the device works, so a scan is never thrown away.
    if (!mayReplacePicture()) return;
    const QString temp = QFile::decodeName(app.Library && app.Library->TempDir ? app.Library->TempDir : KX_GetProcessTempDir());
    QTemporaryDir folder(temp + QStringLiteral("scan-XXXXXX"));
    const QString scanned = folder.path() + QStringLiteral("/scan.png");
    const kxacquire::Result r =
        folder.isValid() ? kxacquire::Scan(this, scanProgram, busy, devices[pick].name, scanned) : kxacquire::Result::Failed;
    if (r == kxacquire::Result::Cancelled) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    if (r != kxacquire::Result::Ok) {
        ShowMessage(KXMessageKind::Error, Text(noDevice));
        return;
    }
    // One acquisition file at a time; rename replaces (never follows) what
    // is there.
    app.ClipCounter = std::max<int32_t>(app.ClipCounter, 1);
    const QString file = clipFile(1);
    if (std::rename(QFile::encodeName(scanned).constData(), QFile::encodeName(file).constData()) != 0) {
        ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_SAVE_TMPFILE") + "!");
        return;
    }
    SetBusyCursor(true);
    if (openVirtual(file, "TXT_IMPORT_SCANNER") != KXERR_NONE) app.Status(Text("TXT_ERROR_LOAD_TMPFILE") + ".");
    SetBusyCursor(false);
}
