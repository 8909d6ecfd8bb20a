// The information dialogs: the instance's facts and a graphics buffer's
// fields in words, their clipboard buttons and the empty case.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "DialogInfoList.h"
#include "core/kxclass.h"
#include "support/QtTestEnv.h"

namespace {

QString valueOf(const QStringList& rows, const QString& label) {
    for (const QString& r : rows)
        if (r.left(32).trimmed() == label) return r.mid(32);
    return QStringLiteral("<absent>");
}

}  // namespace

class InfoDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void gfxRows_data();
    void gfxRows();
    void instanceRows();
    void listLookAndClipboard();
    void noRowsDoesNotOpen();
    void commandsFromTheWindow();
};

void InfoDialogsTest::gfxRows_data() {
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("viewMode");
    QTest::addColumn<int>("alphaType");
    QTest::addColumn<int>("alphaIndex");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QStringList>("expect");  // "label=value"; value "<absent>": no such row
    QTest::newRow("HAM6 v2") << 2 << 6 << int(BITPLANE) << 0x800 << 0 << 0 << 0
                             << QStringList{"HAMColorDepth=6 (= 16 LUT colors, 4096 HAM Colors)", "IsHamBuffer=TRUE (HAM6)",
                                            "GfxBuffer Type=BITPLANE", "NativeDIPF (AOS)=$00000000",
                                            "ViewMode (AOS)=$00000800", "Transparency/Alpha=<absent>",
                                            "BytesPerLine (Bitplane)=1", "PixelBits (Oneplane)=<absent>"};
    QTest::newRow("HAM8") << 2 << 8 << int(BITPLANE) << 0x800 << 0 << 0 << 0
                          << QStringList{"HAMColorDepth=8 (= 64 LUT colors, 262144 HAM Colors)", "IsHamBuffer=TRUE (HAM8)"};
    QTest::newRow("EHB") << 2 << 6 << int(BITPLANE) << 0x80 << 0 << 0 << 0
                         << QStringList{"EHBColorDepth=6 (= 32/64 EHB Colors)", "IsEhbBuffer=TRUE", "IsHamBuffer=FALSE "};
    QTest::newRow("palette") << 3 << 4 << int(ONEPLANE) << -1 << 0 << 0 << 0
                             << QStringList{"ColorTableDepth=4 (= 16 Colors)", "Transparency/Alpha=none",
                                            "TransparentColor=<absent>", "PixelBits (Oneplane)=8", "ViewMode (AOS)=$ffffffff"};
    QTest::newRow("48 bit") << 4 << 48 << int(ONEPLANE) << -1 << 0 << 0 << 0
                            << QStringList{"ColorDepth=48 (= 281474976710656 Colors)", "Endianess=default",
                                           "EndianConversion=permitted", "Source Format=unknown"};
    QTest::newRow("24 bit") << 1 << 24 << int(ONEPLANE) << -1 << 0 << 0 << 0
                            << QStringList{"ColorDepth=24 (= 16777216 Colors)", "NativeDIPF (AOS)=<absent>",
                                           "Transparency/Alpha=<absent>", "Endianess=<absent>",
                                           "No. of Pixels=32 (0.00 million)", "FileType=PPM"};
    QTest::newRow("transparent colour 5") << 3 << 8 << int(ONEPLANE) << -1 << 1 << 5 << 0
                                          << QStringList{"Transparency/Alpha=single color", "TransparentColor=5"};
    QTest::newRow("alpha kinds") << 3 << 24 << int(ONEPLANE) << -1 << 8 << 0 << 0
                                 << QStringList{"Transparency/Alpha=16 bit channel", "TransparentColor=<absent>"};
    QTest::newRow("both byte orders, locked") << 4 << 24 << int(ONEPLANE) << -1 << 2 << 0 << (1 | 2 | 4 | 8 | 64)
                                              << QStringList{"Endianess=MM", "EndianConversion=prohibited",
                                                             "BufferModification=prohibited", "Source Format=gray",
                                                             "Alpha Source Format=8 bit", "Transparency/Alpha=8 bit channel"};
    QTest::newRow("II, 8 bit source") << 4 << 24 << int(ONEPLANE) << -1 << 4 << 0 << (2 | 16)
                                      << QStringList{"Endianess=II", "Source Format=8 bit", "Transparency/Alpha=multiple colors"};
}

void InfoDialogsTest::gfxRows() {
    QFETCH(int, version);
    QFETCH(int, depth);
    QFETCH(int, type);
    QFETCH(int, viewMode);
    QFETCH(int, alphaType);
    QFETCH(int, alphaIndex);
    QFETCH(int, flags);
    QFETCH(QStringList, expect);
    KX_GfxBuffer* b = MakeGfx(8, 4, uint32_t(depth), uint32_t(type));
    QVERIFY(b);
    b->Version = uint32_t(version);
    b->ViewMode = uint32_t(viewMode);
    b->NativeDIPF = 0;
    b->AlphaType = uint32_t(alphaType);
    if (alphaType & 1) KXSUP_SetAlphaIndex(b, uint32_t(alphaIndex));
    b->Flags = uint32_t(flags);
    const QStringList rows = KX_GfxInfoRows(b, "pic.ppm", "PPM (portable pixmap)", "P6");
    b->AlphaType = 0;  // no alpha block was made: nothing to free
    b->AlphaData = nullptr;
    KXSUP_FreeGfxBuffer(b);
    QCOMPARE(rows.value(0), QStringLiteral("FileName                        pic.ppm"));
    for (const QString& e : expect) {
        const QString label = e.section('=', 0, 0), value = e.section('=', 1);
        QCOMPARE(valueOf(rows, label), value);
    }
}

