/* Small text helpers: replacement, bounded copies, case, trimming, byte
 * character classes, one-character UTF-8 and a bounded formatted print.
 * Texts are NUL-terminated UTF-8 byte strings. */
#ifndef DYX_STRING_H
#define DYX_STRING_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* Bit of dyx_strrepl's flags: replace only the first occurrence. */
#define DYX_STRREPL_FIRST_ONLY 1

/* Replaces occurrences of `search` in `text` in place by `replacement`
 * (null means empty); the caller provides room for growth. A replacement is
 * never searched again. Returns the number of replacements. */
DYX_API int dyx_strrepl(char *text, const char *search, const char *replacement, int32_t flags);
/* Copies at most size-1 bytes and always terminates within size bytes;
 * size <= 0 writes nothing. Returns dest. */
DYX_API char *dyx_strncpy(char *dest, const char *src, int32_t size);
/* Appends so that dest stays within size bytes, terminated. Returns dest. */
DYX_API char *dyx_strncat(char *dest, const char *src, int32_t size);
DYX_API char *dyx_strchr(const char *text, int c);
DYX_API char *dyx_strrchr(const char *text, int c);
/* Case mapping of values 0..127; others come back unchanged. */
DYX_API int dyx_tolower(int32_t c);
DYX_API int dyx_toupper(int32_t c);
/* First occurrence of `search` ignoring ASCII case; null when either text
 * is empty or there is none. */
DYX_API char *dyx_strcasestr(const char *text, const char *search);
/* Mode 0: a-z to upper case; 1: A-Z to lower case; 2: clear bit 7. */
DYX_API void dyx_changecase(char *text, int mode);
/* Cuts `text` at its first byte found in `chars`; returns the new length. */
DYX_API int dyx_strip_at_the_chars(char *text, const char *chars);
/* Copies src to dest without leading and trailing runs of c (or of white
 * space); returns the copied length. */
DYX_API int dyx_strip_pre_post_chars(const char *src, char *dest, int c);
DYX_API int dyx_strip_pre_post_spaces(const char *src, char *dest);

/* The native character set is UTF-8: conversions are copies (strdup). */
DYX_API char *dyx_string_native_to_utf8(const char *text);
DYX_API char *dyx_string_utf8_to_native(const char *text);
DYX_API int dyx_string_native_to_utf8_inplace(char *text);
DYX_API int dyx_string_utf8_to_native_inplace(char *text);
/* Decodes one UTF-8 character; returns the bytes consumed (1 to 4). A bad
 * lead byte or missing continuation decodes as the lead byte alone. */
DYX_API int dyx_char_utf8_to_unicode(const char *bytes, uint32_t *code);
/* Encodes one code point below 0x200000 into out (room for 5 bytes) and
 * terminates it; returns the byte count, 0 for larger values. */
DYX_API int dyx_char_unicode_to_utf8(uint32_t code, char *out);
/* 65001: UTF-8. */
DYX_API int dyx_get_current_code_page(void);

/* Formats into buffer; 0 when the whole text fitted, 1 when it was cut
 * (the buffer is then terminated at its last byte) or buffer is null. */
DYX_API int dyx_snprintf(char *buffer, int64_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

/* Character classes on the low byte of the value, as an unsigned char. */
DYX_API int dyx_isascii(int32_t c);
DYX_API int dyx_isblank(int32_t c);
DYX_API int dyx_iscntrl(int32_t c);
DYX_API int dyx_isgraph(int32_t c);
DYX_API int dyx_isprint(int32_t c);
DYX_API int dyx_ispunct(int32_t c);
DYX_API int dyx_isspace(int32_t c);
DYX_API int dyx_isxdigit(int32_t c);
DYX_API int dyx_isupper(int32_t c);
DYX_API int dyx_islower(int32_t c);
DYX_API int dyx_isdigit(int32_t c);
DYX_API int dyx_isalpha(int32_t c);
DYX_API int dyx_isalnum(int32_t c);

DYX_END_DECLS

#endif
