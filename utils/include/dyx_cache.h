/* Block cache: blocks whose owners may lose them.
 *
 * An owner is the address of the caller's pointer variable. A locked block
 * stays; an unlocked block may be taken away when the cache needs room (the
 * owner's pointer then becomes null); a freed block is kept for reuse. The
 * cache keeps its entries in one list: free entries first (in the order
 * they were freed), then unlocked ones (least recently unlocked first),
 * then locked ones; room is made and entries are reused from the front.
 *
 * Calling lock, unlock, free or realloc with an owner that is not the one
 * recorded for its block is a programming error: the process aborts.
 * Every call takes the cache's lock, so threads may share the cache; a
 * thread reads its owner pointer of an unlocked block only after locking
 * it (the cache may null the pointer meanwhile). dyx_cache_init needs the
 * pointer-list pools of dyx_utils_init. */
#ifndef DYX_CACHE_H
#define DYX_CACHE_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* Readies the cache with a limit in megabytes (below 1: 2^20 megabytes).
 * DYX_OK, or DYX_NO_MEMORY when the entry list cannot be made. Called again, it only sets
 * the limit. */
DYX_API int dyx_cache_init(int32_t megabytes);
/* Sets the limit as dyx_cache_init does; 0. */
DYX_API int dyx_cache_set_max_size(int32_t megabytes);
/* Gives *owner a locked block of `size` bytes, or null when memory is
 * exhausted. Nothing happens before dyx_cache_init, for a null owner or
 * size 0. The owner must not hold a block of the cache already (free it
 * or use dyx_cache_realloc). */
DYX_API void dyx_cache_alloc(void **owner, uint64_t size);
/* Makes the owner's block locked and at least `size` bytes, keeping its
 * contents; a null *owner is allocated as by dyx_cache_alloc. When growing
 * fails the block is gone and *owner is null. */
DYX_API void dyx_cache_realloc(void **owner, uint64_t size);
/* Gives the block back for reuse; *owner becomes null. */
DYX_API void dyx_cache_free(void **owner);
/* An unlocked block may be taken away; a locked one may not. */
DYX_API void dyx_cache_lock(void **owner);
DYX_API void dyx_cache_unlock(void **owner);
/* Checks every entry and the list order, reporting each problem and a
 * summary through dyx_info; with `abort_on_problem` set a problem ends
 * the process. */
DYX_API void dyx_cache_check(int32_t abort_on_problem);
/* Frees every block and entry (owners' pointers become null) and resets
 * the cache to its state before dyx_cache_init. */
DYX_API void dyx_cache_done(void);

DYX_END_DECLS

#endif
