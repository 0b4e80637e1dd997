// Frame file names from templates, wildcard tests and the last-error text.
#include <pthread.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "dyx_udil_stream.h"
#include "udil_internal.h"

namespace {

// The codec layer's process-wide error text, written under its lock, and
// each thread's own latest text: a thread that just failed reads its own
// reason there even while other threads fail at the same time.
char last_udil_error[DYX_UDIL_ERROR_SIZE];
std::mutex last_udil_error_lock;
thread_local char thread_udil_error[DYX_UDIL_ERROR_SIZE];

// A worker may be storing its text when the process forks: the lock is
// held across the fork, so that the child does not inherit it taken.
const bool error_lock_fork_safe =
    pthread_atfork([] { last_udil_error_lock.lock(); }, [] { last_udil_error_lock.unlock(); },
                   [] { last_udil_error_lock.unlock(); }) == 0;

void store_last_error(const char *text) {
    udil::copy_text(thread_udil_error, sizeof thread_udil_error, text);
    std::lock_guard<std::mutex> locked(last_udil_error_lock);
    udil::copy_text(last_udil_error, sizeof last_udil_error, text);
}

}  // namespace

namespace udil {

const char *thread_last_error() { return thread_udil_error; }

}  // namespace udil

extern "C" {

int dyx_udil_has_wildcards(const char *name) {
    return name != nullptr && std::strpbrk(name, "#@") != nullptr;
}

int dyx_udil_has_timestep_wildcard(const char *name) {
    return name != nullptr && std::strchr(name, '#') != nullptr;
}

char *dyx_udil_make_filename(char *out, const char *name_template, const char *suffix, int32_t frame,
                             int32_t eye) {
    if (out == nullptr) return nullptr;
    out[0] = '\0';
    if (name_template == nullptr) return nullptr;
    try {
        std::string name(name_template);
        const size_t first = name.find('#');
        if (first != std::string::npos) {
            // The run spans the first to the last '#', whatever lies between;
            // a number wider than the run makes it grow.
            const size_t width = name.rfind('#') - first + 1;
            if (width >= DYX_UDIL_PATH_SIZE) return nullptr;
            char number[DYX_UDIL_PATH_SIZE + 16];
            std::snprintf(number, sizeof number, "%0*d", int(width), int(frame));
            name.replace(first, width, number);
        }
        if (eye >= UDIL_EYE_MONO && eye <= UDIL_EYE_RIGHT) {
            const size_t at = name.find('@');
            if (at != std::string::npos) name[at] = eye == UDIL_EYE_RIGHT ? 'r' : 'l';
        }
        if (suffix != nullptr) name += suffix;
        // A name cut to the buffer would address another file: refuse it.
        if (name.size() >= DYX_UDIL_PATH_SIZE) return nullptr;
        std::memcpy(out, name.c_str(), name.size() + 1);
        return out;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

const char *dyx_udil_output_suffix(const char *name, const UdilRecord *record, const char *chosen) {
    if (chosen == nullptr) chosen = "";
    if (name == nullptr || record == nullptr) return chosen;
    // A file named through one of the process's descriptors (an anonymous
    // in-memory file) cannot take a suffix: the name is the file's own.
    if (std::strncmp(name, "/proc/self/fd/", 14) == 0 || std::strncmp(name, "/dev/fd/", 8) == 0) return "";
    const size_t length = std::strlen(name);
    for (int32_t i = 0; i < record->suffix_count && i < DYX_UDIL_MAX_SUFFIXES; ++i) {
        const char *suffix = record->suffixes[i];
        const size_t suffix_length = std::strlen(suffix);
        // An empty suffix lets a codec read any name; it never names a file.
        if (suffix_length == 0 || suffix_length > length) continue;
        if (strcasecmp(name + length - suffix_length, suffix) == 0) return "";
    }
    for (int32_t i = 0; i < record->more_suffix_count && record->more_suffixes != nullptr; ++i) {
        const char *suffix = record->more_suffixes[i];
        const size_t suffix_length = std::strlen(suffix);
        if (suffix_length == 0 || suffix_length > length) continue;
        if (strcasecmp(name + length - suffix_length, suffix) == 0) return "";
    }
    return chosen;
}

void dyx_udil_set_err_str(const char *text) { store_last_error(text); }

void dyx_udil_set_err_udil(UdilRecord *record, UdilHandle handle) {
    if (record == nullptr || record->entry.get_err == nullptr) return store_last_error(nullptr);
    // The plug-in writes into a roomy zeroed scratch so that a message
    // without a terminator, or a little too long, still ends within it.
    char message[4 * DYX_UDIL_ERROR_SIZE] = {};
    int32_t flag = 0;
    {
        udil::UdilCallGuard guard(record);
        record->entry.get_err(handle, &flag, message);
    }
    message[sizeof message - 1] = '\0';
    store_last_error(flag != 0 ? message : nullptr);
}

const char *dyx_udil_get_last_error_string(void) { return last_udil_error; }

void dyx_udil_copy_last_error(char *out, int32_t size) {
    if (out != nullptr && size > 0) udil::copy_text(out, size_t(size), thread_udil_error);
}

void dyx_udil_with_last_error(char *out, size_t size, const char *message) {
    if (out == nullptr || size == 0) return;
    // This thread's own reason: others may fail at the same time.
    if (thread_udil_error[0] == '\0')
        std::snprintf(out, size, "%s", message);
    else
        std::snprintf(out, size, "%s: %s", message, thread_udil_error);
}

}  // extern "C"
