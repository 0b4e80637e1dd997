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

}  // namespace udil
