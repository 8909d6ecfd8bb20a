// kxtasks: the library-task pattern and the progress poller's step.
#include "kxtasks.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/kxtypes.h"
#include "kxbridge.h"

void KXTaskRunner::MoveBar(int value) {
    if (value < 0) value = 0;
    if (value > 100) value = 100;
    Bar = value;
    if (UI) UI->SetProgressBar(value);
}

void KXTaskRunner::Begin() {
    kx_value_progress.store(0);
    kx_update_progress.store(3);
    MoveBar(0);
    if (UI) UI->SetStatusLight(KXStatusLight::Red);
}

uint32_t KXTaskRunner::Run(const std::function<uint32_t()>& call) {
    if (!Threaded) return call();
    // Shared with the worker; it outlives this call only if the thread
    // could not be joined, which never happens (join below).
    struct Shared {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        uint32_t result = KXERR_INTERNALACCESS;  // what an unfinished worker leaves
    } shared;
    KXUserInterface* ui = UI;
    std::thread worker([&shared, &call, ui] {
        uint32_t r = call();
        {
            std::lock_guard<std::mutex> lock(shared.m);
            shared.result = r;
            shared.done = true;
        }
        shared.cv.notify_one();
        if (ui) ui->WakeFromWorker();
    });
    // The interface thread waits in polls of at most 100 ms and moves the
    // bar itself; the window decides what else it does meanwhile.
    auto poll = [this, &shared](int ms) {
        bool done;
        {
            std::unique_lock<std::mutex> lock(shared.m);
            if (ms > 0 && !shared.done) shared.cv.wait_for(lock, std::chrono::milliseconds(ms));
            done = shared.done;
        }
        int v = kx_value_progress.load();
        if (v > Bar) MoveBar(v);
        return done;
    };
    if (UI) UI->WaitForWorker(poll);
    else
        while (!poll(100)) {
        }
    worker.join();
    return shared.result;
}

void KXTaskRunner::End() {
    kx_value_progress.store(100);
    kx_update_progress.store(2);
    if (UI) UI->SetStatusLight(KXStatusLight::Yellow);
}

void KXTaskRunner::PollProgress() {
    int32_t state = kx_update_progress.load();
    if (state <= 0) return;
    if (state == 2) kx_update_progress.compare_exchange_strong(state, 0);
    RepaintProgress();
}

void KXTaskRunner::RepaintProgress() {
    int32_t state = 3;
    if (kx_update_progress.compare_exchange_strong(state, 1)) MoveBar(0);
    int v = kx_value_progress.load();
    if (v > Bar) MoveBar(v);
    if (kx_update_progress.load() == 0) MoveBar(100);
}
