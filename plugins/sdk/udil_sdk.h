// Header-only helper for writing UDIL codec plug-ins in C++.
//
// A plug-in is one traits class plus one macro:
//
//   struct MyCodec : udil_sdk::PluginDefaults {
//       static constexpr const char *kName = "mine";
//       static constexpr const char *kDescription = "My codec";
//       static constexpr const char *kSuffixes[] = {".my"};
//       static udil_sdk::OptionList options();                 // optional
//       // appended to output names that end with none of kSuffixes; a name
//       // that ends with one reaches Handle::file_new as given
//       static const char *choose_suffix(const UdilMovieInfo &, const udil_sdk::Options &);
//       static udil_sdk::Handle *create_writer(const UdilMovieInfo &, const udil_sdk::Options &);
//       static udil_sdk::Handle *create_reader(const char *path, UdilMovieInfo &info);
//       // or, to see the reader options the host passes with the file:
//       // create_reader(const char *path, UdilMovieInfo &info, const udil_sdk::Options &);
//   };
//   UDIL_SDK_PLUGIN(MyCodec)
//
// The per-file work lives in a class derived from udil_sdk::Handle, which
// keeps the handle's last error text. A create function that gives no
// handle says why with `return udil_sdk::refuse("...")`. A reader that
// starts threads of its own asks udil_sdk::reader_threads() how many. The macro emits every extern "C"
// entry point of udil_plugin.h; UDIL_SDK_COMPRESSED_ENTRIES adds the three
// optional compressed-frame ones and UDIL_SDK_DEEP_ENTRIES the three deep
// frame ones (the traits then declare kDeepSamples and the handles
// implement get_deep_image and save_deep_image). No exception leaves an
// entry point.
#ifndef UDIL_SDK_H
#define UDIL_SDK_H

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "udil_plugin.h"

