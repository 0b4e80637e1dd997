// Caller-hashed tables: each slot is an element list of key+value entries.
#include "dyx_hash.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dyx_list.h"
#include "dyx_malloc.h"
#include "dyx_status.h"

struct dyx_hash {
    int32_t slots;
    int32_t per_chunk;
    int32_t key_size;
    int32_t value_size;
    int32_t remove_on_find;
    dyx_list_t **lists;  // one per slot, null until the slot's first entry
    dyx_list_pool_t *entries;
};

struct dyx_hash_pairs {
    int32_t slots;
    int32_t per_chunk;
    int32_t key_size;
    int32_t value_size;
    int32_t remove_on_find;
    dyx_hash_t *table;
};

namespace {

constexpr int32_t kPairKeySize = 8;

bool valid_slot(const dyx_hash_t *table, int32_t slot) { return slot >= 0 && slot < table->slots; }

const unsigned char *key_of(const void *entry) { return static_cast<const unsigned char *>(entry); }
unsigned char *value_of(const dyx_hash_t *table, void *entry) {
    return static_cast<unsigned char *>(entry) + table->key_size;
}

void *find_entry(const dyx_hash_t *table, int32_t slot, const void *key) {
    const dyx_list_t *list = table->lists[slot];
    for (void *entry = dyx_list_first(list); entry != nullptr; entry = dyx_list_next(entry)) {
        if (std::memcmp(key_of(entry), key, static_cast<size_t>(table->key_size)) == 0) return entry;
    }
    return nullptr;
}

void copy_value_out(const dyx_hash_t *table, void *entry, void *value) {
    if (table->value_size > 0 && value != nullptr) {
        std::memcpy(value, value_of(table, entry), static_cast<size_t>(table->value_size));
    }
}

void unlink_and_free(dyx_hash_t *table, int32_t slot, void *entry) {
    dyx_list_remove(table->lists[slot], entry);
    dyx_list_free(table->lists[slot], entry);
}

// A key of size 0 needs no bytes; any other needs an address.
bool usable_key(const dyx_hash_t *table, const void *key) { return key != nullptr || table->key_size == 0; }

// The pair as an 8-byte key, smaller integer first.
void pair_key(int32_t a, int32_t b, unsigned char key[kPairKeySize]) {
    const int32_t low = a < b ? a : b;
    const int32_t high = a < b ? b : a;
    std::memcpy(key, &low, 4);
    std::memcpy(key + 4, &high, 4);
}

}  // namespace

