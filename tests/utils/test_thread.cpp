#include <gtest/gtest.h>
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

}  // namespace

TEST_F(Thread, IndexJoinAndRefusedSlots) {
    EXPECT_EQ(dyx_thread_index(), 0);
    std::atomic<int32_t> seen{-1};
    int32_t slot = -1;
    ASSERT_EQ(dyx_thread_create(&slot, report_index, &seen), 0);
    EXPECT_GT(slot, 0);
    int32_t result = 0;
    ASSERT_EQ(dyx_thread_join(&slot, &result), 0);
    EXPECT_EQ(result, 42);
    EXPECT_EQ(seen.load(), slot);
    std::thread foreign([&] { seen.store(dyx_thread_index()); });
    foreign.join();
    EXPECT_EQ(seen.load(), 0);

    EXPECT_EQ(dyx_thread_join(&slot, nullptr), -1);  // already joined
    for (int32_t refused : {0, int32_t(DYX_MAX_THREADS), -1})
        EXPECT_EQ(dyx_thread_join(&refused, nullptr), -1);
    int32_t outside = DYX_MAX_THREADS;
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
}

TEST_F(Thread, CreationFailsOnceEverySlotIsTakenAndRecoversAfterJoins) {
    // Slot 0 is the main thread's; finished threads keep their slots until joined.
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

TEST_F(Thread, MutexAndConditionWrappers) {
    dyx_thread_mutex_t mutex;
    dyx_thread_cond_t cond;
    ASSERT_EQ(dyx_thread_mutex_init(&mutex), 0);
    ASSERT_EQ(dyx_thread_cond_init(&cond), 0);
    std::atomic<int> trylock_result{-5};
    auto try_it = [&]() -> int32_t {
        trylock_result.store(dyx_thread_mutex_trylock(&mutex));
        return 0;
    };
    ASSERT_EQ(dyx_thread_mutex_lock(&mutex), 0);
    ThreadGroup group;
    ASSERT_TRUE(group.run(1, &try_it));
    EXPECT_EQ(trylock_result.load(), 1);
    EXPECT_EQ(dyx_thread_cond_timedwait(&cond, &mutex, 0.01f), DYX_THREAD_TIMEDOUT);
    EXPECT_EQ(dyx_thread_cond_timedwait(&cond, &mutex, -3.0f), DYX_THREAD_TIMEDOUT);

    // The signaller can only take the mutex once the waiter waits in it.
    bool ready = false;
    int result = 0;
    auto signaller = [&]() -> int32_t {
        dyx_thread_mutex_lock(&mutex);
        ready = true;
        dyx_thread_cond_signal(&cond);
        dyx_thread_mutex_unlock(&mutex);
        return 0;
    };
    std::thread starter([&] { EXPECT_TRUE(group.run(1, &signaller)); });
    while (!ready && result == 0) result = dyx_thread_cond_timedwait(&cond, &mutex, 20.0f);
    ASSERT_EQ(dyx_thread_mutex_unlock(&mutex), 0);
    starter.join();
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
    auto waiter = [&]() -> int32_t {
        const int result = dyx_thread_sema_wait(&sema);
        passed.fetch_add(1);
        return result;
    };
    ThreadGroup group;
    std::atomic<bool> group_ok{false};
    std::thread starter([&] { group_ok.store(group.run(3, &waiter)); });
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
    std::atomic<int> wrong{0};
    auto body = [&]() -> int32_t {
        for (int phase = 0; phase < kPhases; ++phase) {
            arrivals[phase].fetch_add(1);
            const int result = dyx_thread_barrier(&barrier, kThreads);
            if (result == 1) lasts[phase].fetch_add(1);
            if (result < 0 || arrivals[phase].load() != kThreads) wrong.fetch_add(1);
        }
        return 0;
    };
    ThreadGroup group;
    ASSERT_TRUE(group.run(kThreads, &body));
    EXPECT_EQ(wrong.load(), 0);
    for (int phase = 0; phase < kPhases; ++phase) EXPECT_EQ(lasts[phase].load(), 1) << "phase " << phase;
    EXPECT_EQ(dyx_thread_barrier(&barrier, 0), -1);

    // A count of one holds until reinit, which takes a new count.
    dyx_thread_barrier_reinit(&barrier);
    EXPECT_EQ(dyx_thread_barrier(&barrier, 1), 1);
    EXPECT_EQ(dyx_thread_barrier(&barrier, 5), 1);
    dyx_thread_barrier_reinit(&barrier);
    std::atomic<int> pair_lasts{0};
    auto pair = [&]() -> int32_t {
        if (dyx_thread_barrier(&barrier, 2) == 1) pair_lasts.fetch_add(1);
        return 0;
    };
    ASSERT_TRUE(group.run(2, &pair));
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
        auto body = [&]() -> int32_t {
            const int me = next.fetch_add(1);
            for (int phase = 0; phase < kPhases; ++phase) {
                const int32_t value = phase + me;
                const int32_t sum = threads * phase + threads * (threads - 1) / 2;
                if (dyx_thread_global_isum(value, threads) != sum) wrong.fetch_add(1);
                if (dyx_thread_global_dsum(value, threads) != sum) wrong.fetch_add(1);
                if (dyx_thread_reduce_dmax(value, threads) != phase + threads - 1) wrong.fetch_add(1);
                if (dyx_thread_reduce_dmin(value, threads) != phase) wrong.fetch_add(1);
                const double downs[3] = {double(value), 0.5 * me, -1};
                const int32_t iowns[3] = {value, 10 * me, -1};
                dyx_thread_global_dsums(downs, dshared, 3, threads);
                if (dshared[0] != sum || dshared[1] != 0.5 * (sum - threads * phase) ||
                    dshared[2] != -threads)
                    wrong.fetch_add(1);
                dyx_thread_global_isums(iowns, ishared, 3, threads);
                if (ishared[0] != sum || ishared[1] != 10 * (sum - threads * phase) || ishared[2] != -threads)
                    wrong.fetch_add(1);
                // Nobody may change the shared arrays until every thread has read them.
                dyx_thread_global_isum(0, threads);
            }
            return 0;
        };
        ThreadGroup group;
        ASSERT_TRUE(group.run(threads, &body)) << threads << " threads";
        EXPECT_EQ(wrong.load(), 0) << threads << " threads";
    }
}
