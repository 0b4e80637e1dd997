// Start-up and shut-down of the utility library; the cache directory.
#include "dyx_utils.h"

#include <cstring>

#include "dyx_list.h"
#include "dyx_malloc.h"
#include "dyx_status.h"
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
    if (initialised) return DYX_OK;
    initialised = true;  // first, so that the body runs once
    dyx_uid_init();
    if (dyx_plist_pool_create(kListHeadersPerChunk, kListNodesPerChunk) != 0) {
        initialised = false;
        return DYX_NO_MEMORY;
    }
    forget_cache_directory();
    if (dyx_thread_init() != 0) return DYX_THREADS_FAILED;
    dyx_thread_setconcurrency(kConcurrencyHint);
    return DYX_OK;
}

int dyx_utils_done(void) {
    forget_cache_directory();
    dyx_plist_pool_destroy();
    return DYX_OK;
}

int dyx_utils_set_cachedir(const char *directory) {
    forget_cache_directory();
    if (directory == nullptr) return DYX_OK;
    const size_t size = std::strlen(directory) + 1;
    dyx_malloc("dyx_utils_set_cachedir", &cache_directory, size, __LINE__, __FILE__);
    if (cache_directory == nullptr) return DYX_NO_MEMORY;
    std::memcpy(cache_directory, directory, size);
    return DYX_OK;
}

const char *dyx_utils_get_cachedir(void) { return cache_directory; }

}  // extern "C"
