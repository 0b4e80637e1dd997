// Plug-in discovery and the registry, over real dlopen'ed test codecs, and
// plug-in directories holding files that are no working plug-ins.
#include <gtest/gtest.h>

#include <filesystem>
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

std::string registered_names() {
    std::string names;
    for (UdilRecord *record = dyx_udil_list_first(); record; record = dyx_udil_list_next(record))
        names += std::string(record->name) + ";";
    return names;
}

// A directory list may hold empty pieces and missing directories: skipped
// without a word.
TEST_F(Registry, VersionsBelowThreeAndNullVersionAreRefused) {
    LogCapture capture;
    ASSERT_EQ(dyx_udil_scan_libraries((fake_dir("versions") + "::/nonexistent/orvo:").c_str()), 0);
    EXPECT_TRUE(capture.console.lines.empty()) << capture.console.lines[0];
    EXPECT_EQ(registered_names(), "v3;v30;");
    EXPECT_FLOAT_EQ(dyx_udil_find_by_name("v3")->api_version, 3.0f);

    // The dump: loaded records in full, unloaded ones in one line.
    UdilRecord *record = dyx_udil_find_by_name("v3");
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

TEST_F(Registry, FurtherSuffixesMatchAfterEveryPluginsOwn) {
    ASSERT_EQ(dyx_udil_scan_libraries(fake_dir("more").c_str()), 0);
    UdilRecord *more = dyx_udil_find_by_name("amore");
    UdilRecord *plain = dyx_udil_find_by_name("bplain");
    ASSERT_NE(more, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(more->suffix_count, 1);
    ASSERT_EQ(more->more_suffix_count, 3);
    EXPECT_STREQ(more->more_suffixes[1], ".fkz");
    EXPECT_EQ(plain->more_suffix_count, 0);
    EXPECT_EQ(plain->more_suffixes, nullptr);
    // Whatever the scan order, a plug-in's own suffix wins over another's
    // further one; a further suffix finds its plug-in; the empty further
    // suffix matches nothing.
    EXPECT_EQ(dyx_udil_find_by_suffix("clip.FKA"), more);
    EXPECT_EQ(dyx_udil_find_by_suffix("clip.fkb"), plain);
    EXPECT_EQ(dyx_udil_find_by_suffix("clip.Fkz"), more);
    EXPECT_EQ(dyx_udil_find_by_suffix("clip.fky"), nullptr);
    // A name that ends with a further suffix is kept as the file's own.
    EXPECT_STREQ(dyx_udil_output_suffix("clip.fkz", more, ".fka"), "");
    EXPECT_STREQ(dyx_udil_output_suffix("clip", more, ".fka"), ".fka");
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

TEST_F(Registry, ScanLoadFindAndDone) {
    FakeControl control(fake_path("main", "fmono"));
    ASSERT_TRUE(control.ok());
    ASSERT_EQ(dyx_udil_scan_libraries(fake_dir("main").c_str()), 0);
    UdilRecord *record = dyx_udil_find_by_name("FMONO");
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->handle == nullptr && record->entry.name == nullptr);  // scanned, not loaded
    EXPECT_STREQ(record->suffixes[0], ".fkm");
    EXPECT_EQ(record->multi_image_capable, 0);
    EXPECT_EQ(control.log(), "set_state 0\nset_state 1\n");

    ASSERT_EQ(dyx_udil_load(record), 0);
    EXPECT_TRUE(record->handle != nullptr && record->entry.get_image != nullptr);
    // No compressed frames: the companions stay null.
    const UdilEntryPoints &mono = record->entry;
    EXPECT_TRUE(!mono.get_compressed_size && !mono.get_images_compressed && !mono.uncompress_image);
    EXPECT_EQ(dyx_udil_load(record), 0);  // already loaded

    UdilRecord *compressed = dyx_udil_find_by_name("fmulti");
    ASSERT_EQ(dyx_udil_load(compressed), 0);
    EXPECT_TRUE(compressed->entry.get_images_compressed && compressed->entry.uncompress_image);
    EXPECT_EQ(dyx_udil_load(nullptr), 6);

    // Suffixes match whole and in any case.
    EXPECT_EQ(dyx_udil_find_by_suffix("clip.FKV"), compressed);
    EXPECT_EQ(dyx_udil_find_by_suffix("/a/b/clip.fkv"), compressed);
    EXPECT_EQ(dyx_udil_find_by_suffix("fkv"), nullptr);
    EXPECT_EQ(dyx_udil_find_by_suffix(".fk"), nullptr);
    EXPECT_EQ(dyx_udil_find_by_suffix("clip.mov"), nullptr);
    EXPECT_EQ(dyx_udil_find_by_suffix(nullptr), nullptr);

    // The list walks both ways, and done empties it.
    int forward = 0, backward = 0;
    for (UdilRecord *r = dyx_udil_list_first(); r; r = dyx_udil_list_next(r)) ++forward;
    for (UdilRecord *r = dyx_udil_list_last(); r; r = dyx_udil_list_prev(r)) ++backward;
    EXPECT_TRUE(forward == 6 && backward == 6) << forward << " " << backward;

    FakeControl stereo_control(fake_path("main", "fstereo"));
    ASSERT_EQ(dyx_udil_load(dyx_udil_find_by_name("fstereo")), 0);
    stereo_control.clear();
    dyx_udil_list_done();
    EXPECT_EQ(dyx_udil_list_first(), nullptr);
    EXPECT_EQ(stereo_control.log(), "set_state 1\n");  // the loaded one is told before closing
    dyx_udil_list_done();                              // twice is harmless

    ASSERT_EQ(dyx_udil_scan_libraries(fake_dir("main").c_str()), 0);
    EXPECT_NE(dyx_udil_find_by_name("fstereo"), nullptr);
}

TEST_F(Registry, LoadFailuresLeaveTheRightState) {
    ASSERT_EQ(dyx_udil_scan_libraries(fake_dir("load").c_str()), 0);
    UdilRecord *refuse = dyx_udil_find_by_name("refuse");
    UdilRecord *missing = dyx_udil_find_by_name("missing");
    UdilRecord *no_state = dyx_udil_find_by_name("nostate");
    ASSERT_TRUE(refuse && missing && no_state);

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

    // A plug-in removed, or cut short, after the scan is not loaded.
    udil_test::ScratchDir scratch;
    const std::string copy = scratch.file("libudil-fmono.so");
    for (const bool cut_short : {false, true}) {
        const char *why = cut_short ? "truncated" : "error opening udil (";
        dyx_udil_list_done();
        std::filesystem::copy_file(fake_path("main", "fmono"), copy,
                                   std::filesystem::copy_options::overwrite_existing);
        ASSERT_EQ(dyx_udil_scan_libraries(scratch.path().c_str()), 0);
        UdilRecord *record = dyx_udil_find_by_name("fmono");
        ASSERT_NE(record, nullptr);
        if (cut_short)
            std::filesystem::resize_file(copy, 9000);
        else
            std::filesystem::remove(copy);
        capture.console.lines.clear();
        EXPECT_EQ(dyx_udil_load(record), 7) << why;
        EXPECT_EQ(record->handle, nullptr);
        ASSERT_EQ(capture.console.lines.size(), 1u) << why;
        EXPECT_EQ(capture.console.lines[0].rfind("ERROR: ", 0), 0u) << capture.console.lines[0];
        EXPECT_NE(capture.console.lines[0].find(why), std::string::npos) << capture.console.lines[0];
    }
}

// Guards against a plug-in cut short crashing the process: the loader
// maps such a file past its end and dies of SIGBUS on the first touch.
// Each broken file is named in one line and skipped; the scan goes on.
TEST_F(Registry, BrokenFilesAreNamedAndTheRealPluginStillLoads) {
    udil_test::ScratchDir scratch;
    // A real shared object that is no plug-in.
    const std::string real = fake_path("main", "fmono"),
                      other = std::string(ORVO_TEST_BINARY_DIR) + "/tests/fixtures/hooks/libdl_hooks.so";
    std::filesystem::copy_file(real, scratch.file("libudil-fmono.so"));
    // Cut inside the first and inside the second loadable segment (debug
    // sections at the end of a file may go without harm).
    for (const auto &[name, bytes] :
         {std::make_pair("libudil-head.so", 3000), std::make_pair("libudil-code.so", 9000)}) {
        std::filesystem::copy_file(real, scratch.file(name));
        std::filesystem::resize_file(scratch.file(name), uintmax_t(bytes));
    }
    scratch.write("libudil-text.so", "this is not a shared object\n");
    scratch.write("libudil-empty.so", "");
    std::filesystem::copy_file(other, scratch.file("libudil-other.so"));
    scratch.make_dir("libudil-d.so");

    LogCapture capture;
    ASSERT_EQ(dyx_udil_scan_libraries(scratch.path().c_str()), 0);
    ASSERT_EQ(dyx_udil_list_first(), dyx_udil_list_last());
    UdilRecord *record = dyx_udil_find_by_name("fmono");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->path, scratch.file("libudil-fmono.so"));
    EXPECT_EQ(dyx_udil_load(record), 0);

    const std::pair<const char *, const char *> refused[] = {{"libudil-head.so", "truncated"},
                                                             {"libudil-code.so", "truncated"},
                                                             {"libudil-text.so", "error opening udil"},
                                                             {"libudil-empty.so", "error opening udil"},
                                                             {"libudil-other.so", "not a codec plug-in"}};
    // A directory is no plug-in file: passed over without a word.
    ASSERT_EQ(capture.console.lines.size(), std::size(refused));
    for (const auto &[name, why] : refused) {
        int naming = 0, saying_why = 0;
        for (const std::string &line : capture.console.lines) {
            if (line.find(scratch.file(name)) == std::string::npos) continue;
            ++naming;
            saying_why += line.find(why) != std::string::npos;
        }
        EXPECT_TRUE(naming == 1 && saying_why == 1) << name;
    }
}

}  // namespace
