#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "dyx_path.h"
#include "scratch_dir.h"

using testing_support::ScratchDir;

namespace {

struct Range {
    int status;
    int32_t first;
    int32_t last;
};

Range probe(const std::string &path_template, int32_t first = -1, int32_t last = -1) {
    const int status = dyx_valid_pathname_range(path_template.c_str(), &first, &last);
    return {status, first, last};
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

std::string home_of_caller() {
    const passwd *entry = getpwuid(getuid());
    return entry ? entry->pw_dir : "";
}

}  // namespace

TEST(PathTemplate, FindsTheRunOfExistingFrames) {
    ScratchDir dir;
    write_frames(dir, "img.%04d.png", 3, 5);
    const std::string path_template = dir / "img.####.png";

    Range range = probe(path_template);
    EXPECT_EQ(range.status, 0);
    EXPECT_EQ(range.first, 3);
    EXPECT_EQ(range.last, 5);

    range = probe(path_template, 4, -1);
    EXPECT_EQ(range.status, 0);
    EXPECT_EQ(range.first, 4);
    EXPECT_EQ(range.last, 5);

    range = probe(path_template, 7, -1);  // a missing first frame
    EXPECT_EQ(range.status, 0);
    EXPECT_EQ(range.last, 6);

    range = probe(path_template, 3, 4);  // the given last frame bounds the run
    EXPECT_EQ(range.last, 4);

    range = probe(path_template, 5, 2);  // first beyond the limit
    EXPECT_EQ(range.status, 0);
    EXPECT_EQ(range.last, 4);
}

TEST(PathTemplate, RunEndsAtTheFirstGap) {
    ScratchDir dir;
    write_frames(dir, "f%02d", 0, 99);
    EXPECT_EQ(probe(dir / "f##").last, 99);
    std::remove((dir / "f50").c_str());
    const Range range = probe(dir / "f##");
    EXPECT_EQ(range.first, 0);
    EXPECT_EQ(range.last, 49);
    EXPECT_EQ(probe(dir / "f##", 51, -1).last, 99);
    // Names with other digit counts are not frames of this template.
    dir.write("f123");
    dir.write("fab");
    EXPECT_EQ(probe(dir / "f##", 51, -1).last, 99);
}

TEST(PathTemplate, RefusesNonTemplates) {
    ScratchDir dir;
    write_frames(dir, "a%d", 0, 3);
    EXPECT_EQ(probe(dir / "a0").status, 6);
    EXPECT_EQ(probe(dir / "a##########").status, 6);  // ten digits
    const Range missing = probe(dir / "b###");
    EXPECT_EQ(missing.status, 6);
    EXPECT_EQ(missing.first, -1);
    EXPECT_EQ(probe(std::string(2000, 'x') + "#").status, 6);
    int32_t first = -1;
    EXPECT_EQ(dyx_valid_pathname_range(nullptr, &first, &first), 6);
}

// Guards against probing frame numbers one by one: nine '#' would mean a
// billion file opens.
TEST(PathTemplate, NineDigitsAnswerAtOnce) {
    ScratchDir dir;
    const auto start = std::chrono::steady_clock::now();
    const Range missing = probe(dir / "frame.#########.exr");
    EXPECT_EQ(missing.status, 6);
    EXPECT_EQ(missing.first, -1);
    EXPECT_EQ(probe(dir / "nodir/frame.#########.exr").status, 6);

    write_frames(dir, "frame.%09d.exr", 123456788, 123456790);
    const Range found = probe(dir / "frame.#########.exr");
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(found.first, 123456788);
    EXPECT_EQ(found.last, 123456790);
    dir.write("frame.999999999.exr");
    EXPECT_EQ(probe(dir / "frame.#########.exr", 999999999, -1).last, 999999999);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

TEST(PathTemplate, FramesBeyondTheDigitsNeverExist) {
    ScratchDir dir;
    write_frames(dir, "s%d", 0, 9);
    // Frame 10 would be cut to "1" in one digit; it is not frame 1.
    EXPECT_EQ(probe(dir / "s#", 0, 1000).last, 9);
    EXPECT_EQ(probe(dir / "s#", 15, 20).last, 14);
    EXPECT_EQ(probe(dir / "s#", -5, 3).last, -6);
}

TEST(PathTemplate, LeftEyeAndDigitsInADirectory) {
    ScratchDir dir;
    write_frames(dir, "eye.%03d.l.png", 1, 2);
    write_frames(dir, "eye.%03d.r.png", 1, 4);
    Range range = probe(dir / "eye.###.@.png");
    EXPECT_EQ(range.first, 1);
    EXPECT_EQ(range.last, 2);

    write_frames(dir, "shot%02d/img.png", 4, 6);
    dir.make_dir("shot07");  // a directory without the file is a gap
    write_frames(dir, "shot%02d/img.png", 8, 8);
    range = probe(dir / "shot##/img.png");
    EXPECT_EQ(range.status, 0);
    EXPECT_EQ(range.first, 4);
    EXPECT_EQ(range.last, 6);
}

TEST(PathTemplate, RelativeTemplateUsesTheWorkingDirectory) {
    ScratchDir dir;
    write_frames(dir, "rel%02d.txt", 10, 12);
    char saved[1024];
    ASSERT_NE(dyx_getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(dyx_setcwd(dir.path().c_str()), 0);
    const Range range = probe("rel##.txt");
    ASSERT_EQ(dyx_setcwd(saved), 0);
    EXPECT_EQ(range.first, 10);
    EXPECT_EQ(range.last, 12);
}

TEST(NormPath, ResolvesDotsAndSlashes) {
    EXPECT_EQ(norm("/a/./b/../c"), "/a/c");
    EXPECT_EQ(norm("///a"), "/a");
    EXPECT_EQ(norm("//a"), "//a");
    EXPECT_EQ(norm("a//b/"), "a/b");
    EXPECT_EQ(norm("a\\b\\..\\c"), "a/c");
    EXPECT_EQ(norm(""), ".");
    EXPECT_EQ(norm("a/.."), ".");
    EXPECT_EQ(norm("/"), "/");
    EXPECT_EQ(norm("a/../.."), "status -1");
    EXPECT_EQ(norm("../a"), "status -1");
    EXPECT_EQ(norm("/.."), "status -1");
    // Names that merely begin with dots are ordinary components.
    EXPECT_EQ(norm(".config/..x/./y"), ".config/..x/y");
    EXPECT_EQ(dyx_get_norm_path(nullptr, nullptr, 0), -1);
}

TEST(NormPath, TooSmallBufferAsksForMore) {
    char out[16];
    const int needed = dyx_get_norm_path("/abc/def", out, 4);
    EXPECT_GT(needed, 4);
    EXPECT_EQ(dyx_get_norm_path("/abc/def", out, needed), 0);
    EXPECT_STREQ(out, "/abc/def");
    // "." still needs its terminator.
    const int for_dot = dyx_get_norm_path("a/..", out, 1);
    EXPECT_GT(for_dot, 1);
    EXPECT_EQ(dyx_get_norm_path("a/..", out, for_dot), 0);
    EXPECT_STREQ(out, ".");
}

TEST(NormPath, RefusesMoreThan1024Components) {
    std::string many;
    for (int i = 0; i < 1025; ++i) many += "a/";
    char out[4096];
    EXPECT_EQ(dyx_get_norm_path(many.c_str(), out, sizeof out), -1);
    many.resize(many.size() - 2);  // 1024 components fit
    EXPECT_EQ(dyx_get_norm_path(many.c_str(), out, sizeof out), 0);
}

TEST(FullPath, PrefixesTheWorkingDirectory) {
    char cwd[1024];
    ASSERT_NE(dyx_getcwd(cwd, sizeof cwd), nullptr);
    char out[2048];
    ASSERT_EQ(dyx_get_full_path("x/y", out, sizeof out), 0);
    EXPECT_EQ(std::string(out), std::string(cwd) + "/x/y");
    ASSERT_EQ(dyx_get_full_path("/abs", out, sizeof out), 0);
    EXPECT_STREQ(out, "/abs");
    EXPECT_EQ(dyx_get_full_path("/abs", out, 4), 5);
    EXPECT_EQ(dyx_get_full_path("xy", out, 2), int(std::strlen(cwd)) + 4);
    EXPECT_EQ(dyx_get_full_path("", out, sizeof out), -1);
    EXPECT_EQ(dyx_get_full_path(nullptr, out, sizeof out), -1);
}

TEST(PathText, IsAbsolute) {
    EXPECT_EQ(dyx_path_is_absolute("C:x"), 1);
    EXPECT_EQ(dyx_path_is_absolute("a:x"), 1);
    EXPECT_EQ(dyx_path_is_absolute("1:x"), 0);
    EXPECT_EQ(dyx_path_is_absolute("/x"), 1);
    EXPECT_EQ(dyx_path_is_absolute("~x"), 1);
    EXPECT_EQ(dyx_path_is_absolute("x/y"), 0);
    EXPECT_EQ(dyx_path_is_absolute(""), 0);
    EXPECT_EQ(dyx_path_is_absolute(nullptr), 0);
}

TEST(PathText, ExpandsTheHomeDirectory) {
    char out[1024];
    EXPECT_EQ(dyx_expand_pathname("~nosuchuser_orvo/x", out, sizeof out), 8);
    const std::string home = home_of_caller();
    ASSERT_FALSE(home.empty());
    ASSERT_EQ(dyx_expand_pathname("~", out, sizeof out), 0);
    EXPECT_EQ(std::string(out), home + "/");
    ASSERT_EQ(dyx_expand_pathname("~/data/x", out, sizeof out), 0);
    EXPECT_EQ(std::string(out), home + "/data/x");
    const passwd *root = getpwnam("root");
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(dyx_expand_pathname("~root/y", out, sizeof out), 0);
    EXPECT_EQ(std::string(out), std::string(root->pw_dir) + "/y");
    EXPECT_EQ(dyx_expand_pathname("~/data/x", out, int32_t(home.size()) + 7), 6);
    ASSERT_EQ(dyx_expand_pathname("plain/path", out, sizeof out), 0);
    EXPECT_STREQ(out, "plain/path");
    EXPECT_EQ(dyx_expand_pathname("plain", out, 5), 6);
    ASSERT_EQ(dyx_expand_pathname("", out, sizeof out), 0);
    EXPECT_STREQ(out, "");
}

TEST(PathText, ConvertsSeparators) {
    EXPECT_EQ(converted("a/b\\c", 2), "a\\b\\c");
    EXPECT_EQ(converted("a/b\\c", 0), "a/b/c");
    EXPECT_EQ(converted("a/b\\c", 1), "a/b/c");
    EXPECT_EQ(converted("C:a:b*c?d\"e<f>g|h", 0x100), "C:a_b_c_d_e_f_g_h");
    EXPECT_EQ(converted("C:\\x\\y", 0x102), "C:\\x\\y");
}

TEST(PathText, CleansSeparators) {
    EXPECT_EQ(converted("a/./b", 0x200), "a/b");
    EXPECT_EQ(converted("a/././b", 0x200), "a/b");
    EXPECT_EQ(converted("/a/b/../c", 0x200), "/a/c");
    EXPECT_EQ(converted("a/../b", 0x200), "b");
    EXPECT_EQ(converted("../../x", 0x200), "../../x");
    EXPECT_EQ(converted("/../b", 0x200), "/b");
    EXPECT_EQ(converted("a///b", 0x200), "a/b");
    EXPECT_EQ(converted("///a//b", 0x200), "//a/b");
    EXPECT_EQ(converted("//./a", 0x200), "//a");
    EXPECT_EQ(converted("a\\.\\b", 0x201), "a/b");
}

TEST(PathText, AddPath) {
    char out[256] = "junk";
    dyx_addpath(out, "/opt/a:/opt/b", "usr", "lib", nullptr);
    EXPECT_STREQ(out, "/opt/a:/opt/b:usr/lib");
    dyx_addpath(out, nullptr, "usr", "lib", nullptr);
    EXPECT_STREQ(out, "usr/lib");
    dyx_addpath(out, "list", nullptr);
    EXPECT_STREQ(out, "list");
    dyx_addpath(out, out, "more", nullptr);  // extending its own list
    EXPECT_STREQ(out, "list:more");
}

TEST(PathText, Extensions) {
    EXPECT_EQ(dyx_find_dot_in_filename("dir.d/file"), nullptr);
    EXPECT_STREQ(dyx_find_dot_in_filename("dir/a.b.png"), ".png");
    EXPECT_STREQ(dyx_find_dot_in_filename("c:\\x.y\\z.tif"), ".tif");
    EXPECT_EQ(dyx_find_dot_in_filename("c:\\x.y\\z"), nullptr);
    EXPECT_EQ(dyx_find_dot_in_filename(""), nullptr);
    EXPECT_EQ(dyx_find_dot_in_filename(nullptr), nullptr);

    char path[] = "dir.d/movie.mov";
    EXPECT_EQ(dyx_remove_ext(path), 1);
    EXPECT_STREQ(path, "dir.d/movie");
    EXPECT_EQ(dyx_remove_ext(path), 0);
    EXPECT_STREQ(path, "dir.d/movie");
}

TEST(PathText, WorkingDirectory) {
    ScratchDir dir;
    char saved[1024];
    ASSERT_NE(dyx_getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(dyx_setcwd(dir.path().c_str()), 0);
    char now[1024];
    ASSERT_NE(dyx_getcwd(now, sizeof now), nullptr);
    EXPECT_EQ(dyx_setcwd(saved), 0);
    EXPECT_EQ(std::string(now), dir.path());
    EXPECT_EQ(dyx_getcwd(now, 2), nullptr);
    EXPECT_NE(dyx_setcwd("/no/such/dir/here"), 0);
}
