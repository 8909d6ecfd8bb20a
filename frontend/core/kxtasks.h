// kxtasks: how the front end runs a long library call (load, save, an
// operator): one worker thread at a time while the user-interface thread
// waits for it in polls of at most 100 ms, moving the progress bar up to the
// shared progress value (the window repaints meanwhile, see
// KXUserInterface::WaitForWorker); with threads off the call runs directly. The progress
// poller's step repaints the bar from the shared state; the desktop program
// calls it from a 250 ms timer on its own thread.
#pragma once

#include <cstdint>
#include <functional>

#include "kxui.h"

class KXTaskRunner {
public:
    explicit KXTaskRunner(KXUserInterface* ui) : UI(ui) {}

    // Worker threads on (THREADED_PROGRESS).
    bool Threaded = true;

    // Start of a task: flag 3, value 0, bar 0, status light red.
    void Begin();
    // Runs call on a worker thread (result preset to 13, always joined)
    // while the window waits (WaitForWorker) or, with threads off, directly;
    // returns the call's result.
    uint32_t Run(const std::function<uint32_t()>& call);
    // End of the library call: value 100, flag 2, status light yellow.
    void End();

    // One step of the progress poller (every 250 ms on the bar's thread):
    // a state above 0 is repainted, a 2 first becomes 0 (so the last
    // repaint of a task fills the bar).
    void PollProgress();
    // The repaint itself: state 3 puts the bar to 0 and the state to 1; a
    // larger value moves the bar; state 0 fills it.
    void RepaintProgress();

    int BarValue() const { return Bar; }

private:
    void MoveBar(int value);

    KXUserInterface* UI;
    int Bar = 0;
};
