// Main: the information area: thumbnail, the four information lines, the
// flag words and the small buttons under the thumbnail.
#include "Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <cstring>

#include "MainShared.h"
#include "OwnOperator.h"
#include "PictureBox.h"
#include "View.h"

using kxmain::kThumbH;
using kxmain::kThumbW;

void Main::UpdatePreview(bool clear) {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    areaFrameShown = false;  // a rebuilt thumbnail has no frame
    if (!clear && objr && img) {
        pictureBoxPreview->setMode(PictureBox::Zoom);
        KX_GfxBuffer* reduced = nullptr;
        if (img->Width > 3u * kThumbW && img->Height > 3u * kThumbH) {
            const float f = std::min(float(img->Width) / kThumbW, float(img->Height) / kThumbH);
            const uint32_t d = uint32_t(f) - 1;
            if (kxown::Run(app.Library, KXOP_RESIZE, img, &reduced,
                           {{"NEW_WIDTH", kxown::Int(long(img->Width / d))}, {"NEW_HEIGHT", kxown::Int(long(img->Height / d))}}))
                reduced = nullptr;
        }
        QImage bitmap;
        {
            View converter(app.Library, reduced ? reduced : img, KX_GetMetaData(), checkBoxAlpha->isChecked(),
                           checkBoxAutoCM->isChecked(), checkBoxArea->isChecked(), ui, nullptr);
            bitmap = converter.image();
        }
        KXSUP_FreeGfxBuffer(reduced);
        pictureBoxPreview->setImage(bitmap);
        UpdateImageInfo(img);
    } else {
        checkBoxArea->setChecked(false);
        pictureBoxPreview->setMode(PictureBox::Stretch);
        QImage dot(1, 1, QImage::Format_RGB888);
        dot.fill(palette().color(QPalette::Window));
        pictureBoxPreview->setImage(dot);
        UpdateImageInfo(nullptr);
    }
    QApplication::restoreOverrideCursor();
    buttonStatus->setFocus();
}

