/* Doubly linked lists over memory pools.
 *
 * Element lists (dyx_list_*): the caller's payload and the links share one
 * pool element; callers hold payload pointers and the 16 bytes of links sit
 * just in front of them. Every element list belongs to a list pool made
 * for one payload size.
 *
 * Pointer lists (dyx_plist_*): each node carries a pointer to an item that
 * lives elsewhere. All pointer lists draw from one process-wide pair of
 * pools made by dyx_plist_pool_create (dyx_utils_init does that).
 *
 * Lists take no locks: one thread at a time, or under the owner's lock.
 * Operations taking a list and an element do nothing when either is null.
 * Prepend, append and the inserts expect an element whose links are clear
 * (fresh from alloc, or removed or popped). */
#ifndef DYX_LIST_H
#define DYX_LIST_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

typedef struct dyx_list_pool dyx_list_pool_t;

/* An element list: its pool and the payload pointers of its ends. */
typedef struct dyx_list {
    dyx_list_pool_t *pool;
    void *first;
    void *last;
} dyx_list_t;

/* A pointer-list node; the caller stores `item` after dyx_plist_alloc. */
typedef struct dyx_plist_node {
    struct dyx_plist_node *prev;
    struct dyx_plist_node *next;
    void *item;
} dyx_plist_node_t;

typedef struct dyx_plist {
    dyx_plist_node_t *first;
    dyx_plist_node_t *last;
} dyx_plist_t;

/* Three-way comparison of two payloads (element lists) or two items
 * (pointer lists): negative, zero or positive. */
typedef int32_t (*dyx_list_compare)(const void *a, const void *b);

/* ---- element lists ---------------------------------------------------- */

/* A pool for elements of `payload_size` bytes, `per_chunk` (1 to 2^31-1)
 * elements per chunk; with `pooled_headers` non-zero the list headers come
 * from a pool as well. Null when out of memory or for a bad count. */
DYX_API dyx_list_pool_t *dyx_list_pool_create(uint32_t payload_size, uint32_t per_chunk,
                                              int32_t pooled_headers);
/* Releases every element and header drawn from the pool at once, and the
 * pool; the variable becomes null. Does nothing for a null variable. */
DYX_API void dyx_list_pool_destroy(dyx_list_pool_t **pool);

/* A new empty list, or null. */
DYX_API dyx_list_t *dyx_list_create(dyx_list_pool_t *pool);
/* Returns every element to the pool, then the header; variable set null. */
DYX_API void dyx_list_destroy(dyx_list_t **list);

/* A new element (payload pointer, links clear), or null. */
DYX_API void *dyx_list_alloc(dyx_list_t *list);
DYX_API void *dyx_list_alloc2(dyx_list_pool_t *pool);
/* Returns an element (not on any list) to the pool. */
DYX_API void dyx_list_free(dyx_list_t *list, void *element);
DYX_API void dyx_list_free2(dyx_list_pool_t *pool, void *element);

DYX_API void *dyx_list_first(const dyx_list_t *list);
DYX_API void *dyx_list_last(const dyx_list_t *list);
DYX_API void *dyx_list_next(const void *element);
DYX_API void *dyx_list_prev(const void *element);

DYX_API void dyx_list_prepend(dyx_list_t *list, void *element);
DYX_API void dyx_list_append(dyx_list_t *list, void *element);
DYX_API void dyx_list_insert_after(dyx_list_t *list, void *reference, void *element);
DYX_API void dyx_list_insert_before(dyx_list_t *list, void *reference, void *element);
/* Moves all of `other`'s elements to the end of `list`; `other` is left
 * empty. A list concatenated with itself is left unchanged. */
DYX_API void dyx_list_concat(dyx_list_t *list, dyx_list_t *other);
/* Unlinks the element and clears its links; it is not freed. */
DYX_API void dyx_list_remove(dyx_list_t *list, void *element);
/* Unlinks and returns the first element, or null. */
DYX_API void *dyx_list_pop(dyx_list_t *list);
/* Number of elements; 0 for a null list. */
DYX_API int32_t dyx_list_length(const dyx_list_t *list);
/* Stable in-place merge sort; allocates nothing. */
DYX_API void dyx_list_sort(dyx_list_t *list, dyx_list_compare compare);

/* ---- pointer lists ---------------------------------------------------- */

/* Makes the process-wide header and node pools: DYX_OK, or DYX_NO_MEMORY when either cannot
 * be made (nothing is left allocated). When they exist already, DYX_OK. */
DYX_API int dyx_plist_pool_create(uint32_t headers_per_chunk, uint32_t nodes_per_chunk);
/* Destroys both pools: every pointer list becomes invalid. */
DYX_API void dyx_plist_pool_destroy(void);

/* A new empty list, or null (also before dyx_plist_pool_create). */
DYX_API dyx_plist_t *dyx_plist_create(void);
/* Frees every node (not the items) and the header; variable set null. */
DYX_API void dyx_plist_destroy(dyx_plist_t **list);
/* A node with all three fields null, or null. */
DYX_API dyx_plist_node_t *dyx_plist_alloc(void);
/* Clears and frees the node; the variable becomes null. */
DYX_API void dyx_plist_free(dyx_plist_node_t **node);

DYX_API dyx_plist_node_t *dyx_plist_first(const dyx_plist_t *list);
DYX_API dyx_plist_node_t *dyx_plist_last(const dyx_plist_t *list);
DYX_API dyx_plist_node_t *dyx_plist_next(const dyx_plist_node_t *node);
DYX_API dyx_plist_node_t *dyx_plist_prev(const dyx_plist_node_t *node);
DYX_API void dyx_plist_prepend(dyx_plist_t *list, dyx_plist_node_t *node);
DYX_API void dyx_plist_append(dyx_plist_t *list, dyx_plist_node_t *node);
DYX_API void dyx_plist_insert_after(dyx_plist_t *list, dyx_plist_node_t *reference, dyx_plist_node_t *node);
DYX_API void dyx_plist_insert_before(dyx_plist_t *list, dyx_plist_node_t *reference, dyx_plist_node_t *node);
DYX_API void dyx_plist_concat(dyx_plist_t *list, dyx_plist_t *other);
DYX_API void dyx_plist_remove(dyx_plist_t *list, dyx_plist_node_t *node);
DYX_API dyx_plist_node_t *dyx_plist_pop(dyx_plist_t *list);
DYX_API int32_t dyx_plist_length(const dyx_plist_t *list);
/* Stable sort by the nodes' items. */
DYX_API void dyx_plist_sort(dyx_plist_t *list, dyx_list_compare compare);

DYX_END_DECLS

#endif
