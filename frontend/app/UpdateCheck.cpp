#include "UpdateCheck.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QXmlStreamReader>

#include "AppLinks.h"
#include "UiServices.h"

bool KX_ParsePad(const QByteArray& bytes, KXPadInfo* pad) {
    static const char* const kNames[] = {"Program_Version", "Primary_Download_URL", "Program_Release_Year",
                                         "Program_Release_Month", "Program_Release_Day"};
    QString value[5];
    bool found[5] = {};
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        for (int i = 0; i < 5; ++i)
            if (!found[i] && xml.name() == QLatin1String(kNames[i])) {
                value[i] = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
                found[i] = true;
                break;
            }
    }
    if (xml.hasError()) return false;
    for (bool f : found)
        if (!f) return false;
    bool okY, okM, okD;
    const int y = value[2].toInt(&okY), m = value[3].toInt(&okM), d = value[4].toInt(&okD);
    const QDate date(y, m, d);
    if (!okY || !okM || !okD || !date.isValid()) return false;
    pad->version = value[0];
    pad->downloadUrl = value[1];
    pad->released = date;
    return true;
}

UpdateCheck::UpdateCheck(QWidget* w, UiServices* u, std::function<QString(const QString&)> t)
    : QObject(nullptr), address(QString::fromLatin1(kxlinks::kUpdateDescription)), window(w), ui(u), text(std::move(t)) {}

void UpdateCheck::Start(bool report, bool oncePerDay) {
    if (checkVersion) return;
    checkVersion = true;
    checkMessage = report;
    checkLimit = oncePerDay;
    const QDate today = QDate::currentDate();
    QFile marker(markerPath);
    if (checkLimit && marker.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> f = marker.readAll().simplified().split(' ');
        marker.close();
        if (f.size() == 3) {
            const int d = f[0].toInt(), m = f[1].toInt(), y = f[2].toInt();
            if (y == today.year() && m == today.month() && d >= today.day() &&
                (!checkMessage || !ui->Ask(window, T("TXT_KAXON5_UPDATEAGENT"), T("TXT_INFO_UPDATE_CHECK_AGAIN"),
                                           UiServices::Icon::Question))) {
                checkVersion = false;
                emit Finished();
                return;
            }
        }
    }
    // Written before the download: a failed check still counts as the day's.
    if (marker.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        marker.write(QStringLiteral("%1 %2 %3").arg(today.day()).arg(today.month()).arg(today.year()).toLatin1());
        marker.close();
    }
    if (!net) net = new QNetworkAccessManager(this);
    QNetworkRequest request(address);
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = net->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { done(reply); });
}

void UpdateCheck::done(QNetworkReply* reply) {
    reply->deleteLater();
    checkVersion = false;
    KXPadInfo pad;
    const bool fetched = reply->error() == QNetworkReply::NoError;
    if (!fetched || !KX_ParsePad(reply->readAll(), &pad)) {
        if (checkMessage)
            ui->Message(window, T("TXT_KAXON5_UPDATECHECK"), T("TXT_INFO_UPDATE_CHECK_FAIL"), UiServices::Icon::Warning);
    } else if (pad.released > releaseDate) {
        const QString offer = T("TXT_INFO_UPDATE_NEW_VERSION") + QStringLiteral("\tv") + pad.version +
                              QStringLiteral(" (%1.%2.%3)").arg(pad.released.day()).arg(pad.released.month()).arg(pad.released.year()) +
                              QStringLiteral("\n\n") + T("TXT_INFO_UPDATE_DOWNLOAD_NOW");
        if (ui->Ask(window, T("TXT_KAXON5_UPDATEAGENT"), offer, UiServices::Icon::Information)) {
            const QUrl url(pad.downloadUrl);
            // Only web pages are opened: the description comes from outside.
            if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) ui->OpenUrl(url);
        } else if (ui->Ask(window, T("TXT_KAXON5_UPDATEAGENT"), T("TXT_INFO_UPDATE_CHECK_HISTORY"),
                           UiServices::Icon::Question)) {
            ui->OpenUrl(QUrl(QString::fromLatin1(kxlinks::kChangeHistory)));
        }
    } else if (checkMessage) {
        ui->Message(window, T("TXT_KAXON5_UPDATECHECK"), T("TXT_INFO_UPDATE_NO_NEW_VERSION"), UiServices::Icon::Information);
    }
    emit Finished();
}