namespace udil_sdk {

// Copies at most size - 1 bytes of `source` and terminates.
inline void copy_text(char *target, size_t size, const char *source) {
    if (size == 0) return;
    if (source == nullptr) source = "";
    size_t length = std::strlen(source);
    if (length >= size) length = size - 1;
    std::memcpy(target, source, length);
    target[length] = '\0';
}

// Bytes per pixel of a pixel format (one byte a component); 0 for a value
// that names no format.
inline int32_t format_channels(int32_t format) {
    switch (format) {
        case UDIL_FMT_A:
        case UDIL_FMT_L:
            return 1;
        case UDIL_FMT_LA:
            return 2;
        case UDIL_FMT_RGB:
            return 3;
        case UDIL_FMT_RGBA:
            return 4;
        default:
            return 0;
    }
}

// The format of a picture with 1 to 4 channels: L, LA, RGB or RGBA.
inline int32_t format_of_channels(int32_t channels) {
    static const int32_t kFormats[] = {UDIL_FMT_L, UDIL_FMT_LA, UDIL_FMT_RGB, UDIL_FMT_RGBA};
    return channels >= 1 && channels <= 4 ? kFormats[channels - 1] : 0;
}

// The format's name for messages.
inline const char *format_name(int32_t format) {
    switch (format) {
        case UDIL_FMT_A:
            return "A";
        case UDIL_FMT_L:
            return "L";
        case UDIL_FMT_LA:
            return "LA";
        case UDIL_FMT_RGB:
            return "RGB";
        case UDIL_FMT_RGBA:
            return "RGBA";
        default:
            return "unknown";
    }
}

// Bytes of one sample of a deep frame; 0 for a value that names no kind.
inline int32_t sample_size(int32_t sample) {
    switch (sample) {
        case UDIL_SAMPLE_U8:
            return 1;
        case UDIL_SAMPLE_U16:
        case UDIL_SAMPLE_F16:
            return 2;
        case UDIL_SAMPLE_F32:
            return 4;
        default:
            return 0;
    }
}

// The sample kind's name for messages, as NumPy names it.
inline const char *sample_name(int32_t sample) {
    switch (sample) {
        case UDIL_SAMPLE_U8:
            return "uint8";
        case UDIL_SAMPLE_U16:
            return "uint16";
        case UDIL_SAMPLE_F16:
            return "float16";
        case UDIL_SAMPLE_F32:
            return "float32";
        default:
            return "unknown";
    }
}

// True when a deep frame the host hands over can be walked row by row:
// pixels, 1 to 4 channels, a known sample kind and rows that do not
// overlap.
inline bool deep_frame_usable(const UdilDeepFrame &frame) {
    const int64_t row = int64_t(frame.width) * frame.channels * sample_size(frame.sample);
    return frame.pixels != nullptr && frame.width > 0 && frame.height > 0 && frame.channels >= 1 &&
           frame.channels <= 4 && sample_size(frame.sample) != 0 && frame.stride >= row;
}

// Row y (0 at the top) of a deep frame.
inline uint8_t *deep_row(const UdilDeepFrame &frame, int64_t y) {
    return static_cast<uint8_t *>(frame.pixels) + y * frame.stride;
}

// Sample i of a deep row. Frames may have any stride, so a row need not be
// aligned for its sample type: the copy reads it safely, and compiles to a
// plain load.
template <typename T>
inline T row_sample(const uint8_t *row, int64_t i) {
    T value;
    std::memcpy(&value, row + i * int64_t(sizeof(T)), sizeof(T));
    return value;
}

// IEEE half to single float, exactly (every half is a float), NaN payloads
// and subnormals included.
inline float half_to_float(uint16_t half) {
    const uint32_t sign = uint32_t(half & 0x8000) << 16;
    uint32_t exponent = (half >> 10) & 0x1f, mantissa = half & 0x3ff, bits;
    if (exponent == 0x1f) {
        bits = sign | 0x7f800000u | (mantissa << 13);
    } else if (exponent != 0) {
        bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
    } else if (mantissa == 0) {
        bits = sign;
    } else {  // subnormal: normalise
        exponent = 113;
        while ((mantissa & 0x400) == 0) {
            mantissa <<= 1;
            --exponent;
        }
        bits = sign | (exponent << 23) | ((mantissa & 0x3ff) << 13);
    }
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// One option declaration of a plug-in.
struct OptionSpec {
    const char *name;
    int32_t type;
    const char *range;
    const char *value;  // the default
    const char *description;
};

struct OptionList {
    const OptionSpec *items;
    int32_t count;
};

template <size_t N>
constexpr OptionList make_option_list(const OptionSpec (&items)[N]) {
    return OptionList{items, static_cast<int32_t>(N)};
}

inline void fill_option(UdilOption &option, const OptionSpec &spec) {
    std::memset(&option, 0, sizeof option);
    copy_text(option.name, sizeof option.name, spec.name);
    option.type = spec.type;
    copy_text(option.range, sizeof option.range, spec.range);
    copy_text(option.value, sizeof option.value, spec.value);
    copy_text(option.description, sizeof option.description, spec.description);
}

// Read access to the option records the host passes with a new movie, or
// with a file to read (reader options).
class Options {
public:
    Options(int32_t count, const UdilOption *options) : count_(options ? count : 0), options_(options) {}

    const UdilOption *find(const char *name) const {
        for (int32_t i = 0; i < count_; ++i)
            if (strcasecmp(options_[i].name, name) == 0) return &options_[i];
        return nullptr;
    }
    long integer(const char *name, long fallback) const {
        const UdilOption *option = find(name);
        return option ? std::strtol(option->value, nullptr, 10) : fallback;
    }
    double real(const char *name, double fallback) const {
        const UdilOption *option = find(name);
        return option ? std::strtod(option->value, nullptr) : fallback;
    }
    const char *text(const char *name, const char *fallback) const {
        const UdilOption *option = find(name);
        return option ? option->value : fallback;
    }

private:
    int32_t count_;
    const UdilOption *options_;
};

// Base of every per-file object a plug-in hands out as its UdilHandle.
// The default operations refuse with an explanatory error.
class Handle {
public:
    Handle() { error_[0] = '\0'; }
    virtual ~Handle() = default;
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    virtual int32_t file_new(const char *) { return fail(1, "this handle does not write files"); }
    virtual int32_t file_open(const char *) { return fail(1, "this handle does not read files"); }
    virtual int32_t file_close() { return 0; }
    virtual int32_t save_image(int32_t, int32_t, const void *, const void *) {
        return fail(1, "this handle does not write frames");
    }
    virtual int32_t get_image(int32_t, int32_t, void *, void *) {
        return fail(1, "this handle does not read frames");
    }
    // Deep frames (UDIL_SDK_DEEP_ENTRIES): a reader fills `frame` at the
    // file's own depth, or only its layout when frame.pixels is null. By
    // default a handle writes 8-bit deep frames through save_image.
    virtual int32_t get_deep_image(int32_t, int32_t, UdilDeepFrame &) {
        return fail(1, "this handle does not read deep frames");
    }
    virtual int32_t save_deep_image(int32_t frame, int32_t eye, const UdilDeepFrame &in);
    virtual int64_t compressed_size() { return -1; }
    virtual int32_t get_images_compressed(UdilCompressedRequest &) {
        return fail(1, "compressed frames are not supported");
    }
    virtual int32_t uncompress_image(const void *, int32_t, void *) {
        return fail(1, "compressed frames are not supported");
    }
    // The members of a JSON object describing the open file (see
    // udil_describe); empty when there is nothing to say.
    virtual std::string describe() { return std::string(); }

    // Records the message (cut to 255 characters) and returns `status`.
    int32_t fail(int32_t status, const char *format, ...) __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(error_, sizeof error_, format, args);
        va_end(args);
        return status;
    }
    void clear_error() { error_[0] = '\0'; }
    const char *error() const { return error_; }

private:
    char error_[256];
};

inline Handle *as_handle(UdilHandle handle) { return static_cast<Handle *>(handle); }

// Reads a frame through the handle's 8-bit get_image into a deep frame of
// 8-bit samples: what a deep reader gives for a file of 8 bits or fewer.
inline int32_t get_image_as_deep(Handle &handle, int32_t frame, int32_t eye, const UdilDeepFrame &out) {
    const int64_t row_bytes = int64_t(out.width) * out.channels;
    std::vector<uint8_t> pixels(size_t(row_bytes * out.height));
    const int32_t status = handle.get_image(frame, eye, pixels.data(), nullptr);
    if (status != 0) return status;
    for (int64_t y = 0; y < out.height; ++y)  // 8-bit frames keep the bottom row first
        std::memcpy(deep_row(out, y), pixels.data() + (out.height - 1 - y) * row_bytes, size_t(row_bytes));
    return 0;
}

// Writes an 8-bit deep frame through the handle's save_image.
inline int32_t save_image_from_deep(Handle &handle, int32_t frame, int32_t eye, const UdilDeepFrame &in) {
    const int64_t row_bytes = int64_t(in.width) * in.channels;
    std::vector<uint8_t> pixels(size_t(row_bytes * in.height));
    for (int64_t y = 0; y < in.height; ++y)
        std::memcpy(pixels.data() + (in.height - 1 - y) * row_bytes, deep_row(in, y), size_t(row_bytes));
    return handle.save_image(frame, eye, pixels.data(), nullptr);
}

inline int32_t Handle::save_deep_image(int32_t frame, int32_t eye, const UdilDeepFrame &in) {
    if (in.sample != UDIL_SAMPLE_U8 || !deep_frame_usable(in))
        return fail(1, "this handle writes 8-bit frames only, not %s samples", sample_name(in.sample));
    return save_image_from_deep(*this, frame, eye, in);
}

// A deep frame asked in a layout other than the file's own is refused.
inline int32_t refuse_deep_layout(Handle &handle, const char *codec, const UdilDeepFrame &own) {
    return handle.fail(12, "%s: the file holds %dx%d %d-channel %s pixels", codec, own.width, own.height,
                       own.channels, sample_name(own.sample));
}

inline bool same_deep_layout(const UdilDeepFrame &a, const UdilDeepFrame &b) {
    return a.width == b.width && a.height == b.height && a.channels == b.channels && a.sample == b.sample &&
           deep_frame_usable(a);
}

// Why the last create_reader or create_writer on this thread gave no handle.
// With no handle to ask, the host asks udil_get_err(NULL, ...) for it.
inline char *refusal_text() {
    static thread_local char text[256];
    return text;
}

// Records why a file or movie is refused before any handle exists (cut to
// 255 characters); returns null so a create function can end with
// `return udil_sdk::refuse("...")`.
inline Handle *refuse(const char *format, ...) __attribute__((format(printf, 1, 2)));
inline Handle *refuse(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(refusal_text(), 256, format, args);
    va_end(args);
    return nullptr;
}

// Refuses with the message a handle recorded while trying the file, then
// releases the handle.
inline Handle *refuse_with(Handle *handle, const char *fallback) {
    const char *text = handle != nullptr && handle->error()[0] != '\0' ? handle->error() : fallback;
    copy_text(refusal_text(), 256, text);
    delete handle;
    return nullptr;
}

// udil_get_err: the handle's last error, or with a null handle the last
// refusal of a create function on the calling thread.
inline int32_t get_err(UdilHandle handle, int32_t *flag, char *message) {
    const char *text = handle ? as_handle(handle)->error() : refusal_text();
    if (message) copy_text(message, 256, text);
    if (flag) *flag = text[0] != '\0';
    return 0;
}

// The threads a reader handle made now may use for its own work, as the
// host last said through udil_set_threads; 0 when it has not said (a host
// without that call), which leaves the choice to the plug-in.
inline std::atomic<int32_t> &reader_thread_setting() {
    static std::atomic<int32_t> count{0};
    return count;
}
inline int32_t reader_threads() { return reader_thread_setting().load(std::memory_order_relaxed); }

// Defaults for the traits a plug-in does not declare itself.
struct PluginDefaults {
    static constexpr const char *kApiVersion = "3.0";
    static constexpr int32_t kMultiImage = 0;
    static constexpr int32_t kStereo = 0;
    static constexpr int32_t kDepth = 0;
    static constexpr int32_t kImageFormats = UDIL_FMT_RGB;
    static constexpr int32_t kRandReads = 1;
    static constexpr int32_t kRandWrites = 0;
    static constexpr int32_t kUnknownFrames = 0;
    static constexpr int32_t kThreadSafe = 0;
    // 1 when handles share no mutable state, so that the host may call the
    // plug-in from several threads at once (udil_concurrent_use).
    static constexpr int32_t kConcurrentUse = 0;

