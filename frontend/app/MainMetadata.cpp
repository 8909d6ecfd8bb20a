// Main: the metadata dialog (menu "Show EXIF/IPTC/XMP/..." and the small
// "M" button). Its changes go to the bridge's editable record and mark the
// picture modified; they reach a file with the next save with metadata.
#include <QCheckBox>
#include <QPushButton>

#include "DialogMetaInfo.h"
#include "Main.h"

void Main::wireMetadata() {
    connect(buttonMeta, &QPushButton::clicked, this, [this] { cmdShowMeta(); });
}

void Main::cmdShowMeta() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    KXOSpecialInfo* meta = img ? KX_GetMetaData() : nullptr;
    if (!meta) {
        app.Status((Msg("TXT_ERROR") + QLatin1Char(' ') + Msg("TXT_NO_METADATA_LOADED")).toStdString());
        return;
    }
    DialogShowEXIF d(ui, this);
    d.showModal = [this](QDialog* nested) { return showModal(nested); };
    d.showColourSpace = [this](KXOSpecialInfo*) { cmdColourSpaceInfo(); };
    d.PrepareP(meta, app.Library, QString::fromStdString(app.AtomName), checkBoxAutoCM->isChecked(), progdir);
    showModal(&d);
    if (d.changed) app.Modified = true;
    UpdateImageInfo(KX_GetGfxBuffer());
}
