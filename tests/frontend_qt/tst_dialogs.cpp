// The operator dialogs through the window's commands: the controls set as a
// user would, the key=value lists that reach the dispatcher, the preview
// against the operator's own result on the same scaled copy (and, for the
// operators that work pixel by pixel, against the command's full result
// scaled the same way), the frame's cancel and opening rules, and the
// corrections of the grey tablet.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

#include "DialogAlphaChannel.h"
#include "DialogAreaSelect.h"
#include "DialogCommands.h"
#include "DialogConvolve.h"
#include "DialogDither.h"
#include "DialogPalette.h"
#include "DialogResizeRotateTiling.h"
#include "DialogToneColour.h"
#include "PictureBox.h"
#include "support/DialogDesk.h"
#include "support/QtTestEnv.h"

using namespace kxtest;

namespace {

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
    void dialogKeys();
    void xorOnDeepPictures();
    void previewMatchesTheResult();
    void cancelRunsNothing();
    void referencePalette();
    void paletteePicturesNeedTrueColour();
    void alphaBlend();
    void areaCommands();
    void matrixRows();
    void convolutionBorder();
    void matrixFiles();
    void paletteEditorColours();
    void paletteEditorTransparency();
    void paletteEditorPlanesAndHam();
    void inPlaceCommandsMarkTheChange();
    void greyTabletBorders();
    void screenshots();
};

