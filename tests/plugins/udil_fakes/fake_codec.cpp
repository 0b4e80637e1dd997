// A configurable test codec: one source built into many libudil-*.so files
// whose compile definitions make them misbehave in the ways a real codec
// never does (old API versions, odd texts, missing entry points, refusals).
//
// Files are trivial: a 64-byte text header "FAKE w h format stereo frames"
// followed by raw frames, each the left picture and, for stereo files, the
// right one. Tests drive and observe the plug-in through fake_log,
// fake_clear and fake_fail, which they look up with dlsym.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "udil_sdk.h"

#ifndef FAKE_NAME
#define FAKE_NAME "fake"
#endif
#ifndef FAKE_VERSION
#define FAKE_VERSION "3.0"
#endif
#ifndef FAKE_SUFFIX
#define FAKE_SUFFIX ".fk"
#endif
#ifndef FAKE_MULTI
#define FAKE_MULTI 0
#endif
#ifndef FAKE_STEREO
#define FAKE_STEREO 0
#endif

namespace {

constexpr long kHeaderSize = 64;

std::string call_log;

// One planned failure: operation name, a text the file path must contain,
// and the status to return.
struct PlannedFailure {
    std::string operation;
    std::string path_part;
    int status;
};
std::vector<PlannedFailure> failures;

// The text is looked for in the file's own name, not in its folders: a
// scratch folder's random name may hold it too ("p0" in /tmp/orvo_test_xp0Kq2).
int planned_status(const char *operation, const std::string &path) {
    const std::string name = path.substr(path.find_last_of('/') + 1);
    for (const PlannedFailure &failure : failures)
        if (failure.operation == operation && name.find(failure.path_part) != std::string::npos)
            return failure.status;
    return 0;
}

void log_call(const char *format, ...) __attribute__((format(printf, 1, 2)));
void log_call(const char *format, ...) {
    char line[1200];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    call_log += line;
    call_log += '\n';
}

int64_t picture_bytes(const UdilMovieInfo &info) {
    return int64_t(info.width) * info.height * udil_sdk::format_channels(info.pixel_format);
}

bool read_info(std::FILE *file, UdilMovieInfo &info) {
    char header[kHeaderSize + 1] = {};
    if (std::fseek(file, 0, SEEK_SET) != 0 || std::fread(header, 1, kHeaderSize, file) != size_t(kHeaderSize))
        return false;
    info = UdilMovieInfo{0, 0, 0, 0, 0, 7, 25.0f, 0};
    return std::sscanf(header, "FAKE %d %d %d %d %d", &info.width, &info.height, &info.pixel_format,
                       &info.stereo, &info.frames) == 5 &&
           udil_sdk::format_channels(info.pixel_format) > 0 && info.width > 0 && info.height > 0;
}

class FakeHandle : public udil_sdk::Handle {
public:
    explicit FakeHandle(const UdilMovieInfo &info) : info_(info) {}
    ~FakeHandle() override { FakeHandle::file_close(); }

    int32_t file_new(const char *path) override { return start("new", path, true); }
    int32_t file_open(const char *path) override { return start("open", path, false); }

    int32_t file_close() override {
        if (file_ == nullptr) return 0;
        log_call("close %s", path_.c_str());
        if (writing_) write_header();
        std::fclose(file_);
        file_ = nullptr;
        if (int status = planned_status("close", path_))
            return fail(status, "fake: close refused for %s", path_.c_str());
        return 0;
    }

    int32_t save_image(int32_t frame, int32_t eye, const void *left, const void *right) override {
        log_call("save %s frame=%d eye=%d left=%d right=%d", path_.c_str(), frame, eye, left != nullptr,
                 right != nullptr);
        if (int status = planned_status("save", path_))
            return fail(status, "fake: save refused for frame %d", frame);
        if (file_ == nullptr) return fail(6, "fake: no file");
        const int32_t index = FAKE_MULTI ? frame : 0;
        const void *first = left ? left : right;
        if (first == nullptr) return fail(6, "fake: no pixels");
        if (!write_part(index, 0, first)) return fail(7, "fake: write failed");
        if (info_.stereo && eye == UDIL_EYE_BOTH && left && right && !write_part(index, 1, right))
            return fail(7, "fake: write failed");
        if (index + 1 > frames_) frames_ = index + 1;
        return 0;
    }

