// Dynamic loading with the optional start-up hooks, and the install home.
#include "dyx_dl.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "dyx_malloc.h"
#include "dyx_path.h"
#include "dyx_status.h"
#include "dyx_string.h"

namespace {

std::string handle_name;
bool handle_name_set = false;

typedef void (*StartupHook)(const char *);

void call_hook(void *library, const char *symbol) {
    void *address = dlsym(library, symbol);
    if (address == nullptr) return;
    StartupHook hook;
    std::memcpy(&hook, &address, sizeof hook);
    hook(handle_name_set ? handle_name.c_str() : nullptr);
}

// Changes into a library's directory for the duration of its load so that
// its own relative dependencies resolve there; restores the old directory
// when it goes out of scope.
class DirectorySwitch {
public:
    explicit DirectorySwitch(const char *file) {
        char copy[1025];
        dyx_strncpy(copy, file, sizeof copy);
        const char *directory = dyx_dirname(copy);
        if (directory[0] == '\0' || std::strcmp(directory, ".") == 0) return;
        if (getcwd(previous_, sizeof previous_) == nullptr) return;
        // A relative library name would no longer resolve from inside the
        // new directory, so load it by its absolute name.
        if (file[0] != '/') absolute_name_ = std::string(previous_) + "/" + file;
        switched_ = chdir(directory) == 0;
    }
    ~DirectorySwitch() {
        if (switched_ && chdir(previous_) != 0) dyx_error("cannot return to directory %s\n", previous_);
    }
    const char *name_for(const char *file) const {
        return (switched_ && !absolute_name_.empty()) ? absolute_name_.c_str() : file;
    }
    DirectorySwitch(const DirectorySwitch &) = delete;
    DirectorySwitch &operator=(const DirectorySwitch &) = delete;

private:
    char previous_[PATH_MAX] = {};
    std::string absolute_name_;
    bool switched_ = false;
};

void *load(const char *file, int flags) {
    int mode = (flags & DYX_DL_NOW) ? RTLD_NOW : RTLD_LAZY;
#ifdef DYX_DL_KEEP_MAPPED
    // The fuzz build keeps closed libraries mapped, so that the leak and
    // crash reports of many short loads can still name their code.
    mode |= RTLD_NODELETE;
#endif
    if (flags & DYX_DL_CHDIR) {
        DirectorySwitch inside(file);
        return dlopen(inside.name_for(file), mode);
    }
    return dlopen(file, mode);
}

}  // namespace

extern "C" {

int dyx_dl_open(void **handle, const char *file, int flags) {
    if (handle == nullptr) return DYX_BAD_ARGUMENT;
    *handle = nullptr;
    if (file == nullptr) return DYX_SYSTEM_FAILED;
    try {
        *handle = load(file, flags);
    } catch (const std::bad_alloc &) {
        return DYX_NO_MEMORY;
    }
    if (*handle == nullptr) return DYX_SYSTEM_FAILED;
    call_hook(*handle, "dyx_dl_init");
    call_hook(*handle, "dyx_prs_dl_init");
    return DYX_OK;
}

int dyx_dl_bindproc(void **handle, void *address, const char *name, int verbose) {
    void **target = static_cast<void **>(address);
    if (target) *target = nullptr;
    if (handle == nullptr || *handle == nullptr || target == nullptr) return DYX_BAD_ARGUMENT;
    void *found = dlsym(*handle, name);
    if (found != nullptr) {
        *target = found;
        return DYX_OK;
    }
    if (verbose) dyx_error("ERROR: failed to map proc [%s]\n", name);
    return DYX_NOT_FOUND;
}

int dyx_dl_close(void **handle) {
    if (handle != nullptr && *handle != nullptr) {
        dlclose(*handle);
        *handle = nullptr;
    }
    return DYX_OK;
}

const char *dyx_dl_error(void) {
    const char *text = dlerror();
    return text ? text : "";
}

int dyx_dl_set_handle_name(const char *name) {
    try {
        handle_name_set = name != nullptr;
        handle_name = name ? name : "";
    } catch (const std::bad_alloc &) {
        return DYX_NO_MEMORY;
    }
    return DYX_OK;
}

const char *dyx_qev_home(void) {
    static char home[1025];
    static bool cached = false;
    if (cached) return home;
    const char *value = std::getenv("QEV_HOME");
    dyx_strncpy(home, value ? value : "/usr/local/QEV", sizeof home);
    // Drop one trailing separator (line ends before it are ignored).
    size_t length = std::strlen(home);
    while (length > 0 && (home[length - 1] == '\n' || home[length - 1] == '\r')) --length;
    if (length > 1 && (home[length - 1] == '/' || home[length - 1] == '\\')) home[length - 1] = '\0';
    cached = true;
    return home;
}

const char *dyx_qev_arch(void) { return "linux_2.6_64"; }

}  // extern "C"
