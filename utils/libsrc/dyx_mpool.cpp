// Memory pools: a lock-free private free list per thread index, refilled in
// whole batches from a shared list or a new chunk under the pool's lock.
#include "dyx_mpool.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

#include "dyx_malloc.h"
#include "dyx_thread.h"
#include "dyx_thread_index.h"

namespace {

// A free element's first 8 bytes link it to the next free element.
struct FreeElement {
    FreeElement *next;
};

// A chunk's first 8 bytes link it to the next (older) chunk.
struct ChunkHeader {
    ChunkHeader *next;
};
constexpr size_t kChunkHeaderSize = 8;
static_assert(sizeof(ChunkHeader) == kChunkHeaderSize, "elements follow an 8-byte link");

// A thread's private free list. Only its own thread touches `head`; the
// length is kept beside it so that dyx_mpool_status can count without
// walking lists other threads are popping from.
struct ThreadList {
    FreeElement *head;
    std::atomic<int32_t> length;
};

// Consecutive thread indices would share a cache line and slow each other
// down; spread them so that neighbours land four lines apart.
constexpr int32_t kListsPerLine = 64 / sizeof(ThreadList);
constexpr int32_t kLineCount = DYX_MAX_THREADS / kListsPerLine;
static_assert(DYX_MAX_THREADS % kListsPerLine == 0, "thread lists fill whole cache lines");

int32_t list_position(int32_t thread_index) {
    return (thread_index % kLineCount) * kListsPerLine + thread_index / kLineCount;
}

}  // namespace

struct dyx_mpool {
    uint32_t element_size;
    int32_t per_chunk;
    ThreadList thread_lists[DYX_MAX_THREADS];
    pthread_mutex_t lock;
    // Freeing pushes onto the shared list without the lock; only a holder
    // of the lock takes elements off it, so a taker never sees a head it
    // read come back (no ABA) and the links behind the head stay put.
    // The shared list keeps no count, so that a free is one atomic
    // compare-and-swap: a refill walks the few links it needs anyway.
    std::atomic<FreeElement *> shared_head;
    std::atomic<ChunkHeader *> chunks;  // written under lock, newest first
    std::atomic<int32_t> chunk_count;   // written under lock
};

