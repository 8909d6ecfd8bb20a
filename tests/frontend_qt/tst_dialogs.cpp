// The operator dialogs through the window's commands: the controls set as a
// user would, the key=value lists that reach the dispatcher, the preview
// against the operator's own result on the same scaled copy (and, for the
// operators that work pixel by pixel, against the command's full result
// scaled the same way), the frame's cancel and opening rules, and the
// corrections of the grey tablet.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "DialogCommands.h"
#include "DialogToneColour.h"
#include "PictureBox.h"
#include "support/QtTestEnv.h"

namespace {

// A picture of 2 x 2 blocks, twice the preview box: the box's copy of it is
// exact, so a pixel-by-pixel operator gives the same copy of its result.
QImage BlockPicture(int w, int h) {
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int bx = x / 2, by = y / 2;
            img.setPixelColor(x, y, QColor((bx * 37 + by * 11) & 255, (bx * 5 + by * 29) & 255, (bx * by * 3 + 60) & 255));
        }
    return img;
}

// A 16-bit binary PPM: 48-bit pictures for the library's PNM reader.
bool WritePPM16(const QString& path, int w, int h) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    f.write(QStringLiteral("P6\n%1 %2\n65535\n").arg(w).arg(h).toLatin1());
    QByteArray row;
    for (int y = 0; y < h; ++y) {
        row.clear();
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const int v = (x * 997 + y * 131 + c * 7919) & 0xffff;
                row.append(char(v >> 8)).append(char(v & 255));
            }
        f.write(row);
    }
    return true;
}

// The window with a recording dispatcher seam.
struct Desk {
    Sandbox box{{"UNDO=NO"}};
    ScriptedUi ui;
    std::unique_ptr<Main> w;
    QStringList runs;  // "op:KEY=VALUE;KEY=VALUE", or "op" without a list
    Desk() {
        w = std::make_unique<Main>(box.options(&ui));
        w->dispatchSpy = [this](uint32_t op, const kxown::KeyList* keys) {
            QString run = QString::number(op);
            if (keys) {
                QStringList pairs;
                for (const auto& [k, v] : *keys) pairs << QString::fromLatin1(k + "=" + v);
                run += ":" + pairs.join(';');
            }
            runs << run;
        };
    }
    bool open(const QImage& img, const QString& name = QStringLiteral("p.ppm")) {
        const QString path = box.pictures() + "/" + name;
        return WritePPM(path, img) && w->LoadFile(path) == 0;
    }
};

template <class D>
D* as(QDialog* d) {
    D* x = qobject_cast<D*>(d);
    if (!x) qWarning("unexpected dialog %s", d ? d->metaObject()->className() : "none");
    return x;
}

void ok(QDialog* d) { static_cast<DialogKXOFrame*>(d)->buttonOK->click(); }

struct KeyCase {
    const char* name;
    const char* id;
    std::function<void(QDialog*)> set;  // then OK, unless it closes the dialog itself
    const char* expected;               // the runs, "|"-separated; "" none
};

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void toneDialogKeys();
    void xorOnDeepPictures();
    void previewMatchesTheResult();
    void cancelRunsNothing();
    void greyTabletBorders();
    void screenshots();
};

