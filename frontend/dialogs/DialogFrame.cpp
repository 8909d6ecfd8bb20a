#include "DialogFrame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "PictureBox.h"
#include "View.h"
#include "core/kxbridge.h"
#include "core/kxopnumbers.h"

namespace kxdlg {

namespace {

// The preview box's copy of the picture: HAM through true colour, as the
// resize operator refuses it.
uint32_t scaled(KXClass* lib, KX_GfxBuffer* source, QSize box, KX_GfxBuffer** out) {
    *out = nullptr;
    if (!source) return KXERR_NOVIEWABLEDATA;
    KX_GfxBuffer* plain = nullptr;
    if (IsHamBuffer(source)) {
        if (uint32_t err = KXSUP_GfxBufferTo24Bit(source, &plain)) return err;
    }
    uint32_t err = kxown::Run(lib, KXOP_RESIZE, plain ? plain : source, out,
                              {{"NEW_WIDTH", kxown::Int(box.width())}, {"NEW_HEIGHT", kxown::Int(box.height())}});
    KXSUP_FreeGfxBuffer(plain);
    return err;
}
}  // namespace

QImage Bitmap(const KX_GfxBuffer* b, bool showAlpha) {
    if (!b) return QImage();
    KX_GfxBuffer* shown = nullptr;
    const uint32_t kind = KXSUP_AlphaHolds(b);
    const bool keyed = showAlpha && b->ColorDepth <= 8 && (kind == KXALPHA_SINGLECOLOR || kind == KXALPHA_MULTICOLOR);
    uint32_t err = 0;
    if (IsHamBuffer(b) || keyed) err = KXSUP_GfxBufferTo24Bit(b, &shown);
    else if (b->Type == BITPLANE) err = KXSUP_BitPlaneToOnePlane8(b, &shown);
    QImage img = err ? QImage() : View::SetImage(shown ? shown : b, showAlpha);
    KXSUP_FreeGfxBuffer(shown);
    return img;
}

QByteArray Real(float v) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", double(v));
    return QByteArray(text);
}

uint32_t LoadPicture(KXClass* lib, const QString& path, KX_GfxBuffer** image) {
    *image = nullptr;
    KXObject** readers = lib ? lib->GetObjects(0) : nullptr;
    if (!readers) return KXERR_NOMEMORY;
    const QByteArray name = QFile::encodeName(path);
    FILE* file = amOpen(name.constData(), "rb");
    if (!file) return KXERR_UNKNOWNFORMAT;
    KXObject* reader = nullptr;
    for (int i = 0; i < 255 && readers[i] && !reader; i++)
        if (readers[i]->CheckFile(file, name.constData(), KXIO_FILE) == 1) reader = readers[i];
    amClose(file);
    if (!reader) return KXERR_UNKNOWNFORMAT;
    // The table is this dialog's own: its reader may be reset freely.
    reader->Reset();
    reader->SetLoadMeta(0);
    uint32_t err = reader->SetReadName(name.constData());
    if (!err) err = reader->Load();
    KX_GfxBuffer* loaded = nullptr;
    if (!err) err = reader->GetGfxBuffer(&loaded);
    if (!err && !loaded) err = KXERR_NOVIEWABLEDATA;
    if (!err && (reader->DetachGfxBuffer(image) != KXERR_NONE || !*image))
        err = KXSUP_CopyGfxBuffer(loaded, image, 1, MEMF_ANY);
    reader->Reset();
    return err;
}

std::unique_ptr<KXClass> OwnLibrary(const QString& progdir, const QString& userdir) {
    const uint32_t instance = _KXClass ? _KXClass->InstanceId : KX_GetProcessInstanceId();
    auto own = std::make_unique<KXClass>();
    own->SetInstanceId(instance);
    const QByteArray prog = QFile::encodeName(progdir), user = QFile::encodeName(userdir);
    own->SetPaths(prog.isEmpty() ? nullptr : prog.constData(), user.isEmpty() ? nullptr : user.constData());
    return own;
}

Plan InTrueColour(const Plan& plan) {
    if (plan.empty()) return plan;
    Step to24{KXOP_ANYTO24BIT, {}, false};
    to24.previewBelow = 24;
    Plan out{to24};
    for (Step s : plan) {
        if (s.after >= 0) s.after++;
        out.push_back(std::move(s));
    }
    return out;
}

