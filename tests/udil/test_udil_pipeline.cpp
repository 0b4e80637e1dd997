// The frame pipeline under threads: order, bounded memory, failures kept
// and reported, results taken by number, every job released once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dyx_udil_pipeline.h"

namespace {

// What the jobs of one test share.
struct Bench {
    std::mutex mutex;
    std::vector<int> ran;  // job values in the order they ran
    std::atomic<int> live{0}, most_live{0}, worker_states{0};
    std::condition_variable opened;
    bool gate_open = true;
    bool release_opens_gate = false;
    int entered = 0;  // jobs that have started
};

struct Payload {
    int value;
    int fail_status;
    bool wait_gate;
};

// Only the submitting thread makes jobs, so only it raises most_live.
Payload *make(Bench &bench, int value, int fail_status = 0, bool wait_gate = false) {
    bench.most_live = std::max(bench.most_live.load(), ++bench.live);
    return new Payload{value, fail_status, wait_gate};
}

int run(void *job, void **state, void *context, char *text, size_t size) {
    Bench &bench = *static_cast<Bench *>(context);
    Payload &payload = *static_cast<Payload *>(job);
    if (*state == nullptr) {
        ++bench.worker_states;
        *state = &bench;
    }
    std::unique_lock<std::mutex> lock(bench.mutex);
    ++bench.entered;
    bench.opened.notify_all();
    if (payload.wait_gate) bench.opened.wait(lock, [&bench] { return bench.gate_open; });
    bench.ran.push_back(payload.value);
    if (payload.fail_status != 0) std::snprintf(text, size, "frame %d failed", payload.value);
    return payload.fail_status;
}

// Waits, at most a minute, until `count` jobs have started.
bool wait_entered(Bench &bench, int count) {
    std::unique_lock<std::mutex> lock(bench.mutex);
    return bench.opened.wait_for(lock, std::chrono::seconds(60), [&] { return bench.entered >= count; });
}

void open_gate(Bench &bench) {
    std::lock_guard<std::mutex> lock(bench.mutex);
    bench.gate_open = true;
    bench.opened.notify_all();
}

void release(void *job, void *context) {
    Bench &bench = *static_cast<Bench *>(context);
    --bench.live;
    delete static_cast<Payload *>(job);
    if (bench.release_opens_gate) open_gate(bench);
}

void release_worker(void *state, void *) { --static_cast<Bench *>(state)->worker_states; }

DyxUdilPipeline *start(Bench &bench, int workers, int capacity, int keep) {
    const DyxUdilPipelineSetup setup{workers, capacity, keep, run, release, release_worker, &bench};
    return dyx_udil_pipeline_new(&setup);
}

// Every job runs once, one worker keeps the order, memory stays bounded.
// The first failure by number is kept with its text and handed over once;
// the queued jobs behind it are dropped; afterwards jobs run again.
TEST(UdilPipeline, RunsJobsAndKeepsTheFirstFailure) {
    struct Case {
        int workers, capacity, jobs;
        std::vector<int> failing;  // when not empty: jobs wait until all are queued
    } cases[] = {{1, 2, 50, {}}, {2, 3, 200, {}},   {4, 4, 300, {}},   {3, 1, 40, {}},
                 {1, 8, 6, {1}}, {1, 8, 6, {2, 4}}, {3, 8, 6, {3, 1}}, {3, 8, 6, {2, 1}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.workers << " workers, " << c.jobs << " jobs");
        Bench bench;
        bench.gate_open = c.failing.empty();
        DyxUdilPipeline *pipeline = start(bench, c.workers, c.capacity, 0);
        ASSERT_NE(pipeline, nullptr);
        for (int k = 0; k < c.jobs; ++k) {
            const bool fails = std::find(c.failing.begin(), c.failing.end(), k) != c.failing.end();
            ASSERT_EQ(
                dyx_udil_pipeline_submit(pipeline, k, make(bench, k, fails ? 7 : 0, !c.failing.empty())), 0);
        }
        // The workers' first jobs have all started: failures among them
        // end in any order.
        ASSERT_TRUE(wait_entered(bench, std::min(c.workers, c.jobs)));
        open_gate(bench);
        dyx_udil_pipeline_drain(pipeline);
        int64_t number = -1;
        char text[64];
        if (c.failing.empty()) {
            EXPECT_EQ(dyx_udil_pipeline_failure(pipeline, nullptr, nullptr, 0), 0);
            EXPECT_LE(bench.most_live, std::max(c.capacity, c.workers) + 1);  // +1: the one being made
            std::vector<int> ran = bench.ran;
            if (c.workers > 1) std::sort(ran.begin(), ran.end());
            ASSERT_EQ(int(ran.size()), c.jobs);
            for (int k = 0; k < c.jobs; ++k) EXPECT_EQ(ran[size_t(k)], k);
        } else {
            const int first = *std::min_element(c.failing.begin(), c.failing.end());
            EXPECT_EQ(dyx_udil_pipeline_failure(pipeline, &number, text, sizeof text), 7);
            EXPECT_EQ(number, first);
            EXPECT_STREQ(text, ("frame " + std::to_string(first) + " failed").c_str());
            if (c.workers == 1) {
                EXPECT_EQ(int(bench.ran.size()), first + 1);  // nothing ran after it
            }
            EXPECT_EQ(dyx_udil_pipeline_failure(pipeline, &number, text, sizeof text), 0);
            EXPECT_STREQ(text, "");
        }
        const size_t before = bench.ran.size();
        ASSERT_EQ(dyx_udil_pipeline_submit(pipeline, 1000, make(bench, 1000)), 0);
        dyx_udil_pipeline_drain(pipeline);
        EXPECT_EQ(bench.ran.size(), before + 1);
        dyx_udil_pipeline_free(&pipeline);
        EXPECT_EQ(pipeline, nullptr);
        EXPECT_EQ(bench.live, 0);
        EXPECT_EQ(bench.worker_states, 0);
    }
}

// Results are taken by number; older ones are released, jumps find
// nothing, a discard empties the pipeline.
TEST(UdilPipeline, TakesResultsByNumber) {
    for (int workers : {1, 2, 4}) {
        Bench bench;
        DyxUdilPipeline *pipeline = start(bench, workers, 4, 1);
        ASSERT_NE(pipeline, nullptr);
        for (int k = 0; k < 4; ++k)
            ASSERT_EQ(dyx_udil_pipeline_submit(pipeline, k, make(bench, k, k == 1)), 0);
        dyx_udil_pipeline_drain(pipeline);
        EXPECT_EQ(dyx_udil_pipeline_submit(pipeline, 9, make(bench, 9)), 1);  // full of results: no wait
        void *job = nullptr;
        char text[64];
        EXPECT_EQ(dyx_udil_pipeline_take(pipeline, 1, &job, text, sizeof text), 1);
        ASSERT_NE(job, nullptr);
        EXPECT_EQ(static_cast<Payload *>(job)->value, 1);
        EXPECT_STREQ(text, "frame 1 failed");
        release(job, &bench);
        EXPECT_FALSE(dyx_udil_pipeline_holds(pipeline, 0));  // released by the take of 1
        EXPECT_EQ(dyx_udil_pipeline_take(pipeline, 0, &job, text, sizeof text), -1);
        EXPECT_EQ(job, nullptr);
        EXPECT_TRUE(dyx_udil_pipeline_holds(pipeline, 3));
        EXPECT_EQ(dyx_udil_pipeline_take(pipeline, 3, &job, text, sizeof text), 0);
        release(job, &bench);
        for (int k = 4; k < 8; ++k) ASSERT_EQ(dyx_udil_pipeline_submit(pipeline, k, make(bench, k)), 0);
        dyx_udil_pipeline_discard(pipeline);
        EXPECT_FALSE(dyx_udil_pipeline_holds(pipeline, 5));
        EXPECT_EQ(bench.live, 0);
        dyx_udil_pipeline_free(&pipeline);
    }
}

// Freeing drops the jobs queued behind a running one (the first one
// dropped lets the running one finish) and waits for the running one.
// Setups without workers, with too many or without a job function are
// refused.
TEST(UdilPipeline, FreeDropsQueuedJobsAndBadSetupsAreRefused) {
    Bench bench;
    for (int workers : {0, 257}) EXPECT_EQ(start(bench, workers, 4, 0), nullptr) << workers;
    const DyxUdilPipelineSetup no_run{1, 1, 0, nullptr, release, nullptr, &bench};
    EXPECT_EQ(dyx_udil_pipeline_new(&no_run), nullptr);
    dyx_udil_pipeline_free(nullptr);
    bench.gate_open = false;
    bench.release_opens_gate = true;
    DyxUdilPipeline *pipeline = start(bench, 1, 8, 0);
    ASSERT_NE(pipeline, nullptr);
    for (int k = 0; k < 5; ++k) ASSERT_EQ(dyx_udil_pipeline_submit(pipeline, k, make(bench, k, 0, true)), 0);
    ASSERT_TRUE(wait_entered(bench, 1));
    dyx_udil_pipeline_free(&pipeline);
    EXPECT_EQ(bench.live, 0);
    EXPECT_EQ(bench.ran, std::vector<int>{0});
}

}  // namespace
