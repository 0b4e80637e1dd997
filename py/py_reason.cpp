// Error texts with the reason the codec layer gave.
#include "py_reason.h"  // first: it brings in Python.h

#include <cstdio>

#include "dyx_udil_stream.h"

namespace orvo {

void reason_reset() { dyx_udil_set_err_str(nullptr); }

void with_reason(char *out, size_t size, const char *message) {
    if (out == nullptr || size == 0) return;
    // This thread's own reason: others may fail at the same time.
    char reason[DYX_UDIL_ERROR_SIZE];
    dyx_udil_copy_last_error(reason, sizeof reason);
    if (reason[0] == '\0')
        std::snprintf(out, size, "%s", message);
    else
        std::snprintf(out, size, "%s: %s", message, reason);
}

}  // namespace orvo