namespace {

// Pops the head of a thread's list; the caller has checked it is not empty.
void *pop(ThreadList &list) {
    FreeElement *element = list.head;
    list.head = element->next;
    list.length.store(list.length.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
    return element;
}

// The n-th element from `first`, or null when the list is shorter.
FreeElement *nth_element(FreeElement *first, int32_t n) {
    FreeElement *element = first;
    for (int32_t i = 1; element != nullptr && i < n; ++i) element = element->next;
    return element;
}

// Moves the first n elements of the shared list to the thread's list when
// it holds at least n; false otherwise. Called with the pool locked.
bool take_shared_batch(dyx_mpool_t *pool, ThreadList &list) {
    FreeElement *first = pool->shared_head.load(std::memory_order_acquire);
    FreeElement *last;
    do {
        last = nth_element(first, pool->per_chunk);
        if (last == nullptr) return false;
        // A concurrent free may have pushed a new head: walk again from it.
    } while (!pool->shared_head.compare_exchange_weak(first, last->next, std::memory_order_acquire,
                                                      std::memory_order_acquire));
    last->next = nullptr;
    list.head = first;
    list.length.store(pool->per_chunk, std::memory_order_relaxed);
    return true;
}

// Length of the shared list; with the pool locked nothing is taken off it
// meanwhile, and frees only add in front of the head read here.
int64_t shared_length(dyx_mpool_t *pool) {
    int64_t length = 0;
    for (FreeElement *e = pool->shared_head.load(std::memory_order_acquire); e != nullptr; e = e->next)
        ++length;
    return length;
}

uint64_t chunk_bytes(const dyx_mpool_t *pool) {
    return kChunkHeaderSize + uint64_t{pool->element_size} * static_cast<uint64_t>(pool->per_chunk);
}

// Links a new chunk's elements in address order into the thread's list.
void link_chunk(dyx_mpool_t *pool, ChunkHeader *chunk, ThreadList &list) {
    char *element = reinterpret_cast<char *>(chunk) + kChunkHeaderSize;
    const size_t step = pool->element_size;
    for (int32_t i = 0; i + 1 < pool->per_chunk; ++i, element += step) {
        reinterpret_cast<FreeElement *>(element)->next = reinterpret_cast<FreeElement *>(element + step);
    }
    reinterpret_cast<FreeElement *>(element)->next = nullptr;
    list.head = reinterpret_cast<FreeElement *>(reinterpret_cast<char *>(chunk) + kChunkHeaderSize);
    list.length.store(pool->per_chunk, std::memory_order_relaxed);
}

// One element for a thread without private lists (see kForeignThread):
// everything happens under the pool's lock and on the shared list, so such
// threads may allocate at the same time as each other and as the library's
// own threads.
void *alloc_shared(dyx_mpool_t *pool) {
    pthread_mutex_lock(&pool->lock);
    // Only lock holders take elements off, so the head's link stays put.
    FreeElement *element = pool->shared_head.load(std::memory_order_acquire);
    while (element != nullptr &&
           !pool->shared_head.compare_exchange_weak(element, element->next, std::memory_order_acquire,
                                                    std::memory_order_acquire)) {
    }
    if (element == nullptr) {
        ChunkHeader *chunk = nullptr;
        dyx_malloc("dyx_mpool_alloc", &chunk, chunk_bytes(pool), __LINE__, __FILE__);
        if (chunk != nullptr) {
            chunk->next = pool->chunks.load(std::memory_order_relaxed);
            pool->chunks.store(chunk, std::memory_order_release);
            pool->chunk_count.store(pool->chunk_count.load(std::memory_order_relaxed) + 1,
                                    std::memory_order_relaxed);
            // The chunk's first element is the caller's; the rest join the
            // shared list in one push.
            ThreadList fresh;
            link_chunk(pool, chunk, fresh);
            element = fresh.head;
            FreeElement *rest = element->next;
            if (rest != nullptr) {
                FreeElement *last = nth_element(rest, pool->per_chunk - 1);
                last->next = pool->shared_head.load(std::memory_order_relaxed);
                while (!pool->shared_head.compare_exchange_weak(last->next, rest, std::memory_order_release,
                                                                std::memory_order_relaxed)) {
                }
            }
        }
    }
    pthread_mutex_unlock(&pool->lock);
    return element;
}

}  // namespace

extern "C" {

dyx_mpool_t *dyx_mpool_create(uint32_t element_size, int32_t per_chunk) {
    // A chunk must hold at least one element, and the rounded size must
    // still fit the record's 32-bit field.
    uint64_t size = element_size < 16 ? 16 : element_size;
    size = (size + 7) & ~uint64_t{7};
    if (per_chunk < 1 || size > UINT32_MAX) return nullptr;

    void *memory = nullptr;
    dyx_malloc("dyx_mpool_create", &memory, sizeof(dyx_mpool), __LINE__, __FILE__);
    if (memory == nullptr) return nullptr;
    auto *pool = new (memory) dyx_mpool;
    pool->element_size = static_cast<uint32_t>(size);
    pool->per_chunk = per_chunk;
    for (ThreadList &list : pool->thread_lists) {
        list.head = nullptr;
        list.length.store(0, std::memory_order_relaxed);
    }
    pthread_mutex_init(&pool->lock, nullptr);
    pool->shared_head.store(nullptr, std::memory_order_relaxed);
    pool->chunks.store(nullptr, std::memory_order_relaxed);
    pool->chunk_count.store(0, std::memory_order_relaxed);
    return pool;
}

void *dyx_mpool_alloc(dyx_mpool_t *pool) {
    if (pool == nullptr) return nullptr;
    int32_t index = dyx_thread_detail::thread_index();
    if (index == dyx_thread_detail::kForeignThread) {
        // Python's threads and std::thread workers have no private lists.
        if (!dyx_thread_detail::adopt_slot_zero()) return alloc_shared(pool);
        index = 0;
    }
    if (index < 0 || index >= DYX_MAX_THREADS) {
        dyx_error("Bad thread index in dyx_mpool_alloc\n");
        return nullptr;
    }
    ThreadList &list = pool->thread_lists[list_position(index)];
    if (list.head != nullptr) return pop(list);

    pthread_mutex_lock(&pool->lock);
    if (take_shared_batch(pool, list)) {
        pthread_mutex_unlock(&pool->lock);
        return pop(list);
    }
    ChunkHeader *chunk = nullptr;
    dyx_malloc("dyx_mpool_alloc", &chunk, chunk_bytes(pool), __LINE__, __FILE__);
    if (chunk == nullptr) {
        pthread_mutex_unlock(&pool->lock);
        return nullptr;
    }
    chunk->next = pool->chunks.load(std::memory_order_relaxed);
    pool->chunks.store(chunk, std::memory_order_release);
    pool->chunk_count.store(pool->chunk_count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    pthread_mutex_unlock(&pool->lock);
    link_chunk(pool, chunk, list);
    return pop(list);
}

void dyx_mpool_free(dyx_mpool_t *pool, void *element) {
    if (pool == nullptr || element == nullptr) return;
    auto *freed = static_cast<FreeElement *>(element);
    freed->next = pool->shared_head.load(std::memory_order_relaxed);
    while (!pool->shared_head.compare_exchange_weak(freed->next, freed, std::memory_order_release,
                                                    std::memory_order_relaxed)) {
    }
}

int dyx_mpool_verify_ptr(dyx_mpool_t *pool, const void *address) {
    if (pool == nullptr || address == nullptr) return 0;
    const auto where = reinterpret_cast<uintptr_t>(address);
    const uint64_t bytes = chunk_bytes(pool);
    for (const ChunkHeader *chunk = pool->chunks.load(std::memory_order_acquire); chunk != nullptr;
         chunk = chunk->next) {
        const auto start = reinterpret_cast<uintptr_t>(chunk);
        if (where >= start && where - start < bytes) return 1;
    }
    return 0;
}

void dyx_mpool_status(dyx_mpool_t *pool, uint32_t *total, uint32_t *free_count) {
    uint64_t chunk_total = 0;
    int64_t free_total = 0;
    if (pool != nullptr) {
        chunk_total = uint64_t(pool->chunk_count.load(std::memory_order_relaxed)) * uint64_t(pool->per_chunk);
        pthread_mutex_lock(&pool->lock);
        free_total = shared_length(pool);
        pthread_mutex_unlock(&pool->lock);
        for (const ThreadList &list : pool->thread_lists)
            free_total += list.length.load(std::memory_order_relaxed);
    }
    if (total != nullptr) *total = static_cast<uint32_t>(chunk_total);
    if (free_count != nullptr) *free_count = static_cast<uint32_t>(free_total);
}

void dyx_mpool_destroy(dyx_mpool_t **pool) {
    if (pool == nullptr || *pool == nullptr) return;
    dyx_mpool_t *doomed = *pool;
    ChunkHeader *chunk = doomed->chunks.load(std::memory_order_relaxed);
    while (chunk != nullptr) {
        ChunkHeader *next = chunk->next;
        dyx_free(chunk, __LINE__, __FILE__);
        chunk = next;
    }
    pthread_mutex_destroy(&doomed->lock);
    doomed->~dyx_mpool();
    dyx_free(doomed, __LINE__, __FILE__);
    *pool = nullptr;
}

void dyx_mpool_check_corruption(dyx_mpool_t *) {}

void dyx_mpool_debug(dyx_mpool_t *) {}

}  // extern "C"
