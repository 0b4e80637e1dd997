#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dyx_lex.h"

namespace {

struct LexerCloser {
    void operator()(dyx_lex_t *lexer) const { dyx_lex_close(lexer); }
};
using Lexer = std::unique_ptr<dyx_lex_t, LexerCloser>;

Lexer string_lexer(const std::string &text, int end_of_command = 0, int strict = 0) {
    return Lexer(dyx_lex_init_string(text.c_str(), end_of_command, strict));
}

// The texts of all words up to the end of input or of a command.
std::vector<std::string> words_of(dyx_lex_t *lexer, uint32_t mode) {
    std::vector<std::string> words;
    dyx_lex_word_t word;
    while (dyx_lex_get_word(lexer, mode, &word) == DYX_LEX_WORD) words.emplace_back(word.text);
    return words;
}

using Words = std::vector<std::string>;

}  // namespace

TEST(Lexer, LooseNumbersStopAtWhatCannotContinueThem) {
    Lexer lexer = string_lexer("1.5.3");
    dyx_lex_word_t word;
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_FLOAT, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "1.5");
    EXPECT_FLOAT_EQ(word.float_value, 1.5f);
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_FLOAT, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, ".3");
    EXPECT_TRUE(word.flags & DYX_LEX_FLOAT);
    EXPECT_FLOAT_EQ(word.float_value, 0.3f);

    // A point takes only one digit: ".55" is ".5" then "5".
    EXPECT_EQ(words_of(string_lexer(".55").get(), DYX_LEX_FLOAT), (Words{".5", "5"}));

    lexer = string_lexer("12abc");
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_INT, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "12");
    EXPECT_EQ(word.flags, uint32_t(DYX_LEX_STRING | DYX_LEX_INT));
    EXPECT_EQ(word.int_value, 12);
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_INT, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "abc");
    EXPECT_FALSE(word.flags & DYX_LEX_INT);

    // Without a number mode a digit-first word runs to white space.
    EXPECT_EQ(words_of(string_lexer("12abc 3").get(), DYX_LEX_STRING), (Words{"12abc", "3"}));
}

TEST(Lexer, MinusSignIsItsOwnWordOnlyInLooseMode) {
    dyx_lex_word_t word;
    Lexer strict = string_lexer("-5", 0, 1);
    ASSERT_EQ(dyx_lex_get_word(strict.get(), DYX_LEX_INT, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "-5");
    EXPECT_EQ(word.int_value, -5);
    EXPECT_TRUE(word.flags & DYX_LEX_INT);

    Lexer loose = string_lexer("-5");
    ASSERT_EQ(dyx_lex_get_word(loose.get(), DYX_LEX_INT | DYX_LEX_PUNCT, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "-");
    EXPECT_FALSE(word.flags & DYX_LEX_INT);
    EXPECT_TRUE(word.flags & DYX_LEX_PUNCT);
    EXPECT_EQ(word.punct, '-');
    ASSERT_EQ(dyx_lex_get_word(loose.get(), DYX_LEX_INT, &word), DYX_LEX_WORD);
    EXPECT_EQ(word.int_value, 5);

    // An option name with a leading dash arrives as the dash, then the name.
    EXPECT_EQ(words_of(string_lexer("-quality 90").get(), DYX_LEX_STRING), (Words{"-", "quality", "90"}));
}

TEST(Lexer, StrictModeConvertsTheLongestNumericPrefix) {
    dyx_lex_word_t word;
    Lexer lexer = string_lexer("12ab -2.5e1x .25", 0, 1);
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_INT, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "12ab");
    EXPECT_EQ(word.int_value, 12);
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_FLOAT, &word), DYX_LEX_WORD);
    EXPECT_FLOAT_EQ(word.float_value, -25.0f);
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_INT | DYX_LEX_FLOAT, &word), DYX_LEX_WORD);
    EXPECT_EQ(word.flags, uint32_t(DYX_LEX_STRING | DYX_LEX_FLOAT));
    EXPECT_FLOAT_EQ(word.float_value, 0.25f);
}

TEST(Lexer, CommentsRunToTheEndOfTheLine) {
    EXPECT_EQ(words_of(string_lexer("abc#rest of line\ndef").get(), DYX_LEX_STRING), (Words{"abc", "def"}));
    EXPECT_EQ(words_of(string_lexer("# only a comment").get(), DYX_LEX_STRING), Words{});
}

TEST(Lexer, QuotedWords) {
    dyx_lex_word_t word;
    Lexer lexer = string_lexer("\"a b\" \"x\ny\" \"\" plain");
    const uint32_t mode = DYX_LEX_STRING | DYX_LEX_QUOTED;
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), mode, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "a b");
    EXPECT_EQ(word.flags, uint32_t(DYX_LEX_STRING | DYX_LEX_QUOTED));
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), mode, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "x y");  // the line break became a blank
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), mode, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "");
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), mode, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "plain");
    EXPECT_EQ(word.flags, uint32_t(DYX_LEX_STRING));

    // Requiring a quote: the other character is left for the next call.
    lexer = string_lexer("abc");
    EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_QUOTED, &word), DYX_LEX_NOT_QUOTED);
    EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_QUOTED, &word), DYX_LEX_NOT_QUOTED);
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "abc");

    // Comments, white space and the end of command mean nothing inside quotes.
    lexer = string_lexer("\"a;#b\";", ';', 1);
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), mode, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "a;#b");
    EXPECT_EQ(dyx_lex_get_word(lexer.get(), mode, &word), DYX_LEX_END_OF_COMMAND);
}

