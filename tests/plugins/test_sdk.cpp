// The plug-in SDK without a plug-in file: reader options reach a codec's
// create_reader before its defaults are handed back, and why a create
// function gave no handle is kept per thread for udil_get_err with a null
// handle. (The orientation helper is checked through the module, in
// test_orientation.py.) A handle that describes its file answers
// udil_describe with its text cut to the buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
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

// A codec whose readers refuse in the ways a real plug-in does.
struct RefusingCodec : udil_sdk::PluginDefaults {
    static udil_sdk::Handle *create_reader(const char *path, UdilMovieInfo &) {
        const std::string name = path;
        if (name == "plain") return new udil_sdk::Handle();
        if (name == "quiet") return nullptr;
        if (name == "memory") throw std::bad_alloc();
        if (name == "throws") throw std::runtime_error("x");
        if (name == "handle") {
            udil_sdk::Handle *handle = new udil_sdk::Handle();
            handle->fail(1, "IDAT: CRC error");
            return udil_sdk::refuse_with(handle, "unused");
        }
        return udil_sdk::refuse("%s: the file is cut short", path);
    }
};

// The reason udil_get_err gives for a null handle; its flag in *flag_out.
std::string refusal(int32_t *flag_out = nullptr) {
    char message[256] = "stale";
    int32_t flag = -1;
    EXPECT_EQ(udil_sdk::get_err(nullptr, &flag, message), 0);
    if (flag_out) *flag_out = flag;
    EXPECT_EQ(flag != 0, message[0] != '\0');
    return message;
}

UdilHandle open_reader(const char *path) {
    UdilMovieInfo info{};
    return udil_sdk::create_reader<RefusingCodec>(path, &info, nullptr, 0, nullptr);
}

TEST(SdkRefusal, EachRefusalLeavesItsReasonAndAHandleClearsIt) {
    const struct {
        const char *path;
        const char *reason;
    } cases[] = {
        {"cut.png", "cut.png: the file is cut short"},
        {"handle", "IDAT: CRC error"},
        {"memory", "out of memory"},
        {"throws", "internal error"},
        {"quiet", ""},  // a plug-in that says nothing leaves no stale text
    };
    for (const auto &c : cases) {
        EXPECT_EQ(open_reader(c.path), nullptr) << c.path;
        EXPECT_EQ(refusal(), c.reason) << c.path;
    }
    EXPECT_EQ(open_reader("cut.png"), nullptr);
    UdilHandle handle = open_reader("plain");
    ASSERT_NE(handle, nullptr);
    int32_t flag = -1;
    EXPECT_EQ(refusal(&flag), "");
    EXPECT_EQ(flag, 0);
    delete udil_sdk::as_handle(handle);

    // Long reasons are cut; a handle's own error stays with it.
    const std::string longer(600, 'r');
    udil_sdk::refuse("%s", longer.c_str());
    udil_sdk::Handle failed;
    failed.fail(7, "disk full");
    char message[256];
    udil_sdk::get_err(&failed, &flag, message);
    EXPECT_STREQ(message, "disk full");
    EXPECT_EQ(refusal(), longer.substr(0, 255));

    // Another thread sees none of these reasons, and its own stay with it.
    udil_sdk::refuse("main thread");
    std::string seen_there;
    std::thread other([&] {
        seen_there = refusal();
        udil_sdk::refuse("other thread");
    });
    other.join();
    EXPECT_EQ(seen_there, "");
    EXPECT_EQ(refusal(), "main thread");
}

}  // namespace

// A handle that describes its file (udil_describe through the SDK).
namespace {

struct DescribingHandle : udil_sdk::Handle {
    std::string members;
    std::string describe() override { return members; }
};

struct DescribingCodec : udil_sdk::PluginDefaults {};

}  // namespace

UDIL_SDK_DESCRIBE_ENTRY(DescribingCodec)

namespace {

TEST(SdkDescribe, TheTextIsCutToTheBufferAndItsWholeLengthReturned) {
    DescribingHandle handle;
    handle.members = "\"container\": \"test\"";
    char text[64];
    EXPECT_EQ(udil_describe(&handle, text, int32_t(sizeof text)), int32_t(handle.members.size()));
    EXPECT_EQ(std::string(text), handle.members);
    char short_text[8];
    EXPECT_EQ(udil_describe(&handle, short_text, int32_t(sizeof short_text)), int32_t(handle.members.size()));
    EXPECT_EQ(std::string(short_text), handle.members.substr(0, 7));
    // The length alone, and nothing to say.
    EXPECT_EQ(udil_describe(&handle, nullptr, 0), int32_t(handle.members.size()));
    handle.members.clear();
    EXPECT_EQ(udil_describe(&handle, text, int32_t(sizeof text)), -1);
    EXPECT_EQ(udil_describe(nullptr, text, int32_t(sizeof text)), -1);
}

}  // namespace
