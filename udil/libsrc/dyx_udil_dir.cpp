// The plug-in directory: QEV_UDILPATH, else a directory below the install
// home; and whether a directory holds plug-ins of another orvo version.
#include "dyx_udil_dir.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "udil_internal.h"

namespace udil {

bool choose_plugin_directory(const char *override_path, const char *home, const char *arch, char *out,
                             size_t size) {
    if (out == nullptr || size == 0) return false;
    int needed;
    if (override_path != nullptr)
        needed = std::snprintf(out, size, "%s", override_path);
    else
        needed = std::snprintf(out, size, "%s/vorp%s/machines/%s/QEV/lib/udil", home, "32", arch);
    // A cut directory name would point somewhere else: refuse it instead.
    if (needed < 0 || static_cast<size_t>(needed) >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}

namespace {

constexpr std::string_view kPrefix = "libudil-";
constexpr std::string_view kSuffix = ".so";

// "png" for "libudil-png.so"; empty for a name that is no plug-in's.
std::string_view plugin_name(std::string_view file) {
    if (file.size() <= kPrefix.size() + kSuffix.size() || file.substr(0, kPrefix.size()) != kPrefix ||
        file.substr(file.size() - kSuffix.size()) != kSuffix)
        return {};
    return file.substr(kPrefix.size(), file.size() - kPrefix.size() - kSuffix.size());
}

bool is_listed(std::string_view name, std::string_view names) {
    while (!names.empty()) {
        const size_t space = names.find(' ');
        if (names.substr(0, space) == name) return true;
        if (space == std::string_view::npos) break;
        names.remove_prefix(space + 1);
    }
    return false;
}

}  // namespace

bool find_plugin_of_other_version(const char *directory, const char *version, const char *own_names,
                                  char *problem, size_t size) {
    if (problem == nullptr || size == 0) return false;
    problem[0] = '\0';
    bool found = false;
    try {
        for_each_plugin_file(directory, [&](const std::string &path, const char *file) {
            char mark[64];
            if (read_version_mark(path.c_str(), mark, sizeof mark)) {
                found = std::strcmp(mark, version) != 0;
                if (found) std::snprintf(problem, size, "%s is from orvo %s", file, mark);
            } else if (is_listed(plugin_name(file), own_names ? own_names : "")) {
                found = true;
                std::snprintf(problem, size, "%s carries no orvo version", file);
            }
            return !found;
        });
    } catch (const std::bad_alloc &) {
        found = false;  // no memory to look: judged as before
    }
    return found;
}

}  // namespace udil
