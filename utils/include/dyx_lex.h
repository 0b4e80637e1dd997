/* A small word lexer over an open C stream or a text string.
 *
 * It knows white space, '#' comments to the end of the line, double-quoted
 * words, an optional end-of-command character and one word of push-back.
 * In strict mode a word runs to white space, the end-of-command character
 * or '#'. In loose mode a number word also stops at the first character
 * that cannot continue it, and a punctuation word is that one character
 * (so "-5" arrives as "-" then "5"). A lexer is used by one thread at a
 * time; character classes follow the process's locale. */
#ifndef DYX_LEX_H
#define DYX_LEX_H

#include <stdint.h>
#include <stdio.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* Mode bits of dyx_lex_get_word; the word flags share the values. */
#define DYX_LEX_INT 1    /* mode: convert an integer     flag: int_value valid */
#define DYX_LEX_FLOAT 2  /* mode: convert a number       flag: float_value valid */
#define DYX_LEX_STRING 4 /* mode: with 8, unquoted too   flag: always set on a word */
#define DYX_LEX_QUOTED 8 /* mode: '"' opens a word       flag: the word was quoted */
#define DYX_LEX_PUNCT 16 /* mode: report punctuation     flag: punct holds the 1st char */

/* Room of a word's text; at most DYX_LEX_WORD_MAX characters are kept. */
#define DYX_LEX_WORD_SIZE 1024
#define DYX_LEX_WORD_MAX 1022

/* Results of dyx_lex_get_word. */
#define DYX_LEX_WORD 0
#define DYX_LEX_END_OF_INPUT 1
#define DYX_LEX_END_OF_COMMAND 2
#define DYX_LEX_NOT_QUOTED (-1)

/* One word as returned by dyx_lex_get_word. */
typedef struct dyx_lex_word {
    uint32_t flags;               /* DYX_LEX_* flags of what the word holds */
    int32_t int_value;            /* valid with DYX_LEX_INT */
    float float_value;            /* valid with DYX_LEX_FLOAT */
    char text[DYX_LEX_WORD_SIZE]; /* the word, NUL-terminated */
    char punct;                   /* first character, with DYX_LEX_PUNCT */
    int32_t end_of_command;       /* the call met the end-of-command character */
    int32_t end_of_input;         /* the call met the end of the input */
} dyx_lex_word_t;

/* A lexer. Fields are for the lexer's own use. */
typedef struct dyx_lex {
    FILE *stream;               /* input when reading a stream; not owned */
    char *cursor;               /* next character when reading a string */
    char *text_copy;            /* owned copy of the input string; null for a stream */
    int32_t end_of_command;     /* character that ends a command; 0 for none */
    dyx_lex_word_t pushed_word; /* a word given back with dyx_lex_push_word */
    int32_t word_pushed;        /* non-zero while pushed_word waits */
    int32_t strict;             /* strict word rules */
} dyx_lex_t;

/* A new lexer over a private copy of `text` (null reads as empty), or null
 * when memory is exhausted. `end_of_command` is 0 for none; `strict`
 * selects the strict word rules. Release with dyx_lex_close. */
DYX_API dyx_lex_t *dyx_lex_init_string(const char *text, int32_t end_of_command, int32_t strict);
/* A new lexer reading `stream`, which stays the caller's to close; null
 * when memory is exhausted. */
DYX_API dyx_lex_t *dyx_lex_init_file(FILE *stream, int32_t end_of_command, int32_t strict);

/* Reads the next word into `word` with the DYX_LEX_* bits of `mode`.
 * Returns 0 for a word; 1 at the end of input (and again on every later
 * call); 2 when the end-of-command character was read; -1 when mode has
 * DYX_LEX_QUOTED without DYX_LEX_STRING and no '"' begins here (the
 * character is left unread). A pushed word is returned first, as it was. */
DYX_API int dyx_lex_get_word(dyx_lex_t *lexer, uint32_t mode, dyx_lex_word_t *word);
/* Gives `word` back: the next dyx_lex_get_word returns it. 0, or -1 when
 * a word is already pushed. */
DYX_API int dyx_lex_push_word(dyx_lex_t *lexer, const dyx_lex_word_t *word);
/* Drops characters up to and including the next end-of-command character
 * or to the end of input; nothing when the lexer has none. */
DYX_API void dyx_lex_flush_til_eoc(dyx_lex_t *lexer);
/* For a string lexer, the rest of the text after white space (empty when
 * nothing else remains): a pointer into the lexer's copy, valid until the
 * next read or dyx_lex_close. Null for a stream lexer. A pushed word is
 * not taken into account. */
DYX_API char *dyx_lex_remaining_string(dyx_lex_t *lexer);
/* Frees the lexer and its text copy (null is accepted); a stream stays
 * open. */
DYX_API void dyx_lex_close(dyx_lex_t *lexer);

/* Read one integer word for each non-null pointer, in order. DYX_OK, or DYX_SYSTEM_FAILED
 * (a parse failed) when a word is not an integer (that word is consumed). */
DYX_API int dyx_parse_3ints(dyx_lex_t *lexer, int32_t *a, int32_t *b, int32_t *c);
/* The same with numbers read as floats. */
DYX_API int dyx_parse_3floats(dyx_lex_t *lexer, float *a, float *b, float *c);

DYX_END_DECLS

#endif