// Each dialog's controls, set as a user would, give the key=value list
// that reaches the dispatcher.
void DialogsTest::toneDialogKeys() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    const std::vector<KeyCase> cases = {
        {"brightness down twice, up once", "adjust.brightness",
         [](QDialog* d) {
             auto* b = as<DialogKXOBrightness>(d);
             b->buttonMinusMinus->click();
             b->buttonPlus->click();
         },
         "31:ADJUST_RGB=-10"},
        {"contrast at once", "adjust.contrast", [](QDialog*) {}, "32:PERCENT=100"},
        {"contrast up three times", "adjust.contrast",
         [](QDialog* d) {
             for (int i = 0; i < 3; ++i) as<DialogKXOContrast>(d)->buttonPlusPlus->click();
         },
         "32:PERCENT=145"},
        {"gamma of blue", "adjust.gamma", [](QDialog* d) { as<DialogKXOGamma>(d)->numericBlue->setValue(1.2); },
         "37:RED_GAMMA=0.500000;GREEN_GAMMA=0.500000;BLUE_GAMMA=1.200000"},
        {"gamma below its range", "adjust.gamma", [](QDialog* d) { as<DialogKXOGamma>(d)->numericRed->setValue(0.01); },
         "37:RED_GAMMA=0.200000;GREEN_GAMMA=0.500000;BLUE_GAMMA=0.500000"},
        {"antique", "manip.antique",
         [](QDialog* d) {
             as<DialogKXOAntique>(d)->numericDepth->setValue(4);
             as<DialogKXOAntique>(d)->numericMode->setValue(3);
         },
         "6:COLORDEPTH=4;MODE=MODE_3"},
        {"grey descending", "manip.grey", [](QDialog* d) { as<DialogKXOExtractGray>(d)->checkBoxDesc->setChecked(true); },
         "5:COLORDEPTH=8;SORTED8BIT=DESCENDING"},
        {"grey quick, descending taken back", "manip.grey",
         [](QDialog* d) {
             auto* g = as<DialogKXOExtractGray>(d);
             g->checkBoxDesc->setChecked(true);
             g->checkBoxDesc->setChecked(false);
             g->checkBoxQuick->setChecked(true);
             g->numericDepth->setValue(6);
             QVERIFY(!g->checkBoxSorted->isEnabled());
             QCOMPARE(g->_sorted, 1);
         },
         "5:COLORDEPTH=6;QUICK=0"},
        {"grey tablet: lower border above the upper one", "manip.graytablet",
         [](QDialog* d) {
             auto* g = as<DialogKXOGrayTablet>(d);
             g->num[0][0]->setValue(150);
             g->num[1][0]->setValue(200);
         },
         "61:RED_LEVEL1=150;GREEN_LEVEL1=255;BLUE_LEVEL1=255;RED_LEVEL2=150;GREEN_LEVEL2=0;BLUE_LEVEL2=0;"
         "RED_LEVEL3=150;GREEN_LEVEL3=0;BLUE_LEVEL3=0;RED_LEVEL4=150;GREEN_LEVEL4=0;BLUE_LEVEL4=0"},
        {"grey tablet: exclude, then a lower upper border", "manip.graytablet",
         [](QDialog* d) {
             auto* g = as<DialogKXOGrayTablet>(d);
             g->num[1][1]->setValue(20);
             g->buttonExclude->click();
             g->num[0][0]->setValue(100);
         },
         "61:RED_LEVEL1=100;GREEN_LEVEL1=255;BLUE_LEVEL1=255;RED_LEVEL2=0;GREEN_LEVEL2=20;BLUE_LEVEL2=0;"
         "RED_LEVEL3=100;GREEN_LEVEL3=255;BLUE_LEVEL3=255;RED_LEVEL4=0;GREEN_LEVEL4=20;BLUE_LEVEL4=0"},
        {"xor", "manip.xor", [](QDialog* d) { as<DialogKXOXor>(d)->numericXOR->setValue(300); }, "51:XORVALUE=255"},
    };
    Desk desk;
    QVERIFY(desk.open(TestPicture(40, 30)));
    for (const KeyCase& c : cases) {
        desk.runs.clear();
        desk.w->dialogScript = [&](QDialog* d) {
            c.set(d);
            ok(d);
            return 0;
        };
        QVERIFY2(desk.w->Trigger(c.id), c.name);
        QCOMPARE(desk.runs.join('|'), QString::fromLatin1(c.expected));
        QVERIFY2(desk.w->labelStatus->text() == desk.w->Msg("TXT_OPERATION_SUCCESS"),
                 qPrintable(QString::fromLatin1(c.name) + ": " + desk.w->labelStatus->text()));
        QVERIFY(desk.open(TestPicture(40, 30)));
    }
}

