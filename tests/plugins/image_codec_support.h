// Shared pieces of the still-image codec tests (png, jpeg, tiff): the
// build's plug-ins in a fresh registry, one-picture files written and read
// through the host's streams, files made by Pillow and OpenCV, and picture
// comparisons.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "../data/image_test_util.h"
#include "../utils/scratch_dir.h"
#include "dyx_malloc.h"
#include "dyx_udil.h"
#include "dyx_udil_stream.h"

namespace codec_test {

using image_testing::ImagePtr;

inline int components_of(int32_t format) { return dyx_image_format_components(format); }

// A smooth gradient per channel with mild noise, like a real frame: it
// compresses like a photograph, not like noise or a flat field.
inline ImagePtr natural_image(uint32_t width, uint32_t height, int32_t format, uint32_t seed = 1) {
    ImagePtr image = image_testing::make_image(width, height, format);
    if (!image) return image;
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
    if (image) image_testing::fill_random(image.get(), random);
    return image;
}

inline bool same_pixels(const dyx_image_t *a, const dyx_image_t *b) {
    return a && b && a->width == b->width && a->height == b->height && a->format == b->format &&
           image_testing::bytes_of(a) == image_testing::bytes_of(b);
}

// Peak signal-to-noise ratio in dB over every sample (99 when identical).
inline double psnr(const dyx_image_t *a, const dyx_image_t *b) {
    const std::vector<uint8_t> x = image_testing::bytes_of(a), y = image_testing::bytes_of(b);
    if (x.size() != y.size() || x.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < x.size(); ++i)
        sum += double(int(x[i]) - int(y[i])) * double(int(x[i]) - int(y[i]));
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / double(x.size())));
}

inline std::string read_bytes(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs a Python 3 script (Pillow, OpenCV and NumPy available) with the
// directory `directory` as sys.argv[1]; true when it exits with 0.
inline bool run_python(const std::string &script, const std::string &directory) {
    const std::string path = directory + "/make_files.py";
    write_bytes(path, script);
    const std::string command = "/usr/bin/python3 '" + path + "' '" + directory + "'";
    return std::system(command.c_str()) == 0;
}

// Pillow opens each written file `path` (expecting the mode given) and
// stores the pixels it decodes in `path`.raw; true when all went well.
inline bool pillow_decodes(const std::string &directory,
                           const std::vector<std::pair<std::string, std::string>> &files) {
    std::string script = "import sys\nfrom PIL import Image\nfor path, mode in (";
    for (const auto &[path, mode] : files) script += "(r'" + path + "', '" + mode + "'), ";
    script += R"():
    image = Image.open(path)
    assert image.mode == mode, (path, image.mode)
    with open(path + ".raw", "wb") as out:
        out.write(image.tobytes())
)";
    return run_python(script, directory);
}

// Raw pixels as Pillow gives them (rows top first) against the image's
// rows (bottom first).
inline void expect_same_rows(const dyx_image_t *image, const std::string &raw) {
    const size_t row = size_t(image->width) * size_t(components_of(image->format));
    ASSERT_EQ(raw.size(), row * image->height);
    for (size_t y = 0; y < image->height; ++y)
        ASSERT_EQ(0, std::memcmp(raw.data() + y * row, image->data + (image->height - 1 - y) * row, row))
            << y;
}

// A fresh registry over the build's plug-in directory with one codec loaded.
class CodecTest : public ::testing::Test {
protected:
    explicit CodecTest(const char *codec) : codec_(codec) {}

    void SetUp() override {
        dyx_udil_list_done();
        dyx_image_pool_create(8);
        dyx_udil_set_err_str(nullptr);
        ASSERT_EQ(0, dyx_udil_scan_libraries(ORVO_TEST_PLUGIN_DIR));
        record_ = dyx_udil_find_by_name(codec_);
        ASSERT_NE(nullptr, record_) << "no " << codec_ << " plug-in in " << ORVO_TEST_PLUGIN_DIR;
        ASSERT_EQ(0, dyx_udil_load(record_));
        ASSERT_FALSE(scratch_.path().empty());
    }
    void TearDown() override { dyx_udil_list_done(); }

    std::string file(const std::string &name) const { return scratch_ / name; }

    // Writes `image` as the one picture of `name` (without suffix) with the
    // option text `options`. Returns the status and puts the file's path in
    // *path.
    int write_status(const std::string &name, const dyx_image_t *image, const char *options,
                     std::string *path) {
        int32_t count = 0;
        UdilOption *parsed = dyx_udil_parse_options(record_, options, &count);
        UdilMovieInfo info{int32_t(image->width), int32_t(image->height), 1, 0, 0, 0, 25.0f, image->format};
        UdilStream *stream = dyx_udil_file_new(name.c_str(), record_, &info, count, parsed);
        dyx_free(parsed, __LINE__, __FILE__);
        if (stream == nullptr) return -1;
        if (path) *path = name + stream->slots[0].suffix;
        const int status = dyx_udil_save_image(stream, 0, UDIL_EYE_MONO, image, nullptr);
        dyx_udil_file_close(&stream);
        return status;
    }

    // Writes and expects success; the path of the new file.
    std::string write(const std::string &name, const dyx_image_t *image, const char *options = "") {
        std::string path;
        const int status = write_status(file(name), image, options, &path);
        EXPECT_EQ(0, status) << dyx_udil_get_last_error_string();
        return path;
    }

    // Reads the one-picture file `path`: the picture, or null with the
    // reason in *status (-1 when no stream could be opened).
    ImagePtr read(const std::string &path, int *status = nullptr, UdilMovieInfo *described = nullptr) {
        UdilMovieInfo info{0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};
        int32_t first = 0, last = 0;
        int result = -1;
        ImagePtr image;
        UdilStream *stream =
            dyx_udil_file_open(path.c_str(), record_, &info, nullptr, 0, nullptr, &first, &last);
        if (stream != nullptr) {
            image.reset(dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), 0, info.pixel_format));
            result = image ? dyx_udil_get_image(stream, 0, UDIL_EYE_MONO, image.get(), nullptr) : 2;
            dyx_udil_file_close(&stream);
            if (result != 0) image.reset();
        }
        if (status) *status = result;
        if (described) *described = info;
        return image;
    }

    // Expects `path` to be refused with an error rather than read: either no
    // stream opens, or the transfer fails with a message naming the file.
    void expect_refused(const std::string &path, const std::string &what) {
        dyx_udil_set_err_str(nullptr);
        int status = 0;
        ImagePtr image = read(path, &status);
        EXPECT_EQ(nullptr, image.get()) << what << " was read";
        EXPECT_NE(0, status) << what;
        if (status > 0) {
            const std::string error = dyx_udil_get_last_error_string();
            EXPECT_NE(std::string::npos, error.find(path)) << what << ": " << error;
        }
    }

    // Reads `path` expecting no crash; returns whether it was read.
    bool survives(const std::string &path) {
        int status = 0;
        ImagePtr image = read(path, &status);
        return status == 0 && image != nullptr;
    }

    const char *codec_;
    UdilRecord *record_ = nullptr;
    testing_support::ScratchDir scratch_;
};

}  // namespace codec_test
