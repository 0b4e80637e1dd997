// The calling thread's slot number, for the library's own hot paths.
#pragma once

#include <cstdint>

namespace dyx_thread_detail {

// Set once by each thread that dyx_thread_create starts; 0 everywhere else.
// Initial-exec TLS makes the read a single load, which matters in every
// memory-pool allocation.
extern __thread int32_t current_index __attribute__((tls_model("initial-exec")));

inline int32_t thread_index() { return current_index; }

}  // namespace dyx_thread_detail
