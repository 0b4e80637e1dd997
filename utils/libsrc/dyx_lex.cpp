// Word lexer over a C stream or a private copy of a string.
#include "dyx_lex.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "dyx_status.h"

namespace {

// Reads one character as an unsigned value, or EOF. In a string the NUL
// byte is the end and the cursor stays on it, so the end repeats.
int read_char(dyx_lex_t *lexer) {
    if (lexer->stream != nullptr) return std::getc(lexer->stream);
    const unsigned char c = static_cast<unsigned char>(*lexer->cursor);
    if (c == '\0') return EOF;
    ++lexer->cursor;
    return c;
}

// Gives one character back; the string copy is ours, so it is writable.
void unread_char(dyx_lex_t *lexer, int c) {
    if (c == EOF) return;
    if (lexer->stream != nullptr) {
        std::ungetc(c, lexer->stream);
        return;
    }
    --lexer->cursor;
    *lexer->cursor = static_cast<char>(c);
}

bool is_end_of_command(const dyx_lex_t *lexer, int c) {
    return lexer->end_of_command != 0 && c == lexer->end_of_command;
}

// Collects a word's characters; those beyond the limit are dropped.
class WordText {
public:
    explicit WordText(char *text) : text_(text) {}
    void add(int c) {
        if (length_ < DYX_LEX_WORD_MAX) text_[length_] = static_cast<char>(c);
        ++length_;
    }
    void finish() { text_[length_ < DYX_LEX_WORD_MAX ? length_ : DYX_LEX_WORD_MAX] = '\0'; }

private:
    char *text_;
    size_t length_ = 0;
};

// Skips white space and comments. Returns the first character of a word,
// or the result for the end of input or of a command (flags set).
int skip_to_word(dyx_lex_t *lexer, dyx_lex_word_t *word, int *result) {
    for (;;) {
        int c = read_char(lexer);
        while (c != EOF && std::isspace(c)) c = read_char(lexer);
        if (c == EOF) {
            word->end_of_input = 1;
            *result = DYX_LEX_END_OF_INPUT;
            return EOF;
        }
        if (is_end_of_command(lexer, c)) {
            word->end_of_command = 1;
            *result = DYX_LEX_END_OF_COMMAND;
            return EOF;
        }
        if (c != '#') return c;
        while (c != EOF && c != '\n') c = read_char(lexer);
    }
}

void read_quoted(dyx_lex_t *lexer, WordText &text) {
    for (int c = read_char(lexer); c != EOF && c != '"'; c = read_char(lexer)) {
        text.add(c == '\n' || c == '\r' ? ' ' : c);
    }
}

enum class WordKind { digit, letter, punct };

WordKind kind_of(int c) {
    if (std::isdigit(c)) return WordKind::digit;
    if (std::isalpha(c)) return WordKind::letter;
    if (std::ispunct(c)) return WordKind::punct;
    return WordKind::letter;  // control characters and the like
}

void read_unquoted(dyx_lex_t *lexer, uint32_t mode, int first, WordText &text) {
    text.add(first);
    const WordKind kind = kind_of(first);
    const bool loose = lexer->strict == 0;
    const bool number_rules = loose && kind == WordKind::digit && (mode & (DYX_LEX_INT | DYX_LEX_FLOAT));
    bool seen_point = false;
    for (;;) {
        const int c = read_char(lexer);
        if (c == EOF) return;
        if (std::isspace(c) || is_end_of_command(lexer, c) || c == '#') {
            unread_char(lexer, c);
            return;
        }
        if (number_rules) {
            const bool point = (mode & DYX_LEX_FLOAT) && c == '.' && !seen_point;
            if (!std::isdigit(c) && !point) {
                unread_char(lexer, c);
                return;
            }
            seen_point = seen_point || point;
        } else if (loose && kind == WordKind::punct) {
            // ".5" is one word when floats are asked for; any other
            // punctuation word is its first character alone.
            const bool point_digit = (mode & DYX_LEX_FLOAT) && first == '.' && std::isdigit(c);
            if (!point_digit) {
                unread_char(lexer, c);
                return;
            }
            text.add(c);
            return;
        }
        text.add(c);
    }
}

int32_t to_int32(long value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// Converts by the word's first character, taking the longest numeric prefix.
void convert(const dyx_lex_t *lexer, uint32_t mode, dyx_lex_word_t *word) {
    const int first = static_cast<unsigned char>(word->text[0]);
    const bool digit = first != '\0' && std::isdigit(first);
    const bool strict = lexer->strict != 0;
    if ((mode & DYX_LEX_INT) && (digit || (strict && first == '-'))) {
        word->int_value = to_int32(std::strtol(word->text, nullptr, 10));
        word->flags |= DYX_LEX_INT;
    }
    if ((mode & DYX_LEX_FLOAT) && (digit || first == '.' || (strict && first == '-'))) {
        word->float_value = static_cast<float>(std::strtod(word->text, nullptr));
        word->flags |= DYX_LEX_FLOAT;
    }
    if ((mode & DYX_LEX_PUNCT) && first != '\0' && std::ispunct(first)) {
        word->flags |= DYX_LEX_PUNCT;
        word->punct = word->text[0];
    }
}

int pushed_word_result(const dyx_lex_word_t &word) {
    if (word.end_of_command) return DYX_LEX_END_OF_COMMAND;
    if (word.end_of_input) return DYX_LEX_END_OF_INPUT;
    return DYX_LEX_WORD;
}

dyx_lex_t *new_lexer(FILE *stream, char *text_copy, int32_t end_of_command, int32_t strict) {
    auto *lexer = static_cast<dyx_lex_t *>(std::calloc(1, sizeof(dyx_lex_t)));
    if (lexer == nullptr) return nullptr;
    lexer->stream = stream;
    lexer->text_copy = text_copy;
    lexer->cursor = text_copy;
    lexer->end_of_command = end_of_command;
    lexer->strict = strict;
    return lexer;
}

}  // namespace

extern "C" {

dyx_lex_t *dyx_lex_init_string(const char *text, int32_t end_of_command, int32_t strict) {
    char *copy = strdup(text != nullptr ? text : "");
    if (copy == nullptr) return nullptr;
    dyx_lex_t *lexer = new_lexer(nullptr, copy, end_of_command, strict);
    if (lexer == nullptr) std::free(copy);
    return lexer;
}

dyx_lex_t *dyx_lex_init_file(FILE *stream, int32_t end_of_command, int32_t strict) {
    if (stream == nullptr) return nullptr;
    return new_lexer(stream, nullptr, end_of_command, strict);
}

int dyx_lex_get_word(dyx_lex_t *lexer, uint32_t mode, dyx_lex_word_t *word) {
    if (lexer == nullptr || word == nullptr) return DYX_LEX_END_OF_INPUT;
    if (lexer->word_pushed) {
        std::memcpy(word, &lexer->pushed_word, sizeof *word);
        lexer->word_pushed = 0;
        return pushed_word_result(*word);
    }
    std::memset(word, 0, sizeof *word);

    int result = DYX_LEX_WORD;
    const int first = skip_to_word(lexer, word, &result);
    if (first == EOF) return result;

    bool quoted = false;
    if (mode & DYX_LEX_QUOTED) {
        quoted = first == '"';
        if (!quoted && !(mode & DYX_LEX_STRING)) {
            unread_char(lexer, first);
            return DYX_LEX_NOT_QUOTED;
        }
    }

    WordText text(word->text);
    if (quoted) {
        read_quoted(lexer, text);
    } else {
        read_unquoted(lexer, mode, first, text);
    }
    text.finish();
    word->flags = DYX_LEX_STRING | (quoted ? DYX_LEX_QUOTED : 0u);
    convert(lexer, mode, word);
    return DYX_LEX_WORD;
}

int dyx_lex_push_word(dyx_lex_t *lexer, const dyx_lex_word_t *word) {
    if (lexer == nullptr || word == nullptr || lexer->word_pushed) return -1;
    std::memcpy(&lexer->pushed_word, word, sizeof *word);
    lexer->word_pushed = 1;
    return 0;
}

void dyx_lex_flush_til_eoc(dyx_lex_t *lexer) {
    if (lexer == nullptr || lexer->end_of_command == 0) return;
    for (int c = read_char(lexer); c != EOF && !is_end_of_command(lexer, c); c = read_char(lexer)) {
    }
}

char *dyx_lex_remaining_string(dyx_lex_t *lexer) {
    if (lexer == nullptr || lexer->text_copy == nullptr) return nullptr;
    int c = read_char(lexer);
    while (c != EOF && std::isspace(c)) c = read_char(lexer);
    unread_char(lexer, c);
    return lexer->cursor;
}

void dyx_lex_close(dyx_lex_t *lexer) {
    if (lexer == nullptr) return;
    std::free(lexer->text_copy);
    std::free(lexer);
}

int dyx_parse_3ints(dyx_lex_t *lexer, int32_t *a, int32_t *b, int32_t *c) {
    dyx_lex_word_t word;
    for (int32_t *target : {a, b, c}) {
        if (target == nullptr) continue;
        word.flags = 0;
        dyx_lex_get_word(lexer, DYX_LEX_INT, &word);
        if (!(word.flags & DYX_LEX_INT)) return DYX_SYSTEM_FAILED;
        *target = word.int_value;
    }
    return DYX_OK;
}

int dyx_parse_3floats(dyx_lex_t *lexer, float *a, float *b, float *c) {
    dyx_lex_word_t word;
    for (float *target : {a, b, c}) {
        if (target == nullptr) continue;
        word.flags = 0;
        dyx_lex_get_word(lexer, DYX_LEX_FLOAT, &word);
        if (!(word.flags & DYX_LEX_FLOAT)) return DYX_SYSTEM_FAILED;
        *target = word.float_value;
    }
    return DYX_OK;
}

}  // extern "C"
