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

    // Parses `text` for `record` (the fake codec's by default) and returns
    // "name=value(set) ..." for every option.
    std::string parse(const char *text, UdilRecord *record = nullptr) {
        int32_t count = -1;
        UdilOption *options = dyx_udil_parse_options(record ? record : record_, text, &count);
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

// Guards against values silently read as something else: each one keeps
// the value the loose reading gives, and says so in one warning. Every
// parse gives the full count of options, the defaults where none is set.
TEST_F(Options, ValuesNotTakenAsWrittenAreWarnedAbout) {
    EXPECT_EQ(parse(nullptr), kDefaults);
    struct Case {
        const char *text;
        const char *stored;   // what the option holds afterwards
        const char *warning;  // empty when the value is taken as written
    };
    const Case cases[] = {
        {"", kDefaults, ""},
        {"  # only a comment\n", kDefaults, ""},
        // An unknown name or a missing value ends the parse.
        {"quality 60 bogus 1 flag 0", "quality=60* gamma=0.500000 compression=0 flag=1 ",
         "unknown option: bogus"},
        {"flag 0 quality", "quality=50 gamma=0.500000 compression=0 flag=0* ",
         "missing argument for option: quality"},
        {"quality 90", "quality=90* gamma=0.500000 compression=0 flag=1 comment=hello ", ""},
        {"QUALITY 70 quality 80", "quality=80*", ""},
        {"quality abc", "quality=1*", "value abc for option quality is not a number, 1 used"},
        {"quality 0", "quality=1*", "value 0 for option quality is outside the range 1 to 100, 1 used"},
        // The rest of a cut value is dropped and the parse goes on: the
        // digits of "-5" or ".75" were once taken as the next option's name.
        {"quality -5 flag 0", "quality=1* gamma=0.500000 compression=0 flag=0* comment=hello ",
         "value -5 for option quality is negative (a minus sign is not read), 1 used"},
        {"quality 12abc", "quality=12*",
         "value 12abc for option quality is not a number as a whole, 12 used"},
        {"quality 999abc", "quality=100*",
         "value 999abc for option quality is not a number as a whole and is outside the range 1 to 100, 100 "
         "used"},
        {"gamma 0.25", "gamma=0.250000*", ""},
        {"gamma .75 quality 7", "quality=7* gamma=0.700000* compression=0 flag=1 comment=hello ",
         "value .75 for option gamma is not a number as a whole, 0.700000 used"},
        {"gamma 3", "gamma=1.000000*", "value 3 for option gamma is outside the range 0 to 1, 1.000000 used"},
        {"gamma x", "gamma=0.000000*", "value x for option gamma is not a number, 0.000000 used"},
        {"flag 7", "flag=1*", ""},
        {"flag yes", "flag=0*", "value yes for option flag is not a number, 0 used"},
        {"flag -1", "flag=0*", "value -1 for option flag is negative (a minus sign is not read), 0 used"},
        {"comment bye", "comment=bye*", ""},
        {"comment -x", "comment=-*",
         "value -x for option comment is read only as far as its first character, - used"},
        {"compression rle", "compression=1*", ""},
        {"compression le", "compression=2*",
         "argument le for option compression is not one of none|rle|zip, zip used"},
        {"compression gzip quality 7", "quality=7* gamma=0.500000 compression=0 ",
         "argument gzip for option compression is invalid: not one of none|rle|zip"},
    };
    for (const Case &c : cases) {
        LogCapture capture;
        const std::string parsed = parse(c.text);
        EXPECT_NE(parsed.find(c.stored), std::string::npos) << c.text << " -> " << parsed;
        if (c.warning[0] == '\0') {
            EXPECT_TRUE(capture.console.lines.empty()) << c.text;
        } else {
            ASSERT_EQ(capture.console.lines.size(), 1u) << c.text;
            EXPECT_EQ(capture.console.lines[0], std::string("WARNING: warning: ") + c.warning + "\n")
                << c.text;
        }
    }
}

// One CHOICE option whose items contain one another, as a plug-in record
// that needs no library (a non-null handle counts as loaded).
int32_t one_option() { return 1; }
int32_t nested_choice(UdilOption *options) {
    std::strcpy(options[0].name, "preset");
    options[0].type = DYX_UDIL_CHOICE;
    std::strcpy(options[0].range, "veryfast|medium|fast|slowest");
    std::strcpy(options[0].value, "0");
    return 0;
}

// Guards against a whole item losing to an earlier item that holds it
// ("fast" is found inside "veryfast" first, which named "medium"), and a
// find inside the last item storing an index that names no item.
TEST_F(Options, AWholeChoiceItemWinsAndNoItemIsRefused) {
    UdilRecord record{};
    int loaded = 0;
    record.handle = &loaded;
    record.entry.get_num_options = one_option;
    record.entry.get_default_options = nested_choice;
    const struct {
        const char *text, *stored;  // the value, '*' when set
        size_t warnings;
    } cases[] = {{"preset veryfast", "0*", 0}, {"preset medium", "1*", 0}, {"preset fast", "2*", 0},
                 {"preset slowest", "3*", 0},  {"preset ery", "1*", 1},    {"preset est", "0", 1}};
    for (const auto &c : cases) {
        LogCapture capture;
        EXPECT_EQ(parse(c.text, &record), std::string("preset=") + c.stored + " ");
        EXPECT_EQ(capture.console.lines.size(), c.warnings) << c.text;
    }
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

    // A plug-in without options.
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