// XOr on a 48-bit picture takes values up to 65535 and sets XORVALUE16.
void DialogsTest::xorOnDeepPictures() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    Desk desk;
    const QString path = desk.box.pictures() + "/deep.ppm";
    QVERIFY(WritePPM16(path, 20, 10));
    QCOMPARE(desk.w->LoadFile(path), 0u);
    QCOMPARE(KX_GetGfxBuffer()->ColorDepth, 48u);
    std::vector<uint8_t> before(KX_GetGfxBuffer()->Data, KX_GetGfxBuffer()->Data + KX_GetGfxBuffer()->BufferSize);
    desk.w->dialogScript = [](QDialog* d) {
        as<DialogKXOXor>(d)->numericXOR->setValue(40000);
        ok(d);
        return 0;
    };
    QVERIFY(desk.w->Trigger("manip.xor"));
    QCOMPARE(desk.runs.join('|'), QStringLiteral("51:XORVALUE16=40000"));
    // The same value again gives the picture back.
    QVERIFY(desk.w->Trigger("manip.xor"));
    const KX_GfxBuffer* b = KX_GetGfxBuffer();
    QCOMPARE(std::vector<uint8_t>(b->Data, b->Data + b->BufferSize), before);
}

// The preview is the operator's result on the dialog's scaled copy, with
// the very keys the command hands the dispatcher; for the operators that
// work pixel by pixel it also equals the command's result on the whole
// picture, scaled to the box.
void DialogsTest::previewMatchesTheResult() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    struct Case {
        const char* id;
        std::function<void(QDialog*)> set;
        bool pointwise;
        QSize picture = QSize(382, 332);  // twice the preview box
    };
    const std::vector<Case> cases = {
        {"adjust.brightness", [](QDialog* d) { as<DialogKXOBrightness>(d)->buttonPlusPlus->click(); }, true},
        {"adjust.contrast", [](QDialog* d) { as<DialogKXOContrast>(d)->buttonMinusMinus->click(); }, true},
        {"adjust.gamma", [](QDialog* d) { as<DialogKXOGamma>(d)->numericGreen->setValue(2.0); }, true},
        {"manip.xor", [](QDialog* d) { as<DialogKXOXor>(d)->numericXOR->setValue(90); }, true},
        {"manip.graytablet", [](QDialog* d) { as<DialogKXOGrayTablet>(d)->num[0][0]->setValue(120); }, true, {792, 584}},
        {"manip.antique", [](QDialog* d) { as<DialogKXOAntique>(d)->numericMode->setValue(2); }, false},
        {"manip.grey", [](QDialog* d) { as<DialogKXOExtractGray>(d)->numericDepth->setValue(5); }, false},
    };
    Desk desk;
    for (const Case& c : cases) {
        QVERIFY(desk.open(BlockPicture(c.picture.width(), c.picture.height())));
        desk.runs.clear();
        QImage preview;
        KX_GfxBuffer* thumb = nullptr;
        QSize box;
        desk.w->dialogScript = [&](QDialog* d) {
            auto* f = static_cast<DialogKXOFrame*>(d);
            c.set(d);
            f->WaitPreview();
            preview = f->pictureBoxPreview->image();
            box = f->PreviewSize();
            KXSUP_CopyGfxBuffer(f->Thumbnail(), &thumb, 1, MEMF_ANY);
            ok(d);
            return 0;
        };
        QVERIFY(desk.w->Trigger(c.id));
        QVERIFY2(thumb && !preview.isNull(), c.id);
        QCOMPARE(desk.runs.size(), 1);
        // The recorded run on the scaled copy.
        const QString run = desk.runs.first();
        kxown::KeyList keys;
        for (const QString& pair : run.section(':', 1).split(';', Qt::SkipEmptyParts))
            keys.emplace_back(pair.section('=', 0, 0).toLatin1(), pair.section('=', 1).toLatin1());
        KX_GfxBuffer* own = nullptr;
        QCOMPARE(kxown::Run(nullptr, run.section(':', 0, 0).toUInt(), thumb, &own, keys), 0u);
        QVERIFY2(kxdlg::Bitmap(own, true) == preview, c.id);
        KXSUP_FreeGfxBuffer(own);
        KXSUP_FreeGfxBuffer(thumb);
        if (!c.pointwise) continue;
        KX_GfxBuffer* scaled = nullptr;
        QCOMPARE(kxown::Run(nullptr, 14, KX_GetGfxBuffer(), &scaled,
                            {{"NEW_WIDTH", kxown::Int(box.width())}, {"NEW_HEIGHT", kxown::Int(box.height())}}),
                 0u);
        QVERIFY2(kxdlg::Bitmap(scaled, true) == preview, c.id);
        KXSUP_FreeGfxBuffer(scaled);
    }
}

