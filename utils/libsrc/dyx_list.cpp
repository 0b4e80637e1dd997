// Element lists: payload and links in one pool element, links in front.
#include "dyx_list.h"

#include <cstddef>
#include <cstdint>

#include "dyx_list_links.h"
#include "dyx_malloc.h"
#include "dyx_mpool.h"

struct dyx_list_pool {
    uint32_t payload_size;
    uint32_t per_chunk;
    dyx_mpool_t *element_pool;
    int32_t pooled_headers;
    dyx_mpool_t *header_pool;  // only with pooled headers
};

namespace {

// The 16 bytes in front of every payload.
struct LinkBlock {
    LinkBlock *prev;
    LinkBlock *next;
};
constexpr size_t kLinkSize = sizeof(LinkBlock);
static_assert(kLinkSize == 16, "payloads follow 16 bytes of links");
constexpr int32_t kHeadersPerChunk = 20;
static_assert(sizeof(dyx_list_t) == 24, "list headers are 24 bytes");

LinkBlock *link_of(const void *payload) {
    return payload == nullptr ? nullptr
                              : reinterpret_cast<LinkBlock *>(
                                    const_cast<char *>(static_cast<const char *>(payload)) - kLinkSize);
}

void *payload_of(LinkBlock *link) {
    return link == nullptr ? nullptr : reinterpret_cast<char *>(link) + kLinkSize;
}

struct ElementTraits {
    using Node = LinkBlock;
    using Header = dyx_list_t;
    static Node *first(const Header *list) { return link_of(list->first); }
    static Node *last(const Header *list) { return link_of(list->last); }
    static void set_first(Header *list, Node *node) { list->first = payload_of(node); }
    static void set_last(Header *list, Node *node) { list->last = payload_of(node); }
    static const void *key(const Node *node) { return payload_of(const_cast<Node *>(node)); }
};

using Links = dyx_list_detail::Links<ElementTraits>;

void *alloc_element(dyx_list_pool_t *pool) {
    if (pool == nullptr) return nullptr;
    auto *link = static_cast<LinkBlock *>(dyx_mpool_alloc(pool->element_pool));
    if (link == nullptr) return nullptr;
    link->prev = link->next = nullptr;
    return payload_of(link);
}

void free_element(dyx_list_pool_t *pool, void *element) {
    if (pool == nullptr || element == nullptr) return;
    LinkBlock *link = link_of(element);
    link->prev = link->next = nullptr;
    dyx_mpool_free(pool->element_pool, link);
}

}  // namespace

extern "C" {

dyx_list_pool_t *dyx_list_pool_create(uint32_t payload_size, uint32_t per_chunk, int32_t pooled_headers) {
    if (per_chunk < 1 || per_chunk > INT32_MAX || uint64_t{payload_size} + kLinkSize > UINT32_MAX)
        return nullptr;
    dyx_list_pool_t *pool = nullptr;
    dyx_malloc("dyx_list_pool_create", &pool, sizeof(dyx_list_pool_t), __LINE__, __FILE__);
    if (pool == nullptr) return nullptr;
    pool->payload_size = payload_size;
    pool->per_chunk = per_chunk;
    pool->pooled_headers = pooled_headers;
    pool->header_pool = nullptr;
    pool->element_pool =
        dyx_mpool_create(payload_size + static_cast<uint32_t>(kLinkSize), static_cast<int32_t>(per_chunk));
    if (pool->element_pool != nullptr && pooled_headers) {
        pool->header_pool = dyx_mpool_create(sizeof(dyx_list_t), kHeadersPerChunk);
    }
    if (pool->element_pool == nullptr || (pooled_headers && pool->header_pool == nullptr)) {
        dyx_list_pool_destroy(&pool);
        return nullptr;
    }
    return pool;
}

void dyx_list_pool_destroy(dyx_list_pool_t **pool) {
    if (pool == nullptr || *pool == nullptr) return;
    dyx_mpool_destroy(&(*pool)->element_pool);
    dyx_mpool_destroy(&(*pool)->header_pool);
    dyx_free(*pool, __LINE__, __FILE__);
    *pool = nullptr;
}

dyx_list_t *dyx_list_create(dyx_list_pool_t *pool) {
    if (pool == nullptr) return nullptr;
    dyx_list_t *list = nullptr;
    if (pool->pooled_headers) {
        list = static_cast<dyx_list_t *>(dyx_mpool_alloc(pool->header_pool));
    } else {
        dyx_malloc("dyx_list_create", &list, sizeof(dyx_list_t), __LINE__, __FILE__);
    }
    if (list == nullptr) return nullptr;
    list->pool = pool;
    list->first = list->last = nullptr;
    return list;
}

void dyx_list_destroy(dyx_list_t **list) {
    if (list == nullptr || *list == nullptr) return;
    dyx_list_t *doomed = *list;
    while (void *element = dyx_list_pop(doomed)) free_element(doomed->pool, element);
    dyx_list_pool_t *pool = doomed->pool;
    if (pool->pooled_headers) {
        dyx_mpool_free(pool->header_pool, doomed);
    } else {
        dyx_free(doomed, __LINE__, __FILE__);
    }
    *list = nullptr;
}

void *dyx_list_alloc(dyx_list_t *list) { return list == nullptr ? nullptr : alloc_element(list->pool); }
void *dyx_list_alloc2(dyx_list_pool_t *pool) { return alloc_element(pool); }

void dyx_list_free(dyx_list_t *list, void *element) {
    if (list != nullptr) free_element(list->pool, element);
}
void dyx_list_free2(dyx_list_pool_t *pool, void *element) { free_element(pool, element); }

void *dyx_list_first(const dyx_list_t *list) { return list == nullptr ? nullptr : list->first; }
void *dyx_list_last(const dyx_list_t *list) { return list == nullptr ? nullptr : list->last; }
void *dyx_list_next(const void *element) {
    return element == nullptr ? nullptr : payload_of(link_of(element)->next);
}
void *dyx_list_prev(const void *element) {
    return element == nullptr ? nullptr : payload_of(link_of(element)->prev);
}

void dyx_list_prepend(dyx_list_t *list, void *element) {
    if (list != nullptr && element != nullptr) Links::prepend(list, link_of(element));
}

void dyx_list_append(dyx_list_t *list, void *element) {
    if (list != nullptr && element != nullptr) Links::append(list, link_of(element));
}

void dyx_list_insert_after(dyx_list_t *list, void *reference, void *element) {
    if (list != nullptr && reference != nullptr && element != nullptr) {
        Links::insert_after(list, link_of(reference), link_of(element));
    }
}

void dyx_list_insert_before(dyx_list_t *list, void *reference, void *element) {
    if (list != nullptr && reference != nullptr && element != nullptr) {
        Links::insert_before(list, link_of(reference), link_of(element));
    }
}

void dyx_list_concat(dyx_list_t *list, dyx_list_t *other) {
    if (list != nullptr && other != nullptr) Links::concat(list, other);
}

void dyx_list_remove(dyx_list_t *list, void *element) {
    if (list != nullptr && element != nullptr) Links::remove(list, link_of(element));
}

void *dyx_list_pop(dyx_list_t *list) { return list == nullptr ? nullptr : payload_of(Links::pop(list)); }

int32_t dyx_list_length(const dyx_list_t *list) { return list == nullptr ? 0 : Links::length(list); }

void dyx_list_sort(dyx_list_t *list, dyx_list_compare compare) {
    if (list != nullptr) Links::sort(list, compare);
}

}  // extern "C"
