#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dyx_thread.h"
#include "thread_test_support.h"

using testing_support::eventually;
using testing_support::ThreadGroup;

namespace {

class Thread : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(dyx_thread_init(), 0); }
};

int32_t report_index(void *out) {
    static_cast<std::atomic<int32_t> *>(out)->store(dyx_thread_index());
    return 42;
}

int32_t return_at_once(void *) { return 7; }

// Blocks in a cancellation point until cancelled: its function never returns.
int32_t wait_forever(void *started) {
    static_cast<std::atomic<bool> *>(started)->store(true);
    for (;;) pause();
    return 0;
}

double now_seconds() {
    struct timeval now;
    gettimeofday(&now, nullptr);
    return now.tv_sec + now.tv_usec / 1e6;
}

}  // namespace

TEST_F(Thread, IndexIsSlotNumberInLibraryThreadsAndZeroElsewhere) {
    EXPECT_EQ(dyx_thread_index(), 0);
    std::atomic<int32_t> seen{-1};
    int32_t slot = -1;
    ASSERT_EQ(dyx_thread_create(&slot, report_index, &seen), 0);
    EXPECT_GT(slot, 0);
    EXPECT_LT(slot, DYX_MAX_THREADS);
    int32_t result = 0;
    ASSERT_EQ(dyx_thread_join(&slot, &result), 0);
    EXPECT_EQ(result, 42);
    EXPECT_EQ(seen.load(), slot);

    std::thread foreign([&] { seen.store(dyx_thread_index()); });
    foreign.join();
    EXPECT_EQ(seen.load(), 0);
}

TEST_F(Thread, JoinRefusesSlotsWithoutThread) {
    int32_t slot = -1;
    ASSERT_EQ(dyx_thread_create(&slot, return_at_once, nullptr), 0);
    ASSERT_EQ(dyx_thread_join(&slot, nullptr), 0);
    EXPECT_EQ(dyx_thread_join(&slot, nullptr), -1);  // already joined
    int32_t main_slot = 0, outside = DYX_MAX_THREADS, negative = -1;
    EXPECT_EQ(dyx_thread_join(&main_slot, nullptr), -1);
    EXPECT_EQ(dyx_thread_join(&outside, nullptr), -1);
    EXPECT_EQ(dyx_thread_join(&negative, nullptr), -1);
    EXPECT_EQ(dyx_thread_cancel(&outside), -1);
    EXPECT_EQ(dyx_thread_create(&slot, nullptr, nullptr), -1);
}

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

    int32_t next = -1;
    ASSERT_EQ(dyx_thread_create(&next, return_at_once, nullptr), 0);
    ASSERT_EQ(dyx_thread_join(&next, &result), 0);
    EXPECT_EQ(result, 7);
}

TEST_F(Thread, CreationFailsOnceEverySlotIsTakenAndRecoversAfterJoins) {
    // Slot 0 is the main thread's, so 2047 threads fill the table; finished
    // threads keep their slots until joined.
    std::vector<int32_t> slots;
    for (int i = 1; i < DYX_MAX_THREADS; ++i) {
        int32_t slot = -1;
        ASSERT_EQ(dyx_thread_create(&slot, return_at_once, nullptr), 0) << "creation " << i;
        slots.push_back(slot);
    }
    int32_t extra = -1;
    EXPECT_EQ(dyx_thread_create(&extra, return_at_once, nullptr), -1);
    for (int32_t &slot : slots) {
        int32_t result = 0;
        ASSERT_EQ(dyx_thread_join(&slot, &result), 0);
        EXPECT_EQ(result, 7);
    }
    ASSERT_EQ(dyx_thread_create(&extra, return_at_once, nullptr), 0);
    EXPECT_EQ(dyx_thread_join(&extra, nullptr), 0);
}

TEST_F(Thread, MutexWrappers) {
    dyx_thread_mutex_t mutex;
    ASSERT_EQ(dyx_thread_mutex_init(&mutex), 0);
    std::atomic<int> trylock_result{-5};
    auto body = [&]() -> int32_t {
        trylock_result.store(dyx_thread_mutex_trylock(&mutex));
        return 0;
    };
    ASSERT_EQ(dyx_thread_mutex_lock(&mutex), 0);
    ThreadGroup group;
    ASSERT_TRUE(group.run(1, &body));
    EXPECT_EQ(trylock_result.load(), 1);
    ASSERT_EQ(dyx_thread_mutex_unlock(&mutex), 0);
    EXPECT_EQ(dyx_thread_mutex_trylock(&mutex), 0);
    EXPECT_EQ(dyx_thread_mutex_unlock(&mutex), 0);
    EXPECT_EQ(dyx_thread_mutex_destroy(&mutex), 0);
    EXPECT_EQ(dyx_thread_mutex_lock(nullptr), -1);
}

