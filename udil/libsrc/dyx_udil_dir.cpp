// The plug-in directory: QEV_UDILPATH, else a directory below the install home.
#include "dyx_udil_dir.h"

#include <cstdio>

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

}  // namespace udil
