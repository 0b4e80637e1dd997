#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "dyx_path.h"
#include "scratch_dir.h"

using testing_support::ScratchDir;

namespace {

// "status first last" of one probe of a frame-number template.
std::string probe(const std::string &path_template, int32_t first = -1, int32_t last = -1) {
    const int status = dyx_valid_pathname_range(path_template.c_str(), &first, &last);
    return std::to_string(status) + " " + std::to_string(first) + " " + std::to_string(last);
}

void write_frames(const ScratchDir &dir, const char *format, int from, int to) {
    for (int frame = from; frame <= to; ++frame) {
        char name[64];
        std::snprintf(name, sizeof name, format, frame);
        dir.write(name);
    }
}

std::string norm(const std::string &path, int32_t size = 1024) {
    char out[1024] = "";
    const int status = dyx_get_norm_path(path.c_str(), out, size);
    return status == 0 ? std::string(out) : "status " + std::to_string(status);
}

std::string converted(std::string path, int32_t mode) {
    dyx_convert_pathname(&path[0], mode);
    return path.c_str();
}

std::string dirname_of(std::string path) { return dyx_dirname(&path[0]); }
std::string basename_of(std::string path) { return dyx_basename(&path[0]); }

}  // namespace

TEST(PathTemplate, FindsTheRunOfExistingFrames) {
    ScratchDir dir;
    write_frames(dir, "img.%04d.png", 3, 5);
    write_frames(dir, "f%02d", 0, 99);
    std::remove((dir / "f50").c_str());
    dir.write("f123");  // other digit counts are no frames of "f##"
    dir.write("fab");
    write_frames(dir, "s%d", 0, 9);
    write_frames(dir, "a%d", 0, 3);
    write_frames(dir, "eye.%03d.l.png", 1, 2);
    write_frames(dir, "eye.%03d.r.png", 1, 4);
    write_frames(dir, "shot%02d/img.png", 4, 6);
    dir.make_dir("shot07");  // a directory without the file is a gap
    write_frames(dir, "shot%02d/img.png", 8, 8);
    write_frames(dir, "g%d", 1, 12);
    write_frames(dir, "w%04d", 9998, 10002);
    write_frames(dir, "h%02d", 10, 11);
    dir.write("h012");  // zero-padded wider than the run: not frame 12 of "h##"
    write_frames(dir, "frame.%09d.exr", 123456788, 123456790);
    dir.write("frame.999999999.exr");
    const struct {
        std::string path_template;
        int32_t first, last;
        const char *expected;
    } cases[] = {
        {"img.####.png", -1, -1, "0 3 5"},
        {"img.####.png", 4, -1, "0 4 5"},
        {"img.####.png", 7, -1, "0 7 6"},  // a missing first frame
        {"img.####.png", 3, 4, "0 3 4"},   // the given last frame bounds the run
        {"img.####.png", 5, 2, "0 5 4"},   // first beyond the limit
        {"f##", -1, -1, "0 0 49"},         // the run ends at the first gap
        {"f##", 51, -1, "0 51 99"},
        // Frame 10 would be cut to "1" in one digit; it is not frame 1.
        {"s#", 0, 1000, "0 0 9"},
        {"s#", 15, 20, "0 15 14"},
        {"s#", -5, 3, "0 -5 -6"},
        // A last frame asked for past the run's width follows the names as
        // they grow; an open end stops at the width.
        {"g#", 1, 12, "0 1 12"},
        {"g#", 1, -1, "0 1 9"},
        {"w####", 9998, 10002, "0 9998 10002"},
        {"w####", -1, -1, "0 9998 9999"},
        {"w####", 10001, 20000, "0 10001 10002"},
        {"h##", 10, 20, "0 10 11"},
        {"eye.###.@.png", -1, -1, "0 1 2"},
        {"shot##/img.png", -1, -1, "0 4 6"},
        {"a0", -1, -1, "6 -1 -1"},
        {"a##########", -1, -1, "6 -1 -1"},  // ten digits
        {"b###", -1, -1, "6 -1 -1"},
        // Regression: nine digits were probed one by one, a billion file
        // opens (the test's time limit ended such a run).
        {"frame.#########.exr", -1, -1, "0 123456788 123456790"},
        {"frame.#########.exr", 999999999, -1, "0 999999999 999999999"},
        {"none.#########.exr", -1, -1, "6 -1 -1"},
        {"nodir/frame.#########.exr", -1, -1, "6 -1 -1"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(probe(dir / c.path_template, c.first, c.last), c.expected) << c.path_template;
    EXPECT_EQ(probe(std::string(2000, 'x') + "#"), "6 -1 -1");
    int32_t first = -1;
    EXPECT_EQ(dyx_valid_pathname_range(nullptr, &first, &first), 6);

    // A relative template uses the working directory.
    char saved[1024];
    ASSERT_NE(dyx_getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(dyx_setcwd(dir.path().c_str()), 0);
    const std::string relative = probe("img.####.png");
    ASSERT_EQ(dyx_setcwd(saved), 0);
    EXPECT_EQ(relative, "0 3 5");
}

TEST(NormPath, ResolvesDotsAndSlashesWithinBounds) {
    const std::pair<const char *, const char *> cases[] = {
        {"/a/./b/../c", "/a/c"},
        {"///a", "/a"},
        {"//a", "//a"},
        {"a//b/", "a/b"},
        {"a\\b\\..\\c", "a/c"},
        {"", "."},
        {"a/..", "."},
        {"/", "/"},
        {"a/../..", "status -1"},
        {"../a", "status -1"},
        {"/..", "status -1"},
        {".config/..x/./y", ".config/..x/y"},  // dots that begin names
    };
    for (const auto &c : cases) EXPECT_EQ(norm(c.first), c.second) << c.first;
    EXPECT_EQ(dyx_get_norm_path(nullptr, nullptr, 0), -1);

    // A buffer too small asks for more; "." still needs its terminator.
    char out[4096];
    for (const char *path : {"/abc/def", "a/.."}) {
        const int needed = dyx_get_norm_path(path, out, path[0] == '/' ? 4 : 1);
        EXPECT_GT(needed, path[0] == '/' ? 4 : 1);
        EXPECT_EQ(dyx_get_norm_path(path, out, needed), 0);
        EXPECT_EQ(out, norm(path));
    }
    std::string many;
    for (int i = 0; i < 1025; ++i) many += "a/";
    EXPECT_EQ(dyx_get_norm_path(many.c_str(), out, sizeof out), -1);  // over 1024 components
    many.resize(many.size() - 2);
    EXPECT_EQ(dyx_get_norm_path(many.c_str(), out, sizeof out), 0);
}

TEST(PathText, AbsoluteDirAndBaseNamesAndExtensions) {
    const std::pair<const char *, int> absolute[] = {{"C:x", 1}, {"a:x", 1}, {"1:x", 0}, {"/x", 1},
                                                     {"~x", 1},  {"x/y", 0}, {"", 0}};
    for (const auto &c : absolute) EXPECT_EQ(dyx_path_is_absolute(c.first), c.second) << c.first;
    EXPECT_EQ(dyx_path_is_absolute(nullptr), 0);

    const struct {
        const char *path, *dir, *base;
    } names[] = {
        {"/usr/lib/", "/usr", "lib"},
        {"lib", ".", "lib"},
        {"/usr", "/", "usr"},
        {"/", "/", "/"},
        {"", ".", "."},
        {" ", ".", "."},
        {"C:\\dir\\file", "C:\\dir", "file"},
        {"C:\\dir\\file\\", "C:\\dir", "file"},
        {"\\\\", "\\\\", "\\\\"},
        {"\\file", "\\", "file"},
        {"a\\b", "\\\\", "b"},
    };
    for (const auto &c : names) {
        EXPECT_EQ(dirname_of(c.path), c.dir) << c.path;
        EXPECT_EQ(basename_of(c.path), c.base) << c.path;
    }

    const std::pair<const char *, const char *> dots[] = {{"dir.d/file", "none"},
                                                          {"dir/a.b.png", ".png"},
                                                          {"c:\\x.y\\z.tif", ".tif"},
                                                          {"c:\\x.y\\z", "none"},
                                                          {"", "none"}};
    for (const auto &c : dots) {
        const char *dot = dyx_find_dot_in_filename(c.first);
        EXPECT_STREQ(dot ? dot : "none", c.second) << c.first;
    }
    EXPECT_EQ(dyx_find_dot_in_filename(nullptr), nullptr);
    char path[] = "dir.d/movie.mov";
    EXPECT_EQ(dyx_remove_ext(path), 1);
    EXPECT_STREQ(path, "dir.d/movie");
    EXPECT_EQ(dyx_remove_ext(path), 0);
}

TEST(PathText, ExpandsTheHomeDirectory) {
    char out[1024];
    EXPECT_EQ(dyx_expand_pathname("~nosuchuser_orvo/x", out, sizeof out), 8);
    const passwd *me = getpwuid(getuid());
    const passwd *root = getpwnam("root");
    ASSERT_TRUE(me != nullptr && root != nullptr);
    const std::string home = me->pw_dir;
    const std::pair<const char *, std::string> cases[] = {{"~", home + "/"},
                                                          {"~/data/x", home + "/data/x"},
                                                          {"~root/y", std::string(root->pw_dir) + "/y"},
                                                          {"plain/path", "plain/path"},
                                                          {"", ""}};
    for (const auto &c : cases) {
        ASSERT_EQ(dyx_expand_pathname(c.first, out, sizeof out), 0) << c.first;
        EXPECT_EQ(std::string(out), c.second);
    }
    EXPECT_EQ(dyx_expand_pathname("~/data/x", out, int32_t(home.size()) + 7), 6);
    EXPECT_EQ(dyx_expand_pathname("plain", out, 5), 6);
}

TEST(PathText, ConvertsAndCleansSeparators) {
    const struct {
        const char *path;
        int32_t mode;
        const char *expected;
    } cases[] = {
        {"a/b\\c", 2, "a\\b\\c"},        {"a/b\\c", 0, "a/b/c"},
        {"a/b\\c", 1, "a/b/c"},          {"C:a:b*c?d\"e<f>g|h", 0x100, "C:a_b_c_d_e_f_g_h"},
        {"C:\\x\\y", 0x102, "C:\\x\\y"}, {"a/./b", 0x200, "a/b"},
        {"a/././b", 0x200, "a/b"},       {"/a/b/../c", 0x200, "/a/c"},
        {"a/../b", 0x200, "b"},          {"../../x", 0x200, "../../x"},
        {"/../b", 0x200, "/b"},          {"a///b", 0x200, "a/b"},
        {"///a//b", 0x200, "//a/b"},     {"//./a", 0x200, "//a"},
        {"a\\.\\b", 0x201, "a/b"},
    };
    for (const auto &c : cases) EXPECT_EQ(converted(c.path, c.mode), c.expected) << c.path << " " << c.mode;
}

TEST(PathText, AddPathAndWorkingDirectory) {
    char out[256] = "junk";
    dyx_addpath(out, "/opt/a:/opt/b", "usr", "lib", nullptr);
    EXPECT_STREQ(out, "/opt/a:/opt/b:usr/lib");
    dyx_addpath(out, nullptr, "usr", "lib", nullptr);
    EXPECT_STREQ(out, "usr/lib");
    dyx_addpath(out, "list", nullptr);
    dyx_addpath(out, out, "more", nullptr);  // extending its own list
    EXPECT_STREQ(out, "list:more");

    // A full path prefixes the working directory, or asks for the room it needs.
    ScratchDir dir;
    char saved[1024], now[1024], tiny[2];
    ASSERT_NE(dyx_getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(dyx_setcwd(dir.path().c_str()), 0);
    ASSERT_NE(dyx_getcwd(now, sizeof now), nullptr);
    EXPECT_EQ(dyx_get_full_path("x/y", out, sizeof out), 0);
    EXPECT_EQ(dyx_get_full_path("xy", tiny, sizeof tiny), int(dir.path().size()) + 4);
    EXPECT_EQ(dyx_setcwd(saved), 0);
    EXPECT_EQ(std::string(now), dir.path());
    EXPECT_EQ(std::string(out), dir / "x/y");
    ASSERT_EQ(dyx_get_full_path("/abs", out, sizeof out), 0);
    EXPECT_STREQ(out, "/abs");
    EXPECT_EQ(dyx_get_full_path("/abs", out, 4), 5);
    EXPECT_EQ(dyx_get_full_path("", out, sizeof out), -1);
    EXPECT_EQ(dyx_get_full_path(nullptr, out, sizeof out), -1);
    EXPECT_EQ(dyx_getcwd(now, 2), nullptr);
    EXPECT_NE(dyx_setcwd("/no/such/dir/here"), 0);
}
