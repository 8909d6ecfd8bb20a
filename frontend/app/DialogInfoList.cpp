#include "DialogInfoList.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "UiServices.h"
#include "core/gfxbuffer.h"
#include "core/kxclass.h"

DialogInfoList::DialogInfoList(UiServices* u, QWidget* parent) : QDialog(parent), ui(u) {
    listBoxTags = new QListWidget(this);
    listBoxTags->setObjectName(QStringLiteral("listBoxTags"));
    listBoxTags->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    listBoxTags->setMinimumSize(560, 320);
    textBoxTag = new QLineEdit(this);
    textBoxTag->setReadOnly(true);
    textBoxTag->setFont(listBoxTags->font());
    buttonDetails = new QPushButton(QStringLiteral("Details To Clip"), this);
    buttonLine = new QPushButton(QStringLiteral("Line To Clip"), this);
    buttonEdit = new QPushButton(QStringLiteral("Edit..."), this);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    buttonOK = new QPushButton(QStringLiteral("OK"), this);
    buttonEdit->setEnabled(false);
    buttonCancel->setEnabled(false);
    buttonOK->setDefault(true);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {buttonDetails, buttonLine, buttonEdit}) buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(buttonCancel);
    buttons->addWidget(buttonOK);
    auto* v = new QVBoxLayout(this);
    v->addWidget(listBoxTags);
    v->addWidget(textBoxTag);
    v->addLayout(buttons);

    connect(listBoxTags, &QListWidget::currentTextChanged, textBoxTag, &QLineEdit::setText);
    connect(buttonOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(buttonDetails, &QPushButton::clicked, this, [this] {
        QString all;
        for (int i = 0; i < listBoxTags->count(); ++i) all += listBoxTags->item(i)->text() + QStringLiteral("\r\n");
        QApplication::clipboard()->setText(all);
    });
    connect(buttonLine, &QPushButton::clicked, this, [this] {
        if (QListWidgetItem* it = listBoxTags->currentItem()) QApplication::clipboard()->setText(it->text());
    });
}

bool DialogInfoList::Prepare(const QString& title, const QStringList& rows) {
    setWindowTitle(title);
    listBoxTags->clear();
    if (rows.isEmpty()) {
        ui->Message(parentWidget(), QStringLiteral("Kaxon5 Error"), QStringLiteral("Sorry, no details available."),
                    UiServices::Icon::Critical);
        return false;
    }
    listBoxTags->addItems(rows);
    listBoxTags->setCurrentRow(0);
    return true;
}

int DialogInfoList::ShowDialog(const QString& title, const QStringList& rows) {
    if (!Prepare(title, rows)) return QDialog::Rejected;
    return exec();
}

namespace {

QString row18(const char* label, const QString& value) {
    return QString::asprintf("%-18s", label) + value;
}
QString row32(const char* label, const QString& value) {
    return QString::asprintf("%-32s", label) + value;
}
// A folder with its closing "/", so it reads as one.
QString folder(const QString& d) { return d.isEmpty() || d.endsWith(QLatin1Char('/')) ? d : d + QLatin1Char('/'); }
QString dir(const char* d) { return d ? folder(QString::fromLocal8Bit(d)) : QString(); }

}  // namespace

QStringList KX_InstanceInfoRows(const KXClass* lib, const KXInstanceFacts& f) {
    const QString temp = lib ? dir(lib->TempDir) : QString();
    return {row18("Instance ID", f.instanceId),
            row18("Program Dir", folder(f.programDir)),
            row18("Current Load Dir", folder(f.loadDir)),
            row18("Current Save Dir", folder(f.saveDir)),
            row18("Current Dia Dir", folder(f.diaDir)),
            row18("Env Dir", lib ? dir(lib->SettingsDir) : QString()),
            row18("EnvArc Dir", lib ? dir(lib->ArchiveSettingsDir) : QString()),
            row18("ICC Dir", folder(f.iccDir)),
            row18("Temp Dir", temp),
            row18("Log Dir", temp),
            row18("Log Mode", f.logging ? QStringLiteral("Enabled") : QStringLiteral("Disabled")),
            QString::asprintf("%-18s%ld", "Log Level", f.logLevel)};
}

