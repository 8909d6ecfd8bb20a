// kxop: loads a picture with the catalogue's readers, runs one operator on
// it (or none) and saves the result with one of the catalogue's writers, so
// that whole-program runs of the library can be timed beside other programs.
//   kxop [options] <operator> <in> <out> [KEY=VALUE ...]
//     operator    its number in the catalogue, its class name (kxpResize),
//                 or "-" for none: a plain conversion
//     KEY=VALUE   the operator's keys; a bare KEY sets a switch
//   options
//     -f WRITER   the writer by class name (kxoPNG) or format name (PNG);
//                 without it, the writer of the output name's extension
//     -s SUBTYPE  the writer's subtype by number or name (default: the one
//                 the extension names, else 0)
//     -w KEY=VALUE  a key of the writer (Z_COMPRESSION=9); repeatable
//     -t          prints the times of load, operator and save on stderr
// The input is recognised as the program recognises it: the first reader of
// the table whose CheckFile answers 1. Only modules of their own are used,
// never placeholders. An extension names a writer when it is the writer's
// own (".png"), the start of one of its subtype names (".pgm" for
// "PGM (P5)") or one of its format's usual endings (".jpg", ".tif").
// Exit status: 0 done, 1 a step failed (its error text on stderr), 2 a
// usage error.
#include <strings.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kxlib.h"
#include "writerendings.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

int Usage()
{
    fprintf(stderr,
            "usage: kxop [-f writer] [-s subtype] [-w KEY=VALUE]... [-t] <operator|-> <in> <out> [KEY=VALUE ...]\n"
            "  operator: catalogue number or class name; \"-\" converts only\n");
    return 2;
}

// Sets KEY=VALUE, or the switch KEY, in a settings list.
void SetKey(KXConfig& cfg, const std::string& kv)
{
    const size_t eq = kv.find('=');
    if (eq == std::string::npos)
        cfg.SetValue(kv.c_str());
    else
        cfg.SetValue(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str());
}

