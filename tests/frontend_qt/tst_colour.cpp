// The colour commands through the window: colorimetry (convert to sRGB or
// attach the described profile) on pictures with and without a profile,
// checked against Little CMS's own transicc; ICC import and export (a
// byte-for-byte round trip, short and broken files refused with the old
// profile kept, a failed export reported); the colour-space list and its
// "Edit..."; one undo step per change.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QDoubleSpinBox>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <array>
#include <cmath>

#include "DialogColorimetric.h"
#include "DialogKXColorSpace.h"
#include "PictureBox.h"
#include "core/colour.h"
#include "formats/libraries/kxoPNG.h"
#include "support/QtTestEnv.h"

using Rgb = std::array<int, 3>;

class ColourTest : public QObject {
    Q_OBJECT
private slots:
    void colorimetryDefaultsAreSrgb();
    void colorimetryOnPictures_data();
    void colorimetryOnPictures();
    void importExportRoundTrip_data();
    void importExportRoundTrip();
    void brokenProfileRefused_data();
    void brokenProfileRefused();
    void exportRefusalsAndFailure();
    void colourSpaceList();
    void screenshots();
};

namespace {

// The description the tests give to the colorimetry dialog: gamma 1.8, D50,
// wide primaries.
struct Described {
    double gamma = 1.8;
    double white[3] = {0.3457, 0.3585, 1.0};
    double red[3] = {0.70, 0.29, 1.0};
    double green[3] = {0.20, 0.72, 1.0};
    double blue[3] = {0.15, 0.05, 1.0};
};

QByteArray profile(double gamma, const double white[3], const double red[3], const double green[3],
                   const double blue[3]) {
    uint8_t* data = nullptr;
    uint32_t size = 0;
    if (KXSUP_CreateCMSProfileGammaWhitePrim(256, gamma, white, red, green, blue, &data, &size)) return {};
    QByteArray out(reinterpret_cast<const char*>(data), int(size));
    FreeVec(data);
    return out;
}
QByteArray describedProfile(const Described& d = {}) { return profile(1.0 / d.gamma, d.white, d.red, d.green, d.blue); }
// The profile a picture comes with: gamma 2.0 (curve 1/2.0), D65, other primaries.
QByteArray embeddedProfile() {
    const double white[3] = {0.3127, 0.329, 1.0}, red[3] = {0.66, 0.32, 1.0}, green[3] = {0.28, 0.62, 1.0},
                 blue[3] = {0.16, 0.07, 1.0};
    return profile(1.0 / 2.0, white, red, green, blue);
}

// A PNG by our writer, with the profile (none when empty) as its iCCP chunk.
bool writePng(const QString& path, const QImage& img, const QByteArray& icc) {
    KX_GfxBuffer* b = MakeGfx(uint32_t(img.width()), uint32_t(img.height()), 24, ONEPLANE);
    if (!b) return false;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            uint8_t* p = b->Data + (y * img.width() + x) * 3;
            p[0] = uint8_t(c.red()), p[1] = uint8_t(c.green()), p[2] = uint8_t(c.blue());
        }
    KXOSpecialInfo info{};
    info.Version = 1;
    QByteArray name("embedded");
    if (!icc.isEmpty()) {
        info.IccData = reinterpret_cast<uint8_t*>(const_cast<char*>(icc.constData()));
        info.IccSize = uint32_t(icc.size());
        info.IccName = name.data();
    }
    kxoPNG writer(nullptr);
    const QByteArray file = QFile::encodeName(path);
    writer.SetSaveName(file.constData());
    writer.SetSaveMeta(1);
    writer.SetSpecialInfo(&info);
    writer.SetGfxBuffer(b);
    const uint32_t err = writer.Save();
    writer.Reset();
    KXSUP_FreeGfxBuffer(b);
    return err == 0;
}

// Every colour level in each channel, so curves show everywhere.
QImage ramp() {
    QImage img(64, 16, QImage::Format_RGB888);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 64; ++x) {
            const int v = (y * 64 + x) & 255;
            img.setPixelColor(x, y, QColor(v, (v * 7 + y) & 255, (255 - v + x * 3) & 255));
        }
    return img;
}

QList<Rgb> currentPixels() {
    QList<Rgb> out;
    const KX_GfxBuffer* b = KX_GetGfxBuffer();
    if (!b || b->ColorDepth != 24) return out;
    for (uint32_t i = 0; i < b->Width * b->Height; ++i)
        out.push_back({b->Data[i * 3], b->Data[i * 3 + 1], b->Data[i * 3 + 2]});
    return out;
}