// Each dialog's controls, set as a user would, give the key=value list
// that reaches the dispatcher.
void DialogsTest::dialogKeys() {
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
        {"rotate", "rot.free", [](QDialog* d) { as<DialogKXORotateFree>(d)->newWidth->setValue(90); }, "27:ROTATE_ANGLE=90"},
        {"rotate keeping the size", "rot.free",
         [](QDialog* d) {
             as<DialogKXORotateFree>(d)->newWidth->setValue(45);
             as<DialogKXORotateFree>(d)->checkBoxKeepSize->setChecked(true);
         },
         "27:ROTATE_ANGLE=45;KEEPSIZE=0"},
        {"resize to the same size", "size.free", [](QDialog*) {}, ""},
        {"resize by half", "size.free", [](QDialog* d) { as<DialogKXOResize>(d)->numericPercent->setValue(50); },
         "14:NEW_WIDTH=20;NEW_HEIGHT=15"},
        {"resize by fields", "size.free",
         [](QDialog* d) {
             auto* r = as<DialogKXOResize>(d);
             r->checkBoxAspect->setChecked(false);
             r->newWidth->setValue(7);
             r->newHeight->setValue(70000);
         },
         "14:NEW_WIDTH=7;NEW_HEIGHT=65535"},
        {"resize by pixel steps", "size.free",
         [](QDialog* d) {
             auto* r = as<DialogKXOResize>(d);
             r->checkBoxDDA->setChecked(true);
             QVERIFY(!r->checkBoxAspect->isEnabled() && r->checkBoxAspect->isChecked());
             r->numericPercent->setValue(50);
         },
         "54:ZOOM_FACTOR=0.500000"},
        {"tiling at once", "effects.tiling", [](QDialog*) {}, "56:TILESIZE=1"},
        {"dither best, Burkes", "depth.8bit.alloptions", [](QDialog* d) { as<DialogKXODither>(d)->comboDithMode->setCurrentIndex(2); },
         "8:COLORDEPTH=8;DITHERMODE=BURKES"},
        {"dither fixed", "depth.8bit.alloptions",
         [](QDialog* d) {
             auto* x = as<DialogKXODither>(d);
             x->comboDithMode->setCurrentIndex(3);
             x->comboPalMode->setCurrentIndex(1);
             QCOMPARE(x->comboDithMode->count(), 2);
             QCOMPARE(x->comboDithMode->currentText(), QStringLiteral("F-S"));
         },
         "7:COLORDEPTH=8;DITHERMODE=DITHER_FLOYD-STEINBERG"},
        {"dither fixed, best pen, 4 bits", "depth.8bit.alloptions",
         [](QDialog* d) {
             auto* x = as<DialogKXODither>(d);
             x->comboPalMode->setCurrentIndex(1);
             x->comboDithMode->setCurrentIndex(1);
             x->palDepth->setValue(4);
         },
         "7:COLORDEPTH=4;DITHERMODE=BESTPEN"},
        {"reset green", "comp.resetchannel",
         [](QDialog* d) {
             as<DialogKXOResetChannel>(d)->numericMode->setValue(5);
             as<DialogKXOResetChannel>(d)->numericMode->setValue(2);
             as<DialogKXOResetChannel>(d)->numericValue->setValue(99);
         },
         "44:MODE=GREEN;CHANNEL_VALUE=99"},
        {"add alpha at once", "alpha.add", [](QDialog*) {}, "49:ALPHA_MODE=VALUE;ALPHA_PIXEL24=0x000000;ALPHA_VALUE8=255"},
        {"add alpha to all", "alpha.add",
         [](QDialog* d) {
             as<DialogKXOAddAlpha>(d)->comboAddMode->setCurrentIndex(0);
             as<DialogKXOAddAlpha>(d)->numericTransparency->setValue(100);
         },
         "49:ALPHA_MODE=ALL;ALPHA_VALUE8=100"},
        {"add alpha to red", "alpha.add",
         [](QDialog* d) {
             auto* a = as<DialogKXOAddAlpha>(d);
             a->buttonPixel->click();
             QCOMPARE(a->labelPixelValue->text(), QStringLiteral("255, 128, 000 (#ff, #80, #00)"));
             a->numericTransparency->setValue(0);
         },
         "49:ALPHA_MODE=VALUE;ALPHA_PIXEL24=0xff8000;ALPHA_VALUE8=0"},
        {"convolve 3x3 at once", "proc.convolution.3", [](QDialog*) {},
         "15:MATRIX_LINE1=1 1 1;MATRIX_LINE2=1 1 1;MATRIX_LINE3=1 1 1;DIVIDE_EQUAL=9;ADD_EQUAL=0"},
        {"convolve 3x3 with reals", "proc.convolution.3f",
         [](QDialog* d) { as<DialogKXOConvolve>(d)->numericUpDown[4]->setValue(2.5); },
         "16:MATRIX_LINE1=1.000000 1.000000 1.000000;MATRIX_LINE2=1.000000 2.500000 1.000000;"
         "MATRIX_LINE3=1.000000 1.000000 1.000000;DIVIDE_EQUAL=9.000000;ADD_EQUAL=0.000000"},
        {"convolve 5x5", "proc.convolution.5", [](QDialog* d) { as<DialogKXOConvolve5x5>(d)->numericAdd->setValue(-7); },
         "17:MATRIX_SIZE=5x5;MATRIX_LINE1=1 1 1 1 1;MATRIX_LINE2=1 1 1 1 1;MATRIX_LINE3=1 1 1 1 1;"
         "MATRIX_LINE4=1 1 1 1 1;MATRIX_LINE5=1 1 1 1 1;DIVIDE_EQUAL=25;ADD_EQUAL=-7"},
        {"sharpen beyond its range", "proc.sharpen", [](QDialog* d) { as<DialogKXOSharpen>(d)->newWidth->setValue(20); },
         "24:SHARPNESS=15"},
    };
    Desk desk;
    QVERIFY(desk.open(TestPicture(40, 30)));
    for (const KeyCase& c : cases) {
        desk.runs.clear();
        desk.ui.colours = {QColor(255, 128, 0)};
        desk.w->dialogScript = [&](QDialog* d) {
            c.set(d);
            ok(d);
            return 0;
        };
        QVERIFY2(desk.w->Trigger(c.id), c.name);
        QCOMPARE(desk.runs.join('|'), QString::fromLatin1(c.expected));
        QVERIFY2(!*c.expected || desk.w->labelStatus->text() == desk.w->Msg("TXT_OPERATION_SUCCESS"),
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
        {"comp.resetchannel", [](QDialog* d) { as<DialogKXOResetChannel>(d)->numericValue->setValue(200); }, true},
        {"alpha.add", [](QDialog* d) { as<DialogKXOAddAlpha>(d)->numericTransparency->setValue(90); }, true},
        {"alpha.add",
         [](QDialog* d) {
             // The colour of the top-left block, made transparent.
             as<DialogKXOAddAlpha>(d)->buttonPixel->click();
             as<DialogKXOAddAlpha>(d)->numericTransparency->setValue(0);
         },
         true},
        {"alpha.add", [](QDialog* d) { as<DialogKXOAddAlpha>(d)->comboAddMode->setCurrentIndex(0); }, true},
        {"depth.8bit.alloptions",
         [](QDialog* d) {
             as<DialogKXODither>(d)->comboPalMode->setCurrentIndex(1);
             as<DialogKXODither>(d)->comboDithMode->setCurrentIndex(1);
         },
         true},
        {"rot.free", [](QDialog* d) { as<DialogKXORotateFree>(d)->newWidth->setValue(30); }, false},
        {"proc.convolution.5",
         [](QDialog* d) {
             as<DialogKXOConvolve5x5>(d)->checkBoxAdjustBorder->setChecked(true);
             as<DialogKXOConvolve5x5>(d)->numericUpDown[12]->setValue(-30);
         },
         false},
        {"proc.convolution.3f", [](QDialog* d) { as<DialogKXOConvolve>(d)->numericAdd->setValue(12.5); }, false},
    };
    Desk desk;
    for (const Case& c : cases) {
        QVERIFY(desk.open(BlockPicture(c.picture.width(), c.picture.height())));
        desk.runs.clear();
        desk.ui.colours = {QColor(0, 0, 60)};
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
        // The recorded runs on the scaled copy.
        KX_GfxBuffer* own = thumb;
        thumb = nullptr;
        for (const QString& run : desk.runs) {
            kxown::KeyList keys;
            for (const QString& pair : run.section(':', 1).split(';', Qt::SkipEmptyParts))
                keys.emplace_back(pair.section('=', 0, 0).toLatin1(), pair.section('=', 1).toLatin1());
            KX_GfxBuffer* next = nullptr;
            QCOMPARE(kxown::Run(nullptr, run.section(':', 0, 0).toUInt(), own, &next, keys, run.contains(':')), 0u);
            KXSUP_FreeGfxBuffer(own);
            own = next;
        }
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
    for (const QString& id : {QStringLiteral("adjust.gamma"), QStringLiteral("manip.antique"),
                              QStringLiteral("proc.convolution.7"), QStringLiteral("proc.sharpen")}) {
        for (bool viaButton : {true, false}) {
            desk.w->dialogScript = [&](QDialog* d) {
                auto* f = static_cast<DialogKXOFrame*>(d);
                f->WaitPreview();
                // The fields were set while opening; only the ready dialog drew.
                const int wanted = f->pictureBoxPreview ? 1 : 0;
                if (f->PreviewCount() != wanted) qWarning("previews while opening: %d", f->PreviewCount());
                exits += f->PreviewCount() == wanted;
                if (viaButton && f->buttonCancel) f->buttonCancel->click();
                else f->close();
                if (auto* s = qobject_cast<DialogKXOSharpen*>(d)) exits += s->_sh == 11 ? 0 : 100;
                exits += f->_exit;
                return 0;
            };
            QVERIFY(desk.w->Trigger(id));
        }
    }
    QCOMPARE(exits, 16);
    QVERIFY(desk.runs.isEmpty());
    QVERIFY(!desk.w->app.Modified);
    const KX_GfxBuffer* b = KX_GetGfxBuffer();
    QCOMPARE(std::vector<uint8_t>(b->Data, b->Data + b->BufferSize), before);
}

// The reference dialog: a picture deeper than 8 bits is refused with its
// text and leaves the preview undithered; a 4-bit one limits both depths to
// 4; the command hands the reference's path.
void DialogsTest::referencePalette() {
    if (!ReaderReady("kxoPNM") || !ReaderReady("kxoBMP")) QSKIP("needs the PNM and BMP readers");
    Desk desk;
    QVERIFY(desk.open(TestPicture(40, 30)));
    const QString ref4 = desk.box.pictures() + "/ref4.bmp", ref24 = desk.box.pictures() + "/ref24.ppm";
    QVERIFY(WriteBmp4(ref4, 16, 8));
    QVERIFY(WritePPM(ref24, TestPicture(8, 8)));
    desk.w->dialogScript = [&](QDialog* d) {
        [&] {
            auto* p = as<DialogKXOPaletteDither>(d);
            p->WaitPreview();
            const QImage plain = p->pictureBoxPreview->image();
            desk.ui.openNames = {ref24};
            p->button1->click();
            QCOMPARE(p->labelReference->text(), QStringLiteral("Reference file must be 8 bit palette-based."));
            QVERIFY(p->labelReference->isVisibleTo(p));
            QCOMPARE(p->labelStatus->text(), "Error: " + QString::fromUtf8(KXL_GetErrorString(KXERR_NO24BIT)));
            QVERIFY(p->pictureBoxReference->image().isNull());
            p->WaitPreview();
            QCOMPARE(p->pictureBoxPreview->image(), plain);
            desk.ui.openNames = {ref4};
            p->button1->click();
            QCOMPARE(p->labelStatus->text(), QStringLiteral("No error."));
            QCOMPARE(p->labelFileName->text(), ref4);
            QVERIFY(!p->pictureBoxReference->image().isNull());
            for (QSpinBox* s : {p->refDepth, p->palDepth}) {
                QCOMPARE(s->maximum(), 4);
                QCOMPARE(s->value(), 4);
            }
            p->WaitPreview();
            QCOMPARE(p->PreviewError(), 0u);
            QVERIFY(p->pictureBoxPreview->image() != plain);
            p->comboDithMode->setCurrentIndex(3);
            ok(d);
        }();
        return 0;
    };
    QVERIFY(desk.w->Trigger("depth.8bit.reference"));
    QCOMPARE(desk.runs.join('|'), "48:PALETTEFILE=" + ref4 + ";PALETTEDEPTH=4;COLORDEPTH=4;DITHERMODE=BESTPEN");
    QVERIFY(KX_GetGfxBuffer()->ColorDepth <= 4);
}

// The commands that need true colour refuse a palette picture with their
// box; with "Auto 24/48" they convert it, but only on OK (the dialog
// previews a true-colour copy): Cancel leaves the picture, its changed mark
// and the undo steps as they were.
void DialogsTest::paletteePicturesNeedTrueColour() {
    if (!ReaderReady("kxoBMP") || !ReaderReady("kxoPNM") || !ReaderReady("kxoRGFX"))
        QSKIP("needs the BMP and PNM readers and RGFX undo files");
    Desk desk({"UNDO=YES"});
    const QString pic = desk.box.pictures() + "/pal.bmp", ref4 = desk.box.pictures() + "/ref4.bmp",
                  blend = desk.box.pictures() + "/blend.ppm";
    QVERIFY(WriteBmp4(pic, 12, 10));
    QVERIFY(WriteBmp4(ref4, 16, 8));
    QVERIFY(WritePPM(blend, TestPicture(8, 8)));
    int shown = 0;
    desk.w->dialogScript = [&](QDialog* d) {
        ++shown;
        static_cast<DialogKXOFrame*>(d)->buttonCancel->click();
        return 0;
    };
    const struct {
        const char* id;
        const char* refusal;
        QString picture;   // what the dialog loads before OK
        const char* run;   // the command's first run after the conversion
        uint32_t depth;    // the picture's depth afterwards
    } cases[] = {{"alpha.tablet", "TXT_ERROR_ALPHABLEND_COLORMAP", blend, "49:", 24},
                 {"effects.watermark", "TXT_ERROR_WATERMARK_COLORMAP", blend, "49:", 24},
                 {"depth.8bit.reference", "TXT_ERROR_PALETTE_COLORMAP_DITHER", ref4, "48:", 4}};
    for (const auto& c : cases) {
        QCOMPARE(desk.w->LoadFile(pic), 0u);
        desk.w->checkBoxAutoConv->setChecked(false);
        desk.ui.messages.clear();
        QVERIFY(desk.w->Trigger(c.id));
        QCOMPARE(int(desk.ui.messages.size()), 1);
        QCOMPARE(desk.ui.messages.front().text, desk.w->Msg(c.refusal));
        QVERIFY(desk.runs.isEmpty());
        QCOMPARE(shown, 0);
    }
    desk.selectOnToggle(QRect(2, 2, 6, 5));  // the watermark asks for an area
    for (const auto& c : cases) {
        for (const bool confirm : {false, true}) {
            const QString row = QString::fromLatin1(c.id) + (confirm ? " OK" : " Cancel");
            QCOMPARE(desk.w->LoadFile(pic), 0u);
            desk.w->checkBoxAutoConv->setChecked(true);
            desk.runs.clear();
            const KX_GfxBuffer* b = KX_GetGfxBuffer();
            const std::vector<uint8_t> before(b->Data, b->Data + b->BufferSize);
            const uint32_t steps = desk.w->app.UndoCount;
            uint32_t previewError = 1;
            desk.w->dialogScript = [&](QDialog* d) {
                auto* f = static_cast<DialogKXOFrame*>(d);
                if (!confirm) {
                    f->buttonCancel->click();
                    return 0;
                }
                desk.ui.openNames = {c.picture};
                f->findChild<QPushButton*>(QStringLiteral("button1"))->click();
                f->WaitPreview();
                previewError = f->PreviewError();
                ok(d);
                return 0;
            };
            QVERIFY2(desk.w->Trigger(c.id), qPrintable(row));
            b = KX_GetGfxBuffer();
            if (!confirm) {
                QVERIFY2(desk.runs.isEmpty(), qPrintable(row + ": " + desk.runs.join('|')));
                QCOMPARE(b->ColorDepth, 4u);
                QCOMPARE(std::vector<uint8_t>(b->Data, b->Data + b->BufferSize), before);
                QVERIFY2(!desk.w->app.Modified, qPrintable(row));
                QCOMPARE(desk.w->app.UndoCount, steps);
            } else {
                QCOMPARE(previewError, 0u);
                QVERIFY2(desk.runs.value(0) == QLatin1String("0") && desk.runs.value(1).startsWith(QLatin1String(c.run)),
                         qPrintable(row + ": " + desk.runs.join('|')));
                QCOMPARE(b->ColorDepth, c.depth);
                QCOMPARE(b->Width, 12u);
                QVERIFY(desk.w->app.Modified);
                QVERIFY(desk.w->app.UndoCount >= steps + 2);  // the conversion's step, then the command's
                QCOMPARE(desk.w->labelStatus->text(), desk.w->Msg("TXT_OPERATION_SUCCESS"));
            }
        }
    }
    QCOMPARE(shown, 0);
}

// Alpha blending: the source's own alpha only when it has a map; a blend
// picture without alpha turns to the uniform alpha, one with a map to its
// own; a file no reader knows is named in the status line.
void DialogsTest::alphaBlend() {
    if (!ReaderReady("kxoPNM") || !ReaderReady("kxoPNG")) QSKIP("needs the PNM and PNG readers");
    Desk desk;
    QVERIFY(desk.open(TestPicture(40, 30)));
    const QString plain = desk.box.pictures() + "/plain.ppm", withAlpha = desk.box.pictures() + "/alpha.png",
                  junk = desk.box.pictures() + "/junk.txt";
    QVERIFY(WritePPM(plain, TestPicture(20, 20)));
    QImage a(20, 20, QImage::Format_ARGB32);
    a.fill(qRgba(200, 10, 10, 100));
    QVERIFY(a.save(withAlpha, "PNG"));
    QFile j(junk);
    QVERIFY(j.open(QIODevice::WriteOnly));
    j.write("no picture here\n");
    j.close();
    const QString unknown = "Error: " + QString::fromUtf8(KXL_GetErrorString(KXERR_UNKNOWNFORMAT));
    desk.w->dialogScript = [&](QDialog* d) {
        [&] {
            auto* b = as<DialogKXOAlphaBlend>(d);
            QVERIFY(!b->checkBoxSourceAlpha->isEnabled());
            QVERIFY(!b->checkBoxUserAlpha->isEnabled());
            desk.ui.openNames = {junk};
            b->button1->click();
            QCOMPARE(b->labelStatus->text(), unknown);
            QVERIFY(b->pictureBoxReference->image().isNull());
            b->WaitPreview();
            QCOMPARE(b->labelStatus->text(), "Error: " + QString::fromUtf8(KXL_GetErrorString(KXERR_NOMEMORY)));
            QVERIFY(b->pictureBoxPreview->image().isNull());
            desk.ui.openNames = {plain};
            b->button1->click();
            QVERIFY(b->checkBoxUserAlpha->isChecked());
            QVERIFY(!b->checkBoxUserAlpha->isEnabled());
            QVERIFY(!b->labelReference->isVisibleTo(b));
            b->WaitPreview();
            QCOMPARE(b->labelStatus->text(), QStringLiteral("No error."));
            const int before = b->PreviewCount();
            b->numericTransparency->setValue(200);
            b->WaitPreview();
            QCOMPARE(b->PreviewCount(), before + 1);
            ok(d);
        }();
        return 0;
    };
    QVERIFY(desk.w->Trigger("alpha.tablet"));
    QCOMPARE(desk.runs.join('|'),
             "49:ALPHA_MODE=ALL;ALPHA_VALUE8=200|52:ALPHA_MODE=SRCGFX_ALPHA;SCALE_BLENDGFX=0;BLEND_GRAPHICS=" + plain);
    QCOMPARE(KXSUP_AlphaHolds(KX_GetGfxBuffer()), uint32_t(KXALPHA_NONE));

    QVERIFY(desk.open(TestPicture(40, 30)));
    desk.runs.clear();
    desk.w->dialogScript = [&](QDialog* d) {
        [&] {
            auto* b = as<DialogKXOAlphaBlend>(d);
            desk.ui.openNames = {withAlpha};
            b->button1->click();
            QVERIFY(b->checkBoxBlendAlpha->isChecked());
            QVERIFY(!b->checkBoxSourceAlpha->isChecked());
            QVERIFY(!b->checkBoxUserAlpha->isChecked());
            ok(d);
        }();
        return 0;
    };
    QVERIFY(desk.w->Trigger("alpha.tablet"));
    QCOMPARE(desk.runs.join('|'), "52:ALPHA_MODE=BLENDGFX_ALPHA;SCALE_BLENDGFX=0;BLEND_GRAPHICS=" + withAlpha);
}

// Red-eye and watermark work on an area: without one chosen they end
// without running anything; with one they run on it and drop it again.
void DialogsTest::areaCommands() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    Desk desk;
    QVERIFY(desk.open(TestPicture(40, 30)));
    const QString blend = desk.box.pictures() + "/mark.ppm";
    QVERIFY(WritePPM(blend, TestPicture(10, 10)));
    int shown = 0;
    desk.w->dialogScript = [&](QDialog* d) {
        ++shown;
        desk.ui.openNames = {blend};
        as<DialogKXOAlphaBlend>(d)->button1->click();
        ok(d);
        return 0;
    };
    QVERIFY(desk.w->Trigger("manip.redeye"));
    QVERIFY(desk.w->Trigger("effects.watermark"));
    QVERIFY(desk.runs.isEmpty());
    QCOMPARE(shown, 0);
    QVERIFY(!desk.w->app.Modified);

    desk.selectOnToggle(QRect(5, 4, 10, 8));
    QVERIFY(desk.w->Trigger("manip.redeye"));
    QCOMPARE(desk.runs.join('|'), QStringLiteral("28"));
    QVERIFY(!desk.w->app.AreaBuffer);
    QVERIFY(!desk.w->checkBoxArea->isChecked());
    desk.runs.clear();
    QVERIFY(desk.w->Trigger("effects.watermark"));
    QCOMPARE(shown, 1);
    QCOMPARE(desk.runs.join('|'), "49:ALPHA_MODE=ALL;ALPHA_VALUE8=31|52:ALPHA_MODE=SRCGFX_ALPHA;SCALE_BLENDGFX=0;BLEND_GRAPHICS=" +
                                      blend + "|20");
    QVERIFY(!desk.w->app.AreaBuffer);
    QCOMPARE(KX_GetGfxBuffer()->Width, 40u);
    QCOMPARE(KXSUP_AlphaHolds(KX_GetGfxBuffer()), uint32_t(KXALPHA_NONE));
    QCOMPARE(desk.w->labelStatus->text(), desk.w->Msg("TXT_OPERATION_SUCCESS"));
}

