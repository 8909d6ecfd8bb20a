// Every image command that runs an operator, one row each, end to end
// through the window and the real operators on a small picture: its dialog
// (where it has one) set as a user would, the dispatcher's runs, and the
// picture afterwards. Every entry of the action table that runs an operator
// or opens an operator dialog has its row.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSet>

#include "ActionTable.h"
#include "DialogAlphaChannel.h"
#include "DialogCommands.h"
#include "DialogConvolve.h"
#include "DialogDither.h"
#include "DialogPalette.h"
#include "DialogResizeRotateTiling.h"
#include "DialogToneColour.h"
#include "support/DialogDesk.h"
#include "support/QtTestEnv.h"

using namespace kxtest;

namespace {

enum class Pic { True, Blocks, Palette, Alpha, Deep };

// What a picture is, to tell whether a command changed it.
QByteArray fingerprint(const KX_GfxBuffer* b) {
    if (!b) return QByteArray();
    QByteArray f = QByteArray::number(b->Width) + "x" + QByteArray::number(b->Height) + "x" +
                   QByteArray::number(b->ColorDepth) + "a" + QByteArray::number(KXSUP_AlphaHolds(b));
    f += QByteArray(reinterpret_cast<const char*>(b->Data), int(b->BufferSize));
    if (b->ColorDepth <= 8) f += QByteArray(reinterpret_cast<const char*>(b->Palette), 768);
    if (KXSUP_AlphaHolds(b) == KXALPHA_CHANNEL8 && b->AlphaData)
        f += QByteArray(static_cast<const char*>(b->AlphaData), int(b->Width * b->Height));
    return f;
}

struct Row {
    const char* id;
    Pic pic;
    std::function<void(QDialog*)> set;  // the dialog's controls; then OK
    // The picture afterwards (null: it must differ from before).
    std::function<bool(const KX_GfxBuffer*)> after;
    bool area = false;  // an area is chosen when the command asks for one
    const char* status = "TXT_OPERATION_SUCCESS";  // the status line afterwards
};

auto size(uint32_t w, uint32_t h) {
    return [w, h](const KX_GfxBuffer* b) { return b->Width == w && b->Height == h; };
}
auto depth(uint32_t d) {
    return [d](const KX_GfxBuffer* b) { return b->ColorDepth == d; };
}

}  // namespace

class ImageCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void everyCommandEndToEnd();
};

