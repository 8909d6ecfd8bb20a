// kxoRAWMeta: metadata block dumps (see kxoRAWMeta.h).
#include "formats/libraries/kxoRAWMeta.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "core/files.h"

namespace {

const char* const TAG = "rawmeta";

enum SubFormat : uint32_t { EXIF = 0, IPTC = 1, XMP0 = 2, XMP1 = 3, TEXT = 4, ICCP = 5 };

const char kPhotoshop[14] = "Photoshop 3.0";

}  // namespace

struct kxoRAWMeta::Block {
    const uint8_t* Data = nullptr;
    uint64_t Size = 0;
    std::string Label;  // the side-file line up to the byte count
    bool Icc = false;
};

kxoRAWMeta::kxoRAWMeta(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoRAWMeta");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoRAWMeta::Reset() { FrameReset(); }

uint32_t kxoRAWMeta::chooseBlock(const KXOSpecialInfo* info, Block& b) {
    switch (SelectedSubFormat) {
    case EXIF:
        if (!info->Exif || info->ExifSize == 0) return KXERR_NOINFO;
        b.Data = info->Exif;
        b.Size = info->ExifSize;
        b.Label = "EXIF";
        // The record's block starts with the prefix; a block without it is
        // already the bare data and loses nothing.
        if (!KXF_KeyIs(this, "EXIF_TYPE", "APP1") && b.Size >= sizeof(KX_ExifPrefix) &&
            memcmp(b.Data, KX_ExifPrefix, sizeof(KX_ExifPrefix)) == 0) {
            b.Data += sizeof(KX_ExifPrefix);
            b.Size -= sizeof(KX_ExifPrefix);
        }
        break;
    case IPTC:
        if (!info->Iptc || info->IptcSize == 0) return KXERR_NOINFO;
        b.Data = info->Iptc;
        b.Size = info->IptcSize;
        b.Label = "IPTC";
        if (!KXF_KeyIs(this, "IPTC_TYPE", "APP13") && b.Size >= sizeof(Ps3IptcHeader) &&
            memcmp(b.Data, kPhotoshop, sizeof(kPhotoshop)) == 0) {
            b.Data += sizeof(Ps3IptcHeader);
            b.Size -= sizeof(Ps3IptcHeader);
        }
        break;
    case XMP0:
    case XMP1: {
        // The chosen packet, else the other one.
        const bool first = SelectedSubFormat == XMP0;
        const uint8_t* mine = first ? info->Xmp0 : info->Xmp1;
        const uint32_t mineSize = first ? info->Xmp0Size : info->Xmp1Size;
        const bool useMine = mine && mineSize > 0;
        b.Data = useMine ? mine : first ? info->Xmp1 : info->Xmp0;
        b.Size = useMine ? mineSize : first ? info->Xmp1Size : info->Xmp0Size;
        b.Label = (useMine == first) ? "XMP0" : "XMP1";
        break;
    }
    case TEXT: {
        const struct {
            const char* Word;
            const char* Text;
        } fields[] = {{"Auth", info->Auth},   {"Anno", info->Anno},   {"Copy", info->Copy},   {"Name", info->Name},
                      {"More1", info->More1}, {"More2", info->More2}, {"More3", info->More3}, {"More4", info->More4}};
        char value[32] = {};
        if (GetKey("TEXT_FIELD", value, sizeof(value)) != 1) return KXERR_NOINFO;
        for (const auto& f : fields)
            if (strcasecmp(value, f.Word) == 0 && f.Text) {
                b.Data = reinterpret_cast<const uint8_t*>(f.Text);
                b.Size = strlen(f.Text);
                b.Label = f.Word;
            }
        break;
    }
    case ICCP:
        if (!info->IccName) return KXERR_NOINFO;
        b.Data = info->IccData;
        b.Size = info->IccSize;
        b.Label = std::string("ICCP profile name ") + info->IccName;
        b.Icc = true;
        break;
    default:
        return KXERR_NOTSUPPORTED;
    }
    // An empty block (or one that was only its header) is no block.
    return b.Data && b.Size > 0 ? KXERR_NONE : KXERR_NOINFO;
}

uint32_t kxoRAWMeta::Save() {
    if (IOMode != KXIO_FILE || !SaveBuffer) return KXERR_NOTSUPPORTED;
    if (!SpecialInfo) {
        KXF_Log(this, 2, TAG, "No information available.\n");
        return KXERR_NOINFO;
    }
    Block b;
    uint32_t err = chooseBlock(SpecialInfo, b);
    if (err != KXERR_NONE) {
        KXF_Log(this, 2, TAG, "no block for sub-format %u\n", (unsigned)SelectedSubFormat);
        return err;
    }
    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter w(WriteFile);
    w.bytes(b.Data, (size_t)b.Size);
    if ((err = KXF_EndSave(this, &sf, w.ok() ? KXERR_NONE : KXERR_IO)) != KXERR_NONE) {
        KXF_Log(this, 2, TAG, "'%s' not saved (%u)\n", SaveName, (unsigned)err);
        return err;
    }
    const std::string size = std::to_string((long)b.Size);
    const std::string line = b.Icc ? b.Label + " (" + size + " bytes)" : b.Label + " " + size + " bytes";
    KXF_Log(this, 5, TAG, "%s\n", line.c_str());
    if (!amSetComment(SaveName, line.c_str())) {
        KXF_Log(this, 2, TAG, "side file of '%s' not written\n", SaveName);
        return KXERR_IO;
    }
    return KXERR_NONE;
}