    int32_t get_image(int32_t frame, int32_t eye, void *left, void *right) override {
        log_call("get %s frame=%d eye=%d left=%d right=%d", path_.c_str(), frame, eye, left != nullptr,
                 right != nullptr);
        if (int status = planned_status("get", path_))
            return fail(status, "fake: get refused for frame %d", frame);
        if (file_ == nullptr) return fail(6, "fake: no file");
        const int32_t index = FAKE_MULTI ? frame : 0;
        if (index < 0 || index >= frames_) return fail(6, "fake: no frame %d", frame);
        const int right_part = info_.stereo ? 1 : 0;
        if (eye == UDIL_EYE_RIGHT)
            return read_part(index, right_part, left ? left : right) ? 0 : fail(7, "fake: short");
        if (left && !read_part(index, 0, left)) return fail(7, "fake: short");
        if (eye == UDIL_EYE_BOTH && right && !read_part(index, right_part, right))
            return fail(7, "fake: short");
        return 0;
    }

    int64_t compressed_size() override { return picture_bytes(info_) * (info_.stereo ? 2 : 1); }

    // Copies each frame's left picture (cut to the stride) into the data
    // area; 64-bit entries get the size, 32-bit ones the file frame.
    int32_t get_images_compressed(UdilCompressedRequest &request) override {
        log_call("compressed %s marker=%d first=%d count=%d stride=%d eye=%d", path_.c_str(), request.marker,
                 request.first_frame, request.frame_count, request.stride, request.eye);
        std::vector<uint8_t> picture(size_t(picture_bytes(info_)));
        for (int32_t i = 0; i < request.frame_count; ++i) {
            const int32_t frame = request.first_frame + i;
            const int32_t index = FAKE_MULTI ? frame : 0;
            if (!read_part(index, 0, picture.data())) return fail(7, "fake: short");
            if (request.data)
                std::memcpy(request.data + int64_t(i) * request.stride, picture.data(),
                            std::min(size_t(request.stride), picture.size()));
            if (request.entries64) request.entries64[i] = int64_t(picture.size());
            if (request.entries32) request.entries32[i] = frame;
        }
        return 0;
    }

    int32_t uncompress_image(const void *data, int32_t size, void *pixels) override {
        if (data == nullptr || pixels == nullptr || size < 0) return fail(6, "fake: nothing to uncompress");
        std::memcpy(pixels, data, std::min(size_t(size), size_t(picture_bytes(info_))));
        return 0;
    }

private:
    // Opens `path` to write a new file ("new") or to read one ("open").
    int32_t start(const char *operation, const char *path, bool writing) {
        log_call("%s %s", operation, path);
        if (int status = planned_status(operation, path))
            return fail(status, "fake: %s refused for %s", operation, path);
        file_close();
        file_ = std::fopen(path, writing ? "w+b" : "rb");
        if (file_ == nullptr) return fail(7, "fake: can't %s %s", writing ? "create" : "open", path);
        path_ = path;
        writing_ = writing;
        if (writing) {
            frames_ = 0;
            return write_header();
        }
        if (!read_info(file_, info_)) {
            file_close();
            return fail(7, "fake: %s is not a fake file", path);
        }
        frames_ = info_.frames;
        return 0;
    }

