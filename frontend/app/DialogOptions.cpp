#include "DialogOptions.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "UiServices.h"
#include "core/kxlib.h"
#include "core/kxsettings.h"

namespace {
void logLine(uint32_t level, const char* format, const char* a, const char* b = nullptr) {
    if (!__kxlib_log_global) return;
    if (b) __kxlib_log_global->Log(level, format, "kaxon5", a, b);
    else __kxlib_log_global->Log(level, format, "kaxon5", a);
}
}  // namespace

DialogOptions::DialogOptions(UiServices* u, QWidget* parent) : QDialog(parent), ui(u) {
    setWindowTitle(QStringLiteral("Kaxon5 Settings / Options"));
    auto* grid = new QGridLayout(this);
    checkBoxUnDo = new QCheckBox(QStringLiteral("Unlimited UnDo"), this);
    checkBoxUnDo->setChecked(true);
    numericUnDoLimit = new QSpinBox(this);
    numericUnDoLimit->setRange(1, 999);
    numericUnDoLimit->setValue(1);
    numericUnDoLimit->setEnabled(false);
    checkBoxCompressUnDo = new QCheckBox(QStringLiteral("Compress UnDo Buffer"), this);
    numericUnDoComp = new QSpinBox(this);
    numericUnDoComp->setRange(1, 9);
    numericUnDoComp->setValue(6);
    checkBoxLogStart = new QCheckBox(QStringLiteral("Enable Logging"), this);
    numericLogLevel = new QSpinBox(this);
    numericLogLevel->setRange(1, 9);
    numericLogLevel->setValue(1);
    textBoxLanguage = new QLineEdit(QStringLiteral("english"), this);
    textBoxLanguage->setReadOnly(true);
    buttonLanguage = new QPushButton(QStringLiteral("..."), this);
    buttonLanguage->setFixedWidth(32);
    buttonAllSettings = new QPushButton(QStringLiteral("All Settings..."), this);
    // The window that can open the settings editor turns it on.
    buttonAllSettings->setEnabled(false);
    buttonOK = new QPushButton(QStringLiteral("OK"), this);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    buttonOK->setDefault(true);

    grid->addWidget(checkBoxUnDo, 0, 0);
    grid->addWidget(numericUnDoLimit, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("UnDo limit"), this), 0, 2);
    grid->addWidget(checkBoxCompressUnDo, 1, 0);
    grid->addWidget(numericUnDoComp, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("(9 = best)"), this), 1, 2);
    grid->addWidget(checkBoxLogStart, 2, 0);
    grid->addWidget(numericLogLevel, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Log Level"), this), 2, 2);
    auto* lang = new QHBoxLayout;
    lang->addWidget(new QLabel(QStringLiteral("GUI Language"), this));
    lang->addWidget(textBoxLanguage, 1);
    lang->addWidget(buttonLanguage);
    grid->addLayout(lang, 3, 0, 1, 3);
    grid->addWidget(buttonAllSettings, 4, 0);
    grid->addWidget(new QLabel(QStringLiteral("active after next program start"), this), 4, 1, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(buttonOK);
    buttons->addWidget(buttonCancel);
    grid->addLayout(buttons, 5, 0, 1, 3);
    setFixedSize(sizeHint().expandedTo(QSize(295, 157)));

    connect(checkBoxUnDo, &QCheckBox::toggled, this, [this](bool on) { numericUnDoLimit->setEnabled(!on); });
    // A level means something only while its switch is on.
    connect(checkBoxCompressUnDo, &QCheckBox::toggled, numericUnDoComp, &QWidget::setEnabled);
    connect(checkBoxLogStart, &QCheckBox::toggled, numericLogLevel, &QWidget::setEnabled);
    numericUnDoComp->setEnabled(false);
    numericLogLevel->setEnabled(false);
    connect(buttonLanguage, &QPushButton::clicked, this, &DialogOptions::chooseLanguage);
    connect(buttonOK, &QPushButton::clicked, this, &DialogOptions::confirm);
    connect(buttonCancel, &QPushButton::clicked, this, &DialogOptions::cancel);
}

void DialogOptions::Prepare(const QString& p, const QString& e, const QString& a, bool undoLimited, int undoLimit,
                            bool logStart, int logLevel, bool undoComp, int undoCompLevel) {
    progdir = p;
    envdir = e;
    envarcdir = a;
    _exit = true;
    _locale_changed = false;
    checkBoxUnDo->setChecked(!undoLimited);
    numericUnDoLimit->setEnabled(undoLimited);
    // The spin boxes keep their ranges: a stored level 0 shows as 1.
    numericUnDoLimit->setValue(undoLimit);
    checkBoxLogStart->setChecked(logStart);
    numericLogLevel->setValue(logLevel);
    numericLogLevel->setEnabled(logStart);
    checkBoxCompressUnDo->setChecked(undoComp);
    numericUnDoComp->setValue(undoCompLevel);
    numericUnDoComp->setEnabled(undoComp);
    QByteArray env = QFile::encodeName(envdir), arc = QFile::encodeName(envarcdir);
    // Only a language the pad names replaces the one shown.
    KXProgramSettings stored;
    stored.Language.clear();
    KXReadProgramSettings(env.constData(), arc.constData(), nullptr, &stored);
    if (!stored.Language.empty()) {
        language = QString::fromStdString(stored.Language);
        textBoxLanguage->setText(language);
    }
}

int DialogOptions::ShowDialogP(const QString& p, const QString& e, const QString& a, bool undoLimited, int undoLimit,
                               bool logStart, int logLevel, bool undoComp, int undoCompLevel) {
    Prepare(p, e, a, undoLimited, undoLimit, logStart, logLevel, undoComp, undoCompLevel);
    return exec();
}

void DialogOptions::chooseLanguage() {
    const QString catalogs = progdir + QStringLiteral("/Resources/Locale/Catalogs");
    // Started in the catalogs folder, the picker lists the languages there.
    QString chosen = ui ? ui->FolderName(this, QStringLiteral("GUI Language"), catalogs) : QString();
    if (chosen.isEmpty()) return;
    logLine(2, "%-16s: %s\n", "New language chosen.");
    chosen = QDir::cleanPath(chosen);
    const int cut = chosen.lastIndexOf('/');
    const QString parent = cut >= 0 ? chosen.left(cut) : QString();
    const QString folder = chosen.mid(cut + 1);
    if ((parent + "/").contains(QStringLiteral("/Resources/Locale/Catalogs/")) && !folder.isEmpty()) {
        logLine(1, "%-16s: %s: '%s'\n", "Language changed to:", folder.toUtf8().constData());
        _locale_changed = true;
        language = folder;
        textBoxLanguage->setText(folder);
    } else if (ui) {
        ui->Message(this, QStringLiteral("Kaxon5 Error"),
                    QStringLiteral("Please select only language directories\nfrom within the Catalogs subfolder."),
                    UiServices::Icon::Critical);
    }
}

void DialogOptions::confirm() {
    _exit = false;
    _undolimit = numericUnDoLimit->value();
    _undo = !checkBoxUnDo->isChecked();
    _logstart = checkBoxLogStart->isChecked();
    _loglevel = numericLogLevel->value();
    _undocomp = checkBoxCompressUnDo->isChecked();
    _undocomplevel = numericUnDoComp->value();
    if (_locale_changed) {
        QByteArray env = QFile::encodeName(envdir), arc = QFile::encodeName(envarcdir);
        QByteArray lang = language.toUtf8();
        switch (KXStoreLanguage(env.constData(), arc.constData(), lang.constData())) {
        case KXLanguageStore::Stored: break;
        case KXLanguageStore::NotInPad: _locale_changed = false; break;
        case KXLanguageStore::SaveFailed:
            if (ui) ui->Message(this, QStringLiteral("Kaxon5 Error"), QStringLiteral("Could not save language preferences."), UiServices::Icon::Critical);
            break;
        case KXLanguageStore::CreateFailed:
            if (ui) ui->Message(this, QStringLiteral("Kaxon5 Error"), QStringLiteral("Could not create preferences file."), UiServices::Icon::Critical);
            break;
        }
    }
    accept();
}

void DialogOptions::cancel() {
    _locale_changed = false;
    reject();
}
