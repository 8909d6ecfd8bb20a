// UpdateCheck: the online update check. Fetches the maker's program
// description (a PAD file) without blocking the window, compares the release
// date it announces with this program's own and offers the download page
// when it is newer. At start it runs at most once a day and reports only a
// newer version; from the Help menu it reports every outcome.
#pragma once

#include <QDate>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>

#include "AppVersion.h"

class QNetworkAccessManager;
class QNetworkReply;
class QWidget;
class UiServices;

// The five elements of a program description the check reads.
struct KXPadInfo {
    QString version;
    QString downloadUrl;
    QDate released;
};

// Parses a program description; false when it is not XML, an element is
// missing or the date is not a real day.
bool KX_ParsePad(const QByteArray& bytes, KXPadInfo* pad);

class UpdateCheck : public QObject {
    Q_OBJECT
public:
    // text: the catalog text of a key; ui: message boxes and the browser.
    UpdateCheck(QWidget* window, UiServices* ui, std::function<QString(const QString&)> text);

    // Starts a check unless one runs. report: every outcome is shown (the
    // Help command); oncePerDay: a check already made today is skipped at
    // start and asked about from the menu.
    void Start(bool report, bool oncePerDay);
    bool Running() const { return checkVersion; }

    QUrl address;                   // the description's address
    QString markerPath;             // the day marker ("kx5upd.tmp")
    int timeoutMs = 15000;          // a silent server ends the check as failed
    QDate releaseDate{kxversion::kReleaseYear, kxversion::kReleaseMonth, kxversion::kReleaseDay};
    QString versionText = QLatin1String(kxversion::kText);

signals:
    // Emitted when a check has ended, whatever its outcome.
    void Finished();

private:
    void done(QNetworkReply* reply);
    QString T(const char* key) const { return text(QLatin1String(key)); }

    QWidget* window;
    UiServices* ui;
    std::function<QString(const QString&)> text;
    QNetworkAccessManager* net = nullptr;
    bool checkVersion = false;
    bool checkMessage = false;
    bool checkLimit = true;
};
