// The About box (splash and menu window) and the online update check,
// which is run against a server of the test on 127.0.0.1: never the network.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "About.h"
#include "AppLinks.h"
#include "UpdateCheck.h"
#include "support/QtTestEnv.h"

namespace {

// Serves one answer to every request (none: accepts and stays silent).
class PadServer : public QObject {
public:
    explicit PadServer(const QByteArray& body, bool silent = false) : body(body), silent(silent) {
        server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                ++requests;
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    request += s->readAll();
                    if (this->silent || !request.contains("\r\n\r\n")) return;
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\nContent-Length: " +
                             QByteArray::number(this->body.size()) + "\r\n\r\n" + this->body);
                    s->disconnectFromHost();
                });
            }
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/pad.xml").arg(server.serverPort())); }
    QTcpServer server;
    QByteArray body, request;
    bool silent;
    int requests = 0;
};

QByteArray pad(const char* version, const char* url, const char* y, const char* m, const char* d) {
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<XML_DIZ_INFO><Program_Info>"
                      "<Program_Name>Kaxon5</Program_Name><Program_Version>") +
           version + "</Program_Version><Program_Release_Month>" + m + "</Program_Release_Month><Program_Release_Day>" + d +
           "</Program_Release_Day><Program_Release_Year>" + y + "</Program_Release_Year></Program_Info><Web_Info><Download_URLs>"
           "<Primary_Download_URL>" + url + "</Primary_Download_URL></Download_URLs></Web_Info></XML_DIZ_INFO>\n";
}

QString today() {
    const QDate t = QDate::currentDate();
    return QStringLiteral("%1 %2 %3").arg(t.day()).arg(t.month()).arg(t.year());
}

QString readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
}

}  // namespace

class AboutTest : public QObject {
    Q_OBJECT
private slots:
    void splashClosesItself();
    void menuWindowShowsHistoryAndLinks();
    void helpMenuOpensAbout();
    void answers_data();
    void answers();
    void dayMarker_data();
    void dayMarker();
    void secondStartWhileRunningDoesNothing();
    void switchedOffNeverChecks();
};

void AboutTest::splashClosesItself() {
    ScriptedUi ui;
    QPointer<About> a = About::AboutStart(&ui, nullptr, "/prog", "3.20", 8, 11, 2010);
    QVERIFY(a->isVisible());
    QCOMPARE(a->windowTitle(), QStringLiteral("Program Info [auto-close]"));
    QCOMPARE(a->labelName->text(), QStringLiteral("Kaxon5 v3.20"));
    QVERIFY(a->labelDescription->text().contains("8.11.2010"));
    QVERIFY(a->pictureBox2->isHidden());
    for (QLabel* l : a->labelA) QVERIFY(l->isHidden());
    a->grab().save(ArtefactDir() + "/about_splash.png");
    QCOMPARE(a->timer->interval(), 2000);
    // It closes (and deletes itself) when its timer fires.
    QTRY_VERIFY_WITH_TIMEOUT(a.isNull(), 5000);
}