QStringList KX_GfxInfoRows(const KX_GfxBuffer* b, const QString& fileName, const QString& fileType,
                           const QString& subType) {
    QStringList r;
    if (!b) return r;
    const bool planar = b->Type == BITPLANE;
    const long depth = long(b->ColorDepth);
    const bool ham = IsHamBuffer(b), ehb = IsEhbBuffer(b);
    const uint64_t pixels = uint64_t(b->Width) * b->Height;
    r << row32("FileName", fileName) << row32("FileType", fileType.section(QLatin1Char(' '), 0, 0))
      << row32("FileSubType", subType) << row32("GfxBuffer Version (internal)", QString::number(b->Version))
      << row32("GfxBuffer Type", planar ? QStringLiteral("BITPLANE") : QStringLiteral("ONEPLANE"))
      << row32("Width", QString::number(b->Width)) << row32("Height", QString::number(b->Height))
      << row32("No. of Pixels", QString::asprintf("%llu (%.2lf million)", (unsigned long long)pixels, double(pixels) / 1000000.0));
    if (depth <= 8 && ham) {
        r << row32("HAMColorDepth", depth == 6 ? QString::asprintf("%ld (= %ld LUT colors, %ld HAM Colors)", depth, 16L, 4096L)
                                                : QString::asprintf("%ld (= %ld LUT colors, %ld HAM Colors)", depth, 64L, 262144L));
    } else if (depth <= 8 && ehb) {
        r << row32("EHBColorDepth", QString::asprintf("%ld (= %ld/%ld EHB Colors)", depth, 32L, 64L));
    } else if (depth <= 8) {
        r << row32("ColorTableDepth", QString::asprintf("%ld (= %ld Colors)", depth, 1L << depth));
    } else {
        // 2^48 does not fit 32 bits; a depth past 63 cannot be counted at all.
        const unsigned long long colours = depth < 64 ? 1ULL << depth : 0;
        r << row32("ColorDepth", QString::asprintf("%ld (= %llu Colors)", depth, colours));
    }
    if (planar)
        r << row32("BytesPerLine (Bitplane)", QString::number(b->BytesPerLine));
    else
        r << row32("PixelBits (Oneplane)", QString::number(b->PixelBits));
    r << row32("BufferSize (Bytes)", QString::number(b->BufferSize))
      << row32("ViewMode (AOS)", QString::asprintf("$%08lx", (unsigned long)b->ViewMode));
    if (b->Version >= 2) r << row32("NativeDIPF (AOS)", QString::asprintf("$%08lx", (unsigned long)b->NativeDIPF));
    r << row32("IsHamBuffer", ham ? (depth == 6 ? QStringLiteral("TRUE (HAM6)") : QStringLiteral("TRUE (HAM8)"))
                                  : QStringLiteral("FALSE "))
      << row32("IsEhbBuffer", ehb ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    if (b->Version >= 3) {
        static const char* const kAlpha[16] = {"none", "single color", "8 bit channel", "unknown", "multiple colors",
                                               "unknown", "unknown", "unknown", "16 bit channel"};
        const uint32_t kind = b->AlphaType & 15;
        r << row32("Transparency/Alpha", QString::fromLatin1(kAlpha[kind] ? kAlpha[kind] : "unknown"));
        if (b->AlphaType & 1) r << row32("TransparentColor", QString::number(KXSUP_AlphaIndex(b)));
    }
    if (b->Version >= 4) {
        const uint32_t f = b->Flags;
        const QString lock = (f & 4) ? QStringLiteral("prohibited") : QStringLiteral("permitted");
        r << row32("Endianess", (f & 1) ? QStringLiteral("MM") : (f & 2) ? QStringLiteral("II") : QStringLiteral("default"))
          << row32("EndianConversion", lock) << row32("BufferModification", lock)
          << row32("Source Format", (f & 8) ? QStringLiteral("gray") : (f & 16) ? QStringLiteral("8 bit") : QStringLiteral("unknown"))
          << row32("Alpha Source Format", (f & 64) ? QStringLiteral("8 bit") : QStringLiteral("unknown"));
    }
    return r;
}

int DialogInstanceInfo::ShowDialogP(UiServices* ui, QWidget* parent, const KXClass* lib, const KXInstanceFacts& facts) {
    DialogInfoList d(ui, parent);
    return d.ShowDialog(QString::fromLatin1(kTitle), KX_InstanceInfoRows(lib, facts));
}

int DialogKXGfxInfo::ShowDialogP(UiServices* ui, QWidget* parent, const KX_GfxBuffer* b, const QString& fileName,
                                 const QString& fileType, const QString& subType) {
    DialogInfoList d(ui, parent);
    return d.ShowDialog(QString::fromLatin1(kTitle), KX_GfxInfoRows(b, fileName, fileType, subType));
}
