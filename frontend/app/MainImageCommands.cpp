// Main: running a menu entry (the action table's command or operator with
// its settings, through the core's dispatcher) and the image commands that
// are not a single operator run.
#include "Main.h"

#include <QCheckBox>
#include <QFile>
#include <utility>

#include "ActionTable.h"
#include "AppLinks.h"
#include "DialogMetaDetail.h"
#include "OwnOperator.h"
#include "UiServices.h"

using kxactions::ActionDef;
using kxactions::Cmd;

namespace {
// The two bytes of each of count 16-bit values change places.
void swapPairs(uint8_t* p, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) std::swap(p[2 * i], p[2 * i + 1]);
}
}  // namespace

bool Main::Trigger(const QString& id) {
    const ActionDef* d = kxactions::Find(id);
    QAction* a = actions.value(id);
    if (!d || !a || !a->isEnabled()) return false;
    a->trigger();
    return true;
}

uint32_t Main::runOperatorDef(const ActionDef& d) {
    if (!KX_GetGfxBuffer()) {
        statusError(KXERR_NOVIEWABLEDATA);
        return KXERR_NOVIEWABLEDATA;
    }
    if (d.flags & kxactions::DropAreaFirst) checkBoxArea->setChecked(false);
    kxown::KeyList keys;
    if (d.settings) {
        for (const QString& pair : QString::fromLatin1(d.settings).split(';', Qt::SkipEmptyParts)) {
            const int eq = pair.indexOf('=');
            QString value = pair.mid(eq + 1);
            if (value.startsWith('@')) value = QFile::decodeName(app.EnvArcDir.c_str()) + value.mid(1);
            keys.emplace_back(pair.left(eq).toLatin1(), value.toUtf8());
        }
    }
    uint32_t err = dispatch(uint32_t(d.op), d.settings ? &keys : nullptr);
    if (err && !(d.flags & kxactions::QuietError)) statusError(err);
    return err;
}

uint32_t Main::dispatch(uint32_t op, const kxown::KeyList* keys) {
    if (dispatchSpy) dispatchSpy(op, keys);
    std::unique_ptr<KXConfig> cfg;
    if (keys) {
        cfg.reset(app.MakeOperatorSettings(op));
        if (!cfg) return KXERR_NOMEMORY;
        // SetValue's result is not an error code (1 means stored).
        for (const auto& [key, value] : *keys) cfg->SetValue(key.constData(), value.constData());
    }
    return app.DoOperation(KX_GetGfxBuffer(), nullptr, op, cfg.get());
}

void Main::runAction(const ActionDef& d) {
    switch (d.cmd) {
    case Cmd::None: break;
    case Cmd::Operator: runOperatorDef(d); break;
    case Cmd::Chain:
        if (runOperatorDef(d) == 0) {
            app.UndoSkip = true;
            for (const QString& id : QString::fromLatin1(d.arg).split(';', Qt::SkipEmptyParts))
                if (const ActionDef* next = kxactions::Find(id)) runAction(*next);
            app.UndoSkip = false;
        }
        break;
    case Cmd::Dither: {
        const QStringList parts = QString::fromLatin1(d.arg).split(',');
        cmdDither(parts.value(0).toInt(), parts.value(1).toInt());
        break;
    }
    case Cmd::DiaShow: cmdDiaShow(); break;
    case Cmd::Open: cmdOpen(); break;
    case Cmd::SaveAs: cmdSave(); break;
    case Cmd::Exit: cmdExit(); break;
    case Cmd::ImportAlpha: cmdImportAlpha(); break;
    case Cmd::ExportAlpha: cmdExportAlpha(); break;
    case Cmd::InfoNote: ShowMessage(KXMessageKind::Info, Text(d.arg)); break;
    case Cmd::Undo: cmdUndo(); break;
    case Cmd::View: cmdView(); break;
    case Cmd::FixOrientation: cmdFixOrientation(); break;
    case Cmd::IncreasePaletteDepth: cmdIncreasePaletteDepth(); break;
    case Cmd::EndianSwap: cmdEndianSwap(); break;
    case Cmd::StripHamEhb: cmdStripHamEhb(); break;
    case Cmd::StripMeta: cmdStripMeta(); break;
    case Cmd::ApplyStripIcc: cmdApplyStripIcc(); break;
    case Cmd::ProgramSettings: cmdProgramSettings(); break;
    case Cmd::HelpFile: openDocument(QUrl::fromLocalFile(progdir + QLatin1Char('/') + QLatin1String(d.arg))); break;
    case Cmd::HelpUrl: {
        static const char* const links[] = {kxlinks::kOnlineManual, kxlinks::kAddOns, kxlinks::kSupport, kxlinks::kAuthor};
        const int i = QString::fromLatin1(d.arg).toInt();
        if (i >= 0 && i < 4) openDocument(QUrl(QString::fromLatin1(links[i])));
        break;
    }
    case Cmd::ViewLog: cmdViewLog(); break;
    case Cmd::About: cmdAbout(); break;
    case Cmd::GfxInfo: cmdGfxInfo(); break;
    case Cmd::InstanceInfo: cmdInstanceInfo(); break;
    case Cmd::OperatorList: cmdOperatorList(); break;
    case Cmd::OperatorDefaults: cmdModuleDefaults(false); break;
    case Cmd::ObjectDefaults: cmdModuleDefaults(true); break;
    case Cmd::ColourBrowser: cmdColourBrowser(); break;
    case Cmd::CheckUpdate: cmdCheckUpdate(); break;
    case Cmd::OpenClip: cmdOpenFromClipboard(); break;
    case Cmd::SaveClip: cmdCopy(); break;
    case Cmd::CopyAlpha: cmdCopyAlpha(); break;
    case Cmd::Paste: cmdPaste(); break;
    case Cmd::PrinterSetup: cmdPrinterSetup(); break;
    case Cmd::PrintPreview: cmdPrint(true); break;
    case Cmd::Print: cmdPrint(false); break;
    case Cmd::Acquire: cmdAcquire(QLatin1String(d.arg) == QLatin1String("camera")); break;
    case Cmd::Mark: cmdMark(); break;
    case Cmd::AreaCut: cmdAreaCommand(false); break;
    case Cmd::AreaCrop: cmdAreaCommand(true); break;
    case Cmd::ShapeArea: {
        const QLatin1String arg(d.arg);
        cmdShapeArea(arg == QLatin1String("crop") ? 0 : arg == QLatin1String("cut") ? 1 : 2);
        break;
    }
    case Cmd::Dialog: cmdDialog(d); break;
    case Cmd::Import: cmdImport(QString::fromLatin1(d.arg)); break;
    case Cmd::Colour: cmdColour(d.arg); break;
    case Cmd::ShowMeta: cmdShowMeta(); break;
    }
}

