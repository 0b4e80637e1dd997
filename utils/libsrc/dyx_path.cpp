// Path names as text.
#include "dyx_path.h"

#include <cstring>

namespace {

char kDot[] = ".";
char kSlashRoot[] = "/";
char kBackslashRoot[] = "\\";
char kDoubleBackslash[] = "\\\\";

char separator_of(const char *path) { return std::strchr(path, '\\') ? '\\' : '/'; }

// The cases dirname and basename share. Returns the answer when the path
// is settled by them, else null after removing trailing separators.
char *shared_cases(char *path, char separator) {
    if (path == nullptr || path[0] == '\0' || std::strcmp(path, " ") == 0) return kDot;
    if ((path[0] == separator && path[1] == '\0') || std::strcmp(path, "\\\\") == 0) return path;
    size_t length = std::strlen(path);
    while (length > 1 && path[length - 1] == separator) path[--length] = '\0';
    return nullptr;
}

}  // namespace

extern "C" {

char *dyx_dirname(char *path) {
    const char separator = path ? separator_of(path) : '/';
    if (char *settled = shared_cases(path, separator)) return settled;
    char *last = std::strrchr(path, separator);
    if (last == nullptr) return kDot;
    if (last == path) return separator == '\\' ? kBackslashRoot : kSlashRoot;
    if (separator == '\\' && last == path + 1) return kDoubleBackslash;
    *last = '\0';
    return path;
}

char *dyx_basename(char *path) {
    const char separator = path ? separator_of(path) : '/';
    if (char *settled = shared_cases(path, separator)) return settled;
    char *last = std::strrchr(path, separator);
    if (last == nullptr || last[1] == '\0') return path;
    return last + 1;
}

}  // extern "C"
