// Reader options reach a plug-in's create_reader through the SDK, before its
// defaults are handed back; plug-ins that take no options still work. The
// orientation helper turns pictures as TIFF and EXIF define it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../plugins/sdk/udil_sdk.h"
#include "../../plugins/sdk/udil_sdk_orientation.h"

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

template <typename Codec>
UdilHandle open_reader(int32_t &count, int32_t capacity, UdilOption *options) {
    UdilMovieInfo info{};
    return udil_sdk::create_reader<Codec>("file", &info, &count, capacity, options);
}

void release(UdilHandle handle) { delete udil_sdk::as_handle(handle); }

TEST(SdkReaderOptions, GivenOptionsAreSeenAndDefaultsComeBack) {
    const struct {
        const char *why;
        int32_t count_in;
        int32_t capacity;
        const char *seen;
        int32_t count_out;
    } cases[] = {
        {"one option given", 1, 4, "1", 2},
        {"a count beyond the capacity is cut to it", 9, 1, "1", 1},
        {"a count of 0 passes none", 0, 4, "none given", 2},
        {"a negative count passes none", -3, 4, "none given", 2},
        {"no room passes none", 1, 0, "none given", 0},
    };
    for (const auto &c : cases) {
        std::vector<UdilOption> buffer(4, option("", ""));
        buffer[0] = option("orientation", "1");
        int32_t count = c.count_in;
        UdilHandle handle = open_reader<OptionReadingCodec>(count, c.capacity, buffer.data());
        ASSERT_NE(handle, nullptr) << c.why;
        EXPECT_EQ(seen_orientation, c.seen) << c.why;
        EXPECT_EQ(count, c.count_out) << c.why;
        if (c.count_out > 0) {
            EXPECT_STREQ(buffer[0].name, "quality") << c.why;  // the defaults came back
        }
        release(handle);
    }
}

TEST(SdkReaderOptions, NoArrayPassesNoneAndACodecWithoutOptionsStillOpens) {
    int32_t count = 5;
    UdilHandle handle = open_reader<OptionReadingCodec>(count, 4, nullptr);
    EXPECT_EQ(seen_orientation, "none given");
    EXPECT_EQ(count, 0);
    release(handle);

    std::vector<UdilOption> buffer(2, option("orientation", "1"));
    count = 1;
    UdilMovieInfo info{};
    handle = udil_sdk::create_reader<OlderCodec>("file", &info, &count, 2, buffer.data());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(info.width, 2);
    EXPECT_EQ(count, 2);
    release(handle);
}

// A 3 x 2 picture of one-byte pixels numbered by stored position from the
// top left, held bottom row first.
std::vector<uint8_t> stored_picture() { return {3, 4, 5, 0, 1, 2}; }

// The shown picture, top row first, for each orientation code.
TEST(SdkOrientation, EachCodeShowsThePictureAsDefined) {
    const struct {
        int orientation;
        int32_t width, height;
        std::vector<uint8_t> top_down;
    } cases[] = {
        {1, 3, 2, {0, 1, 2, 3, 4, 5}},  // as stored
        {2, 3, 2, {2, 1, 0, 5, 4, 3}},  // mirrored
        {3, 3, 2, {5, 4, 3, 2, 1, 0}},  // half a turn
        {4, 3, 2, {3, 4, 5, 0, 1, 2}},  // upside down
        {5, 2, 3, {0, 3, 1, 4, 2, 5}},  // transposed
        {6, 2, 3, {3, 0, 4, 1, 5, 2}},  // a quarter turn clockwise
        {7, 2, 3, {5, 2, 4, 1, 3, 0}},  // transverse
        {8, 2, 3, {2, 5, 1, 4, 0, 3}},  // a quarter turn anticlockwise
    };
    for (const auto &c : cases) {
        int32_t width = 0, height = 0;
        udil_sdk::shown_size(c.orientation, 3, 2, width, height);
        EXPECT_EQ(width, c.width) << c.orientation;
        EXPECT_EQ(height, c.height) << c.orientation;
        const std::vector<uint8_t> stored = stored_picture();
        std::vector<uint8_t> shown(6, 99);
        udil_sdk::orient_picture(stored.data(), 3, 2, 1, c.orientation, shown.data());
        std::vector<uint8_t> top_down;
        for (int32_t row = height - 1; row >= 0; --row)
            top_down.insert(top_down.end(), shown.begin() + row * width, shown.begin() + (row + 1) * width);
        EXPECT_EQ(top_down, c.top_down) << c.orientation;
    }
}

TEST(SdkOrientation, WholePixelsMove) {
    // Three-byte pixels stay whole: (r, g, b) of the one pixel in a 1 x 2 picture.
    const std::vector<uint8_t> stored = {1, 2, 3, 4, 5, 6};
    std::vector<uint8_t> shown(6, 0);
    udil_sdk::orient_picture(stored.data(), 1, 2, 3, 8, shown.data());
    EXPECT_EQ(shown, (std::vector<uint8_t>{4, 5, 6, 1, 2, 3}));
}

}  // namespace