QByteArray currentProfile() {
    const KXOSpecialInfo* r = KX_GetMetaData();
    return r && r->IccData ? QByteArray(reinterpret_cast<const char*>(r->IccData), int(r->IccSize)) : QByteArray();
}
QString currentProfileName() {
    const KXOSpecialInfo* r = KX_GetMetaData();
    return r && r->IccName ? QString::fromUtf8(r->IccName) : QString();
}

QString transiccPath() { return QStandardPaths::findExecutable(QStringLiteral("transicc")); }

// Little CMS's transicc from the profile file to its built-in sRGB, rounded.
QList<Rgb> transicc(const QString& profileFile, const QList<Rgb>& in) {
    QProcess p;
    p.start(transiccPath(), {QStringLiteral("-i") + profileFile, QStringLiteral("-o*sRGB"), QStringLiteral("-t0"), QStringLiteral("-s"),
                             QStringLiteral("-n")});
    if (!p.waitForStarted(10000)) return {};
    QByteArray input;
    for (const Rgb& c : in) input += QByteArray::number(c[0]) + ' ' + QByteArray::number(c[1]) + ' ' + QByteArray::number(c[2]) + '\n';
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000) || p.exitCode() != 0) return {};
    QList<Rgb> out;
    const QList<QByteArray> numbers = p.readAllStandardOutput().simplified().split(' ');
    for (int i = 0; i + 2 < numbers.size(); i += 3)
        out.push_back({int(std::lround(numbers[i].toDouble())), int(std::lround(numbers[i + 1].toDouble())),
                       int(std::lround(numbers[i + 2].toDouble()))});
    return out;
}

// The largest difference of one channel between two pixel lists (-1 when
// their lengths differ).
int maxDiff(const QList<Rgb>& a, const QList<Rgb>& b) {
    if (a.size() != b.size() || a.isEmpty()) return -1;
    int m = 0;
    for (int i = 0; i < a.size(); ++i)
        for (int c = 0; c < 3; ++c) m = std::max(m, std::abs(a[i][c] - b[i][c]));
    return m;
}

// The window over a sandbox whose program folder holds the stock profiles.
struct Win {
    Sandbox box;
    ScriptedUi ui;
    std::unique_ptr<Main> w;
    explicit Win(bool stockProfiles = true) {
        if (stockProfiles) {
            QDir().mkpath(box.progDir() + "/Resources/ICCP");
            for (const QString& f : QDir(QStringLiteral(KX_ICC_DIR)).entryList({"*.icc"}, QDir::Files))
                QFile::copy(QStringLiteral(KX_ICC_DIR "/") + f, box.progDir() + "/Resources/ICCP/" + f);
        }
        w = std::make_unique<Main>(box.options(&ui));
    }
    // Opens a PNG with that profile (none: a PPM without any).
    bool open(const QByteArray& icc, bool png = true) {
        const QString path = box.pictures() + (png ? "/p.png" : "/p.ppm");
        if (!(png ? writePng(path, ramp(), icc) : WritePPM(path, ramp()))) return false;
        return w->LoadFile(path) == 0;
    }
    // Runs the colorimetry command; script sets the dialog up and ends it.
    void colorimetry(const std::function<void(DialogColorimetric*)>& script) {
        w->dialogScript = [script](QDialog* dlg) {
            auto* d = qobject_cast<DialogColorimetric*>(dlg);
            if (d) script(d);
            return 0;
        };
        QVERIFY(w->Trigger("adjust.colorimetry"));
    }
    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = box.root() + "/" + name;
        return WriteBytes(path, bytes) ? path : QString();
    }
};

void describe(DialogColorimetric* d, const Described& v = {}) {
    d->numInvGam->setValue(v.gamma);
    QDoubleSpinBox* const fields[4][3] = {{d->numWPx, d->numWPy, d->numWPy_},
                                          {d->numRPx, d->numRPy, d->numRPy_},
                                          {d->numGPx, d->numGPy, d->numGPy_},
                                          {d->numBPx, d->numBPy, d->numBPy_}};
    const double* const values[4] = {v.white, v.red, v.green, v.blue};
    for (int p = 0; p < 4; ++p)
        for (int i = 0; i < 3; ++i) fields[p][i]->setValue(values[p][i]);
}

