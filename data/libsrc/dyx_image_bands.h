// Image operations split into row bands over the library's workers
// (dyx_parallel_rows). Every target row is computed alone, so the bytes are
// the same whatever the band boundaries; small pictures stay on the
// calling thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <new>

#include "dyx_parallel.h"

namespace dyx_image_bands {

// Bands smaller than this many bytes of work cost more to hand out than
// they save.
constexpr uint64_t kBandBytes = 256 * 1024;

// The fewest rows of a band when each row touches `bytes_per_row` bytes.
inline int64_t min_rows(uint64_t bytes_per_row) {
    return bytes_per_row >= kBandBytes ? 1 : static_cast<int64_t>(kBandBytes / (bytes_per_row + 1)) + 1;
}

// Calls body(first, end) over bands covering [0, rows). A band that runs
// out of memory stops only itself; the error is raised again here once
// every band has ended, so callers handle it as on one thread.
template <typename Body>
void for_row_bands(int64_t rows, uint64_t bytes_per_row, const Body &body) {
    struct Context {
        const Body &body;
        std::atomic<bool> failed{false};
    } context{body};
    dyx_parallel_rows(
        rows, min_rows(bytes_per_row),
        [](int64_t first, int64_t end, void *opaque) {
            Context &band = *static_cast<Context *>(opaque);
            try {
                band.body(first, end);
            } catch (...) {
                band.failed = true;
            }
        },
        &context);
    if (context.failed) throw std::bad_alloc();
}

}  // namespace dyx_image_bands
