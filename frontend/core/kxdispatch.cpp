// kxdispatch: the operator dispatcher with its automatic depth conversions
// and area road, the undo files and the colour-profile steps.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <new>

#include "kxapp.h"
#include "core/colour.h"
#include "operators/kxpFrame.h"

namespace {
std::string errorText(uint32_t code) { return KXL_GetErrorString(code); }

KXOperator* tableOperator(uint32_t number) {
    if (number >= static_cast<uint32_t>(KX_TableLength(kxpAction))) return nullptr;
    return kxpAction[number];
}

// An operator object of the dispatcher's own (not the table's).
std::unique_ptr<KXOperator> makeOperator(KXClass* lib, uint32_t number) {
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    if (!regs || number >= count) return nullptr;
    return std::unique_ptr<KXOperator>(KX_NewOperator(lib, regs[number]));
}

void clearProfile(KXOSpecialInfo* r) {
    r->SRGBIntent = 0;
    r->IccType = 0;
    KXSUP_ReplaceCMSProfile(r, nullptr, 0, nullptr);
}
}  // namespace

KXConfig* KXApp::MakeOperatorSettings(uint32_t number) {
    KXOperator* op = tableOperator(number);
    if (!op) return nullptr;
    uint32_t err = 0;
    auto* list = new (std::nothrow) KXConfig(op->PadPath ? op->PadPath : op->PadName, &err);
    if (list && err) {
        delete list;
        list = nullptr;
    }
    return list;
}

uint32_t KXApp::RunOperator(KXOperator* op, KX_GfxBuffer* source, KX_GfxBuffer** dest, KXConfig* settings) {
    op->Reset();
    if (settings)
        op->SetLocalConfig(settings->GetPadList());
    else
        op->Configure(nullptr);
    Tasks.Threaded = Settings.ThreadedProgress;
    Tasks.Begin();
    op->SetProgress(MyProgress, 0);
    uint32_t code = Tasks.Run([op, source, dest] { return op->OperateTagList(source, dest, nullptr); });
    Tasks.End();
    if (settings) op->FreeConfig();
    return code;
}

KX_GfxBuffer* KXApp::ProfiledCopy(KX_GfxBuffer* source) {
    KXOSpecialInfo* r = KX_GetMetaData();
    if (!Settings.AutoCM || !r || !r->IccData || !r->IccSize || !ApplyProfile) return nullptr;
    KX_GfxBuffer* copy = nullptr;
    if (KXSUP_CopyGfxBuffer(source, &copy, 1, MEMF_ANY) != KXERR_NONE) return nullptr;
    if (ApplyProfile(copy, r->IccData, r->IccSize) != KXERR_NONE) {
        KXSUP_FreeGfxBuffer(copy);
        return nullptr;
    }
    return copy;
}

