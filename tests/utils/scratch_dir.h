// A temporary directory for one test, removed with everything in it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace testing_support {

class ScratchDir {
public:
    ScratchDir() {
        char name[] = "/tmp/orvo_test_XXXXXX";
        if (mkdtemp(name) != nullptr) path_ = name;
        EXPECT_FALSE(path_.empty()) << "mkdtemp failed";
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }
    std::string file(const std::string &name) const { return *this / name; }

    // Creates a file (and its missing directories) holding `contents`.
    std::string write(const std::string &name, const std::string &contents = "x") const {
        const std::string full = *this / name;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << contents;
        return full;
    }
    std::string make_dir(const std::string &name) const {
        const std::string full = *this / name;
        std::filesystem::create_directories(full);
        return full;
    }

private:
    std::string path_;
};

}  // namespace testing_support
