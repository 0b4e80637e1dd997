// Memory pool against malloc: allocate a batch of elements, then free it,
// in one thread and in two library threads at once.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "dyx_mpool.h"
#include "dyx_thread.h"

namespace {

constexpr int kBatch = 64;  // elements held at once by each thread

struct PoolAllocator {
    dyx_mpool_t *pool;
    void *take() { return dyx_mpool_alloc(pool); }
    void give(void *element) { dyx_mpool_free(pool, element); }
};

struct MallocAllocator {
    size_t size;
    void *take() { return std::malloc(size); }
    void give(void *element) { std::free(element); }
};

// One round: kBatch allocations, a write to each, then kBatch frees.
template <typename Allocator>
void round_trip(Allocator &allocator, void **held) {
    for (int i = 0; i < kBatch; ++i) {
        held[i] = allocator.take();
        *static_cast<char *>(held[i]) = 1;
    }
    benchmark::ClobberMemory();
    for (int i = 0; i < kBatch; ++i) allocator.give(held[i]);
}

template <typename Allocator>
void run_single(benchmark::State &state, Allocator allocator) {
    void *held[kBatch];
    for (auto _ : state) round_trip(allocator, held);
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_PoolSingleThread(benchmark::State &state) {
    dyx_thread_init();
    dyx_mpool_t *pool = dyx_mpool_create(static_cast<uint32_t>(state.range(0)), kBatch);
    run_single(state, PoolAllocator{pool});
    dyx_mpool_destroy(&pool);
}

void BM_MallocSingleThread(benchmark::State &state) {
    run_single(state, MallocAllocator{static_cast<size_t>(state.range(0))});
}

// Allocation alone (the pool's lock-free fast path, with a refill every
// batch): only the allocations are timed, the frees are not.
template <typename Allocator>
void run_alloc_only(benchmark::State &state, Allocator allocator) {
    constexpr int kCount = 1024;
    std::vector<void *> held(kCount);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kCount; ++i) held[i] = allocator.take();
        benchmark::DoNotOptimize(held.data());
        const auto stop = std::chrono::steady_clock::now();
        for (int i = 0; i < kCount; ++i) allocator.give(held[i]);
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}

void BM_PoolAllocOnly(benchmark::State &state) {
    dyx_thread_init();
    dyx_mpool_t *pool = dyx_mpool_create(static_cast<uint32_t>(state.range(0)), kBatch);
    run_alloc_only(state, PoolAllocator{pool});
    dyx_mpool_destroy(&pool);
}

void BM_MallocAllocOnly(benchmark::State &state) {
    run_alloc_only(state, MallocAllocator{static_cast<size_t>(state.range(0))});
}

// Two library threads (each with its own thread index, as the pool needs)
// run the same number of rounds; the wall time of the pair is reported.
template <typename Allocator>
struct TwoThreadRun {
    Allocator allocator;
    int64_t rounds;

    static int32_t work(void *self) {
        auto *run = static_cast<TwoThreadRun *>(self);
        Allocator allocator = run->allocator;
        void *held[kBatch];
        for (int64_t r = 0; r < run->rounds; ++r) round_trip(allocator, held);
        return 0;
    }

    double seconds() {
        const auto start = std::chrono::steady_clock::now();
        int32_t first = 0, second = 0;
        const bool started =
            dyx_thread_create(&first, work, this) == 0 && dyx_thread_create(&second, work, this) == 0;
        dyx_thread_join(&first, nullptr);
        dyx_thread_join(&second, nullptr);
        if (!started) return -1;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
};

constexpr int64_t kRoundsPerIteration = 2000;

template <typename Allocator>
void run_two(benchmark::State &state, Allocator allocator) {
    dyx_thread_init();
    TwoThreadRun<Allocator> run{allocator, kRoundsPerIteration};
    for (auto _ : state) {
        const double seconds = run.seconds();
        if (seconds < 0) {
            state.SkipWithError("threads could not start");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations() * kRoundsPerIteration * kBatch * 2);
}

void BM_PoolTwoThreads(benchmark::State &state) {
    dyx_mpool_t *pool = dyx_mpool_create(static_cast<uint32_t>(state.range(0)), kBatch);
    run_two(state, PoolAllocator{pool});
    dyx_mpool_destroy(&pool);
}

void BM_MallocTwoThreads(benchmark::State &state) {
    run_two(state, MallocAllocator{static_cast<size_t>(state.range(0))});
}

}  // namespace

BENCHMARK(BM_PoolSingleThread)->Arg(32)->Arg(256);
BENCHMARK(BM_MallocSingleThread)->Arg(32)->Arg(256);
BENCHMARK(BM_PoolAllocOnly)->Arg(32)->Arg(256)->UseManualTime();
BENCHMARK(BM_MallocAllocOnly)->Arg(32)->Arg(256)->UseManualTime();
BENCHMARK(BM_PoolTwoThreads)->Arg(32)->Arg(256)->UseManualTime();
BENCHMARK(BM_MallocTwoThreads)->Arg(32)->Arg(256)->UseManualTime();