QString StatusText(uint32_t code) {
    return code ? QStringLiteral("Error: ") + QString::fromUtf8(KXL_GetErrorString(code)) : QStringLiteral("No error.");
}

}  // namespace kxdlg

DialogKXOFrame::DialogKXOFrame(KXClass* l, QWidget* parent) : QDialog(parent), lib(l ? l : _KXClass) {}

DialogKXOFrame::~DialogKXOFrame() {
    Quiesce();
    KXSUP_FreeGfxBuffer(thumb);
}

void DialogKXOFrame::OpenFrame(KX_GfxBuffer* source, const QString& pdir) {
    progdir = pdir;
    _exit = 1;
    initimg = false;
    gfxb = source;
}

void DialogKXOFrame::Ready() {
    initimg = true;
    UpdatePreview();
}

PictureBox* DialogKXOFrame::MakePreviewBox(int width, int height) {
    pictureBoxPreview = Picture("pictureBoxPreview", width, height);
    boxSize = QSize(width, height);
    return pictureBoxPreview;
}

QBoxLayout* DialogKXOFrame::MakeButtons(bool withCancel, const QString& okText) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    buttonOK = new QPushButton(okText, this);
    buttonOK->setObjectName(QStringLiteral("buttonOK"));
    buttonOK->setDefault(true);
    row->addWidget(buttonOK);
    connect(buttonOK, &QPushButton::clicked, this, [this] {
        Confirm();
        _exit = 0;
        accept();
    });
    if (withCancel) {
        buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);
        buttonCancel->setObjectName(QStringLiteral("buttonCancel"));
        row->addWidget(buttonCancel);
        connect(buttonCancel, &QPushButton::clicked, this, [this] {
            _exit = 1;
            reject();
        });
    }
    return row;
}

