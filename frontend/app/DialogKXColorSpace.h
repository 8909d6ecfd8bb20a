// DialogKXColorSpace: the colour-space information list (management on or
// off, the attached profile or the sRGB default, its size or the default
// gammas) in the shared list-dialog look; "Edit..." describes a new
// profile with the colorimetry dialog and rebuilds the list.
#pragma once

#include <QStringList>
#include <functional>

#include "DialogInfoList.h"

struct KXOSpecialInfo;

// The rows for the record (may be null) of the picture buffer; none
// without a buffer.
QStringList KX_ColourSpaceRows(const KXOSpecialInfo* info, const KX_GfxBuffer* buffer, bool cmsActive);

class DialogKXColorSpace : public DialogInfoList {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "ColorSpace Information";

    // edit runs the colorimetry dialog on the picture and returns its
    // record afterwards (null: none); without it "Edit..." stays disabled.
    DialogKXColorSpace(UiServices* ui, std::function<const KXOSpecialInfo*()> edit, QWidget* parent = nullptr);
    // Fills the list; false (after "Sorry, no details available.") when
    // there are no rows, and then the dialog is not to be shown. The file
    // texts are kept for the caller, not shown.
    bool Prepare(const KXOSpecialInfo* info, const KX_GfxBuffer* buffer, const QString& name, const QString& type,
                 const QString& subtype, bool cmsActive, const QString& progdir);

    const KXOSpecialInfo* _info = nullptr;
    const KX_GfxBuffer* _gfxb = nullptr;
    QString _name, _type, _subtype, _progdir;
    bool _cmsactive = false;

private:
    std::function<const KXOSpecialInfo*()> edit;
};
