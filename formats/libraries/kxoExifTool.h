// kxoExifTool: the XMP packet of any file through exiftool, a device
// reader (I/O mode 3 only; the file comes from LOADNAME). Runs the tool
// (EXIFTOOL_PATH, default "exiftool") with "-xmp -b", its standard output
// straight into a temporary file, hands that to a raw metadata importer as
// an XMP block and takes over the importer's placeholder picture and the
// packet, which lands in this module's second XMP slot (UTF-8, as exiftool
// writes it). A file without XMP gives 32. Writes nothing.
// Relies on the converter helpers (kxconvert) and the raw metadata importer.
#pragma once

#include "formats/libraries/kxconvert.h"

class kxoExifTool : public KXObject {
public:
    explicit kxoExifTool(KXClass* lib = nullptr);
    ~kxoExifTool() override {
        kxoExifTool::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t Load() override;
    KXCONV_DEVICE_OPERATIONS(".xmp")

    // The tool's output, deleted at Reset.
    KXConvFile Output;

private:
    uint32_t import();
};
