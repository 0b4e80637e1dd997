// Helpers for tests that start library threads: bounded waits, so that a
// broken barrier or semaphore fails the test instead of hanging it.
#pragma once

#include <atomic>
#include <chrono>
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

// Starts `count` library threads running `body(argument)` and joins them
// once all have finished within the time limit. Gives false (threads left
// running, not joined) when they did not finish in time.
class ThreadGroup {
public:
    template <typename Body>
    bool run(int count, Body *body) {
        finished_.store(0);
        body_ = body;
        call_ = [](void *self) -> int32_t {
            auto *group = static_cast<ThreadGroup *>(self);
            const int32_t result = (*static_cast<Body *>(group->body_))();
            group->finished_.fetch_add(1);
            return result;
        };
        std::vector<int32_t> slots;
        for (int i = 0; i < count; ++i) {
            int32_t slot = -1;
            if (dyx_thread_create(&slot, call_, this) != 0) return false;
            slots.push_back(slot);
        }
        if (!eventually([&] { return finished_.load() == count; })) return false;
        for (int32_t &slot : slots) {
            if (dyx_thread_join(&slot, nullptr) != 0) return false;
        }
        return true;
    }

private:
    void *body_ = nullptr;
    dyx_thread_func call_ = nullptr;
    std::atomic<int> finished_{0};
};

}  // namespace testing_support