extern "C" {

dyx_hash_t *dyx_hash_create(int32_t slots, int32_t per_chunk, int32_t key_size, int32_t value_size,
                            int32_t remove_on_find) {
    if (slots < 1 || per_chunk < 1 || key_size < 0 || value_size < 0) return nullptr;
    dyx_hash_t *table = nullptr;
    dyx_malloc("dyx_hash_create", &table, sizeof(dyx_hash_t), __LINE__, __FILE__);
    if (table == nullptr) return nullptr;
    table->slots = slots;
    table->per_chunk = per_chunk;
    table->key_size = key_size;
    table->value_size = value_size;
    table->remove_on_find = remove_on_find;
    table->entries = nullptr;
    dyx_malloc("dyx_hash_create", &table->lists, sizeof(dyx_list_t *) * static_cast<uint64_t>(slots),
               __LINE__, __FILE__);
    if (table->lists != nullptr) {
        std::memset(table->lists, 0, sizeof(dyx_list_t *) * static_cast<size_t>(slots));
        table->entries =
            dyx_list_pool_create(static_cast<uint32_t>(key_size) + static_cast<uint32_t>(value_size),
                                 static_cast<uint32_t>(per_chunk), 1);
    }
    if (table->entries == nullptr) {
        dyx_free(table->lists, __LINE__, __FILE__);
        dyx_free(table, __LINE__, __FILE__);
        return nullptr;
    }
    return table;
}

void dyx_hash_destroy(dyx_hash_t **table) {
    if (table == nullptr || *table == nullptr) return;
    // Destroying the pool releases every entry and list header at once.
    dyx_list_pool_destroy(&(*table)->entries);
    dyx_free((*table)->lists, __LINE__, __FILE__);
    dyx_free(*table, __LINE__, __FILE__);
    *table = nullptr;
}

void dyx_hash_reinit(dyx_hash_t *table) {
    if (table == nullptr) return;
    for (int32_t slot = 0; slot < table->slots; ++slot) dyx_list_destroy(&table->lists[slot]);
}

int dyx_hash_add(dyx_hash_t *table, int32_t slot, const void *key, const void *value) {
    if (table == nullptr) return DYX_OK;
    if (!valid_slot(table, slot) || !usable_key(table, key)) return DYX_BAD_ARGUMENT;
    dyx_list_t *&list = table->lists[slot];
    if (list == nullptr) list = dyx_list_create(table->entries);
    if (list == nullptr) return DYX_NO_MEMORY;
    void *entry = dyx_list_alloc(list);
    if (entry == nullptr) return DYX_NO_MEMORY;
    if (table->key_size > 0) std::memcpy(entry, key, static_cast<size_t>(table->key_size));
    if (table->value_size > 0) {
        if (value != nullptr) {
            std::memcpy(value_of(table, entry), value, static_cast<size_t>(table->value_size));
        } else {
            std::memset(value_of(table, entry), 0, static_cast<size_t>(table->value_size));
        }
    }
    dyx_list_append(list, entry);
    return DYX_OK;
}

int dyx_hash_find(dyx_hash_t *table, int32_t slot, const void *key, void *value) {
    // A slot outside the table is simply not found.
    if (table == nullptr || !valid_slot(table, slot) || !usable_key(table, key)) return 0;
    void *entry = find_entry(table, slot, key);
    if (entry == nullptr) return 0;
    copy_value_out(table, entry, value);
    if (table->remove_on_find) unlink_and_free(table, slot, entry);
    return 1;
}

int dyx_hash_remove(dyx_hash_t *table, int32_t slot, const void *key, void *value) {
    if (table == nullptr) return DYX_OK;
    if (!valid_slot(table, slot) || !usable_key(table, key)) return DYX_BAD_ARGUMENT;
    void *entry = find_entry(table, slot, key);
    if (entry == nullptr) return DYX_BAD_ARGUMENT;
    copy_value_out(table, entry, value);
    unlink_and_free(table, slot, entry);
    return DYX_OK;
}

int dyx_hash_merge(dyx_hash_t *destination, dyx_hash_t *source, dyx_hash_merge_func decide, void *user) {
    if (destination == nullptr || source == nullptr) return DYX_BAD_ARGUMENT;
    if (destination == source) return DYX_OK;
    if (destination->slots != source->slots || destination->key_size != source->key_size ||
        destination->value_size != source->value_size) {
        return DYX_BAD_ARGUMENT;
    }
    int status = DYX_OK;
    for (int32_t slot = 0; slot < source->slots && status == DYX_OK; ++slot) {
        for (void *entry = dyx_list_first(source->lists[slot]); entry != nullptr && status == DYX_OK;
             entry = dyx_list_next(entry)) {
            void *source_value = value_of(source, entry);
            void *existing = find_entry(destination, slot, key_of(entry));
            if (existing == nullptr) {
                status = dyx_hash_add(destination, slot, key_of(entry), source_value);
                continue;
            }
            void *destination_value = value_of(destination, existing);
            const int32_t decision = decide == nullptr ? 1
                                                       : decide(key_of(existing), destination_value,
                                                                source_value, user, slot, destination);
            if (decision == 0) {
                unlink_and_free(destination, slot, existing);
            } else if (decision == 2 && destination->value_size > 0) {
                std::memcpy(destination_value, source_value, static_cast<size_t>(destination->value_size));
            }
        }
    }
    // After a failed copy the source keeps everything: entries are then in
    // both tables rather than lost.
    if (status == DYX_OK) dyx_hash_reinit(source);
    return status;
}

void dyx_hash_slot_traverse(dyx_hash_t *table, int32_t slot) {
    if (table == nullptr || !valid_slot(table, slot)) return;
    const dyx_list_t *list = table->lists[slot];
    std::fprintf(stderr, "HashBucket[%d] list=%p\n", slot, static_cast<const void *>(list));
    for (void *entry = dyx_list_first(list); entry != nullptr; entry = dyx_list_next(entry)) {
        std::fputs("   id=0x", stderr);
        for (int32_t i = 0; i < table->key_size; ++i) std::fprintf(stderr, "%02x", key_of(entry)[i]);
        std::fputs("\n", stderr);
    }
}

dyx_hash_pairs_t *dyx_hash_pairs_create(int32_t slots, int32_t per_chunk, int32_t value_size,
                                        int32_t remove_on_find) {
    if (slots < 1 || per_chunk < 1 || value_size < 0) return nullptr;
    dyx_hash_pairs_t *pairs = nullptr;
    dyx_malloc("dyx_hash_pairs_create", &pairs, sizeof(dyx_hash_pairs_t), __LINE__, __FILE__);
    if (pairs == nullptr) return nullptr;
    pairs->table = dyx_hash_create(slots, per_chunk, kPairKeySize, value_size, remove_on_find);
    if (pairs->table == nullptr) {
        dyx_free(pairs, __LINE__, __FILE__);
        return nullptr;
    }
    pairs->slots = slots;
    pairs->per_chunk = per_chunk;
    pairs->key_size = kPairKeySize;
    pairs->value_size = value_size;
    pairs->remove_on_find = remove_on_find;
    return pairs;
}

void dyx_hash_pairs_destroy(dyx_hash_pairs_t **pairs) {
    if (pairs == nullptr || *pairs == nullptr) return;
    dyx_hash_destroy(&(*pairs)->table);
    dyx_free(*pairs, __LINE__, __FILE__);
    *pairs = nullptr;
}

void dyx_hash_pairs_reinit(dyx_hash_pairs_t *pairs) {
    if (pairs != nullptr) dyx_hash_reinit(pairs->table);
}

int32_t dyx_hash_pairs_slot(const dyx_hash_pairs_t *pairs, int32_t a, int32_t b) {
    if (pairs == nullptr) return -1;
    // The sum wraps around like the 32-bit arithmetic it is defined by.
    const auto sum = static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
    const int32_t remainder = (sum / 2) % pairs->slots;
    return remainder < 0 ? -remainder : remainder;
}

int dyx_hash_pairs_add(dyx_hash_pairs_t *pairs, int32_t a, int32_t b, const void *value) {
    if (pairs == nullptr) return DYX_OK;
    unsigned char key[kPairKeySize];
    pair_key(a, b, key);
    return dyx_hash_add(pairs->table, dyx_hash_pairs_slot(pairs, a, b), key, value);
}

int dyx_hash_pairs_find(dyx_hash_pairs_t *pairs, int32_t a, int32_t b, void *value) {
    if (pairs == nullptr) return 0;
    unsigned char key[kPairKeySize];
    pair_key(a, b, key);
    return dyx_hash_find(pairs->table, dyx_hash_pairs_slot(pairs, a, b), key, value);
}

int dyx_hash_pairs_remove(dyx_hash_pairs_t *pairs, int32_t a, int32_t b, void *value) {
    if (pairs == nullptr) return DYX_OK;
    unsigned char key[kPairKeySize];
    pair_key(a, b, key);
    return dyx_hash_remove(pairs->table, dyx_hash_pairs_slot(pairs, a, b), key, value);
}

}  // extern "C"