void Main::cmdUndo() {
    app.Undo();
}

void Main::cmdDither(int depth, int mode) {
    if (!KX_GetGfxBuffer()) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    if (uint32_t err = app.Dither24Bit(depth, mode)) statusError(err);
}

void Main::cmdFixOrientation() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        ShowMessage(KXMessageKind::Info, Text("TXT_NO_FILE_LOADED"));
        return;
    }
    KXOSpecialInfo* meta = KX_GetMetaData();
    if (!checkBoxRotate->isChecked() || !checkBoxMetaLoad->isChecked() || !meta || meta->Orientation <= 1) {
        app.Status(Text(meta ? "TXT_AUTOROTATE_NO_NEED" : "TXT_AUTOROTATE_NO_METADATA"));
        return;
    }
    const kxown::OrientationStep step = kxown::ForOrientation(meta->Orientation);
    // One undo step for the whole repair, whatever "UnDo active" says.
    const KXApp::UndoMark mark = app.AddUndoStep(img);
    const uint64_t changes = app.ChangeCount;
    app.UndoSkip = true;
    uint32_t err = 0;
    if (step.degrees) {
        const kxown::KeyList keys{{"DEGREES", kxown::Int(step.degrees)}};
        err = dispatch(KXOP_ROTATE, &keys);
    }
    if (!err && step.flip) err = dispatch(KXOP_LEFTTORIGHT, nullptr);
    app.UndoSkip = false;
    if (app.ChangeCount != changes) app.KeepUndoStep(mark);
    else app.DropUndoStep(mark);
    if (err) {
        statusError(err);
        return;
    }
    if (!KX_IsUnlinkedMetaData()) KX_UnLinkMetaData();
    KXOSpecialInfo* m = KX_GetMetaData();
    if (!m) return;
    // The EXIF block says upright too, or every other viewer turns the saved
    // pixels again.
    if (KX_ExifSetOrientation(m, 1)) statusError(KXERR_NOMEMORY);
    m->Orientation = 1;
}

void Main::cmdIncreasePaletteDepth() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) return;
    if (img->ColorDepth > 8) {
        ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_PALETTE_TRUECOLOR_DEPTH"));
        return;
    }
    if (img->ColorDepth == 8) {
        ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_PALETTE_MAX_DEPTH"));
        return;
    }
    // Bit planes hold exactly ColorDepth planes, and HAM/EHB pixels mean
    // something else at another depth: raising the depth would misread them.
    if (img->Type != ONEPLANE || IsHamBuffer(img) || IsEhbBuffer(img)) {
        statusError(KXERR_NOTSUPPORTED);
        return;
    }
    ++img->ColorDepth;
    // Changed in place: closing asks before the change is lost.
    app.Modified = true;
    UpdateImageInfo(img);
}

void Main::cmdEndianSwap() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    if (img->PixelBits != 48 || img->Type != ONEPLANE) {
        ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_NOT_HDR"));
        return;
    }
    const uint64_t samples = uint64_t(img->Width) * img->Height * 3;
    if (img->Data && img->BufferSize >= samples * 2) {
        swapPairs(img->Data, samples);
    }
    if (KXSUP_AlphaHolds(img) == KXALPHA_CHANNEL16 && img->AlphaData) {
        swapPairs(KXSUP_AlphaBytes(img), uint64_t(img->Width) * img->Height);
    }
    app.Modified = true;
    app.Status(Text("TXT_DONE"));
    UpdatePreview(false);
}

void Main::cmdStripHamEhb() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) return;
    const bool special = IsHamBuffer(img) || IsEhbBuffer(img);
    if (img->ViewMode & KXVIEWMODE_EHB) img->ViewMode &= ~uint32_t(KXVIEWMODE_EHB);
    if (img->ViewMode & KXVIEWMODE_HAM) img->ViewMode &= ~uint32_t(KXVIEWMODE_HAM);
    if (img->NativeDIPF & KXDIPF_HAM) img->NativeDIPF &= ~uint32_t(KXDIPF_HAM);
    if (img->NativeDIPF & KXDIPF_EHB) img->NativeDIPF &= ~uint32_t(KXDIPF_EHB);
    if (special) app.Modified = true;  // the pixels mean something else now
}

void Main::cmdStripMeta() {
    if (!KX_GetGfxBuffer()) return;
    KX_StripMetaData();
    UpdateImageInfo(KX_GetGfxBuffer());
    UpdatePreview(false);
}

void Main::cmdApplyStripIcc() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img || !KX_GetMetaData()) return;
    if (uint32_t err = app.ApplyAndRemoveCMS(img, true)) statusError(err);
    UpdateImageInfo(KX_GetGfxBuffer());
    UpdatePreview(false);
}
