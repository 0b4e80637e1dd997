// The lexer in strict and loose mode, over a string and over a stream. The
// first two bytes choose the end-of-command character and the mode; each
// later word is read with a mode taken from the input too.
#include <cstdio>
#include <cstring>

#include "dyx_lex.h"
#include "fuzz_support.h"

namespace {

void read_all_words(dyx_lex_t *lexer, const uint8_t *modes, size_t mode_count, size_t limit) {
    dyx_lex_word_t word;
    for (size_t i = 0; i < limit; ++i) {
        const uint8_t choice = mode_count ? modes[i % mode_count] : 0;
        const uint32_t mode = choice & 31u;
        switch (choice >> 5) {
            case 0:
                dyx_lex_flush_til_eoc(lexer);
                break;
            case 1:
                if (dyx_lex_get_word(lexer, mode, &word) == DYX_LEX_WORD) dyx_lex_push_word(lexer, &word);
                break;
            case 2: {
                int32_t a, b, c;
                dyx_parse_3ints(lexer, &a, &b, &c);
                break;
            }
            case 3: {
                float a, b, c;
                dyx_parse_3floats(lexer, &a, &b, &c);
                break;
            }
            case 4:
                dyx_lex_remaining_string(lexer);
                break;
            default:
                break;
        }
        const int result = dyx_lex_get_word(lexer, mode | DYX_LEX_STRING, &word);
        if (result == DYX_LEX_WORD && std::strlen(word.text) > DYX_LEX_WORD_MAX) abort();
        if (result == DYX_LEX_END_OF_INPUT) return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    const int32_t end_of_command = data[0] & 0x7f;
    const int32_t strict = data[1] & 1;
    const size_t mode_count = data[2] % 8;
    if (size < 3 + mode_count) return 0;
    const uint8_t *modes = data + 3;
    const uint8_t *text = modes + mode_count;
    const size_t text_size = size - 3 - mode_count;
    // Every call consumes input or ends it, so the text's length bounds the
    // words (plus a few calls at the end).
    const size_t limit = text_size + 8;

    const std::string copy = fuzz::as_text(text, text_size);
    dyx_lex_t *lexer = dyx_lex_init_string(copy.c_str(), end_of_command, strict);
    if (lexer) read_all_words(lexer, modes, mode_count, limit);
    dyx_lex_close(lexer);

    if (text_size == 0) return 0;
    FILE *stream = fmemopen(const_cast<uint8_t *>(text), text_size, "rb");
    if (stream == nullptr) return 0;
    lexer = dyx_lex_init_file(stream, end_of_command, strict);
    if (lexer) read_all_words(lexer, modes, mode_count, limit);
    dyx_lex_close(lexer);
    std::fclose(stream);
    return 0;
}
