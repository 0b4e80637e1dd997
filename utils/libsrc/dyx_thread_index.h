// The calling thread's slot number, for the library's own hot paths.
#pragma once

#include <cstdint>

namespace dyx_thread_detail {

// What current_index holds in a thread the library neither started nor
// was initialised by (a Python thread, a std::thread worker). Such threads
// read index 0 through dyx_thread_index, but must not use slot 0's
// private pool lists, which belong to the initialising thread alone.
constexpr int32_t kForeignThread = -1;

// Set once by each thread that dyx_thread_create starts and to 0 by
// dyx_thread_init's caller; kForeignThread everywhere else. Initial-exec
// TLS makes the read a single load, which matters in every memory-pool
// allocation.
extern __thread int32_t current_index __attribute__((tls_model("initial-exec")));

// The raw value: kForeignThread, or the thread's slot.
inline int32_t thread_index() { return current_index; }

// Gives slot 0 to the calling foreign thread when no thread holds it yet
// (a host that never called dyx_thread_init keeps today's behaviour: its
// one thread uses slot 0's lists). True when the caller now holds slot 0.
bool adopt_slot_zero();

}  // namespace dyx_thread_detail
