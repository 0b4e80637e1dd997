// Helpers shared by the codec host's sources (not exported).
#pragma once

#include <cstddef>
#include <cstring>

#include "dyx_udil.h"

namespace udil {

// Copies at most size - 1 characters of `source` (null reads as empty) and
// terminates; looks no further than the bytes it keeps, so a text without
// a terminator is cut safely.
inline void copy_text(char *target, size_t size, const char *source) {
    if (target == nullptr || size == 0) return;
    size_t length = 0;
    if (source != nullptr)
        while (length + 1 < size && source[length] != '\0') ++length;
    if (length) std::memcpy(target, source, length);
    target[length] = '\0';
}

// Null when `path` may be handed to the dynamic loader; else why not: a
// shared object whose loadable segments reach past the end of the file
// (it was cut short) would be mapped beyond its end and crash the process
// when touched. Files that are no shared object at all are left to the
// loader, which refuses them with its own message.
const char *truncated_object_problem(const char *path);

}  // namespace udil