TEST(Lexer, EndOfCommandAndFlush) {
    dyx_lex_word_t word;
    Lexer lexer = string_lexer("a;b", ';');
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "a");
    EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_END_OF_COMMAND);
    EXPECT_EQ(word.end_of_command, 1);
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "b");

    lexer = string_lexer("skip these words; next", ';');
    dyx_lex_flush_til_eoc(lexer.get());
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "next");

    // A white-space end-of-command character is skipped like other blanks.
    EXPECT_EQ(words_of(string_lexer("a\nb", '\n').get(), DYX_LEX_STRING), (Words{"a", "b"}));
}

TEST(Lexer, PushBackReturnsTheWordOnce) {
    dyx_lex_word_t word;
    dyx_lex_word_t again;
    Lexer lexer = string_lexer("first second");
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_EQ(dyx_lex_push_word(lexer.get(), &word), 0);
    EXPECT_EQ(dyx_lex_push_word(lexer.get(), &word), -1);
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_INT, &again), DYX_LEX_WORD);
    EXPECT_STREQ(again.text, "first");
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &again), DYX_LEX_WORD);
    EXPECT_STREQ(again.text, "second");

    // A pushed end-of-input word reports the end again.
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_END_OF_INPUT);
    EXPECT_EQ(dyx_lex_push_word(lexer.get(), &word), 0);
    EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &again), DYX_LEX_END_OF_INPUT);
}

TEST(Lexer, LongWordKeepsItsFirst1022Characters) {
    const std::string long_word(2000, 'x');
    Lexer lexer = string_lexer(long_word + " next");
    dyx_lex_word_t word;
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_EQ(std::string(word.text), std::string(DYX_LEX_WORD_MAX, 'x'));
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "next");

    // The same for a quoted word.
    lexer = string_lexer("\"" + long_word + "\" next");
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING | DYX_LEX_QUOTED, &word), DYX_LEX_WORD);
    EXPECT_EQ(std::strlen(word.text), size_t(DYX_LEX_WORD_MAX));
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "next");
}

TEST(Lexer, EndOfInputRepeats) {
    Lexer lexer = string_lexer("  only  ");
    dyx_lex_word_t word;
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_END_OF_INPUT);
        EXPECT_EQ(word.end_of_input, 1);
        EXPECT_STREQ(word.text, "");
    }
}

TEST(Lexer, RemainingString) {
    Lexer lexer = string_lexer("name   the rest here  ");
    dyx_lex_word_t word;
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(dyx_lex_remaining_string(lexer.get()), "the rest here  ");
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "the");

    lexer = string_lexer("last   ");
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(dyx_lex_remaining_string(lexer.get()), "");
}

TEST(Lexer, StreamLexerReadsAFile) {
    FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fputs("movie 3; # comment\n\"two words\" 1.5 -7;", file);
    std::rewind(file);
    Lexer lexer(dyx_lex_init_file(file, ';', 1));
    ASSERT_NE(lexer, nullptr);
    EXPECT_EQ(dyx_lex_remaining_string(lexer.get()), nullptr);
    dyx_lex_word_t word;
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "movie");
    int32_t count = 0;
    EXPECT_EQ(dyx_parse_3ints(lexer.get(), &count, nullptr, nullptr), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_END_OF_COMMAND);
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING | DYX_LEX_QUOTED, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "two words");
    float a = 0, b = 0;
    EXPECT_EQ(dyx_parse_3floats(lexer.get(), &a, &b, nullptr), 0);
    EXPECT_FLOAT_EQ(a, 1.5f);
    EXPECT_FLOAT_EQ(b, -7.0f);
    EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_END_OF_COMMAND);
    EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_END_OF_INPUT);
    EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_END_OF_INPUT);
    lexer.reset();
    std::fclose(file);  // the stream stayed the caller's
}

TEST(Lexer, ParseThreeNumbersRefusesOtherWords) {
    Lexer lexer = string_lexer("4 5 six 7");
    int32_t a = 0, b = 0, c = 0;
    EXPECT_EQ(dyx_parse_3ints(lexer.get(), &a, &b, &c), 7);
    EXPECT_EQ(a, 4);
    EXPECT_EQ(b, 5);
    EXPECT_EQ(c, 0);
    // The refused word was consumed.
    EXPECT_EQ(dyx_parse_3ints(lexer.get(), &a, nullptr, nullptr), 0);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(dyx_parse_3ints(lexer.get(), &a, nullptr, nullptr), 7);  // end of input

    float x = 0;
    lexer = string_lexer("word");
    EXPECT_EQ(dyx_parse_3floats(lexer.get(), &x, nullptr, nullptr), 7);
}
