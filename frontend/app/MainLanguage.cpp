// Main: the language catalog. The catalog is read on a thread of its own
// (plain data) and applied to the window's controls and message texts on
// the interface thread.
#include "Main.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <utility>

#include "ActionTable.h"
#include "CatalogHandler.h"
#include "MainShared.h"

using kxactions::ActionDef;
using kxmain::ParsedCatalog;
using kxmain::parseCatalog;

namespace {

// The message texts of the catalog (each a field of the window).
const char* const kMessageKeys[] = {
    "TXT_NO_PICTUREINFO", "TXT_NO_SUBTYPE", "TXT_NO_SPECIAL_FLAGS", "TXT_NO_FILE_LOADED", "TXT_NO_FILE_ATTACHED",
    "TXT_NO_SUBTYPE2", "TXT_BUFFER", "TXT_DONE", "TXT_LOADED_INCOMPLETE", "TXT_READY", "TXT_KAXON5_ERROR", "TXT_KAXON5_INFO",
    "TXT_KAXON5_REQUEST", "TXT_ERROR", "TXT_ERROR_LOADING", "TXT_ERROR_SAVING", "TXT_ERROR_IMPORTING",
    "TXT_ERROR_PASTING", "TXT_ERROR_LOAD_TMPFILE", "TXT_ERROR_SAVE_TMPFILE", "TXT_ERROR_CREATE_METADATA",
    "TXT_ERROR_ICCP_RESOLVE", "TXT_ERROR_METADATA_HANDLING_MEM", "TXT_ERROR_WIA_NO_DLL", "TXT_ERROR_WIA_NO_ACCESS",
    "TXT_ERROR_NO_WIA_SCANNER", "TXT_ERROR_NO_WIA_CAMERA", "TXT_ERROR_UNDO_FAILED", "TXT_ERROR_UNDO",
    "TXT_ERROR_PALETTE_TRUECOLOR_EDIT", "TXT_ERROR_PALETTE_TRUECOLOR_DEPTH", "TXT_ERROR_PALETTE_MAX_DEPTH",
    "TXT_ERROR_PALETTE_COLORMAP_DITHER", "TXT_ERROR_WATERMARK_COLORMAP", "TXT_ERROR_ALPHABLEND_COLORMAP",
    "TXT_ERROR_NOT_HDR", "TXT_ERROR_NO_CONFIG_LOGGING", "TXT_ERROR_NO_CONFIG_GS", "TXT_ERROR_NO_CONFIG_DCRAW",
    "TXT_ERROR_NO_CONFIG_JPEGTRAN", "TXT_NO_UNDO", "TXT_NO_METADATA_LOADED", "TXT_NO_ALPHA", "TXT_NO_ICC_PROFILE",
    "TXT_LOADING", "TXT_SAVING", "TXT_TRANSPARENCY_OK", "TXT_DONE_UNDO", "TXT_KAXON5_UPDATECHECK",
    "TXT_KAXON5_UPDATEAGENT", "TXT_REQUEST_CONVERT_HAM", "TXT_REQUEST_CONVERT_TRUECOLOR", "TXT_INFO_SAVE_RAWMETA",
    "TXT_INFO_SAVE_RAW", "TXT_INFO_LOAD_XMP", "TXT_INFO_UPDATE_NEW_VERSION", "TXT_INFO_UPDATE_DOWNLOAD_NOW",
    "TXT_INFO_UPDATE_CHECK_HISTORY", "TXT_INFO_UPDATE_NO_NEW_VERSION", "TXT_INFO_UPDATE_CHECK_FAIL",
    "TXT_INFO_UPDATE_CHECK_AGAIN", "TXT_LOADING_FROM_CLIP", "TXT_DIASHOW_RUNNING", "TXT_TIMER",
    "TXT_DIASHOW_FINISHED", "TXT_UNDO_LIMIT_REACHED", "TXT_UNDO_PREPARE_BUFFER", "TXT_UNDO_PREPARE_BUFFER_DONE",
    "TXT_UNDO_PREPARE_BUFFER_FAIL", "TXT_OPERATION_SUCCESS", "TXT_AREA_SECTION", "TXT_AREA_SELECT_CANCEL",
    "TXT_AREA_DESELECT", "TXT_AREA_AUTOCONV_ACTIVE_NEED", "TXT_CUT_SECTION", "TXT_CUT_SELECT_CANCEL",
    "TXT_CUTINV_SECTION", "TXT_CUTINV_SELECT_CANCEL", "TXT_CROP_SECTION", "TXT_CROP_SELECT_CANCEL",
    "TXT_IMPORT_SCANNER", "TXT_UNDO_RESTORING", "TXT_AUTOROTATE_NO_NEED", "TXT_AUTOROTATE_NO_METADATA",
    "TXT_ADDALPHA_NO_SOURCE", "TXT_SAVING_ALPHA", "TXT_IMPORT_RAW", "TXT_IMPORT_RAW_DCRAW", "TXT_LOADING_ICC_PROFILE",
    "TXT_SAVING_ICC_PROFILE", "TXT_ADDING_ICC_PROFILE", "TXT_CLIP_COPY_AREA", "TXT_CLIP_COPY_IMAGE", "TXT_CLIP_PASTE",
    "TXT_CLIP_COPY_AREA_ALPHA", "TXT_CLIP_COPY_IMAGE_ALPHA", "TXT_REQUEST_REALLY_EXIT",
};

// Keys newer than some catalogs: their English text until a catalog has one.
const std::pair<const char*, const char*> kEnglishFallbacks[] = {
    {"TXT_LOADED_INCOMPLETE", "Loaded, but the picture is incomplete"},
};

QString controlText(QObject* o) {
    if (auto* a = qobject_cast<QAction*>(o)) return a->text();
    if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(o)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(o)) return g->title();
    return QString();
}

