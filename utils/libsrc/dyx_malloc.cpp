// Allocation wrappers: every failure is reported through the logger with
// the caller's description and source position.
#include "dyx_malloc.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

void report_failure(const char *kind, const char *what, uint64_t size, int line, const char *file) {
    const int saved_errno = errno;
    dyx_error("%s: %d\n", std::strerror(saved_errno), saved_errno);
    dyx_error("%s: Memory allocation (size %llu) failed:\n", kind, static_cast<unsigned long long>(size));
    dyx_error("At line %d in file %s\n", line, file ? file : "(unknown)");
    dyx_error("%s: Memory allocation failed.\n", what ? what : "(unknown)");
}

void **slot_of(void *ptr) { return static_cast<void **>(ptr); }

#ifdef DYX_ALLOC_FAULTS
// Test builds only: fail the n-th allocation after dyx_alloc_faults_arm(n),
// so that the tests can walk every failure point of an operation.
// Live blocks are counted too, so that a test can tell that a failed
// operation released everything it took. Worker threads allocate and free
// too, so every count is atomic.
std::atomic<int64_t> allocations_until_fault{0};
std::atomic<int64_t> allocations_seen{0};
std::atomic<int64_t> blocks_live{0};
std::atomic<bool> fault_fired{false};

bool injected_failure() {
    ++allocations_seen;
    // Counts down to the armed allocation: exactly one caller takes it from
    // 1 to 0, and that allocation fails.
    int64_t left = allocations_until_fault.load();
    while (left > 0 && !allocations_until_fault.compare_exchange_weak(left, left - 1)) {
    }
    if (left != 1) return false;
    fault_fired = true;
    errno = ENOMEM;
    return true;
}

void count_block(int64_t change) { blocks_live += change; }
#else
constexpr bool injected_failure() { return false; }
constexpr void count_block(int64_t) {}
#endif

}  // namespace

extern "C" {

void dyx_malloc(const char *what, void *ptr, uint64_t size, int line, const char *file) {
    void **slot = slot_of(ptr);
    *slot = nullptr;
    if (size == 0) return;
    *slot = injected_failure() ? nullptr : std::malloc(size);
    if (*slot == nullptr) {
        report_failure("DYX_MALLOC", what, size, line, file);
        return;
    }
    count_block(1);
}

void dyx_realloc(const char *what, void *ptr, uint64_t size, int line, const char *file) {
    void **slot = slot_of(ptr);
    if (*slot == nullptr) {
        if (size != 0) dyx_malloc(what, ptr, size, line, file);
        return;
    }
    if (size == 0) {
        dyx_free(*slot, line, file);
        *slot = nullptr;
        return;
    }
    void *grown = injected_failure() ? nullptr : std::realloc(*slot, size);
    if (grown == nullptr) {
        // The caller only ever sees the null pointer, so the old block would
        // be lost: release it here rather than leak it.
        std::free(*slot);
        count_block(-1);
        *slot = nullptr;
        report_failure("DYX_REALLOC", what, size, line, file);
        return;
    }
    *slot = grown;
}

void dyx_free(void *block, int, const char *) {
    if (block == nullptr) return;
    std::free(block);
    count_block(-1);
}

#ifdef DYX_ALLOC_FAULTS
// Exported so that a fault-injection build of the Python module can be
// driven from scripts through ctypes.
DYX_API void dyx_alloc_faults_arm(int64_t nth) {
    allocations_until_fault = nth > 0 ? nth : 0;
    allocations_seen = 0;
    fault_fired = false;
}

DYX_API int64_t dyx_alloc_faults_seen(void) { return allocations_seen; }

DYX_API int dyx_alloc_faults_fired(void) { return fault_fired ? 1 : 0; }

DYX_API int64_t dyx_alloc_faults_live(void) { return blocks_live; }
#endif

char *dyx_scrub_format_string(const char *text) {
    if (text == nullptr) return nullptr;
    const size_t length = std::strlen(text);
    char *copy = static_cast<char *>(std::calloc(2 * length + 1, 1));
    if (copy == nullptr) return nullptr;
    char *out = copy;
    for (const char *in = text; *in; ++in) {
        *out++ = *in;
        if (*in == '%') *out++ = '%';
    }
    return copy;
}

}  // extern "C"
