// A movie's option text parsed against its plug-in, with the parser's
// warnings handed to the caller's warning callback.
#include <algorithm>
#include <cstring>

#include "dyx_malloc.h"
#include "udil_internal.h"
#include "udil_movie_internal.h"

namespace udil {
namespace {

constexpr int32_t kReaderOptionCapacity = 20;  // options a read stream reports

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
        if (routed_) route_option_warnings(deliver, &route);
    }
    ~RoutedWarnings() {
        if (routed_) route_option_warnings(nullptr, nullptr);
    }
    RoutedWarnings(const RoutedWarnings &) = delete;
    RoutedWarnings &operator=(const RoutedWarnings &) = delete;

private:
    bool routed_;
};

}  // namespace

bool parse_movie_options(UdilRecord *codec, const char *text, WarningRoute &route, UdilOption **options,
                         int32_t *count) {
    {
        RoutedWarnings routed(route);
        *options = dyx_udil_parse_options(codec, text, count);
    }
    if (route.stopped) {
        if (*options != nullptr) dyx_free(*options, __LINE__, __FILE__);
        *options = nullptr;
        *count = 0;
        return false;
    }
    return *options != nullptr || codec->option_count <= 0;
}

bool make_reader_options(UdilRecord *codec, const char *text, WarningRoute &route, UdilOption **buffer,
                         int32_t *count, int32_t *capacity) {
    *buffer = nullptr;
    *count = 0;
    UdilOption *parsed = nullptr;
    int32_t parsed_count = 0;
    if (text != nullptr && text[0] != '\0' &&
        !parse_movie_options(codec, text, route, &parsed, &parsed_count))
        return false;
    *capacity = std::max(kReaderOptionCapacity, parsed_count);
    dyx_malloc("movie_open", buffer, uint64_t(*capacity) * sizeof(UdilOption), __LINE__, __FILE__);
    if (*buffer != nullptr && parsed_count > 0) {
        std::memcpy(*buffer, parsed, size_t(parsed_count) * sizeof(UdilOption));
        *count = parsed_count;
    }
    if (parsed != nullptr) dyx_free(parsed, __LINE__, __FILE__);
    return *buffer != nullptr;
}

}  // namespace udil
