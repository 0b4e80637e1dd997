// Temporary memory: released scratch buffers are kept, smallest first, and
// handed out again instead of asking the system.
#include "dyx_temp_mem.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dyx_malloc.h"
#include "dyx_status.h"

namespace {

constexpr int64_t kSmallestSegment = 100;
// A kept segment above this size is not used for a request of less than a
// quarter of it: the memory would mostly lie idle.
constexpr int64_t kWastefulCapacity = 1000000;

struct Segment {
    int64_t capacity;
    int64_t requested;
    void *memory;
    Segment *next;
};

Segment *avail = nullptr;   // kept, ascending capacity
Segment *in_use = nullptr;  // handed out, in order of handing out

// Unlinks and returns the segment holding `memory` from a list, or null.
Segment *unlink(Segment *&list, const void *memory) {
    for (Segment **link = &list; *link != nullptr; link = &(*link)->next) {
        if ((*link)->memory == memory) {
            Segment *found = *link;
            *link = found->next;
            found->next = nullptr;
            return found;
        }
    }
    return nullptr;
}

Segment *find(Segment *list, const void *memory) {
    for (; list != nullptr; list = list->next) {
        if (list->memory == memory) return list;
    }
    return nullptr;
}

void append(Segment *&list, Segment *segment) {
    Segment **link = &list;
    while (*link != nullptr) link = &(*link)->next;
    segment->next = nullptr;
    *link = segment;
}

// Keeps the list ordered by capacity: before the first at least as large.
void insert_by_capacity(Segment *&list, Segment *segment) {
    Segment **link = &list;
    while (*link != nullptr && (*link)->capacity < segment->capacity) link = &(*link)->next;
    segment->next = *link;
    *link = segment;
}

void destroy(Segment *segment) {
    dyx_free(segment->memory, __LINE__, __FILE__);
    dyx_free(segment, __LINE__, __FILE__);
}

void destroy_all(Segment *&list) {
    while (list != nullptr) {
        Segment *next = list->next;
        destroy(list);
        list = next;
    }
}

bool wasteful(const Segment *segment, int64_t need) {
    return segment->capacity / 4 > need && segment->capacity > kWastefulCapacity;
}

int64_t total_capacity(const Segment *list) {
    int64_t total = 0;
    for (; list != nullptr; list = list->next) total += list->capacity;
    return total;
}

void display_list(const char *name, const Segment *list) {
    int index = 0;
    for (; list != nullptr; list = list->next, ++index) {
        std::fprintf(stderr, "%s[%d] (%p) = %10ld bytes, (requested %ld)\n", name, index, list->memory,
                     static_cast<long>(list->capacity), static_cast<long>(list->requested));
    }
}

}  // namespace

extern "C" {

void *dyx_temp_mem_alloc(int64_t size) {
    if (size < 0) return nullptr;
    const int64_t need = size < kSmallestSegment ? kSmallestSegment : size;
    Segment *kept = avail;
    while (kept != nullptr && kept->capacity < need) kept = kept->next;
    if (kept != nullptr && !wasteful(kept, need)) {
        unlink(avail, kept->memory);
        kept->requested = size;
        append(in_use, kept);
        return kept->memory;
    }
    Segment *segment = nullptr;
    dyx_malloc("dyx tmem segment", &segment, sizeof(Segment), __LINE__, __FILE__);
    if (segment == nullptr) return nullptr;
    dyx_malloc("dyx tmem segment mptr", &segment->memory, static_cast<uint64_t>(need), __LINE__, __FILE__);
    if (segment->memory == nullptr) {
        dyx_free(segment, __LINE__, __FILE__);
        return nullptr;
    }
    segment->capacity = need;
    segment->requested = size;
    append(in_use, segment);
    return segment->memory;
}

void *dyx_temp_mem_resize(void *buffer, int64_t size) {
    Segment *segment = find(in_use, buffer);
    if (segment == nullptr || buffer == nullptr || size < 0) return nullptr;
    if (size <= segment->capacity) {
        segment->requested = size;
        return segment->memory;
    }
    // Grown by copying, so that a failure leaves the caller's buffer intact.
    void *grown = nullptr;
    dyx_malloc("dyx tmem segment mptr", &grown, static_cast<uint64_t>(size), __LINE__, __FILE__);
    if (grown == nullptr) return nullptr;
    std::memcpy(grown, segment->memory, static_cast<size_t>(segment->capacity));
    dyx_free(segment->memory, __LINE__, __FILE__);
    segment->memory = grown;
    segment->capacity = size;
    segment->requested = size;
    return grown;
}

int dyx_temp_mem_release(void *buffer) {
    Segment *segment = buffer == nullptr ? nullptr : unlink(in_use, buffer);
    if (segment == nullptr) return DYX_REFUSED;
    insert_by_capacity(avail, segment);
    return DYX_OK;
}

int dyx_temp_mem_free(void *buffer) {
    if (buffer == nullptr) return DYX_REFUSED;
    dyx_temp_mem_release(buffer);
    Segment *segment = unlink(avail, buffer);
    if (segment == nullptr) return DYX_REFUSED;
    destroy(segment);
    return DYX_OK;
}

int dyx_temp_mem_free_all(void) {
    destroy_all(in_use);
    destroy_all(avail);
    return DYX_OK;
}

int dyx_temp_mem_free_all_avail(void) {
    destroy_all(avail);
    return DYX_OK;
}

void dyx_temp_mem_display(void) {
    std::fputs("\n-----------------------------b----------------------------\n", stderr);
    display_list("Avail", avail);
    if (avail != nullptr) std::fputs("-------\n", stderr);
    display_list("InUse", in_use);
    const int64_t used = total_capacity(in_use);
    const int64_t kept = total_capacity(avail);
    std::fputs("\n", stderr);
    std::fprintf(stderr, "      Memory Summary:  InUse = %10ld bytes\n", static_cast<long>(used));
    std::fprintf(stderr, "                       Avail = %10ld bytes\n", static_cast<long>(kept));
    std::fputs("                               ================\n", stderr);
    std::fprintf(stderr, "                       Total = %10ld bytes\n", static_cast<long>(used + kept));
    std::fputs("-----------------------------e-----------------------------\n\n", stderr);
}

}  // extern "C"
