// About: the program's information window. At start (without a file) it is
// a splash that closes itself after two seconds; from the Help menu it stays
// and shows the program's history after two seconds.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QTimer;
class UiServices;

class About : public QDialog {
    Q_OBJECT
public:
    About(UiServices* ui, QWidget* parent = nullptr);

    // The splash: shown without waiting, closes itself.
    static About* AboutStart(UiServices* ui, QWidget* parent, const QString& progdir, const QString& version, int day,
                             int month, int year);
    // The Help menu's window, modal.
    static void AboutMenu(UiServices* ui, QWidget* parent, const QString& progdir, const QString& version, int day,
                          int month, int year);

    // Fills the texts; splash: title and hidden parts of the splash.
    void Prepare(const QString& progdir, const QString& version, int day, int month, int year, bool splash);

    QLabel *labelName, *labelDescription, *linkLabelWebSite, *linkLabelMail, *labelAmiga, *pictureBox1, *pictureBox2,
        *linkAndOthers;
    QLabel* labelA[12];
    QTimer* timer;

private:
    bool eventFilter(QObject* o, QEvent* e) override;
    void linkClicked(const QString& link);
    UiServices* ui;
    QString progdir;
    bool splash = false;
};
