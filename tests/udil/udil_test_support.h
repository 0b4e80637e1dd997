// Shared pieces of the codec host tests: the test plug-in directories, a
// clean registry per test, control of the fake codecs, scratch files.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

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

// A temporary directory, removed with its files at the end of the scope.
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/orvo_udil_XXXXXX";
        const char *made = mkdtemp(pattern);
        path_ = made ? made : "";
    }
    ~ScratchDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline bool exists(const std::string &path) {
    std::ifstream file(path);
    return file.good();
}

inline std::string read_all(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void write_all(const std::string &path, const std::string &bytes) {
    std::ofstream file(path, std::ios::binary);
    file << bytes;
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

    static UdilRecord *codec(const char *name) { return dyx_udil_find_by_name(name); }

    ScratchDir scratch_;
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

// An image whose every byte is `value`.
inline dyx_image_t *filled_image(uint32_t width, uint32_t height, int32_t format, uint8_t value) {
    dyx_image_t *image = dyx_image_alloc(width, height, 0, format);
    if (image && image->data) {
        const size_t components = format == DYX_IMG_FMT_RGB    ? 3
                                  : format == DYX_IMG_FMT_RGBA ? 4
                                  : format == DYX_IMG_FMT_LA   ? 2
                                                               : 1;
        std::fill(image->data, image->data + size_t(width) * height * components, value);
    }
    return image;
}

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
