#include "ffmpeg_util.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace ffmpeg_plugin {

namespace {

// FFmpeg keeps process-wide state that points into this plug-in (the log
// callback below) and its libraries keep allocations and worker threads
// for the life of the process, so the plug-in must never be unmapped: it
// pins itself when it is loaded, and a host's dlclose leaves it in place.
__attribute__((constructor)) void pin_plugin_in_memory() {
    Dl_info self;
    if (dladdr(reinterpret_cast<void *>(&pin_plugin_in_memory), &self) != 0 && self.dli_fname != nullptr)
        dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

// Written by FFmpeg's (possibly threaded) log callback, read by the
// handle reporting an error.
std::mutex log_mutex;
char last_logged[256];

void collect_log(void *object, int level, const char *format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    char line[256];
    int prefix = 0;
    line[0] = '\0';
    if (object != nullptr) {
        // Name the component that complains, as FFmpeg's own logger does.
        const AVClass *type = *static_cast<AVClass **>(object);
        if (type != nullptr && type->item_name != nullptr)
            prefix = std::snprintf(line, sizeof line, "%s: ", type->item_name(object));
        if (prefix < 0 || prefix >= int(sizeof line)) prefix = 0;
    }
    std::vsnprintf(line + prefix, sizeof line - size_t(prefix), format, args);
    size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = '\0';
    std::lock_guard<std::mutex> lock(log_mutex);
    std::memcpy(last_logged, line, length + 1);
}

}  // namespace

FramePtr make_frame() { return FramePtr(av_frame_alloc()); }

PacketPtr make_packet() { return PacketPtr(av_packet_alloc()); }

std::string error_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    std::string result = text;
    const std::string detail = logged_error();
    if (!detail.empty()) result += " (" + detail + ")";
    return result;
}

std::string logged_error() {
    std::lock_guard<std::mutex> lock(log_mutex);
    return last_logged;
}

void clear_logged_error() {
    std::lock_guard<std::mutex> lock(log_mutex);
    last_logged[0] = '\0';
}

void quiet_ffmpeg_log() {
    static std::once_flag once;
    std::call_once(once, [] {
        // A decoder thread may be logging when the process forks: the
        // child must not inherit the lock taken.
        pthread_atfork([] { log_mutex.lock(); }, [] { log_mutex.unlock(); }, [] { log_mutex.unlock(); });
        av_log_set_callback(collect_log);
    });
}

void keep_codec_tag(AVCodecParameters &copy, const AVOutputFormat &format) {
    const uint32_t stored = copy.codec_tag;
    unsigned int own = 0;
    const bool container_tags = format.codec_tag != nullptr;
    const bool takes_stored = !container_tags || av_codec_get_id(format.codec_tag, stored) == copy.codec_id ||
                              av_codec_get_tag2(format.codec_tag, copy.codec_id, &own) == 0;
    copy.codec_tag = stored != 0 && takes_stored ? stored : 0;
}

}  // namespace ffmpeg_plugin
