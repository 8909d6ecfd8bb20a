#include "DialogKXColorSpace.h"

#include <QListWidget>
#include <QPushButton>

#include "core/kxlib.h"

QStringList KX_ColourSpaceRows(const KXOSpecialInfo* info, const KX_GfxBuffer* buffer, bool cmsActive) {
    QStringList r;
    if (!buffer) return r;
    auto row = [&r](const char* label, const QString& value) { r << QString::asprintf("%-32s", label) + value; };
    const bool named = info && info->IccName;
    const bool data = info && info->IccData && info->IccSize;
    row("ColorManagement", cmsActive ? QStringLiteral("LittleCMS (active)") : QStringLiteral("LittleCMS (inactive)"));
    if (named)
        row("ColorProfile", QString::fromUtf8(info->IccName));
    else
        row("ColorSpace", QStringLiteral("sRGB"));
    row("Source", named ? QStringLiteral("IMAGE") : QStringLiteral("DEFAULT (no profile attached)"));
    if (info && !data) r << QString::asprintf("%-32s%ld", "sRGB Intent", long(info->SRGBIntent));
    if (named && data) r << QString::asprintf("%-32s%ld", "Profile size (Bytes)", long(info->IccSize));
    if (!named) {
        r << QString::asprintf("%-32s%.3lf", "Viewing Gamma", 1.125);
        r << QString::asprintf("%-32s%.3lf", "Camera Gamma", 0.450045);
        r << QString::asprintf("%-32s%.2lf", "CRT Gamma", 2.2);
        r << QString::asprintf("%-32s%.2lf", "LUT Gamma", 1.0);
    }
    return r;
}

DialogKXColorSpace::DialogKXColorSpace(UiServices* ui, std::function<const KXOSpecialInfo*()> e, QWidget* parent)
    : DialogInfoList(ui, parent), edit(std::move(e)) {
    buttonEdit->setEnabled(bool(edit));
    connect(buttonEdit, &QPushButton::clicked, this, [this] {
        if (!edit) return;
        _info = edit();
        const int at = listBoxTags->currentRow();
        listBoxTags->clear();
        listBoxTags->addItems(KX_ColourSpaceRows(_info, _gfxb, _cmsactive));
        listBoxTags->setCurrentRow(qBound(0, at, listBoxTags->count() - 1));
    });
}

bool DialogKXColorSpace::Prepare(const KXOSpecialInfo* info, const KX_GfxBuffer* buffer, const QString& name,
                                 const QString& type, const QString& subtype, bool cmsActive, const QString& progdir) {
    _info = info;
    _gfxb = buffer;
    _name = name;
    _type = type;
    _subtype = subtype;
    _cmsactive = cmsActive;
    _progdir = progdir;
    return DialogInfoList::Prepare(QString::fromLatin1(kTitle), KX_ColourSpaceRows(info, buffer, cmsActive));
}