bool readyForPictures() { return ReaderReady("kxoPNG") && ReaderReady("kxoPNM") && OperatorReady(14); }

}  // namespace

// The dialog starts on sRGB's description, and "Apply" with it changes the
// pixels only by the step from a pure 2.2 power curve to sRGB's curve. A
// stock profile only changes the preview; "Apply" still uses the fields.
void ColourTest::colorimetryDefaultsAreSrgb() {
    if (!readyForPictures()) QSKIP("needs the PNG and PNM readers and Resize");
    Win win;
    QVERIFY(win.open({}, false));
    const QList<Rgb> before = currentPixels();
    QImage customPreview, eciPreview;
    win.colorimetry([&](DialogColorimetric* d) {
        QCOMPARE(d->windowTitle(), QStringLiteral("Colorimetry Dialog"));
        const QList<QPair<QDoubleSpinBox*, double>> defaults = {
            {d->numInvGam, 2.2}, {d->numWPx, 0.3127}, {d->numWPy, 0.329}, {d->numWPy_, 1.0}, {d->numRPx, 0.64},
            {d->numRPy, 0.33},   {d->numRPy_, 1.0},   {d->numGPx, 0.3},   {d->numGPy, 0.6},  {d->numGPy_, 1.0},
            {d->numBPx, 0.15},   {d->numBPy, 0.06},   {d->numBPy_, 1.0}};
        for (const auto& [field, value] : defaults) QCOMPARE(field->value(), value);
        QCOMPARE(d->comboBoxMode->currentText(), QStringLiteral("custom gamma"));
        QVERIFY(!d->checkBoxICCP->isEnabled());  // the picture has no profile
        QVERIFY(d->buttonApply->isEnabled());
        customPreview = d->pictureBoxPreview->image();
        d->comboBoxMode->setCurrentIndex(4);
        QVERIFY(!d->numInvGam->isEnabled() && !d->numBPy_->isEnabled());
        eciPreview = d->pictureBoxPreview->image();
        d->buttonApply->click();
    });
    QVERIFY(!customPreview.isNull());
    QVERIFY(!eciPreview.isNull() && eciPreview != customPreview);
    QVERIFY(win.ui.messages.empty());
    QVERIFY(win.w->app.Modified);

    QList<Rgb> expected;
    for (const Rgb& c : before) {
        Rgb e;
        for (int i = 0; i < 3; ++i) {
            const double linear = std::pow(c[i] / 255.0, 2.2);
            const double s = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
            e[i] = int(std::lround(s * 255));
        }
        expected.push_back(e);
    }
    QVERIFY2(maxDiff(currentPixels(), expected) <= 1, qPrintable(QString::number(maxDiff(currentPixels(), expected))));
    QVERIFY(maxDiff(currentPixels(), before) > 0);

    // Without the stock files the preview reports it and keeps its picture.
    Win bare(false);
    QVERIFY(bare.open({}, false));
    bare.colorimetry([](DialogColorimetric* d) {
        d->comboBoxMode->setCurrentIndex(2);
        d->buttonCancel->click();
    });
    QCOMPARE(bare.ui.messages.size(), size_t(1));
    QCOMPARE(bare.ui.messages[0].text, QStringLiteral("Error loading ICC profile!"));
    QVERIFY(!bare.w->app.Modified);
}

void ColourTest::colorimetryOnPictures_data() {
    QTest::addColumn<bool>("embedded");  // the picture comes with a profile
    QTest::addColumn<bool>("addIcc");    // "Add ICC Profile", else "Apply"
    QTest::addColumn<bool>("applyOwn");  // "Apply original ICC Profile"
    QTest::newRow("apply, no profile") << false << false << true;
    QTest::newRow("apply, own profile first") << true << false << true;
    QTest::newRow("apply, own profile ignored") << true << false << false;
    QTest::newRow("add, no profile") << false << true << true;
    QTest::newRow("add, own profile first") << true << true << true;
    QTest::newRow("add, replacing the own profile") << true << true << false;
}

