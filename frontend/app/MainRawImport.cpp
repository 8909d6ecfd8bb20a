// Main: the import commands of "Import...": raw pixel data through the raw
// importer and its wizard, camera RAW files through dcraw, and an XMP file
// as the picture's XMP packet. The two image imports load into a device
// reader of their own and make it current only once it has loaded, so a
// cancelled or failed import leaves the shown picture as it was.
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QCheckBox>
#include <cstring>

#include "DialogRawImport.h"
#include "Main.h"
#include "MainShared.h"
#include "UiServices.h"
#include "core/catalogue.h"
#include "core/kxbridge.h"

void Main::cmdImport(const QString& kind) {
    // Shows either dialog; a cancelled one says so and clears the preview.
    auto shownAndCancelled = [this](QDialog* d, const int& exit) {
        showModal(d);
        if (!exit) return false;
        app.Status(Text("TXT_ERROR_IMPORTING") + ".");
        UpdatePreview(true);
        return true;
    };
    if (kind == QLatin1String("raw")) {
        DialogKXORAWImport d(ui, app.Library, this);
        d.Prepare(progdir, loadRememberPath);
        if (shownAndCancelled(&d, d._exit)) return;
        importDevice("kxoRAW_Import", kxraw::RawKeys(d), "TXT_IMPORT_RAW", d._loadname);
    } else if (kind == QLatin1String("dcraw")) {
        // The converter's path comes from dcraw's own settings pad, checked
        // before anything is asked.
        const KXFormatReg* reg = KX_FindFormatReg("kxoDCRAW");
        const int index = reg ? reg->Device : -1;
        KXObject* device = index >= 0 && index < KX_TableLength(kxoDevRead) ? kxoDevRead[index] : nullptr;
        if (!device || !device->PadPath || !*device->PadPath) return;
        // The user's pad, else the one shipped beside the program, as the
        // module itself reads them.
        KX_ControlPad* pad = nullptr;
        for (const char* path : {device->PadPath, static_cast<const char*>(device->PadPathArchive)})
            if (!pad && path && !(KXSUP_LoadControlPad(path, &pad) && pad)) pad = nullptr;
        QByteArray dcraw;
        char* v = nullptr;
        if (pad && KXSUP_FindControlPadNoCase(pad, "DCRAW_PATH", &v) && v) dcraw = QByteArray(v);
        KXSUP_FreeControlPad(pad);
        if (dcraw.isEmpty()) {
            ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_NO_CONFIG_DCRAW"));
            return;
        }
        DialogKXODCRAW d(ui, this);
        d.Prepare(progdir, loadRememberPath);
        if (shownAndCancelled(&d, d._exit)) return;
        importDevice("kxoDCRAW", kxraw::DcrawKeys(d, dcraw), "TXT_IMPORT_RAW_DCRAW", d._loadname);
    } else if (kind == QLatin1String("xmp")) {
        importXmp();
    }
}

uint32_t Main::importDevice(const char* className, const kxraw::Keys& keys, const char* statusKey, const QString& file) {
    if (!mayReplacePicture()) return KXERR_ABORTED;
    SetBusyCursor(true);
    app.Tasks.Threaded = app.Settings.ThreadedProgress;
    app.Tasks.Begin();
    SetStatusLight(KXStatusLight::Yellow);
    app.Status(Text(statusKey));
    KXObject* device = nullptr;
    const uint32_t err = kxraw::LoadDevice(
        app.Library, className, keys, checkBoxMetaLoad->isChecked() ? 1 : 0,
        [this](const std::function<uint32_t()>& call) { return app.Tasks.Run(call); }, &device);
    app.Tasks.End();
    SetStatusLight(KXStatusLight::Green);
    if (err) {
        app.Status(Text("TXT_ERROR_IMPORTING") + ": " + KXL_GetErrorString(err));
    } else {
        checkBoxArea->setChecked(false);
        app.DropArea();
        KX_AdoptReader(device);
        app.ImageReplaced(false);
        app.LastFile = QFile::encodeName(kxmain::fileNameOf(file)).toStdString();
        // No JPEG of the picture's own to transform losslessly.
        shownFile.clear();
        if (!file.isEmpty()) loadRememberPath = QFileInfo(file).absolutePath();
        app.Status(Text("TXT_DONE"));
        UpdatePreview(false);
    }
    SetBusyCursor(false);
    return err;
}

// An XMP file replaces both XMP blocks of the picture's metadata, as the
// second block; the record becomes the picture's own copy first.
void Main::importXmp() {
    uint32_t code = KXERR_NONE;
    auto finish = [this, &code] {
        if (code) app.Status(Text("TXT_ERROR") + " " + KXL_GetErrorString(code));
        else UpdateMetaStatus();
    };
    if (!KX_GetGfxBuffer()) {
        finish();
        return;
    }
    KXOSpecialInfo* r = editableMetaData(&code);
    if (!r) {
        finish();
        return;
    }
    const QString path =
        ui->OpenFileName(this, loadRememberPath, QStringLiteral("kx5.xmp"), QStringLiteral("XMP Files (*.xmp);;XML Files (*.xml)"));
    if (path.isEmpty()) {
        finish();
        return;
    }
    app.Status(std::string());
    bool stored = false;
    const QByteArray name = QFile::encodeName(path);
    if (FILE* f = amOpen(name.constData(), "rb")) {
        long size = amSeek(f, 0, SEEK_END) < 0 ? 0 : ftell(f);
        if (size < 0) size = 0;
        // The block's size is a 32-bit field; an empty file gives no block.
        auto* block = size > 0 && size <= 0x7FFFFFFF ? static_cast<uint8_t*>(AllocVec(size_t(size), MEMF_ANY)) : nullptr;
        if (block) {
            if (amSeek(f, 0, SEEK_SET) >= 0 && amRead(f, block, size_t(size)) == size) {
                FreeVec(r->Xmp0);
                FreeVec(r->Xmp1);
                r->Xmp0 = nullptr;
                r->Xmp0Size = 0;
                r->Xmp1 = block;
                r->Xmp1Size = uint32_t(size);
                stored = true;
            } else {
                FreeVec(block);
            }
        }
        amClose(f);
    }
    if (stored) {
        // A changed packet is a change of the picture: closing asks first.
        app.Modified = true;
        app.Status(Text("TXT_DONE"));
        UpdatePreview(false);
    }
    finish();
}