    int32_t write_header() {
        char header[kHeaderSize + 1];
        std::snprintf(header, sizeof header, "FAKE %d %d %d %d %d", info_.width, info_.height,
                      info_.pixel_format, info_.stereo, frames_);
        const size_t used = std::strlen(header);
        std::memset(header + used, ' ', size_t(kHeaderSize) - used);
        header[kHeaderSize - 1] = '\n';
        if (std::fseek(file_, 0, SEEK_SET) != 0 ||
            std::fwrite(header, 1, kHeaderSize, file_) != size_t(kHeaderSize))
            return fail(7, "fake: header write failed");
        return 0;
    }

    long part_offset(int32_t index, int part) const {
        const int64_t bytes = picture_bytes(info_);
        return long(kHeaderSize + (int64_t(index) * (info_.stereo ? 2 : 1) + part) * bytes);
    }

    bool write_part(int32_t index, int part, const void *pixels) {
        const size_t bytes = size_t(picture_bytes(info_));
        return std::fseek(file_, part_offset(index, part), SEEK_SET) == 0 &&
               std::fwrite(pixels, 1, bytes, file_) == bytes;
    }

    bool read_part(int32_t index, int part, void *pixels) {
        const size_t bytes = size_t(picture_bytes(info_));
        return pixels != nullptr && std::fseek(file_, part_offset(index, part), SEEK_SET) == 0 &&
               std::fread(pixels, 1, bytes, file_) == bytes;
    }

    UdilMovieInfo info_;
    std::FILE *file_ = nullptr;
    std::string path_;
    int32_t frames_ = 0;
    bool writing_ = false;
};

constexpr udil_sdk::OptionSpec kOptionSpecs[] = {
    {"quality", UDIL_OPT_INT, "1 100", "50", "Quality"},
    {"gamma", UDIL_OPT_FLOAT, "0 1", "0.500000", ""},
    {"compression", UDIL_OPT_CHOICE, "none|rle|zip", "0", "Compression"},
    {"flag", UDIL_OPT_BOOLEAN, "", "1", "A flag"},
    {"comment", UDIL_OPT_TEXT, "", "hello", "Comment"},
};

#ifdef FAKE_MANY_SUFFIXES
// 20 suffixes, the third of them 40 characters long.
#define FAKE_SUFFIX_LIST                                                                                \
    ".s01", ".s02", ".abcdefghijklmnopqrstuvwxyz0123456789abc", ".s04", ".s05", ".s06", ".s07", ".s08", \
        ".s09", ".s10", ".s11", ".s12", ".s13", ".s14", ".s15", ".s16", ".s17", ".s18", ".s19", ".s20"
#else
#define FAKE_SUFFIX_LIST FAKE_SUFFIX
#endif

#ifdef FAKE_LONG_TEXTS
// A description of 40 characters and no terminator within its array.
const char kUnterminated[40] = {'d', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd',
                                'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd',
                                'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd', 'd'};
#endif

struct FakeCodec : udil_sdk::PluginDefaults {
    static constexpr const char *kApiVersion = FAKE_VERSION;
    static constexpr const char *kName = FAKE_NAME;
#ifdef FAKE_LONG_TEXTS
    static constexpr const char *kDescription = kUnterminated;
#else
    static constexpr const char *kDescription = "Fake codec for tests";
#endif
    static constexpr const char *kSuffixes[] = {FAKE_SUFFIX_LIST};
    static constexpr int32_t kMultiImage = FAKE_MULTI;
    static constexpr int32_t kStereo = FAKE_STEREO;
    static constexpr int32_t kImageFormats = UDIL_FMT_L | UDIL_FMT_RGB | UDIL_FMT_RGBA;

    static udil_sdk::OptionList options() { return udil_sdk::make_option_list(kOptionSpecs); }

    static int32_t set_state(int32_t state) {
        log_call("set_state %d", state);
#ifdef FAKE_REFUSE_STATE
        return state == 0 ? 5 : 0;
#else
        return 0;
#endif
    }

#ifdef FAKE_MORE_SUFFIXES
    static const char *const *more_suffixes(int32_t &count) {
        static const char *const kMore[] = {".fkb", ".fkz", ""};
        count = 3;
        return kMore;
    }
#endif