// The result is what transicc makes of the picture with the picture's
// profile (when applied) and then the described one; "Add ICC Profile"
// attaches the described profile instead of the second step. One undo
// step brings pixels and profile back.
void ColourTest::colorimetryOnPictures() {
    QFETCH(bool, embedded);
    QFETCH(bool, addIcc);
    QFETCH(bool, applyOwn);
    if (!readyForPictures()) QSKIP("needs the PNG and PNM readers and Resize");
    if (transiccPath().isEmpty()) QSKIP("transicc (liblcms2-utils) is not installed");
    Win win;
    const QByteArray own = embeddedProfile();
    QVERIFY(win.open(embedded ? own : QByteArray()));
    QCOMPARE(currentProfile(), embedded ? own : QByteArray());
    const QList<Rgb> before = currentPixels();
    const QString ownFile = win.write("own.icc", own), describedFile = win.write("described.icc", describedProfile());
    const uint32_t steps = win.w->app.UndoCount;

    win.colorimetry([&](DialogColorimetric* d) {
        QCOMPARE(d->checkBoxICCP->isEnabled(), embedded);
        d->checkBoxICCP->setChecked(applyOwn);
        describe(d);
        (addIcc ? d->buttonAddICC : d->buttonApply)->click();
    });
    QVERIFY2(win.ui.messages.empty(), qPrintable(win.ui.messages.empty() ? QString() : win.ui.messages[0].text));
    QVERIFY(win.w->app.Modified);
    QCOMPARE(win.w->app.UndoCount, steps + 1);

    QList<Rgb> expected = before;
    int tolerance = 0;
    if (embedded && applyOwn) {
        expected = transicc(ownFile, expected);
        tolerance = 1;
    }
    if (!addIcc) {
        expected = transicc(describedFile, expected);
        // A level off after the first step can become two through the
        // second curve's slope.
        tolerance = tolerance ? 3 : 1;
    }
    const int diff = maxDiff(currentPixels(), expected);
    QVERIFY2(diff >= 0 && diff <= tolerance, qPrintable(QStringLiteral("off by %1").arg(diff)));
    if (addIcc) {
        QCOMPARE(currentProfileName(), QStringLiteral("Custom Profile"));
        // The attached profile converts as the described one does.
        const QString attached = win.write("attached.icc", currentProfile());
        QCOMPARE(transicc(attached, before), transicc(describedFile, before));
    } else {
        QVERIFY(currentProfile().isEmpty());
        QVERIFY(currentProfileName().isEmpty());
    }

    QVERIFY(win.w->Trigger("edit.undo"));
    QCOMPARE(win.w->app.UndoCount, steps);
    QCOMPARE(maxDiff(currentPixels(), before), 0);
    QCOMPARE(currentProfile(), embedded ? own : QByteArray());

    // Cancel changes nothing and costs no step.
    win.w->app.Modified = false;
    win.colorimetry([](DialogColorimetric* d) {
        describe(d);
        d->buttonCancel->click();
    });
    QVERIFY(!win.w->app.Modified);
    QCOMPARE(win.w->app.UndoCount, steps);
    QCOMPARE(maxDiff(currentPixels(), before), 0);
}

void ColourTest::importExportRoundTrip_data() {
    QTest::addColumn<bool>("embedded");
    QTest::newRow("picture without a profile") << false;
    QTest::newRow("picture with a profile") << true;
}

// An imported file becomes the profile whole, named after the file; the
// export writes exactly those bytes; undo brings the old profile back.
void ColourTest::importExportRoundTrip() {
    QFETCH(bool, embedded);
    if (!readyForPictures()) QSKIP("needs the PNG and PNM readers and Resize");
    Win win;
    const QByteArray own = embeddedProfile();
    QVERIFY(embedded ? win.open(own) : win.open({}, false));
    const uint32_t steps = win.w->app.UndoCount;
    const QByteArray icc = ReadBytes(QStringLiteral(KX_ICC_DIR "/ECI-RGB.V1.0.icc"));
    QVERIFY(icc.size() > 128);
    const QString in = win.write("wide gamut.icc", icc);

    win.ui.openNames.push_back(in);
    QVERIFY(win.w->Trigger("file.import.meta.icc"));
    QVERIFY(win.ui.messages.empty());
    QCOMPARE(currentProfile(), icc);
    QCOMPARE(uint32_t(KX_GetMetaData()->IccSize), uint32_t(icc.size()));
    QCOMPARE(currentProfileName(), QStringLiteral("wide gamut.icc"));
    QCOMPARE(win.w->labelStatus->text(), win.w->Msg("TXT_DONE"));
    QVERIFY(win.w->app.Modified);
    QCOMPARE(win.w->app.UndoCount, steps + 1);

    const QString out = win.box.root() + "/exported.icc";
    win.ui.saveNames.push_back(out);
    QVERIFY(win.w->Trigger("file.export.meta.icc"));
    QVERIFY(win.ui.messages.empty());
    QCOMPARE(win.ui.saveFilters.value(0), QStringLiteral("ICC Files (*.icc)"));
    QCOMPARE(win.w->labelStatus->text(), win.w->Msg("TXT_DONE"));
    QCOMPARE(ReadBytes(out), icc);

    QVERIFY(win.w->Trigger("edit.undo"));
    QCOMPARE(currentProfile(), embedded ? own : QByteArray());
}