// Line k of every matrix size holds the coefficients (k - 1) x n + 1 to
// k x n, in order.
void DialogsTest::matrixRows() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    Desk desk;
    QVERIFY(desk.open(TestPicture(30, 30)));
    for (const char* id : {"proc.convolution.3", "proc.convolution.5", "proc.convolution.7", "proc.convolution.9"}) {
        int n = 0;
        desk.runs.clear();
        desk.w->dialogScript = [&](QDialog* d) {
            auto* m = static_cast<DialogKXOConvolveMatrix*>(d);
            n = m->Size();
            for (int k = 0; k < n * n; ++k) m->numericUpDown[k]->setValue(k - 40);
            m->numericDiv->setValue(3);
            ok(d);
            return 0;
        };
        QVERIFY(desk.w->Trigger(id));
        QCOMPARE(desk.runs.size(), 1);
        for (int r = 0; r < n; ++r) {
            QStringList row;
            for (int c = 0; c < n; ++c) row << QString::number(r * n + c - 40);
            QVERIFY2(desk.runs.first().contains(QStringLiteral("MATRIX_LINE%1=%2;").arg(r + 1).arg(row.join(' '))), id);
        }
        QVERIFY(desk.open(TestPicture(30, 30)));
    }
}

// "Adjust Border" frames the picture, convolves and strips the frame: the
// size stays, and one undo restores the picture as it was; with an area
// the box is off.
void DialogsTest::convolutionBorder() {
    if (!ReaderReady("kxoPNM") || !ReaderReady("kxoRGFX")) QSKIP("needs the PNM reader and RGFX undo files");
    Desk desk(QStringList{});
    QVERIFY(desk.open(TestPicture(100, 80)));
    const KX_GfxBuffer* start = KX_GetGfxBuffer();
    const std::vector<uint8_t> before(start->Data, start->Data + start->BufferSize);
    desk.w->dialogScript = [&](QDialog* d) {
        as<DialogKXOConvolve>(d)->checkBoxAdjustBorder->setChecked(true);
        as<DialogKXOConvolve>(d)->numericUpDown[0]->setValue(4);
        ok(d);
        return 0;
    };
    QVERIFY(desk.w->Trigger("proc.convolution.3"));
    QCOMPARE(desk.runs.join('|'), QStringLiteral("45:LEFT_WIDTH=1;RIGHT_WIDTH=1;TOP_WIDTH=1;BOTTOM_WIDTH=1|"
                                                 "15:MATRIX_LINE1=4 1 1;MATRIX_LINE2=1 1 1;MATRIX_LINE3=1 1 1;DIVIDE_EQUAL=9;ADD_EQUAL=0|2"));
    QCOMPARE(KX_GetGfxBuffer()->Width, 100u);
    QCOMPARE(KX_GetGfxBuffer()->Height, 80u);
    QCOMPARE(desk.w->app.UndoCount, 1u);
    QVERIFY(desk.w->Trigger("edit.undo"));
    const KX_GfxBuffer* b = KX_GetGfxBuffer();
    QCOMPARE(std::vector<uint8_t>(b->Data, b->Data + b->BufferSize), before);

    desk.selectOnToggle(QRect(10, 10, 30, 20));
    desk.w->checkBoxArea->setChecked(true);
    QVERIFY(desk.w->app.AreaBuffer);
    bool boxOff = false;
    desk.w->dialogScript = [&](QDialog* d) {
        boxOff = !as<DialogKXOConvolve>(d)->checkBoxAdjustBorder->isEnabled();
        ok(d);
        return 0;
    };
    desk.runs.clear();
    QVERIFY(desk.w->Trigger("proc.convolution.3"));
    QVERIFY(boxOff);
    QVERIFY(desk.runs.first().startsWith("15:"));
}