TEST_F(Thread, TimedWaitTimesOutWith99) {
    dyx_thread_mutex_t mutex;
    dyx_thread_cond_t cond;
    ASSERT_EQ(dyx_thread_mutex_init(&mutex), 0);
    ASSERT_EQ(dyx_thread_cond_init(&cond), 0);
    ASSERT_EQ(dyx_thread_mutex_lock(&mutex), 0);
    const double start = now_seconds();
    EXPECT_EQ(dyx_thread_cond_timedwait(&cond, &mutex, 0.25f), DYX_THREAD_TIMEDOUT);
    EXPECT_GE(now_seconds() - start, 0.24);
    EXPECT_EQ(dyx_thread_cond_timedwait(&cond, &mutex, -3.0f), DYX_THREAD_TIMEDOUT);
    ASSERT_EQ(dyx_thread_mutex_unlock(&mutex), 0);
    EXPECT_EQ(dyx_thread_cond_destroy(&cond), 0);
    EXPECT_EQ(dyx_thread_mutex_destroy(&mutex), 0);
}

TEST_F(Thread, TimedWaitWakesOnSignal) {
    dyx_thread_mutex_t mutex;
    dyx_thread_cond_t cond;
    ASSERT_EQ(dyx_thread_mutex_init(&mutex), 0);
    ASSERT_EQ(dyx_thread_cond_init(&cond), 0);
    bool ready = false;
    int result = 0;
    auto signaller = [&]() -> int32_t {
        dyx_thread_mutex_lock(&mutex);
        ready = true;
        dyx_thread_cond_signal(&cond);
        dyx_thread_mutex_unlock(&mutex);
        return 0;
    };
    ASSERT_EQ(dyx_thread_mutex_lock(&mutex), 0);
    ThreadGroup group;
    std::thread starter([&] { EXPECT_TRUE(group.run(1, &signaller)); });
    while (!ready && result == 0) result = dyx_thread_cond_timedwait(&cond, &mutex, 20.0f);
    dyx_thread_mutex_unlock(&mutex);
    starter.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(ready);
}

TEST_F(Thread, SemaphoreReleasesWaitersTogether) {
    dyx_thread_sema_t sema;
    ASSERT_EQ(dyx_thread_sema_init(&sema, 0), 0);
    std::atomic<int> passed{0};
    auto waiter = [&]() -> int32_t {
        const int result = dyx_thread_sema_wait(&sema);
        passed.fetch_add(1);
        return result;
    };
    ThreadGroup group;
    std::atomic<bool> group_ok{false};
    std::thread starter([&] { group_ok.store(group.run(3, &waiter)); });
    // All three wait: the value is -3.
    ASSERT_TRUE(eventually([&] {
        dyx_thread_mutex_lock(&sema.mutex);
        const bool all_waiting = sema.value == -3;
        dyx_thread_mutex_unlock(&sema.mutex);
        return all_waiting;
    }));
    EXPECT_EQ(dyx_thread_sema_release(&sema), 0);
    EXPECT_EQ(dyx_thread_sema_release(&sema), 0);
    usleep(20000);
    EXPECT_EQ(passed.load(), 0);  // the value is still negative
    EXPECT_EQ(dyx_thread_sema_release(&sema), 0);
    starter.join();
    EXPECT_TRUE(group_ok.load());
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
    std::atomic<int> incomplete_phases{0}, errors{0};
    auto body = [&]() -> int32_t {
        for (int phase = 0; phase < kPhases; ++phase) {
            arrivals[phase].fetch_add(1);
            const int result = dyx_thread_barrier(&barrier, kThreads);
            if (result == 1) lasts[phase].fetch_add(1);
            if (result < 0) errors.fetch_add(1);
            if (arrivals[phase].load() != kThreads) incomplete_phases.fetch_add(1);
        }
        return 0;
    };
    ThreadGroup group;
    ASSERT_TRUE(group.run(kThreads, &body));
    EXPECT_EQ(errors.load(), 0);
    EXPECT_EQ(incomplete_phases.load(), 0);
    for (int phase = 0; phase < kPhases; ++phase) EXPECT_EQ(lasts[phase].load(), 1) << "phase " << phase;
    EXPECT_EQ(dyx_thread_barrier(&barrier, 0), -1);
    EXPECT_EQ(dyx_thread_barrier_destroy(&barrier), 0);
    EXPECT_EQ(dyx_thread_barrier_destroy(&barrier), -1);
    EXPECT_EQ(dyx_thread_barrier(&barrier, 1), -1);
}