void ColourTest::brokenProfileRefused_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<uint32_t>("code");
    QTest::newRow("cut in half") << 0 << uint32_t(KXERR_EOF);
    QTest::newRow("header only") << 1 << uint32_t(KXERR_EOF);
    QTest::newRow("empty") << 2 << uint32_t(KXERR_EOF);
    QTest::newRow("not a profile") << 3 << uint32_t(KXERR_FILEREQUIREMENTS);
    QTest::newRow("header says less than a header") << 4 << uint32_t(KXERR_FILEREQUIREMENTS);
    QTest::newRow("no such file") << 5 << uint32_t(KXERR_FILENOTFOUND);
}

// A short or broken file is refused with its error; the picture keeps its
// profile, stays unmodified and gets no undo step.
void ColourTest::brokenProfileRefused() {
    QFETCH(int, kind);
    QFETCH(uint32_t, code);
    if (!readyForPictures()) QSKIP("needs the PNG and PNM readers and Resize");
    Win win;
    const QByteArray own = embeddedProfile();
    QVERIFY(win.open(own));
    const QString name = currentProfileName();
    const uint32_t steps = win.w->app.UndoCount;
    const QByteArray good = describedProfile();
    QByteArray bytes;
    switch (kind) {
    case 0: bytes = good.left(good.size() / 2); break;
    case 1: bytes = good.left(128); break;
    case 2: break;
    case 3: bytes = QByteArray(600, 'x'), bytes[0] = bytes[1] = 0, bytes[2] = 2, bytes[3] = char(0x58); break;
    case 4: bytes = good, bytes[0] = bytes[1] = bytes[2] = 0, bytes[3] = 64; break;
    }
    const QString path = kind == 5 ? win.box.root() + "/missing.icc" : win.write("broken.icc", bytes);

    win.ui.openNames.push_back(path);
    QVERIFY(win.w->Trigger("file.import.meta.icc"));
    const QString text = win.w->Msg("TXT_ERROR_LOADING") + ": " + QString::fromUtf8(KXL_GetErrorString(code));
    QCOMPARE(win.ui.messages.size(), size_t(1));
    QCOMPARE(win.ui.messages[0].caption, win.w->Msg("TXT_KAXON5_ERROR"));
    QCOMPARE(win.ui.messages[0].text, text);
    QCOMPARE(win.w->labelStatus->text(), text);
    QCOMPARE(currentProfile(), own);
    QCOMPARE(currentProfileName(), name);
    QVERIFY(!win.w->app.Modified);
    QCOMPARE(win.w->app.UndoCount, steps);
}

// Export needs a profile; a file that cannot be written is reported, not
// passed off as done.
void ColourTest::exportRefusalsAndFailure() {
    if (!readyForPictures()) QSKIP("needs the PNG and PNM readers and Resize");
    Win win;
    QVERIFY(win.open({}, false));
    QVERIFY(win.w->Trigger("file.export.meta.icc"));
    QCOMPARE(win.ui.messages.size(), size_t(1));
    const QString none = win.ui.messages[0].text;
    QVERIFY(none == win.w->Msg("TXT_NO_METADATA_LOADED") || none == win.w->Msg("TXT_NO_ICC_PROFILE"));
    QVERIFY(win.ui.saveFilters.isEmpty());  // no file dialog

    QVERIFY(win.open(embeddedProfile()));
    win.ui.messages.clear();
    const QString target = win.box.root() + "/no such folder/out.icc";
    win.ui.saveNames.push_back(target);
    QVERIFY(win.w->Trigger("file.export.meta.icc"));
    const QString text =
        win.w->Msg("TXT_ERROR_SAVING") + ": " + QString::fromUtf8(KXL_GetErrorString(KXERR_NODESTFILE));
    QCOMPARE(win.ui.messages.size(), size_t(1));
    QCOMPARE(win.ui.messages[0].text, text);
    QCOMPARE(win.w->labelStatus->text(), text);
    QVERIFY(!QFile::exists(target));
}

