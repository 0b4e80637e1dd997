#include <gtest/gtest.h>

#include <cstdio>
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

// One word as "text", then "=i<int>", "=f<float>", "=p" and "=q" for the
// kinds it was read as; an end of command as "<;>".
std::string describe(const dyx_lex_word_t &word) {
    std::string text = word.text;
    if (word.flags & DYX_LEX_INT) text += "=i" + std::to_string(word.int_value);
    if (word.flags & DYX_LEX_FLOAT) {
        char value[32];
        std::snprintf(value, sizeof value, "=f%g", word.float_value);
        text += value;
    }
    if (word.flags & DYX_LEX_PUNCT) text += std::string("=p") + char(word.punct);
    if (word.flags & DYX_LEX_QUOTED) text += "=q";
    return text;
}

// Every word up to the end of input, separated by '|'.
std::string words(dyx_lex_t *lexer, uint32_t mode) {
    std::string all;
    dyx_lex_word_t word;
    for (int i = 0; i < 100; ++i) {
        const int kind = dyx_lex_get_word(lexer, mode, &word);
        if (kind == DYX_LEX_END_OF_INPUT) break;
        all += (all.empty() ? "" : "|") + (kind == DYX_LEX_END_OF_COMMAND ? "<;>" : describe(word));
    }
    return all;
}

}  // namespace

TEST(Lexer, WordsNumbersQuotesCommentsAndCommands) {
    const uint32_t S = DYX_LEX_STRING, I = DYX_LEX_INT, F = DYX_LEX_FLOAT, Q = DYX_LEX_QUOTED;
    const std::string long_word(2000, 'x');
    const std::string kept(DYX_LEX_WORD_MAX, 'x');
    const struct {
        std::string input;
        uint32_t mode;
        int end_of_command, strict;
        std::string expected;
    } cases[] = {
        // Loose numbers stop at what cannot continue them; a point takes one digit.
        {"1.5.3", F, 0, 0, "1.5=f1.5|.3=f0.3"},
        {".55", F, 0, 0, ".5=f0.5|5=f5"},
        {"12abc", I, 0, 0, "12=i12|abc"},
        {"12abc 3", S, 0, 0, "12abc|3"},  // without a number mode: up to white space
        // The minus sign is its own word only in loose mode.
        {"-5", I | DYX_LEX_PUNCT, 0, 0, "-=p-|5=i5"},
        {"-quality 90", S, 0, 0, "-|quality|90"},
        {"-5", I, 0, 1, "-5=i-5"},
        // Strict mode converts the longest numeric prefix.
        {"12ab", I, 0, 1, "12ab=i12"},
        {"-2.5e1x", F, 0, 1, "-2.5e1x=f-25"},
        {".25", I | F, 0, 1, ".25=f0.25"},
        {"abc#rest of line\ndef", S, 0, 0, "abc|def"},
        {"# only a comment", S, 0, 0, ""},
        // Quotes: a line break becomes a blank; comments, white space and
        // the end of command mean nothing inside.
        {"\"a b\" \"x\ny\" \"\" plain", S | Q, 0, 0, "a b=q|x y=q|=q|plain"},
        {"\"a;#b\";", S | Q, ';', 1, "a;#b=q|<;>"},
        {"a;b", S, ';', 0, "a|<;>|b"},
        {"a\nb", S, '\n', 0, "a|b"},  // a white-space end of command is skipped
        // A long word keeps its first DYX_LEX_WORD_MAX characters.
        {long_word + " next", S, 0, 0, kept + "|next"},
        {"\"" + long_word + "\" next", S | Q, 0, 0, kept + "=q|next"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(words(string_lexer(c.input, c.end_of_command, c.strict).get(), c.mode), c.expected)
            << c.input.substr(0, 40);
}

TEST(Lexer, QuoteRequiredPushBackFlushAndTheRest) {
    dyx_lex_word_t word, again;
    // Requiring a quote: the other character is left for the next call.
    Lexer lexer = string_lexer("abc");
    EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_QUOTED, &word), DYX_LEX_NOT_QUOTED);
    EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_QUOTED, &word), DYX_LEX_NOT_QUOTED);
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "abc");

    lexer = string_lexer("first   the rest here  ");
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(dyx_lex_remaining_string(lexer.get()), "the rest here  ");
    EXPECT_EQ(dyx_lex_push_word(lexer.get(), &word), 0);
    EXPECT_EQ(dyx_lex_push_word(lexer.get(), &word), -1);  // once only
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_INT, &again), DYX_LEX_WORD);
    EXPECT_STREQ(again.text, "first");
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &again), DYX_LEX_WORD);
    EXPECT_STREQ(again.text, "the");

    lexer = string_lexer("skip these words; next   ", ';');
    dyx_lex_flush_til_eoc(lexer.get());
    ASSERT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_WORD);
    EXPECT_STREQ(word.text, "next");
    EXPECT_STREQ(dyx_lex_remaining_string(lexer.get()), "");
    // The end of input repeats, and a pushed end of input reports it again.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &word), DYX_LEX_END_OF_INPUT);
        EXPECT_EQ(word.end_of_input, 1);
        EXPECT_STREQ(word.text, "");
    }
    EXPECT_EQ(dyx_lex_push_word(lexer.get(), &word), 0);
    EXPECT_EQ(dyx_lex_get_word(lexer.get(), DYX_LEX_STRING, &again), DYX_LEX_END_OF_INPUT);
}

// A stream lexer reads the same words and leaves the stream open.
TEST(Lexer, StreamLexerAndThreeNumberParsers) {
    FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fputs("movie 3; # comment\n\"two words\" 1.5 -7;", file);
    std::rewind(file);
    Lexer lexer(dyx_lex_init_file(file, ';', 1));
    ASSERT_NE(lexer, nullptr);
    EXPECT_EQ(dyx_lex_remaining_string(lexer.get()), nullptr);
    EXPECT_EQ(words(lexer.get(), DYX_LEX_STRING | DYX_LEX_QUOTED | DYX_LEX_FLOAT),
              "movie|3=f3|<;>|two words=q|1.5=f1.5|-7=f-7|<;>");
    lexer.reset();
    EXPECT_EQ(std::fclose(file), 0);  // the stream stayed the caller's

    int32_t a = 0, b = 0, c = 0;
    lexer = string_lexer("4 5 six 7");
    EXPECT_EQ(dyx_parse_3ints(lexer.get(), &a, &b, &c), 7);
    EXPECT_EQ(std::vector<int32_t>({a, b, c}), std::vector<int32_t>({4, 5, 0}));
    EXPECT_EQ(dyx_parse_3ints(lexer.get(), &a, nullptr, nullptr), 0);  // the refused word was consumed
    EXPECT_EQ(a, 7);
    EXPECT_EQ(dyx_parse_3ints(lexer.get(), &a, nullptr, nullptr), 7);  // end of input
    float x = 0, y = 0;
    lexer = string_lexer("1.5 -7;", ';', 1);
    EXPECT_EQ(dyx_parse_3floats(lexer.get(), &x, &y, nullptr), 0);
    EXPECT_FLOAT_EQ(x, 1.5f);
    EXPECT_FLOAT_EQ(y, -7.0f);
    lexer = string_lexer("word");
    EXPECT_EQ(dyx_parse_3floats(lexer.get(), &x, nullptr, nullptr), 7);
}
