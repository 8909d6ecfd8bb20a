#include "DialogDither.h"

#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "PictureBox.h"
#include "UiServices.h"
#include "core/kxopnumbers.h"

namespace {

// The mode list of a computed palette and of the reference dialog:
// "F-S" is no word the operators know, so they keep Floyd-Steinberg.
QByteArray computedMode(int index) {
    switch (index) {
    case 1: return "ORDERED";
    case 2: return "BURKES";
    case 3: return "BESTPEN";
    default: return "DITHER_FLOYD-STEINBERG";
    }
}

const QStringList kComputedModes = {QStringLiteral("F-S"), QStringLiteral("Ordered"), QStringLiteral("Burkes"),
                                    QStringLiteral("BestPen")};
}  // namespace

// ---- Computed or fixed palette ------------------------------------------------------

DialogKXODither::DialogKXODither(KXClass* l, QWidget* parent) : DialogKXOFrame(l, parent) {
    setWindowTitle(QStringLiteral("Dithering Settings"));
    auto* form = new QFormLayout;
    comboPalMode = Combo("comboPalMode", {QStringLiteral("Best"), QStringLiteral("Fixed")});
    comboDithMode = Combo("comboDithMode");
    palDepth = Spin("palDepth", 1, 8, 8);
    form->addRow(Label("label1", QStringLiteral("Palette")), comboPalMode);
    form->addRow(Label("label2", QStringLiteral("Dither Mode")), comboDithMode);
    form->addRow(Label("label3", QStringLiteral("Color Depth")), palDepth);
    ArrangeWithPreview(form);
    connect(comboPalMode, &QComboBox::currentIndexChanged, this, [this](int i) {
        _palmode = i;
        fillModes();
        comboDithMode->setCurrentIndex(0);
        _dithmode = 0;
        UpdatePreview();
    });
    Follow(comboDithMode, _dithmode);
    Follow(palDepth, _depth);
}

void DialogKXODither::fillModes() {
    QSignalBlocker block(comboDithMode);
    comboDithMode->clear();
    if (_palmode == 0) comboDithMode->addItems(kComputedModes);
    else comboDithMode->addItems({QStringLiteral("F-S"), QStringLiteral("BestPen")});
}

void DialogKXODither::Prepare(KX_GfxBuffer* source, const QString& pdir) {
    OpenFrame(source, pdir);
    _palmode = 0;
    _dithmode = 0;
    _depth = 8;
    palDepth->setValue(8);
    {
        QSignalBlocker block(comboPalMode);
        comboPalMode->setCurrentIndex(0);
    }
    fillModes();
    comboDithMode->setCurrentIndex(0);
    Ready();
}

kxdlg::Plan DialogKXODither::Steps() const {
    if (_palmode == 0) return {{KXOP_DITHER24BIT, {{"COLORDEPTH", kxown::Int(_depth)}, {"DITHERMODE", computedMode(_dithmode)}}}};
    return {{KXOP_DITHERFIX24,
             {{"COLORDEPTH", kxown::Int(_depth)}, {"DITHERMODE", _dithmode == 1 ? "BESTPEN" : "DITHER_FLOYD-STEINBERG"}}}};
}

// ---- Reference palette ---------------------------------------------------------------

