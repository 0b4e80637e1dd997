// The plug-in SDK keeps why a create function gave no handle, per thread,
// and udil_get_err with a null handle hands it to the host.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "../../plugins/sdk/udil_sdk.h"

namespace {

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
}

TEST(SdkRefusal, ReasonsAreKeptPerThread) {
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
