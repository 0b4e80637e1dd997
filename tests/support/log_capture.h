// Captures what the logger hands to its callbacks, printed the way a
// printf-style callback prints it.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "dyx_malloc.h"

namespace testing_support {

struct CapturedStream {
    std::vector<std::string> lines;
};

inline int capture_callback(void *stream, const char *format, ...) {
    char text[40000];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    static_cast<CapturedStream *>(stream)->lines.emplace_back(text);
    return 0;
}

// Installs capturing callbacks for the console and the log for one scope.
struct LogCapture {
    LogCapture() { dyx_logger_init(&console, capture_callback, &log, capture_callback); }
    ~LogCapture() {
        dyx_logger_done();
        dyx_logger_time_stamp(0);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    CapturedStream console, log;
};

}  // namespace testing_support