void DialogKXOFrame::Arrange(QLayout* controls, QBoxLayout* buttons) {
    auto* top = new QHBoxLayout;
    top->addLayout(controls);
    if (pictureBoxPreview) top->addWidget(pictureBoxPreview, 0, Qt::AlignTop);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(buttons);
    titleRoom = new QSpacerItem(0, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
    all->addSpacerItem(titleRoom);
    all->setSizeConstraint(QLayout::SetFixedSize);
    fitTitle();
}

// The window manager draws the title beside its buttons: a form as narrow
// as a few controls (Sharpen's one field) would cut it ("Sha…").
void DialogKXOFrame::fitTitle() {
    if (!titleRoom || !layout()) return;
    const int wanted = fontMetrics().horizontalAdvance(windowTitle()) + 160;
    if (titleRoom->sizeHint().width() == wanted) return;
    titleRoom->changeSize(wanted, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
    layout()->invalidate();
}

void DialogKXOFrame::showEvent(QShowEvent* e) {
    fitTitle();
    QDialog::showEvent(e);
}

void DialogKXOFrame::ArrangeWithPreview(QLayout* controls) {
    MakePreviewBox(191, 166);
    Arrange(controls, MakeButtons(true));
}

QSpinBox* DialogKXOFrame::Spin(const char* name, int min, int max, int value) {
    auto* s = new QSpinBox(this);
    s->setObjectName(QLatin1String(name));
    s->setRange(min, max);
    s->setValue(value);
    // Room for three digits at least: a box sized to its one-digit range
    // ("1" ... "8") leaves its value hardly readable beside the arrows.
    QStyleOptionSpinBox opt;
    opt.initFrom(s);
    opt.buttonSymbols = s->buttonSymbols();
    opt.subControls = QStyle::SC_SpinBoxEditField | QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown | QStyle::SC_SpinBoxFrame;
    const QFontMetrics fm(s->font());
    const QSize room = s->style()->sizeFromContents(QStyle::CT_SpinBox, &opt,
                                                    QSize(fm.horizontalAdvance(QStringLiteral("000")) + 4, fm.height()), s);
    s->setMinimumWidth(std::max(s->minimumSizeHint().width(), room.width()));
    return s;
}

QLabel* DialogKXOFrame::Label(const char* name, const QString& text) {
    auto* l = new QLabel(text, this);
    l->setObjectName(QLatin1String(name));
    return l;
}

QCheckBox* DialogKXOFrame::Check(const char* name, const QString& text) {
    auto* c = new QCheckBox(text, this);
    c->setObjectName(QLatin1String(name));
    return c;
}

QComboBox* DialogKXOFrame::Combo(const char* name, const QStringList& items) {
    auto* c = new QComboBox(this);
    c->setObjectName(QLatin1String(name));
    c->addItems(items);
    return c;
}

QPushButton* DialogKXOFrame::Button(const char* name, const QString& text) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

PictureBox* DialogKXOFrame::Picture(const char* name, int width, int height) {
    auto* p = new PictureBox(this);
    p->setObjectName(QLatin1String(name));
    p->setMode(PictureBox::Zoom);
    p->setSunken(true);
    p->setFixedSize(width, height);
    return p;
}

void DialogKXOFrame::Follow(QSpinBox* s, int& field) {
    connect(s, &QSpinBox::valueChanged, this, [this, &field](int v) {
        field = v;
        UpdatePreview();
    });
}

void DialogKXOFrame::Follow(QCheckBox* c, int& field) {
    connect(c, &QCheckBox::toggled, this, [this, &field](bool on) {
        field = on ? 1 : 0;
        UpdatePreview();
    });
}

void DialogKXOFrame::Follow(QComboBox* c, int& field) {
    connect(c, &QComboBox::currentIndexChanged, this, [this, &field](int i) {
        if (i < 0) return;
        field = i;
        UpdatePreview();
    });
}

void DialogKXOFrame::done(int result) {
    // The command that follows runs the library on this thread.
    Quiesce();
    again = false;
    QDialog::done(result);
}

void DialogKXOFrame::UpdatePreview() {
    if (!initimg || !pictureBoxPreview) return;
    if (worker.joinable()) {
        again = true;  // drawn once the running one has ended
        return;
    }
    startJob();
}

void DialogKXOFrame::startJob() {
    again = false;
    // Read on this thread: the current image may be a pending result the
    // bridge takes over first.
    KX_GfxBuffer* source = nullptr;
    KX_GfxBuffer* base = FreshThumbnail() ? nullptr : thumb;
    if (!base) source = gfxb ? gfxb : KX_GetGfxBuffer();
    if (!base && !source) {
        lastError = KXERR_NOVIEWABLEDATA;
        PreviewShown(lastError);
        return;
    }
    kxdlg::Plan plan = PreviewSteps();
    const bool alpha = PreviewAlpha();
    const QSize box = boxSize;
    KXClass* library = lib;
    worker = std::thread([this, library, source, base, box, plan = std::move(plan), alpha] {
        Outcome o;
        KX_GfxBuffer* start = base;
        if (!start) {
            o.err = kxdlg::scaled(library, source, box, &o.thumb);
            start = o.thumb;
        }
        KX_GfxBuffer* current = start;
        std::vector<bool> worked(plan.size(), false);
        for (size_t i = 0; !o.err && i < plan.size(); ++i) {
            const kxdlg::Step& s = plan[i];
            if (s.after >= 0 && !worked[size_t(s.after)]) continue;
            if (s.previewBelow && current->ColorDepth >= s.previewBelow) continue;
            if (s.previewAt && current->ColorDepth != s.previewAt) continue;
            KX_GfxBuffer* out = nullptr;
            const uint32_t err = kxown::Run(library, s.op, current, &out, s.keys, s.settings);
            if (err) {
                if (!s.mayFail) o.err = err;
                continue;
            }
            worked[i] = true;
            if (current != start) KXSUP_FreeGfxBuffer(current);
            current = out;
        }
        if (!o.err) {
            o.image = kxdlg::Bitmap(current, alpha);
            if (o.image.isNull()) o.err = KXERR_NOVIEWABLEDATA;
        }
        if (current != start) KXSUP_FreeGfxBuffer(current);
        outcome = std::move(o);
        QMetaObject::invokeMethod(
            this,
            [this] {
                collect();
                if (again) startJob();
            },
            Qt::QueuedConnection);
    });
}

// The ended (or ending) run's outcome, on the interface thread.
void DialogKXOFrame::collect() {
    if (!worker.joinable()) return;
    worker.join();
    Outcome o = std::move(outcome);
    outcome = Outcome();
    apply(o);
}

void DialogKXOFrame::apply(Outcome& o) {
    if (o.thumb) {
        KXSUP_FreeGfxBuffer(thumb);
        thumb = o.thumb;
    }
    previews++;
    lastError = o.err;
    if (!o.err) pictureBoxPreview->setImage(o.image);
    PreviewShown(o.err);
}

void DialogKXOFrame::Quiesce() { collect(); }

void DialogKXOFrame::WaitPreview() {
    collect();
    while (again) {
        startJob();
        collect();
    }
}
