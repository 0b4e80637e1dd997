// Shared pieces of the codec host tests: the test plug-in directories, a
// clean registry per test, control of the fake codecs, scratch files.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../utils/scratch_dir.h"
#include "dyx_image.h"
#include "dyx_udil.h"
#include "dyx_udil_stream.h"

namespace udil_test {

inline std::string fake_dir(const char *scenario) {
    return std::string(ORVO_TEST_BINARY_DIR) + "/tests/udil_fakes/" + scenario;
}

inline std::string fake_path(const char *scenario, const char *name) {
    return fake_dir(scenario) + "/libudil-" + name + ".so";
}

using testing_support::ScratchDir;

inline bool exists(const std::string &path) { return std::filesystem::exists(path); }

inline std::string read_all(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Starts and ends every test with an empty registry and the image pool.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        dyx_udil_list_done();
        dyx_image_pool_create(8);
        dyx_udil_set_err_str(nullptr);
    }
    void TearDown() override { dyx_udil_list_done(); }
};

// The registry over the fake codecs of fake_dir("main"), each loaded, a
// scratch directory, and the small movie they are tested with.
constexpr UdilMovieInfo kFakeMovie = {4, 2, 3, 0, 0, 0, 24.0f, UDIL_FMT_RGB};
constexpr size_t kFakePictureBytes = 4 * 2 * 3;

class FakeCodecsTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_EQ(dyx_udil_scan_libraries(fake_dir("main").c_str()), 0);
        for (const char *name : {"fmono", "fstereo", "fmulti", "fmultinc", "fmultistereo", "fmonoc"})
            ASSERT_EQ(dyx_udil_load(dyx_udil_find_by_name(name)), 0) << name;
    }

    void TearDown() override {
        for (dyx_image_t *&image : images_) dyx_image_free(&image);
        RegistryTest::TearDown();
    }

    static UdilRecord *codec(const char *name) { return dyx_udil_find_by_name(name); }

    // Streams over scratch files of the fake codecs.
    UdilStream *writer(const char *codec_name, const std::string &name, UdilMovieInfo info = kFakeMovie) {
        return dyx_udil_file_new(scratch_.file(name).c_str(), codec(codec_name), &info, 0, nullptr);
    }
    UdilStream *reader(const char *codec_name, const std::string &name, int32_t first = -1,
                       int32_t last = -1) {
        UdilMovieInfo info;
        return dyx_udil_file_open(scratch_.file(name).c_str(), codec(codec_name), &info, nullptr, 0, nullptr,
                                  &first, &last);
    }
    int append(UdilStream *stream, const char *codec_name, const std::string &name) {
        UdilMovieInfo info;
        int32_t first = -1, last = -1;
        return dyx_udil_file_append(stream, scratch_.file(name).c_str(), codec(codec_name), &info, nullptr, 0,
                                    nullptr, &first, &last);
    }

    // Writes frames first..last of `name`, each picture filled with its
    // frame number plus `base`.
    void write_frames(const char *codec_name, const std::string &name, int32_t first, int32_t last,
                      int base = 0, UdilMovieInfo info = kFakeMovie) {
        info.frames = last + 1;
        UdilStream *stream = writer(codec_name, name, info);
        ASSERT_NE(stream, nullptr);
        for (int32_t f = first; f <= last; ++f) {
            dyx_image_t *image = picture(uint8_t(base + f), uint32_t(info.width));
            ASSERT_EQ(dyx_udil_save_image(stream, f, 0, image, nullptr), 0);
        }
        ASSERT_EQ(dyx_udil_file_close(&stream), 0);
    }

    // An image whose every byte is `value`, freed at the end of the test.
    dyx_image_t *picture(uint8_t value, uint32_t width = 4, uint32_t height = 2,
                         int32_t format = DYX_IMG_FMT_RGB) {
        dyx_image_t *image = dyx_image_alloc(width, height, 0, format);
        if (image != nullptr && image->data != nullptr)
            std::memset(image->data, value, dyx_image_data_size(image));
        images_.push_back(image);
        return image;
    }

    ScratchDir scratch_;
    std::vector<dyx_image_t *> images_;
};

// Reaches a fake codec's test controls in the same loaded instance the
// host uses (dlopen of the same file shares it).
class FakeControl {
public:
    explicit FakeControl(const std::string &path) {
        library_ = dlopen(path.c_str(), RTLD_NOW);
        if (library_ == nullptr) return;
        log_ = reinterpret_cast<const char *(*)()>(dlsym(library_, "fake_log"));
        clear_ = reinterpret_cast<void (*)()>(dlsym(library_, "fake_clear"));
        fail_ = reinterpret_cast<void (*)(const char *, const char *, int)>(dlsym(library_, "fake_fail"));
        if (clear_) clear_();
    }
    ~FakeControl() {
        if (clear_) clear_();
        if (library_) dlclose(library_);
    }
    FakeControl(const FakeControl &) = delete;
    FakeControl &operator=(const FakeControl &) = delete;

    bool ok() const { return log_ && clear_ && fail_; }
    std::string log() const { return log_ ? log_() : ""; }
    void clear() { clear_(); }
    void fail(const char *operation, const char *path_part, int status) {
        fail_(operation, path_part, status);
    }

private:
    void *library_ = nullptr;
    const char *(*log_)() = nullptr;
    void (*clear_)() = nullptr;
    void (*fail_)(const char *, const char *, int) = nullptr;
};

// Counts the lines of `log` that contain `part`.
inline int count_lines(const std::string &log, const std::string &part) {
    std::istringstream lines(log);
    std::string line;
    int count = 0;
    while (std::getline(lines, line))
        if (line.find(part) != std::string::npos) ++count;
    return count;
}

}  // namespace udil_test
