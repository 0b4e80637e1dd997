// The orvo version note of plug-in files, and the judgement of a plug-in
// directory by it. readelf's view of the same note is the outside check.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "../utils/scratch_dir.h"
#include "dyx_udil_dir.h"

namespace {

using testing_support::ScratchDir;

const std::string kVersion = ORVO_TEST_PLUGIN_VERSION;

std::string read_file(const std::string &path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

std::string plugin_bytes(const char *name) {
    return read_file(std::string(ORVO_TEST_PLUGIN_DIR) + "/" + name);
}

// The note's owner ("orvo" padded to 4-byte alignment) and descriptor.
std::string note_of(const std::string &version) { return std::string("orvo\0\0\0\0", 8) + version + '\0'; }

// `bytes` with the version note's `from` replaced by `to` (same size).
std::string patched(std::string bytes, const std::string &from, const std::string &to) {
    const size_t at = bytes.find(from);
    EXPECT_NE(at, std::string::npos);
    EXPECT_EQ(bytes.find(from, at + 1), std::string::npos) << "one note only";
    if (at != std::string::npos) bytes.replace(at, from.size(), to);
    return bytes;
}

std::string mark_of(const std::string &path, size_t size = 64) {
    char out[64] = "unchanged";
    return udil::read_version_mark(path.c_str(), out, size) ? std::string(out)
                                                            : "<none:" + std::string(out) + ">";
}

TEST(UdilVersionMark, ReadelfSeesTheNoteTheHostReads) {
    const std::string path = std::string(ORVO_TEST_PLUGIN_DIR) + "/libudil-ppm.so";
    FILE *readelf = popen(("readelf -n '" + path + "' 2>/dev/null").c_str(), "r");
    ASSERT_NE(readelf, nullptr);
    std::string listing;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, readelf) != nullptr) listing += chunk;
    if (pclose(readelf) != 0) GTEST_SKIP() << "readelf is not installed";
    EXPECT_NE(listing.find(".note.orvo.version"), std::string::npos) << listing;
    EXPECT_NE(listing.find("orvo                 0x00000006"), std::string::npos) << listing;
    EXPECT_EQ(mark_of(path), kVersion);
}

// Anything that is not a whole, marked 64-bit ELF file gives no mark and
// an empty text; a damaged note is not read past its segment.
TEST(UdilVersionMark, FilesWithoutAMark) {
    ScratchDir scratch;
    const std::string ppm = plugin_bytes("libudil-ppm.so");
    ASSERT_GT(ppm.size(), 4096u);
    std::string huge_descriptor = ppm;
    const size_t note = huge_descriptor.find(note_of(kVersion));
    ASSERT_NE(note, std::string::npos);
    huge_descriptor.replace(note - 8, 4, std::string("\xff\xff\xff\x7f", 4));  // n_descsz
    const struct {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"text.so", "this is not a shared object\n"},
        {"empty.so", ""},
        {"cut.so", ppm.substr(0, 200)},
        {"someone-else.so", patched(ppm, note_of(kVersion), "xxxx" + note_of(kVersion).substr(4))},
        {"huge-descriptor.so", huge_descriptor},
    };
    for (const auto &c : cases) EXPECT_EQ(mark_of(scratch.write(c.name, c.bytes)), "<none:>") << c.name;
    EXPECT_EQ(mark_of(scratch / "missing.so"), "<none:>");
    EXPECT_EQ(mark_of(scratch.make_dir("dir.so")), "<none:>");
    // A mark that does not fit the buffer is not cut.
    EXPECT_EQ(mark_of(scratch.write("ppm.so", ppm), kVersion.size()), "<none:>");
    EXPECT_EQ(mark_of(scratch / "ppm.so", kVersion.size() + 1), kVersion);
}

// A directory is of another version when one plug-in's mark names another
// version, or when one of orvo's own names carries no mark; someone else's
// unmarked plug-in does not count.
TEST(UdilVersionMark, DirectoryOfAnotherVersion) {
    const std::string ppm = plugin_bytes("libudil-ppm.so");
    const std::string other_version =
        kVersion.substr(0, kVersion.size() - 1) + (kVersion.back() == '9' ? "8" : "9");
    const std::string older = patched(ppm, note_of(kVersion), note_of(other_version));
    const std::string unmarked = patched(ppm, note_of(kVersion), "xxxx" + note_of(kVersion).substr(4));
    const struct {
        std::vector<std::pair<const char *, std::string>> files;
        std::string problem;  // empty: the directory is fine
    } cases[] = {
        {{{"libudil-ppm.so", ppm}, {"libudil-png.so", ppm}}, ""},
        {{{"libudil-ppm.so", ppm}, {"libudil-png.so", older}},
         "libudil-png.so is from orvo " + other_version},
        {{{"libudil-ppm.so", unmarked}}, "libudil-ppm.so carries no orvo version"},
        {{{"libudil-mine.so", unmarked}, {"libudil-pp.so", unmarked}}, ""},
        {{{"not-a-plugin.so", older}, {"libudil-ppm.so.old", older}}, ""},
        {{}, ""},
    };
    for (const auto &c : cases) {
        ScratchDir scratch;
        for (const auto &file : c.files) scratch.write(file.first, file.second);
        char problem[256] = "unchanged";
        EXPECT_EQ(udil::find_plugin_of_other_version(scratch.path().c_str(), kVersion.c_str(), "ppm png jpeg",
                                                     problem, sizeof problem),
                  !c.problem.empty())
            << c.problem;
        EXPECT_EQ(std::string(problem), c.problem);
    }
    char problem[8];
    EXPECT_FALSE(udil::find_plugin_of_other_version("/nonexistent/dir", kVersion.c_str(), "ppm", problem,
                                                    sizeof problem));
}

}  // namespace
