// The module browsers: every operator and every format of the catalogue,
// their words, and the operator preview (on a fresh object, with the
// automatic 24-bit conversion, refused size changes in area mode).
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <set>

#include "DialogKXList.h"
#include "PictureBox.h"
#include "core/catalogue.h"
#include "core/gfxbuffer.h"
#include "core/kxclass.h"
#include "core/operator.h"
#include "support/QtTestEnv.h"

namespace {

QStringList items(const QListWidget* l) {
    QStringList r;
    for (int i = 0; i < l->count(); ++i) r << l->item(i)->text();
    return r;
}

QString words(uint32_t caps, bool op) {
    char w[256] = {};
    op ? KX_OperatorCapsText(caps, w, sizeof w) : KX_FormatCapsText(caps, w, sizeof w);
    return QString::fromLatin1(w).trimmed();
}

KXBrowserDirs dirsOf(const Sandbox& box) {
    return {box.progDir(), box.envDir(), box.progDir() + "/ENV/Kaxon5-Library/", box.userHome(), 0};
}

// A 4-bit palette picture, chunky.
KX_GfxBuffer* palettePicture() {
    KX_GfxBuffer* b = MakeGfx(16, 8, 4);
    for (uint32_t i = 0; i < 16 * 8; ++i) b->Data[i] = uint8_t(i % 16);
    for (int c = 0; c < 16; ++c) b->Palette[c * 3] = b->Palette[c * 3 + 1] = b->Palette[c * 3 + 2] = uint8_t(c * 16);
    b->Version = 3;
    return b;
}

}  // namespace

class BrowsersTest : public QObject {
    Q_OBJECT
private slots:
    void operatorListIsTheCatalogue();
    void formatListIsTheCatalogue();
    void preview_data();
    void preview();
    void areaModeRefusesSizeChange();
    void settingsModeHidesThePreview();
    void windowCommands();
};

void BrowsersTest::operatorListIsTheCatalogue() {
    Sandbox box;
    DialogKXPList dlg(dirsOf(box));
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    QCOMPARE(count, 62u);
    std::set<QString> names;
    for (uint32_t i = 0; i < count; ++i) names.insert(KX_ModuleName(regs[i].PadName));
    QCOMPARE(items(dlg.listBoxOps), QStringList(names.begin(), names.end()));
    QCOMPARE(dlg.listBoxOps->count(), 62);
    // Every operator shows its own description and words.
    for (uint32_t i = 0; i < count; ++i) {
        QVERIFY(dlg.Select(KX_ModuleName(regs[i].PadName)));
        QCOMPARE(dlg._kxpnum, int(i));
        QCOMPARE(dlg.labelInfo->text(), QString::fromLatin1(regs[i].Description));
        QCOMPARE(dlg.labelFlags->text(), words(regs[i].Capabilities, true));
    }
}

void BrowsersTest::formatListIsTheCatalogue() {
    Sandbox box;
    DialogKXOList dlg(dirsOf(box));
    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    int readers = 0, writers = 0;
    std::set<QString> names;
    for (uint32_t i = 0; i < count; ++i) {
        readers += regs[i].Reader >= 0;
        writers += regs[i].Writer >= 0;
        if (regs[i].Reader >= 0 || regs[i].Writer >= 0 || regs[i].Device >= 0) names.insert(KX_ModuleName(regs[i].PadName));
    }
    QCOMPARE(readers, 54);
    QCOMPARE(writers, 39);
    // Each format once, sorted, even when it both reads and writes.
    QCOMPARE(items(dlg.listBoxObjs), QStringList(names.begin(), names.end()));
    KXClass lib;
    lib.SetPaths(box.progDir().toLocal8Bit().constData(), box.userHome().toLocal8Bit().constData());
    int n = 0;
    for (KXObject** o = lib.GetObjects(0); *o; ++o) ++n;
    QCOMPARE(n, 54);
    n = 0;
    for (KXObject** o = lib.GetObjects(1); *o; ++o) ++n;
    QCOMPARE(n, 39);
    // Words from the first table that holds the module (readers first).
    for (uint32_t i = 0; i < count; ++i) {
        if (regs[i].Reader < 0 && regs[i].Writer < 0 && regs[i].Device < 0) continue;
        const QString name = KX_ModuleName(regs[i].PadName);
        QVERIFY(dlg.Select(name));
        QCOMPARE(dlg.labelInfo->text(), QString::fromLatin1(regs[i].FormatName));
        if (regs[i].Reader >= 0) QCOMPARE(dlg.labelFlags->text(), words(regs[i].Capabilities, false));
    }
    QVERIFY(dlg.Select("RAW-Import"));
    for (const char* w : {"READ", "24BIT", "48BIT", "ALPHA", "INFO"})
        QVERIFY2(dlg.labelFlags->text().split(' ').contains(w), qPrintable(dlg.labelFlags->text()));
    dlg.resize(640, 400);
    dlg.grab().save(ArtefactDir() + "/object_browser.png");
}

void BrowsersTest::preview_data() {
    QTest::addColumn<QString>("cls");
    QTest::addColumn<bool>("auto24");
    QTest::addColumn<QString>("image");
    QTest::newRow("blur converts the palette first") << "kxpBlur" << true << "16 x 8 x 24 [no special flags]";
    QTest::newRow("negate keeps the palette") << "kxpNegate" << true << "16 x 8 x 4 [no special flags]";
}

