// Shared pieces of the codec plug-in tests: the build's plug-ins in a fresh
// registry, files written and read through the host's streams, files made
// by Pillow and OpenCV, and picture comparisons.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "../data/image_test_util.h"
#include "../utils/scratch_dir.h"
#include "dyx_malloc.h"
#include "dyx_udil.h"
#include "dyx_udil_stream.h"

namespace codec_test {

using image_testing::bytes_of;
using image_testing::ImagePtr;
using Bytes = std::vector<uint8_t>;

struct StreamCloser {
    void operator()(UdilStream *stream) const { dyx_udil_file_close(&stream); }
};
using StreamPtr = std::unique_ptr<UdilStream, StreamCloser>;

// Closes the stream now; the status of the close.
inline int close(StreamPtr &stream) {
    UdilStream *raw = stream.release();
    return dyx_udil_file_close(&raw);
}

inline int components_of(int32_t format) { return dyx_image_format_components(format); }

// A smooth gradient per channel with mild noise, like a real frame: it
// compresses like a photograph, not like noise or a flat field.
inline ImagePtr natural_image(uint32_t width, uint32_t height, int32_t format, uint32_t seed = 1) {
    ImagePtr image = image_testing::make_image(width, height, format);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-3, 3);
    const int channels = components_of(format);
    uint8_t *out = image->data;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
                const int base = int((x * (60 + 50 * c)) / width + (y * (180 - 40 * c)) / height) + 10;
                *out++ = uint8_t(std::min(255, std::max(0, base + noise(random))));
            }
    return image;
}

inline ImagePtr random_image(uint32_t width, uint32_t height, int32_t format, uint32_t seed = 7) {
    ImagePtr image = image_testing::make_image(width, height, format);
    std::mt19937 random(seed);
    image_testing::fill_random(image.get(), random);
    return image;
}

inline bool same_pixels(const dyx_image_t *a, const dyx_image_t *b) {
    return a && b && a->width == b->width && a->height == b->height && a->format == b->format &&
           bytes_of(a) == bytes_of(b);
}

// Peak signal-to-noise ratio in dB over every sample (99 when identical).
inline double psnr(const Bytes &x, const Bytes &y) {
    if (x.size() != y.size() || x.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < x.size(); ++i)
        sum += double(int(x[i]) - int(y[i])) * double(int(x[i]) - int(y[i]));
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / double(x.size())));
}
inline double psnr(const dyx_image_t *a, const dyx_image_t *b) {
    return a && b ? psnr(bytes_of(a), bytes_of(b)) : 0;
}

// Sample c of picture pixel (x, y), y counted from the top as files store it.
inline uint8_t sample(const dyx_image_t *image, uint32_t x, uint32_t y, int c) {
    const int channels = components_of(image->format);
    return image->data[(size_t(image->height - 1 - y) * image->width + x) * channels + c];
}

