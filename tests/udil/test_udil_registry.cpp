// Plug-in discovery and the registry, over real dlopen'ed test codecs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_capture.h"
#include "udil_test_support.h"

using testing_support::LogCapture;
using udil_test::fake_dir;
using udil_test::fake_path;
using udil_test::FakeControl;

namespace {

class Registry : public udil_test::RegistryTest {};

int count_records() {
    int count = 0;
    for (UdilRecord *record = dyx_udil_list_first(); record; record = dyx_udil_list_next(record)) ++count;
    return count;
}

std::string registered_names() {
    std::string names;
    for (UdilRecord *record = dyx_udil_list_first(); record; record = dyx_udil_list_next(record))
        names += std::string(record->name) + ";";
    return names;
}

TEST_F(Registry, VersionsBelowThreeAndNullVersionAreRefused) {
    ASSERT_EQ(dyx_udil_scan_libraries(fake_dir("versions").c_str()), 0);
    EXPECT_EQ(registered_names(), "v3;v30;");
    EXPECT_FLOAT_EQ(dyx_udil_find_by_name("v3")->api_version, 3.0f);

    // The dump: loaded records in full, unloaded ones in one line.
    UdilRecord *record = dyx_udil_find_by_name("v3");
    LogCapture capture;
    dyx_udil_dump(record);
    dyx_udil_dump(nullptr);
    EXPECT_EQ(capture.console.lines, std::vector<std::string>{"Udil info: not loaded\n"});
    capture.console.lines.clear();
    dyx_udil_list_dump();
    ASSERT_EQ(capture.console.lines.size(), 3u);  // header and two records
    EXPECT_EQ(capture.console.lines[0], "UdilList info:\n");
    const std::string expected = "Udil info:\n  Name v3\n  Path " + fake_path("versions", "v3") +
                                 "\n  Description Fake codec for tests\n  Version 3\n  Suffix count 1\n"
                                 "    Suffix .fk\n  RandReads 1 RandWrites 0 Unknown Frames 0 Stereo 0\n"
                                 "  Depth 0 MultiImage 0 ThreadSafe 0\n";
    EXPECT_TRUE(capture.console.lines[1] == expected || capture.console.lines[2] == expected)
        << capture.console.lines[1];

    dyx_udil_free(&record);  // unlinks and nulls
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(registered_names(), "v30;");
    dyx_udil_free(&record);  // null is ignored
}

TEST_F(Registry, DuplicateNameInOtherCaseKeepsTheFirst) {
    ASSERT_EQ(dyx_udil_scan_libraries(fake_dir("dupes").c_str()), 0);
    ASSERT_NE(dyx_udil_list_first(), nullptr);
    EXPECT_EQ(dyx_udil_list_first(), dyx_udil_list_last());
    EXPECT_EQ(dyx_udil_find_by_name("dupe"), dyx_udil_list_first());

    // Scanning the other file directly hands back the registered record.
    UdilRecord *first = dyx_udil_list_first();
    const std::string other = std::string(first->path).find("dupa") != std::string::npos
                                  ? fake_path("dupes", "dupb")
                                  : fake_path("dupes", "dupa");
    UdilRecord *found = nullptr;
    ASSERT_EQ(dyx_udil_scan_library(&found, other.c_str()), 0);
    EXPECT_EQ(found, first);
    EXPECT_EQ(dyx_udil_list_first(), dyx_udil_list_last());
}

TEST_F(Registry, TextsAreCutToTheirFieldsAndNullTextsAreSafe) {
    ASSERT_EQ(dyx_udil_scan_libraries(fake_dir("texts").c_str()), 0);
    UdilRecord *many = dyx_udil_find_by_name("many");
    ASSERT_NE(many, nullptr);
    EXPECT_EQ(many->option_count, 5);
    EXPECT_STREQ(many->options[2].name, "compression");
    // Twenty suffixes keep sixteen; a long one keeps 31 characters.
    EXPECT_EQ(many->suffix_count, 16);
    EXPECT_STREQ(many->suffixes[2], ".abcdefghijklmnopqrstuvwxyz0123");
    EXPECT_STREQ(many->suffixes[15], ".s16");

    // A name of 45 characters keeps 31; a description with no terminator too.
    UdilRecord *long_texts = dyx_udil_find_by_name("a_name_much_longer_than_thirty_");
    ASSERT_NE(long_texts, nullptr);
    EXPECT_EQ(std::string(long_texts->desc), std::string(31, 'd'));

    // udil_name returning null is refused; udil_suffix returning null
    // registers no suffix.
    EXPECT_EQ(registered_names().find("nullname"), std::string::npos);
    UdilRecord *null_suffix = dyx_udil_find_by_name("nullsuffix");
    ASSERT_NE(null_suffix, nullptr);
    EXPECT_EQ(null_suffix->suffix_count, 0);
    EXPECT_EQ(null_suffix->options, nullptr);
}

TEST_F(Registry, DirectoryListsSkipEmptyPiecesAndMissingDirectories) {
    LogCapture capture;
    const std::string list =
        fake_dir("versions") + "::" + "/nonexistent/orvo" + ":" + fake_dir("dupes") + ":";
    ASSERT_EQ(dyx_udil_scan_libraries(list.c_str()), 0);
    EXPECT_NE(dyx_udil_find_by_name("v30"), nullptr);
    EXPECT_NE(dyx_udil_find_by_name("dupe"), nullptr);
    EXPECT_TRUE(capture.console.lines.empty()) << capture.console.lines[0];

    // A file that is no shared object is reported and skipped.
    dyx_udil_list_done();
    udil_test::ScratchDir scratch;
    const std::string broken = scratch.write("libudil-broken.so", "not a shared object");
    ASSERT_EQ(dyx_udil_scan_libraries(scratch.path().c_str()), 0);
    EXPECT_EQ(dyx_udil_list_first(), nullptr);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_NE(capture.console.lines[0].find("error opening udil (" + broken + "): "), std::string::npos);
}

TEST_F(Registry, ScanLeavesRecordsUnloadedAndLoadBindsEverything) {
    FakeControl control(fake_path("main", "fmono"));
    ASSERT_TRUE(control.ok());
    ASSERT_EQ(dyx_udil_scan_libraries(fake_dir("main").c_str()), 0);
    UdilRecord *record = dyx_udil_find_by_name("FMONO");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->handle, nullptr);
    EXPECT_EQ(record->entry.name, nullptr);
    EXPECT_STREQ(record->suffixes[0], ".fkm");
    EXPECT_EQ(record->multi_image_capable, 0);
    EXPECT_EQ(control.log(), "set_state 0\nset_state 1\n");