uint32_t KXApp::DoOperation(KX_GfxBuffer* source, KX_GfxBuffer** dest, uint32_t number, KXConfig* settings) {
    if (UI) UI->SetBusyCursor(true);
    KX_GfxBuffer* local = nullptr;
    if (!dest) dest = &local;
    if (!source) source = KX_GetGfxBuffer();
    UndoMark mark;
    if (source && Settings.Undo) mark = AddUndoStep(source);
    if (!source) {
        if (UI) UI->SetBusyCursor(false);
        return KXERR_NONE;
    }
    const uint64_t changesBefore = ChangeCount;
    KXOperator* op = tableOperator(number);
    uint32_t code;
    if (!op) {
        code = KXERR_NOTSUPPORTED;
    } else if (AreaBuffer) {
        code = AreaRoad(op, dest, settings);
    } else {
        // The profile is applied to a copy: a failing run leaves the image
        // and its profile as they were.
        KX_GfxBuffer* profiled = CheckCMS() ? ProfiledCopy(source) : nullptr;
        oper = op;
        code = RunOperator(op, profiled ? profiled : source, dest, settings);
        if (code == KXERR_NONE) {
            if (profiled) RemoveCMS();  // the pixels are sRGB now
            KX_GfxBuffer* current = KX_GetGfxBuffer();  // the result becomes the current image
            if (current != profiled) KXSUP_FreeGfxBuffer(profiled);
            ChangeCount++;
            Modified = true;
            if (UI) UI->UpdatePreview(false);
            Status(T("TXT_OPERATION_SUCCESS"));
        } else {
            KXSUP_FreeGfxBuffer(profiled);
            if (Settings.AutoConv && (code == KXERR_NEED24BIT || code == KXERR_NEED48BIT || code == KXERR_NOHAM)) {
                op->Reset();
                oper = nullptr;
                int conversion = -1;
                if (code == KXERR_NEED24BIT) conversion = KXOP_ANYTO24BIT;
                if (code == KXERR_NEED48BIT) conversion = KXOP_ANYTO48BIT;
                if (code == KXERR_NOHAM && UI && UI->AskYesNo(KXMessageKind::Request, T("TXT_REQUEST_CONVERT_HAM")))
                    conversion = KXOP_ANYTO24BIT;
                if (conversion >= 0) {
                    KX_GfxBuffer* converted = nullptr;
                    if (DoOperation(source, &converted, static_cast<uint32_t>(conversion), nullptr) == KXERR_NONE)
                        code = DoOperation(KX_GetGfxBuffer(), dest, number, settings);
                }
            } else if (Settings.AutoConv8 && (code == KXERR_NO24BIT || code == KXERR_NO48BIT)) {
                op->Reset();
                oper = nullptr;
                if (UI && UI->AskYesNo(KXMessageKind::Request, T("TXT_REQUEST_CONVERT_TRUECOLOR"))) {
                    if (Dither24Bit(8, 0) == KXERR_NONE) code = DoOperation(nullptr, dest, number, settings);
                }
            }
        }
    }
    ShowResult(code, T("TXT_ERROR") + " " + errorText(code));
    if (code != KXERR_NONE) {
        if (oper) {
            oper->Reset();
            oper = nullptr;
        }
        DropArea();
    }
    // A step stays only when the image changed under it.
    if (ChangeCount != changesBefore) KeepUndoStep(mark);
    else DropUndoStep(mark);
    if (UI) UI->SetBusyCursor(false);
    return code;
}

