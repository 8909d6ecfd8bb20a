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
    uint32_t result = KXERR_INTERNALACCESS;  // what an unfinished worker leaves
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread worker([&] {
        uint32_t r = call();
        std::lock_guard<std::mutex> lock(m);
        result = r;
        done = true;
        cv.notify_one();
    });
    // The user-interface thread waits in 100 ms steps and moves the bar
    // itself; it processes no window messages meanwhile.
    std::unique_lock<std::mutex> lock(m);
    while (!done) {
        cv.wait_for(lock, std::chrono::milliseconds(100));
        int v = kx_value_progress.load();
        if (v > Bar) MoveBar(v);
    }
    lock.unlock();
    worker.join();
    return result;
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