// Matrix files: saved into the settings directory's sub-folder whatever
// folder the chooser pointed at (the folder made when missing), loaded back
// by full path; the whole-number form takes what it can of a real file; a
// file of another size or with values beyond the fields is refused; a save
// that fails is reported and leaves the name.
void DialogsTest::matrixFiles() {
    Desk desk;
    const QString env = desk.box.envDir(), arc = desk.box.progDir() + "/ENV/Kaxon5-Library/";
    KX_GfxBuffer* pic = MakeGfx(16, 12, 24);
    auto prepared = [&](DialogKXOConvolveMatrix& d, std::vector<double> m, double div, double add) {
        d.Prepare(pic, desk.box.progDir(), env, arc, false, m, div, add);
    };
    std::vector<double> soft = {1.25, -2.5, 3, 0, 1, 0, 0.5, 0.75, 2};

    DialogKXOConvolve real(nullptr, &desk.ui, true);
    prepared(real, soft, 7.5, -1.25);
    QCOMPARE(real.labelMatrixName->text(), QStringLiteral("No matrix loaded."));
    desk.ui.saveNames = {desk.box.root() + "/anywhere/Soft"};
    real.buttonSave->click();
    const QString saved = env + "ConvolveFloat/Soft.controlpad";
    QFile f(saved);
    QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(saved));
    QCOMPARE(QString::fromLatin1(f.readAll()),
             QStringLiteral("; created by KXConfig class\nMATRIX_LINE1=1.250000 -2.500000 3.000000\n"
                            "MATRIX_LINE2=0.000000 1.000000 0.000000\nMATRIX_LINE3=0.500000 0.750000 2.000000\n"
                            "DIVIDE_EQUAL=7.500000\nADD_EQUAL=-1.250000\n"));
    QCOMPARE(real.labelMatrixName->text(), QStringLiteral("Soft"));

    DialogKXOConvolve again(nullptr, &desk.ui, true);
    prepared(again, std::vector<double>(9, 1.0), 9, 0);
    desk.ui.openNames = {saved};
    again.buttonLoad->click();
    for (int k = 0; k < 9; ++k) QCOMPARE(again._pf[k], float(soft[size_t(k)]));
    QCOMPARE(again._divf, 7.5f);
    QCOMPARE(again.labelMatrixName->text(), QStringLiteral("Soft"));
    again.numericUpDown[8]->setValue(1);
    QCOMPARE(again.labelMatrixName->text(), QStringLiteral("Unnamed, modified matrix."));

    DialogKXOConvolve whole(nullptr, &desk.ui, false);
    prepared(whole, std::vector<double>(9, 1.0), 9, 0);
    QVERIFY(whole.LoadMatrix(saved));
    const int expected[9] = {1, 1, 1, 0, 1, 1, 0, 1, 1};
    for (int k = 0; k < 9; ++k) QCOMPARE(whole._p[k], expected[k]);
    QCOMPARE(whole._div, 7);

    auto write = [&](const QString& name, const QString& text) {
        QFile w(desk.box.root() + "/" + name);
        w.open(QIODevice::WriteOnly | QIODevice::Truncate);
        w.write(text.toLatin1());
        return w.fileName();
    };
    DialogKXOConvolve5x5 five(nullptr, &desk.ui);
    prepared(five, std::vector<double>(25, 1.0), 25, 0);
    desk.ui.messages.clear();
    QVERIFY(!five.LoadMatrix(write("seven.controlpad", "MATRIX_SIZE=7x7\nMATRIX_LINE1=2 2 2 2 2 2 2\n")));
    QCOMPARE(int(desk.ui.messages.size()), 1);
    QCOMPARE(desk.ui.messages.front().caption, QStringLiteral("Kaxon5 Error"));
    QCOMPARE(desk.ui.messages.front().text, QStringLiteral("Matrix size must be 5x5"));
    QCOMPARE(five._p[0], 1);
    QCOMPARE(five.labelMatrixName->text(), QStringLiteral("No matrix loaded."));
    QVERIFY(!five.LoadMatrix(write("wide.controlpad", "MATRIX_LINE1=300 1 1 1 1\n")));
    QCOMPARE(int(desk.ui.messages.size()), 2);
    QCOMPARE(five._p[0], 1);
    QVERIFY(!five.LoadMatrix(desk.box.root() + "/missing.controlpad"));
    QCOMPARE(int(desk.ui.messages.size()), 2);
    QVERIFY(five.LoadMatrix(write("plain.controlpad", "MATRIX_LINE3=0 0 -4 0 0\nDIVIDE_EQUAL=0\n")));
    QCOMPARE(five._p[12], -4);
    QCOMPARE(five._p[0], 1);
    QCOMPARE(five._div, 1);
    QCOMPARE(five.labelMatrixName->text(), QStringLiteral("plain"));

    // A file where the sub-folder should be: the save fails and says so.
    write("x", "");
    QVERIFY(QFile::copy(desk.box.root() + "/x", env + "ConvolveNxN"));
    desk.ui.saveNames = {desk.box.root() + "/Blocked.controlpad"};
    five.buttonSave->click();
    QCOMPARE(int(desk.ui.messages.size()), 3);
    QVERIFY(desk.ui.messages.back().text.contains("Blocked.controlpad"));
    QCOMPARE(five.labelMatrixName->text(), QStringLiteral("plain"));
    for (DialogKXOFrame* d : {static_cast<DialogKXOFrame*>(&real), static_cast<DialogKXOFrame*>(&again),
                              static_cast<DialogKXOFrame*>(&whole), static_cast<DialogKXOFrame*>(&five)})
        d->close();
    KXSUP_FreeGfxBuffer(pic);
}