    static OptionList options() { return OptionList{nullptr, 0}; }
    static int32_t set_state(int32_t) { return 0; }
    static void path_to_udil(const char *) {}
    static int32_t can_read_file(const char *) { return 0; }
};

template <typename P>
inline int32_t default_options(UdilOption *options) {
    if (options == nullptr) return 1;
    const OptionList list = P::options();
    for (int32_t i = 0; i < list.count; ++i) fill_option(options[i], list.items[i]);
    return 0;
}

// A plug-in's create_reader may take the reader options as a third
// argument; one that declares only (path, info) is called without them.
template <typename P>
inline auto call_create_reader(const char *path, UdilMovieInfo &info, const Options &options, int)
    -> decltype(P::create_reader(path, info, options)) {
    return P::create_reader(path, info, options);
}

template <typename P>
inline Handle *call_create_reader(const char *path, UdilMovieInfo &info, const Options &, long) {
    return P::create_reader(path, info);
}

// The number of reader options the host hands in: a positive *count with
// an option array, never more than its capacity.
inline int32_t reader_options_given(const int32_t *count, int32_t capacity, const UdilOption *options) {
    if (count == nullptr || options == nullptr || *count <= 0 || capacity <= 0) return 0;
    return *count < capacity ? *count : capacity;
}

template <typename P>
inline UdilHandle create_reader(const char *path, UdilMovieInfo *info, int32_t *count, int32_t capacity,
                                UdilOption *options) {
    if (path == nullptr || info == nullptr) return nullptr;
    refusal_text()[0] = '\0';
    Handle *handle = nullptr;
    try {
        // The reader options are read before the defaults overwrite them.
        handle = call_create_reader<P>(path, *info,
                                       Options(reader_options_given(count, capacity, options), options), 0);
    } catch (const std::bad_alloc &) {
        handle = refuse("out of memory");
    } catch (...) {
        handle = refuse("internal error");
    }
    if (count != nullptr) {
        // Hand back the defaults when the caller gave room for them.
        const OptionList list = P::options();
        int32_t filled = 0;
        if (options != nullptr)
            for (; filled < list.count && filled < capacity; ++filled)
                fill_option(options[filled], list.items[filled]);
        *count = filled;
    }
    return handle;
}

template <typename P>
inline UdilHandle create_writer(const UdilMovieInfo *info, int32_t count, const UdilOption *options) {
    if (info == nullptr) return nullptr;
    refusal_text()[0] = '\0';
    try {
        return P::create_writer(*info, Options(count, options));
    } catch (const std::bad_alloc &) {
        return refuse("out of memory");
    } catch (...) {
        return refuse("internal error");
    }
}

// Runs a handle operation, turning a stray exception into a plug-in error.
template <typename Operation>
inline int32_t guarded(UdilHandle handle, Operation operation) {
    if (handle == nullptr) return 6;
    Handle *object = as_handle(handle);
    try {
        return operation(object);
    } catch (const std::bad_alloc &) {
        return object->fail(2, "out of memory");
    } catch (...) {
        return object->fail(1, "internal error");
    }
}

}  // namespace udil_sdk

