// testfiles: see the header.
#include "testfiles.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "core/kxlib.h"
#include "core/libstate.h"

std::string KXT_NewTempDir(const std::string& pathTemplate)
{
    std::vector<char> t(pathTemplate.begin(), pathTemplate.end());
    t.push_back(0);
    if (!mkdtemp(t.data())) {
        ADD_FAILURE() << "cannot make a directory from " << pathTemplate;
        return "";
    }
    return t.data();
}

std::string KXT_ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> KXT_ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool KXT_WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

bool KXT_WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    return KXT_WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

bool KXT_HaveTool(const char* name)
{
    const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return system(cmd.c_str()) == 0;
}

int KXT_CountEntries(const std::string& dir)
{
    std::error_code ec;
    int n = 0;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) n++;
    return ec ? -1 : n;
}

bool KXT_Exists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

int KXT_CountLeftovers(const std::string& path)
{
    const std::filesystem::path p(path);
    const std::string base = p.filename().string();
    std::error_code ec;
    int n = 0;
    for (std::filesystem::directory_iterator it(p.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > base.size() && name.compare(0, base.size(), base) == 0) n++;
    }
    return n;
}

void KXT_BufferDeleter::operator()(KX_GfxBuffer* b) const { KXSUP_FreeGfxBuffer(b); }

KX_GfxBuffer* KXT_NewChunkyBuffer(uint32_t version, uint32_t width, uint32_t height, uint32_t depth)
{
    const uint32_t pixelBits = depth <= 8 ? 8 : depth;
    const uint32_t bytes = width * height * pixelBits / 8;
    KX_GfxBuffer* b = nullptr;
    EXPECT_EQ(KXSUP_AllocGfxBuffer(&b, version, bytes, MEMF_CLEAR), KXERR_NONE);
    if (!b) return nullptr;
    b->Type = ONEPLANE;
    b->Width = width;
    b->Height = height;
    b->ColorDepth = depth;
    b->PixelBits = pixelBits;
    b->BufferSize = bytes;
    b->ViewMode = 0;
    return b;
}

const uint32_t KXT_AlphaKinds[10] = {
    0,
    KXALPHA_SINGLECOLOR,
    KXALPHA_CHANNEL8,
    KXALPHA_MULTICOLOR,
    KXALPHA_CHANNEL16,
    KXALPHA_SINGLECOLOR | KXALPHA_CHANNEL8,
    KXALPHA_SINGLECOLOR | KXALPHA_CHANNEL16,
    KXALPHA_SINGLECOLOR | KXALPHA_MULTICOLOR,
    KXALPHA_CHANNEL8 | KXALPHA_CHANNEL16,
    KXALPHA_CHANNEL8 | KXALPHA_MULTICOLOR,
};

void KXT_AttachAlpha(KX_GfxBuffer* b, uint32_t kind, uint32_t index, uint32_t seed)
{
    if (!kind) return;
    if (b->Version < 3) KXSUP_SetGfxBufferVersion(b, 3);
    b->AlphaType = kind;
    size_t bytes = 0;
    switch (KXSUP_AlphaHolds(b)) {
    case KXALPHA_SINGLECOLOR: KXSUP_SetAlphaIndex(b, index); break;
    case KXALPHA_CHANNEL16: bytes = size_t(b->Width) * b->Height * 2; break;
    case KXALPHA_CHANNEL8: bytes = size_t(b->Width) * b->Height; break;
    case KXALPHA_MULTICOLOR: bytes = 256; break;
    }
    if (!bytes) return;
    auto* a = static_cast<uint8_t*>(AllocVec(bytes, MEMF_ANY));
    for (size_t i = 0; i < bytes; ++i) {
        seed = seed * 1103515245u + 12345u;
        a[i] = static_cast<uint8_t>(seed >> 16);
    }
    b->AlphaData = a;
}

KXT_TraceLog::KXT_TraceLog(uint32_t level)
{
    setenv("TMPDIR", KXT_NewTempDir("/tmp/kxtrace-XXXXXX").c_str(), 1);
    KX_RefreshProcessTempDir();
    log = new KXLog;
    log->SetLevel(level);
    __kxlib_log_global = log;
}

std::string KXT_TraceLog::lines()
{
    __kxlib_log_global = nullptr;
    log->Close();
    std::string text = KXT_ReadFile(log->GetPath());
    delete log;
    size_t start = text.find(" ***\n");
    text = text.substr(start + 5);
    return text.substr(0, text.rfind("*** Logging stopped ***\n"));
}
