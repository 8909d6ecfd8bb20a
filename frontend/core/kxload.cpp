// kxload: opening a file through the fall-back chain (PostScript test,
// reader table, platform decoder, Ghostscript) and the save command.
#include <string>

#include "kxapp.h"

#include "core/colour.h"
#include "core/extrun.h"
#include "core/files.h"

namespace {
std::string errorText(uint32_t code) { return KXL_GetErrorString(code); }
}  // namespace

uint32_t KXApp::LoadFile(const char* path) {
    if (UI) UI->SetBusyCursor(true);
    DropArea();
    uint32_t result = LoadFileChain(path);
    return result;
}

uint32_t KXApp::LoadFileChain(const char* path) {
    if (!path) {
        if (UI) UI->SetBusyCursor(false);
        return KXERR_NOMEMORY;
    }
    // PostScript test: a PostScript pad naming GS_PATH sends the file
    // straight to Ghostscript.
    std::string gsPath;
    int32_t dpi = 72;
    uint32_t timeLimit = KX_EXTERNAL_TIME_LIMIT;
    uint32_t result = KXERR_UNKNOWNFORMAT;
    char* padPath = nullptr;
    bool skipLibrary = false;
    if (KX_CheckPS(path, &padPath)) {
        // The pad where the PostScript module reads it: the user's settings
        // first, else the one shipped beside the program.
        KX_ControlPad* pad = nullptr;
        if (padPath && !(KXSUP_LoadControlPad(padPath, &pad) && pad)) {
            pad = nullptr;
            const std::string shipped = EnvArcDir + amFilePart(padPath);
            if (!(KXSUP_LoadControlPad(shipped.c_str(), &pad) && pad)) pad = nullptr;
        }
        if (!pad) {
            if (UI) UI->ShowMessage(KXMessageKind::Error, T("TXT_ERROR_NO_CONFIG_GS"));
        } else {
            char* v = nullptr;
            if (KXSUP_FindControlPadNoCase(pad, "DPI", &v) && v) dpi = KXSettingsNumber(v);
            if (KXSUP_FindControlPadNoCase(pad, "GS_PATH", &v) && v && *v) gsPath = v;
            if (KXSUP_FindControlPadNoCase(pad, "TIME_LIMIT", &v) && v && KXSettingsNumber(v) > 0)
                timeLimit = static_cast<uint32_t>(KXSettingsNumber(v));
            skipLibrary = !gsPath.empty();
        }
        KXSUP_FreeControlPad(pad);
    }
    free(padPath);

    if (!skipLibrary) {
        Tasks.Threaded = Settings.ThreadedProgress;
        Tasks.Begin();
        Status(T("TXT_LOADING"));
        uint32_t meta = Settings.MetaLoad ? 1 : 0;
        // The current image stays until the new one has loaded: a file that
        // cannot be opened costs nothing (an unsaved picture least of all).
        KXObject* reader = nullptr;
        result = Tasks.Run([path, meta, &reader] { return KX_ReadWithOwnReader(path, meta, &reader); });
        Tasks.End();
        if (result) {
            ShowResult(Outcome::Failed, T("TXT_ERROR_LOADING") + ": " + errorText(result));
        } else {
            // A reader that got past a defect (data that ended early) keeps
            // the picture and says so.
            const uint32_t flaw = reader->LoadWarning;
            KX_AdoptReader(reader);
            ImageReplaced(false);
            LastFile = amFilePart(path);
            Status(flaw ? T("TXT_LOADED_INCOMPLETE") + ": " + errorText(flaw) : T("TXT_DONE"));
            if (UI) UI->UpdatePreview(false);
            ShowResult(flaw ? Outcome::Flawed : Outcome::Done);
        }
    }
    if (UI) UI->SetBusyCursor(false);

    if (result == KXERR_UNKNOWNFORMAT || result == KXERR_FILEREQUIREMENTS) result = LoadOther(path);
    if ((result == KXERR_UNKNOWNFORMAT || result == KXERR_FILEREQUIREMENTS) && !gsPath.empty()) {
        const uint32_t old = KX_SetExternalTimeLimit(timeLimit);
        result = LoadPS(path, gsPath.c_str(), dpi);
        KX_SetExternalTimeLimit(old);
    }
    // The direct Ghostscript road has no library load to report its failure.
    if (result && skipLibrary) ShowResult(Outcome::Failed, T("TXT_ERROR_LOADING") + ": " + errorText(result));
    return result;
}