// The list for a picture without and with a profile, and "Edit..."
// attaching a described profile (the colorimetry dialog then only offers
// "Add ICC Profile").
void ColourTest::colourSpaceList() {
    if (!readyForPictures()) QSKIP("needs the PNG and PNM readers and Resize");
    Win win;
    QVERIFY(win.open({}, false));
    QStringList rows;
    bool applyOffered = true;
    QString title;
    win.w->dialogScript = [&](QDialog* dlg) {
        if (auto* c = qobject_cast<DialogColorimetric*>(dlg)) {
            applyOffered = c->buttonApply->isEnabled();
            c->buttonAddICC->click();
        } else if (auto* d = qobject_cast<DialogKXColorSpace*>(dlg)) {
            title = d->windowTitle();
            for (int i = 0; i < d->listBoxTags->count(); ++i) rows << d->listBoxTags->item(i)->text();
            d->buttonEdit->click();
            for (int i = 0; i < d->listBoxTags->count(); ++i) rows << d->listBoxTags->item(i)->text();
        }
        return 0;
    };
    auto row = [](const char* label, const QString& value) { return QString::asprintf("%-32s", label) + value; };
    // The intent row belongs to a record, which a plain PPM may not have.
    const bool record = KX_GetMetaData() != nullptr;
    QVERIFY(win.w->Trigger("info.colorspace"));
    QStringList plain = {row("ColorManagement", "LittleCMS (active)"), row("ColorSpace", "sRGB"),
                         row("Source", "DEFAULT (no profile attached)")};
    if (record) plain << row("sRGB Intent", "0");
    plain << row("Viewing Gamma", "1.125") << row("Camera Gamma", "0.450") << row("CRT Gamma", "2.20")
          << row("LUT Gamma", "1.00");
    const QByteArray custom = currentProfile();
    QVERIFY(!custom.isEmpty());
    QStringList afterEdit = {row("ColorManagement", "LittleCMS (active)"), row("ColorProfile", "Custom Profile"),
                             row("Source", "IMAGE"), row("Profile size (Bytes)", QString::number(custom.size()))};
    QCOMPARE(title, QStringLiteral("ColorSpace Information"));
    QCOMPARE(rows, plain + afterEdit);
    QVERIFY(!applyOffered);
    QVERIFY(win.w->app.Modified);

    // A picture with its own profile, management switched off.
    QVERIFY(win.open(embeddedProfile()));
    win.w->checkBoxAutoCM->setChecked(false);
    rows.clear();
    win.w->dialogScript = [&](QDialog* dlg) {
        if (auto* d = qobject_cast<DialogKXColorSpace*>(dlg))
            for (int i = 0; i < d->listBoxTags->count(); ++i) rows << d->listBoxTags->item(i)->text();
        return 0;
    };
    win.w->buttonICCInfo->click();
    QCOMPARE(rows, (QStringList{row("ColorManagement", "LittleCMS (inactive)"), row("ColorProfile", "embedded"),
                                row("Source", "IMAGE"),
                                row("Profile size (Bytes)", QString::number(embeddedProfile().size()))}));
}

// One picture of each dialog (under Xvfb by kxqt_colour_shots_xvfb).
void ColourTest::screenshots() {
    if (!readyForPictures()) QSKIP("needs the PNG and PNM readers and Resize");
    Win win;
    QVERIFY(win.open(embeddedProfile()));
    const QString dir = ArtefactDir() + "/colour-" + QGuiApplication::platformName();
    QDir().mkpath(dir);
    int shots = 0;
    win.w->dialogScript = [&](QDialog* dlg) {
        dlg->show();
        QTest::qWait(200);
        if (auto* c = qobject_cast<DialogColorimetric*>(dlg)) {
            c->grab().save(dir + "/colorimetry.png");
            ++shots;
        } else if (auto* d = qobject_cast<DialogKXColorSpace*>(dlg)) {
            d->grab().save(dir + "/colorspace.png");
            ++shots;
        }
        dlg->close();
        return 0;
    };
    QVERIFY(win.w->Trigger("adjust.colorimetry"));
    QVERIFY(win.w->Trigger("info.colorspace"));
    QCOMPARE(shots, 2);
}

KX_QTEST_MAIN(ColourTest)
#include "tst_colour.moc"
