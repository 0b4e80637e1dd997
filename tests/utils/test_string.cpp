#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "dyx_string.h"

TEST(StrRepl, CountsAndFirstOnly) {
    char text[64] = "a-b-c-d";
    EXPECT_EQ(dyx_strrepl(text, "-", "+", 0), 3);
    EXPECT_STREQ(text, "a+b+c+d");
    char first[64] = "a-b-c-d";
    EXPECT_EQ(dyx_strrepl(first, "-", "==", DYX_STRREPL_FIRST_ONLY), 1);
    EXPECT_STREQ(first, "a==b-c-d");
}

TEST(StrRepl, ReplacementIsNotSearchedAgain) {
    char text[64] = "abab";
    EXPECT_EQ(dyx_strrepl(text, "ab", "abab", 0), 2);
    EXPECT_STREQ(text, "abababab");
}

TEST(StrRepl, NullReplacementDeletesAndEmptySearchDoesNothing) {
    char text[64] = "OrVo (4.2)";
    EXPECT_EQ(dyx_strrepl(text, "(", nullptr, 0), 1);
    EXPECT_EQ(dyx_strrepl(text, ")", nullptr, 0), 1);
    EXPECT_STREQ(text, "OrVo 4.2");
    EXPECT_EQ(dyx_strrepl(text, "", "x", 0), 0);
    EXPECT_EQ(dyx_strrepl(text, nullptr, "x", 0), 0);
    EXPECT_STREQ(text, "OrVo 4.2");
}

TEST(BoundedCopy, StrncpyAlwaysTerminates) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    dyx_strncpy(buffer, "hello", 4);
    EXPECT_STREQ(buffer, "hel");
    EXPECT_EQ(buffer[4], 'x');  // nothing beyond size is touched
    dyx_strncpy(buffer, "hi", 8);
    EXPECT_STREQ(buffer, "hi");
    char untouched[2] = {'q', 'q'};
    dyx_strncpy(untouched, "abc", 0);
    EXPECT_EQ(untouched[0], 'q');
}

TEST(BoundedCopy, StrncatStaysWithinSize) {
    char buffer[10] = "abc";
    dyx_strncat(buffer, "defghijkl", 8);
    EXPECT_STREQ(buffer, "abcdefg");
    char full[4] = "abc";
    dyx_strncat(full, "zzz", 4);
    EXPECT_STREQ(full, "abc");
}

TEST(Case, ToUpperLowerOnlyInAsciiRange) {
    EXPECT_EQ(dyx_toupper('a'), 'A');
    EXPECT_EQ(dyx_tolower('Q'), 'q');
    EXPECT_EQ(dyx_toupper(200), 200);
    EXPECT_EQ(dyx_toupper(-1), -1);
    EXPECT_EQ(dyx_tolower(300), 300);
}

TEST(Case, ChangeCaseModes) {
    char text[16] = "aBc\xe9z";
    dyx_changecase(text, 0);
    EXPECT_STREQ(text, "ABC\xe9Z");
    dyx_changecase(text, 1);
    EXPECT_STREQ(text, "abc\xe9z");
    dyx_changecase(text, 2);
    EXPECT_STREQ(text, "abciz");
    dyx_changecase(text, 9);
    EXPECT_STREQ(text, "abciz");
}

TEST(Search, StrCaseStr) {
    const char *text = "Movie.MOV";
    EXPECT_EQ(dyx_strcasestr(text, ".mov"), text + 5);
    EXPECT_EQ(dyx_strcasestr(text, "xyz"), nullptr);
    EXPECT_EQ(dyx_strcasestr("", "a"), nullptr);
    EXPECT_EQ(dyx_strcasestr(text, ""), nullptr);
}

TEST(Strip, AtTheChars) {
    char text[16] = "name;rest";
    EXPECT_EQ(dyx_strip_at_the_chars(text, ";#"), 4);
    EXPECT_STREQ(text, "name");
    EXPECT_EQ(text[5], '\0');
    EXPECT_EQ(text[8], '\0');
}

