// Registry of unique ids: a 1000-slot hash table under one mutex.
#include "dyx_uid.h"

#include <pthread.h>

#include <cstdint>

#include "dyx_hash.h"
#include "dyx_status.h"

namespace {

constexpr int32_t kSlots = 1000;
constexpr int32_t kEntriesPerChunk = 1000;
constexpr uint64_t kKeyMask = (uint64_t{1} << 48) - 1;

struct Words {
    int64_t first;
    int64_t second;
};

struct Registry {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    int64_t next_id = 1;
    dyx_hash_t *table = nullptr;
};

Registry registry;

class RegistryLock {
public:
    RegistryLock() { pthread_mutex_lock(&registry.mutex); }
    ~RegistryLock() { pthread_mutex_unlock(&registry.mutex); }
    RegistryLock(const RegistryLock &) = delete;
    RegistryLock &operator=(const RegistryLock &) = delete;
};

// Called with the registry locked; false when the table cannot be made.
bool ensure_table() {
    if (registry.table == nullptr) {
        registry.table = dyx_hash_create(kSlots, kEntriesPerChunk, sizeof(int64_t), sizeof(Words), 0);
    }
    return registry.table != nullptr;
}

int64_t key_of(int64_t id) { return static_cast<int64_t>(static_cast<uint64_t>(id) & kKeyMask); }
int32_t slot_of(int64_t key) { return static_cast<int32_t>(static_cast<uint64_t>(key) % kSlots); }

}  // namespace

extern "C" {

void dyx_uid_init(void) {
    RegistryLock lock;
    ensure_table();
}

int64_t dyx_uid_new(int64_t first, int64_t second) {
    RegistryLock lock;
    if (!ensure_table()) return 0;
    const int64_t id = registry.next_id;
    const Words words = {first, second};
    if (dyx_hash_add(registry.table, slot_of(id), &id, &words) != 0) return 0;
    ++registry.next_id;
    return id;
}

int dyx_uid_find(int64_t id, int64_t *first, int64_t *second) {
    const int64_t key = key_of(id);
    Words words;
    RegistryLock lock;
    if (registry.table == nullptr || dyx_hash_find(registry.table, slot_of(key), &key, &words) != 1)
        return DYX_NOT_FOUND;
    if (first != nullptr) *first = words.first;
    if (second != nullptr) *second = words.second;
    return DYX_OK;
}

int dyx_uid_destroy(int64_t id) {
    const int64_t key = key_of(id);
    RegistryLock lock;
    if (registry.table == nullptr || dyx_hash_remove(registry.table, slot_of(key), &key, nullptr) != 0)
        return DYX_BAD_ARGUMENT;
    return DYX_OK;
}

int64_t dyx_uid_next(void) {
    RegistryLock lock;
    return registry.next_id;
}

}  // extern "C"
