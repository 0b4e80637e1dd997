// Start-up and shut-down of the utility library; the cache directory.
#include "dyx_utils.h"

#include <cstring>

#include "dyx_list.h"
#include "dyx_malloc.h"
#include "dyx_thread.h"
#include "dyx_uid.h"

namespace {

constexpr uint32_t kListHeadersPerChunk = 32;
constexpr uint32_t kListNodesPerChunk = 256;
constexpr int32_t kConcurrencyHint = 256;

bool initialised = false;
char *cache_directory = nullptr;

void forget_cache_directory() {
    dyx_free(cache_directory, __LINE__, __FILE__);
    cache_directory = nullptr;
}

}  // namespace

extern "C" {

int dyx_utils_init(void) {
    if (initialised) return 0;
    initialised = true;  // first, so that the body runs once
    dyx_uid_init();
    if (dyx_plist_pool_create(kListHeadersPerChunk, kListNodesPerChunk) != 0) {
        initialised = false;
        return 2;
    }
    forget_cache_directory();
    if (dyx_thread_init() != 0) return 5;
    dyx_thread_setconcurrency(kConcurrencyHint);
    return 0;
}

int dyx_utils_done(void) {
    forget_cache_directory();
    dyx_plist_pool_destroy();
    return 0;
}

int dyx_utils_set_cachedir(const char *directory) {
    forget_cache_directory();
    if (directory == nullptr) return 0;
    const size_t size = std::strlen(directory) + 1;
    dyx_malloc("dyx_utils_set_cachedir", &cache_directory, size, __LINE__, __FILE__);
    if (cache_directory == nullptr) return 2;
    std::memcpy(cache_directory, directory, size);
    return 0;
}

const char *dyx_utils_get_cachedir(void) { return cache_directory; }

}  // extern "C"