// The operator runs on the area's own buffer; the result, brought to the
// main image's depth, is pasted back by a full dispatcher run of Paste
// (which also applies the main image's profile, on a copy).
uint32_t KXApp::AreaRoad(KXOperator* op, KX_GfxBuffer** dest, KXConfig* settings) {
    KX_GfxBuffer* main = KX_GetGfxBuffer();
    uint32_t code = RunOperator(op, AreaBuffer, dest, settings);
    if (code != KXERR_NONE || !*dest) return code;

    KX_GfxBuffer* result = *dest;
    KXOperator* holder = op;
    std::unique_ptr<KXOperator> converter;
    KXSUP_FreeGfxBuffer(AreaBuffer);
    AreaBuffer = nullptr;
    if (!main || (main->ColorDepth != 24 && main->ColorDepth != 48)) {
        op->Reset();
        *dest = nullptr;
        return KXERR_NEED24BIT;
    }
    if (result->ColorDepth < 24) {
        converter = makeOperator(Library, main->ColorDepth == 48 ? KXOP_ANYTO48BIT : KXOP_ANYTO24BIT);
        if (!converter) {
            op->Reset();
            *dest = nullptr;
            return KXERR_NOMEMORY;
        }
        converter->Configure(nullptr);
        KX_GfxBuffer* converted = nullptr;
        code = converter->OperateTagList(result, &converted, nullptr);
        if (code == KXERR_NONE && !converted) code = KXERR_INTERNALACCESS;
        op->Reset();  // frees the unconverted result
        *dest = code == KXERR_NONE ? converted : nullptr;
        if (code != KXERR_NONE) return code;
        holder = converter.get();
        result = converted;
    }
    KXConfig* list = MakeOperatorSettings(KXOP_PASTE);
    if (!list) {
        holder->Reset();
        *dest = nullptr;
        return KXERR_NOMEMORY;
    }
    char text[64];
    snprintf(text, sizeof(text), "%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(result)));
    list->SetValue("PASTEBUFFER", text);
    snprintf(text, sizeof(text), "%ld,%ld,%ld,%ld", static_cast<long>(AreaLeft), static_cast<long>(AreaTop),
             static_cast<long>(AreaWidth), static_cast<long>(AreaHeight));
    list->SetValue("KX_AREA", text);
    // Paste dereferences only buffers in its registry, never a bare address.
    KX_RegisterPasteBuffer(result);
    code = DoOperation(main, nullptr, KXOP_PASTE, list);
    KX_UnregisterPasteBuffer(result);
    delete list;
    if (code == KXERR_NONE) {
        KX_GfxBuffer* area = nullptr;
        if (holder->DetachResult(&area) == KXERR_NONE) AreaBuffer = area;
    }
    holder->Reset();
    // The caller's destination never points at a freed result.
    *dest = code == KXERR_NONE ? AreaBuffer : nullptr;
    return code;
}

// ---- undo ------------------------------------------------------------------------

std::string KXApp::UndoFileName(uint32_t step) const {
    const char* temp = Library && Library->TempDir ? Library->TempDir : KX_GetProcessTempDir();
    return std::string(temp) + "undo" + AtomName + "_" + std::to_string(step) + ".tmp";
}

// The step is written as a library task on the worker: a big picture
// takes seconds, and the window keeps painting (and the bar moving with
// the writer's reports) meanwhile.
KXApp::UndoMark KXApp::AddUndoStep(KX_GfxBuffer*) {
    UndoMark mark;
    if (UndoSkip) return mark;
    const bool overLimit = Settings.UndoLimit && UndoCount + 1 > static_cast<uint32_t>(Settings.UndoMax);
    Status(T("TXT_UNDO_PREPARE_BUFFER"));
    std::string name = UndoFileName(UndoCount);
    KX_SetSaveFormat(KXWRITER_RGFX, Settings.UndoCompress ? 1 : 0);
    std::unique_ptr<KXConfig> list;
    if (Settings.UndoCompress && objw) {
        uint32_t err = 0;
        list.reset(new (std::nothrow) KXConfig(objw->PadPath ? objw->PadPath : objw->PadName, &err));
        if (!list || err) return mark;  // no list, no file
        list->SetValue("Z_COMPRESSION", static_cast<int32_t>(Settings.UndoCompressLevel));
    }
    uint32_t code = KXERR_NOVIEWABLEDATA;
    if (objw) {
        KXOSpecialInfo* record = KX_GetMetaData();
        KXConfig* settings = list.get();
        Tasks.Threaded = Settings.ThreadedProgress;
        Tasks.Begin();
        // The list is handed over inside the save, after the writer's own reset.
        code = Tasks.Run([&name, record, settings] { return KX_Save(name.c_str(), 1, record, settings); });
        Tasks.End();
    }
    if (code == KXERR_NONE) {
        Status(T("TXT_UNDO_PREPARE_BUFFER_DONE"));
        mark = {true, UndoCount, overLimit, UndoEpoch};
        UndoCount++;
    } else {
        Status(T("TXT_UNDO_PREPARE_BUFFER_FAIL"));
    }
    if (UI) UI->SetStatusLight(KXStatusLight::Green);
    return mark;
}

// Past the limit the stack starts again: the steps below the kept one go,
// and it (with any written after it) moves to the bottom.
void KXApp::KeepUndoStep(const UndoMark& mark) {
    if (!mark.Written || !mark.OverLimit || mark.Epoch != UndoEpoch) return;
    Status(T("TXT_UNDO_LIMIT_REACHED"));
    for (uint32_t i = 0; i < mark.Step; i++) amDeleteFile(UndoFileName(i).c_str());
    for (uint32_t i = mark.Step; i < UndoCount; i++) rename(UndoFileName(i).c_str(), UndoFileName(i - mark.Step).c_str());
    UndoCount -= mark.Step;
    UndoEpoch++;
}

void KXApp::DropUndoStep(const UndoMark& mark) {
    if (!mark.Written || mark.Epoch != UndoEpoch || UndoCount != mark.Step + 1) return;
    amDeleteFile(UndoFileName(mark.Step).c_str());
    UndoCount--;
}

void KXApp::ClearUndo() {
    for (uint32_t i = 0; i < UndoCount; i++) amDeleteFile(UndoFileName(i).c_str());
    UndoCount = 0;
    UndoEpoch++;
}

uint32_t KXApp::Undo() {
    UndoSkip = false;
    if (UndoCount < 1) {
        Status(T("TXT_ERROR") + " " + T("TXT_NO_UNDO"));
        return KXERR_EOF;
    }
    UndoCount--;
    std::string name = UndoFileName(UndoCount);
    Tasks.Threaded = Settings.ThreadedProgress;
    Tasks.Begin();
    Status(T("TXT_UNDO_RESTORING"));

    // Read by a reader of its own on the worker, as a file is opened: a
    // step that cannot be read back must not cost the current image. The
    // metadata is always read: the file holds exactly the record the
    // picture had (none when it had none).
    KXObject* reader = nullptr;
    uint32_t code = Tasks.Run([&name, &reader] { return KX_ReadWithOwnReader(name.c_str(), 1, &reader); });
    Tasks.End();
    if (code == KXERR_NONE) {
        KX_AdoptReader(reader);
        DecoderFormat.clear();
    }
    if (UI) UI->SetStatusLight(KXStatusLight::Green);

    if (code != KXERR_NONE) {
        UndoCount++;  // the step stays available
        Status(T("TXT_ERROR_UNDO") + ": " + errorText(code));
        if (UI) UI->ShowMessage(KXMessageKind::Error, T("TXT_ERROR_UNDO_FAILED"));
        return code;
    }
    IsVirtual = false;
    Undone = true;
    Status(T("TXT_DONE_UNDO"));
    if (UI) UI->UpdatePreview(false);
    amDeleteFile(name.c_str());
    return KXERR_NONE;
}

// ---- colour profiles ------------------------------------------------------------------

bool KXApp::CheckCMS() {
    KXOSpecialInfo* r = KX_GetMetaData();
    return r && r->IccData && r->IccSize;
}

uint32_t KXApp::UnlinkMeta() {
    if (KX_IsUnlinkedMetaData()) return KXERR_NONE;
    uint32_t code = KX_UnLinkMetaData();
    if (code != KXERR_NONE && code != KXERR_EOF && UI) UI->ShowMessage(KXMessageKind::Error, T("TXT_ERROR_ICCP_RESOLVE"));
    return code;
}

uint32_t KXApp::ApplyAndRemoveCMS(KX_GfxBuffer* buffer, bool forced) {
    uint32_t code = UnlinkMeta();
    if (code != KXERR_NONE && code != KXERR_EOF) return code;
    KXOSpecialInfo* r = KX_GetMetaData();
    if (KX_IsUnlinkedMetaData() && r && (forced || Settings.AutoCM) && r->IccData && r->IccSize) {
        code = buffer && ApplyProfile ? ApplyProfile(buffer, r->IccData, r->IccSize) : KXERR_INTERNALACCESS;
        // The profile still describes the pixels when the conversion failed.
        if (code == KXERR_NONE) clearProfile(r);
    }
    return code;
}

uint32_t KXApp::RemoveCMS() {
    uint32_t code = UnlinkMeta();
    if (code != KXERR_NONE && code != KXERR_EOF) return code;
    KXOSpecialInfo* r = KX_GetMetaData();
    if (KX_IsUnlinkedMetaData() && r && r->IccData) clearProfile(r);
    return code;
}

uint32_t KXApp::Dither24Bit(int32_t depth, int32_t mode) {
    KX_GfxBuffer* current = KX_GetGfxBuffer();
    if (!current) return KXERR_NOVIEWABLEDATA;
    KXConfig* list = MakeOperatorSettings(KXOP_DITHER24BIT);
    if (!list) return KXERR_NOMEMORY;
    list->SetValue("COLORDEPTH", depth);
    if (mode == 0) list->SetValue("DITHERMODE", "BESTPEN");
    uint32_t code = DoOperation(current, KXOP_DITHER24BIT, list);
    delete list;
    if (code != KXERR_NONE) Status(T("TXT_ERROR") + " " + errorText(code));
    return code;
}
