// kxui: everything the Qt-free front end needs of a window, in one small
// interface. The desktop program implements it on its main window; the
// tests implement it with a scripted fake. Every method is called on the
// user-interface thread (the thread that calls KXApp), never on a worker,
// but for WakeFromWorker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The small light beside the status line: red while a library task runs,
// yellow when the library call has returned, green when the front end has
// finished with the result. A command that ended in failure leaves it red
// (Failed), one whose result was kept with a flaw (a picture whose data
// ended early) leaves the warning colour (Flawed), until the next command.
enum class KXStatusLight { Green, Yellow, Red, Failed, Flawed };

// Captions of message boxes (the window takes them from its catalog:
// TXT_KAXON5_ERROR, TXT_KAXON5_INFO, TXT_KAXON5_REQUEST).
enum class KXMessageKind { Error, Info, Request };

// A picture decoded by the platform's own image decoder: Width x Height
// pixels of four bytes in the order blue, green, red, alpha (the memory
// layout of a 32-bit ARGB bitmap on a little-endian machine), rows Stride
// bytes apart (Stride >= 4 * Width).
struct KXDecodedImage {
    std::string Format;  // the decoder's name of the file's format ("WEBP")
    uint32_t Width = 0;
    uint32_t Height = 0;
    size_t Stride = 0;
    std::vector<uint8_t> Pixels;
};

class KXUserInterface {
public:
    virtual ~KXUserInterface() = default;

    // The text of a catalog key (TXT_LOADING, TXT_DONE, TXT_ERROR ...), or
    // its English fallback. The front end composes status lines from these.
    virtual std::string Text(const char* key) = 0;

    // Shows a new status line (already composed; the core logs it).
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetStatusLight(KXStatusLight light) = 0;

    // A Yes/No question (question icon); true for Yes.
    virtual bool AskYesNo(KXMessageKind caption, const std::string& text) = 0;
    // A message box with an OK button.
    virtual void ShowMessage(KXMessageKind caption, const std::string& text) = 0;

    // Moves the progress bar (0..100; the core never passes anything else).
    virtual void SetProgressBar(int value) = 0;

    // Rebuilds the thumbnail and the information area from the current
    // image (KX_GetGfxBuffer); clear = true empties them.
    virtual void UpdatePreview(bool clear) = 0;

    // The wait cursor on or off.
    virtual void SetBusyCursor(bool busy) = 0;

    // Waits while a worker runs a library task: until poll answers true.
    // poll(ms) waits up to ms milliseconds for the worker, moves the
    // progress bar and tells whether the worker has ended; it is to be
    // called at least every 100 ms. A window keeps repainting meanwhile,
    // with its commands held back (one task at a time). The default only
    // polls.
    virtual void WaitForWorker(const std::function<bool(int)>& poll) {
        while (!poll(100)) {
        }
    }
    // Called on the worker's thread as it ends, so a waiting window wakes
    // at once rather than at its next poll.
    virtual void WakeFromWorker() {}

    // The area selection was dropped by the core: switch "Area active" off
    // (the core has already freed the area buffer).
    virtual void AreaDropped() {}

    // The platform's own image decoder, the last resort of the load chain.
    // Returns 0 and fills image, 1 when the file cannot be decoded, 3 when
    // the pixels cannot be copied. The default knows no format.
    virtual uint32_t DecodeImage(const char* path, KXDecodedImage* image) {
        (void)path;
        (void)image;
        return 1;
    }
};
