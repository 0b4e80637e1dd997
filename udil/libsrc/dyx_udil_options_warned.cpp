// Option texts parsed against a plug-in with the parser's warnings handed
// to the caller's callback: how movies and single-image files tell a
// script about options they did not understand.
#include <algorithm>
#include <cstring>

#include "dyx_malloc.h"
#include "dyx_status.h"
#include "udil_internal.h"

namespace {

constexpr int32_t kReaderOptionCapacity = 20;  // options a read stream reports

// Where this thread's option warnings go during one parse.
struct WarningRoute {
    DyxUdilWarningFunc func;
    void *context;
    bool stopped = false;  // the callback asked to stop
};

// Delivers one warning unless the callback already asked to stop: a
// warning that became an error ends the delivery, as the first exception
// ends a statement of a script.
void deliver(void *context, const char *text) {
    WarningRoute &route = *static_cast<WarningRoute *>(context);
    if (route.stopped) return;
    if (route.func(route.context, text) != 0) route.stopped = true;
}

// Routes this thread's option warnings to the route's callback for the
// length of one parse; without a callback they stay with the logger.
class RoutedWarnings {
public:
    explicit RoutedWarnings(WarningRoute &route) : routed_(route.func != nullptr) {
        if (routed_) udil::route_option_warnings(deliver, &route);
    }
    ~RoutedWarnings() {
        if (routed_) udil::route_option_warnings(nullptr, nullptr);
    }
    RoutedWarnings(const RoutedWarnings &) = delete;
    RoutedWarnings &operator=(const RoutedWarnings &) = delete;

private:
    bool routed_;
};

}  // namespace

extern "C" {

int dyx_udil_parse_options_warned(UdilRecord *record, const char *text, DyxUdilWarningFunc warn,
                                  void *context, UdilOption **options, int32_t *count) {
    WarningRoute route{warn, context};
    {
        RoutedWarnings routed(route);
        *options = dyx_udil_parse_options(record, text, count);
    }
    if (route.stopped) {
        if (*options != nullptr) dyx_free(*options, __LINE__, __FILE__);
        *options = nullptr;
        *count = 0;
        return DYX_REFUSED;
    }
    return *options != nullptr || record == nullptr || record->option_count <= 0 ? DYX_OK : DYX_NO_MEMORY;
}

int dyx_udil_reader_options(UdilRecord *record, const char *text, DyxUdilWarningFunc warn, void *context,
                            UdilOption **buffer, int32_t *count, int32_t *capacity) {
    *buffer = nullptr;
    *count = 0;
    UdilOption *parsed = nullptr;
    int32_t parsed_count = 0;
    if (text != nullptr && text[0] != '\0') {
        const int status = dyx_udil_parse_options_warned(record, text, warn, context, &parsed, &parsed_count);
        if (status != DYX_OK) return status;
    }
    *capacity = std::max(kReaderOptionCapacity, parsed_count);
    dyx_malloc("movie_open", buffer, uint64_t(*capacity) * sizeof(UdilOption), __LINE__, __FILE__);
    if (*buffer != nullptr && parsed_count > 0) {
        std::memcpy(*buffer, parsed, size_t(parsed_count) * sizeof(UdilOption));
        *count = parsed_count;
    }
    if (parsed != nullptr) dyx_free(parsed, __LINE__, __FILE__);
    return *buffer != nullptr ? DYX_OK : DYX_NO_MEMORY;
}

}  // extern "C"
