// Main: the status line, the status light, the progress bar, the wait
// cursor and the message boxes: the window's side of KXUserInterface.
#include "Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "UiServices.h"

std::string Main::Text(const char* key) { return txt.value(QString::fromLatin1(key)).toStdString(); }

void Main::SetStatus(const std::string& text) {
    labelStatus->setText(QString::fromStdString(text));
    labelStatus->repaint();
}

void Main::SetStatusLight(KXStatusLight light) {
    const char* colour = light == KXStatusLight::Red ? "#d02020" : light == KXStatusLight::Yellow ? "#e0c000" : "#20b020";
    buttonStatus->setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid #404040;").arg(QLatin1String(colour)));
    buttonStatus->setProperty("light", int(light));
    buttonStatus->repaint();
}

namespace {
QString captionKey(KXMessageKind k) {
    return k == KXMessageKind::Error ? QStringLiteral("TXT_KAXON5_ERROR")
           : k == KXMessageKind::Info ? QStringLiteral("TXT_KAXON5_INFO")
                                      : QStringLiteral("TXT_KAXON5_REQUEST");
}
}  // namespace

bool Main::AskYesNo(KXMessageKind caption, const std::string& text) {
    return ui->Ask(this, Msg(captionKey(caption)), QString::fromStdString(text), UiServices::Icon::Question);
}

void Main::ShowMessage(KXMessageKind caption, const std::string& text) {
    ui->Message(this, Msg(captionKey(caption)), QString::fromStdString(text),
                caption == KXMessageKind::Error ? UiServices::Icon::Critical : UiServices::Icon::Information);
}

void Main::SetProgressBar(int value) {
    progressBar1->setValue(std::clamp(value, 0, 100));
    progressBar1->repaint();
}

void Main::SetBusyCursor(bool busy) {
    if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

void Main::AreaDropped() {
    QSignalBlocker block(checkBoxArea);
    checkBoxArea->setChecked(false);
}

void Main::statusError(uint32_t code) {
    app.Status((Msg("TXT_ERROR") + QLatin1Char(' ') + QString::fromUtf8(KXL_GetErrorString(code))).toStdString());
}
