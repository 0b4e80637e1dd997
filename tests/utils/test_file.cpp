#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dyx_file.h"
#include "dyx_io.h"
#include "log_capture.h"
#include "scratch_dir.h"

using testing_support::LogCapture;
using testing_support::ScratchDir;

namespace {

// One dyx_dir_list call with its buffers released afterwards.
struct Listing {
    int status = -99;
    std::string full_path;
    std::vector<std::string> dirs;
    std::vector<std::string> files;
    int32_t dir_count = -1;
    int32_t file_count = -1;
};

std::vector<std::string> sorted_lines(const char *text) {
    std::vector<std::string> lines;
    if (text == nullptr) return lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

Listing list(const std::string &pattern, int32_t verbose = 0) {
    Listing result;
    char *full_path = nullptr, *dirs = nullptr, *files = nullptr;
    result.status = dyx_dir_list(pattern.c_str(), &full_path, &result.dir_count, &dirs, &result.file_count,
                                 &files, verbose);
    if (full_path) result.full_path = full_path;
    result.dirs = sorted_lines(dirs);
    result.files = sorted_lines(files);
    std::free(full_path);
    std::free(dirs);
    std::free(files);
    return result;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string &path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

using Names = std::vector<std::string>;

// A stream over `text` for the line reader.
FILE *stream_of(const std::string &text) {
    FILE *file = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    return file;
}

}  // namespace

TEST(DirList, PicksFilesByPatternAndEveryDirectory) {
    ScratchDir dir;
    for (const char *name : {"libudil-png.so", "libudil-ppm.so", "libudil-old.so.1", "notes.txt"})
        dir.write(name);
    dir.make_dir("sub.so");
    Names many;  // long names that make the buffers grow
    for (int i = 0; i < 40; ++i)
        many.push_back(dir.write("many/" + std::to_string(100 + i) + std::string(200, 'n')));
    for (std::string &name : many) name = name.substr(name.rfind('/') + 1);
    const struct {
        std::string pattern;
        Names files, dirs;
    } cases[] = {
        {dir / "libudil-*.so", {"libudil-png.so", "libudil-ppm.so"}, {".", "..", "many", "sub.so"}},
        {dir.path() + "/",
         {"libudil-old.so.1", "libudil-png.so", "libudil-ppm.so", "notes.txt"},
         {".", "..", "many", "sub.so"}},
        {dir / "*.none", {}, {".", "..", "many", "sub.so"}},
        {dir / "many/", many, {".", ".."}},
    };
    for (const auto &c : cases) {
        const Listing listing = list(c.pattern);
        ASSERT_EQ(listing.status, 0) << c.pattern;
        if (c.pattern.back() != '/') {
            EXPECT_EQ(listing.full_path, c.pattern);
        }
        EXPECT_EQ(listing.files, c.files);
        EXPECT_EQ(listing.file_count, int32_t(c.files.size()));
        EXPECT_EQ(listing.dirs, c.dirs);
        EXPECT_EQ(listing.dir_count, int32_t(c.dirs.size()));
    }
}

TEST(DirList, RelativePatternsAndFailures) {
    ScratchDir dir;
    dir.write("x.cfg");
    char saved[1024];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const Listing relative = list("*.cfg");
    const Listing empty = list("");
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_EQ(relative.status, 0);
    EXPECT_EQ(relative.full_path, dir / "*.cfg");
    EXPECT_EQ(relative.files, Names{"x.cfg"});
    EXPECT_EQ(empty.full_path, dir / "*");
    EXPECT_EQ(empty.files, Names{"x.cfg"});

    EXPECT_EQ(list(dir / "missing/*").status, 8);
    EXPECT_EQ(list("~nosuchuser_orvo/x").status, 8);
    char *full = nullptr, *dirs = nullptr, *files = nullptr;
    int32_t dir_count = 0, file_count = 0;
    EXPECT_EQ(dyx_dir_list(nullptr, &full, &dir_count, &dirs, &file_count, &files, 0), 6);
}

TEST(IoCheck, ReadWriteAndKinds) {
    ScratchDir dir;
    const std::string file = dir.write("present.txt");
    const std::string absent = dir / "absent.txt";
    LogCapture log;
    EXPECT_EQ(dyx_io_chkfil(file.c_str(), DYX_IO_READ, 1), 1);
    EXPECT_EQ(dyx_io_chkfil(absent.c_str(), DYX_IO_READ, 1), 0);
    EXPECT_EQ(dyx_io_chkfil(absent.c_str(), DYX_IO_WRITE, 1), 1);
    EXPECT_FALSE(exists(absent));  // the probe file was removed again
    EXPECT_EQ(dyx_io_chkfil((dir / "no/dir/x").c_str(), DYX_IO_WRITE, 0), 0);
    EXPECT_EQ(dyx_io_chkfil(dir.path().c_str(), DYX_IO_READ | DYX_IO_NOT_DIR, 1), 0);
    EXPECT_EQ(dyx_io_chkfil(dir.path().c_str(), DYX_IO_READ, 0), 1);
    EXPECT_EQ(dyx_io_chkfil("/dev/null", DYX_IO_READ | DYX_IO_REGULAR, 0), 0);
    EXPECT_EQ(dyx_io_chkfil(file.c_str(), DYX_IO_WRITE | DYX_IO_REGULAR, 1), 1);

    std::string logged;
    for (const std::string &line : log.console.lines) logged += line;
    for (const std::string &part : {"File '" + absent + "' cannot be read.", std::string("is a directory."),
                                    std::string("already exists.\n Okaying will overwrite it.")})
        EXPECT_NE(logged.find(part), std::string::npos) << part;
}

TEST(IoGetALine, LinesLimitsAndEnd) {
    FILE *file = stream_of("ab\r\n\nabcd\nabcde\nlast");
    char buffer[5];
    EXPECT_EQ(dyx_io_get_aline(file, 4, buffer), 2);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(dyx_io_get_aline(file, 4, buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(dyx_io_get_aline(file, 4, buffer), 4);  // exactly size characters
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(dyx_io_get_aline(file, 4, buffer), -2);  // one too many
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(dyx_io_get_aline(file, 4, buffer), 1);  // the rest of that line
    EXPECT_STREQ(buffer, "e");
    EXPECT_EQ(dyx_io_get_aline(file, 4, buffer), 4);  // a last line without newline
    EXPECT_STREQ(buffer, "last");
    EXPECT_EQ(dyx_io_get_aline(file, 4, buffer), -1);
    EXPECT_EQ(dyx_io_get_aline(file, 4, buffer), -1);
    std::fclose(file);
}

TEST(FileCopy, CopiesAndRefuses) {
    ScratchDir dir;
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7);
    const std::string source = dir.write("source.bin", big);
    const std::string target = dir / "target.bin";
    EXPECT_EQ(dyx_file_copy(source.c_str(), target.c_str(), 0), 0);
    EXPECT_EQ(read_file(target), big);

    const std::string existing = dir.write("existing.txt", "keep me");
    EXPECT_EQ(dyx_file_copy(source.c_str(), existing.c_str(), DYX_FILE_NO_OVERWRITE), 10);
    EXPECT_EQ(read_file(existing), "keep me");
    EXPECT_EQ(dyx_file_copy((dir / "nothing").c_str(), target.c_str(), 0), 11);
    EXPECT_EQ(dyx_file_copy(source.c_str(), (dir / "no/dir/t").c_str(), 0), 7);
    // Copying a file onto itself must not empty it.
    EXPECT_EQ(dyx_file_copy(source.c_str(), source.c_str(), 0), 10);
    EXPECT_EQ(read_file(source), big);
}

TEST(FileRename, PlainAndCopyAndRemove) {
    ScratchDir dir;
    const std::string a = dir.write("a", "one");
    const std::string b = dir.write("b", "two");
    EXPECT_EQ(dyx_file_rename(a.c_str(), b.c_str(), 0), 0);  // replaces b
    EXPECT_FALSE(exists(a));
    EXPECT_EQ(read_file(b), "one");
    EXPECT_EQ(dyx_file_rename(a.c_str(), b.c_str(), 0), 7);

    const std::string c = dir / "c";
    EXPECT_EQ(dyx_file_rename(b.c_str(), c.c_str(), DYX_FILE_COPY_AND_REMOVE), 0);
    EXPECT_FALSE(exists(b));
    EXPECT_EQ(read_file(c), "one");
    const std::string d = dir.write("d", "other");
    EXPECT_EQ(dyx_file_rename(c.c_str(), d.c_str(), DYX_FILE_COPY_AND_REMOVE), 10);
    EXPECT_TRUE(exists(c));
    EXPECT_EQ(read_file(d), "other");
}

TEST(FileRemove, UnlinkAndTrees) {
    ScratchDir dir;
    const std::string file = dir.write("f");
    EXPECT_EQ(dyx_file_unlink(file.c_str()), 0);
    EXPECT_EQ(dyx_file_unlink(file.c_str()), 7);

    dir.write("tree/a.txt");
    dir.write("tree/sub/b.txt");
    dir.write("tree/sub/deeper/c.txt");
    dir.write("tree/sub/.hidden");
    dir.make_dir("tree/empty");
    EXPECT_EQ(dyx_file_rmdir((dir / "tree").c_str(), 0), 7);  // not empty
    EXPECT_EQ(dyx_file_rmdir((dir / "tree").c_str(), 1), 0);
    EXPECT_FALSE(exists(dir / "tree"));
    EXPECT_EQ(dyx_file_rmdir((dir / "tree").c_str(), 1), 7);

    dir.make_dir("plain");
    EXPECT_EQ(dyx_file_rmdir((dir / "plain").c_str(), 0), 0);

    // Links inside a tree are removed, never followed out of it.
    const std::string precious = dir.write("outside/precious.txt", "data");
    dir.make_dir("linked");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "linked/link").c_str()), 0);
    ASSERT_EQ(symlink((dir / "gone").c_str(), (dir / "linked/dangling").c_str()), 0);
    EXPECT_EQ(dyx_file_rmdir((dir / "linked").c_str(), 1), 0);
    EXPECT_FALSE(exists(dir / "linked"));
    EXPECT_EQ(read_file(precious), "data");
}

