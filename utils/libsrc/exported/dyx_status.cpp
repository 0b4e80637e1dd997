// Descriptions of the shared status codes.
#include "dyx_status.h"

namespace {

struct StatusText {
    int status;
    const char *text;
};

constexpr StatusText kTexts[] = {
    {DYX_OK, "success"},
    {DYX_REFUSED, "refused or mismatch"},
    {DYX_NO_MEMORY, "memory exhausted or no room"},
    {DYX_NOT_FOUND, "not found"},
    {DYX_THREADS_FAILED, "the thread layer failed to start"},
    {DYX_BAD_ARGUMENT, "invalid argument"},
    {DYX_SYSTEM_FAILED, "a system call, file open or parse failed"},
    {DYX_CANNOT_OPEN_DIRECTORY, "directory cannot be opened"},
    {DYX_TARGET_EXISTS, "target exists"},
    {DYX_SOURCE_UNREADABLE, "source cannot be opened"},
    {DYX_FRAME_MISMATCH, "frame file differs from its stream"},
    {DYX_NAME_TOO_LONG, "name or path too long"},
};

}  // namespace

const char *dyx_status_text(int status) {
    for (const StatusText &entry : kTexts)
        if (entry.status == status) return entry.text;
    return "unknown status";
}