// The entry points asked at the scan.
#define UDIL_SDK_SCAN_ENTRIES(P)                                                                \
    extern "C" UDIL_EXPORT const char *udil_api_version(void) { return P::kApiVersion; }        \
    extern "C" UDIL_EXPORT const char *udil_name(void) { return P::kName; }                     \
    extern "C" UDIL_EXPORT const char *udil_desc(void) { return P::kDescription; }              \
    extern "C" UDIL_EXPORT const char *const *udil_suffix(int32_t *count) {                     \
        if (count) *count = static_cast<int32_t>(sizeof P::kSuffixes / sizeof P::kSuffixes[0]); \
        return P::kSuffixes;                                                                    \
    }                                                                                           \
    extern "C" UDIL_EXPORT int32_t udil_get_num_options(void) { return P::options().count; }    \
    extern "C" UDIL_EXPORT int32_t udil_get_default_options(UdilOption *options) {              \
        return udil_sdk::default_options<P>(options);                                           \
    }                                                                                           \
    extern "C" UDIL_EXPORT int32_t udil_multi_image_capable(void) { return P::kMultiImage; }    \
    extern "C" UDIL_EXPORT int32_t udil_stereo_capable(void) { return P::kStereo; }             \
    extern "C" UDIL_EXPORT int32_t udil_depth_capable(void) { return P::kDepth; }

