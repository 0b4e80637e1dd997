// Helpers shared by the codec host's sources (not exported).
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>

#include "dyx_malloc.h"
#include "dyx_udil.h"

namespace udil {

// Serialises calls into one plug-in for its lifetime: a plug-in that does
// not declare itself safe for concurrent use (udil_concurrent_use) is
// entered by one thread at a time. Recursive, so nested guards on one
// thread are harmless; a null record is ignored. Hold it around every call
// of a plug-in entry point (and the host code between calls that belong
// together, such as file_new, save_image and file_close of one frame).
class UdilCallGuard {
public:
    explicit UdilCallGuard(UdilRecord *record)
        : lock_(record != nullptr && !record->concurrent_use ? &record->call_lock : nullptr) {
        if (lock_ != nullptr) pthread_mutex_lock(lock_);
    }
    ~UdilCallGuard() {
        if (lock_ != nullptr) pthread_mutex_unlock(lock_);
    }
    UdilCallGuard(const UdilCallGuard &) = delete;
    UdilCallGuard &operator=(const UdilCallGuard &) = delete;

private:
    pthread_mutex_t *lock_;
};

// udil_create_reader after telling the plug-in how many threads the new
// handle may use (the library's worker count), so that one worker means
// no decoder threads either. Call with the record's UdilCallGuard held.
UdilHandle create_reader(const UdilRecord &record, const char *path, UdilMovieInfo *info, int32_t *count,
                         int32_t capacity, UdilOption *options);

// The last-error text the calling thread set most recently (see
// dyx_udil_copy_last_error); the host's own code reads this one, so that
// a reason never comes from another thread's failure.
const char *thread_last_error();

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

// A dyx_malloc'd copy of `count` (> 0) option records, or null when memory
// fails. A plug-in writes its defaults back into the records it is handed,
// so a reader is given a copy whenever the originals must stay.
inline UdilOption *copy_options(const char *what, const UdilOption *source, int32_t count) {
    UdilOption *copy = nullptr;
    dyx_malloc(what, &copy, uint64_t(count) * sizeof(UdilOption), __LINE__, __FILE__);
    if (copy != nullptr) std::memcpy(copy, source, size_t(count) * sizeof(UdilOption));
    return copy;
}

// A plug-in may hand back option texts without terminators: every text
// field is cut to its size so that nothing reads past it.
inline void terminate_option_texts(UdilOption &option) {
    option.name[sizeof option.name - 1] = '\0';
    option.range[sizeof option.range - 1] = '\0';
    option.value[sizeof option.value - 1] = '\0';
    option.description[sizeof option.description - 1] = '\0';
}

// Null when `path` may be handed to the dynamic loader; else why not: a
// shared object whose loadable segments reach past the end of the file
// (it was cut short) would be mapped beyond its end and crash the process
// when touched. Files that are no shared object at all are left to the
// loader, which refuses them with its own message.
const char *truncated_object_problem(const char *path);

// Calls `visit` with the path and the file name of each libudil-*.so file
// of `directory`, in the listing's order, until it answers false. Nothing
// for a directory that cannot be listed or a path too long for a record.
void for_each_plugin_file(const std::string &directory,
                          const std::function<bool(const std::string &path, const char *name)> &visit);

// True when `path` names a regular file (or a link to one) that a plug-in
// may open for reading; otherwise the last error says why ("a.png: No such
// file or directory", "a.png: not a regular file (a FIFO)"). Only stat is
// used, so a FIFO or a device is never opened and nothing blocks.
bool input_file_usable(const char *path);
// The same check without touching the last error: empty, or why not
// ("No such file or directory", "not a regular file (a FIFO)").
std::string input_file_problem(const char *path);

// True when nothing exists at `path`, or a regular file that may be
// replaced, or a character device (/dev/null); a FIFO, directory, socket
// or block device there is refused the same way (a plug-in writing into a
// FIFO would wait for a reader for ever).
bool output_file_usable(const char *path);

// After a create function of `record` gave no handle, the last error
// becomes "context: reason" with the plug-in's reason (udil_get_err with a
// null handle), or just the context when the plug-in gives none (and just
// the reason when the context is empty).
void set_refusal_reason(UdilRecord *record, const char *context);

// The last error becomes "context: <last error>" (just the context when
// there is none; unchanged for an empty context).
void prefix_last_error(const char *context);

// Hands the option parser's warnings on this thread to `sink` (the text
// without its newline) instead of the logger, until called again with a
// null sink.
using OptionWarningSink = void (*)(void *context, const char *text);
void route_option_warnings(OptionWarningSink sink, void *context);

}  // namespace udil
