// Acquire: scanners and cameras through SANE's scanimage. The device list
// comes from `scanimage -f "%d|%v|%m|%t%n"`; a scan runs `scanimage -d DEV
// --format=png --output-file FILE`. Both run without a shell while a busy
// indicator with a Cancel button is shown; Cancel ends the program.
#pragma once

#include <QList>
#include <QString>

class QWidget;

namespace kxacquire {

struct Device {
    QString name, vendor, model, type;
    // SANE's types "still camera" and "video camera"; everything else is
    // a scanner.
    bool camera() const;
};

enum class Result {
    Ok,
    Missing,    // the program cannot be started
    Failed,     // it ended with an error (or wrote nothing)
    Cancelled,  // the user pressed Cancel
};

// The devices of one line each ("device|vendor|model|type").
QList<Device> ParseDevices(const QByteArray& listing);

// Lists every device; text is the busy indicator's.
Result List(QWidget* parent, const QString& program, const QString& text, QList<Device>* devices);
// Scans one picture of device into file (PNG).
Result Scan(QWidget* parent, const QString& program, const QString& text, const QString& device, const QString& file);

}  // namespace kxacquire
