/* Memory pools: fixed-size elements handed out from large chunks.
 *
 * Each library thread draws from its own free list without a lock; freed
 * elements go to a shared list that refills thread lists in whole batches.
 * Threads the library did not start (an interpreter's threads, std::thread
 * workers) take single elements from the shared list under the pool's
 * lock instead, so any number of them may allocate at once; slot 0's own
 * list stays with the thread that called dyx_thread_init (or, without that
 * call, the first thread to allocate). Memory returns to the system only
 * when the pool is destroyed. */
#ifndef DYX_MPOOL_H
#define DYX_MPOOL_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

typedef struct dyx_mpool dyx_mpool_t;

/* A new pool of elements of at least 16 bytes (rounded up to a multiple of
 * 8), `per_chunk` elements per chunk; null when out of memory. */
DYX_API dyx_mpool_t *dyx_mpool_create(uint32_t element_size, int32_t per_chunk);
/* An element for the calling thread, or null. */
DYX_API void *dyx_mpool_alloc(dyx_mpool_t *pool);
/* Returns an element to the pool's shared list (from any thread). */
DYX_API void dyx_mpool_free(dyx_mpool_t *pool, void *element);
/* 1 when the address lies inside one of the pool's chunks, else 0. */
DYX_API int dyx_mpool_verify_ptr(dyx_mpool_t *pool, const void *address);
/* Snapshot of the element count over all chunks and of the free ones. */
DYX_API void dyx_mpool_status(dyx_mpool_t *pool, uint32_t *total, uint32_t *free_count);
/* Frees every chunk and the pool; the caller's variable becomes null. */
DYX_API void dyx_mpool_destroy(dyx_mpool_t **pool);
DYX_API void dyx_mpool_check_corruption(dyx_mpool_t *pool);
DYX_API void dyx_mpool_debug(dyx_mpool_t *pool);

DYX_END_DECLS

#endif
