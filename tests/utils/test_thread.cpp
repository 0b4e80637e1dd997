#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dyx_thread.h"
#include "thread_test_support.h"

using testing_support::eventually;
using testing_support::run_library_threads;

namespace {

class Thread : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(dyx_thread_init(), 0); }
};

// Records the thread's index at that index.
int32_t report_index(void *seen) {
    const int32_t index = dyx_thread_index();
    if (index > 0 && index < DYX_MAX_THREADS) static_cast<std::atomic<int32_t> *>(seen)[index] = index;
    return 7;
}

// Blocks in a cancellation point until cancelled: its function never returns.
int32_t wait_forever(void *started) {
    static_cast<std::atomic<bool> *>(started)->store(true);
    for (;;) pause();
    return 0;
}

}  // namespace

// Guards against a thread whose function never returns leaving its slot
// "running" so that join, and later creations, misuse the table.
TEST_F(Thread, CancelledThreadIsJoinedWithResultMinusOneAndFreesItsSlot) {
    std::atomic<bool> started{false};
    int32_t slot = -1;
    ASSERT_EQ(dyx_thread_create(&slot, wait_forever, &started), 0);
    ASSERT_TRUE(eventually([&] { return started.load(); }));
    EXPECT_EQ(dyx_thread_cancel(&slot), 0);
    int32_t result = 0;
    ASSERT_EQ(dyx_thread_join(&slot, &result), 0);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(dyx_thread_cancel(&slot), -1);  // the slot is free again
}

// Slot 0 is the main thread's; a thread's index is its slot, and finished
// threads keep their slots until joined.
TEST_F(Thread, EverySlotIsTakenJoinedAndFreedAgain) {
    EXPECT_EQ(dyx_thread_index(), 0);
    std::vector<std::atomic<int32_t>> seen(DYX_MAX_THREADS);
    std::vector<int32_t> slots;
    for (int i = 1; i < DYX_MAX_THREADS; ++i) {
        int32_t slot = -1;
        ASSERT_EQ(dyx_thread_create(&slot, report_index, seen.data()), 0) << "creation " << i;
        slots.push_back(slot);
    }
    int32_t extra = -1;
    EXPECT_EQ(dyx_thread_create(&extra, report_index, seen.data()), -1);
    for (const int32_t slot : slots) {
        int32_t joined = slot, result = 0;
        ASSERT_EQ(dyx_thread_join(&joined, &result), 0);
        EXPECT_EQ(result, 7);
        EXPECT_EQ(seen[slot], slot);
        EXPECT_EQ(dyx_thread_join(&joined, nullptr), -1);  // already joined
    }
    ASSERT_EQ(dyx_thread_create(&extra, report_index, seen.data()), 0);
    EXPECT_EQ(dyx_thread_join(&extra, nullptr), 0);
    std::thread([&] { seen[0] = 100 + dyx_thread_index(); }).join();
    EXPECT_EQ(seen[0], 100);  // threads the library did not start read index 0
    for (int32_t refused : {0, int32_t(DYX_MAX_THREADS), -1})
        EXPECT_EQ(dyx_thread_join(&refused, nullptr), -1);
    int32_t outside = DYX_MAX_THREADS;
    EXPECT_EQ(dyx_thread_cancel(&outside), -1);
    EXPECT_EQ(dyx_thread_create(&extra, nullptr, nullptr), -1);
}

TEST_F(Thread, MutexAndConditionWrappers) {
    dyx_thread_mutex_t mutex;
    dyx_thread_cond_t cond;
    ASSERT_EQ(dyx_thread_mutex_init(&mutex), 0);
    ASSERT_EQ(dyx_thread_cond_init(&cond), 0);
    ASSERT_EQ(dyx_thread_mutex_lock(&mutex), 0);
    int trylock_result = -5;
    std::thread([&] { trylock_result = dyx_thread_mutex_trylock(&mutex); }).join();
    EXPECT_EQ(trylock_result, 1);  // busy
    EXPECT_EQ(dyx_thread_cond_timedwait(&cond, &mutex, 0.01f), DYX_THREAD_TIMEDOUT);
    EXPECT_EQ(dyx_thread_cond_timedwait(&cond, &mutex, -3.0f), DYX_THREAD_TIMEDOUT);

    // The signaller can only take the mutex once the waiter waits in it.
    bool ready = false;
    std::thread signaller([&] {
        dyx_thread_mutex_lock(&mutex);
        ready = true;
        dyx_thread_cond_signal(&cond);
        dyx_thread_mutex_unlock(&mutex);
    });
    int result = 0;
    while (!ready && result == 0) result = dyx_thread_cond_timedwait(&cond, &mutex, 20.0f);
    ASSERT_EQ(dyx_thread_mutex_unlock(&mutex), 0);
    signaller.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(ready);
    EXPECT_EQ(dyx_thread_mutex_trylock(&mutex), 0);
    EXPECT_EQ(dyx_thread_mutex_unlock(&mutex), 0);
    EXPECT_EQ(dyx_thread_cond_destroy(&cond), 0);
    EXPECT_EQ(dyx_thread_mutex_destroy(&mutex), 0);
    EXPECT_EQ(dyx_thread_mutex_lock(nullptr), -1);
}