void ImageCommandsTest::everyCommandEndToEnd() {
    if (!ReaderReady("kxoPNM") || !ReaderReady("kxoBMP") || !ReaderReady("kxoPNG"))
        QSKIP("needs the PNM, BMP and PNG readers");
    // Operators that take palette pictures ask to dither a true-colour one.
    Desk desk({"UNDO=NO", "AUTOCONV8=YES"});
    // The matrix files of the edge, emboss and painting commands.
    const QString matrices = desk.box.progDir() + "/ENV/Kaxon5-Library/Convolve";
    QDir().mkpath(matrices);
    for (const QFileInfo& fi : QDir(QStringLiteral(KX_SOURCE_DIR "/ENV/Kaxon5-Library/Convolve")).entryInfoList(QDir::Files))
        QVERIFY(QFile::copy(fi.filePath(), matrices + "/" + fi.fileName()));
    const QString dir = desk.box.pictures();
    const QString truePic = dir + "/true.ppm", palettePic = dir + "/pal.bmp", alphaPic = dir + "/alpha.png",
                  deepPic = dir + "/deep.ppm", blend = dir + "/blend.ppm", blocksPic = dir + "/blocks.ppm";
    QVERIFY(WritePPM(blocksPic, BlockPicture(24, 16)));
    QVERIFY(WritePPM(truePic, TestPicture(24, 16)));
    QVERIFY(WriteBmp4(palettePic, 24, 16));
    QVERIFY(WritePPM16(deepPic, 24, 16));
    QVERIFY(WritePPM(blend, TestPicture(8, 8).mirrored(true, false)));
    QImage alpha = TestPicture(24, 16).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < alpha.height(); ++y)
        for (int x = 0; x < alpha.width(); ++x) {
            QColor c = alpha.pixelColor(x, y);
            c.setAlpha((x * 10 + y * 3) & 255);
            alpha.setPixelColor(x, y, c);
        }
    QVERIFY(alpha.save(alphaPic, "PNG"));

    auto loadBlend = [&](QDialog* d) {
        desk.ui.openNames = {blend};
        as<DialogKXOAlphaBlend>(d)->button1->click();
    };
    const auto noAlpha = [](const KX_GfxBuffer* b) { return KXSUP_AlphaHolds(b) == KXALPHA_NONE; };
    const std::vector<Row> rows = {
        {"rot.90", Pic::True, nullptr, size(16, 24)},
        {"rot.180", Pic::True, nullptr, size(24, 16)},
        {"rot.270", Pic::True, nullptr, size(16, 24)},
        {"rot.free", Pic::True, [](QDialog* d) { as<DialogKXORotateFree>(d)->newWidth->setValue(90); }, size(18, 26)},
        {"rot.flipx", Pic::True, nullptr, nullptr},
        {"rot.flipy", Pic::True, nullptr, nullptr},
        {"rot.mirror.point", Pic::True, nullptr, nullptr},
        {"rot.mirror.x", Pic::True, nullptr, nullptr},
        {"rot.mirror.y", Pic::True, nullptr, nullptr},
        {"rot.mirrorcopy.vu", Pic::True, nullptr, nullptr},
        {"rot.mirrorcopy.vl", Pic::True, nullptr, nullptr},
        {"rot.mirrorcopy.hl", Pic::True, nullptr, nullptr},
        {"rot.mirrorcopy.hr", Pic::True, nullptr, nullptr},
        {"size.halve", Pic::True, nullptr, size(12, 8)},
        {"size.double", Pic::True, nullptr, size(48, 32)},
        {"size.free", Pic::True, [](QDialog* d) { as<DialogKXOResize>(d)->numericPercent->setValue(150); }, size(36, 24)},
        {"shape.autoborder", Pic::True, nullptr, [](const KX_GfxBuffer* b) { return b->Width <= 24; }},
        {"shape.addborder.8", Pic::True, nullptr, size(40, 32)},
        {"shape.addborder.32", Pic::True, nullptr, size(88, 80)},
        {"shape.addborder.64", Pic::True, nullptr, size(152, 144)},
        {"depth.1bit.black", Pic::True, nullptr, depth(1)},
        {"depth.1bit.white", Pic::True, nullptr, depth(1)},
        {"depth.8bit.bestpen.1", Pic::True, nullptr, depth(1)},
        {"depth.8bit.bestpen.2", Pic::True, nullptr, depth(2)},
        {"depth.8bit.bestpen.3", Pic::True, nullptr, depth(3)},
        {"depth.8bit.bestpen.4", Pic::True, nullptr, depth(4)},
        {"depth.8bit.bestpen.5", Pic::True, nullptr, depth(5)},
        {"depth.8bit.bestpen.6", Pic::True, nullptr, depth(6)},
        {"depth.8bit.bestpen.7", Pic::True, nullptr, depth(7)},
        {"depth.8bit.bestpen.8", Pic::True, nullptr, depth(8)},
        {"depth.8bit.fs.1", Pic::True, nullptr, depth(1)},
        {"depth.8bit.fs.2", Pic::True, nullptr, depth(2)},
        {"depth.8bit.fs.3", Pic::True, nullptr, depth(3)},
        {"depth.8bit.fs.4", Pic::True, nullptr, depth(4)},
        {"depth.8bit.fs.5", Pic::True, nullptr, depth(5)},
        {"depth.8bit.fs.6", Pic::True, nullptr, depth(6)},
        {"depth.8bit.fs.7", Pic::True, nullptr, depth(7)},
        {"depth.8bit.fs.8", Pic::True, nullptr, depth(8)},
        {"depth.8bit.reference", Pic::True,
         [&](QDialog* d) {
             desk.ui.openNames = {palettePic};
             as<DialogKXOPaletteDither>(d)->button1->click();
         },
         depth(4)},
        {"depth.8bit.alloptions", Pic::True, [](QDialog* d) { as<DialogKXODither>(d)->palDepth->setValue(3); }, depth(3)},
        {"depth.24", Pic::Palette, nullptr, depth(24)},
        {"depth.48", Pic::True, nullptr, depth(48)},
        {"palette.editor", Pic::Palette,
         [&](QDialog* d) {
             desk.ui.colours = {QColor(9, 8, 7)};
             as<DialogPalette>(d)->colourButtons[2]->click();
         },
         [](const KX_GfxBuffer* b) { return b->Palette[6] == 9 && b->Palette[7] == 8 && b->Palette[8] == 7; }},
        // Every colour of the picture is in use: the palette may stay.
        {"palette.optimize", Pic::Palette, nullptr, [](const KX_GfxBuffer* b) { return b->ColorDepth <= 4; }},
        {"palette.invert", Pic::Palette, nullptr, nullptr},
        {"adjust.brightness", Pic::True, [](QDialog* d) { as<DialogKXOBrightness>(d)->buttonPlusPlus->click(); }, nullptr},
        {"adjust.contrast", Pic::True, [](QDialog* d) { as<DialogKXOContrast>(d)->buttonPlusPlus->click(); }, nullptr},
        {"adjust.gamma", Pic::True, nullptr, nullptr},
        {"manip.grey", Pic::True, [](QDialog* d) { as<DialogKXOExtractGray>(d)->numericDepth->setValue(4); }, depth(4)},
        {"manip.graytablet", Pic::True, [](QDialog* d) { as<DialogKXOGrayTablet>(d)->num[0][0]->setValue(100); }, nullptr},
        {"manip.antique", Pic::True, nullptr, nullptr},
        // The area is dropped last, which the status line tells.
        {"manip.redeye", Pic::True, nullptr, size(24, 16), true, "TXT_AREA_DESELECT"},
        {"manip.negative.complement", Pic::True, nullptr, nullptr},
        {"manip.negative.negate", Pic::True, nullptr, nullptr},
        {"manip.xor", Pic::True, [](QDialog* d) { as<DialogKXOXor>(d)->numericXOR->setValue(77); }, nullptr},
        {"comp.extract.red", Pic::True, nullptr, nullptr},
        {"comp.extract.green", Pic::True, nullptr, nullptr},
        {"comp.extract.blue", Pic::True, nullptr, nullptr},
        {"comp.cycle.gbr", Pic::True, nullptr, nullptr},
        {"comp.cycle.brg", Pic::True, nullptr, nullptr},
        {"comp.cycle.bgr", Pic::True, nullptr, nullptr},
        {"comp.cycle.grb", Pic::True, nullptr, nullptr},
        {"comp.cycle.rbg", Pic::True, nullptr, nullptr},
        {"comp.resetchannel", Pic::True, [](QDialog* d) { as<DialogKXOResetChannel>(d)->numericValue->setValue(50); }, nullptr},
        {"alpha.tablet", Pic::True, loadBlend, noAlpha},
        {"alpha.add", Pic::True, [](QDialog* d) { as<DialogKXOAddAlpha>(d)->comboAddMode->setCurrentIndex(0); },
         [](const KX_GfxBuffer* b) { return KXSUP_AlphaHolds(b) == KXALPHA_CHANNEL8; }},
        {"alpha.extract", Pic::Alpha, nullptr, nullptr},
        {"alpha.invert", Pic::Alpha, nullptr, nullptr},
        {"alpha.strip", Pic::Alpha, nullptr, noAlpha},
        {"alpha.optimize", Pic::Alpha, nullptr, [](const KX_GfxBuffer*) { return true; }},
        {"proc.blur", Pic::True, nullptr, nullptr},
        {"proc.convolution.3", Pic::True, [](QDialog* d) { as<DialogKXOConvolve>(d)->numericUpDown[4]->setValue(-8); }, nullptr},
        {"proc.convolution.3f", Pic::True, [](QDialog* d) { as<DialogKXOConvolve>(d)->numericAdd->setValue(20.5); }, nullptr},
        {"proc.convolution.5", Pic::True, [](QDialog* d) { as<DialogKXOConvolve5x5>(d)->checkBoxAdjustBorder->setChecked(true); },
         size(24, 16)},
        {"proc.convolution.7", Pic::True, nullptr, nullptr},
        {"proc.convolution.9", Pic::Deep, nullptr, depth(48)},
        {"proc.sharpen", Pic::True, nullptr, nullptr},
        {"proc.median.lower", Pic::True, nullptr, nullptr},
        {"proc.median.median", Pic::Blocks, nullptr, nullptr},
        {"proc.median.upper", Pic::True, nullptr, nullptr},
        {"proc.edge.bright", Pic::True, nullptr, nullptr},
        {"proc.edge.normal", Pic::True, nullptr, nullptr},
        {"proc.edge.dark", Pic::True, nullptr, nullptr},
        {"proc.emboss.low", Pic::True, nullptr, nullptr},
        {"proc.emboss.medium", Pic::True, nullptr, nullptr},
        {"proc.emboss.high", Pic::True, nullptr, nullptr},
        {"proc.prewitt.horiz", Pic::True, nullptr, nullptr},
        {"proc.prewitt.vert", Pic::True, nullptr, nullptr},
        {"proc.sobel.horiz", Pic::True, nullptr, nullptr},
        {"proc.sobel.vert", Pic::True, nullptr, nullptr},
        {"effects.watermark", Pic::True, loadBlend, noAlpha, true},
        {"effects.mosaic.2", Pic::True, nullptr, nullptr},
        {"effects.mosaic.4", Pic::True, nullptr, nullptr},
        {"effects.mosaic.8", Pic::True, nullptr, nullptr},
        {"effects.mosaic.16", Pic::True, nullptr, nullptr},
        {"effects.mosaic.32", Pic::True, nullptr, nullptr},
        {"effects.tiling", Pic::True, [](QDialog* d) { as<DialogKXOTiling>(d)->numericXOR->setValue(4); }, size(24, 16)},
        {"effects.oilpaint", Pic::True, nullptr, nullptr},
        {"effects.digipaint", Pic::True, nullptr, nullptr},
        {"effects.waxpaint", Pic::True, nullptr, nullptr},
        {"effects.waterpaint", Pic::True, nullptr, nullptr},
        {"effects.ghost.red", Pic::True, nullptr, nullptr},
        {"effects.ghost.green", Pic::True, nullptr, nullptr},
        {"effects.ghost.blue", Pic::True, nullptr, nullptr},
        {"effects.scatter.x.8", Pic::True, nullptr, size(24, 16)},
        {"effects.scatter.x.16", Pic::True, nullptr, size(24, 16)},
        {"effects.scatter.y.8", Pic::True, nullptr, size(24, 16)},
        {"effects.scatter.y.16", Pic::True, nullptr, size(24, 16)},
        {"effects.slicing", Pic::True, nullptr, size(24, 16)},
        {"repair.nibbles.swap", Pic::True, nullptr, nullptr},
        {"repair.nibbles.minuslow", Pic::True, nullptr, nullptr},
        {"repair.nibbles.minushigh", Pic::True, nullptr, nullptr},
        {"repair.nibbles.shiftlow", Pic::True, nullptr, nullptr},
        {"repair.nibbles.shifthigh", Pic::True, nullptr, nullptr},
        {"repair.nibbles.doublelow", Pic::True, nullptr, nullptr},
        {"repair.nibbles.doublehigh", Pic::True, nullptr, nullptr},
        {"repair.rgbbgr", Pic::True, nullptr, nullptr},
        {"info.histogram.brightness", Pic::True, nullptr, nullptr},
        {"info.histogram.colors", Pic::True, nullptr, nullptr},
    };

    // Every entry that runs an operator or opens an operator dialog has a row.
    QSet<QString> covered;
    for (const Row& r : rows) covered << QString::fromLatin1(r.id);
    for (const auto& d : kxactions::Table()) {
        const bool runs = d.cmd == kxactions::Cmd::Operator || d.cmd == kxactions::Cmd::Chain ||
                          d.cmd == kxactions::Cmd::Dither || d.cmd == kxactions::Cmd::Dialog;
        if (d.kind == kxactions::Kind::Item && runs) QVERIFY2(covered.contains(QString::fromLatin1(d.id)), d.id);
    }
    for (const kxdlg::Command& c : kxdlg::Commands()) QVERIFY2(covered.contains(QString::fromLatin1(c.id)), c.id);
    // Each matrix file an entry names is there and holds a matrix.
    for (const auto& d : kxactions::Table()) {
        const QString settings = QString::fromLatin1(d.settings);
        const int at = settings.indexOf(QLatin1String("MATRIX_FILE=@"));
        if (at < 0) continue;
        const QString file = settings.mid(at + 13).section(';', 0, 0);
        KX_ControlPad* pad = nullptr;
        const QByteArray path = QFile::encodeName(matrices + "/" + file.section('/', 1));
        QVERIFY2(KXSUP_LoadControlPad(path.constData(), &pad) && pad, qPrintable(file));
        char* line = nullptr;
        QVERIFY2(KXSUP_FindControlPad(pad, "MATRIX_LINE2", &line) && line && QByteArray(line) != "1 1 1", qPrintable(file));
        KXSUP_FreeControlPad(pad);
    }

    QStringList failures;
    for (const Row& r : rows) {
        const QString id = QString::fromLatin1(r.id);
        const QString pic = r.pic == Pic::Palette ? palettePic
                            : r.pic == Pic::Alpha ? alphaPic
                            : r.pic == Pic::Deep  ? deepPic
                            : r.pic == Pic::Blocks ? blocksPic
                                                   : truePic;
        // The palette editor runs no operator; the dithering items run the
        // window's own dithering routine.
        const kxactions::ActionDef* def = kxactions::Find(id);
        const kxdlg::Command* command = kxdlg::FindCommand(id);
        const bool direct = (command && (command->flags & kxdlg::InPlace)) || (def && def->cmd == kxactions::Cmd::Dither);
        QCOMPARE(desk.w->LoadFile(pic), 0u);
        const QByteArray before = fingerprint(KX_GetGfxBuffer());
        desk.runs.clear();
        desk.ui.answers = {true, true};
        int dialogs = 0;
        desk.w->dialogScript = [&](QDialog* d) {
            ++dialogs;
            if (r.set) r.set(d);
            ok(d);
            return 0;
        };
        if (r.area) desk.selectOnToggle(QRect(4, 4, 12, 8));
        QVERIFY2(desk.w->Trigger(id), r.id);
        desk.w->areaScript = [](DialogAreaSelect* d) {
            d->buttonCancel->click();
            return 0;
        };
        const QString status = desk.w->labelStatus->text();
        const KX_GfxBuffer* b = KX_GetGfxBuffer();
        QString wrong;
        if (!direct && status != desk.w->Msg(QString::fromLatin1(r.status))) wrong = status;
        else if (!direct && desk.runs.isEmpty()) wrong = "no run";
        else if ((dialogs > 0) != (command && command->make)) wrong = "dialog";
        else if (!b || !(r.after ? r.after(b) : fingerprint(b) != before)) wrong = "picture";
        else if (!desk.w->app.Modified) wrong = "not marked changed";
        else if (desk.w->app.AreaBuffer) wrong = "area left";
        if (!wrong.isEmpty()) failures << id + ": " + wrong + " [" + desk.runs.join('|') + "]";
    }
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
}

KX_QTEST_MAIN(ImageCommandsTest)
#include "tst_imagecommands.moc"