#define UDIL_SDK_SET_STATE_ENTRY(P) \
    extern "C" UDIL_EXPORT int32_t udil_set_state(int32_t state) { return P::set_state(state); }

// The descriptive entry points bound at load.
#define UDIL_SDK_LOAD_ENTRIES(P)                                                                           \
    extern "C" UDIL_EXPORT void udil_path_to_udil(const char *path) { P::path_to_udil(path); }             \
    extern "C" UDIL_EXPORT const char *udil_choose_suffix(const UdilMovieInfo *info, int32_t count,        \
                                                          const UdilOption *options) {                     \
        static const UdilMovieInfo blank = {0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};                       \
        return P::choose_suffix(info ? *info : blank, udil_sdk::Options(count, options));                  \
    }                                                                                                      \
    extern "C" UDIL_EXPORT int32_t udil_image_formats(void) { return P::kImageFormats; }                   \
    extern "C" UDIL_EXPORT int32_t udil_rand_reads(void) { return P::kRandReads; }                         \
    extern "C" UDIL_EXPORT int32_t udil_rand_writes(void) { return P::kRandWrites; }                       \
    extern "C" UDIL_EXPORT int32_t udil_unknown_frames(void) { return P::kUnknownFrames; }                 \
    extern "C" UDIL_EXPORT int32_t udil_thread_safe(void) { return P::kThreadSafe; }                       \
    extern "C" UDIL_EXPORT int32_t udil_concurrent_use(void) { return P::kConcurrentUse; }                 \
    extern "C" UDIL_EXPORT void udil_set_threads(int32_t count) {                                          \
        udil_sdk::reader_thread_setting().store(count > 0 ? count : 0, std::memory_order_relaxed);         \
    }                                                                                                      \
    extern "C" UDIL_EXPORT int32_t udil_can_read_file(const char *path) { return P::can_read_file(path); } \
    extern "C" UDIL_EXPORT int32_t udil_update_options(UdilHandle, int32_t, UdilOption *) { return 0; }    \
    extern "C" UDIL_EXPORT int32_t udil_get_err(UdilHandle handle, int32_t *flag, char *message) {         \
        return udil_sdk::get_err(handle, flag, message);                                                   \
    }