TEST(Strip, PrePostCharsAndSpaces) {
    char out[32];
    EXPECT_EQ(dyx_strip_pre_post_chars("__a_b__", out, '_'), 3);
    EXPECT_STREQ(out, "a_b");
    EXPECT_EQ(dyx_strip_pre_post_chars("____", out, '_'), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(dyx_strip_pre_post_chars("", out, '_'), 0);
    EXPECT_EQ(dyx_strip_pre_post_spaces(" \t x y \n", out), 3);
    EXPECT_STREQ(out, "x y");
}

TEST(Utf8, DecodeEdges) {
    uint32_t code = 0;
    EXPECT_EQ(dyx_char_utf8_to_unicode("\xc3\xa9", &code), 2);
    EXPECT_EQ(code, 0xe9u);
    EXPECT_EQ(dyx_char_utf8_to_unicode("\xc3", &code), 1);  // missing continuation
    EXPECT_EQ(code, 0xc3u);
    EXPECT_EQ(dyx_char_utf8_to_unicode("\xe2\x82\xac", &code), 3);
    EXPECT_EQ(code, 0x20acu);
    EXPECT_EQ(dyx_char_utf8_to_unicode("\xf0\x9f\x98\x80", &code), 4);
    EXPECT_EQ(code, 0x1f600u);
    EXPECT_EQ(dyx_char_utf8_to_unicode("\xe2\x82", &code), 1);  // cut short
    EXPECT_EQ(code, 0xe2u);
    EXPECT_EQ(dyx_char_utf8_to_unicode("\x80", &code), 1);  // stray continuation
    EXPECT_EQ(code, 0x80u);
}

TEST(Utf8, EncodeEdgesAndRoundTrip) {
    char out[5];
    EXPECT_EQ(dyx_char_unicode_to_utf8(0x20ac, out), 3);
    EXPECT_STREQ(out, "\xe2\x82\xac");
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(dyx_char_unicode_to_utf8(0x200000, out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(dyx_char_unicode_to_utf8(0x7f, out), 1);
    for (uint32_t code : {0x80u, 0x7ffu, 0x800u, 0xffffu, 0x10000u, 0x1fffffu}) {
        char bytes[5];
        const int n = dyx_char_unicode_to_utf8(code, bytes);
        uint32_t back = 0;
        EXPECT_EQ(dyx_char_utf8_to_unicode(bytes, &back), n) << code;
        EXPECT_EQ(back, code);
    }
}

TEST(Snprintf, ReportsTruncation) {
    char buffer[4];
    EXPECT_EQ(dyx_snprintf(buffer, sizeof buffer, "%s", "abcdef"), 1);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(dyx_snprintf(buffer, sizeof buffer, "%d", 123), 0);
    EXPECT_STREQ(buffer, "123");
    EXPECT_EQ(dyx_snprintf(buffer, sizeof buffer, "%d", 1234), 1);
    EXPECT_EQ(dyx_snprintf(nullptr, 4, "x"), 1);
}

TEST(CharClasses, LowByteAndAsciiBit) {
    EXPECT_TRUE(dyx_isdigit('7'));
    EXPECT_TRUE(dyx_isdigit(0x100 + '7'));  // only the low byte counts
    EXPECT_TRUE(dyx_isascii(0x100));        // only bit 7 is examined
    EXPECT_FALSE(dyx_isascii(0x80));
    EXPECT_TRUE(dyx_isblank('\t'));
    EXPECT_FALSE(dyx_isblank('\n'));
    EXPECT_EQ(dyx_isalpha('q'), 1);
    EXPECT_EQ(dyx_isalnum('5'), 1);
    EXPECT_EQ(dyx_isalnum('-'), 0);
    EXPECT_TRUE(dyx_isxdigit('F'));
    EXPECT_TRUE(dyx_ispunct('!'));
}

TEST(NativeStrings, CopiesAndCodePage) {
    char *copy = dyx_string_native_to_utf8("t\xc3\xa9st");
    EXPECT_STREQ(copy, "t\xc3\xa9st");
    free(copy);
    EXPECT_EQ(dyx_string_utf8_to_native(nullptr), nullptr);
    EXPECT_EQ(dyx_get_current_code_page(), 65001);
}
