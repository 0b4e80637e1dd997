// Text helpers, byte character classes and one-character UTF-8.
#include "dyx_string.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

unsigned char low_byte(int32_t c) { return static_cast<unsigned char>(c & 0xff); }

template <typename IsStripped>
int strip_both_ends(const char *src, char *dest, IsStripped is_stripped) {
    if (dest == nullptr) return 0;
    dest[0] = '\0';
    if (src == nullptr) return 0;
    const char *begin = src;
    while (*begin && is_stripped(static_cast<unsigned char>(*begin))) ++begin;
    const char *end = begin + std::strlen(begin);
    while (end > begin && is_stripped(static_cast<unsigned char>(end[-1]))) --end;
    const size_t length = static_cast<size_t>(end - begin);
    std::memmove(dest, begin, length);
    dest[length] = '\0';
    return static_cast<int>(length);
}

}  // namespace

extern "C" {

int dyx_strrepl(char *text, const char *search, const char *replacement, int32_t flags) {
    if (text == nullptr || search == nullptr || *search == '\0') return 0;
    if (replacement == nullptr) replacement = "";
    const size_t search_len = std::strlen(search);
    const size_t replacement_len = std::strlen(replacement);
    int count = 0;
    char *found = std::strstr(text, search);
    while (found != nullptr) {
        char *rest = found + search_len;
        std::memmove(found + replacement_len, rest, std::strlen(rest) + 1);
        std::memcpy(found, replacement, replacement_len);
        ++count;
        if (flags & DYX_STRREPL_FIRST_ONLY) break;
        found = std::strstr(found + replacement_len, search);
    }
    return count;
}

char *dyx_strncpy(char *dest, const char *src, int32_t size) {
    if (dest == nullptr || size <= 0) return dest;
    size_t i = 0;
    if (src != nullptr) {
        for (; i + 1 < static_cast<size_t>(size) && src[i]; ++i) dest[i] = src[i];
    }
    dest[i] = '\0';
    dest[size - 1] = '\0';
    return dest;
}

char *dyx_strncat(char *dest, const char *src, int32_t size) {
    if (dest == nullptr || size <= 0) return dest;
    const size_t used = strnlen(dest, static_cast<size_t>(size));
    if (used >= static_cast<size_t>(size)) {
        dest[size - 1] = '\0';
        return dest;
    }
    dyx_strncpy(dest + used, src, size - static_cast<int32_t>(used));
    return dest;
}

char *dyx_strchr(const char *text, int c) { return const_cast<char *>(std::strchr(text, c)); }
char *dyx_strrchr(const char *text, int c) { return const_cast<char *>(std::strrchr(text, c)); }

int dyx_tolower(int32_t c) { return (c < 0 || c > 127) ? c : std::tolower(c); }
int dyx_toupper(int32_t c) { return (c < 0 || c > 127) ? c : std::toupper(c); }

char *dyx_strcasestr(const char *text, const char *search) {
    if (text == nullptr || search == nullptr || *text == '\0' || *search == '\0') return nullptr;
    for (const char *start = text; *start; ++start) {
        const char *t = start;
        const char *s = search;
        while (*t && *s &&
               dyx_toupper(static_cast<unsigned char>(*t)) == dyx_toupper(static_cast<unsigned char>(*s))) {
            ++t;
            ++s;
        }
        if (*s == '\0') return const_cast<char *>(start);
    }
    return nullptr;
}

void dyx_changecase(char *text, int mode) {
    if (text == nullptr) return;
    for (char *p = text; *p; ++p) {
        switch (mode) {
            case 0:
                if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
                break;
            case 1:
                if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
                break;
            case 2:
                *p = static_cast<char>(*p & 0x7f);
                break;
            default:
                return;
        }
    }
}

int dyx_strip_at_the_chars(char *text, const char *chars) {
    if (text == nullptr) return 0;
    const size_t length = std::strlen(text);
    const size_t keep = (chars == nullptr) ? length : std::strcspn(text, chars);
    std::memset(text + keep, 0, length - keep);
    return static_cast<int>(keep);
}

int dyx_strip_pre_post_chars(const char *src, char *dest, int c) {
    const unsigned char stripped = static_cast<unsigned char>(c);
    return strip_both_ends(src, dest, [stripped](unsigned char ch) { return ch == stripped; });
}

int dyx_strip_pre_post_spaces(const char *src, char *dest) {
    return strip_both_ends(src, dest, [](unsigned char ch) { return std::isspace(ch) != 0; });
}

char *dyx_string_native_to_utf8(const char *text) { return text ? strdup(text) : nullptr; }
char *dyx_string_utf8_to_native(const char *text) { return text ? strdup(text) : nullptr; }
int dyx_string_native_to_utf8_inplace(char *) { return 0; }
int dyx_string_utf8_to_native_inplace(char *) { return 0; }

int dyx_char_utf8_to_unicode(const char *bytes, uint32_t *code) {
    const auto *b = reinterpret_cast<const unsigned char *>(bytes);
    const unsigned lead = b[0];
    int continuation;
    uint32_t value;
    if (lead < 0x80) {
        *code = lead;
        return 1;
    } else if ((lead & 0xe0) == 0xc0) {
        continuation = 1;
        value = lead & 0x1f;
    } else if ((lead & 0xf0) == 0xe0) {
        continuation = 2;
        value = lead & 0x0f;
    } else if ((lead & 0xf8) == 0xf0) {
        continuation = 3;
        value = lead & 0x07;
    } else {
        *code = lead;
        return 1;
    }
    // Stops at the first byte that is not a continuation, so a terminating
    // NUL is never read past.
    for (int i = 1; i <= continuation; ++i) {
        if ((b[i] & 0xc0) != 0x80) {
            *code = lead;
            return 1;
        }
        value = (value << 6) | (b[i] & 0x3f);
    }
    *code = value;
    return continuation + 1;
}

int dyx_char_unicode_to_utf8(uint32_t code, char *out) {
    auto *o = reinterpret_cast<unsigned char *>(out);
    int n = 0;
    if (code < 0x80) {
        o[n++] = static_cast<unsigned char>(code);
    } else if (code < 0x800) {
        o[n++] = static_cast<unsigned char>(0xc0 | (code >> 6));
        o[n++] = static_cast<unsigned char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        o[n++] = static_cast<unsigned char>(0xe0 | (code >> 12));
        o[n++] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3f));
        o[n++] = static_cast<unsigned char>(0x80 | (code & 0x3f));
    } else if (code < 0x200000) {
        o[n++] = static_cast<unsigned char>(0xf0 | (code >> 18));
        o[n++] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3f));
        o[n++] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3f));
        o[n++] = static_cast<unsigned char>(0x80 | (code & 0x3f));
    }
    o[n] = 0;
    return n;
}