// The per-file entry points.
#define UDIL_SDK_FILE_ENTRIES(P)                                                                             \
    extern "C" UDIL_EXPORT UdilHandle udil_create_writer(const UdilMovieInfo *info, int32_t count,           \
                                                         const UdilOption *options) {                        \
        return udil_sdk::create_writer<P>(info, count, options);                                             \
    }                                                                                                        \
    extern "C" UDIL_EXPORT UdilHandle udil_create_reader(                                                    \
        const char *path, UdilMovieInfo *info, int32_t *count, int32_t capacity, UdilOption *options) {      \
        return udil_sdk::create_reader<P>(path, info, count, capacity, options);                             \
    }                                                                                                        \
    extern "C" UDIL_EXPORT int32_t udil_handle_destroy(UdilHandle *handle) {                                 \
        if (handle == nullptr || *handle == nullptr) return 6;                                               \
        udil_sdk::Handle *object = udil_sdk::as_handle(*handle);                                             \
        try {                                                                                                \
            object->file_close();                                                                            \
        } catch (...) {                                                                                      \
        }                                                                                                    \
        delete object;                                                                                       \
        *handle = nullptr;                                                                                   \
        return 0;                                                                                            \
    }                                                                                                        \
    extern "C" UDIL_EXPORT int32_t udil_file_new(UdilHandle handle, const char *path) {                      \
        if (path == nullptr) return 6;                                                                       \
        return udil_sdk::guarded(handle, [&](udil_sdk::Handle *h) { return h->file_new(path); });            \
    }                                                                                                        \
    extern "C" UDIL_EXPORT int32_t udil_file_open(UdilHandle handle, const char *path) {                     \
        if (path == nullptr) return 6;                                                                       \
        return udil_sdk::guarded(handle, [&](udil_sdk::Handle *h) { return h->file_open(path); });           \
    }                                                                                                        \
    extern "C" UDIL_EXPORT int32_t udil_file_close(UdilHandle handle) {                                      \
        return udil_sdk::guarded(handle, [&](udil_sdk::Handle *h) { return h->file_close(); });              \
    }                                                                                                        \
    extern "C" UDIL_EXPORT int32_t udil_save_image(UdilHandle handle, int32_t frame, int32_t eye,            \
                                                   const void *left, const void *right) {                    \
        return udil_sdk::guarded(                                                                            \
            handle, [&](udil_sdk::Handle *h) { return h->save_image(frame, eye, left, right); });            \
    }                                                                                                        \
    extern "C" UDIL_EXPORT int32_t udil_get_image(UdilHandle handle, int32_t frame, int32_t eye, void *left, \
                                                  void *right) {                                             \
        return udil_sdk::guarded(                                                                            \
            handle, [&](udil_sdk::Handle *h) { return h->get_image(frame, eye, left, right); });             \
    }

// The optional compressed-frame entry points.
#define UDIL_SDK_COMPRESSED_ENTRIES(P)                                                                      \
    extern "C" UDIL_EXPORT int64_t udil_get_compressed_size(UdilHandle handle) {                            \
        if (handle == nullptr) return -1;                                                                   \
        try {                                                                                               \
            return udil_sdk::as_handle(handle)->compressed_size();                                          \
        } catch (...) {                                                                                     \
            return -1;                                                                                      \
        }                                                                                                   \
    }                                                                                                       \
    extern "C" UDIL_EXPORT int32_t udil_get_images_compressed(UdilHandle handle,                            \
                                                              UdilCompressedRequest *request) {             \
        if (request == nullptr) return 6;                                                                   \
        return udil_sdk::guarded(handle,                                                                    \
                                 [&](udil_sdk::Handle *h) { return h->get_images_compressed(*request); });  \
    }                                                                                                       \
    extern "C" UDIL_EXPORT int32_t udil_uncompress_image(UdilHandle handle, const void *data, int32_t size, \
                                                         void *pixels) {                                    \
        return udil_sdk::guarded(                                                                           \
            handle, [&](udil_sdk::Handle *h) { return h->uncompress_image(data, size, pixels); });          \
    }

