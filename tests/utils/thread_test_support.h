// Helpers for tests that start threads: bounded waits, so that a broken
// barrier or semaphore fails the test instead of hanging it.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "dyx_thread.h"

namespace testing_support {

// Polls `done` until it holds or `seconds` pass; true when it held.
template <typename Predicate>
bool eventually(Predicate done, double seconds = 20.0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs `body` on `count` library threads and joins them once all have
// finished within the time limit. False when one could not start or they
// did not finish in time (they are then left running, on state that is
// deliberately never freed).
inline bool run_library_threads(int count, std::function<void()> body) {
    struct Shared {
        std::function<void()> body;
        std::atomic<int> finished{0};
    };
    auto *shared = new Shared{std::move(body)};
    auto call = [](void *argument) -> int32_t {
        auto *state = static_cast<Shared *>(argument);
        state->body();
        ++state->finished;
        return 0;
    };
    std::vector<int32_t> slots(static_cast<size_t>(count), -1);
    for (int32_t &slot : slots) {
        if (dyx_thread_create(&slot, call, shared) != 0) return false;
    }
    if (!eventually([&] { return shared->finished == count; })) return false;
    for (int32_t &slot : slots) {
        if (dyx_thread_join(&slot, nullptr) != 0) return false;
    }
    delete shared;
    return true;
}

// Runs body(index) on `count` std::threads, which the library does not know.
inline void run_foreign_threads(int count, const std::function<void(int)> &body) {
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) threads.emplace_back(body, i);
    for (std::thread &thread : threads) thread.join();
}

}  // namespace testing_support
