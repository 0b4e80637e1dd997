// Normalised paths and separator conversion.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "dyx_malloc.h"
#include "dyx_path.h"
#include "dyx_status.h"
#include "dyx_string.h"

namespace {

constexpr size_t kMaxNormComponents = 1024;

bool is_separator(char c) { return c == '/' || c == '\\'; }

// The components of `path` left after "." and ".." are resolved, after the
// leading slashes. False when a ".." climbs above the start or the path
// has too many components.
bool resolve_components(std::string_view rest, std::vector<std::string_view> &kept) {
    size_t count = 0;
    size_t position = 0;
    while (position < rest.size()) {
        const size_t end = std::min(rest.find('/', position), rest.size());
        if (end > position) {
            if (++count > kMaxNormComponents) return false;
            const std::string_view component = rest.substr(position, end - position);
            if (component == "..") {
                if (kept.empty()) return false;
                kept.pop_back();
            } else if (component != ".") {
                kept.push_back(component);
            }
        }
        position = end + 1;
    }
    return true;
}

bool is_special_character(char c) { return std::strchr(":*?\"<>|", c) != nullptr && c != '\0'; }

// Separator cleaning of dyx_convert_pathname, in place: nothing is
// written ahead of what has been read.
void clean_separators(char *path) {
    const size_t length = std::strlen(path);
    size_t in = 0;
    size_t out = 0;
    // A run of two or more identical separators at the start is kept as
    // two (a network path); the second one is read again by the loop so
    // that "//./a" still drops the "./".
    if (length >= 2 && is_separator(path[0]) && path[1] == path[0]) {
        out = 2;
        in = 1;
        while (in + 1 < length && path[in + 1] == path[0]) ++in;
    }
    while (in < length) {
        const char c = path[in];
        if (!is_separator(c)) {
            path[out++] = path[in++];
            continue;
        }
        const char *next = path + in + 1;
        if (next[0] == '.' && is_separator(next[1])) {  // "/./"
            in += 2;
            continue;
        }
        if (next[0] == '.' && next[1] == '.' && is_separator(next[2])) {  // "/../"
            size_t start = out;
            while (start > 0 && !is_separator(path[start - 1])) --start;
            const std::string_view previous(path + start, out - start);
            if (previous.empty() && start == 0) {  // ".." of the root stays at the root
                in += 3;
                continue;
            }
            if (!previous.empty() && previous != "." && previous != "..") {
                out = start;  // keeps the separator before the removed component
                in += 4;
                continue;
            }
        }
        if (out > 0 && path[out - 1] == c) {  // a run of one separator is written once
            ++in;
            continue;
        }
        path[out++] = path[in++];
    }
    path[out] = '\0';
}

}  // namespace

extern "C" {

int dyx_get_norm_path(const char *path, char *out, int32_t size) {
    if (path == nullptr) return DYX_PATH_IMPOSSIBLE;
    if (path[0] == '\0') {
        dyx_strncpy(out, ".", size);
        return DYX_OK;
    }
    char *copy = nullptr;
    const size_t length = std::strlen(path);
    dyx_malloc("dyx_get_norm_path", &copy, length + 1, __LINE__, __FILE__);
    if (copy == nullptr) return DYX_PATH_IMPOSSIBLE;
    std::memcpy(copy, path, length + 1);
    dyx_convert_pathname(copy, DYX_PATH_TO_SLASH);
    int result = DYX_PATH_IMPOSSIBLE;
    try {
        const std::string_view text(copy, length);
        size_t slashes = text.find_first_not_of('/');
        if (slashes == std::string_view::npos) slashes = length;
        const std::string_view rest = text.substr(slashes);
        if (slashes > 2) slashes = 1;
        std::vector<std::string_view> kept;
        if (resolve_components(rest, kept)) {
            std::string normal(slashes, '/');
            for (size_t i = 0; i < kept.size(); ++i) {
                if (i > 0) normal += '/';
                normal += kept[i];
            }
            // Room counted as the leading slashes plus each component with
            // its separator or NUL; an empty result still needs "." and NUL.
            int64_t needed = static_cast<int64_t>(normal.size()) + (kept.empty() ? 0 : 1);
            if (normal.empty()) {
                normal = ".";
                needed = 1;
            }
            if (out == nullptr || needed >= size) {
                result = static_cast<int>(needed + 1);
            } else {
                std::memcpy(out, normal.c_str(), normal.size() + 1);
                dyx_convert_pathname(out, 0);
                result = 0;
            }
        }
    } catch (const std::bad_alloc &) {
        result = DYX_PATH_IMPOSSIBLE;
    }
    dyx_free(copy, __LINE__, __FILE__);
    return result;
}

int dyx_convert_pathname(char *path, int32_t mode) {
    if (path == nullptr) return DYX_OK;
    int32_t direction = mode & ~0xff00;
    if (direction == 0) direction = DYX_PATH_TO_SLASH;
    const char from = direction == DYX_PATH_TO_BACKSLASH ? '/' : '\\';
    const char to = direction == DYX_PATH_TO_BACKSLASH ? '\\' : '/';
    for (char *c = path; *c; ++c) {
        if (*c == from) *c = to;
    }
    if (mode & DYX_PATH_REPLACE_SPECIAL) {
        for (char *c = path; *c; ++c) {
            const bool drive_colon = c == path + 1 && *c == ':';
            if (is_special_character(*c) && !drive_colon) *c = '_';
        }
    }
    if (mode & DYX_PATH_CLEAN) clean_separators(path);
    return DYX_OK;
}

}  // extern "C"
