// Main: the lossless JPEG commands behind "Transform" and "Crop". The
// external transformer (jpegtran) rewrites the file the shown picture came
// from without decoding it; its result then opens as the current picture.
#include "Main.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <cstdio>
#include <vector>

#include "DialogLossless.h"
#include "core/extrun.h"
#include "core/kxbridge.h"
#include "core/kxsettings.h"

void Main::wireLossless() {
    connect(buttonTransform, &QPushButton::clicked, this, [this] { cmdLossless(false); });
    connect(buttonCrop, &QPushButton::clicked, this, [this] { cmdLossless(true); });
}

// JPEGTRAN_PATH from the start-up settings, or read again while unset.
QString Main::losslessTool() {
    if (app.Settings.JpegtranPath.empty()) {
        KX_ControlPad* pad = KX_GetCPContent(app.EnvDir.c_str(), app.EnvArcDir.c_str(), "Kaxon5", ".controlpad");
        char* v = nullptr;
        if (pad && KXSUP_FindControlPad(pad, "JPEGTRAN_PATH", &v) && v && *v) app.Settings.JpegtranPath = v;
        KXSUP_FreeControlPad(pad);
    }
    return QString::fromStdString(app.Settings.JpegtranPath);
}

void Main::cmdLossless(bool crop) {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    const QString tool = losslessTool();
    if (tool.isEmpty()) {
        ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_NO_CONFIG_JPEGTRAN"));
        return;
    }
    if (!img || shownFile.isEmpty()) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    uint32_t r = KXERR_NONE;
    if (crop) {
        // The area dialog's cut-out is not needed, only its rectangle.
        DialogLLCrop d(
            ui,
            [this, img](long* l, long* t, long* w, long* h) {
                QRect rect;
                KX_GfxBuffer* cut = selectArea(img, &rect);
                if (!cut) return false;
                KXSUP_FreeGfxBuffer(cut);
                *l = rect.x();
                *t = rect.y();
                *w = rect.width();
                *h = rect.height();
                return true;
            },
            this);
        d.Prepare(long(img->Width), long(img->Height), progdir, loadRememberPath);
        showModal(&d);
        if (d._exit) return;
        r = CropLoadJPG(shownFile, d._fullname, tool, d.areaL, d.areaT, d.areaW, d.areaH);
    } else {
        DialogLLTransform d(ui, this);
        d.Prepare(progdir, loadRememberPath);
        showModal(&d);
        if (d._exit) return;
        r = TransLoadJPG(shownFile, d._fullname, tool, d._rotate, d._deg, d._flip, d._flipxy, d._transp, d._transpxy,
                         d._optimize, d._progress, d._trim);
    }
    if (r != KXERR_NONE) statusError(r);
}

uint32_t Main::TransLoadJPG(const QString& input, const QString& output, const QString& tool, bool rotate,
                            const QString& deg, bool flip, const QString& flipxy, bool transp, const QString& transpxy,
                            bool optimize, bool progressive, bool trim) {
    QStringList args;
    if (rotate) args << QStringLiteral("-rotate") << deg;
    if (flip) args << QStringLiteral("-flip") << flipxy;
    if (transp) args << QLatin1Char('-') + transpxy;
    if (optimize) args << QStringLiteral("-optimize");
    if (progressive) args << QStringLiteral("-progressive");
    if (trim) args << QStringLiteral("-trim");
    return runLossless(args, input, output, tool);
}

uint32_t Main::CropLoadJPG(const QString& input, const QString& output, const QString& tool, long left, long top,
                           long width, long height) {
    return runLossless({QStringLiteral("-crop"), QStringLiteral("%1x%2+%3+%4").arg(width).arg(height).arg(left).arg(top)},
                       input, output, tool);
}

// The transformer writes a new file beside the output, which replaces the
// output only when the program ended with 0 and left a file: an older file
// of the output's name is never taken for the result, and choosing the
// input itself as output works, since the input is not touched before the
// run has succeeded.
uint32_t Main::runLossless(const QStringList& args, const QString& input, const QString& output, const QString& tool) {
    if (input.isEmpty() || output.isEmpty()) return KXERR_NOVIEWABLEDATA;
    const QFileInfo out(output);
    // The tool makes this file itself, so it gets the usual permissions.
    const QString work = out.absolutePath() + QStringLiteral("/.") + out.fileName() +
                         QStringLiteral(".%1.kxtmp").arg(QCoreApplication::applicationPid());
    QFile::remove(work);

    std::vector<QByteArray> bytes;
    for (const QString& a : args) bytes.push_back(a.toUtf8());
    bytes.push_back(QByteArrayLiteral("-outfile"));
    bytes.push_back(QFile::encodeName(work));
    bytes.push_back(QFile::encodeName(input));
    std::vector<const char*> argv;
    for (const QByteArray& b : bytes) argv.push_back(b.constData());
    argv.push_back(nullptr);
    const QByteArray program = QFile::encodeName(tool);

    uint32_t r = KX_RunExternal(program.constData(), nullptr, argv.data(), nullptr);
    if (r == KXERR_NONE && (KX_LastExitCode() != 0 || QFileInfo(work).size() == 0)) r = KXERR_EXTERNALTOOL;
    if (r == KXERR_NONE && std::rename(QFile::encodeName(work).constData(), QFile::encodeName(output).constData()) != 0)
        r = KXERR_EXTERNALTOOL;
    if (r != KXERR_NONE) {
        if (__kxlib_log_global)
            __kxlib_log_global->Log(1, "%-16s: '%s' made no file from '%s'\n", "kaxon5", program.constData(),
                                    QFile::encodeName(input).constData());
        QFile::remove(work);
        return r;
    }
    r = LoadFile(output);
    if (r == KXERR_NONE) UpdatePreview(false);
    return r;
}
