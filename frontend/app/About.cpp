#include "About.h"

#include <QDate>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "AppLinks.h"
#include "UiServices.h"

namespace {

QLabel* link(const QString& href, const QString& text, QWidget* parent) {
    auto* l = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(href.toHtmlEscaped(), text.toHtmlEscaped()), parent);
    l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return l;
}

// The program's emblem, drawn rather than shipped.
QPixmap emblem(int size, bool second) {
    QPixmap p(size, size);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    QLinearGradient grad(0, 0, size, size);
    grad.setColorAt(0, second ? QColor(40, 90, 160) : QColor(200, 60, 40));
    grad.setColorAt(1, second ? QColor(120, 200, 230) : QColor(250, 190, 60));
    g.setBrush(grad);
    g.setPen(Qt::NoPen);
    g.drawRoundedRect(QRectF(2, 2, size - 4, size - 4), size / 6.0, size / 6.0);
    g.setPen(Qt::white);
    QFont f = g.font();
    f.setBold(true);
    f.setPixelSize(size * 2 / 5);
    g.setFont(f);
    g.drawText(QRect(0, 0, size, size), Qt::AlignCenter, second ? QStringLiteral("5") : QStringLiteral("K5"));
    return p;
}

}  // namespace

About::About(UiServices* u, QWidget* parent) : QDialog(parent), ui(u) {
    setWindowTitle(QStringLiteral("Program Info"));
    labelName = new QLabel(this);
    QFont big = labelName->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    labelName->setFont(big);
    labelName->setObjectName(QStringLiteral("labelName"));
    labelDescription = new QLabel(QStringLiteral("Image viewer, converter and editor"), this);
    linkLabelWebSite = link(QString::fromLatin1(kxlinks::kAuthor), QString::fromLatin1(kxlinks::kAuthor), this);
    linkLabelWebSite->setObjectName(QStringLiteral("linkLabelWebSite"));
    linkLabelMail = link(QString::fromLatin1(kxlinks::kMail), QString::fromLatin1(kxlinks::kMail), this);
    linkLabelMail->setObjectName(QStringLiteral("linkLabelMail"));
    labelAmiga = link(QStringLiteral("amiga"), QStringLiteral("Amiga"), this);
    labelAmiga->setObjectName(QStringLiteral("labelAmiga"));
    pictureBox1 = new QLabel(this);
    pictureBox1->setPixmap(emblem(96, false));
    pictureBox1->setCursor(Qt::PointingHandCursor);
    pictureBox1->setToolTip(QStringLiteral("About the picture"));
    pictureBox1->installEventFilter(this);
    pictureBox2 = new QLabel(this);
    pictureBox2->setPixmap(emblem(64, true));
    linkAndOthers = link(QStringLiteral("others"), QStringLiteral("and others"), this);
    linkAndOthers->setObjectName(QStringLiteral("linkAndOthers"));
    for (QLabel* l : {linkLabelWebSite, linkLabelMail, labelAmiga, linkAndOthers})
        connect(l, &QLabel::linkActivated, this, &About::linkClicked);

    auto* top = new QGridLayout;
    top->addWidget(pictureBox1, 0, 0, 4, 1);
    top->addWidget(labelName, 0, 1);
    top->addWidget(labelDescription, 1, 1);
    top->addWidget(linkLabelWebSite, 2, 1);
    top->addWidget(linkLabelMail, 3, 1);
    top->addWidget(pictureBox2, 0, 2, 4, 1);
    auto* history = new QGridLayout;
    for (int i = 0; i < 12; ++i) {
        labelA[i] = new QLabel(this);
        labelA[i]->setObjectName(QStringLiteral("labelA%1").arg(i + 1));
        history->addWidget(labelA[i], i / 2, i % 2);
    }
    auto* credits = new QHBoxLayout;
    credits->addWidget(labelAmiga);
    credits->addStretch();
    credits->addWidget(linkAndOthers);
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addLayout(history);
    v->addLayout(credits);
    v->setSizeConstraint(QLayout::SetFixedSize);

    timer = new QTimer(this);
    timer->setInterval(2000);
    connect(timer, &QTimer::timeout, this, [this] {
        timer->stop();
        if (splash) {
            close();
        } else {
            for (QLabel* l : labelA) l->show();
        }
    });
}

void About::Prepare(const QString& dir, const QString& version, int day, int month, int year, bool asSplash) {
    progdir = dir;
    splash = asSplash;
    labelName->setText(QStringLiteral("Kaxon5 v%1").arg(version));
    labelDescription->setText(
        QStringLiteral("Image viewer, converter and editor (released %1.%2.%3)").arg(day).arg(month).arg(year));
    const int age = std::max(0, QDate::currentDate().year() - year);
    const QString rows[12] = {QStringLiteral("Age:"),
                              QStringLiteral("%1 year(s) since this release").arg(age),
                              QStringLiteral("First release:"),
                              QString::number(year),
                              QStringLiteral("This release:"),
                              QStringLiteral("%1.%2.%3").arg(day).arg(month).arg(year),
                              QStringLiteral("Platform:"),
                              QStringLiteral("Linux (Qt %1)").arg(QString::fromLatin1(qVersion())),
                              QStringLiteral("Library:"),
                              QStringLiteral("kxlib"),
                              QStringLiteral("Generations:"),
                              QStringLiteral("Kaxon5")};
    for (int i = 0; i < 12; ++i) {
        labelA[i]->setText(rows[i]);
        labelA[i]->hide();
    }
    setWindowTitle(splash ? QStringLiteral("Program Info [auto-close]") : QStringLiteral("Program Info"));
    pictureBox2->setVisible(!splash);
    if (splash) setAttribute(Qt::WA_DeleteOnClose);
    timer->start();
}

About* About::AboutStart(UiServices* ui, QWidget* parent, const QString& progdir, const QString& version, int day,
                         int month, int year) {
    auto* a = new About(ui, parent);
    a->setWindowFlag(Qt::WindowStaysOnTopHint);
    a->Prepare(progdir, version, day, month, year, true);
    a->show();
    return a;
}

void About::AboutMenu(UiServices* ui, QWidget* parent, const QString& progdir, const QString& version, int day,
                      int month, int year) {
    About a(ui, parent);
    a.Prepare(progdir, version, day, month, year, false);
    a.exec();
}

bool About::eventFilter(QObject* o, QEvent* e) {
    if (o == pictureBox1 && e->type() == QEvent::MouseButtonRelease) {
        ui->OpenUrl(QUrl(QString::fromLatin1(kxlinks::kPainting)));
        return true;
    }
    return QDialog::eventFilter(o, e);
}

void About::linkClicked(const QString& href) {
    if (href == QLatin1String("amiga")) {
        ui->OpenUrl(QUrl(QString::fromLatin1(kxlinks::kAmiga)));
    } else if (href == QLatin1String("others")) {
        ui->OpenUrl(QUrl::fromLocalFile(progdir + QStringLiteral("/Credits.txt")));
    } else if (href.startsWith(QLatin1String("http://")) || href.startsWith(QLatin1String("https://")) ||
               href.startsWith(QLatin1String("mailto:"))) {
        ui->OpenUrl(QUrl(href));
    } else {
        ui->Message(this, href, QStringLiteral("Item clicked: %1").arg(href), UiServices::Icon::Information);
    }
}