uint32_t KXApp::LoadOther(const char* path) {
    if (!path) return KXERR_NOMEMORY;
    if (UI) UI->SetBusyCursor(true);
    KXDecodedImage img;
    uint32_t result = UI ? UI->DecodeImage(path, &img) : KXERR_UNKNOWNFORMAT;
    uint32_t size = 0, alphaSize = 0;
    if (!result && (!img.Width || !img.Height || img.Stride < static_cast<size_t>(img.Width) * 4 ||
                    img.Pixels.size() < img.Stride * (img.Height - 1) + static_cast<size_t>(img.Width) * 4))
        result = KXERR_NOMEMORY;  // a bitmap that cannot be taken over
    if (!result && (!KXSUP_CheckedSize(&size, img.Width, img.Height, 3) || !KXSUP_CheckedSize(&alphaSize, img.Width, img.Height)))
        result = KXERR_NOMEMORY;
    KX_GfxBuffer* buf = nullptr;
    if (!result) result = KXSUP_AllocGfxBuffer(&buf, 3, size, MEMF_ANY);
    if (result) {
        if (UI) UI->SetBusyCursor(false);
        return result;
    }
    LastFile = amFilePart(path);
    ImageReplaced(false);
    DecoderFormat = img.Format.empty() ? std::string("?") : img.Format;
    buf->Type = ONEPLANE;
    buf->Version = 3;
    buf->BufferSize = size;
    buf->Width = img.Width;
    buf->Height = img.Height;
    buf->ColorDepth = 24;
    buf->PixelBits = 24;
    buf->NativeDIPF = 0;
    buf->AlphaData = AllocVec(alphaSize, MEMF_ANY);
    buf->AlphaType = buf->AlphaData ? KXALPHA_CHANNEL8 : KXALPHA_NONE;

    // The image has no reader of its own: the first reader is recorded as
    // its reader, after the reader of the failed load has let go.
    KX_ResetHandle(1, 1, 1);
    KX_SetGfxBuffer(buf);
    if (kxoRead && kxoRead[0]) {
        kxoRead[0]->Reset();
        objr = kxoRead[0];
    }

    uint8_t* alpha = KXSUP_AlphaBytes(buf);
    bool translucent = false;
    for (uint32_t y = 0; y < img.Height; y++) {
        const uint8_t* s = img.Pixels.data() + img.Stride * y;
        uint8_t* d = buf->Data + static_cast<size_t>(y) * img.Width * 3;
        uint8_t* a = alpha ? alpha + static_cast<size_t>(y) * img.Width : nullptr;
        for (uint32_t x = 0; x < img.Width; x++, s += 4, d += 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            if (a) a[x] = s[3];
            translucent |= s[3] != 255;
        }
    }
    if (!translucent && alpha) {
        FreeVec(alpha);
        buf->AlphaData = nullptr;
        buf->AlphaType = KXALPHA_NONE;
    }
    Status(T("TXT_DONE"));
    if (UI) UI->UpdatePreview(false);
    ShowResult(Outcome::Done);  // after the library load's failure
    if (UI) UI->SetBusyCursor(false);
    return KXERR_NONE;
}

