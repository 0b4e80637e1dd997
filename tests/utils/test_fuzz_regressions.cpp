// Inputs the fuzz targets (fuzz/) found to misbehave, kept as tests.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "dyx_fnmatch.h"

namespace {

// Runs `work` in a child process that the alarm ends after `seconds`;
// true when it finished in time with exit status 0.
template <typename Work>
bool finishes_within(unsigned seconds, Work work) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(seconds);
        _exit(work() ? 0 : 1);
    }
    if (child < 0) return false;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string repeated(const char *piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

// Guards against exponential backtracking under DYX_FNM_PATHNAME: a star
// that gave up at a '/' let every star before it try all its positions
// again (found by fuzz_fnmatch; 16 stars took hours).
TEST(FuzzRegressions, ManyStarsBeforeASlashFailQuickly) {
    const std::string name = std::string(40, 'a') + "/c";
    for (const std::string &pattern :
         {repeated("*a", 16) + "*/b", repeated("*a", 16) + "*b/c", repeated("*a", 16) + "?b*/c"}) {
        for (int flags : {DYX_FNM_PATHNAME, DYX_FNM_PATHNAME | DYX_FNM_LEADING_DIR | DYX_FNM_PERIOD}) {
            EXPECT_TRUE(finishes_within(
                10,
                [&] {
                    return dyx_fnmatch(pattern.c_str(), name.c_str(), flags) == DYX_FNM_NOMATCH &&
                           qev_fnmatch(pattern.c_str(), name.c_str(), flags) == DYX_FNM_NOMATCH;
                }))
                << pattern << " flags " << flags;
        }
    }
    // The same stars still find a match across the slash.
    EXPECT_EQ(DYX_FNM_MATCH,
              dyx_fnmatch((repeated("*a", 16) + "*/c").c_str(), name.c_str(), DYX_FNM_PATHNAME));
    EXPECT_EQ(DYX_FNM_MATCH, dyx_fnmatch("*a*/*c", "xxa/yyc", DYX_FNM_PATHNAME));
    EXPECT_EQ(DYX_FNM_NOMATCH, dyx_fnmatch("*a*/*c", "xxb/a/yyc", DYX_FNM_PATHNAME));
}

}  // namespace
