// Block cache: one pointer list of entries ordered free, unlocked, locked.
// The two "most recent" node pointers mark the ends of the free and the
// unlocked runs, so that entries can be inserted at the right place
// without walking the list.
#include "dyx_cache.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "dyx_list.h"
#include "dyx_malloc.h"
#include "dyx_status.h"

namespace {

struct CacheEntry {
    int32_t locked;
    uint64_t size;  // bytes usable in the block
    void **owner;   // null while the entry is free
    char *block;    // size + 8 bytes; the first 8 hold the entry's address
    dyx_plist_node_t *node;
};

constexpr uint64_t kBlockHeader = 8;
static_assert(sizeof(CacheEntry *) == kBlockHeader, "the block starts with the entry's address");

struct CacheState {
    dyx_plist_t *list = nullptr;
    uint64_t max_memory = 0;
    uint64_t current_memory = 0;
    dyx_plist_node_t *mru_unlocked = nullptr;  // last of the unlocked run
    dyx_plist_node_t *mru_free = nullptr;      // last of the free run
};

CacheState cache;
// Every exported call holds it; recursive because realloc of an owner
// without a block is an alloc.
std::recursive_mutex cache_lock;
using CacheGuard = std::lock_guard<std::recursive_mutex>;

CacheEntry *entry_of(const dyx_plist_node_t *node) { return static_cast<CacheEntry *>(node->item); }

uint64_t limit_in_bytes(int32_t megabytes) {
    return megabytes < 1 ? uint64_t{1} << 40 : static_cast<uint64_t>(megabytes) << 20;
}

// CurrentMemory + wanted stays within the limit (without overflowing).
bool fits(uint64_t wanted) {
    return wanted <= cache.max_memory && cache.current_memory <= cache.max_memory - wanted;
}

// CurrentMemory + wanted stays below the limit.
bool below_limit(uint64_t wanted) {
    return wanted < cache.max_memory && cache.current_memory < cache.max_memory - wanted;
}

// Takes a node out of the list; a most-recent pointer on it moves to the
// previous node while that one is still of the same kind.
void detach(dyx_plist_node_t *node) {
    if (node == cache.mru_unlocked) {
        dyx_plist_node_t *previous = node->prev;
        cache.mru_unlocked = previous != nullptr && entry_of(previous)->owner != nullptr ? previous : nullptr;
    }
    if (node == cache.mru_free) cache.mru_free = node->prev;
    dyx_plist_remove(cache.list, node);
}

void insert_after_or_at_front(dyx_plist_node_t *node, dyx_plist_node_t *after) {
    if (after != nullptr) {
        dyx_plist_insert_after(cache.list, after, node);
    } else {
        dyx_plist_prepend(cache.list, node);
    }
}

void release_block(CacheEntry *entry) {
    if (entry->block != nullptr) {
        dyx_free(entry->block, __LINE__, __FILE__);
        cache.current_memory -= entry->size;
    }
    entry->block = nullptr;
    entry->size = 0;
}

// Frees an entry that is out of the list, with its node.
void dispose(CacheEntry *entry) {
    release_block(entry);
    dyx_plist_free(&entry->node);
    dyx_free(entry, __LINE__, __FILE__);
}

// Takes blocks away from the front until `wanted` more bytes fit or a
// locked entry is reached. An entry that loses its owner is free from
// then on and ends the free run, which keeps the list order intact.
void make_room(uint64_t wanted) {
    for (dyx_plist_node_t *node = dyx_plist_first(cache.list); node != nullptr; node = node->next) {
        CacheEntry *entry = entry_of(node);
        if (entry->locked) break;
        if (entry->owner != nullptr) {
            *entry->owner = nullptr;
            entry->owner = nullptr;
            if (node == cache.mru_unlocked) cache.mru_unlocked = nullptr;
            cache.mru_free = node;
        }
        release_block(entry);
        if (fits(wanted)) break;
    }
}

// Gives the entry's block to the owner and locks it at the list's end.
void hand_out(CacheEntry *entry, void **owner) {
    entry->owner = owner;
    entry->locked = 1;
    std::memcpy(entry->block, &entry, sizeof entry);
    *owner = entry->block + kBlockHeader;
    dyx_plist_append(cache.list, entry->node);
}

// Grows (or first allocates) the entry's block to hold `size` bytes,
// keeping its contents. False when memory ran out: the block is gone.
bool grow_block(CacheEntry *entry, uint64_t size, const char *what) {
    if (size > UINT64_MAX - kBlockHeader) {
        release_block(entry);
        return false;
    }
    char *block = entry->block;
    dyx_realloc(what, &block, size + kBlockHeader, __LINE__, __FILE__);
    if (block == nullptr) {
        // dyx_realloc has already released the old block.
        cache.current_memory -= entry->size;
        entry->block = nullptr;
        entry->size = 0;
        return false;
    }
    cache.current_memory += size - entry->size;
    entry->block = block;
    entry->size = size;
    return true;
}

// The entry of the owner's block; the process aborts when the block is
// recorded for another owner. Null when there is nothing to look at.
CacheEntry *owned_entry(void **owner) {
    if (cache.list == nullptr || owner == nullptr || *owner == nullptr) return nullptr;
    CacheEntry *entry;
    std::memcpy(&entry, static_cast<char *>(*owner) - kBlockHeader, sizeof entry);
    if (entry->owner != owner) std::abort();
    return entry;
}

CacheEntry *new_entry() {
    CacheEntry *entry = nullptr;
    dyx_malloc("add_new_entry", &entry, sizeof(CacheEntry), __LINE__, __FILE__);
    if (entry == nullptr) return nullptr;
    *entry = CacheEntry{0, 0, nullptr, nullptr, dyx_plist_alloc()};
    if (entry->node == nullptr) {
        dyx_free(entry, __LINE__, __FILE__);
        return nullptr;
    }
    entry->node->item = entry;
    return entry;
}

// Reports one problem found by dyx_cache_check; aborts when asked to.
struct CheckReport {
    bool abort_on_problem;
    void problem(const char *format, const char *kind, int position, unsigned long long value = 0) const {
        dyx_info(format, kind, position, value);
        if (abort_on_problem) std::abort();
    }
};

}  // namespace