// The palette editor through its command on a 4-bit picture: its sixteen
// entries, a new colour in the picture at once, Done keeping it with an
// undo step and the changed mark; a true-colour picture is refused.
void DialogsTest::paletteEditorColours() {
    if (!ReaderReady("kxoBMP") || !ReaderReady("kxoRGFX") || !ReaderReady("kxoPNM"))
        QSKIP("needs the BMP and PNM readers and RGFX undo files");
    Desk desk(QStringList{});
    const QString pic = desk.box.pictures() + "/pal.bmp";
    QVERIFY(WriteBmp4(pic, 12, 10));
    QCOMPARE(desk.w->LoadFile(pic), 0u);
    QCOMPARE(KX_GetGfxBuffer()->ColorDepth, 4u);
    const std::vector<uint8_t> palette(KX_GetGfxBuffer()->Palette, KX_GetGfxBuffer()->Palette + 48);
    desk.ui.colours = {QColor(1, 2, 3)};
    desk.w->dialogScript = [&](QDialog* d) {
        [&] {
            auto* p = as<DialogPalette>(d);
            QCOMPARE(p->Entries(), 16);
            QVERIFY(p->colourButtons[15]->isEnabled());
            QVERIFY(!p->colourButtons[16]->isEnabled());
            QCOMPARE(p->numericTransColor->maximum(), 15);
            p->colourButtons[5]->click();
            const uint8_t* e = KX_GetGfxBuffer()->Palette + 15;
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(e), 3), QByteArray("\x01\x02\x03", 3));
            QCOMPARE(p->labelColorIndex->text(), QStringLiteral("5"));
            QCOMPARE(p->labelColorRGB->text(), QStringLiteral("001, 002, 003 (#01, #02, #03)"));
            p->WaitPreview();
            QCOMPARE(p->PreviewError(), 0u);
            p->buttonOK->click();
        }();
        return 0;
    };
    QVERIFY(desk.w->Trigger("palette.editor"));
    QVERIFY(desk.w->app.Modified);
    QCOMPARE(desk.w->app.UndoCount, 1u);
    QVERIFY(desk.w->Trigger("edit.undo"));
    QCOMPARE(std::vector<uint8_t>(KX_GetGfxBuffer()->Palette, KX_GetGfxBuffer()->Palette + 48), palette);

    // Opened and closed without a change: no undo step stays.
    desk.w->dialogScript = [](QDialog* d) {
        d->close();
        return 0;
    };
    QVERIFY(desk.w->Trigger("palette.editor"));
    QCOMPARE(desk.w->app.UndoCount, 0u);

    QVERIFY(desk.open(TestPicture(8, 8)));
    desk.ui.messages.clear();
    int shown = 0;
    desk.w->dialogScript = [&](QDialog*) { return ++shown; };
    QVERIFY(desk.w->Trigger("palette.editor"));
    QCOMPARE(shown, 0);
    QCOMPARE(int(desk.ui.messages.size()), 1);
    QCOMPARE(desk.ui.messages.front().text, desk.w->Msg("TXT_ERROR_PALETTE_TRUECOLOR_EDIT"));
}

