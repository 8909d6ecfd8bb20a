// Error texts: every code has its fixed message; any other code has one too.
#include <gtest/gtest.h>

#include "core/kxlib.h"

namespace {
struct Row {
    uint32_t code;
    const char* text;
};
const Row kRows[] = {
    {KXERR_NONE, "No error."},
    {KXERR_UNKNOWNFORMAT, "Unknown File Format."},
    {KXERR_FILENOTFOUND, "File not found."},
    {KXERR_NOMEMORY, "Not enough memory."},
    {KXERR_IFFPARSE, "IFFParse-Error."},
    {KXERR_NOCLIPBOARD, "Can't open Clipboard Unit."},
    {KXERR_NOSCREEN, "Can't open Display Screen."},
    {KXERR_NODESTFILE, "Can't open Destination File."},
    {KXERR_INVALIDHANDLE, "Internal error: Invalid Handle."},
    {KXERR_NOVIEWABLEDATA, "No viewable Data found."},
    {KXERR_NOWINDOWUSED, "No Display Window used."},
    {KXERR_NOSCREENUSED, "No Display Screen used."},
    {KXERR_NOINFO, "No information available."},
    {KXERR_INTERNALACCESS, "Internal access error. Restart suggested."},
    {KXERR_DECODE, "Error while decoding data."},
    {KXERR_FILEREQUIREMENTS, "Can't handle file(type) requirements."},
    {KXERR_NOTSUPPORTED, "Action not supported in this context."},
    {KXERR_NEWERVERSION, "You need a newer version for this."},
    {KXERR_DRIVERNEEDED, "KXDriver support needed for this. Wrong version ?"},
    {KXERR_NOHAM, "This module cannot handle HAM input data."},
    {KXERR_NEED24BIT, "This module needs 24 Bit input data."},
    {KXERR_NO24BIT, "This module cannot handle 24 Bit input data."},
    {KXERR_NEEDHAM, "This module needs HAM input data."},
    {KXERR_NOEHB, "This module cannot handle EHB input data."},
    {KXERR_NEEDEHB, "This module needs EHB input data."},
    {KXERR_ABORTED, "Action has been aborted by user."},
    {KXERR_NEEDALPHA, "This module needs an alpha channel."},
    {KXERR_NOALPHA, "This module cannot handle alpha channels."},
    {KXERR_SIZEMISMATCH, "Width and/or height do not match."},
    {KXERR_EOF, "Unexpected end of file (EOF)."},
    {KXERR_IO, "I/O Failure."},
    {KXERR_ENCODE, "Error while encoding data."},
    {KXERR_EXTERNALTOOL, "External tool error."},
    {KXERR_NEED48BIT, "This module needs 48 Bit input data."},
    {KXERR_NO48BIT, "This module cannot handle 48 Bit input data."},
    {KXERR_ENDIANLOCKED, "Endian conversion failed. Buffer locked?"},
    {KXERR_ENDIANCONFLICT, "Endian conflict. Contradicting settings?"},
    {37, "Unknown internal Error. Reboot suggested."},
    {0x7FFFFFFF, "Unknown internal Error. Reboot suggested."},
    {0xFFFFFFFF, "Unknown internal Error. Reboot suggested."},
};
}  // namespace

TEST(Errors, EveryCodeHasItsText) {
    static_assert(sizeof(kRows) / sizeof(kRows[0]) == 40);
    for (size_t i = 0; i < sizeof(kRows) / sizeof(kRows[0]); ++i) {
        const Row& r = kRows[i];
        if (i < 37) {
            EXPECT_EQ(r.code, i) << "table out of order";
        }
        EXPECT_STREQ(KXL_GetErrorString(r.code), r.text) << "code " << r.code;
    }
}
