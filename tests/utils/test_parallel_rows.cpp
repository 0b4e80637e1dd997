// Row bands: every row is visited exactly once whatever the worker count,
// band floor, nesting, number of concurrent callers or fork, and one worker
// keeps everything on the calling thread.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <thread>
#include <vector>

#include "dyx_parallel.h"
#include "thread_test_support.h"

namespace {

// Counts the visits of every row and the threads that made them.
struct Visits {
    std::vector<std::atomic<int>> rows;
    std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> bands{0};
    std::atomic<bool> elsewhere{false};
    explicit Visits(int64_t count) : rows(static_cast<size_t>(count)) {}

    static void body(int64_t first, int64_t end, void *context) {
        Visits &visits = *static_cast<Visits *>(context);
        ++visits.bands;
        if (std::this_thread::get_id() != visits.caller) visits.elsewhere = true;
        for (int64_t r = first; r < end; ++r) ++visits.rows[static_cast<size_t>(r)];
    }

    bool each_once() const {
        for (const auto &row : rows)
            if (row != 1) return false;
        return true;
    }
};

class ParallelRows : public ::testing::Test {
protected:
    void TearDown() override { dyx_parallel_set_threads(0); }
};

TEST_F(ParallelRows, EveryRowOnceForEveryWorkerCountAndFloor) {
    const struct {
        int threads;
        int64_t rows, min_rows;
        int most_bands;  // upper bound on the bands expected
    } cases[] = {{1, 1000, 1, 1}, {2, 1000, 1, 16}, {4, 1000, 10, 32}, {4, 7, 1, 7},
                 {8, 100, 60, 1}, {3, 1, 1, 1},     {2, 0, 1, 0},      {16, 100000, 1, 128}};
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.threads << " threads, " << c.rows << " rows");
        EXPECT_EQ(dyx_parallel_set_threads(c.threads), c.threads);
        Visits visits(c.rows);
        dyx_parallel_rows(c.rows, c.min_rows, Visits::body, &visits);
        EXPECT_TRUE(visits.each_once());
        EXPECT_LE(visits.bands.load(), c.most_bands);
        if (c.threads == 1) {
            EXPECT_FALSE(visits.elsewhere.load());
        }
    }
}

TEST_F(ParallelRows, SettingIsClampedAndRestored) {
    EXPECT_EQ(dyx_parallel_set_threads(1000), 256);
    EXPECT_EQ(dyx_parallel_threads(), 256);
    EXPECT_GE(dyx_parallel_set_threads(0), 1);
    EXPECT_EQ(dyx_parallel_set_threads(-3), dyx_parallel_threads());
}

// A band that splits its own rows again runs that inner job on its own
// thread: the pool is busy with the outer job. Callers on several threads
// at once get every row once, whoever runs their bands (a caller that finds
// the pool idle again may use it for its inner jobs).
TEST_F(ParallelRows, NestedAndConcurrentCallsCoverEveryRow) {
    dyx_parallel_set_threads(4);
    struct Outer {
        std::deque<Visits> inner;  // never moved: the counters are atomic
        static void body(int64_t first, int64_t end, void *context) {
            auto &outer = *static_cast<Outer *>(context);
            for (int64_t r = first; r < end; ++r) {
                Visits &visits = outer.inner[static_cast<size_t>(r)];
                visits.caller = std::this_thread::get_id();
                dyx_parallel_rows(static_cast<int64_t>(visits.rows.size()), 1, Visits::body, &visits);
            }
        }
    };
    auto run_outer = [](Outer *outer) {
        for (int n = 0; n < 16; ++n) outer->inner.emplace_back(100 + n);
        dyx_parallel_rows(16, 1, Outer::body, outer);
    };
    for (int callers : {1, 3}) {
        std::vector<Outer> outers(callers);
        std::vector<std::thread> threads;
        for (Outer &outer : outers) threads.emplace_back(run_outer, &outer);
        for (std::thread &thread : threads) thread.join();
        for (const Outer &outer : outers) {
            for (const Visits &visits : outer.inner) {
                EXPECT_TRUE(visits.each_once()) << callers << " callers";
                if (callers == 1) {
                    EXPECT_FALSE(visits.elsewhere.load());
                }
            }
        }
    }
}

// Bands on the calling thread wait (at most 10 s) until a band has run on
// another thread: true when one did, so the workers are alive.
struct Helped {
    std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> helper_ran{false};

    static void body(int64_t, int64_t, void *context) {
        Helped &helped = *static_cast<Helped *>(context);
        if (std::this_thread::get_id() != helped.caller)
            helped.helper_ran = true;
        else
            testing_support::eventually([&] { return helped.helper_ran.load(); }, 10.0);
    }
};

// A child forked after the workers started gets workers of its own.
TEST_F(ParallelRows, ForkedChildHasWorkers) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's own allocator locks are not fork-safe: a child forked while a worker "
                    "frees memory can hang inside the sanitizer; the plain build runs this test";
#endif
    dyx_parallel_set_threads(4);
    Helped before;
    dyx_parallel_rows(4, 1, Helped::body, &before);
    ASSERT_TRUE(before.helper_ran);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(30);  // ends the child should it ever hang
        Helped after;
        dyx_parallel_rows(4, 1, Helped::body, &after);
        _exit(after.helper_ran ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