// The optional deep-frame entry points; the traits declare kDeepSamples.
// One frame a call: the right frame is read or written only when no left
// one is given.
#define UDIL_SDK_DEEP_ENTRIES(P)                                                                       \
    extern "C" UDIL_EXPORT int32_t udil_deep_samples(void) { return P::kDeepSamples; }                 \
    extern "C" UDIL_EXPORT int32_t udil_get_deep_image(UdilHandle handle, int32_t frame, int32_t eye,  \
                                                       UdilDeepFrame *left, UdilDeepFrame *right) {    \
        UdilDeepFrame *target = left ? left : right;                                                   \
        if (target == nullptr) return 6;                                                               \
        return udil_sdk::guarded(                                                                      \
            handle, [&](udil_sdk::Handle *h) { return h->get_deep_image(frame, eye, *target); });      \
    }                                                                                                  \
    extern "C" UDIL_EXPORT int32_t udil_save_deep_image(UdilHandle handle, int32_t frame, int32_t eye, \
                                                        const UdilDeepFrame *left,                     \
                                                        const UdilDeepFrame *right) {                  \
        const UdilDeepFrame *source = left ? left : right;                                             \
        if (source == nullptr) return 6;                                                               \
        return udil_sdk::guarded(                                                                      \
            handle, [&](udil_sdk::Handle *h) { return h->save_deep_image(frame, eye, *source); });     \
    }

// The optional udil_describe entry point, for plug-ins whose handles
// override Handle::describe.
#define UDIL_SDK_DESCRIBE_ENTRY(P)                                                                  \
    extern "C" UDIL_EXPORT int32_t udil_describe(UdilHandle handle, char *text, int32_t capacity) { \
        if (handle == nullptr) return -1;                                                           \
        try {                                                                                       \
            const std::string members = udil_sdk::as_handle(handle)->describe();                    \
            if (members.empty() || members.size() > size_t(INT32_MAX - 1)) return -1;               \
            if (text != nullptr && capacity > 0) {                                                  \
                const size_t kept = std::min(members.size(), size_t(capacity) - 1);                 \
                std::memcpy(text, members.data(), kept);                                            \
                text[kept] = '\0';                                                                  \
            }                                                                                       \
            return int32_t(members.size());                                                         \
        } catch (...) {                                                                             \
            return -1;                                                                              \
        }                                                                                           \
    }

// The optional list of suffixes beyond the 16 of kSuffixes, for a plug-in
// whose static `more_suffixes(int32_t &count)` gives them.
#define UDIL_SDK_MORE_SUFFIXES_ENTRY(P)                                            \
    extern "C" UDIL_EXPORT const char *const *udil_more_suffixes(int32_t *count) { \
        int32_t found = 0;                                                         \
        const char *const *suffixes = nullptr;                                     \
        try {                                                                      \
            suffixes = P::more_suffixes(found);                                    \
        } catch (...) {                                                            \
            suffixes = nullptr;                                                    \
        }                                                                          \
        if (count) *count = suffixes ? found : 0;                                  \
        return suffixes;                                                           \
    }

// orvo's own build (UdilPlugin.cmake) defines UDIL_SDK_ORVO_VERSION: its
// plug-ins then carry that version in an ELF note (owner "orvo", type 1,
// the version text as descriptor), which the host reads from the file
// without loading it, so that a module passes over plug-ins built for
// another version of it. Plug-ins built elsewhere carry no note.
#ifdef UDIL_SDK_ORVO_VERSION
#define UDIL_SDK_VERSION_NOTE                                   \
    __asm__(                                                    \
        ".pushsection .note.orvo.version, \"a\", @note\n"       \
        ".balign 4\n"                                           \
        ".long 5\n"       /* owner size, "orvo" with its NUL */ \
        ".long 2f - 1f\n" /* descriptor size */                 \
        ".long 1\n"       /* type */                            \
        ".asciz \"orvo\"\n"                                     \
        ".balign 4\n"                                           \
        "1: .asciz \"" UDIL_SDK_ORVO_VERSION                    \
        "\"\n"                                                  \
        "2: .balign 4\n"                                        \
        ".popsection\n");
#else
#define UDIL_SDK_VERSION_NOTE
#endif

// Every mandatory entry point plus udil_set_state and udil_path_to_udil.
#define UDIL_SDK_PLUGIN(P)      \
    UDIL_SDK_SCAN_ENTRIES(P)    \
    UDIL_SDK_SET_STATE_ENTRY(P) \
    UDIL_SDK_LOAD_ENTRIES(P)    \
    UDIL_SDK_FILE_ENTRIES(P)    \
    UDIL_SDK_VERSION_NOTE

#endif