int dyx_get_current_code_page(void) { return 65001; }

int dyx_snprintf(char *buffer, int64_t size, const char *format, ...) {
    if (buffer == nullptr || size <= 0) return 1;
    va_list args;
    va_start(args, format);
    const int needed = std::vsnprintf(buffer, static_cast<size_t>(size), format, args);
    va_end(args);
    if (needed < 0 || needed >= size) {
        buffer[size - 1] = '\0';
        return 1;
    }
    return 0;
}

int dyx_isascii(int32_t c) { return (c & 0x80) == 0; }
int dyx_isblank(int32_t c) { return low_byte(c) == ' ' || low_byte(c) == '\t'; }
int dyx_iscntrl(int32_t c) { return std::iscntrl(low_byte(c)); }
int dyx_isgraph(int32_t c) { return std::isgraph(low_byte(c)); }
int dyx_isprint(int32_t c) { return std::isprint(low_byte(c)); }
int dyx_ispunct(int32_t c) { return std::ispunct(low_byte(c)); }
int dyx_isspace(int32_t c) { return std::isspace(low_byte(c)); }
int dyx_isxdigit(int32_t c) { return std::isxdigit(low_byte(c)); }
int dyx_isupper(int32_t c) { return std::isupper(low_byte(c)); }
int dyx_islower(int32_t c) { return std::islower(low_byte(c)); }
int dyx_isdigit(int32_t c) { return std::isdigit(low_byte(c)); }
int dyx_isalpha(int32_t c) { return (dyx_isupper(c) || dyx_islower(c)) ? 1 : 0; }
int dyx_isalnum(int32_t c) { return (dyx_isalpha(c) || dyx_isdigit(c)) ? 1 : 0; }

}  // extern "C"