extern "C" {

int dyx_cache_init(int32_t megabytes) {
    CacheGuard guard(cache_lock);
    if (cache.list == nullptr) {
        cache.list = dyx_plist_create();
        if (cache.list == nullptr) return DYX_NO_MEMORY;
        cache.current_memory = 0;
        cache.mru_unlocked = cache.mru_free = nullptr;
    }
    cache.max_memory = limit_in_bytes(megabytes);
    return DYX_OK;
}

int dyx_cache_set_max_size(int32_t megabytes) {
    CacheGuard guard(cache_lock);
    cache.max_memory = limit_in_bytes(megabytes);
    return DYX_OK;
}

void dyx_cache_alloc(void **owner, uint64_t size) {
    CacheGuard guard(cache_lock);
    if (cache.list == nullptr || owner == nullptr || size == 0) return;
    *owner = nullptr;
    if (!fits(size)) make_room(size);

    CacheEntry *entry = nullptr;
    dyx_plist_node_t *first = dyx_plist_first(cache.list);
    if (first != nullptr) {
        CacheEntry *candidate = entry_of(first);
        // An unlocked block is taken over only when the cache is full.
        if (candidate->owner == nullptr || (!candidate->locked && !below_limit(size))) entry = candidate;
    }
    if (entry != nullptr) {
        detach(entry->node);
        if (entry->owner != nullptr) {
            *entry->owner = nullptr;
            entry->owner = nullptr;
        }
    } else {
        entry = new_entry();
        if (entry == nullptr) return;
    }
    if (entry->block == nullptr || entry->size < size) {
        // Nothing in the block needs keeping: a fresh one will do.
        release_block(entry);
        if (!grow_block(entry, size, "dyx_cache_alloc")) {
            dispose(entry);
            return;
        }
    }
    hand_out(entry, owner);
}

void dyx_cache_realloc(void **owner, uint64_t size) {
    CacheGuard guard(cache_lock);
    if (cache.list == nullptr || owner == nullptr) return;
    if (*owner == nullptr) {
        dyx_cache_alloc(owner, size);
        return;
    }
    CacheEntry *entry = owned_entry(owner);
    detach(entry->node);
    entry->locked = 1;
    if (size > entry->size) {
        *owner = nullptr;
        // The entry is out of the list, so making room cannot take its block.
        const uint64_t growth = size - entry->size;
        if (!fits(growth)) make_room(growth);
        if (!grow_block(entry, size, "dyx_cache_realloc")) {
            entry->owner = nullptr;
            dispose(entry);
            return;
        }
    }
    hand_out(entry, owner);
}

void dyx_cache_free(void **owner) {
    CacheGuard guard(cache_lock);
    CacheEntry *entry = owned_entry(owner);
    if (entry == nullptr) return;
    entry->owner = nullptr;
    *owner = nullptr;
    entry->locked = 0;
    detach(entry->node);
    insert_after_or_at_front(entry->node, cache.mru_free);
    cache.mru_free = entry->node;
}

void dyx_cache_unlock(void **owner) {
    CacheGuard guard(cache_lock);
    CacheEntry *entry = owned_entry(owner);
    if (entry == nullptr || !entry->locked) return;
    entry->locked = 0;
    detach(entry->node);
    insert_after_or_at_front(entry->node,
                             cache.mru_unlocked != nullptr ? cache.mru_unlocked : cache.mru_free);
    cache.mru_unlocked = entry->node;
}

void dyx_cache_lock(void **owner) {
    CacheGuard guard(cache_lock);
    CacheEntry *entry = owned_entry(owner);
    if (entry == nullptr || entry->locked) return;
    entry->locked = 1;
    detach(entry->node);
    dyx_plist_append(cache.list, entry->node);
}

void dyx_cache_check(int32_t abort_on_problem) {
    CacheGuard guard(cache_lock);
    if (cache.list == nullptr) {
        dyx_info("dyx_cache_check: not initialized\n");
        return;
    }
    const CheckReport report{abort_on_problem != 0};
    int position = 0, locked = 0, unlocked = 0, free_entries = 0;
    uint64_t size_sum = 0;
    for (dyx_plist_node_t *node = dyx_plist_first(cache.list); node != nullptr;
         node = node->next, ++position) {
        const CacheEntry *entry = entry_of(node);
        size_sum += entry->size;
        if (!entry->locked && entry->owner == nullptr) {
            if (locked + unlocked > 0) {
                dyx_info("dyx_cache_check: out of order free entry %d %d %d\n", position, locked, unlocked);
                if (report.abort_on_problem) std::abort();
            }
            ++free_entries;
            continue;
        }
        const char *kind = entry->locked ? "locked" : "unlocked";
        if (!entry->locked && locked > 0) {
            dyx_info("dyx_cache_check: out of order unlocked entry %d %d %d\n", position, locked, unlocked);
            if (report.abort_on_problem) std::abort();
        }
        ++(entry->locked ? locked : unlocked);
        if (entry->block == nullptr)
            report.problem("dyx_cache_check: %s entry %d has a NULL block!", kind, position);
        if (entry->owner == nullptr) {
            report.problem("dyx_cache_check: %s entry %d has a NULL callerAddress!", kind, position);
        } else if (entry->block != nullptr && *entry->owner != entry->block + kBlockHeader) {
            report.problem("dyx_cache_check: %s entry %d has a bad callerAddress!", kind, position);
        }
        if (entry->size == 0)
            report.problem("dyx_cache_check: %s entry %d has a bad size %llu!", kind, position, 0);
    }
    dyx_info("dyx_cache_check: size %llu %llu\n", static_cast<unsigned long long>(size_sum),
             static_cast<unsigned long long>(cache.current_memory));
    dyx_info("dyx_cache_check: NumEntries %d locked %d unlocked %d free %d\n", position, locked, unlocked,
             free_entries);
}

void dyx_cache_done(void) {
    CacheGuard guard(cache_lock);
    if (cache.list != nullptr) {
        for (dyx_plist_node_t *node = dyx_plist_first(cache.list); node != nullptr; node = node->next) {
            CacheEntry *entry = entry_of(node);
            if (entry->owner != nullptr) *entry->owner = nullptr;
            if (entry->block != nullptr) dyx_free(entry->block, __LINE__, __FILE__);
            dyx_free(entry, __LINE__, __FILE__);
        }
        dyx_plist_destroy(&cache.list);
    }
    cache = CacheState{};
}

}  // extern "C"
