// The logger: one line per call, handed to a host-installed callback.
#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "dyx_status.h"

#include "dyx_malloc.h"

namespace {

constexpr size_t kLineSize = 8192;

struct LoggerState {
    void *console_stream = nullptr;
    dyx_logger_func console_func = nullptr;
    void *log_stream = nullptr;
    dyx_logger_func log_func = nullptr;
    int32_t time_stamp = 0;
};
LoggerState logger;

struct Level {
    const char *with_time;
    const char *without_time;
};
constexpr Level kPlain{" ", ""};
constexpr Level kWarning{" WARNING: ", "WARNING: "};
constexpr Level kError{" ERROR: ", "ERROR: "};
constexpr Level kFatal{" FATAL: ", "FATAL: "};
constexpr Level kAbort{" ABORT: ", "ABORT: "};

// Appends to line[0..used) without ever passing kLineSize; a line too long
// for the buffer is cut at its end.
size_t append_v(char *line, size_t used, const char *format, va_list args) {
    if (used >= kLineSize - 1) return used;
    const int written = std::vsnprintf(line + used, kLineSize - used, format, args);
    if (written < 0) return used;
    const size_t total = used + static_cast<size_t>(written);
    return total < kLineSize ? total : kLineSize - 1;
}

size_t append(char *line, size_t used, const char *format, ...) {
    va_list args;
    va_start(args, format);
    used = append_v(line, used, format, args);
    va_end(args);
    return used;
}

// The callback takes the line as a printf format: double every '%' so that
// it prints the line exactly and never reads arguments that are not there.
void hand_over(dyx_logger_func func, void *stream, const char *line, size_t length) {
    char scrubbed[2 * kLineSize];
    size_t out = 0;
    for (size_t i = 0; i < length; ++i) {
        scrubbed[out++] = line[i];
        if (line[i] == '%') scrubbed[out++] = '%';
    }
    scrubbed[out] = '\0';
    func(stream, scrubbed);
}

void emit(dyx_logger_func func, void *stream, const Level &level, const char *format, va_list args) {
    if (func == nullptr) return;
    char line[kLineSize];
    line[0] = '\0';
    size_t used = 0;
    if (logger.time_stamp) {
        struct timeval now;
        gettimeofday(&now, nullptr);
        const time_t seconds = now.tv_sec;
        struct tm local;
        localtime_r(&seconds, &local);
        used = append(line, used, "%02d:%02d:%02d%s", local.tm_hour, local.tm_min, local.tm_sec,
                      level.with_time);
    } else {
        used = append(line, used, "%s", level.without_time);
    }
    used = append_v(line, used, format, args);
    hand_over(func, stream, line, used);
}

}  // namespace

#define DYX_EMIT(func, stream, level)            \
    do {                                         \
        va_list args;                            \
        va_start(args, format);                  \
        emit(func, stream, level, format, args); \
        va_end(args);                            \
    } while (0)

extern "C" {

void dyx_logger_init(void *console_stream, dyx_logger_func console_func, void *log_stream,
                     dyx_logger_func log_func) {
    logger.console_stream = console_stream;
    logger.console_func = console_func;
    logger.log_stream = log_stream;
    logger.log_func = log_func;
}

int dyx_logger_done(void) {
    logger.console_stream = nullptr;
    logger.console_func = nullptr;
    logger.log_stream = nullptr;
    logger.log_func = nullptr;
    return DYX_OK;
}

void dyx_logger_time_stamp(int32_t flag) { logger.time_stamp = flag; }

void dyx_info(const char *format, ...) { DYX_EMIT(logger.console_func, logger.console_stream, kPlain); }
void dyx_log(const char *format, ...) { DYX_EMIT(logger.log_func, logger.log_stream, kPlain); }
void dyx_warn(const char *format, ...) { DYX_EMIT(logger.console_func, logger.console_stream, kWarning); }
void dyx_error(const char *format, ...) { DYX_EMIT(logger.console_func, logger.console_stream, kError); }
void dyx_fatal(const char *format, ...) { DYX_EMIT(logger.console_func, logger.console_stream, kFatal); }

void dyx_abort(const char *format, ...) {
    if (logger.console_func == nullptr) return;
    DYX_EMIT(logger.console_func, logger.console_stream, kAbort);
    std::abort();
}

void dyx_debug(const char *, ...) {}

void dyx_stop_here(void) {
    // Kept out of line so that a debugger can break here.
    asm volatile("");
}

}  // extern "C"
