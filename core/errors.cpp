// errors: the fixed English message of every error code.
#include "kxtypes.h"

namespace {
const char* const kMessages[] = {
    "No error.",
    "Unknown File Format.",
    "File not found.",
    "Not enough memory.",
    "IFFParse-Error.",
    "Can't open Clipboard Unit.",
    "Can't open Display Screen.",
    "Can't open Destination File.",
    "Internal error: Invalid Handle.",
    "No viewable Data found.",
    "No Display Window used.",
    "No Display Screen used.",
    "No information available.",
    "Internal access error. Restart suggested.",
    "Error while decoding data.",
    "Can't handle file(type) requirements.",
    "Action not supported in this context.",
    "You need a newer version for this.",
    "KXDriver support needed for this. Wrong version ?",
    "This module cannot handle HAM input data.",
    "This module needs 24 Bit input data.",
    "This module cannot handle 24 Bit input data.",
    "This module needs HAM input data.",
    "This module cannot handle EHB input data.",
    "This module needs EHB input data.",
    "Action has been aborted by user.",
    "This module needs an alpha channel.",
    "This module cannot handle alpha channels.",
    "Width and/or height do not match.",
    "Unexpected end of file (EOF).",
    "I/O Failure.",
    "Error while encoding data.",
    "External tool error.",
    "This module needs 48 Bit input data.",
    "This module cannot handle 48 Bit input data.",
    "Endian conversion failed. Buffer locked?",
    "Endian conflict. Contradicting settings?",
};
}  // namespace

const char* KXL_GetErrorString(uint32_t code) {
    if (code < sizeof(kMessages) / sizeof(kMessages[0])) return kMessages[code];
    return "Unknown internal Error. Reboot suggested.";
}
