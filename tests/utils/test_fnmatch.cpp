#include <gtest/gtest.h>

#include <string>

#include "dyx_fnmatch.h"

namespace {

// Both matchers, for the rules they share.
bool both_match(const char *pattern, const char *name, int flags = 0) {
    const int dyx = dyx_fnmatch(pattern, name, flags);
    const int qev = qev_fnmatch(pattern, name, flags);
    EXPECT_EQ(dyx, qev) << "matchers differ on '" << pattern << "' and '" << name << "'";
    return dyx == DYX_FNM_MATCH;
}

}  // namespace

TEST(Fnmatch, StarsAndQuestionMarks) {
    EXPECT_TRUE(both_match("*.so", "a.so"));
    EXPECT_TRUE(both_match("*.so", ".so"));
    EXPECT_FALSE(both_match("*.so", "a.so.1"));
    EXPECT_TRUE(both_match("libudil-*.so", "libudil-png.so"));
    EXPECT_FALSE(both_match("libudil-*.so", "libudil-png.so.old"));
    EXPECT_TRUE(both_match("a?c", "abc"));
    EXPECT_FALSE(both_match("a?c", "ac"));
    EXPECT_TRUE(both_match("**x", "abx"));
    EXPECT_TRUE(both_match("", ""));
    EXPECT_FALSE(both_match("", "a"));
    EXPECT_FALSE(both_match("a", ""));
    EXPECT_EQ(dyx_fnmatch(nullptr, "a", 0), DYX_FNM_NOMATCH);
    EXPECT_EQ(qev_fnmatch("a", nullptr, 0), DYX_FNM_NOMATCH);
}

TEST(Fnmatch, LeadingPeriod) {
    EXPECT_FALSE(both_match("*", ".hidden", DYX_FNM_PERIOD));
    EXPECT_TRUE(both_match(".*", ".hidden", DYX_FNM_PERIOD));
    EXPECT_FALSE(both_match("?hidden", ".hidden", DYX_FNM_PERIOD));
    EXPECT_TRUE(both_match("*", ".hidden"));
    EXPECT_TRUE(both_match("a*", "a.b", DYX_FNM_PERIOD));  // not leading
    EXPECT_FALSE(both_match("a/*", "a/.b", DYX_FNM_PERIOD | DYX_FNM_PATHNAME));
    EXPECT_TRUE(both_match("a/*", "a/.b", DYX_FNM_PERIOD));
}

TEST(Fnmatch, PathnameKeepsSlashes) {
    EXPECT_EQ(dyx_fnmatch("a*", "a/b", DYX_FNM_PATHNAME), DYX_FNM_NOMATCH);
    EXPECT_TRUE(both_match("*/b", "a/b", DYX_FNM_PATHNAME));
    EXPECT_FALSE(both_match("a?b", "a/b", DYX_FNM_PATHNAME));
    EXPECT_FALSE(both_match("a[/]b", "a/b", DYX_FNM_PATHNAME));
    EXPECT_TRUE(both_match("a?b", "a/b"));
    EXPECT_TRUE(both_match("*/*.c", "src/x.c", DYX_FNM_PATHNAME));
    EXPECT_FALSE(both_match("*/*.c", "src/sub/x.c", DYX_FNM_PATHNAME));
    EXPECT_FALSE(both_match("*x", "a/x", DYX_FNM_PATHNAME));
}

TEST(Fnmatch, BracketSets) {
    EXPECT_TRUE(both_match("[a-c]x", "bx"));
    EXPECT_FALSE(both_match("[!a-c]x", "bx"));
    EXPECT_TRUE(both_match("[^a-c]x", "dx"));
    EXPECT_FALSE(both_match("[]", "a"));
    EXPECT_FALSE(both_match("[]", ""));
    EXPECT_TRUE(both_match("[!]", "z"));
    EXPECT_FALSE(both_match("[!]", ""));
    EXPECT_TRUE(both_match("[a-]", "-"));  // '-' before ']' is a member
    EXPECT_TRUE(both_match("[\\]]", "]"));
    EXPECT_TRUE(both_match("[\\a-c]", "b"));
    EXPECT_FALSE(both_match("[abc", "a"));  // the set never closes
    EXPECT_TRUE(both_match("[\\\\]", "\\", DYX_FNM_NOESCAPE));
    EXPECT_TRUE(both_match("[\xe0-\xef]", "\xe5"));  // unsigned byte ranges
}

