// Main: the colour commands. Colorimetry (describe the picture's colour
// space, then convert its pixels to sRGB or attach the described profile),
// the colour-space information list, and the import and export of the
// picture's ICC profile. Every change goes into the bridge's editable copy
// of the metadata; a change marks the picture modified and is one undo
// step, written only once the change is certain, so a failure leaves the
// picture, its profile and the undo steps as they were.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <cstring>

#include "DialogColorimetric.h"
#include "DialogKXColorSpace.h"
#include "Main.h"
#include "UiServices.h"
#include "core/colour.h"
#include "core/kxbridge.h"

namespace {
const QString kIccFilter = QStringLiteral("ICC Files (*.icc)");

char* copyName(const QByteArray& text) {
    auto* name = static_cast<char*>(AllocVec(size_t(text.size()) + 1, MEMF_CLEAR));
    if (name) std::memcpy(name, text.constData(), size_t(text.size()));
    return name;
}
}  // namespace

void Main::wireColour() {
    buttonICCInfo->setEnabled(true);
    connect(buttonICCInfo, &QPushButton::clicked, this, [this] { cmdColourSpaceInfo(); });
    connect(buttonCM, &QPushButton::clicked, this, [this] { cmdColourSpaceInfo(); });
}

void Main::cmdColour(const char* which) {
    const QLatin1String w(which);
    if (w == QLatin1String("import")) LoadICCProfile();
    else if (w == QLatin1String("export")) cmdExportIcc();
    else if (w == QLatin1String("colorimetry")) cmdColorimetry();
    else if (w == QLatin1String("colorspace")) cmdColourSpaceInfo();
}

void Main::cmdColorimetry() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    DialogColorimetric d(app.Library, ui, this);
    d.Prepare(img, KX_GetMetaData(), progdir);
    showModal(&d);
    if (d._exit) return;
    checkBoxArea->setChecked(false);
    if (uint32_t err = applyColorimetry(d, true)) statusError(err);
    UpdatePreview(false);
}

uint32_t Main::applyColorimetry(const DialogColorimetric& d, bool command) {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) return KXERR_NOVIEWABLEDATA;
    const KXOSpecialInfo* before = KX_GetMetaData();
    const bool ownProfile = d._applyiccp && before && before->IccData && before->IccSize;

    uint8_t* profile = nullptr;
    uint32_t size = 0;
    uint32_t code = d.BuildProfile(&profile, &size);
    if (code) return code;

    // The pixels change on a copy that replaces the picture only when every
    // conversion has worked.
    KX_GfxBuffer* converted = nullptr;
    if (ownProfile || !d._icc) {
        code = KXSUP_CopyGfxBuffer(img, &converted, 1, MEMF_ANY);
        if (!code && ownProfile) code = KXSUP_ApplyCMSProfileSRGB(converted, before->IccData, before->IccSize);
        if (!code && !d._icc) code = KXSUP_ApplyCMSProfileSRGB(converted, profile, size);
        if (code) {
            KXSUP_FreeGfxBuffer(converted);
            FreeVec(profile);
            return code;
        }
    }

    // A picture without a record gets an empty one to carry the profile.
    code = KX_IsUnlinkedMetaData() ? KXERR_NONE : KX_UnLinkMetaData();
    if (code == KXERR_EOF) code = KX_CreateMetaData();
    KXOSpecialInfo* r = code ? nullptr : KX_GetMetaDataCheck(0);
    char* name = !r || !d._icc ? nullptr : copyName(QByteArrayLiteral("Custom Profile"));
    if (!r || (d._icc && !name)) {
        ShowMessage(KXMessageKind::Error, command ? Text("TXT_ERROR_ICCP_RESOLVE") : std::string("Error cloning metadata"));
        KXSUP_FreeGfxBuffer(converted);
        FreeVec(profile);
        return code ? code : KXERR_NOMEMORY;
    }

    KXApp::UndoMark mark;
    if (app.Settings.Undo) mark = app.AddUndoStep(img);
    r = KX_GetMetaDataCheck(0);
    if (converted) {
        checkBoxArea->setChecked(false);  // an area cut out before would keep the old colours
        KX_SetGfxBuffer(converted);
    }
    r->SRGBIntent = 0;
    r->IccType = 0;
    if (d._icc) {
        KXSUP_ReplaceCMSProfile(r, profile, size, name);
    } else {
        KXSUP_ReplaceCMSProfile(r, nullptr, 0, nullptr);
        FreeVec(profile);
    }
    app.ChangeCount++;
    app.Modified = true;
    app.KeepUndoStep(mark);
    app.Status(Text("TXT_DONE"));
    return KXERR_NONE;
}

