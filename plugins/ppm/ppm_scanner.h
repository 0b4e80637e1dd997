// Reading the text parts of Netpbm files: numbers, words and comments.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>

namespace ppm {

// Character source that counts the bytes taken from the stream.
class Scanner {
public:
    explicit Scanner(std::FILE *file) : file_(file) {}

    int get() {
        int c = std::getc(file_);
        if (c != EOF) ++offset_;
        return c;
    }
    void unget(int c) {
        if (c == EOF) return;
        std::ungetc(c, file_);
        --offset_;
    }
    int64_t offset() const { return offset_; }

    // Reads past the rest of a '#' comment; returns the character that
    // ends it (a line end, or EOF).
    int rest_of_comment() {
        int c = get();
        while (c != '\n' && c != '\r' && c != EOF) c = get();
        return c;
    }

    // Skips white space and '#' comments (to the end of their line); a
    // comment may stand wherever white space may.
    int skip_space() {
        int c = get();
        for (;;) {
            if (c == '#') {
                c = rest_of_comment();
            } else if (c != EOF && std::isspace(c)) {
                c = get();
            } else {
                return c;
            }
        }
    }

    // A decimal number below 2^31 after white space and comments.
    bool number(int64_t &value) {
        int c = skip_space();
        if (c == EOF || !std::isdigit(c)) {
            unget(c);
            return false;
        }
        value = 0;
        while (c != EOF && std::isdigit(c)) {
            value = value * 10 + (c - '0');
            if (value > INT32_MAX) return false;
            c = get();
        }
        unget(c);
        return true;
    }

    // A word of at most `size` - 1 characters; longer is refused.
    bool word(char *out, size_t size) {
        int c = skip_space();
        size_t length = 0;
        while (c != EOF && !std::isspace(c)) {
            if (length + 1 >= size) return false;
            out[length++] = static_cast<char>(c);
            c = get();
        }
        unget(c);
        out[length] = '\0';
        return length > 0;
    }

    // Drops the rest of the current line; false at end of file.
    bool end_line() {
        int c = get();
        while (c != '\n' && c != EOF) c = get();
        return c == '\n';
    }

private:
    std::FILE *file_;
    int64_t offset_ = 0;
};

}  // namespace ppm
