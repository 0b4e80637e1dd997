// Frame file names from templates, wildcard tests and the last-error text.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "dyx_udil_stream.h"

namespace {

std::string name_of(const char *name_template, const char *suffix, int32_t frame, int32_t eye) {
    char out[DYX_UDIL_PATH_SIZE];
    const char *made = dyx_udil_make_filename(out, name_template, suffix, frame, eye);
    return made ? made : "<refused>";
}

TEST(UdilNames, HashRunBecomesThePaddedFrameNumber) {
    EXPECT_EQ(name_of("frame####", ".png", 7, 0), "frame0007.png");
    // The run spans first to last '#', whatever lies between.
    EXPECT_EQ(name_of("a#b#c", "", 5, 1), "a005c");
    EXPECT_EQ(name_of("plain", ".tif", 3, 0), "plain.tif");
    EXPECT_EQ(name_of("plain", nullptr, 3, 0), "plain");
}

TEST(UdilNames, RunGrowsForWiderNumbers) {
    EXPECT_EQ(name_of("img##", "", 123, 0), "img123");
    EXPECT_EQ(name_of("img##_x", "", 123, 0), "img123_x");
    EXPECT_EQ(name_of("#", ".p", 1234567890, 0), "1234567890.p");
}

TEST(UdilNames, AtBecomesTheEyeLetter) {
    EXPECT_EQ(name_of("shot_@_#", ".tif", 2, 2), "shot_r_2.tif");
    EXPECT_EQ(name_of("shot_@_#", ".tif", 2, 1), "shot_l_2.tif");
    EXPECT_EQ(name_of("shot_@_#", ".tif", 2, 0), "shot_l_2.tif");
    EXPECT_EQ(name_of("shot_@_#", ".tif", 2, 3), "shot_@_2.tif");
    // Only the first '@' stands for the eye.
    EXPECT_EQ(name_of("a@b@", "", 0, 2), "arb@");
}

// Guards against a grown run or a suffix overflowing the 1024-byte name.
TEST(UdilNames, NamesThatDoNotFitAreRefused) {
    const std::string long_template = std::string(1021, 'x') + "##";
    EXPECT_EQ(name_of(long_template.c_str(), "", 12, 0), std::string(1021, 'x') + "12");
    EXPECT_EQ(name_of(long_template.c_str(), "", 123, 0), "<refused>");
    EXPECT_EQ(name_of(long_template.c_str(), ".png", 1, 0), "<refused>");
    char out[DYX_UDIL_PATH_SIZE] = "old";
    EXPECT_EQ(dyx_udil_make_filename(out, std::string(2000, 'y').c_str(), "", 0, 0), nullptr);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(dyx_udil_make_filename(out, nullptr, "", 0, 0), nullptr);
}

TEST(UdilNames, WildcardTests) {
    EXPECT_EQ(dyx_udil_has_wildcards("a@b"), 1);
    EXPECT_EQ(dyx_udil_has_wildcards("a#b"), 1);
    EXPECT_EQ(dyx_udil_has_wildcards("abc"), 0);
    EXPECT_EQ(dyx_udil_has_wildcards(nullptr), 0);
    EXPECT_EQ(dyx_udil_has_timestep_wildcard("a@b"), 0);
    EXPECT_EQ(dyx_udil_has_timestep_wildcard("a#b"), 1);
}

TEST(UdilNames, LastErrorKeeps255Characters) {
    const std::string long_text(300, 'e');
    dyx_udil_set_err_str(long_text.c_str());
    EXPECT_EQ(std::string(dyx_udil_get_last_error_string()), std::string(255, 'e'));
    dyx_udil_set_err_str("short");
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "short");
    dyx_udil_set_err_str(nullptr);
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "");
    // Without a plug-in to ask, the text is emptied.
    dyx_udil_set_err_str("x");
    dyx_udil_set_err_udil(nullptr, nullptr);
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "");
}

}  // namespace

namespace {

UdilRecord record_with_suffixes(std::initializer_list<const char *> suffixes) {
    UdilRecord record;
    std::memset(&record, 0, sizeof record);
    for (const char *suffix : suffixes) std::strcpy(record.suffixes[record.suffix_count++], suffix);
    return record;
}

}  // namespace

// Guards against an output name being swapped for the codec's preferred
// suffix ("out.mkv" written as out.mp4): a name that ends with any suffix
// the codec registers is kept as given, whatever its case.
TEST(UdilNames, OutputSuffixKeepsANameTheCodecKnows) {
    const UdilRecord movies = record_with_suffixes({".mp4", ".mkv", ".mov", ""});
    const struct {
        const char *name;
        const char *appended;
    } cases[] = {
        {"out.mkv", ""},      {"out.MOV", ""},         {"out.mp4", ""},       {"out", ".mp4"},
        {"out.png", ".mp4"},  {"dir.mkv/out", ".mp4"}, {"shot.####.mkv", ""}, {"eye@.mov", ""},
        {"out.mkv.", ".mp4"}, {"out_0001", ".mp4"},    {"mkv", ".mp4"},       {".mkv", ""},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(dyx_udil_output_suffix(c.name, &movies, ".mp4"), c.appended) << c.name;
    EXPECT_STREQ(dyx_udil_output_suffix("out", &movies, nullptr), "");
    EXPECT_STREQ(dyx_udil_output_suffix(nullptr, &movies, ".mp4"), ".mp4");
    EXPECT_STREQ(dyx_udil_output_suffix("out.mkv", nullptr, ".mp4"), ".mp4");
}