// Transparency in the record: a table is listed and kept as it is; "+"
// and the opacity field write it; single transparency frees it and holds
// the index; a table made from an index never writes through the index;
// "-" on the last entry removes the table.
void DialogsTest::paletteEditorTransparency() {
    Desk desk;
    KX_GfxBuffer* b = MakeGfx(8, 6, 8);
    for (int i = 0; i < 768; ++i) b->Palette[i] = uint8_t(i * 7);
    auto* t = static_cast<uint8_t*>(AllocVec(256, MEMF_ANY));
    std::memset(t, 255, 256);
    t[3] = 10;
    t[7] = 0;
    b->AlphaType = KXALPHA_MULTICOLOR;
    b->AlphaData = t;
    const QByteArray table(reinterpret_cast<const char*>(t), 256);
    {
        DialogPalette d(nullptr, &desk.ui);
        d.Prepare(b);
        QVERIFY(d.checkBoxTransMap->isChecked());
        QCOMPARE(d.listBoxMT->count(), 2);
        QCOMPARE(d.listBoxMT->item(0)->text(), QStringLiteral("3"));
        QCOMPARE(d.listBoxMT->item(1)->text(), QStringLiteral("7"));
        QCOMPARE(d.listBoxMT->currentItem()->text(), QStringLiteral("3"));
        QCOMPARE(d.numericTransparency->value(), 10);
        QCOMPARE(QByteArray(static_cast<const char*>(b->AlphaData), 256), table);
        QVERIFY(!d.Changed());
        d.numericTransColor->setValue(9);
        d.numericTransparency->setValue(50);
        d.buttonMTPlus->click();
        QCOMPARE(d.listBoxMT->count(), 3);
        QCOMPARE(static_cast<const uint8_t*>(b->AlphaData)[9], uint8_t(50));
        QVERIFY(d.Changed());
        d.checkBoxTrans->setChecked(true);
        QVERIFY(!d.checkBoxTransMap->isChecked());
        QCOMPARE(KXSUP_AlphaHolds(b), uint32_t(KXALPHA_SINGLECOLOR));
        QCOMPARE(KXSUP_AlphaIndex(b), 9u);
        QCOMPARE(d.listBoxMT->count(), 0);
        d.numericTransColor->setValue(4);
        QCOMPARE(KXSUP_AlphaIndex(b), 4u);
        // From the index to a table of its own.
        d.checkBoxTransMap->setChecked(true);
        QCOMPARE(KXSUP_AlphaHolds(b), uint32_t(KXALPHA_MULTICOLOR));
        QCOMPARE(static_cast<const uint8_t*>(b->AlphaData)[4], uint8_t(0));
        QCOMPARE(static_cast<const uint8_t*>(b->AlphaData)[5], uint8_t(255));
        QCOMPARE(d.listBoxMT->count(), 1);
        d.buttonMTMinus->click();
        QVERIFY(!d.checkBoxTransMap->isChecked());
        QCOMPARE(b->AlphaType, 0u);
        QVERIFY(!b->AlphaData);
        d.WaitPreview();
        QCOMPARE(d.PreviewError(), 0u);
        d.close();
    }
    // A record whose index bit and table bit are both set holds an index:
    // the editor treats it as one and makes a new table for the multi mode.
    b->AlphaType = KXALPHA_SINGLECOLOR | KXALPHA_MULTICOLOR;
    KXSUP_SetAlphaIndex(b, 2);
    {
        DialogPalette d(nullptr, &desk.ui);
        d.Prepare(b);
        QVERIFY(d.checkBoxTrans->isChecked());
        QCOMPARE(d.numericTransColor->value(), 2);
        d.checkBoxTransMap->setChecked(true);
        QCOMPARE(b->AlphaType, uint32_t(KXALPHA_MULTICOLOR));
        QCOMPARE(static_cast<const uint8_t*>(b->AlphaData)[2], uint8_t(0));
        d.close();
    }
    // A record below version 3 is raised for transparency.
    KX_GfxBuffer* old = MakeGfx(4, 4, 2);
    KXSUP_SetGfxBufferVersion(old, 1);
    {
        DialogPalette d(nullptr, &desk.ui);
        d.Prepare(old);
        d.checkBoxTrans->setChecked(true);
        QCOMPARE(old->Version, 3u);
        QCOMPARE(old->NativeDIPF, 0u);
        QCOMPARE(KXSUP_AlphaHolds(old), uint32_t(KXALPHA_SINGLECOLOR));
        d.close();
    }
    KXSUP_FreeGfxBuffer(old);
    KXSUP_FreeGfxBuffer(b);
}

