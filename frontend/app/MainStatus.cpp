// Main: the status line, the status light, the progress bar, the wait
// cursor and the message boxes: the window's side of KXUserInterface.
#include "Main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QCheckBox>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>

#include "UiServices.h"

std::string Main::Text(const char* key) { return txt.value(QString::fromLatin1(key)).toStdString(); }

void Main::SetStatus(const std::string& text) {
    labelStatus->setText(QString::fromStdString(text));
    labelStatus->setToolTip(labelStatus->text());
    labelStatus->repaint();
}

// A failed command's light is the red of a running task: it stays once the
// task is over, with the status line keeping the message.
void Main::SetStatusLight(KXStatusLight light) {
    const char* colour = "#20b020";
    switch (light) {
    case KXStatusLight::Red:
    case KXStatusLight::Failed: colour = "#d02020"; break;
    case KXStatusLight::Yellow: colour = "#e0c000"; break;
    case KXStatusLight::Flawed: colour = "#f07800"; break;
    case KXStatusLight::Green: break;
    }
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

// The interface thread waits for a worker without blocking: it handles
// everything but the user's input (repaints, the progress poller's timer,
// the bar) until the worker has ended; the input that arrives meanwhile
// waits until the task is over (one task at a time). A task that takes
// longer than a moment also shows menus and tool bar switched off (for the
// short ones that would only flicker).
void Main::WaitForWorker(const std::function<bool(int)>& poll) {
    if (poll(0)) return;
    ++workerWaits;
    QElapsedTimer clock;
    clock.start();
    bool switchedOff = false;
    const bool menus = menuStripMain->isEnabled(), tools = toolStripMain->isEnabled();
    QTimer tick;  // wakes the loop for the bar at least every 100 ms
    tick.start(100);
    while (!poll(0)) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
        if (!switchedOff && clock.elapsed() >= 150) {
            switchedOff = true;
            menuStripMain->setEnabled(false);
            toolStripMain->setEnabled(false);
        }
    }
    tick.stop();
    if (switchedOff) {
        menuStripMain->setEnabled(menus);
        toolStripMain->setEnabled(tools);
    }
    --workerWaits;
    // A close asked for meanwhile is answered now.
    if (closePending && !workerWaits) {
        closePending = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

// Posting an empty call is what ends the interface thread's wait at once
// (a posted event always does; a bare dispatcher wake-up may come too early).
void Main::WakeFromWorker() {
    QMetaObject::invokeMethod(this, [] {}, Qt::QueuedConnection);
}

void Main::AreaDropped() {
    {
        QSignalBlocker block(checkBoxArea);
        checkBoxArea->setChecked(false);
    }
    buttonArea->setVisible(false);
    buttonToggle->setVisible(false);
    // The thumbnail loses the area's frame.
    if (areaFrameShown) areaFrameToggle();
}

void Main::statusError(uint32_t code) {
    app.ShowResult(code, (Msg("TXT_ERROR") + QLatin1Char(' ') + QString::fromUtf8(KXL_GetErrorString(code))).toStdString());
}