inline std::string read_bytes(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs a Python 3 script with the directory `directory` as `d`, after
// importing os, sys, NumPy as np, Pillow's Image and OpenCV's cv2; true when
// it exits with 0 in time. In the script, plane(c) is channel c of a smooth
// pattern over the grids y, x it sets, and save() writes a picture with
// Pillow and the pixels it must read as (by default Pillow's own decoding,
// converted to `mode`) in name.raw, rows top first.
inline bool run_python(const std::string &script, const std::string &directory) {
    const std::string path = directory + "/make_files.py";
    write_bytes(path, R"(import os, sys
import numpy as np
from PIL import Image
import cv2
d = sys.argv[1]
def plane(c):
    return ((x * (3 + c) + y * (5 - c)) % 256).astype(np.uint8)
def save(name, image, expected=None, mode=None, **options):
    image.save(os.path.join(d, name), **options)
    if expected is None:
        expected = np.asarray(Image.open(os.path.join(d, name)).convert(mode))
    with open(os.path.join(d, name + ".raw"), "wb") as out:
        out.write(np.ascontiguousarray(expected).astype(np.uint8).tobytes())
)" + script);
    const std::string command = "timeout 120 /usr/bin/python3 '" + path + "' '" + directory + "'";
    return std::system(command.c_str()) == 0;
}

// The largest difference between raw pixels as other tools give them (rows
// top first) and the image's (rows bottom first); 256 when sizes differ.
inline int worst_row_difference(const dyx_image_t *image, const std::string &raw) {
    const size_t row = size_t(image->width) * size_t(components_of(image->format));
    if (raw.size() != row * image->height) return 256;
    int worst = 0;
    for (size_t y = 0; y < image->height; ++y)
        for (size_t i = 0; i < row; ++i)
            worst = std::max(worst, std::abs(int(uint8_t(raw[y * row + i])) -
                                             int(image->data[(image->height - 1 - y) * row + i])));
    return worst;
}

inline std::vector<ImagePtr> random_frames(int count, uint32_t width, uint32_t height, int32_t format) {
    std::vector<ImagePtr> frames;
    for (int f = 0; f < count; ++f) frames.push_back(random_image(width, height, format, uint32_t(f + 1)));
    return frames;
}

// A fresh registry over the build's plug-in directory with one codec loaded.
// An optional codec (one whose libraries may be missing) skips the test.
class CodecTest : public ::testing::Test {
protected:
    explicit CodecTest(const char *codec, bool optional = false) : codec_(codec), optional_(optional) {}

    void SetUp() override {
        dyx_udil_list_done();
        dyx_image_pool_create(8);
        dyx_udil_set_err_str(nullptr);
        ASSERT_EQ(0, dyx_udil_scan_libraries(ORVO_TEST_PLUGIN_DIR));
        record_ = dyx_udil_find_by_name(codec_);
        if (record_ == nullptr && optional_) GTEST_SKIP() << "the " << codec_ << " plug-in was not built";
        ASSERT_NE(nullptr, record_) << "no " << codec_ << " plug-in in " << ORVO_TEST_PLUGIN_DIR;
        ASSERT_EQ(0, dyx_udil_load(record_));
        ASSERT_FALSE(scratch_.path().empty());
    }
    void TearDown() override { dyx_udil_list_done(); }

    std::string file(const std::string &name) const { return scratch_ / name; }

    // A new stream for `info` at the full path `name` (without suffix) with
    // the option text `options`; *path gets the name of its first file.
    StreamPtr create(const std::string &name, UdilMovieInfo info, const char *options = "",
                     std::string *path = nullptr) {
        int32_t count = 0;
        UdilOption *parsed = dyx_udil_parse_options(record_, options, &count);
        StreamPtr stream(dyx_udil_file_new(name.c_str(), record_, &info, count, parsed));
        dyx_free(parsed, __LINE__, __FILE__);
        if (stream && path) *path = name + stream->slots[0].suffix;
        return stream;
    }

    // Writes `image` as the one picture of the full path `name`; the status
    // (-1 when no stream opened) and the file's path in *path.
    int write_status(const std::string &name, const dyx_image_t *image, const char *options,
                     std::string *path) {
        UdilMovieInfo info{int32_t(image->width), int32_t(image->height), 1, 0, 0, 0, 25.0f, image->format};
        StreamPtr stream = create(name, info, options, path);
        if (!stream) return -1;
        const int status = dyx_udil_save_image(stream.get(), 0, UDIL_EYE_MONO, image, nullptr);
        close(stream);
        return status;
    }

    // Writes `image` as scratch file `name` expecting success; its path.
    std::string write(const std::string &name, const dyx_image_t *image, const char *options = "") {
        std::string path;
        EXPECT_EQ(0, write_status(file(name), image, options, &path)) << dyx_udil_get_last_error_string();
        return path;
    }

    // Writes `image` with the option text `options` to a file named after
    // them; its path.
    std::string written_with(const dyx_image_t *image, const char *options) {
        return write(std::to_string(std::hash<std::string>()(options)), image, options);
    }

    // Opens `path` for reading its frames first..last (-1: the file's own).
    StreamPtr open(const std::string &path, UdilMovieInfo *info, int32_t first = -1, int32_t last = -1) {
        *info = UdilMovieInfo{0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};
        return StreamPtr(dyx_udil_file_open(path.c_str(), record_, info, nullptr, 0, nullptr, &first, &last));
    }

    // Frame `frame` of an open stream, or null with the status in *status.
    static ImagePtr read_frame(UdilStream *stream, const UdilMovieInfo &info, int32_t frame,
                               int *status = nullptr) {
        ImagePtr image(dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), 0, info.pixel_format));
        const int result = image ? dyx_udil_get_image(stream, frame, UDIL_EYE_MONO, image.get(), nullptr) : 2;
        if (status) *status = result;
        if (result != 0) image.reset();
        return image;
    }

    // Reads the first picture of `path`: the picture, or null with the
    // reason in *status (-1 when no stream could be opened).
    ImagePtr read(const std::string &path, int *status = nullptr, UdilMovieInfo *described = nullptr) {
        UdilMovieInfo info;
        StreamPtr stream = open(path, &info, 0, 0);
        if (described) *described = info;
        if (!stream && status) *status = -1;
        return stream ? read_frame(stream.get(), info, 0, status) : nullptr;
    }

    // Writes `frames` as one stream of scratch name `name` (without suffix).
    void write_frames(const std::string &name, const std::vector<ImagePtr> &frames,
                      const char *options = "") {
        const dyx_image_t &first = *frames[0];
        const int32_t count = int32_t(frames.size());
        UdilMovieInfo info{int32_t(first.width), int32_t(first.height), count, 0, 0, 0, 24.0f, first.format};
        StreamPtr stream = create(file(name), info, options);
        ASSERT_TRUE(stream) << dyx_udil_get_last_error_string();
        for (int32_t f = 0; f < count; ++f)
            ASSERT_EQ(0,
                      dyx_udil_save_image(stream.get(), f, UDIL_EYE_MONO, frames[size_t(f)].get(), nullptr))
                << dyx_udil_get_last_error_string();
        ASSERT_EQ(0, close(stream)) << dyx_udil_get_last_error_string();
    }

    // Expects frames first..last of `path` (-1: the file's own) to be
    // `frames`, read last first so that reads go back, and no more.
    void expect_frames(const std::string &path, const std::vector<ImagePtr> &frames, int32_t first = -1,
                       int32_t last = -1) {
        UdilMovieInfo info;
        StreamPtr stream = open(path, &info, first, last);
        ASSERT_TRUE(stream) << dyx_udil_get_last_error_string();
        const int32_t count = int32_t(frames.size());
        EXPECT_EQ(count, dyx_udil_total_frames(stream.get()));
        for (int32_t f = count - 1; f >= 0; --f)
            EXPECT_TRUE(same_pixels(frames[size_t(f)].get(), read_frame(stream.get(), info, f).get())) << f;
        EXPECT_EQ(nullptr, read_frame(stream.get(), info, count).get());
    }

    // Expects scratch file `name` to read as `format` with the pixels other
    // tools decoded from it into `raw` (rows top first) within `tolerance`.
    void expect_reads_as(const std::string &name, int32_t format, const std::string &raw, int tolerance = 0) {
        ImagePtr image = read(file(name));
        ASSERT_NE(nullptr, image.get()) << name << ": " << dyx_udil_get_last_error_string();
        EXPECT_EQ(format, image->format) << name;
        EXPECT_LE(worst_row_difference(image.get(), read_bytes(raw)), tolerance) << name;
    }

    // Pillow opens each written file (path, Pillow's mode, picture) as the
    // mode given and decodes exactly the picture's pixels.
    void expect_pillow_reads(
        const std::vector<std::tuple<std::string, std::string, const dyx_image_t *>> &files) {
        std::string script = "for path, mode in (";
        for (const auto &[path, mode, image] : files) script += "(r'" + path + "', '" + mode + "'), ";
        script += R"():
    image = Image.open(path)
    assert image.mode == mode, (path, image.mode)
    with open(path + ".raw", "wb") as out:
        out.write(image.tobytes())
)";
        ASSERT_TRUE(run_python(script, scratch_.path()));
        for (const auto &[path, mode, image] : files)
            EXPECT_EQ(0, worst_row_difference(image, read_bytes(path + ".raw"))) << path;
    }

    // Reads every frame of `path` expecting no crash; a refusal must name
    // the file. Returns the status of the first refused read (-1 when
    // refused at open), else 0.
    int read_names_file_if_refused(const std::string &path, const std::string &what) {
        dyx_udil_set_err_str(nullptr);
        UdilMovieInfo info;
        StreamPtr stream = open(path, &info);
        if (!stream) return -1;
        EXPECT_GE(info.frames, 1) << what;
        int refused = 0;
        for (int32_t f = 0; f < info.frames; ++f) {
            int status = 0;
            read_frame(stream.get(), info, f, &status);
            if (status == 0) continue;
            const std::string error = dyx_udil_get_last_error_string();
            EXPECT_NE(std::string::npos, error.find(path)) << what << ": " << error;
            if (refused == 0) refused = status;
        }
        return refused;
    }

    // Expects `path` to be refused with an error rather than read.
    void expect_refused(const std::string &path, const std::string &what) {
        EXPECT_NE(0, read_names_file_if_refused(path, what)) << what << " was read";
    }

    // Damages the file contents `good` as scratch file `name`: cut to each of
    // `cuts` bytes, then with one bit flipped every `flip_step` bytes. A cut
    // to fewer than `cuts_refused_below` bytes must be refused, and a flip
    // too when `flips_refused`; the rest read without a crash.
    void expect_damage_handled(const std::string &good, const std::string &name,
                               const std::vector<size_t> &cuts, size_t flip_step, bool flips_refused,
                               size_t cuts_refused_below = SIZE_MAX) {
        const std::string damaged = file(name);
        for (size_t length : cuts) {
            write_bytes(damaged, good.substr(0, length));
            const std::string what = "cut to " + std::to_string(length) + " bytes";
            const int status = read_names_file_if_refused(damaged, what);
            EXPECT_TRUE(status != 0 || length >= cuts_refused_below) << what << " was read";
        }
        for (size_t position = 0; position < good.size(); position += flip_step) {
            std::string bytes = good;
            bytes[position] = char(bytes[position] ^ (1 << (position % 8)));
            write_bytes(damaged, bytes);
            const int status =
                read_names_file_if_refused(damaged, "bit flipped at " + std::to_string(position));
            EXPECT_TRUE(status != 0 || !flips_refused) << "bit flipped at " << position << " was read";
        }
    }

    const char *codec_;
    const bool optional_;
    UdilRecord *record_ = nullptr;
    testing_support::ScratchDir scratch_;
};

}  // namespace codec_test