bool ParseNumber(const char* text, uint32_t* out)
{
    if (!*text) return false;
    char* end = nullptr;
    const unsigned long v = strtoul(text, &end, 10);
    if (*end || v > UINT32_MAX) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

// The operator named by number or class name; null when there is none or it
// is only a placeholder.
KXOperator* NewOperator(KXClass* lib, const char* name)
{
    uint32_t count = 0, number = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    const KXOperatorReg* reg = nullptr;
    if (ParseNumber(name, &number))
        reg = number < count ? &regs[number] : nullptr;
    else
        reg = KX_FindOperatorReg(name);
    if (!reg || !KX_IsBuilt(reg->ClassName)) return nullptr;
    return KX_NewOperator(lib, *reg);
}

// The module at a table position (readers 0, writers 1), built on its own;
// null past the table's end.
std::unique_ptr<KXObject> NewAt(KXClass* lib, uint32_t kind, int pos)
{
    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    for (uint32_t i = 0; i < count; i++)
        if ((kind == 0 ? regs[i].Reader : regs[i].Writer) == pos) return std::unique_ptr<KXObject>(KX_NewObject(lib, regs[i]));
    return nullptr;
}

// The first reader of the table that recognises the open file, as the
// program asks them. Readers are built one at a time and only until one
// answers: a run pays for the modules it asks, not for the whole table.
std::unique_ptr<KXObject> FindReader(KXClass* lib, FILE* f, const char* path)
{
    for (int pos = 0; pos < 255; pos++) {
        std::unique_ptr<KXObject> r = NewAt(lib, 0, pos);
        if (!r) break;
        if (r->CheckFile(f, path, KXIO_FILE) == 1) return r;
    }
    return nullptr;
}

// The subtype whose name starts with text (any case), else -1.
int SubtypeByName(const KXObject* w, const char* text, bool prefix)
{
    const size_t n = strlen(text);
    for (uint32_t i = 0; i < w->SubFormatCount && i < 16; i++) {
        const char* name = w->SubFormatNames[i];
        if (prefix ? strncasecmp(name, text, n) == 0 && n > 0 : strcasecmp(name, text) == 0) return static_cast<int>(i);
    }
    return -1;
}

// The writer by name (class or format), else by the output's extension:
// a writer's own extension or the start of a subtype name first (*subtype
// gets the subtype it names), then any usual ending of a writer (".jpg").
// Only the writers asked about are built.
std::unique_ptr<KXObject> FindWriter(KXClass* lib, const char* name, const char* out, int* subtype)
{
    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    const char* dot = strrchr(out, '.');
    const char* slash = strrchr(out, '/');
    const char* ext = dot && (!slash || dot > slash) ? dot : nullptr;
    if (!name && !ext) return nullptr;
    for (int pass = 0; pass < 2; pass++) {
        for (uint32_t i = 0; i < count; i++) {
            const KXFormatReg& reg = regs[i];
            if (reg.Writer < 0 || reg.Writer > 255 || !KX_IsBuilt(reg.ClassName)) continue;
            if (name && strcasecmp(name, reg.ClassName) && strcasecmp(name, reg.FormatName)) continue;
            std::unique_ptr<KXObject> w = NewAt(lib, 1, reg.Writer);
            if (!w) continue;
            if (name) return w;
            char own[64] = {};
            const bool hasOwn = w->GetExtension(own) == KXERR_NONE;
            if (pass == 1) {
                if (KX_WriterHasEnding(reg.ClassName, hasOwn ? own : nullptr, ext)) return w;
                continue;
            }
            if (hasOwn && !strcasecmp(own, ext)) return w;
            const int s = SubtypeByName(w.get(), ext + 1, true);
            if (s >= 0) {
                *subtype = s;
                return w;
            }
        }
        if (name) break;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* writerName = nullptr;
    const char* subtypeText = nullptr;
    std::vector<std::string> writerKeys;
    bool times = false;
    int a = 1;
    for (; a < argc && argv[a][0] == '-' && argv[a][1]; a++) {
        const std::string opt = argv[a];
        if (opt == "-t") {
            times = true;
        } else if ((opt == "-f" || opt == "-s" || opt == "-w") && a + 1 < argc) {
            const char* v = argv[++a];
            if (opt == "-f") writerName = v;
            else if (opt == "-s") subtypeText = v;
            else writerKeys.emplace_back(v);
        } else {
            return Usage();
        }
    }
    if (argc - a < 3) return Usage();
    const char* opName = argv[a];
    const char* in = argv[a + 1];
    const char* out = argv[a + 2];
    const int keysFrom = a + 3;
    const bool convertOnly = !strcmp(opName, "-");

    KXClass lib;
    std::unique_ptr<KXOperator> op;
    if (!convertOnly) {
        op.reset(NewOperator(&lib, opName));
        if (!op) {
            fprintf(stderr, "kxop: no operator %s\n", opName);
            return 2;
        }
    } else if (keysFrom < argc) {
        fprintf(stderr, "kxop: keys given without an operator\n");
        return 2;
    }
    int subtype = 0;
    std::unique_ptr<KXObject> writerObject = FindWriter(&lib, writerName, out, &subtype);
    KXObject* writer = writerObject.get();
    if (!writer) {
        fprintf(stderr, "kxop: no writer for %s\n", writerName ? writerName : out);
        return 2;
    }
    if (subtypeText) {
        uint32_t n = 0;
        subtype = ParseNumber(subtypeText, &n) ? (n < writer->SubFormatCount || n == 0 ? static_cast<int>(n) : -1)
                                               : SubtypeByName(writer, subtypeText, false);
        if (subtype < 0) {
            fprintf(stderr, "kxop: %s has no subtype %s\n", writer->FormatName, subtypeText);
            return 2;
        }
    }

    const auto t0 = Clock::now();
    FILE* f = amOpen(in, "rb");
    if (!f) {
        fprintf(stderr, "kxop: cannot open %s\n", in);
        return 1;
    }
    std::unique_ptr<KXObject> readerObject = FindReader(&lib, f, in);
    KXObject* reader = readerObject.get();
    amClose(f);
    if (!reader) {
        fprintf(stderr, "kxop: %s: %s\n", in, KXL_GetErrorString(KXERR_UNKNOWNFORMAT));
        return 1;
    }
    reader->SetLoadMeta(0);
    uint32_t err = reader->SetReadName(in);
    if (!err) err = reader->Load();
    KX_GfxBuffer* image = nullptr;
    if (!err) err = reader->GetGfxBuffer(&image);
    if (err) {
        fprintf(stderr, "kxop: cannot load %s: %s\n", in, KXL_GetErrorString(err));
        reader->Reset();
        return 1;
    }
    const auto t1 = Clock::now();

    KX_GfxBuffer* result = image;
    if (op) {
        op->Reset();
        uint32_t cfgErr = 0;
        KXConfig cfg(op->PadPath, &cfgErr);
        for (int i = keysFrom; i < argc; i++) SetKey(cfg, argv[i]);
        op->SetLocalConfig(cfg.GetPadList());
        result = nullptr;
        err = op->OperateTagList(image, &result, nullptr);
        // The list is the caller's: taken back before it goes.
        op->FreeConfig();
        if (err) {
            fprintf(stderr, "kxop: operator %s: %s\n", opName, KXL_GetErrorString(err));
            op->Reset();
            reader->Reset();
            return 1;
        }
    }
    const auto t2 = Clock::now();

    uint32_t cfgErr = 0;
    KXConfig writerCfg(writer->PadPath, &cfgErr);
    for (const std::string& kv : writerKeys) SetKey(writerCfg, kv);
    writer->Reset();
    if (!writerKeys.empty()) writer->SetLocalConfig(writerCfg.GetPadList());
    writer->SetSaveMeta(0);
    err = writer->SetSaveName(out);
    if (!err) err = writer->SetSubFormat(static_cast<uint32_t>(subtype));
    if (!err) err = writer->SetGfxBuffer(result);
    if (!err) err = writer->Save();
    if (!writerKeys.empty()) writer->FreeConfig();
    writer->Reset();
    const auto t3 = Clock::now();
    if (err) fprintf(stderr, "kxop: cannot save %s: %s\n", out, KXL_GetErrorString(err));
    if (times) fprintf(stderr, "kxop: load %.1f ms, operator %.1f ms, save %.1f ms\n", Ms(t0, t1), Ms(t1, t2), Ms(t2, t3));

    if (op) op->Reset();
    reader->Reset();
    return err ? 1 : 0;
}
