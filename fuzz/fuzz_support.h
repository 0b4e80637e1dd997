// Shared pieces of the fuzz targets: a scratch directory for the process,
// files written from the fuzzer's bytes, and the plug-in registry over the
// fuzz build's instrumented plug-ins.
#pragma once

#include <dirent.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dyx_image.h"
#include "dyx_udil.h"
#include "dyx_udil_stream.h"

namespace fuzz {

// One scratch directory per fuzzing process, removed at exit.
inline const std::string &scratch_dir() {
    static const std::string path = [] {
        char pattern[] = "/tmp/orvo_fuzz_XXXXXX";
        const char *made = mkdtemp(pattern);
        if (made == nullptr) abort();
        std::string dir = made;
        static std::string removed_at_exit = dir;
        atexit([] { std::system(("rm -rf '" + removed_at_exit + "'").c_str()); });
        return dir;
    }();
    return path;
}

inline std::string scratch_file(const std::string &name) { return scratch_dir() + "/" + name; }

inline bool write_file(const std::string &path, const uint8_t *data, size_t size) {
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// The bytes as a NUL-terminated text (a NUL inside ends it early).
inline std::string as_text(const uint8_t *data, size_t size) {
    return std::string(reinterpret_cast<const char *>(data), size).c_str();
}

// Holds every plug-in of the fuzz build open for the life of the process.
// The registry's scan opens and closes each one; an unmapped plug-in would
// leave libFuzzer with coverage counters in freed memory, which it touches
// when it re-runs an input to look for leaks.
inline void keep_plugins_mapped() {
    DIR *directory = opendir(FUZZ_PLUGIN_DIR);
    if (directory == nullptr) return;
    while (const dirent *entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.rfind("libudil-", 0) == 0 && name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0)
            dlopen((std::string(FUZZ_PLUGIN_DIR) + "/" + name).c_str(), RTLD_NOW | RTLD_NODELETE);
    }
    closedir(directory);
}

// Registers the fuzz build's plug-ins once and loads the one named `name`.
inline UdilRecord *codec(const char *name) {
    static const bool scanned = [] {
        keep_plugins_mapped();
        dyx_image_pool_create(8);
        return dyx_udil_scan_libraries(FUZZ_PLUGIN_DIR) == 0;
    }();
    if (!scanned) abort();
    UdilRecord *record = dyx_udil_find_by_name(name);
    if (record == nullptr || dyx_udil_load(record) != 0) {
        std::fprintf(stderr, "no loadable %s plug-in in %s\n", name, FUZZ_PLUGIN_DIR);
        abort();
    }
    return record;
}

// Pictures larger than this are not allocated: the fuzzer's memory limit
// is not what is being tested.
constexpr uint64_t kMaxPixels = 4096 * 4096;

// Fetches the first frames in the codec's compressed form and decodes them
// again, as a movie's compressed transfer does (codecs without compressed
// frames report -1 and are left alone).
inline void read_compressed(UdilStream *stream, const UdilMovieInfo &info, dyx_image_t *image,
                            int32_t max_frames) {
    const int64_t largest = dyx_udil_get_compressed_size(stream);
    if (largest <= 0 || largest > (int64_t(1) << 26)) return;
    int32_t count = dyx_udil_total_frames(stream);
    if (count > max_frames) count = max_frames;
    if (count <= 0) return;
    const int32_t per_frame = info.stereo ? 2 : 1;
    const size_t stride = size_t(largest);
    uint8_t *data = static_cast<uint8_t *>(std::malloc(stride * size_t(count)));
    int64_t positions[8];
    int32_t sizes[8];
    if (data == nullptr || count * per_frame > 8) {
        std::free(data);
        return;
    }
    UdilCompressedRequest request = {-1, 0, count, int32_t(stride), UDIL_EYE_MONO, 0, data, positions, sizes};
    if (dyx_udil_get_images_compressed(stream, &request) == 0)
        for (int32_t frame = 0; frame < count; ++frame) {
            const int32_t size = sizes[frame * per_frame];
            if (size < 0 || size_t(size) > stride) abort();  // the host promised to stay within the stride
            dyx_udil_uncompress_image(stream, frame, UDIL_EYE_MONO, data + stride * size_t(frame), size,
                                      image);
        }
    std::free(data);
}

// Opens `path` through the host's read stream with `record` and reads up to
// `max_frames` frames, as the movie object does.
inline void read_through_stream(UdilRecord *record, const std::string &path, int32_t max_frames) {
    UdilMovieInfo info{0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};
    UdilOption options[64];
    int32_t option_count = 0, first = -1, last = -1;
    UdilStream *stream =
        dyx_udil_file_open(path.c_str(), record, &info, &option_count, 64, options, &first, &last);
    if (stream == nullptr) return;
    const int32_t frames = dyx_udil_total_frames(stream);
    if (info.width > 0 && info.height > 0 && uint64_t(info.width) * uint64_t(info.height) <= kMaxPixels) {
        dyx_image_t *left =
            dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), 0, info.pixel_format);
        dyx_image_t *right =
            info.stereo ? dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), 0, info.pixel_format)
                        : nullptr;
        for (int32_t frame = 0; left && frame < frames && frame < max_frames; ++frame)
            dyx_udil_get_image(stream, frame, right ? UDIL_EYE_BOTH : UDIL_EYE_MONO, left, right);
        if (left) read_compressed(stream, info, left, max_frames);
        dyx_image_free(&left);
        dyx_image_free(&right);
    }
    dyx_udil_file_close(&stream);
}

// Writes the bytes as `name` in the scratch directory and reads it back
// through the plug-in `codec_name`.
inline void read_codec_file(const char *codec_name, const char *name, const uint8_t *data, size_t size,
                            int32_t max_frames) {
    UdilRecord *record = codec(codec_name);
    const std::string path = scratch_file(name);
    if (!write_file(path, data, size)) abort();
    read_through_stream(record, path, max_frames);
}

}  // namespace fuzz