    static const char *choose_suffix(const UdilMovieInfo &, const udil_sdk::Options &options) {
        log_call("choose_suffix quality=%ld", options.integer("quality", -1));
        return FAKE_SUFFIX;
    }

    static udil_sdk::Handle *create_writer(const UdilMovieInfo &info, const udil_sdk::Options &options) {
        log_call("create_writer %dx%d quality=%ld", info.width, info.height, options.integer("quality", -1));
        if (planned_status("create_writer", "")) return udil_sdk::refuse("fake: writer refused");
        return new FakeHandle(info);
    }

    static udil_sdk::Handle *create_reader(const char *path, UdilMovieInfo &info) {
        log_call("create_reader %s threads=%d", path, int(udil_sdk::reader_threads()));
        if (planned_status("create_reader", path))
            return udil_sdk::refuse("fake: reader refused for %s", path);
        std::FILE *file = std::fopen(path, "rb");
        if (file == nullptr) return nullptr;
        const bool ok = read_info(file, info);
        std::fclose(file);
        return ok ? new FakeHandle(info) : nullptr;
    }
};

}  // namespace

#ifdef FAKE_NULL_SUFFIX_ARRAY
// The scan entry points by hand, with udil_suffix answering a count but
// no array, and no options.
extern "C" UDIL_EXPORT const char *udil_api_version(void) { return FakeCodec::kApiVersion; }
extern "C" UDIL_EXPORT const char *udil_name(void) { return FakeCodec::kName; }
extern "C" UDIL_EXPORT const char *udil_desc(void) { return FakeCodec::kDescription; }
extern "C" UDIL_EXPORT const char *const *udil_suffix(int32_t *count) {
    *count = 3;
    return nullptr;
}
extern "C" UDIL_EXPORT int32_t udil_get_num_options(void) { return 0; }
extern "C" UDIL_EXPORT int32_t udil_get_default_options(UdilOption *) { return 0; }
extern "C" UDIL_EXPORT int32_t udil_multi_image_capable(void) { return 0; }
extern "C" UDIL_EXPORT int32_t udil_stereo_capable(void) { return 0; }
extern "C" UDIL_EXPORT int32_t udil_depth_capable(void) { return 0; }
#else
UDIL_SDK_SCAN_ENTRIES(FakeCodec)
#endif
UDIL_SDK_FILE_ENTRIES(FakeCodec)
#ifndef FAKE_NO_SET_STATE
UDIL_SDK_SET_STATE_ENTRY(FakeCodec)
#endif
#ifdef FAKE_COMPRESSED
UDIL_SDK_COMPRESSED_ENTRIES(FakeCodec)
#endif
#ifdef FAKE_MORE_SUFFIXES
UDIL_SDK_MORE_SUFFIXES_ENTRY(FakeCodec)
#endif
#ifdef FAKE_MISSING_THREAD_SAFE
// Every load-time entry point but udil_thread_safe, which goes by another
// name.
#define udil_thread_safe udil_thread_safe_left_out
#endif
#ifdef FAKE_NO_SET_THREADS
// A plug-in made before udil_set_threads: the entry point goes by another
// name.
#define udil_set_threads udil_set_threads_left_out
#endif
UDIL_SDK_LOAD_ENTRIES(FakeCodec)

// Test controls.
extern "C" UDIL_EXPORT const char *fake_log(void) { return call_log.c_str(); }
extern "C" UDIL_EXPORT void fake_clear(void) {
    call_log.clear();
    failures.clear();
}
// Makes `operation` ("new", "open", "close", "save", "get",
// "create_reader", "create_writer") return `status` for files whose name
// contains `path_part` ("" for all).
extern "C" UDIL_EXPORT void fake_fail(const char *operation, const char *path_part, int status) {
    failures.push_back(PlannedFailure{operation, path_part, status});
}