// Bit-plane and HAM pictures: the entries they use, a colour changed in
// place, and a preview of each (HAM through true colour).
void DialogsTest::paletteEditorPlanesAndHam() {
    Desk desk;
    KX_GfxBuffer* planes = MakeGfx(16, 4, 3, BITPLANE);
    for (uint32_t i = 0; i < planes->BufferSize; ++i) planes->Data[i] = uint8_t(i * 37);
    KX_GfxBuffer* ham = MakeGfx(16, 4, 6);
    ham->ViewMode = KXVIEWMODE_HAM;
    for (uint32_t i = 0; i < ham->BufferSize; ++i) ham->Data[i] = uint8_t(i & 63);
    const struct {
        KX_GfxBuffer* record;
        int entries;
    } cases[] = {{planes, 8}, {ham, 16}};
    for (const auto& c : cases) {
        DialogPalette d(nullptr, &desk.ui);
        d.Prepare(c.record);
        QCOMPARE(d.Entries(), c.entries);
        QVERIFY(d.colourButtons[c.entries - 1]->isEnabled());
        QVERIFY(!d.colourButtons[c.entries]->isEnabled());
        d.WaitPreview();
        QCOMPARE(d.PreviewError(), 0u);
        const QImage first = d.pictureBoxPreview->image();
        desk.ui.colours = {QColor(250, 0, 0)};
        d.colourButtons[1]->click();
        QCOMPARE(c.record->Palette[3], uint8_t(250));
        d.WaitPreview();
        QCOMPARE(d.PreviewError(), 0u);
        QVERIFY(d.pictureBoxPreview->image() != first);
        QVERIFY(d.Changed());
        d.close();
    }
    KXSUP_FreeGfxBuffer(planes);
    KXSUP_FreeGfxBuffer(ham);
}

