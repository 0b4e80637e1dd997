#include <gtest/gtest.h>

#include <string>

#include "dyx_udil_dir.h"

TEST(PluginDirectory, BuiltBelowTheHomeWithoutOverride) {
    char out[udil::kPluginDirSize];
    ASSERT_TRUE(udil::choose_plugin_directory(nullptr, "/usr/local/QEV", "linux_2.6_64", out, sizeof out));
    EXPECT_STREQ(out, "/usr/local/QEV/vorp32/machines/linux_2.6_64/QEV/lib/udil");
}

TEST(PluginDirectory, OverrideIsTakenVerbatim) {
    char out[udil::kPluginDirSize];
    ASSERT_TRUE(udil::choose_plugin_directory("relative//dir/ ", "/home", "arch", out, sizeof out));
    EXPECT_STREQ(out, "relative//dir/ ");
}

TEST(PluginDirectory, TooLongIsRefusedNotCut) {
    char out[udil::kPluginDirSize];
    const std::string longest(udil::kPluginDirSize - 1, 'd');
    EXPECT_TRUE(udil::choose_plugin_directory(longest.c_str(), "", "", out, sizeof out));
    const std::string too_long(udil::kPluginDirSize, 'd');
    EXPECT_FALSE(udil::choose_plugin_directory(too_long.c_str(), "", "", out, sizeof out));
    EXPECT_STREQ(out, "");
}