// Cancel, and closing the window, leave _exit at 1 and run nothing; the
// opening computes its one preview only once the dialog is ready.
void DialogsTest::cancelRunsNothing() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    Desk desk;
    QVERIFY(desk.open(TestPicture(30, 20)));
    const std::vector<uint8_t> before(KX_GetGfxBuffer()->Data, KX_GetGfxBuffer()->Data + KX_GetGfxBuffer()->BufferSize);
    int exits = 0;
    for (const QString& id : {QStringLiteral("adjust.gamma"), QStringLiteral("manip.antique")}) {
        for (bool viaButton : {true, false}) {
            desk.w->dialogScript = [&](QDialog* d) {
                auto* f = static_cast<DialogKXOFrame*>(d);
                f->WaitPreview();
                // The fields were set while opening; only the ready dialog drew.
                if (f->PreviewCount() != 1) qWarning("previews while opening: %d", f->PreviewCount());
                exits += f->PreviewCount() == 1;
                if (viaButton) f->buttonCancel->click();
                else f->close();
                exits += f->_exit;
                return 0;
            };
            QVERIFY(desk.w->Trigger(id));
        }
    }
    QCOMPARE(exits, 8);
    QVERIFY(desk.runs.isEmpty());
    QVERIFY(!desk.w->app.Modified);
    const KX_GfxBuffer* b = KX_GetGfxBuffer();
    QCOMPARE(std::vector<uint8_t>(b->Data, b->Data + b->BufferSize), before);
}

// Raising the kept range's lower border while nothing is excluded settles
// at once (field by field the borders would chase each other for ever).
void DialogsTest::greyTabletBorders() {
    Desk desk;  // the library the preview runs on
    DialogKXOGrayTablet d;
    KX_GfxBuffer* pic = MakeGfx(8, 8, 24);
    d.Prepare(pic, QString());
    d.num[1][2]->setValue(10);
    QCOMPARE(d.num[1][2]->value(), 10);
    QCOMPARE(d.num[2][2]->value(), 10);
    QCOMPARE(d.num[3][2]->value(), 10);
    d.buttonInclude->click();
    QCOMPARE(d.num[2][2]->value(), 10);
    d.num[1][2]->setValue(0);
    d.buttonInclude->click();
    QCOMPARE(d.num[2][2]->value(), 0);
    QCOMPARE(d.num[3][2]->value(), 0);
    d.WaitPreview();
    QCOMPARE(d.PreviewError(), 0u);
    d.close();
    KXSUP_FreeGfxBuffer(pic);
}

// Every dialog of the command table, as it opens on a picture, written as
// an artefact (the xvfb run writes them with the X server's fonts); none is
// narrower than its texts.
void DialogsTest::screenshots() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    Desk desk;
    QVERIFY(desk.open(TestPicture(64, 48)));
    const QString dir = ArtefactDir() + "/dialogs-" + QGuiApplication::platformName();
    QDir().mkpath(dir);
    for (const kxdlg::Command& c : kxdlg::Commands()) {
        if (!c.make) continue;
        bool fits = false;
        desk.w->dialogScript = [&](QDialog* d) {
            auto* f = static_cast<DialogKXOFrame*>(d);
            f->show();
            f->WaitPreview();
            QTest::qWait(50);
            f->grab().save(dir + "/" + QString::fromLatin1(c.dialog) + ".png");
            fits = f->width() >= f->minimumSizeHint().width() && f->height() >= f->minimumSizeHint().height();
            f->close();
            return 0;
        };
        QVERIFY2(desk.w->Trigger(QString::fromLatin1(c.id)), c.id);
        QVERIFY2(fits, c.dialog);
    }
}

KX_QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
