// kxpSecondImage: a second picture loaded by a reader object of its own
// (see the header). Relies on the library object's reader table, the
// catalogue's registrations and the am* file helpers.
#include "kxpSecondImage.h"

#include <climits>
#include <cstring>
#include <memory>

#include "operators/geometry/kxpResize.h"

uint32_t KXP_LoadSecondImage(KXClass* lib, const char* path, KX_GfxBuffer** image)
{
    if (!image) return KXERR_INTERNALACCESS;
    *image = nullptr;
    if (!path || !*path || strlen(path) > KXP_SECOND_PATH_MAX) return KXERR_IO;

    std::unique_ptr<KXClass> temporary;
    if (!lib) {
        temporary = std::make_unique<KXClass>();
        lib = temporary.get();
    }
    KXObject** readers = lib->GetObjects(0);
    if (!readers) return KXERR_NOMEMORY;

    FILE* file = amOpen(path, "rb");
    if (!file) return KXERR_IO;
    int found = -1;
    for (int i = 0; i < 255 && readers[i] && found < 0; i++)
        if (readers[i]->CheckFile(file, path, KXIO_FILE) == 1) found = i;
    amClose(file);
    if (found < 0) return KXERR_NOMEMORY;

    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    std::unique_ptr<KXObject> own;
    for (uint32_t i = 0; regs && i < count && !own; i++)
        if (regs[i].Reader == found) own.reset(KX_NewObject(lib, regs[i]));
    if (!own) return KXERR_NOMEMORY;

    uint32_t err = own->SetReadName(path);
    if (!err) err = own->Load();
    KX_GfxBuffer* loaded = nullptr;
    if (!err) err = own->GetGfxBuffer(&loaded);
    if (!err && !loaded) err = KXERR_NOVIEWABLEDATA;
    if (err) return err;
    // A reader that cannot hand its picture over keeps it: copy it then.
    KX_GfxBuffer* lent = loaded;
    if (own->DetachGfxBuffer(&loaded) != KXERR_NONE || !loaded) {
        if ((err = KXSUP_CopyGfxBuffer(lent, &loaded, 1, MEMF_ANY))) return err;
    }
    *image = loaded;
    return KXERR_NONE;
}

uint32_t KXP_ScaleSecondImage(KXClass* lib, KX_GfxBuffer* picture, uint32_t width, uint32_t height, KX_GfxBuffer** scaled)
{
    if (!scaled) return KXERR_INTERNALACCESS;
    *scaled = nullptr;
    if (width > INT32_MAX || height > INT32_MAX) return KXERR_NOMEMORY;
    kxpResize resize(lib);
    uint32_t err = 0;
    KXConfig settings(resize.PadPath, &err);
    if (err) return err;
    settings.SetValue("NEW_WIDTH", int32_t(width));
    settings.SetValue("NEW_HEIGHT", int32_t(height));
    resize.SetLocalConfig(settings.GetPadList());
    KX_GfxBuffer* out = nullptr;
    if ((err = resize.OperateTagList(picture, &out, nullptr))) return err;
    if ((err = resize.DetachResult(scaled))) return err;
    return *scaled ? KXERR_NONE : KXERR_NOMEMORY;
}