void Main::cmdColourSpaceInfo() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    // "Edit..." can only attach a described profile; the list shows the result.
    DialogKXColorSpace d(
        ui,
        [this]() -> const KXOSpecialInfo* {
            DialogColorimetric c(app.Library, ui, this);
            c.Prepare(KX_GetGfxBuffer(), KX_GetMetaData(), progdir, false);
            showModal(&c);
            if (!c._exit) applyColorimetry(c, false);
            return KX_GetMetaData();
        },
        this);
    if (d.Prepare(KX_GetMetaData(), img, labelFileName->text(), labelFileInfo->text(), labelSubType->text(),
                  checkBoxAutoCM->isChecked(), progdir))
        showModal(&d);
    UpdatePreview(false);
}

KXOSpecialInfo* Main::editableMetaData(uint32_t* code) {
    *code = KXERR_NONE;
    if (!KX_GetMetaData()) {
        const uint32_t made = KX_CreateMetaData();
        if (made || !KX_GetMetaDataCheck(0)) {
            const char* text = made ? KXL_GetErrorString(made) : nullptr;
            ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_CREATE_METADATA") +
                                                  (text && *text ? std::string(": ") + text : std::string("!")));
            ShowMessage(KXMessageKind::Error, Text("TXT_NO_METADATA_LOADED"));
            *code = KXERR_NOVIEWABLEDATA;
            return nullptr;
        }
    }
    if (!KX_IsUnlinkedMetaData()) {
        const uint32_t u = KX_UnLinkMetaData();
        if ((u != KXERR_NONE && u != KXERR_EOF) || !KX_IsUnlinkedMetaData()) {
            ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_METADATA_HANDLING_MEM"));
            return nullptr;
        }
    }
    KXOSpecialInfo* r = KX_GetMetaDataCheck(0);
    if (!r) {
        ShowMessage(KXMessageKind::Error, Text("TXT_NO_METADATA_LOADED"));
        *code = KXERR_NOVIEWABLEDATA;
    }
    return r;
}

uint32_t Main::LoadICCProfile(const QString& given) {
    if (!KX_GetGfxBuffer()) return KXERR_NOVIEWABLEDATA;
    uint32_t code = KXERR_NONE;
    if (!editableMetaData(&code)) {
        if (code) statusError(code);
        return code ? code : uint32_t(KXERR_NOMEMORY);
    }
    const QString path = given.isEmpty() ? ui->OpenFileName(this, loadRememberPath, QString(), kIccFilter) : given;
    if (path.isEmpty()) return KXERR_NONE;

    SetBusyCursor(true);
    app.Status(Text("TXT_LOADING_ICC_PROFILE"));
    // Read whole and checked first: a short or broken file leaves the
    // profile the picture has.
    uint8_t* profile = nullptr;
    uint32_t size = 0;
    char* name = nullptr;
    code = KXSUP_ReadCMSProfileFile(QFile::encodeName(path).constData(), &profile, &size, &name);
    if (code) {
        SetBusyCursor(false);
        const std::string text = Text("TXT_ERROR_LOADING") + ": " + KXL_GetErrorString(code);
        app.Status(text);
        ShowMessage(KXMessageKind::Error, text);
        return code;
    }
    KXApp::UndoMark mark;
    if (app.Settings.Undo) mark = app.AddUndoStep(KX_GetGfxBuffer());
    KXSUP_ReplaceCMSProfile(KX_GetMetaDataCheck(0), profile, size, name);
    app.Modified = true;
    app.KeepUndoStep(mark);
    app.Status(Text("TXT_DONE"));
    SetBusyCursor(false);
    UpdatePreview(false);
    return KXERR_NONE;
}

void Main::cmdExportIcc() {
    if (!KX_GetGfxBuffer()) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    const KXOSpecialInfo* r = KX_GetMetaData();
    if (!r || !r->IccData || !r->IccSize) {
        ShowMessage(KXMessageKind::Error, Text(r ? "TXT_NO_ICC_PROFILE" : "TXT_NO_METADATA_LOADED"));
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    const QString path = ui->SaveFileName(this, saveRememberPath, QString(), kIccFilter);
    if (path.isEmpty()) return;
    app.Status(Text("TXT_SAVING_ICC_PROFILE"));
    const uint32_t code = KXSUP_WriteCMSProfileFile(QFile::encodeName(path).constData(), r->IccData, r->IccSize);
    if (code) {
        const std::string text = Text("TXT_ERROR_SAVING") + ": " + KXL_GetErrorString(code);
        app.Status(text);
        ShowMessage(KXMessageKind::Error, text);
        return;
    }
    app.Status(Text("TXT_DONE"));
}