void BrowsersTest::preview() {
    QFETCH(QString, cls);
    QFETCH(bool, auto24);
    QFETCH(QString, image);
    const KXOperatorReg* reg = KX_FindOperatorReg(cls.toLatin1().constData());
    QVERIFY(reg);
    if (!KX_IsBuilt(reg->ClassName) || !KX_IsBuilt("kxpAnyTo24Bit")) QSKIP("operator not built yet");
    Sandbox box;
    KX_GfxBuffer* pic = palettePicture();
    DialogKXPList dlg(dirsOf(box));
    dlg.checkBoxAuto24->setChecked(auto24);
    dlg.PrepareP(pic, false, 0, 0, 16, 8, false);
    QVERIFY(dlg.Select(KX_ModuleName(reg->PadName)));
    const QString name = KX_ModuleName(reg->PadName);
    QCOMPARE(dlg.labelResult->text(), "Updated preview for " + name);
    QVERIFY2(dlg.labelImage->text().startsWith(image), qPrintable(dlg.labelImage->text()));
    // The preview ran on an object of its own, not on the browser's table.
    QVERIFY(dlg.lastPreviewOperator);
    QVERIFY(dlg.lastPreviewOperator != dlg.library()->GetOperators()[reg->Number]);
    QVERIFY(!dlg.pictureBoxPreview->image().isNull());
    // The caller's picture is untouched.
    QCOMPARE(pic->ColorDepth, 4u);
    QCOMPARE(pic->Data[5], uint8_t(5));
    dlg.buttonRefresh->click();
    QCOMPARE(dlg.labelResult->text(), QStringLiteral("Refreshed preview."));
    QCOMPARE(dlg.labelImage->text(), QStringLiteral("16 x 8 x 4 [no special flags]"));
    if (cls == "kxpBlur") {
        dlg.resize(760, 480);
        dlg.grab().save(ArtefactDir() + "/operator_browser.png");
    }
    KXSUP_FreeGfxBuffer(pic);
}

void BrowsersTest::areaModeRefusesSizeChange() {
    Sandbox box;
    KX_GfxBuffer* pic = palettePicture();
    DialogKXPList dlg(dirsOf(box));
    dlg.PrepareP(pic, true, 2, 2, 8, 4, false);
    QVERIFY(dlg.Select("Resize"));
    QCOMPARE(dlg.labelResult->text(), QStringLiteral("Size-changing operations not allowed in area-mode."));
    KXSUP_FreeGfxBuffer(pic);
}

void BrowsersTest::settingsModeHidesThePreview() {
    Sandbox box;
    DialogKXPList dlg(dirsOf(box));
    dlg.PrepareS();
    dlg.show();
    QCOMPARE(dlg.buttonCancel->text(), QStringLiteral("Done"));
    for (QWidget* w : std::initializer_list<QWidget*>{dlg.buttonApply, dlg.buttonRefresh, dlg.checkBoxAuto24,
                                                      dlg.checkBoxFast, dlg.labelImage, dlg.labelResult})
        QVERIFY(w->isHidden());
    QVERIFY(!dlg.pictureBoxPreview->isEnabled());
    QCOMPARE(dlg.listBoxOps->currentRow(), 0);
    QVERIFY(dlg.labelInfo->text() != QStringLiteral("No Info."));
    dlg.grab().save(ArtefactDir() + "/operator_defaults.png");
    dlg.buttonCancel->click();
    QCOMPARE(dlg._exit, 1);
}

void BrowsersTest::windowCommands() {
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    // Without an image the entry is off and the list does not open (the
    // command itself refuses too).
    int shown = 0;
    w.dialogScript = [&](QDialog*) { return ++shown; };
    QVERIFY2(w.actions.value("proc.fulllist"), "no action");
    QVERIFY(!w.Trigger("proc.fulllist"));
    w.actions.value("proc.fulllist")->setEnabled(true);
    QVERIFY(w.Trigger("proc.fulllist"));
    QCOMPARE(shown, 0);
    QVERIFY(w.labelStatus->text().startsWith(w.Msg("TXT_ERROR") + " "));
    QVERIFY(w.Trigger("options.filters"));
    QVERIFY(w.Trigger("options.formats"));
    QCOMPARE(shown, 2);

    if (!KX_IsBuilt("kxpNegate")) return;
    const QString pic = box.pictures() + "/b.ppm";
    QVERIFY(WritePPM(pic, TestPicture(12, 6)));
    QCOMPARE(w.LoadFile(pic), 0u);
    const uint8_t before = KX_GetGfxBuffer()->Data[0];
    w.dialogScript = [&](QDialog* d) {
        auto* p = qobject_cast<DialogKXPList*>(d);
        if (p && p->Select("Negate")) p->buttonApply->click();
        return 0;
    };
    QVERIFY(w.Trigger("effects.fulllist"));
    QCOMPARE(KX_GetGfxBuffer()->Data[0], uint8_t(255 - before));
    QVERIFY(w.app.Modified);
}

KX_QTEST_MAIN(BrowsersTest)
#include "tst_browsers.moc"