void setControlText(QObject* o, const QString& t) {
    if (auto* a = qobject_cast<QAction*>(o)) a->setText(t);
    else if (auto* b = qobject_cast<QAbstractButton*>(o)) b->setText(t);
    else if (auto* l = qobject_cast<QLabel*>(o)) l->setText(t);
    else if (auto* g = qobject_cast<QGroupBox*>(o)) g->setTitle(t);
}

}  // namespace

kxmain::ParsedCatalog kxmain::parseCatalog(const QString& progdir, const QString& language) {
    ParsedCatalog p;
    p.catalog = CatalogHandler(progdir, CatalogHandler::CatalogPath(language));
    if (p.catalog.retval != 0) {
        p.languageFailed = true;
        p.catalog = CatalogHandler(progdir, CatalogHandler::CatalogPath(QStringLiteral("english")));
    }
    return p;
}

void Main::applyCatalog(const CatalogHandler& cat, bool languageFailed) {
    if (languageFailed) {
        language = QStringLiteral("english");
        toolStripButtonLanguage->setText(QStringLiteral("ENG"));
    }
    QList<QPair<const char*, QObject*>> controls;
    for (const ActionDef& d : kxactions::Table())
        if (d.key && d.kind != kxactions::Kind::Separator) controls.append({d.key, actions.value(QString::fromLatin1(d.id))});
    controls += {
        {"BAR_LOAD", toolStripLoad}, {"BAR_FROMCLIP", toolStripFromClip}, {"BAR_SAVEAS", toolStripSave},
        {"BAR_TOCLIP", toolStripToClip}, {"BAR_VIEW", toolStripView}, {"BAR_DIASHOW", toolStripDiaShow},
        {"BAR_GRAB", toolStripButtonScreenshot}, {"LBL_VIEWDIA_OPT", groupBoxViewDia}, {"LBL_VIEWMODE", labelViewMode},
        {"LBL_SIZE", checkBoxFixedSize}, {"LBL_DIATIMER", checkBoxDiaTimer}, {"LBL_BORDERLESS", checkBoxBorderLess},
        {"LBL_FULLSCREEN", checkBoxFullScreen}, {"LBL_OR", labelOR}, {"LBL_LOOP", checkBoxLoop},
        {"LBL_LOADSAVE_OPT", groupBoxLoadSave}, {"LBL_SAVEFORMAT", labelSaveFormat}, {"LBL_METADATA", labelMetaData},
        {"LBL_METALOAD", checkBoxMetaLoad}, {"LBL_METASAVE", checkBoxMetaSave},
        {"LBL_IMAGEPROCCONV_OPT", groupBoxProcessing}, {"LBL_AREAACTIVE", checkBoxArea},
        {"LBL_UNDOACTIVE", checkBoxUndo}, {"LBL_AUTO2448", checkBoxAutoConv}, {"LBL_AUTO8", checkBoxAutoConv8},
        {"LBL_CM_CHECK", checkBoxAutoCM}, {"LBL_CM", buttonCM}, {"LBL_CM_APPLY_STRIP", buttonCMApply},
        {"LBL_CM_STRIP", buttonCMStrip}, {"LBL_LOSSLESS", labelLossLess}, {"BTN_AUTOVIEW", checkBoxAutoView},
        {"BTN_AUTOROTATE", checkBoxRotate}, {"BTN_ALPHA", checkBoxAlpha}, {"BTN_SAVECONFIG", buttonConfig},
        {"BTN_CROP", buttonCrop}, {"BTN_TRANSFORM", buttonTransform}, {"BTN_TOGGLE_AREA", buttonToggle},
        {"BTN_SELECT_AREA", buttonArea}, {"BTN_META", buttonMeta},
    };
    for (const auto& [key, control] : controls)
        if (control) setControlText(control, cat.GetString(controlText(control), QString::fromLatin1(key)));
    toolStripButtonLanguage->setText(cat.GetString(toolStripButtonLanguage->text(), QStringLiteral("_catalog-iso-639-2")).toUpper());
    for (const auto& [key, english] : kEnglishFallbacks)
        if (txt.value(QString::fromLatin1(key)).isEmpty()) txt.insert(QString::fromLatin1(key), QString::fromLatin1(english));
    for (const char* key : kMessageKeys) txt.insert(QString::fromLatin1(key), cat.GetString(txt.value(QString::fromLatin1(key)), QString::fromLatin1(key)));
    labelFileInfo->setText(Msg("TXT_NO_PICTUREINFO"));
    labelSubType->setText(Msg("TXT_NO_SUBTYPE"));
    labelFileFlags->setText(Msg("TXT_NO_SPECIAL_FLAGS"));
    labelFileName->setText(Msg("TXT_NO_FILE_LOADED"));
    catalogApplied = true;
}

void Main::Localize() {
    ParsedCatalog parsed = parseCatalog(progdir, language);
    applyCatalog(parsed.catalog, parsed.languageFailed);
}