    ASSERT_EQ(dyx_udil_load(record), 0);
    EXPECT_NE(record->handle, nullptr);
    EXPECT_NE(record->entry.get_image, nullptr);
    EXPECT_NE(record->entry.path_to_udil, nullptr);
    // No compressed frames: the companions stay null.
    EXPECT_EQ(record->entry.get_compressed_size, nullptr);
    EXPECT_EQ(record->entry.get_images_compressed, nullptr);
    EXPECT_EQ(record->entry.uncompress_image, nullptr);
    EXPECT_EQ(dyx_udil_load(record), 0);  // already loaded

    UdilRecord *compressed = dyx_udil_find_by_name("fmulti");
    ASSERT_EQ(dyx_udil_load(compressed), 0);
    EXPECT_NE(compressed->entry.get_images_compressed, nullptr);
    EXPECT_NE(compressed->entry.uncompress_image, nullptr);
    EXPECT_EQ(dyx_udil_load(nullptr), 6);
}

TEST_F(Registry, LoadFailuresLeaveTheRightState) {
    ASSERT_EQ(dyx_udil_scan_libraries(fake_dir("load").c_str()), 0);
    UdilRecord *refuse = dyx_udil_find_by_name("refuse");
    UdilRecord *missing = dyx_udil_find_by_name("missing");
    UdilRecord *no_state = dyx_udil_find_by_name("nostate");
    ASSERT_NE(refuse, nullptr);
    ASSERT_NE(missing, nullptr);
    ASSERT_NE(no_state, nullptr);

    // A refusing udil_set_state gives 1 and leaves the record loaded.
    EXPECT_EQ(dyx_udil_load(refuse), 1);
    EXPECT_NE(refuse->handle, nullptr);

    LogCapture capture;
    EXPECT_EQ(dyx_udil_load(missing), 7);
    EXPECT_EQ(missing->handle, nullptr);
    EXPECT_EQ(missing->entry.name, nullptr);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0], "ERROR: dyx_udil_load: can't find udil_thread_safe()\n");
    EXPECT_EQ(dyx_udil_load(missing), 7);  // tried again, fails again

    EXPECT_EQ(dyx_udil_load(no_state), 0);
    EXPECT_EQ(no_state->entry.set_state, nullptr);

    // A plug-in file that vanished after the scan.
    udil_test::ScratchDir scratch;
    const std::string copy = scratch.file("libudil-fmono.so");
    ASSERT_EQ(std::system(("cp '" + fake_path("main", "fmono") + "' '" + copy + "'").c_str()), 0);
    ASSERT_EQ(dyx_udil_scan_libraries(scratch.path().c_str()), 0);
    UdilRecord *record = dyx_udil_find_by_name("fmono");
    ASSERT_NE(record, nullptr);
    std::remove(copy.c_str());
    capture.console.lines.clear();
    EXPECT_EQ(dyx_udil_load(record), 7);
    EXPECT_EQ(record->handle, nullptr);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0].find("ERROR: error opening udil (" + copy + "): "), 0u);
}

TEST_F(Registry, FindBySuffixListWalksAndDone) {
    ASSERT_EQ(dyx_udil_scan_libraries(fake_dir("main").c_str()), 0);
    UdilRecord *multi = dyx_udil_find_by_name("fmulti");
    EXPECT_EQ(dyx_udil_find_by_suffix("clip.FKV"), multi);
    EXPECT_EQ(dyx_udil_find_by_suffix("/a/b/clip.fkv"), multi);
    EXPECT_EQ(dyx_udil_find_by_suffix("fkv"), nullptr);
    EXPECT_EQ(dyx_udil_find_by_suffix(".fk"), nullptr);
    EXPECT_EQ(dyx_udil_find_by_suffix("clip.mov"), nullptr);
    EXPECT_EQ(dyx_udil_find_by_suffix(nullptr), nullptr);

    // The list walks both ways, and done empties it.
    int backward = 0;
    for (UdilRecord *r = dyx_udil_list_last(); r; r = dyx_udil_list_prev(r)) ++backward;
    EXPECT_EQ(count_records(), 6);
    EXPECT_EQ(backward, 6);

    FakeControl control(fake_path("main", "fstereo"));
    UdilRecord *stereo = dyx_udil_find_by_name("fstereo");
    ASSERT_EQ(dyx_udil_load(stereo), 0);
    control.clear();
    dyx_udil_list_done();
    EXPECT_EQ(dyx_udil_list_first(), nullptr);
    EXPECT_EQ(control.log(), "set_state 1\n");  // the loaded one is told before closing
    dyx_udil_list_done();                       // twice is harmless

    ASSERT_EQ(dyx_udil_scan_libraries(fake_dir("main").c_str()), 0);
    EXPECT_NE(dyx_udil_find_by_name("fstereo"), nullptr);
}

}  // namespace
