// Checks made on a file name before it is handed to a plug-in, and the
// reason a plug-in gives when it refuses a file before making a handle.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "dyx_udil_stream.h"
#include "udil_internal.h"

namespace {

const char *kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

std::string not_regular(mode_t mode) { return std::string("not a regular file (") + kind_of(mode) + ")"; }

bool refuse(const char *path, const std::string &problem) {
    char text[DYX_UDIL_ERROR_SIZE];
    std::snprintf(text, sizeof text, "%s: %s", path, problem.c_str());
    dyx_udil_set_err_str(text);
    return false;
}

}  // namespace

namespace udil {

std::string input_file_problem(const char *path) {
    if (path == nullptr) return "no file name";
    struct stat status;
    if (stat(path, &status) != 0) return std::strerror(errno);
    return S_ISREG(status.st_mode) ? std::string() : not_regular(status.st_mode);
}

bool input_file_usable(const char *path) {
    const std::string problem = input_file_problem(path);
    return problem.empty() ? true : refuse(path ? path : "", problem);
}

bool output_file_usable(const char *path) {
    if (path == nullptr) return false;
    struct stat status;
    // A name that cannot be examined (missing, or a directory on the way
    // that cannot be searched) is left to the plug-in, which reports its
    // own failure to create it.
    if (stat(path, &status) != 0) return true;
    // A character device (/dev/null, /dev/stdout on a terminal) takes the
    // bytes at once; a FIFO would wait for a reader.
    if (S_ISREG(status.st_mode) || S_ISCHR(status.st_mode)) return true;
    return refuse(path, not_regular(status.st_mode));
}

void prefix_last_error(const char *context) {
    char reason[DYX_UDIL_ERROR_SIZE];
    copy_text(reason, sizeof reason, thread_last_error());
    if (context == nullptr || context[0] == '\0') return;
    if (reason[0] == '\0') {
        dyx_udil_set_err_str(context);
        return;
    }
    char text[DYX_UDIL_PATH_SIZE + DYX_UDIL_ERROR_SIZE];
    std::snprintf(text, sizeof text, "%s: %s", context, reason);
    dyx_udil_set_err_str(text);
}

void set_refusal_reason(UdilRecord *record, const char *context) {
    dyx_udil_set_err_udil(record, nullptr);
    prefix_last_error(context);
}

}  // namespace udil
