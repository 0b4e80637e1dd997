// Frame file names from templates, output suffixes, wildcard tests and the
// plug-in directory.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "dyx_udil_dir.h"
#include "dyx_udil_stream.h"

namespace {

std::string name_of(const char *name_template, const char *suffix, int32_t frame, int32_t eye) {
    char out[DYX_UDIL_PATH_SIZE];
    const char *made = dyx_udil_make_filename(out, name_template, suffix, frame, eye);
    return made ? made : "<refused>";
}

// '#' runs become the padded frame number (growing for wider numbers), the
// first '@' the eye letter. Guards against a grown run or a suffix
// overflowing the 1024-byte name.
TEST(UdilNames, TemplatesBecomeFrameFileNames) {
    const std::string long_template = std::string(1021, 'x') + "##";
    const struct {
        std::string name_template;
        const char *suffix;
        int32_t frame, eye;
        std::string expected;
    } cases[] = {
        {"frame####", ".png", 7, 0, "frame0007.png"},
        {"a#b#c", "", 5, 1, "a005c"},  // the run spans first to last '#'
        {"plain", ".tif", 3, 0, "plain.tif"},
        {"plain", nullptr, 3, 0, "plain"},
        {"img##", "", 123, 0, "img123"},
        {"img##_x", "", 123, 0, "img123_x"},
        {"#", ".p", 1234567890, 0, "1234567890.p"},
        {"shot_@_#", ".tif", 2, 2, "shot_r_2.tif"},
        {"shot_@_#", ".tif", 2, 1, "shot_l_2.tif"},
        {"shot_@_#", ".tif", 2, 0, "shot_l_2.tif"},
        {"shot_@_#", ".tif", 2, 3, "shot_@_2.tif"},
        {"a@b@", "", 0, 2, "arb@"},
        {long_template, "", 12, 0, std::string(1021, 'x') + "12"},
        {long_template, "", 123, 0, "<refused>"},
        {long_template, ".png", 1, 0, "<refused>"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(name_of(c.name_template.c_str(), c.suffix, c.frame, c.eye), c.expected) << c.name_template;
    char out[DYX_UDIL_PATH_SIZE] = "old";
    EXPECT_EQ(dyx_udil_make_filename(out, std::string(2000, 'y').c_str(), "", 0, 0), nullptr);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(dyx_udil_make_filename(out, nullptr, "", 0, 0), nullptr);

    const struct {
        const char *name;
        int any, frame_run;
    } wildcards[] = {{"a@b", 1, 0}, {"a#b", 1, 1}, {"abc", 0, 0}};
    for (const auto &w : wildcards) {
        EXPECT_EQ(dyx_udil_has_wildcards(w.name), w.any) << w.name;
        EXPECT_EQ(dyx_udil_has_timestep_wildcard(w.name), w.frame_run) << w.name;
    }
    EXPECT_EQ(dyx_udil_has_wildcards(nullptr), 0);
}

// Guards against an output name being swapped for the codec's preferred
// suffix ("out.mkv" written as out.mp4): a name that ends with any suffix
// the codec registers is kept as given, whatever its case.
TEST(UdilNames, OutputSuffixKeepsANameTheCodecKnows) {
    UdilRecord movies{};
    for (const char *suffix : {".mp4", ".mkv", ".mov", ""})
        std::strcpy(movies.suffixes[movies.suffix_count++], suffix);
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

// The override is taken verbatim; a directory that does not fit is
// refused, not cut.
TEST(UdilNames, PluginDirectory) {
    const std::string longest(udil::kPluginDirSize - 1, 'd'), too_long(udil::kPluginDirSize, 'd');
    const struct {
        const char *override_path, *home, *arch;
        bool fits;
        std::string expected;
    } cases[] = {
        {nullptr, "/usr/local/QEV", "linux_2.6_64", true,
         "/usr/local/QEV/vorp32/machines/linux_2.6_64/QEV/lib/udil"},
        {"relative//dir/ ", "/home", "arch", true, "relative//dir/ "},
        {longest.c_str(), "", "", true, longest},
        {too_long.c_str(), "", "", false, ""},
    };
    static char out[udil::kPluginDirSize];
    for (const auto &c : cases) {
        EXPECT_EQ(udil::choose_plugin_directory(c.override_path, c.home, c.arch, out, sizeof out), c.fits);
        EXPECT_EQ(std::string(out), c.expected);
    }
}

}  // namespace