// The Image commands that change the picture in its own record mark it
// changed, so that closing asks first.
void DialogsTest::inPlaceCommandsMarkTheChange() {
    if (!ReaderReady("kxoBMP") || !ReaderReady("kxoPNM")) QSKIP("needs the BMP and PNM readers");
    Desk desk;
    const QString pal = desk.box.pictures() + "/pal.bmp", deep = desk.box.pictures() + "/deep.ppm";
    QVERIFY(WriteBmp4(pal, 6, 4));
    QVERIFY(WritePPM16(deep, 6, 4));
    QCOMPARE(desk.w->LoadFile(pal), 0u);
    QVERIFY(desk.w->Trigger("palette.increase"));
    QCOMPARE(KX_GetGfxBuffer()->ColorDepth, 5u);
    QVERIFY(desk.w->app.Modified);
    QVERIFY(desk.w->labelFileName->text().endsWith('*'));
    int entries = 0;
    desk.w->dialogScript = [&](QDialog* d) {
        entries = as<DialogPalette>(d)->Entries();
        d->close();
        return 0;
    };
    QVERIFY(desk.w->Trigger("palette.editor"));
    QCOMPARE(entries, 32);
    QCOMPARE(desk.w->LoadFile(deep), 0u);
    QVERIFY(!desk.w->app.Modified);
    QVERIFY(desk.w->Trigger("repair.endianswap"));
    QVERIFY(desk.w->app.Modified);
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
    desk.selectOnToggle(QRect(8, 8, 32, 24));  // the watermark asks for an area
    const QString dir = ArtefactDir() + "/dialogs-" + QGuiApplication::platformName();
    QDir().mkpath(dir);
    const QString palette = desk.box.pictures() + "/pal.bmp";
    QVERIFY(WriteBmp4(palette, 40, 30));
    for (const kxdlg::Command& c : kxdlg::Commands()) {
        if (!c.make) continue;
        // The palette editor edits palette pictures.
        if (c.flags & kxdlg::InPlace) QCOMPARE(desk.w->LoadFile(palette), 0u);
        else if (KX_GetGfxBuffer()->ColorDepth != 24) QVERIFY(desk.open(TestPicture(64, 48)));
        bool fits = false;
        desk.w->dialogScript = [&](QDialog* d) {
            auto* f = static_cast<DialogKXOFrame*>(d);
            f->show();
            f->WaitPreview();
            QTest::qWait(50);
            f->grab().save(dir + "/" + QString::fromLatin1(c.id) + ".png");
            fits = f->width() >= f->minimumSizeHint().width() && f->height() >= f->minimumSizeHint().height();
            f->close();
            return 0;
        };
        QVERIFY2(desk.w->Trigger(QString::fromLatin1(c.id)), c.id);
        QVERIFY2(fits, c.id);
        desk.w->checkBoxArea->setChecked(false);
    }
}

KX_QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
