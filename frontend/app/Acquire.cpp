#include "Acquire.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QProgressDialog>

namespace kxacquire {

bool Device::camera() const {
    const QString t = type.trimmed().toLower();
    return t == QLatin1String("still camera") || t == QLatin1String("video camera");
}

QList<Device> ParseDevices(const QByteArray& listing) {
    QList<Device> devices;
    for (const QByteArray& raw : listing.split('\n')) {
        const QString line = QString::fromLocal8Bit(raw).trimmed();
        // Vendor, model and type never hold a "|"; a device name might.
        QStringList parts = line.split(QLatin1Char('|'));
        if (parts.size() < 4) continue;
        Device d;
        d.type = parts.takeLast();
        d.model = parts.takeLast();
        d.vendor = parts.takeLast();
        d.name = parts.join(QLatin1Char('|'));
        if (!d.name.isEmpty()) devices.append(d);
    }
    return devices;
}

namespace {
// Runs program with the arguments while a window-modal busy indicator is
// shown; output receives its standard output.
Result run(QWidget* parent, const QString& program, const QStringList& args, const QString& text, QByteArray* output) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(args);
    // Its messages are not read; they must not fill a pipe.
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1)) return Result::Missing;

    QProgressDialog busy(text, QStringLiteral("Cancel"), 0, 0, parent);
    busy.setWindowTitle(QStringLiteral("Kaxon5"));
    busy.setWindowModality(Qt::WindowModal);
    busy.setMinimumDuration(0);
    busy.setAutoClose(false);
    busy.setAutoReset(false);
    QEventLoop loop;
    bool cancelled = false;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&busy, &QProgressDialog::canceled, &loop, [&] {
        cancelled = true;
        loop.quit();
    });
    if (process.state() != QProcess::NotRunning) {
        busy.show();
        loop.exec();
    }
    if (cancelled && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(-1);
    }
    busy.hide();
    if (cancelled) return Result::Cancelled;
    if (output) *output = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return Result::Failed;
    return Result::Ok;
}
}  // namespace

Result List(QWidget* parent, const QString& program, const QString& text, QList<Device>* devices) {
    QByteArray listing;
    const Result r = run(parent, program, {QStringLiteral("-f"), QStringLiteral("%d|%v|%m|%t%n")}, text, &listing);
    if (devices) *devices = r == Result::Ok ? ParseDevices(listing) : QList<Device>();
    return r;
}

Result Scan(QWidget* parent, const QString& program, const QString& text, const QString& device, const QString& file) {
    const Result r = run(parent, program,
                         {QStringLiteral("-d"), device, QStringLiteral("--format=png"), QStringLiteral("--output-file"), file},
                         text, nullptr);
    if (r == Result::Ok && QFileInfo(file).size() <= 0) return Result::Failed;
    return r;
}

}  // namespace kxacquire
