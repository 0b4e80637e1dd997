// Path names as text: directory and last component, home expansion,
// absolute paths, search lists and extensions.
#include "dyx_path.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "dyx_status.h"

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

constexpr size_t kWorkingDirectorySize = 1024;

// Home directory from the user database: of `user`, or of the calling
// user (by real user id) when `user` is empty. False when unknown.
bool home_directory(const std::string &user, std::string &home) {
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    passwd record;
    passwd *found = nullptr;
    for (;;) {
        const int error = user.empty()
                              ? getpwuid_r(getuid(), &record, buffer.data(), buffer.size(), &found)
                              : getpwnam_r(user.c_str(), &record, buffer.data(), buffer.size(), &found);
        if (error != ERANGE || buffer.size() >= (1u << 20)) break;
        buffer.resize(buffer.size() * 2);
    }
    if (found == nullptr || found->pw_dir == nullptr) return false;
    home = found->pw_dir;
    return true;
}

// Copies `text` into out when it fits with its NUL; else the needed size.
int copy_if_fits(std::string_view text, char *out, int32_t size) {
    const int64_t needed = static_cast<int64_t>(text.size()) + 1;
    if (out == nullptr || needed > size) return static_cast<int>(needed);
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return DYX_OK;
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

int dyx_expand_pathname(const char *path, char *out, int32_t size) {
    if (out == nullptr || size <= 0) return DYX_BAD_ARGUMENT;
    out[0] = '\0';
    if (path == nullptr || path[0] == '\0') return DYX_OK;
    if (path[0] != '~') {
        if (std::strlen(path) >= static_cast<size_t>(size)) return DYX_BAD_ARGUMENT;
        std::strcpy(out, path);
        return DYX_OK;
    }
    try {
        const std::string_view after_tilde(path + 1);
        const size_t slash = after_tilde.find('/');
        const std::string user(after_tilde.substr(0, slash));
        const std::string_view rest = slash == std::string_view::npos ? "" : after_tilde.substr(slash + 1);
        std::string home;
        if (!home_directory(user, home)) return DYX_PATH_UNKNOWN_USER;
        if (static_cast<int64_t>(rest.size() + home.size()) + 2 > size) return DYX_BAD_ARGUMENT;
        std::string expanded = home + "/";
        expanded += rest;
        std::memcpy(out, expanded.c_str(), expanded.size() + 1);
        return DYX_OK;
    } catch (const std::bad_alloc &) {
        return DYX_BAD_ARGUMENT;
    }
}

int dyx_path_is_absolute(const char *path) {
    if (path == nullptr || path[0] == '\0') return 0;
    if (path[0] == '/' || path[0] == '~') return 1;
    const unsigned char drive = static_cast<unsigned char>(path[0]);
    return path[1] == ':' && drive < 128 && std::isalpha(drive) ? 1 : 0;
}

int dyx_get_full_path(const char *path, char *out, int32_t size) {
    if (path == nullptr || path[0] == '\0') return DYX_PATH_IMPOSSIBLE;
    const std::string_view relative(path);
    if (dyx_path_is_absolute(path)) return copy_if_fits(relative, out, size);
    char directory[kWorkingDirectorySize];
    if (getcwd(directory, sizeof directory) == nullptr) return DYX_PATH_IMPOSSIBLE;
    const size_t directory_length = std::strlen(directory);
    const int64_t needed = static_cast<int64_t>(relative.size() + directory_length) + 2;
    if (out == nullptr || needed > size) return static_cast<int>(needed);
    const char separator = std::strchr(directory, '\\') ? '\\' : '/';
    std::memcpy(out, directory, directory_length);
    out[directory_length] = separator;
    std::memcpy(out + directory_length + 1, path, relative.size() + 1);
    return DYX_OK;
}

int dyx_addpath(char *out, const char *list, ...) {
    if (out == nullptr) return DYX_OK;
    if (list == nullptr) {
        out[0] = '\0';
    } else if (out != list) {
        std::memmove(out, list, std::strlen(list) + 1);
    }
    va_list components;
    va_start(components, list);
    const char *component = va_arg(components, const char *);
    if (component != nullptr && list != nullptr) std::strcat(out, ":");
    for (bool first = true; component != nullptr; component = va_arg(components, const char *)) {
        if (!first) std::strcat(out, "/");
        std::strcat(out, component);
        first = false;
    }
    va_end(components);
    return DYX_OK;
}

char *dyx_find_dot_in_filename(const char *path) {
    if (path == nullptr || path[0] == '\0') return nullptr;
    const char *start = std::strrchr(path, '/');
    if (start == nullptr) start = path;
    if (const char *backslash = std::strrchr(start, '\\')) start = backslash;
    return const_cast<char *>(std::strrchr(start, '.'));
}

int dyx_remove_ext(char *path) {
    if (path == nullptr) return 0;
    char *start = std::strrchr(path, '\\');
    if (start == nullptr) start = path;
    if (char *slash = std::strrchr(start, '/')) start = slash;
    char *dot = std::strrchr(start, '.');
    if (dot == nullptr) return 0;
    *dot = '\0';
    return 1;
}

char *dyx_getcwd(char *buffer, int32_t size) {
    if (size < 0) return nullptr;
    return getcwd(buffer, static_cast<size_t>(size));
}

int dyx_setcwd(const char *path) { return path == nullptr ? -1 : chdir(path); }

}  // extern "C"
