// robustness: the damaged-input check every reader test runs. Loads every
// truncation of a fixture (all short lengths, then a spread of longer ones)
// and a few hundred copies with bytes flipped (fixed seed, so a failure
// repeats) through a fresh object of the catalogue's reader class. Each
// load must end with an error code and no buffer, or with a valid image
// whose BufferSize matches its size and depth and whose pixel and alpha
// bytes can all be read; the sanitizers catch overreads and leaks, and a
// watchdog aborts a load that runs longer than 20 seconds. Failures are
// reported as test failures naming the variant.
#pragma once

#include <cstdint>
#include <string>

struct KX_GfxBuffer;

struct KXRobustnessOptions {
    uint32_t Flips = 300;         // byte-flipped variants
    uint32_t Seed = 0x4B583505u;  // fixed: the same variants every run
    uint32_t MaxTruncations = 1500;
    // Ending of the damaged files' name (".geo"), for readers that choose
    // by the name.
    std::string Extension;
};

// className: a reader class of the catalogue ("kxoBMP"); fixture: a file
// the reader loads with 0 (checked first, so a placeholder cannot pass).
void KXT_CheckReaderRobustness(const char* className, const std::string& fixture, const KXRobustnessOptions& options = {});

// True when the buffer is a valid image: known type, BufferSize at least
// what width, height and depth need, data present, alpha map or table
// present when what AlphaData holds (KXSUP_AlphaHolds) says so. Reads
// every byte it declares.
bool KXT_ImageIsValid(const KX_GfxBuffer* b, std::string* why = nullptr);