uint32_t KXApp::LoadPS(const char* path, const char* gsPath, int32_t dpi) {
    if (!path || !gsPath) return KXERR_NOMEMORY;
    std::string clip = ClipFileName(0);
    amDeleteFile(clip.c_str());
    // Ghostscript reads "%" in the output name as a page-number format.
    std::string out;
    for (char c : clip) {
        out += c;
        if (c == '%') out += '%';
    }
    std::string outArg = "-sOutputFile=" + out;
    std::string resArg = "-r" + std::to_string(static_cast<long>(dpi));
    // A relative name could be read as an option ("-x") or, by Ghostscript,
    // as a file of further options ("@x").
    std::string input = path[0] && path[0] != '/' ? std::string("./") + path : std::string(path);
    const char* args[] = {"-dPrinted=false", "-dNOPROMPT", "-sDEVICE=png16m", "-dGraphicsAlphaBits=4", outArg.c_str(),
                          "-q", "-dNOPAUSE", resArg.c_str(), input.c_str(), "-c", "quit", nullptr};
    if (_system(gsPath, nullptr, args) != KXERR_NONE) {
        if (!KX_ExternalTimedOut()) return KXERR_UNKNOWNFORMAT;
        if (__kxlib_log_global)
            __kxlib_log_global->Log(1, "%-16s: %s stopped: still running after %lu s (TIME_LIMIT).\n", "gs", gsPath,
                                    static_cast<unsigned long>(KX_GetExternalTimeLimit()));
        return KXERR_EXTERNALTOOL;
    }
    uint32_t result = LoadFile(clip.c_str());
    if (result == KXERR_NONE) {
        LastFile = amFilePart(path);
        if (UI) UI->UpdatePreview(false);
    }
    return result;
}

uint32_t KXApp::LoadICCProfile(const char* path) {
    if (!path) return KXERR_INTERNALACCESS;
    // Checked whole before the record changes: a missing or broken standard
    // profile leaves the picture saved as it is.
    uint8_t* profile = nullptr;
    uint32_t size = 0;
    char* name = nullptr;
    if (uint32_t e = KXSUP_ReadCMSProfileFile(path, &profile, &size, &name)) return e;
    uint32_t code = KX_UnLinkMetaData();
    if (code == KXERR_EOF) code = KX_CreateMetaData();
    KXOSpecialInfo* r = code ? nullptr : KX_GetMetaDataCheck(0);
    if (!r) {
        FreeVec(profile);
        FreeVec(name);
        return code ? code : static_cast<uint32_t>(KXERR_EOF);
    }
    KXSUP_ReplaceCMSProfile(r, profile, size, name);
    return KXERR_NONE;
}

uint32_t KXApp::SaveFile(const char* path, uint32_t format, uint32_t subFormat) {
    KX_SetSaveFormat(format, subFormat);
    if (Settings.MetaSave && Settings.AutoCM) {
        KXOSpecialInfo* r = KX_GetMetaData();
        if (!r || !r->IccData) {
            Status(T("TXT_ADDING_ICC_PROFILE"));
            LoadICCProfile(Settings.StdCmFile.c_str());
        }
    }
    if (UI) UI->SetBusyCursor(true);
    uint32_t result = KXERR_NOMEMORY;
    if (path) {
        Tasks.Threaded = Settings.ThreadedProgress;
        Tasks.Begin();
        Status(T("TXT_SAVING"));
        uint32_t meta = Settings.MetaSave ? 1 : 0;
        KXOSpecialInfo* record = KX_GetMetaData();
        result = Tasks.Run([path, meta, record] { return KX_Save(path, meta, record); });
        Tasks.End();
    }
    if (result == KXERR_NONE) {
        Status(T("TXT_DONE"));
        LastFile = amFilePart(path);
        IsVirtual = false;
        // The changes are in a file now: nothing is lost when the image goes.
        SavedChanges = SavedChanges || Modified;
        Modified = false;
        if (UI) UI->UpdatePreview(false);
    }
    ShowResult(result, T("TXT_ERROR_SAVING") + ": " + errorText(result));
    if (UI) UI->SetBusyCursor(false);
    return result;
}