void Main::UpdateImageInfo(KX_GfxBuffer* image) {
    // The commands work on the current picture, whatever the thumbnail shows.
    enablePictureCommands(KX_GetGfxBuffer() != nullptr);
    buttonCrop->setEnabled(false);
    buttonTransform->setEnabled(false);
    checkBoxBackFwd->setVisible(false);
    for (QPushButton* b : {buttonBackward, buttonForward, buttonFullBackward, buttonFullForward}) {
        b->setEnabled(false);
        b->setVisible(false);
    }
    buttonView->setVisible(false);
    // The reader's names describe the image only while it is as read.
    const bool fresh = !app.Undone && !app.Modified && !app.SavedChanges;
    if (image) {
        checkBoxBackFwd->setVisible(true);
        buttonGfxInfo->setVisible(true);
        UpdateMetaStatus();
        buttonView->setVisible(checkBoxBackFwd->isChecked());
        QFont f = labelFileName->font();
        const QString last = QString::fromStdString(app.LastFile);
        if (!app.IsVirtual) {
            if (checkBoxBackFwd->isChecked()) updateNavButtons();
            if (app.Modified) {
                f.setItalic(true);
                labelFileName->setText(last.size() >= 40 ? last.left(36) + QStringLiteral("...*") : last + QStringLiteral("*"));
            } else {
                f.setItalic(false);
                labelFileName->setText(last.size() >= 40 ? last.left(37) + QStringLiteral("...") : last);
            }
        } else {
            f.setItalic(false);
            const QString t = Msg("TXT_NO_FILE_ATTACHED");
            labelFileName->setText(t.size() >= 40 ? t.left(37) + QStringLiteral("...") : t);
        }
        labelFileName->setFont(f);
        // A picture from the platform decoder has only a stand-in reader:
        // it is named by the decoder's format and has no subtype.
        const bool decoded = !app.DecoderFormat.empty();
        const QString format = !(fresh && objr) ? Msg("TXT_BUFFER")
                               : decoded        ? QString::fromStdString(app.DecoderFormat)
                                                : QString::fromUtf8(objr->FormatName);
        labelFileInfo->setText(QStringLiteral("%1 %2 x %3 x %4").arg(format).arg(image->Width).arg(image->Height).arg(image->ColorDepth));
        if (fresh && objr && decoded) {
            labelSubType->setText(QStringLiteral("Subtype: none"));
        } else if (fresh && objr) {
            const uint32_t id = objr->SubFormatId;
            const QString sub = id < 16 ? QString::fromUtf8(objr->SubFormatNames[id]) : QString();
            labelSubType->setText(sub.isEmpty() ? QStringLiteral("Subtype: none") : sub);
        } else {
            labelSubType->setText(Msg("TXT_NO_SUBTYPE2"));
        }
        QString flags;
        if (fresh && objr && std::strcmp(objr->FormatName, "JPEG") == 0) {
            buttonCrop->setEnabled(true);
            buttonTransform->setEnabled(true);
        }
        if (IsHamBuffer(image)) {
            if (image->ColorDepth == 6) flags += QStringLiteral(" HAM6");
            else if (image->ColorDepth == 8) flags += QStringLiteral(" HAM8");
        }
        if (IsEhbBuffer(image)) flags += QStringLiteral(" EHB");
        if (image->Version >= 3) {
            if (image->AlphaType & KXALPHA_CHANNEL16) flags += QStringLiteral(" 16 Bit Alpha");
            if (image->AlphaType & KXALPHA_CHANNEL8) flags += QStringLiteral(" 8 Bit Alpha");
            if (image->AlphaType & KXALPHA_MULTICOLOR) flags += QStringLiteral(" 8 Bit AlphaMap");
            if (image->AlphaType & KXALPHA_SINGLECOLOR)
                flags += QStringLiteral(" Transparent Color (%1)").arg(KXSUP_AlphaIndex(image));
        }
        if (KXOSpecialInfo* meta = KX_GetMetaData()) {
            if (meta->IccData) flags += QStringLiteral(" ICC");
            else if (meta->IccName) flags += QStringLiteral(" sRGB");
        }
        labelFileFlags->setText(flags.isEmpty() ? Msg("TXT_NO_SPECIAL_FLAGS") : flags.mid(1));
    } else {
        buttonMeta->setVisible(false);
        buttonGfxInfo->setVisible(false);
        buttonICCInfo->setVisible(false);
        labelFileInfo->setText(Msg("TXT_NO_PICTUREINFO"));
        labelSubType->setText(Msg("TXT_NO_SUBTYPE"));
        labelFileFlags->setText(Msg("TXT_NO_SPECIAL_FLAGS"));
        labelFileName->setText(Msg("TXT_NO_FILE_LOADED"));
        QFont f = labelFileName->font();
        f.setItalic(false);
        labelFileName->setFont(f);
        UpdateMetaStatus();
    }
    if (__kxlib_log_global) {
        for (QLabel* l : {labelFileInfo, labelSubType, labelFileFlags, labelFileName})
            __kxlib_log_global->Log(1, "%-16s: '%s'\n", "kaxon5", l->text().toUtf8().constData());
    }
    buttonStatus->setFocus();
}

void Main::UpdateMetaStatus() {
    buttonMeta->setVisible(false);
    // A stripped or converted profile takes its button with it.
    buttonICCInfo->setVisible(false);
    buttonCM->setEnabled(false);
    buttonCMApply->setEnabled(false);
    buttonCMStrip->setEnabled(false);
    // Without a picture there is nothing to apply a profile to (a reader
    // that failed may still hold a record).
    KXOSpecialInfo* m = checkBoxMetaLoad->isChecked() && KX_GetGfxBuffer() ? KX_GetMetaData() : nullptr;
    if (m) {
        if (m->Anno || m->Auth || m->Compression || m->Copy || m->Exif || m->Iptc || m->More1 || m->More2 || m->More3 ||
            m->More4 || m->Name || m->Orientation || m->Xmp0 || m->Xmp1 || m->IccData || m->IccName)
            buttonMeta->setVisible(true);
        if (m->IccData) {
            buttonCM->setEnabled(true);
            buttonCMApply->setEnabled(true);
            buttonCMStrip->setEnabled(true);
            buttonICCInfo->setVisible(true);
        }
    }
    buttonStatus->setFocus();
}

void Main::updateNavButtons() {
    neighbours.Compute(loadRememberPath, QString::fromStdString(app.LastFile));
    const struct {
        QPushButton* b;
        const QString& target;
    } rows[] = {{buttonBackward, neighbours.previous}, {buttonForward, neighbours.next},
                {buttonFullBackward, neighbours.first}, {buttonFullForward, neighbours.last}};
    for (const auto& r : rows) {
        r.b->setVisible(true);
        r.b->setEnabled(!r.target.isEmpty());
    }
}
