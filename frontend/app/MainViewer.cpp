// Main: the viewer command, the slide show and the neighbour buttons.
#include "Main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QSpinBox>

#include "MainShared.h"
#include "OwnOperator.h"
#include "UiServices.h"
#include "VidView.h"
#include "View.h"

using kxmain::fileNameOf;

int Main::showViewer(View* v, int* result, const QString& path, bool dia) {
    if (viewerScript) {
        int code = viewerScript(v);
        if (result) *result = code;
        return code;
    }
    if (dia) return v->ShowDialogDia(result, path, checkBoxDiaTimer->isChecked(), numericDiaTimer->value());
    return v->exec();
}

void Main::cmdView() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        ShowMessage(KXMessageKind::Info, Text("TXT_NO_FILE_LOADED"));
        return;
    }
    KXOSpecialInfo* meta = KX_GetMetaData();
    KX_GfxBuffer* turned = nullptr;
    if (checkBoxRotate->isChecked() && checkBoxMetaLoad->isChecked() && meta && meta->Orientation > 1) {
        if (kxown::Orient(app.Library, img, meta->Orientation, &turned)) turned = nullptr;
    }
    bool quit = false;
    {
        View v(app.Library, turned ? turned : img, meta, checkBoxAlpha->isChecked(), checkBoxAutoCM->isChecked(), false, ui, this);
        v.ChangeSizeMode(comboBoxViewMode->currentIndex());
        v.ChangeSizeLimits(checkBoxFixedSize->isChecked(), checkBoxFullScreen->isChecked(), checkBoxBorderLess->isChecked(),
                           numericFixWidth->value(), numericFixHeight->value());
        showViewer(&v, nullptr, QString(), false);
        quit = v.quitRequested();
    }
    KXSUP_FreeGfxBuffer(turned);
    if (quit) {
        if (iniload) quitRequest = true;
        else cmdExit();
    }
}

void Main::cmdDiaShow() {
    const QString folder = ui->FolderName(this, QStringLiteral("DiaShow"), startFolder(diaRememberPath, loadRememberPath));
    // The show ends without a picture: a changed one is asked for first.
    if (folder.isEmpty() || !mayReplacePicture()) return;
    diaRememberPath = folder;
    const QStringList files = kxwalk::ListFolder(folder, false);
    app.Status(Text("TXT_DIASHOW_RUNNING"));
    bool opened = false;
    auto load = [this, &opened](const QString& path) {
        app.Tasks.Begin();
        QByteArray name = QFile::encodeName(path);
        uint32_t r = KX_Load(name.constData(), checkBoxMetaLoad->isChecked());
        app.Tasks.End();
        SetStatusLight(KXStatusLight::Green);
        app.IsVirtual = false;
        if (r == 0) app.ImageReplaced(false);
        opened = r == 0;
        return opened;
    };
    auto show = [this, &opened](const QString& path, int position, int shown) {
        app.LastFile = fileNameOf(path).toStdString();
        QString status = Msg("TXT_DIASHOW_RUNNING") + QStringLiteral(" (%1#%2)").arg(position).arg(shown);
        if (checkBoxDiaTimer->isChecked())
            status += QStringLiteral(" %1 %2 [s]").arg(Msg("TXT_TIMER")).arg(numericDiaTimer->value());
        app.Status(status.toStdString());
        int code = View::Forward;
        KX_GfxBuffer* img = KX_GetGfxBuffer();
        // Only a file that did not open is a video (a picture whose folder
        // or name merely contains ".mov" is shown as a picture).
        if (!opened || !img) {
            if (!app.Settings.DiaMediaView || viewerScript) return code;
            VidView vid(this);
            vid.ChangeSizeLimits(384, 304, checkBoxFixedSize->isChecked(), checkBoxFullScreen->isChecked(),
                                 checkBoxBorderLess->isChecked(), numericFixWidth->value(), numericFixHeight->value());
            vid.ShowDialogDia(&code, path, checkBoxDiaTimer->isChecked(), numericDiaTimer->value());
            return code;
        }
        View v(app.Library, img, KX_GetMetaData(), checkBoxAlpha->isChecked(), checkBoxAutoCM->isChecked(), false, ui, this);
        UpdateImageInfo(img);
        v.ChangeSizeMode(comboBoxViewMode->currentIndex());
        v.ChangeSizeLimits(checkBoxFixedSize->isChecked(), checkBoxFullScreen->isChecked(), checkBoxBorderLess->isChecked(),
                           numericFixWidth->value(), numericFixHeight->value());
        showViewer(&v, &code, path, true);
        return code;
    };
    kxwalk::RunDiaShow(files, checkBoxLoop->isChecked(), load, show);
    app.Status(Text("TXT_DIASHOW_FINISHED"));
    UpdatePreview(true);
    KX_ResetHandle(1, 1, 1);
}

void Main::navigate(int direction) {
    const QString folder = loadRememberPath;
    neighbours.Compute(folder, QString::fromStdString(app.LastFile));
    const bool back = direction == 0 || direction == 3;
    QString target = direction == 0 ? neighbours.previous : direction == 1 ? neighbours.next
                     : direction == 2                      ? neighbours.first
                                                            : neighbours.last;
    static const char* const okText[] = {"%-16s: backward: '%s'\n", "%-16s: forward: '%s'\n", "%-16s: firstfile: '%s'\n",
                                         "%-16s: lastfile: '%s'\n"};
    static const char* const failText[] = {"%-16s: backward failed - try next\n", "%-16s: forward failed - try next\n",
                                           "%-16s: firstfile failed - try next\n", "%-16s: lastfile failed - try next\n"};
    if (target.isEmpty() || !mayReplacePicture()) return;
    int kind = direction;
    while (!target.isEmpty()) {
        if (__kxlib_log_global) __kxlib_log_global->Log(1, okText[kind], "kaxon5", target.toUtf8().constData());
        for (QLabel* l : {labelFileInfo, labelSubType, labelFileFlags, labelFileName}) l->setText(QStringLiteral("...").leftJustified(50));
        if (LoadFile(target) == 0) {
            loadRememberFile = QString::fromStdString(app.LastFile);
            return;
        }
        if (__kxlib_log_global) __kxlib_log_global->Log(1, "%s", QByteArray(failText[kind]).replace("%-16s", "kaxon5          ").constData());
        neighbours.Compute(folder, fileNameOf(target));
        target = back ? neighbours.previous : neighbours.next;
        kind = back ? 0 : 1;
    }
}