void InfoDialogsTest::instanceRows() {
    KXClass lib;
    lib.SetPaths("/opt/kx/", "/home/u/");
    KXInstanceFacts f;
    f.instanceId = "Kaxon5-3";
    f.programDir = "/opt/kx";
    f.loadDir = "/pics/in";
    f.saveDir = "/pics/out";
    f.diaDir = "/pics/show";
    f.iccDir = "/opt/kx/Resources/ICCP/";
    f.logging = true;
    f.logLevel = 7;
    const QStringList rows = KX_InstanceInfoRows(&lib, f);
    const QString temp = QString::fromLocal8Bit(lib.TempDir);
    const QStringList expect = {
        "Instance ID       Kaxon5-3",         "Program Dir       /opt/kx/",
        "Current Load Dir  /pics/in/",        "Current Save Dir  /pics/out/",
        "Current Dia Dir   /pics/show/",       "Env Dir           " + QString::fromLocal8Bit(lib.SettingsDir),
        "EnvArc Dir        " + QString::fromLocal8Bit(lib.ArchiveSettingsDir),
        "ICC Dir           /opt/kx/Resources/ICCP/", "Temp Dir          " + temp,
        "Log Dir           " + temp,          "Log Mode          Enabled",
        "Log Level         7"};
    QCOMPARE(rows, expect);
    f.logging = false;
    QCOMPARE(KX_InstanceInfoRows(&lib, f).value(10), QStringLiteral("Log Mode          Disabled"));
}

void InfoDialogsTest::listLookAndClipboard() {
    ScriptedUi ui;
    DialogInfoList d(&ui);
    QVERIFY(d.Prepare("Title", {"one", "two"}));
    QCOMPARE(d.windowTitle(), QStringLiteral("Title"));
    QCOMPARE(d.listBoxTags->currentRow(), 0);
    QCOMPARE(d.textBoxTag->text(), QStringLiteral("one"));
    QVERIFY(!d.buttonEdit->isEnabled());
    QVERIFY(!d.buttonCancel->isEnabled());
    d.listBoxTags->setCurrentRow(1);
    QCOMPARE(d.textBoxTag->text(), QStringLiteral("two"));
    d.buttonLine->click();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("two"));
    d.buttonDetails->click();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("one\r\ntwo\r\n"));
}

void InfoDialogsTest::noRowsDoesNotOpen() {
    ScriptedUi ui;
    DialogInfoList d(&ui);
    QCOMPARE(d.ShowDialog("Title", {}), int(QDialog::Rejected));
    QCOMPARE(ui.messages.size(), size_t(1));
    QCOMPARE(ui.messages[0].caption, QStringLiteral("Kaxon5 Error"));
    QCOMPARE(ui.messages[0].text, QStringLiteral("Sorry, no details available."));
}

void InfoDialogsTest::commandsFromTheWindow() {
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    // Without an image the entry is off; the command itself answers
    // error 9 on the status line and opens no dialog.
    QVERIFY(!w.Trigger("info.gfxbuffer"));
    w.actions.value("info.gfxbuffer")->setEnabled(true);
    QVERIFY(w.Trigger("info.gfxbuffer"));
    QVERIFY(w.labelStatus->text().startsWith(w.Msg("TXT_ERROR") + " "));
    QVERIFY(ui.messages.empty());

    QStringList rows;
    QString title;
    auto grabDialog = [&](const QString& shot) {
        w.dialogScript = [&, shot](QDialog* dlg) {
            auto* d = qobject_cast<DialogInfoList*>(dlg);
            if (!d) return 1;
            title = d->windowTitle();
            rows.clear();
            for (int i = 0; i < d->listBoxTags->count(); ++i) rows << d->listBoxTags->item(i)->text();
            d->grab().save(ArtefactDir() + "/" + shot);
            d->buttonOK->click();
            return 0;
        };
    };
    grabDialog("instance_info.png");
    QVERIFY(w.Trigger("help.instance"));
    QCOMPARE(title, QStringLiteral("Kaxon5 Program & Instance Info"));
    QCOMPARE(rows.size(), 12);
    QCOMPARE(rows[0], "Instance ID       " + QString::fromStdString(w.app.AtomName));
    QCOMPARE(rows[1], "Program Dir       " + w.progdir + "/");
    QCOMPARE(rows[5], "Env Dir           " + QString::fromStdString(w.app.EnvDir));
    // Every folder reads as one, with its closing "/".
    for (const QString& r : rows)
        if (r.left(18).trimmed().endsWith(QLatin1String("Dir"))) QVERIFY2(r.endsWith(QLatin1Char('/')), qPrintable(r));

    const QString pic = box.pictures() + "/info.ppm";
    QVERIFY(WritePPM(pic, TestPicture(20, 10)));
    QCOMPARE(w.LoadFile(pic), 0u);
    grabDialog("gfxbuffer_info.png");
    QVERIFY(w.buttonGfxInfo->isEnabled());
    w.buttonGfxInfo->click();
    QCOMPARE(title, QStringLiteral("Show Graphics Buffer Details"));
    QCOMPARE(valueOf(rows, "FileName"), w.labelFileName->text());
    QCOMPARE(valueOf(rows, "Width"), QStringLiteral("20"));
    QCOMPARE(valueOf(rows, "Height"), QStringLiteral("10"));
    QCOMPARE(valueOf(rows, "ColorDepth"), QStringLiteral("24 (= 16777216 Colors)"));
}

KX_QTEST_MAIN(InfoDialogsTest)
#include "tst_infodialogs.moc"
