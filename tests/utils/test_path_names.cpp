#include <gtest/gtest.h>

#include <string>

#include "dyx_path.h"

namespace {
std::string dirname_of(std::string path) { return dyx_dirname(&path[0]); }
std::string basename_of(std::string path) { return dyx_basename(&path[0]); }
}  // namespace

TEST(DirBaseName, ForwardSlashes) {
    EXPECT_EQ(dirname_of("/usr/lib/"), "/usr");
    EXPECT_EQ(dirname_of("/usr"), "/");
    EXPECT_EQ(dirname_of("file"), ".");
    EXPECT_EQ(dirname_of("/"), "/");
    EXPECT_EQ(dirname_of(""), ".");
    EXPECT_EQ(dirname_of(" "), ".");
    EXPECT_EQ(basename_of("/usr/lib/"), "lib");
    EXPECT_EQ(basename_of("lib"), "lib");
    EXPECT_EQ(basename_of("/"), "/");
}

TEST(DirBaseName, Backslashes) {
    EXPECT_EQ(dirname_of("C:\\dir\\file"), "C:\\dir");
    EXPECT_EQ(dirname_of("\\\\"), "\\\\");
    EXPECT_EQ(dirname_of("\\file"), "\\");
    EXPECT_EQ(dirname_of("a\\b"), "\\\\");
    EXPECT_EQ(basename_of("C:\\dir\\file\\"), "file");
}
