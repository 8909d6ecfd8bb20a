// Main: the window's keys, seen before its controls.
#include "Main.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "ActionTable.h"

using kxactions::ActionDef;

// The key goes to the widget with the focus: a text field (or the line
// edit inside a spin box or an editable list) keeps its letters.
bool Main::singleLetterBlocked(QWidget* target) const {
    for (QWidget* f = target; f && f != this; f = f->parentWidget()) {
        if (qobject_cast<QLineEdit*>(f) || qobject_cast<QAbstractSpinBox*>(f) || qobject_cast<QTextEdit*>(f) ||
            qobject_cast<QPlainTextEdit*>(f))
            return true;
        if (auto* c = qobject_cast<QComboBox*>(f)) return c->isEditable();
        if (auto* v = qobject_cast<QAbstractItemView*>(f)) return v->editTriggers() != QAbstractItemView::NoEditTriggers;
    }
    return false;
}

bool Main::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, event);
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->window() != this || disposed) return QMainWindow::eventFilter(watched, event);
    auto* k = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = k->modifiers() & ~Qt::KeypadModifier;
    const bool keypad = k->modifiers() & Qt::KeypadModifier;
    QString key;
    if (k->key() == Qt::Key_Z && mods == Qt::ControlModifier) key = QStringLiteral("Ctrl+Z");
    else if (!keypad && (mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0) {
        switch (k->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal: key = QStringLiteral("+"); break;
        case Qt::Key_Minus: key = QStringLiteral("-"); break;
        case Qt::Key_L: key = QStringLiteral("L"); break;
        case Qt::Key_R: key = QStringLiteral("R"); break;
        default: break;
        }
    }
    if (key.isEmpty()) return QMainWindow::eventFilter(watched, event);
    if (key != QLatin1String("Ctrl+Z") && singleLetterBlocked(w)) return QMainWindow::eventFilter(watched, event);
    for (const ActionDef& d : kxactions::Table()) {
        if (d.shortcut && key == QLatin1String(d.shortcut)) {
            // A disabled command (Undo while undo is off) ignores its key too.
            QAction* a = actions.value(QString::fromLatin1(d.id));
            if (!a || a->isEnabled()) runAction(d);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