TEST_F(Thread, BarrierOfOneAndReinitWithNewCount) {
    dyx_thread_barrier_t barrier;
    ASSERT_EQ(dyx_thread_barrier_init(&barrier), 0);
    EXPECT_EQ(dyx_thread_barrier(&barrier, 1), 1);
    EXPECT_EQ(dyx_thread_barrier(&barrier, 5), 1);  // the count of 1 holds until reinit
    dyx_thread_barrier_reinit(&barrier);
    std::atomic<int> lasts{0};
    auto body = [&]() -> int32_t {
        if (dyx_thread_barrier(&barrier, 2) == 1) lasts.fetch_add(1);
        return 0;
    };
    ThreadGroup group;
    ASSERT_TRUE(group.run(2, &body));
    EXPECT_EQ(lasts.load(), 1);
    EXPECT_EQ(dyx_thread_barrier_destroy(&barrier), 0);
}

TEST_F(Thread, ScalarReductionsGiveEveryThreadTheCombinedValue) {
    const double four_values[] = {1, 5, 3, 2};
    std::atomic<int> next{0}, wrong{0};
    auto four = [&]() -> int32_t {
        const double mine = four_values[next.fetch_add(1)];
        if (dyx_thread_reduce_dmax(mine, 4) != 5) wrong.fetch_add(1);
        if (dyx_thread_reduce_dmin(mine, 4) != 1) wrong.fetch_add(1);
        if (dyx_thread_global_dsum(mine, 4) != 11) wrong.fetch_add(1);
        if (dyx_thread_global_isum(static_cast<int32_t>(mine), 4) != 11) wrong.fetch_add(1);
        return 0;
    };
    ThreadGroup group;
    ASSERT_TRUE(group.run(4, &four));
    EXPECT_EQ(wrong.load(), 0);

    // A following phase with another thread count.
    const double two_values[] = {7, 8};
    next.store(0);
    auto two = [&]() -> int32_t {
        const double mine = two_values[next.fetch_add(1)];
        if (dyx_thread_reduce_dmax(mine, 2) != 8) wrong.fetch_add(1);
        if (dyx_thread_reduce_dmin(mine, 2) != 7) wrong.fetch_add(1);
        return 0;
    };
    ASSERT_TRUE(group.run(2, &two));
    EXPECT_EQ(wrong.load(), 0);

    EXPECT_EQ(dyx_thread_global_isum(12, 1), 12);
    EXPECT_EQ(dyx_thread_reduce_dmax(-4.5, 1), -4.5);
}

TEST_F(Thread, ReductionsHoldOverManyPhasesAndThreadCounts) {
    constexpr int kPhases = 200;
    for (int threads : {3, 1, 4, 2}) {
        std::atomic<int> next{0}, wrong{0};
        auto body = [&]() -> int32_t {
            const int me = next.fetch_add(1);
            for (int phase = 0; phase < kPhases; ++phase) {
                // Thread t contributes phase + t: the sum is known in advance.
                const int32_t value = phase + me;
                const int32_t expected = threads * phase + threads * (threads - 1) / 2;
                if (dyx_thread_global_isum(value, threads) != expected) wrong.fetch_add(1);
                if (dyx_thread_reduce_dmax(value, threads) != phase + threads - 1) wrong.fetch_add(1);
            }
            return 0;
        };
        ThreadGroup group;
        ASSERT_TRUE(group.run(threads, &body)) << threads << " threads";
        EXPECT_EQ(wrong.load(), 0) << threads << " threads";
    }
}

TEST_F(Thread, ArrayReductionsSumElementWise) {
    constexpr int kThreads = 3;
    constexpr int kPhases = 50;
    double dshared[4];
    int32_t ishared[4];
    std::atomic<int> next{0}, wrong{0};
    auto body = [&]() -> int32_t {
        const int me = next.fetch_add(1) + 1;
        for (int phase = 0; phase < kPhases; ++phase) {
            const double downs[4] = {double(me), 0.5 * me, double(phase), -1};
            const int32_t iowns[4] = {me, 10 * me, phase, -1};
            dyx_thread_global_dsums(downs, dshared, 4, kThreads);
            if (dshared[0] != 6 || dshared[1] != 3 || dshared[2] != 3.0 * phase || dshared[3] != -3) {
                wrong.fetch_add(1);
            }
            dyx_thread_global_isums(iowns, ishared, 4, kThreads);
            if (ishared[0] != 6 || ishared[1] != 60 || ishared[2] != 3 * phase || ishared[3] != -3) {
                wrong.fetch_add(1);
            }
            // Nobody may change the shared arrays until every thread has read them.
            dyx_thread_global_isum(0, kThreads);
        }
        return 0;
    };
    ThreadGroup group;
    ASSERT_TRUE(group.run(kThreads, &body));
    EXPECT_EQ(wrong.load(), 0);
}