TEST_F(Thread, SemaphoreReleasesWaitersTogether) {
    dyx_thread_sema_t sema;
    ASSERT_EQ(dyx_thread_sema_init(&sema, 0), 0);
    std::atomic<int> passed{0};
    std::atomic<bool> waiters_ok{false};
    std::thread starter([&] {
        waiters_ok = run_library_threads(3, [&] {
            if (dyx_thread_sema_wait(&sema) == 0) ++passed;
        });
    });
    auto value_is = [&](int32_t wanted) {
        dyx_thread_mutex_lock(&sema.mutex);
        const bool is = sema.value == wanted;
        dyx_thread_mutex_unlock(&sema.mutex);
        return is;
    };
    ASSERT_TRUE(eventually([&] { return value_is(-3); }));  // all three wait
    EXPECT_EQ(dyx_thread_sema_release(&sema), 0);
    EXPECT_EQ(dyx_thread_sema_release(&sema), 0);
    EXPECT_TRUE(value_is(-1));
    EXPECT_EQ(passed.load(), 0);  // the value is still negative
    EXPECT_EQ(dyx_thread_sema_release(&sema), 0);
    starter.join();
    EXPECT_TRUE(waiters_ok.load());
    EXPECT_EQ(passed.load(), 3);
    EXPECT_EQ(dyx_thread_sema_reset(&sema, 2), 0);
    EXPECT_EQ(dyx_thread_sema_wait(&sema), 0);  // 2 -> 1: no wait
    EXPECT_EQ(dyx_thread_sema_destroy(&sema), 0);
}

TEST_F(Thread, BarrierReleasesExactlyOneLastThreadPerPhase) {
    constexpr int kThreads = 3;
    constexpr int kPhases = 300;
    dyx_thread_barrier_t barrier;
    ASSERT_EQ(dyx_thread_barrier_init(&barrier), 0);
    std::vector<std::atomic<int>> arrivals(kPhases), lasts(kPhases);
    std::atomic<int> wrong{0};
    ASSERT_TRUE(run_library_threads(kThreads, [&] {
        for (int phase = 0; phase < kPhases; ++phase) {
            ++arrivals[phase];
            const int result = dyx_thread_barrier(&barrier, kThreads);
            if (result == 1) ++lasts[phase];
            if (result < 0 || arrivals[phase] != kThreads) ++wrong;
        }
    }));
    EXPECT_EQ(wrong.load(), 0);
    for (int phase = 0; phase < kPhases; ++phase) EXPECT_EQ(lasts[phase].load(), 1) << "phase " << phase;
    EXPECT_EQ(dyx_thread_barrier(&barrier, 0), -1);

    // A count of one holds until reinit, which takes a new count.
    dyx_thread_barrier_reinit(&barrier);
    EXPECT_EQ(dyx_thread_barrier(&barrier, 1), 1);
    EXPECT_EQ(dyx_thread_barrier(&barrier, 5), 1);
    dyx_thread_barrier_reinit(&barrier);
    std::atomic<int> pair_lasts{0};
    ASSERT_TRUE(run_library_threads(2, [&] {
        if (dyx_thread_barrier(&barrier, 2) == 1) ++pair_lasts;
    }));
    EXPECT_EQ(pair_lasts.load(), 1);
    EXPECT_EQ(dyx_thread_barrier_destroy(&barrier), 0);
    EXPECT_EQ(dyx_thread_barrier_destroy(&barrier), -1);
    EXPECT_EQ(dyx_thread_barrier(&barrier, 1), -1);
}

// Thread t contributes phase + t in every phase, for several thread counts
// in a row: the combined values are known in advance.
TEST_F(Thread, ReductionsGiveEveryThreadTheCombinedValue) {
    constexpr int kPhases = 100;
    for (int threads : {3, 1, 4, 2}) {
        std::atomic<int> next{0}, wrong{0};
        double dshared[3];
        int32_t ishared[3];
        auto body = [&] {
            const int me = next++;
            for (int phase = 0; phase < kPhases; ++phase) {
                const int32_t value = phase + me;
                const int32_t sum = threads * phase + threads * (threads - 1) / 2;
                if (dyx_thread_global_isum(value, threads) != sum) ++wrong;
                if (dyx_thread_global_dsum(value, threads) != sum) ++wrong;
                if (dyx_thread_reduce_dmax(value, threads) != phase + threads - 1) ++wrong;
                if (dyx_thread_reduce_dmin(value, threads) != phase) ++wrong;
                const double downs[3] = {double(value), 0.5 * me, -1};
                const int32_t iowns[3] = {value, 10 * me, -1};
                dyx_thread_global_dsums(downs, dshared, 3, threads);
                if (dshared[0] != sum || dshared[1] != 0.5 * (sum - threads * phase) ||
                    dshared[2] != -threads)
                    ++wrong;
                dyx_thread_global_isums(iowns, ishared, 3, threads);
                if (ishared[0] != sum || ishared[1] != 10 * (sum - threads * phase) || ishared[2] != -threads)
                    ++wrong;
                // Nobody may change the shared arrays until every thread has read them.
                dyx_thread_global_isum(0, threads);
            }
        };
        ASSERT_TRUE(run_library_threads(threads, body)) << threads << " threads";
        EXPECT_EQ(wrong.load(), 0) << threads << " threads";
    }
}
