#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dyx_fnmatch.h"

namespace {

constexpr int P = DYX_FNM_PATHNAME, D = DYX_FNM_PERIOD, E = DYX_FNM_NOESCAPE, C = DYX_FNM_CASEFOLD,
              L = DYX_FNM_LEADING_DIR;

// Both matchers, for the rules they share.
bool both_match(const std::string &pattern, const std::string &name, int flags = 0) {
    const int dyx = dyx_fnmatch(pattern.c_str(), name.c_str(), flags);
    EXPECT_EQ(dyx, qev_fnmatch(pattern.c_str(), name.c_str(), flags))
        << "matchers differ on '" << pattern << "' and '" << name << "'";
    return dyx == DYX_FNM_MATCH;
}

std::string repeated(const char *piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

// Runs `work` in a child process that an alarm ends after `seconds`, so a
// runaway match fails the test instead of hanging it.
template <typename Work>
bool finishes_within(unsigned seconds, Work work) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(seconds);
        _exit(work() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct SharedCase {
    const char *pattern, *name;
    int flags;
    bool matches;
};

}  // namespace

TEST(Fnmatch, SharedRules) {
    // Plain globs and leading periods.
    const std::vector<SharedCase> globs = {
        {"*.so", "a.so", 0, true},  {"*.so", ".so", 0, true},   {"*.so", "a.so.1", 0, false},
        {"a?c", "abc", 0, true},    {"a?c", "ac", 0, false},    {"**x", "abx", 0, true},
        {"", "", 0, true},          {"", "a", 0, false},        {"a", "", 0, false},
        {"*", ".hidden", D, false}, {".*", ".hidden", D, true}, {"?hidden", ".hidden", D, false},
        {"*", ".hidden", 0, true},  {"a*", "a.b", D, true},     {"a/*", "a/.b", D | P, false},
        {"a/*", "a/.b", D, true},
    };
    // Slashes and bracket sets, with empty and unterminated ones.
    const std::vector<SharedCase> slashes_and_sets = {
        {"*/b", "a/b", P, true},    {"a?b", "a/b", P, false},      {"a[/]b", "a/b", P, false},
        {"a?b", "a/b", 0, true},    {"*/*.c", "src/x.c", P, true}, {"*/*.c", "src/sub/x.c", P, false},
        {"*x", "a/x", P, false},    {"[a-c]x", "bx", 0, true},     {"[!a-c]x", "bx", 0, false},
        {"[^a-c]x", "dx", 0, true}, {"[]", "a", 0, false},         {"[]", "", 0, false},
        {"[!]", "z", 0, true},      {"[!]", "", 0, false},         {"[a-]", "-", 0, true},
        {"[abc", "a", 0, false},
    };
    // Escapes, unsigned byte ranges, case folding and leading directories.
    const std::vector<SharedCase> escapes_case_and_directories = {
        {"[\\]]", "]", 0, true},          {"[\\a-c]", "b", 0, true},      {"[\\\\]", "\\", E, true},
        {"[\xe0-\xef]", "\xe5", 0, true}, {"\\*", "*", 0, true},          {"\\*", "a", 0, false},
        {"a\\", "a\\", 0, true},          {"\\a", "\\a", E, true},        {"\\a", "a", E, false},
        {"ABC", "aBc", C, true},          {"ABC", "aBc", 0, false},       {"[A-C]x", "bX", C, true},
        {"*.PNG", "shot.png", C, true},   {"usr", "usr/lib", L, true},    {"usr", "usr/lib", 0, false},
        {"usr", "usrlib", L, false},      {"u*", "usr/lib", P | L, true},
    };
    for (const auto *group : {&globs, &slashes_and_sets, &escapes_case_and_directories}) {
        for (const SharedCase &c : *group)
            EXPECT_EQ(both_match(c.pattern, c.name, c.flags), c.matches) << c.pattern << " " << c.name;
    }
    EXPECT_EQ(dyx_fnmatch(nullptr, "a", 0), DYX_FNM_NOMATCH);
    EXPECT_EQ(qev_fnmatch("a", nullptr, 0), DYX_FNM_NOMATCH);
}

// Only dyx_fnmatch knows the directory-prefix flag. In qev_fnmatch a star
// followed by '?'s and the end takes any rest, slashes included, and names
// of 1024 characters and more never match.
TEST(Fnmatch, WhereTheMatchersDiffer) {
    const std::string fits(1023, 'a'), too_long(1024, 'a');
    const int M = DYX_FNM_MATCH, N = DYX_FNM_NOMATCH, DP = DYX_FNM_DIR_PREFIX;
    const struct {
        const char *pattern, *name;
        int flags, dyx, qev;
    } cases[] = {
        {"/usr/lib", "/usr", DP, M, N}, {"/usr/lib", "/", DP, M, N},   {"/usr/lib", "/us", DP, N, N},
        {"/usr/lib", "/opt", DP, N, N}, {"/usr/lib", "/usr", 0, N, N}, {"a*", "a/b", P, N, M},
        {"a*?", "ab/c", P, N, M},       {"a*??", "ab", 0, N, N},       {"a*??", "abc", 0, M, M},
        {"*?", "/x", P, N, N},          {"a*", fits.c_str(), 0, M, M}, {"a*", too_long.c_str(), 0, M, N},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(dyx_fnmatch(c.pattern, c.name, c.flags), c.dyx) << c.pattern << " " << c.name;
        EXPECT_EQ(qev_fnmatch(c.pattern, c.name, c.flags), c.qev) << c.pattern << " " << c.name;
    }
    EXPECT_EQ(dyx_fnmatch_pathnames("/usr/lib", "/usr", DP), M);
}

// Guards against exponential backtracking on many stars, with and without
// DYX_FNM_PATHNAME, where a star that gave up at a '/' let every star before
// it try all its positions again (found by fuzzing: 16 stars took hours).
TEST(Fnmatch, ManyStarsFailQuickly) {
    const std::string name = std::string(40, 'a') + "/c";
    const std::string many = repeated("*a", 16);
    const struct {
        std::string pattern, name;
        int flags;
    } cases[] = {{repeated("*a", 30) + "*b", std::string(200, 'a'), 0},
                 {many + "*/b", name, P},
                 {many + "*b/c", name, P},
                 {many + "?b*/c", name, P | L | D},
                 {many + "*/b", name, P | L | D}};
    for (const auto &c : cases) {
        EXPECT_TRUE(finishes_within(60, [&] { return !both_match(c.pattern, c.name, c.flags); }))
            << c.pattern << " flags " << c.flags;
    }
    // The same stars still find the matches there are.
    EXPECT_TRUE(both_match(repeated("*a", 30), std::string(200, 'a')));
    EXPECT_TRUE(both_match(many + "*/c", name, P));
    EXPECT_TRUE(both_match("*a*/*c", "xxa/yyc", P));
    EXPECT_FALSE(both_match("*a*/*c", "xxb/a/yyc", P));
}