void AboutTest::menuWindowShowsHistoryAndLinks() {
    ScriptedUi ui;
    About a(&ui);
    a.Prepare("/prog", "3.20", 8, 11, 2010, false);
    a.show();
    QCOMPARE(a.windowTitle(), QStringLiteral("Program Info"));
    for (QLabel* l : a.labelA) QVERIFY(l->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(a.labelA[11]->isVisible(), 5000);
    for (QLabel* l : a.labelA) QVERIFY2(l->isVisible() && !l->text().isEmpty(), qPrintable(l->objectName()));
    QVERIFY(a.isVisible());  // the menu window stays
    a.grab().save(ArtefactDir() + "/about_menu.png");

    emit a.linkAndOthers->linkActivated("others");
    emit a.labelAmiga->linkActivated("amiga");
    emit a.linkLabelWebSite->linkActivated(QString::fromLatin1(kxlinks::kAuthor));
    emit a.linkLabelMail->linkActivated(QString::fromLatin1(kxlinks::kMail));
    QCOMPARE(ui.opened.size(), size_t(4));
    QCOMPARE(ui.opened[0], QUrl::fromLocalFile("/prog/Credits.txt"));
    QCOMPARE(ui.opened[1], QUrl(QString::fromLatin1(kxlinks::kAmiga)));
    QCOMPARE(ui.opened[2], QUrl(QString::fromLatin1(kxlinks::kAuthor)));
    QCOMPARE(ui.opened[3].scheme(), QStringLiteral("mailto"));
    // Every address is a placeholder of the one link list.
    for (const QUrl& u : ui.opened)
        if (!u.isLocalFile()) QVERIFY2(u.toString().contains("example.invalid"), qPrintable(u.toString()));
    emit a.linkLabelMail->linkActivated("nonsense");
    QCOMPARE(ui.messages.size(), size_t(1));
    QCOMPARE(ui.messages[0].text, QStringLiteral("Item clicked: nonsense"));
}

void AboutTest::helpMenuOpensAbout() {
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    QVERIFY(w.actions.value("help.about")->isEnabled());
    QVERIFY(w.actions.value("help.update")->isEnabled());
    QString title;
    w.dialogScript = [&](QDialog* d) {
        title = d->windowTitle();
        return 0;
    };
    QVERIFY(w.Trigger("help.about"));
    QCOMPARE(title, QStringLiteral("Program Info"));
}

void AboutTest::answers_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<bool>("report");
    QTest::addColumn<QList<bool>>("replies");
    QTest::addColumn<QStringList>("shown");   // message texts, in order
    QTest::addColumn<QStringList>("opened");  // addresses opened

    const QString offer = "TXT_INFO_UPDATE_NEW_VERSION\tv3.21 (9.11.2010)\n\nTXT_INFO_UPDATE_DOWNLOAD_NOW";
    const QByteArray newer = pad("3.21", "http://kaxon5.example.invalid/get", "2010", "11", "9");
    QTest::newRow("newer, download") << newer << false << true << QList<bool>{true} << QStringList{offer}
                                     << QStringList{"http://kaxon5.example.invalid/get"};
    QTest::newRow("newer at start, download") << newer << false << false << QList<bool>{true} << QStringList{offer}
                                              << QStringList{"http://kaxon5.example.invalid/get"};
    QTest::newRow("newer over https") << pad("3.21", "https://kaxon5.example.invalid/get", "2010", "11", "9") << false
                                      << true << QList<bool>{true} << QStringList{offer}
                                      << QStringList{"https://kaxon5.example.invalid/get"};
    QTest::newRow("newer, no download, history")
        << newer << false << true << QList<bool>{false, true}
        << QStringList{offer, "TXT_INFO_UPDATE_CHECK_HISTORY"} << QStringList{QString::fromLatin1(kxlinks::kChangeHistory)};
    QTest::newRow("newer, download of another kind opens nothing")
        << pad("3.21", "file:///etc/passwd", "2010", "11", "9") << false << true << QList<bool>{true} << QStringList{offer}
        << QStringList{};
    QTest::newRow("same") << pad("3.20", "http://x.example.invalid/", "2010", "11", "8") << false << true << QList<bool>{}
                          << QStringList{"TXT_INFO_UPDATE_NO_NEW_VERSION"} << QStringList{};
    QTest::newRow("older, version text not compared") << pad("9.99", "http://x.example.invalid/", "2009", "12", "31")
                                                      << false << true << QList<bool>{}
                                                      << QStringList{"TXT_INFO_UPDATE_NO_NEW_VERSION"} << QStringList{};
    QTest::newRow("same at start says nothing") << pad("3.20", "http://x.example.invalid/", "2010", "11", "8") << false
                                                << false << QList<bool>{} << QStringList{} << QStringList{};
    QTest::newRow("not xml") << QByteArray("<html><body>gone") << false << true << QList<bool>{}
                             << QStringList{"TXT_INFO_UPDATE_CHECK_FAIL"} << QStringList{};
    QTest::newRow("missing element") << QByteArray("<a><Program_Version>4</Program_Version></a>") << false << true
                                     << QList<bool>{} << QStringList{"TXT_INFO_UPDATE_CHECK_FAIL"} << QStringList{};
    QTest::newRow("no such day") << pad("4.0", "http://x.example.invalid/", "2011", "2", "30") << false << true
                                 << QList<bool>{} << QStringList{"TXT_INFO_UPDATE_CHECK_FAIL"} << QStringList{};
    QTest::newRow("not a number") << pad("4.0", "http://x.example.invalid/", "2011", "two", "3") << false << true
                                  << QList<bool>{} << QStringList{"TXT_INFO_UPDATE_CHECK_FAIL"} << QStringList{};
    QTest::newRow("malformed at start says nothing") << QByteArray("garbage") << false << false << QList<bool>{}
                                                     << QStringList{} << QStringList{};
    QTest::newRow("timed out") << newer << true << true << QList<bool>{} << QStringList{"TXT_INFO_UPDATE_CHECK_FAIL"}
                               << QStringList{};
}

void AboutTest::answers() {
    QFETCH(QByteArray, body);
    QFETCH(bool, silent);
    QFETCH(bool, report);
    QFETCH(QList<bool>, replies);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, opened);
    PadServer server(body, silent);
    QTemporaryDir dir;
    ScriptedUi ui;
    for (bool r : replies) ui.answers.push_back(r);
    UpdateCheck check(nullptr, &ui, [](const QString& k) { return k; });
    // The table's pads are dated around this release.
    check.releaseDate = QDate(2010, 11, 8);
    check.versionText = QStringLiteral("3.20");
    check.address = server.url();
    check.markerPath = dir.path() + "/kx5upd.tmp";
    check.timeoutMs = 400;
    QSignalSpy finished(&check, &UpdateCheck::Finished);
    check.Start(report, true);
    // The call returns at once; the answer comes through the event loop.
    QVERIFY(check.Running());
    QCOMPARE(finished.count(), 0);
    QVERIFY(finished.wait(5000));
    QVERIFY(!check.Running());
    QCOMPARE(server.requests, 1);
    QVERIFY(server.request.startsWith("GET /pad.xml"));
    QStringList texts;
    for (const auto& m : ui.messages) texts << m.text;
    QCOMPARE(texts, shown);
    QStringList urls;
    for (const QUrl& u : ui.opened) urls << u.toString();
    QCOMPARE(urls, opened);
    QCOMPARE(readAll(check.markerPath), today());
}