TEST(Fnmatch, EscapesCaseAndLeadingDirectory) {
    EXPECT_TRUE(both_match("\\*", "*"));
    EXPECT_FALSE(both_match("\\*", "a"));
    EXPECT_TRUE(both_match("a\\", "a\\"));  // a trailing backslash is itself
    EXPECT_TRUE(both_match("\\a", "\\a", DYX_FNM_NOESCAPE));
    EXPECT_FALSE(both_match("\\a", "a", DYX_FNM_NOESCAPE));

    EXPECT_TRUE(both_match("ABC", "aBc", DYX_FNM_CASEFOLD));
    EXPECT_FALSE(both_match("ABC", "aBc"));
    EXPECT_TRUE(both_match("[A-C]x", "bX", DYX_FNM_CASEFOLD));
    EXPECT_TRUE(both_match("*.PNG", "shot.png", DYX_FNM_CASEFOLD));

    EXPECT_TRUE(both_match("usr", "usr/lib", DYX_FNM_LEADING_DIR));
    EXPECT_FALSE(both_match("usr", "usr/lib"));
    EXPECT_FALSE(both_match("usr", "usrlib", DYX_FNM_LEADING_DIR));
    EXPECT_TRUE(both_match("u*", "usr/lib", DYX_FNM_PATHNAME | DYX_FNM_LEADING_DIR));
}

TEST(Fnmatch, DirectoryPrefixFlagOnlyForDyx) {
    const int flags = DYX_FNM_DIR_PREFIX;
    EXPECT_EQ(dyx_fnmatch("/usr/lib", "/usr", flags), DYX_FNM_MATCH);
    EXPECT_EQ(dyx_fnmatch("/usr/lib", "/", flags), DYX_FNM_MATCH);
    EXPECT_EQ(dyx_fnmatch("/usr/lib", "/us", flags), DYX_FNM_NOMATCH);
    EXPECT_EQ(dyx_fnmatch("/usr/lib", "/usr", 0), DYX_FNM_NOMATCH);
    EXPECT_EQ(dyx_fnmatch("/usr/lib", "/opt", flags), DYX_FNM_NOMATCH);
    EXPECT_EQ(dyx_fnmatch_pathnames("/usr/lib", "/usr", flags), DYX_FNM_MATCH);
    EXPECT_EQ(qev_fnmatch("/usr/lib", "/usr", flags), DYX_FNM_NOMATCH);
    EXPECT_EQ(qev_fnmatch("/usr/lib", "/", flags), DYX_FNM_NOMATCH);
}

TEST(Fnmatch, StarQuestionTailDiffers) {
    // qev_fnmatch: a star followed by '?'s and the end takes any rest,
    // slashes included; dyx_fnmatch keeps the slash rule.
    EXPECT_EQ(qev_fnmatch("a*", "a/b", DYX_FNM_PATHNAME), DYX_FNM_MATCH);
    EXPECT_EQ(qev_fnmatch("a*?", "ab/c", DYX_FNM_PATHNAME), DYX_FNM_MATCH);
    EXPECT_EQ(dyx_fnmatch("a*?", "ab/c", DYX_FNM_PATHNAME), DYX_FNM_NOMATCH);
    EXPECT_EQ(qev_fnmatch("a*??", "ab", 0), DYX_FNM_NOMATCH);
    EXPECT_EQ(qev_fnmatch("a*??", "abc", 0), DYX_FNM_MATCH);
    EXPECT_EQ(qev_fnmatch("*?", "/x", DYX_FNM_PATHNAME), DYX_FNM_NOMATCH);
}

TEST(Fnmatch, QevRefusesOverlongNames) {
    const std::string fits(1023, 'a');
    const std::string too_long(1024, 'a');
    EXPECT_EQ(qev_fnmatch("a*", fits.c_str(), 0), DYX_FNM_MATCH);
    EXPECT_EQ(qev_fnmatch("a*", too_long.c_str(), 0), DYX_FNM_NOMATCH);
    EXPECT_EQ(dyx_fnmatch("a*", too_long.c_str(), 0), DYX_FNM_MATCH);
}

// Guards against exponential backtracking on many stars.
TEST(Fnmatch, ManyStarsFailQuickly) {
    const std::string name(200, 'a');
    std::string pattern;
    for (int i = 0; i < 30; ++i) pattern += "*a";
    pattern += "*b";
    EXPECT_FALSE(both_match(pattern.c_str(), name.c_str()));
    EXPECT_TRUE(both_match(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str()));
}