DialogKXOPaletteDither::DialogKXOPaletteDither(KXClass* l, UiServices* u, QWidget* parent)
    : DialogKXOFrame(l, parent), ui(u) {
    setWindowTitle(QStringLiteral("Dither to Reference Image (Palette)"));
    MakePreviewBox(191, 166);
    pictureBoxReference = Picture("pictureBoxReference", 191, 166);
    auto* pictures = new QHBoxLayout;
    pictures->addWidget(pictureBoxPreview);
    pictures->addWidget(pictureBoxReference);

    auto* fields = new QFormLayout;
    palDepth = Spin("palDepth", 1, 8, 8);
    refDepth = Spin("refDepth", 1, 8, 8);
    comboDithMode = Combo("comboDithMode", kComputedModes);
    fields->addRow(Label("label3", QStringLiteral("Dither Depth")), palDepth);
    fields->addRow(Label("label4", QStringLiteral("Palette Depth")), refDepth);
    fields->addRow(Label("label2", QStringLiteral("Dither Mode")), comboDithMode);

    button1 = Button("button1", QStringLiteral("Load Reference..."));
    labelFileName = Label("labelFileName", QStringLiteral("No filename selected."));
    labelStatus = Label("labelStatus", QStringLiteral("No error."));
    labelReference = Label("labelReference", QStringLiteral("You have to select a reference file first."));
    auto* info = new QGridLayout;
    info->addWidget(Label("label1", QStringLiteral("Reference:")), 0, 0);
    info->addWidget(labelFileName, 0, 1);
    info->addWidget(Label("label8", QStringLiteral("Status:")), 1, 0);
    info->addWidget(labelStatus, 1, 1);
    info->setColumnStretch(1, 1);

    auto* row = new QHBoxLayout;
    row->addLayout(fields);
    row->addStretch(1);
    row->addWidget(button1, 0, Qt::AlignBottom);
    auto* all = new QVBoxLayout(this);
    all->addLayout(pictures);
    all->addLayout(row);
    all->addLayout(info);
    all->addWidget(labelReference);
    all->addLayout(MakeButtons(true));
    all->setSizeConstraint(QLayout::SetFixedSize);

    connect(button1, &QPushButton::clicked, this, [this] {
        const QString path = ui ? ui->OpenFileName(this, loaddir, QString(), QStringLiteral("All Files (*)")) : QString();
        if (!path.isEmpty()) LoadReference(path);
    });
    Follow(palDepth, _depth);
    Follow(refDepth, _refdepth);
    Follow(comboDithMode, _dithmode);
}

DialogKXOPaletteDither::~DialogKXOPaletteDither() { Quiesce(); }

void DialogKXOPaletteDither::Prepare(KX_GfxBuffer* source, const QString& pdir, const QString& ld, const QString& ad) {
    OpenFrame(source, pdir);
    _loadsel = 0;
    _loadname.clear();
    _dithmode = 0;
    _depth = _refdepth = 8;
    palDepth->setValue(8);
    refDepth->setValue(8);
    comboDithMode->setCurrentIndex(0);
    loaddir = ld;
    appdir = ad;
    Ready();
}

void DialogKXOPaletteDither::LoadReference(const QString& path) {
    _loadname = path;
    // A long path is shortened in its middle; the whole one is the tip.
    labelFileName->setText(labelFileName->fontMetrics().elidedText(path, Qt::ElideMiddle, 480));
    labelFileName->setToolTip(path);
    labelReference->hide();
    Quiesce();  // the readers run on this thread
    _loadsel = 0;
    if (!_KXClass2) _KXClass2 = kxdlg::OwnLibrary(progdir, appdir);
    KX_GfxBuffer* image = nullptr;
    uint32_t err = kxdlg::LoadPicture(_KXClass2.get(), path, &image);
    if (!err && image->ColorDepth > 8) {
        err = KXERR_NO24BIT;
        labelReference->setText(QStringLiteral("Reference file must be 8 bit palette-based."));
        labelReference->show();
    }
    if (!err) {
        // The dither depth cannot exceed the reference's; both start at it.
        const int depth = int(image->ColorDepth);
        for (QSpinBox* s : {refDepth, palDepth}) {
            QSignalBlocker block(s);
            s->setMaximum(depth);
            s->setValue(depth);
        }
        _depth = _refdepth = depth;
        _loadsel = 1;
        pictureBoxReference->setImage(kxdlg::Bitmap(image, true));
    } else {
        pictureBoxReference->setImage(QImage());
    }
    KXSUP_FreeGfxBuffer(image);
    labelStatus->setText(kxdlg::StatusText(err));
    UpdatePreview();
}

kxdlg::Plan DialogKXOPaletteDither::Steps() const {
    return {{KXOP_PALETTEDITHER,
             {{"PALETTEFILE", QFile::encodeName(_loadname)},
              {"PALETTEDEPTH", kxown::Int(_refdepth)},
              {"COLORDEPTH", kxown::Int(_depth)},
              {"DITHERMODE", computedMode(_dithmode)}}}};
}

// Without a usable reference the preview is the picture as it is.
kxdlg::Plan DialogKXOPaletteDither::PreviewSteps() const { return _loadsel ? kxdlg::InTrueColour(Steps()) : kxdlg::Plan(); }

void DialogKXOPaletteDither::PreviewShown(uint32_t err) {
    if (!_loadsel) return;
    labelStatus->setText(kxdlg::StatusText(err));
    if (err) pictureBoxPreview->setImage(QImage());
}