void AboutTest::dayMarker_data() {
    QTest::addColumn<QString>("marker");
    QTest::addColumn<bool>("report");
    QTest::addColumn<QList<bool>>("replies");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QStringList>("shown");
    const QDate t = QDate::currentDate(), y = t.addDays(-1), lastMonth = t.addMonths(-1), lastYear = t.addYears(-1);
    auto m = [](QDate d) { return QStringLiteral("%1 %2 %3").arg(d.day()).arg(d.month()).arg(d.year()); };
    const QString same = "TXT_INFO_UPDATE_NO_NEW_VERSION", again = "TXT_INFO_UPDATE_CHECK_AGAIN";
    QTest::newRow("today at start: silent") << m(t) << false << QList<bool>{} << 0 << QStringList{};
    QTest::newRow("today from menu: declined") << m(t) << true << QList<bool>{false} << 0 << QStringList{again};
    QTest::newRow("today from menu: again") << m(t) << true << QList<bool>{true} << 1 << QStringList{again, same};
    if (y.month() == t.month())
        QTest::newRow("earlier day") << m(y) << false << QList<bool>{} << 1 << QStringList{};
    QTest::newRow("same day, last month") << QStringLiteral("%1 %2 %3").arg(t.day()).arg(lastMonth.month()).arg(lastMonth.year())
                                          << true << QList<bool>{} << 1 << QStringList{same};
    QTest::newRow("last year") << m(lastYear) << true << QList<bool>{} << 1 << QStringList{same};
    QTest::newRow("unreadable marker") << QStringLiteral("junk") << true << QList<bool>{} << 1 << QStringList{same};
}

void AboutTest::dayMarker() {
    QFETCH(QString, marker);
    QFETCH(bool, report);
    QFETCH(QList<bool>, replies);
    QFETCH(int, requests);
    QFETCH(QStringList, shown);
    PadServer server(pad("3.20", "http://x.example.invalid/", "2010", "11", "8"));
    QTemporaryDir dir;
    ScriptedUi ui;
    for (bool r : replies) ui.answers.push_back(r);
    UpdateCheck check(nullptr, &ui, [](const QString& k) { return k; });
    // The table's pads are dated around this release.
    check.releaseDate = QDate(2010, 11, 8);
    check.versionText = QStringLiteral("3.20");
    check.address = server.url();
    check.markerPath = dir.path() + "/kx5upd.tmp";
    QFile f(check.markerPath);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(marker.toLatin1());
    f.close();
    QSignalSpy finished(&check, &UpdateCheck::Finished);
    check.Start(report, true);
    if (requests) QVERIFY(finished.wait(5000));
    QCOMPARE(finished.count(), 1);
    QVERIFY(!check.Running());
    QCOMPARE(server.requests, requests);
    QStringList texts;
    for (const auto& msg : ui.messages) texts << msg.text;
    QCOMPARE(texts, shown);
    QCOMPARE(readAll(check.markerPath), requests ? today() : marker);
}

void AboutTest::secondStartWhileRunningDoesNothing() {
    PadServer server(pad("3.20", "http://x.example.invalid/", "2010", "11", "8"));
    QTemporaryDir dir;
    ScriptedUi ui;
    UpdateCheck check(nullptr, &ui, [](const QString& k) { return k; });
    // The table's pads are dated around this release.
    check.releaseDate = QDate(2010, 11, 8);
    check.versionText = QStringLiteral("3.20");
    check.address = server.url();
    check.markerPath = dir.path() + "/kx5upd.tmp";
    QSignalSpy finished(&check, &UpdateCheck::Finished);
    check.Start(true, false);
    check.Start(true, false);
    QVERIFY(finished.wait(5000));
    QTest::qWait(100);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(server.requests, 1);
    QCOMPARE(ui.messages.size(), size_t(1));
}

void AboutTest::switchedOffNeverChecks() {
    // Every test pad says ONLINE_UPDATE=NO: the window starts no check and
    // writes no day marker; the check's address stays the placeholder.
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    QVERIFY(!w.app.Settings.OnlineUpdate);
    QVERIFY(w.updater && !w.updater->Running());
    QVERIFY(!QFile::exists(w.updater->markerPath));
    // The program's own address is the placeholder of the link list; the
    // sandbox points it at a closed local port.
    QCOMPARE(QUrl(QString::fromLatin1(kxlinks::kUpdateDescription)).host(), QStringLiteral("kaxon5.example.invalid"));
    QCOMPARE(w.updater->address.host(), QStringLiteral("127.0.0.1"));
    QVERIFY(w.updater->markerPath.endsWith("/kx5upd.tmp"));
}

KX_QTEST_MAIN(AboutTest)
#include "tst_about.moc"
