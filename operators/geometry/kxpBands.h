// kxpBands: the filters' row bands on several threads, and their progress.
// A filter whose result rows depend only on the source (never on other
// result rows) may compute its rows in any order, so it is cut into bands
// of whole rows, one per processor the process may run on; every band
// writes its own rows only, so the result is the same as on one thread.
// The calling thread takes the first band and makes the progress calls
// (the hook is only ever called on the thread that runs the operator); a
// thread that cannot be started leaves its band to the calling thread.
#pragma once

#include <sched.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

namespace kxp_bands {

// Processors this process may run on (its affinity mask), at least 1.
inline unsigned Processors()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<unsigned>(n);
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n ? n : 1;
}

// The progress calls of one row loop over [first, last): before every row
// that is a multiple of step. With one band they come before exactly those
// rows; with several, as the calling thread's band advances in proportion.
template <class Report>
class Ticker {
public:
    Ticker(uint64_t first, uint64_t last, uint32_t step, Report report)
        : First(first), Last(last), Step(step), Next((first + step - 1) / step * step), Call(std::move(report))
    {
    }
    // done of band rows of the calling thread's band are finished (or the
    // row done of the band is about to start).
    void At(uint64_t done, uint64_t band)
    {
        const uint64_t upto = band ? First + done * (Last - First) / band : First;
        while (Next <= upto && Next < Last) {
            Call(Next);
            Next += Step;
        }
    }

private:
    uint64_t First, Last, Step, Next;
    Report Call;
};

// Runs body(first, last, caller) over [begin, end) in bands; caller is true
// for the band of the calling thread. body returns 0 or an error code; the
// first band's error, else any band's, is returned. work is the cost of the
// whole loop in simple steps (samples times taps): small loops stay on one
// thread, where starting threads would cost more than it gains.
template <class Body>
uint32_t Run(uint32_t begin, uint32_t end, uint64_t work, Body&& body)
{
    constexpr uint64_t MinWork = uint64_t(1) << 21;  // per band
    constexpr uint32_t MinRows = 8;
    const uint32_t rows = end > begin ? end - begin : 0;
    uint64_t bands = Processors();
    if (bands > rows / MinRows) bands = rows / MinRows;
    if (bands > work / MinWork) bands = work / MinWork;
    if (bands <= 1) return body(begin, end, true);

    auto edge = [&](uint64_t k) { return static_cast<uint32_t>(begin + rows * k / bands); };
    std::atomic<uint32_t> failed{0};
    std::vector<std::thread> threads;
    std::vector<uint64_t> leftOver;
    threads.reserve(bands - 1);
    leftOver.reserve(bands);
    for (uint64_t k = 1; k < bands; k++) {
        try {
            threads.emplace_back([&, k] {
                const uint32_t err = body(edge(k), edge(k + 1), false);
                if (err) failed.store(err);
            });
        } catch (...) {
            leftOver.push_back(k);
        }
    }
    uint32_t err = body(edge(0), edge(1), true);
    for (uint64_t k : leftOver) {
        const uint32_t e = body(edge(k), edge(k + 1), false);
        if (e && !err) err = e;
    }
    for (auto& t : threads) t.join();
    return err ? err : failed.load();
}

}  // namespace kxp_bands
