/* Hash tables of fixed-size binary keys and values.
 *
 * The table does not hash: the caller computes the slot from its key and
 * passes it to every call, so one table serves any key type. Keys are
 * compared with memcmp and need not be unique: within a slot, entries stay
 * in order of insertion and lookups find the first equal key. A value size
 * of 0 makes a set.
 *
 * Pair tables key their entries by an unordered pair of 32-bit integers
 * and choose the slot themselves.
 *
 * Statuses (dyx_status.h): DYX_OK success, DYX_NO_MEMORY memory exhausted, DYX_BAD_ARGUMENT bad slot,
 * key not present or tables that do not fit together. Tables take no locks. */
#ifndef DYX_HASH_H
#define DYX_HASH_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

typedef struct dyx_hash dyx_hash_t;
typedef struct dyx_hash_pairs dyx_hash_pairs_t;

/* Decides what dyx_hash_merge does with a key present in both tables:
 * 0 removes the destination entry, 2 copies the source value over the
 * destination value, anything else keeps the destination entry. */
typedef int32_t (*dyx_hash_merge_func)(const void *key, void *destination_value, const void *source_value,
                                       void *user, int32_t slot, dyx_hash_t *destination);

/* A table of `slots` slots whose entry pool grows by `per_chunk` entries;
 * `remove_on_find` non-zero makes a successful find remove the entry. Null
 * when a count is below 1, a size is negative or memory is exhausted. */
DYX_API dyx_hash_t *dyx_hash_create(int32_t slots, int32_t per_chunk, int32_t key_size, int32_t value_size,
                                    int32_t remove_on_find);
/* Frees every entry and the table; the variable becomes null. */
DYX_API void dyx_hash_destroy(dyx_hash_t **table);
/* Removes every entry; the table stays usable. */
DYX_API void dyx_hash_reinit(dyx_hash_t *table);
/* Appends an entry to the slot (0 .. slots-1): DYX_OK, DYX_NO_MEMORY, or DYX_BAD_ARGUMENT for a bad slot
 * or a null key; DYX_OK for a null table. */
DYX_API int dyx_hash_add(dyx_hash_t *table, int32_t slot, const void *key, const void *value);
/* 1 when the key is in the slot (its value copied to `value` when the value
 * size is positive and `value` is not null), 0 when it is not, the slot is
 * out of range or the table is null. */
DYX_API int dyx_hash_find(dyx_hash_t *table, int32_t slot, const void *key, void *value);
/* Removes the first entry with the key, copying its value out first as
 * find does: DYX_OK, or DYX_BAD_ARGUMENT when not found or for a bad slot; DYX_OK for a null table. */
DYX_API int dyx_hash_remove(dyx_hash_t *table, int32_t slot, const void *key, void *value);
/* Moves the source's entries into the destination, slot by slot: a key
 * missing from the destination's slot is added; for a key present there
 * `decide` (null: keep) chooses. The source is left empty. DYX_OK; DYX_BAD_ARGUMENT for a null
 * table or tables differing in slot count, key size or value size (neither
 * is changed then); DYX_NO_MEMORY when memory ran out part way (the source then keeps
 * all its entries, some of them copied already). */
DYX_API int dyx_hash_merge(dyx_hash_t *destination, dyx_hash_t *source, dyx_hash_merge_func decide,
                           void *user);
/* Writes the slot's list address and every key in hex to standard error. */
DYX_API void dyx_hash_slot_traverse(dyx_hash_t *table, int32_t slot);

/* Pair tables: the key is the pair ordered smaller first, the slot is
 * |((a + b) / 2) % slots| in 32-bit arithmetic (the sum wraps around). */
DYX_API dyx_hash_pairs_t *dyx_hash_pairs_create(int32_t slots, int32_t per_chunk, int32_t value_size,
                                                int32_t remove_on_find);
DYX_API void dyx_hash_pairs_destroy(dyx_hash_pairs_t **table);
DYX_API void dyx_hash_pairs_reinit(dyx_hash_pairs_t *table);
DYX_API int dyx_hash_pairs_add(dyx_hash_pairs_t *table, int32_t a, int32_t b, const void *value);
DYX_API int dyx_hash_pairs_find(dyx_hash_pairs_t *table, int32_t a, int32_t b, void *value);
DYX_API int dyx_hash_pairs_remove(dyx_hash_pairs_t *table, int32_t a, int32_t b, void *value);
/* The slot a pair lands in (exposed for callers that inspect tables). */
DYX_API int32_t dyx_hash_pairs_slot(const dyx_hash_pairs_t *table, int32_t a, int32_t b);

DYX_END_DECLS

#endif