TEST(FileStat, RecordAndDirectories) {
    ScratchDir dir;
    const std::string file = dir.write("five", "12345");
    dyx_stat_t record;
    ASSERT_EQ(dyx_stat(file.c_str(), &record), 0);
    struct stat info;
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(record.size, 5);
    EXPECT_EQ(record.inode, uint64_t(info.st_ino));
    EXPECT_EQ(record.mode, uint32_t(info.st_mode));
    EXPECT_EQ(record.modify_time, int64_t(info.st_mtime));
    EXPECT_EQ(record.user_id, uint32_t(info.st_uid));
    EXPECT_EQ(record.link_count, 1u);
    EXPECT_EQ(dyx_stat(file.c_str(), nullptr), 0);
    record.size = 77;
    EXPECT_EQ(dyx_stat((dir / "missing").c_str(), &record), -1);
    EXPECT_EQ(record.size, 0);  // zeroed even on failure

    EXPECT_EQ(dyx_is_dir(dir.path().c_str()), 1);
    EXPECT_EQ(dyx_is_dir(file.c_str()), 0);
    EXPECT_EQ(dyx_is_dir((dir / "missing").c_str()), 0);
    EXPECT_EQ(dyx_is_dir(nullptr), 0);
}

TEST(TempName, UsesTheDirectoryAndPrefix) {
    ScratchDir dir;
    const char *saved_tmpdir = std::getenv("TMPDIR");
    const std::string restore = saved_tmpdir ? saved_tmpdir : "";
    unsetenv("TMPDIR");

    char *name = dyx_tempnam(dir.path().c_str(), "prefix_long");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(name).rfind(dir.path() + "/prefi", 0), 0u) << name;
    EXPECT_FALSE(exists(name));
    char *other = dyx_tempnam(dir.path().c_str(), "prefix_long");
    ASSERT_NE(other, nullptr);
    EXPECT_STRNE(name, other);
    std::free(name);
    std::free(other);

    setenv("QEV_TMPDIR", dir.path().c_str(), 1);
    name = dyx_tempnam(nullptr, nullptr);
    unsetenv("QEV_TMPDIR");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(name).rfind(dir.path() + "/file", 0), 0u) << name;
    std::free(name);

    // A directory that does not exist falls back to the system's.
    name = dyx_tempnam((dir / "missing").c_str(), "x");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(name).find(dir / "missing"), std::string::npos);
    std::free(name);

    if (saved_tmpdir) setenv("TMPDIR", restore.c_str(), 1);
}

TEST(Fread, ReadsUntilTheEnd) {
    FILE *file = stream_of(std::string(1000, 'z'));
    std::vector<char> buffer(2000, 0);
    EXPECT_EQ(dyx_fread(buffer.data(), 10, 50, file), 50u);
    EXPECT_EQ(dyx_fread(buffer.data(), 10, 100, file), 50u);  // only 500 bytes left
    EXPECT_EQ(buffer[499], 'z');
    EXPECT_EQ(dyx_fread(buffer.data(), 10, 1, file), 0u);
    std::fclose(file);

    // A stream that cannot be read gives up instead of looping.
    FILE *write_only = std::fopen("/dev/null", "w");
    ASSERT_NE(write_only, nullptr);
    EXPECT_EQ(dyx_fread(buffer.data(), 1, 64, write_only), 0u);
    std::fclose(write_only);
}
