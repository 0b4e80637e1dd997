// Reader options reach a plug-in's create_reader through the SDK, before its
// defaults are handed back; plug-ins that take no options still work. (The
// orientation helper is checked through the module, in test_orientation.py.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../plugins/sdk/udil_sdk.h"

namespace {

constexpr udil_sdk::OptionSpec kSpecs[] = {
    {"quality", UDIL_OPT_INT, "1 100", "90", "written quality"},
    {"orientation", UDIL_OPT_CHOICE, "display|stored", "0", "reading"},
};

// What the last reader was given.
std::string seen_orientation;

struct OptionReadingCodec : udil_sdk::PluginDefaults {
    static udil_sdk::OptionList options() { return udil_sdk::make_option_list(kSpecs); }
    static udil_sdk::Handle *create_reader(const char *, UdilMovieInfo &info,
                                           const udil_sdk::Options &options) {
        seen_orientation = options.text("orientation", "none given");
        info.width = 1;
        return new udil_sdk::Handle();
    }
};

struct OlderCodec : udil_sdk::PluginDefaults {
    static udil_sdk::OptionList options() { return udil_sdk::make_option_list(kSpecs); }
    static udil_sdk::Handle *create_reader(const char *, UdilMovieInfo &info) {
        info.width = 2;
        return new udil_sdk::Handle();
    }
};

UdilOption option(const char *name, const char *value) {
    UdilOption made;
    std::memset(&made, 0, sizeof made);
    std::strcpy(made.name, name);
    std::strcpy(made.value, value);
    made.set = 1;
    return made;
}

// Each case opens a reader with an options array holding "quality 50" and
// "orientation 1", or none at all; the codec's defaults come back in it.
TEST(SdkReaderOptions, GivenOptionsAreSeenAndDefaultsComeBack) {
    const struct {
        const char *why;
        bool array;
        int32_t count_in, capacity;
        const char *seen;
        int32_t count_out;
    } cases[] = {
        {"both options given", true, 2, 4, "1", 2},
        {"a count beyond the capacity is cut to it", true, 2, 1, "none given", 1},
        {"a count of 0 passes none", true, 0, 4, "none given", 2},
        {"a negative count passes none", true, -3, 4, "none given", 2},
        {"no room passes none", true, 2, 0, "none given", 0},
        {"no array passes none", false, 5, 4, "none given", 0},
    };
    for (const auto &c : cases) {
        std::vector<UdilOption> buffer(4, option("", ""));
        buffer[0] = option("quality", "50");
        buffer[1] = option("orientation", "1");
        int32_t count = c.count_in;
        UdilMovieInfo info{};
        UdilHandle handle = udil_sdk::create_reader<OptionReadingCodec>("file", &info, &count, c.capacity,
                                                                        c.array ? buffer.data() : nullptr);
        ASSERT_NE(handle, nullptr) << c.why;
        EXPECT_EQ(seen_orientation, c.seen) << c.why;
        EXPECT_EQ(count, c.count_out) << c.why;
        // The defaults came back.
        EXPECT_STREQ(buffer[0].value, c.count_out > 0 ? "90" : "50") << c.why;
        delete udil_sdk::as_handle(handle);
    }
    // A codec whose reader takes no options still opens and hands back its defaults.
    std::vector<UdilOption> buffer(2, option("orientation", "1"));
    int32_t count = 1;
    UdilMovieInfo info{};
    UdilHandle handle = udil_sdk::create_reader<OlderCodec>("file", &info, &count, 2, buffer.data());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(info.width, 2);
    EXPECT_EQ(count, 2);
    delete udil_sdk::as_handle(handle);
}

}  // namespace
