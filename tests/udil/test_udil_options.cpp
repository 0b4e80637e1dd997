// Option parsing against a real plug-in's option list (the fake codec's:
// quality INT 1..100, gamma FLOAT 0..1, compression CHOICE none|rle|zip,
// flag BOOLEAN, comment free text).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dyx_malloc.h"
#include "log_capture.h"
#include "udil_test_support.h"

using testing_support::LogCapture;

namespace {

class Options : public udil_test::RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        ASSERT_EQ(dyx_udil_scan_libraries(udil_test::fake_dir("main").c_str()), 0);
        record_ = dyx_udil_find_by_name("fmono");
        ASSERT_NE(record_, nullptr);
    }

    // Parses `text` and returns "name=value(set) ..." for every option.
    std::string parse(const char *text) {
        int32_t count = -1;
        UdilOption *options = dyx_udil_parse_options(record_, text, &count);
        if (options == nullptr) return "<null " + std::to_string(count) + ">";
        std::string result;
        for (int32_t i = 0; i < count; ++i)
            result +=
                std::string(options[i].name) + "=" + options[i].value + (options[i].set ? "*" : "") + " ";
        dyx_free(options, __LINE__, __FILE__);
        return result;
    }

    UdilRecord *record_ = nullptr;
};

const char kDefaults[] = "quality=50 gamma=0.500000 compression=0 flag=1 comment=hello ";

TEST_F(Options, EmptyTextGivesTheDefaultsAndTheFullCount) {
    EXPECT_EQ(parse(""), kDefaults);
    EXPECT_EQ(parse(nullptr), kDefaults);
    EXPECT_EQ(parse("  # only a comment\n"), kDefaults);
}

TEST_F(Options, IntegersAreClampedToTheRange) {
    EXPECT_EQ(parse("quality 90"), "quality=90* gamma=0.500000 compression=0 flag=1 comment=hello ");
    EXPECT_EQ(parse("quality 500").substr(0, 12), "quality=100*");
    EXPECT_EQ(parse("quality 0").substr(0, 10), "quality=1*");
    EXPECT_EQ(parse("QUALITY 70 quality 80").substr(0, 11), "quality=80*");
}

TEST_F(Options, NegativeNumberEndsTheParseAtItsDigits) {
    LogCapture capture;
    EXPECT_EQ(parse("quality -5 flag 0").substr(0, 10), "quality=1*");
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0], "WARNING: warning: unknown option: 5\n");
}

TEST_F(Options, FloatsAreClampedAndReadInLooseMode) {
    EXPECT_EQ(parse("gamma 0.75"), "quality=50 gamma=0.750000* compression=0 flag=1 comment=hello ");
    EXPECT_EQ(parse("gamma 3").find("gamma=1.000000*"), 11u);
    LogCapture capture;
    EXPECT_EQ(parse("gamma .75").find("gamma=0.700000*"), 11u);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0], "WARNING: warning: unknown option: 5\n");
}

TEST_F(Options, ChoicesAreFoundInsideTheRange) {
    EXPECT_NE(parse("compression rle").find("compression=1*"), std::string::npos);
    EXPECT_NE(parse("compression zip").find("compression=2*"), std::string::npos);
    EXPECT_NE(parse("compression none").find("compression=0*"), std::string::npos);
    // Found inside an item: that item's index plus one.
    EXPECT_NE(parse("compression le").find("compression=2*"), std::string::npos);
    LogCapture capture;
    EXPECT_NE(parse("compression gzip quality 7").find("compression=0 "), std::string::npos);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0],
              "WARNING: warning: argument gzip for option compression is invalid\n");
    // An invalid choice is skipped, the parse goes on.
    EXPECT_NE(parse("compression gzip quality 7").find("quality=7*"), std::string::npos);
}

TEST_F(Options, BooleansAndText) {
    EXPECT_NE(parse("flag yes").find("flag=0*"), std::string::npos);
    EXPECT_NE(parse("flag 7").find("flag=1*"), std::string::npos);
    EXPECT_NE(parse("comment bye").find("comment=bye*"), std::string::npos);
}

TEST_F(Options, UnknownNameAndMissingValueEndTheParse) {
    LogCapture capture;
    EXPECT_EQ(parse("quality 60 bogus 1 flag 0"),
              "quality=60* gamma=0.500000 compression=0 flag=1 comment=hello ");
    EXPECT_EQ(parse("flag 0 quality"), "quality=50 gamma=0.500000 compression=0 flag=0* comment=hello ");
    ASSERT_EQ(capture.console.lines.size(), 2u);
    EXPECT_EQ(capture.console.lines[0], "WARNING: warning: unknown option: bogus\n");
    EXPECT_EQ(capture.console.lines[1], "WARNING: warning: missing argument for option: quality\n");
}

TEST_F(Options, SetoptsChangesTheRecordAndResetsOthers) {
    ASSERT_EQ(dyx_udil_setopts(record_, "quality 20 compression zip"), 0);
    EXPECT_STREQ(record_->options[0].value, "20");
    EXPECT_STREQ(record_->options[2].value, "2");
    ASSERT_EQ(dyx_udil_setopts_by_name("FMONO", "flag 0"), 0);
    EXPECT_STREQ(record_->options[0].value, "50");
    EXPECT_STREQ(record_->options[3].value, "0");
    EXPECT_EQ(dyx_udil_setopts_by_name("nosuchcodec", "flag 0"), 1);

    UdilOption foreign = {};
    std::strcpy(foreign.name, "QUALITY");
    std::strcpy(foreign.value, "33");
    EXPECT_EQ(dyx_udil_updateopts(record_, &foreign, 1), 0);
    EXPECT_STREQ(record_->options[0].value, "33");
    std::strcpy(foreign.name, "unknown");
    EXPECT_EQ(dyx_udil_updateopts(record_, &foreign, 1), 1);
    EXPECT_EQ(dyx_udil_updateopts(record_, &foreign, 0), 0);
}

TEST_F(Options, PluginWithoutOptions) {
    UdilRecord *none = nullptr;
    ASSERT_EQ(dyx_udil_scan_library(&none, udil_test::fake_path("texts", "nullsuffix").c_str()), 0);
    ASSERT_NE(none, nullptr);
    int32_t count = -1;
    EXPECT_EQ(dyx_udil_parse_options(none, "quality 1", &count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(dyx_udil_setopts(none, "quality 1"), 1);
    EXPECT_EQ(dyx_udil_parse_options(nullptr, "", &count), nullptr);
    EXPECT_EQ(count, 0);
}

}  // namespace
