#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
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

using Names = std::vector<std::string>;

Names sorted_lines(const char *text) {
    Names lines;
    std::istringstream in(text ? text : "");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// One dyx_dir_list call, its buffers released afterwards; the counts must
// match the names handed out.
struct Listing {
    int status = -99;
    std::string full_path;
    Names dirs, files;
};

Listing list(const std::string &pattern) {
    Listing result;
    char *full_path = nullptr, *dirs = nullptr, *files = nullptr;
    int32_t dir_count = -1, file_count = -1;
    result.status = dyx_dir_list(pattern.c_str(), &full_path, &dir_count, &dirs, &file_count, &files, 0);
    if (full_path) result.full_path = full_path;
    result.dirs = sorted_lines(dirs);
    result.files = sorted_lines(files);
    EXPECT_EQ(dir_count, int32_t(result.dirs.size())) << pattern;
    EXPECT_EQ(file_count, int32_t(result.files.size())) << pattern;
    std::free(full_path);
    std::free(dirs);
    std::free(files);
    return result;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool exists(const std::string &path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// A stream over `text` for the line reader.
FILE *stream_of(const std::string &text) {
    FILE *file = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    return file;
}

}  // namespace

// Files must match the pattern, directories are all listed; a relative
// pattern is taken from the working directory.
TEST(DirList, PicksFilesByPatternAndEveryDirectory) {
    ScratchDir dir;
    const Names plugins = {"libudil-png.so", "libudil-ppm.so"};
    const Names all = {"libudil-old.so.1", "libudil-png.so", "libudil-ppm.so", "notes.txt"};
    for (const std::string &name : all) dir.write(name);
    dir.make_dir("sub.so");
    Names many;  // long names that make the buffers grow
    for (int i = 0; i < 40; ++i) many.push_back(std::to_string(100 + i) + std::string(200, 'n'));
    for (const std::string &name : many) dir.write("many/" + name);
    const Names dirs = {".", "..", "many", "sub.so"}, none;
    const struct {
        std::string pattern, full_path;
        int status;
        Names files, dirs;
    } cases[] = {
        {dir / "libudil-*.so", dir / "libudil-*.so", 0, plugins, dirs},
        {dir.path() + "/", dir.path() + "/", 0, all, dirs},
        {dir / "*.none", dir / "*.none", 0, none, dirs},
        {dir / "many/", dir / "many/", 0, many, {".", ".."}},
        {"libudil-*.so", dir / "libudil-*.so", 0, plugins, dirs},
        {"", dir / "*", 0, all, dirs},
        {dir / "missing/*", dir / "missing/*", 8, none, none},
        {"~nosuchuser_orvo/x", "", 8, none, none},
    };
    char saved[1024];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    for (const auto &c : cases) {
        const Listing listing = list(c.pattern);
        EXPECT_EQ(listing.status, c.status) << c.pattern;
        EXPECT_EQ(listing.full_path, c.full_path);
        EXPECT_EQ(listing.files, c.files) << c.pattern;
        EXPECT_EQ(listing.dirs, c.dirs) << c.pattern;
    }
    ASSERT_EQ(chdir(saved), 0);
    char *full = nullptr, *names = nullptr;
    int32_t count = 0;
    EXPECT_EQ(dyx_dir_list(nullptr, &full, &count, &names, &count, &names, 0), 6);
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

// Lines of at most 4 characters: a longer line gives -2 with the first 4
// characters, then its rest; the end gives -1 for good.
TEST(IoGetALine, LinesLimitsAndEnd) {
    FILE *file = stream_of("ab\r\n\nabcd\nabcde\nlast");
    const std::pair<int, std::string> expected[] = {{2, "ab"}, {0, ""},     {4, "abcd"}, {-2, "abcd"},
                                                    {1, "e"},  {4, "last"}, {-1, ""},    {-1, ""}};
    for (const auto &line : expected) {
        char buffer[5];
        EXPECT_EQ(dyx_io_get_aline(file, 4, buffer), line.first);
        if (line.first == -2) buffer[4] = '\0';
        EXPECT_STREQ(buffer, line.second.c_str());
    }
    std::fclose(file);
}

// Each case starts from a 100000-byte "source" and an "existing" file.
TEST(FileCopyAndRename, StatusesAndWhatIsLeft) {
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7);
    const int32_t keep = DYX_FILE_NO_OVERWRITE, move = DYX_FILE_COPY_AND_REMOVE;
    const struct {
        bool rename;
        std::string source, target;
        int32_t flags;
        int status;
        std::string target_after;  // empty: the target does not exist
        bool source_kept;
    } cases[] = {
        {false, "source", "new", 0, 0, big, true},
        {false, "source", "existing", keep, 10, "keep me", true},
        {false, "source", "source", 0, 10, big, true},  // copying onto itself must not empty it
        {false, "missing", "new", 0, 11, "", false},
        {false, "source", "no/dir/new", 0, 7, "", true},
        {true, "source", "existing", 0, 0, big, false},  // replaces the target
        {true, "missing", "new", 0, 7, "", false},
        {true, "source", "new", move, 0, big, false},
        {true, "source", "existing", move, 10, "keep me", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.rename ? "rename " : "copy ") + c.source + " " + c.target);
        ScratchDir dir;
        dir.write("source", big);
        dir.write("existing", "keep me");
        const std::string source = dir / c.source, target = dir / c.target;
        EXPECT_EQ((c.rename ? dyx_file_rename : dyx_file_copy)(source.c_str(), target.c_str(), c.flags),
                  c.status);
        EXPECT_EQ(exists(target) ? read_file(target) : "", c.target_after);
        EXPECT_EQ(exists(source), c.source_kept);
    }
}

TEST(FileRemove, UnlinkAndTrees) {
    ScratchDir dir;
    const std::string file = dir.write("f");
    EXPECT_EQ(dyx_file_unlink(file.c_str()), 0);
    EXPECT_EQ(dyx_file_unlink(file.c_str()), 7);

    for (const char *name : {"tree/a.txt", "tree/sub/b.txt", "tree/sub/deeper/c.txt", "tree/sub/.hidden"})
        dir.write(name);
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
    const std::string file = dir.write("five", "12345"), missing = dir / "missing";
    dyx_stat_t record;
    struct stat info;
    ASSERT_EQ(dyx_stat(file.c_str(), &record), 0);
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(record.size, 5);
    EXPECT_EQ(record.inode, uint64_t(info.st_ino));
    EXPECT_EQ(record.mode, uint32_t(info.st_mode));
    EXPECT_EQ(record.modify_time, int64_t(info.st_mtime));
    EXPECT_EQ(record.user_id, uint32_t(info.st_uid));
    EXPECT_EQ(record.link_count, 1u);
    EXPECT_EQ(dyx_stat(file.c_str(), nullptr), 0);
    EXPECT_EQ(dyx_stat(missing.c_str(), &record), -1);
    EXPECT_EQ(record.size, 0);  // zeroed even on failure
    for (const char *path : {file.c_str(), missing.c_str(), static_cast<const char *>(nullptr)})
        EXPECT_EQ(dyx_is_dir(path), 0);
    EXPECT_EQ(dyx_is_dir(dir.path().c_str()), 1);
}

// With TMPDIR unset: the given directory, else QEV_TMPDIR's, else the
// system's; five characters of the prefix ("file" by default) and six
// random ones.
TEST(TempName, DirectoryPrefixAndFreshNames) {
    ScratchDir dir;
    const char *saved_tmpdir = std::getenv("TMPDIR");
    const std::string restore = saved_tmpdir ? saved_tmpdir : "", missing = dir / "missing";
    unsetenv("TMPDIR");
    setenv("QEV_TMPDIR", dir.path().c_str(), 1);
    const struct {
        const char *directory, *prefix;
        std::string start;
    } cases[] = {
        {dir.path().c_str(), "prefix_long", dir / "prefi"},
        {dir.path().c_str(), "prefix_long", dir / "prefi"},  // a name of its own again
        {nullptr, nullptr, dir / "file"},
        {missing.c_str(), "x", P_tmpdir "/x"},
    };
    std::set<std::string> names;
    for (const auto &c : cases) {
        char *name = dyx_tempnam(c.directory, c.prefix);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(std::string(name).rfind(c.start, 0), 0u) << name;
        EXPECT_EQ(std::strlen(name), c.start.size() + 6) << name;
        EXPECT_FALSE(exists(name));
        names.insert(name);
        std::free(name);
    }
    EXPECT_EQ(names.size(), 4u);
    unsetenv("QEV_TMPDIR");
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
