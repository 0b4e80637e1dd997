#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "dyx_dl.h"
#include "dyx_path.h"

namespace {

const std::string kHooksLibrary = std::string(ORVO_TEST_BINARY_DIR) + "/tests/fixtures/hooks/libdl_hooks.so";

std::string current_directory() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

}  // namespace

TEST(DynamicLoading, OpenCallsBothHooksWithTheHandleName) {
    ASSERT_EQ(dyx_dl_set_handle_name("orvo-test"), 0);
    void *library = nullptr;
    ASSERT_EQ(dyx_dl_open(&library, kHooksLibrary.c_str(), DYX_DL_NOW), 0) << dyx_dl_error();
    const char *seen = nullptr, *name = nullptr;
    ASSERT_EQ(dyx_dl_bindproc(&library, &seen, "hooks_seen", 1), 0);
    EXPECT_STREQ(seen, "init;prs;");
    ASSERT_EQ(dyx_dl_bindproc(&library, &name, "hooks_name", 0), 0);
    EXPECT_STREQ(name, "orvo-test");
    int (*answer)() = nullptr;
    ASSERT_EQ(dyx_dl_bindproc(&library, &answer, "hooks_answer", 0), 0);
    EXPECT_EQ(answer(), 42);
    void *address = reinterpret_cast<void *>(0x1);
    EXPECT_EQ(dyx_dl_bindproc(&library, &address, "no_such_symbol", 0), 4);
    EXPECT_EQ(address, nullptr);
    EXPECT_EQ(dyx_dl_close(&library), 0);
    EXPECT_EQ(library, nullptr);

    address = reinterpret_cast<void *>(0x1);
    EXPECT_EQ(dyx_dl_bindproc(nullptr, &address, "x", 0), 6);
    EXPECT_EQ(address, nullptr);
    library = reinterpret_cast<void *>(0x1);
    EXPECT_EQ(dyx_dl_open(&library, "/nonexistent/libnothing.so", 0), 7);
    EXPECT_EQ(library, nullptr);
    EXPECT_STRNE(dyx_dl_error(), nullptr);
}

// Regression: a relative library name must still load after the switch
// into its directory.
TEST(DynamicLoading, DirectorySwitchLoadsInsideAndRestores) {
    const std::string before = current_directory();
    char directory[PATH_MAX];
    snprintf(directory, sizeof directory, "%s", kHooksLibrary.c_str());
    const std::string expected = dyx_dirname(directory);
    for (bool relative : {false, true}) {
        ASSERT_EQ(chdir(relative ? ORVO_TEST_BINARY_DIR : before.c_str()), 0);
        const std::string name = relative ? "tests/fixtures/hooks/libdl_hooks.so" : kHooksLibrary;
        void *library = nullptr;
        ASSERT_EQ(dyx_dl_open(&library, name.c_str(), DYX_DL_CHDIR), 0) << dyx_dl_error();
        const char *cwd_during_load = nullptr;
        ASSERT_EQ(dyx_dl_bindproc(&library, &cwd_during_load, "hooks_cwd", 0), 0);
        EXPECT_EQ(std::string(cwd_during_load), expected);
        EXPECT_EQ(current_directory(), relative ? std::string(ORVO_TEST_BINARY_DIR) : before);
        dyx_dl_close(&library);
    }
    ASSERT_EQ(chdir(before.c_str()), 0);
}

TEST(InstallLocation, HomeFollowsQevHome) {
    EXPECT_STREQ(dyx_qev_arch(), "linux_2.6_64");
    // The home is read once per process, so each setting runs in a freshly
    // started child.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::pair<const char *, std::string> cases[] = {
        {"/opt/x/", "/opt/x"}, {"/opt/x", "/opt/x"}, {nullptr, "/usr/local/QEV"}, {"/", "/"}};
    for (const auto &c : cases) {
        EXPECT_EXIT(
            {
                c.first ? setenv("QEV_HOME", c.first, 1) : unsetenv("QEV_HOME");
                std::exit(dyx_qev_home() == c.second ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << (c.first ? c.first : "(unset)");
    }
}

TEST(SymbolFont, TableAndClamping) {
    const std::pair<int, uint32_t> cases[] = {{65, 0x0391},  {-5, 0x0024},   {300, 0x0040}, {255, 0x0040},
                                              {256, 0x0040}, {0xe0, 0x2662}, {22, 0x0000}};
    for (const auto &c : cases) EXPECT_EQ(dyx_quornel_symbol_to_unicode(c.first), c.second) << c.first;
}
