#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "dyx_string.h"

TEST(StrRepl, CountsFirstOnlyDeletionAndNoRescan) {
    const struct {
        const char *text, *search, *replacement;
        int32_t flags, count;
        const char *expected;
    } cases[] = {
        {"a-b-c-d", "-", "+", 0, 3, "a+b+c+d"},
        {"a-b-c-d", "-", "==", DYX_STRREPL_FIRST_ONLY, 1, "a==b-c-d"},
        {"abab", "ab", "abab", 0, 2, "abababab"},  // the replacement is not searched again
        {"OrVo (4.2)", "(", nullptr, 0, 1, "OrVo 4.2)"},
        {"OrVo", "", "x", 0, 0, "OrVo"},
        {"OrVo", nullptr, "x", 0, 0, "OrVo"},
    };
    for (const auto &c : cases) {
        char text[64];
        std::strcpy(text, c.text);
        EXPECT_EQ(dyx_strrepl(text, c.search, c.replacement, c.flags), c.count) << c.text;
        EXPECT_STREQ(text, c.expected);
    }
}

TEST(BoundedCopy, StaysWithinSizeAndTerminates) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    dyx_strncpy(buffer, "hello", 4);
    EXPECT_STREQ(buffer, "hel");
    EXPECT_EQ(buffer[4], 'x');  // nothing beyond size is touched
    char untouched[2] = {'q', 'q'};
    dyx_strncpy(untouched, "abc", 0);
    EXPECT_EQ(untouched[0], 'q');
    char appended[10] = "abc";
    dyx_strncat(appended, "defghijkl", 8);
    EXPECT_STREQ(appended, "abcdefg");
    char full[4] = "abc";
    dyx_strncat(full, "zzz", 4);
    EXPECT_STREQ(full, "abc");

    EXPECT_EQ(dyx_snprintf(buffer, 4, "%s", "abcdef"), 1);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(dyx_snprintf(buffer, 4, "%d", 123), 0);
    EXPECT_EQ(dyx_snprintf(buffer, 4, "%d", 1234), 1);
    EXPECT_EQ(dyx_snprintf(nullptr, 4, "x"), 1);
}

TEST(Case, AsciiRangeOnlyAndChangeCaseModes) {
    EXPECT_EQ(dyx_toupper('a'), 'A');
    EXPECT_EQ(dyx_tolower('Q'), 'q');
    for (int outside : {200, -1, 300}) {
        EXPECT_EQ(dyx_toupper(outside), outside);
        EXPECT_EQ(dyx_tolower(outside), outside);
    }
    char text[16] = "aBc\xe9z";
    const std::pair<int, const char *> modes[] = {
        {0, "ABC\xe9Z"}, {1, "abc\xe9z"}, {2, "abciz"}, {9, "abciz"}};
    for (const auto &m : modes) {
        dyx_changecase(text, m.first);
        EXPECT_STREQ(text, m.second) << "mode " << m.first;
    }
    const char *movie = "Movie.MOV";
    EXPECT_EQ(dyx_strcasestr(movie, ".mov"), movie + 5);
    EXPECT_EQ(dyx_strcasestr(movie, "xyz"), nullptr);
    EXPECT_EQ(dyx_strcasestr("", "a"), nullptr);
    EXPECT_EQ(dyx_strcasestr(movie, ""), nullptr);
}

TEST(Strip, AtCharsAndAround) {
    char text[16] = "name;rest";
    EXPECT_EQ(dyx_strip_at_the_chars(text, ";#"), 4);
    EXPECT_STREQ(text, "name");
    EXPECT_EQ(text[8], '\0');
    char out[32];
    const std::pair<const char *, const char *> cases[] = {{"__a_b__", "a_b"}, {"____", ""}, {"", ""}};
    for (const auto &c : cases) {
        EXPECT_EQ(dyx_strip_pre_post_chars(c.first, out, '_'), int(std::strlen(c.second)));
        EXPECT_STREQ(out, c.second);
    }
    EXPECT_EQ(dyx_strip_pre_post_spaces(" \t x y \n", out), 3);
    EXPECT_STREQ(out, "x y");
}

TEST(Utf8, DecodeEdgesAndRoundTrip) {
    const struct {
        const char *bytes;
        int length;
        uint32_t code;
    } cases[] = {
        {"\xc3\xa9", 2, 0xe9},       {"\xc3", 1, 0xc3},  // missing continuation
        {"\xe2\x82\xac", 3, 0x20ac}, {"\xf0\x9f\x98\x80", 4, 0x1f600},
        {"\xe2\x82", 1, 0xe2},  // cut short
        {"\x80", 1, 0x80},      // stray continuation
    };
    for (const auto &c : cases) {
        uint32_t code = 0;
        EXPECT_EQ(dyx_char_utf8_to_unicode(c.bytes, &code), c.length) << c.code;
        EXPECT_EQ(code, c.code);
    }
    char out[5] = "xxxx";
    EXPECT_EQ(dyx_char_unicode_to_utf8(0x200000, out), 0);
    EXPECT_STREQ(out, "");
    for (uint32_t code : {0x7fu, 0x80u, 0x7ffu, 0x800u, 0x20acu, 0xffffu, 0x10000u, 0x1fffffu}) {
        const int n = dyx_char_unicode_to_utf8(code, out);
        uint32_t back = 0;
        EXPECT_EQ(dyx_char_utf8_to_unicode(out, &back), n) << code;
        EXPECT_EQ(back, code);
    }
    EXPECT_EQ(dyx_char_unicode_to_utf8(0x20ac, out), 3);
    EXPECT_STREQ(out, "\xe2\x82\xac");
}

// Only the low byte counts, and bit 7 alone decides what is ASCII.
TEST(CharClasses, LowByteAndAsciiBit) {
    EXPECT_TRUE(dyx_isdigit(0x100 + '7'));
    EXPECT_TRUE(dyx_isascii(0x100));
    EXPECT_FALSE(dyx_isascii(0x80));
    EXPECT_TRUE(dyx_isblank('\t') && !dyx_isblank('\n'));
    EXPECT_TRUE(dyx_isalnum('5') && !dyx_isalnum('-'));
    char *copy = dyx_string_native_to_utf8("t\xc3\xa9st");
    EXPECT_STREQ(copy, "t\xc3\xa9st");
    free(copy);
    EXPECT_EQ(dyx_string_utf8_to_native(nullptr), nullptr);
}
