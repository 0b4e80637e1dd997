// Worker count and row-band loops (see dyx_parallel.h).
#include "dyx_parallel.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr int kMaxThreads = 256;

int default_threads() {
    if (const char* text = std::getenv("ORVO_THREADS")) {
        char* end = nullptr;
        long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value >= 1 && value <= kMaxThreads) return static_cast<int>(value);
    }
    unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp<unsigned>(cores, 1, kMaxThreads));
}

std::atomic<int> thread_setting{0};  // 0: not chosen yet

}  // namespace

extern "C" {

int dyx_parallel_threads(void) {
    int count = thread_setting.load(std::memory_order_relaxed);
    if (count == 0) {
        int chosen = default_threads();
        thread_setting.compare_exchange_strong(count, chosen);
        return thread_setting.load(std::memory_order_relaxed);
    }
    return count;
}

int dyx_parallel_set_threads(int count) {
    int value = count <= 0 ? default_threads() : std::min(count, kMaxThreads);
    thread_setting.store(value, std::memory_order_relaxed);
    return value;
}

void dyx_parallel_rows(int64_t rows, int64_t min_rows, void (*body)(int64_t, int64_t, void*), void* context) {
    if (rows <= 0) return;
    int64_t band_floor = std::max<int64_t>(min_rows, 1);
    int64_t bands = std::min<int64_t>(dyx_parallel_threads(), rows / band_floor);
    if (bands <= 1) {
        body(0, rows, context);
        return;
    }
    // Even bands; the caller takes the first one itself.
    auto band_start = [&](int64_t band) { return rows * band / bands; };
    std::vector<std::thread> helpers;
    helpers.reserve(static_cast<size_t>(bands - 1));
    for (int64_t band = 1; band < bands; ++band) {
        try {
            helpers.emplace_back(body, band_start(band), band_start(band + 1), context);
        } catch (...) {
            // No thread to be had: do the band here.
            body(band_start(band), band_start(band + 1), context);
        }
    }
    body(0, band_start(1), context);
    for (std::thread& helper : helpers) helper.join();
}

}  // extern "C"
