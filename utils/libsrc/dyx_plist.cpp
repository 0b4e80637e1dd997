// Pointer lists: nodes pointing at items that live elsewhere, all drawn
// from one process-wide pair of pools.
#include <cstdint>

#include "dyx_list.h"
#include "dyx_list_links.h"
#include "dyx_mpool.h"
#include "dyx_status.h"

namespace {

static_assert(sizeof(dyx_plist_t) == 16, "pointer-list headers are 16 bytes");
static_assert(sizeof(dyx_plist_node_t) == 24, "pointer-list nodes are 24 bytes");

struct PointerListPools {
    uint32_t headers_per_chunk = 0;
    uint32_t nodes_per_chunk = 0;
    dyx_mpool_t *headers = nullptr;
    dyx_mpool_t *nodes = nullptr;
};

PointerListPools pools;

struct NodeTraits {
    using Node = dyx_plist_node_t;
    using Header = dyx_plist_t;
    static Node *first(const Header *list) { return list->first; }
    static Node *last(const Header *list) { return list->last; }
    static void set_first(Header *list, Node *node) { list->first = node; }
    static void set_last(Header *list, Node *node) { list->last = node; }
    static const void *key(const Node *node) { return node->item; }
};

using Links = dyx_list_detail::Links<NodeTraits>;

bool chunk_count_fits(uint32_t count) { return count >= 1 && count <= INT32_MAX; }

}  // namespace

extern "C" {

int dyx_plist_pool_create(uint32_t headers_per_chunk, uint32_t nodes_per_chunk) {
    if (pools.headers != nullptr) return DYX_OK;
    if (!chunk_count_fits(headers_per_chunk) || !chunk_count_fits(nodes_per_chunk)) return DYX_NO_MEMORY;
    pools.headers = dyx_mpool_create(sizeof(dyx_plist_t), static_cast<int32_t>(headers_per_chunk));
    pools.nodes = dyx_mpool_create(sizeof(dyx_plist_node_t), static_cast<int32_t>(nodes_per_chunk));
    if (pools.headers == nullptr || pools.nodes == nullptr) {
        dyx_plist_pool_destroy();
        return DYX_NO_MEMORY;
    }
    pools.headers_per_chunk = headers_per_chunk;
    pools.nodes_per_chunk = nodes_per_chunk;
    return DYX_OK;
}

void dyx_plist_pool_destroy(void) {
    dyx_mpool_destroy(&pools.headers);
    dyx_mpool_destroy(&pools.nodes);
    pools = PointerListPools{};
}

dyx_plist_t *dyx_plist_create(void) {
    auto *list = static_cast<dyx_plist_t *>(dyx_mpool_alloc(pools.headers));
    if (list != nullptr) list->first = list->last = nullptr;
    return list;
}

void dyx_plist_destroy(dyx_plist_t **list) {
    if (list == nullptr || *list == nullptr) return;
    while (dyx_plist_node_t *node = Links::pop(*list)) dyx_plist_free(&node);
    dyx_mpool_free(pools.headers, *list);
    *list = nullptr;
}

dyx_plist_node_t *dyx_plist_alloc(void) {
    auto *node = static_cast<dyx_plist_node_t *>(dyx_mpool_alloc(pools.nodes));
    if (node != nullptr) *node = dyx_plist_node_t{};
    return node;
}

void dyx_plist_free(dyx_plist_node_t **node) {
    if (node == nullptr || *node == nullptr) return;
    **node = dyx_plist_node_t{};
    dyx_mpool_free(pools.nodes, *node);
    *node = nullptr;
}

dyx_plist_node_t *dyx_plist_first(const dyx_plist_t *list) { return list == nullptr ? nullptr : list->first; }
dyx_plist_node_t *dyx_plist_last(const dyx_plist_t *list) { return list == nullptr ? nullptr : list->last; }
dyx_plist_node_t *dyx_plist_next(const dyx_plist_node_t *node) {
    return node == nullptr ? nullptr : node->next;
}
dyx_plist_node_t *dyx_plist_prev(const dyx_plist_node_t *node) {
    return node == nullptr ? nullptr : node->prev;
}

void dyx_plist_prepend(dyx_plist_t *list, dyx_plist_node_t *node) {
    if (list != nullptr && node != nullptr) Links::prepend(list, node);
}

void dyx_plist_append(dyx_plist_t *list, dyx_plist_node_t *node) {
    if (list != nullptr && node != nullptr) Links::append(list, node);
}

void dyx_plist_insert_after(dyx_plist_t *list, dyx_plist_node_t *reference, dyx_plist_node_t *node) {
    if (list != nullptr && reference != nullptr && node != nullptr)
        Links::insert_after(list, reference, node);
}

void dyx_plist_insert_before(dyx_plist_t *list, dyx_plist_node_t *reference, dyx_plist_node_t *node) {
    if (list != nullptr && reference != nullptr && node != nullptr)
        Links::insert_before(list, reference, node);
}

void dyx_plist_concat(dyx_plist_t *list, dyx_plist_t *other) {
    if (list != nullptr && other != nullptr) Links::concat(list, other);
}

void dyx_plist_remove(dyx_plist_t *list, dyx_plist_node_t *node) {
    if (list != nullptr && node != nullptr) Links::remove(list, node);
}

dyx_plist_node_t *dyx_plist_pop(dyx_plist_t *list) { return list == nullptr ? nullptr : Links::pop(list); }

int32_t dyx_plist_length(const dyx_plist_t *list) { return list == nullptr ? 0 : Links::length(list); }

void dyx_plist_sort(dyx_plist_t *list, dyx_list_compare compare) {
    if (list != nullptr) Links::sort(list, compare);
}

}  // extern "C"
