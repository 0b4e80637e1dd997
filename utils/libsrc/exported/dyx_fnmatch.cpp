// Shell-style wildcard matching in two dialects: dyx_fnmatch and the
// directory listing's qev_fnmatch.
#include "dyx_fnmatch.h"

#include <cctype>
#include <cstring>

namespace {

enum MatchResult {
    kMatch = DYX_FNM_MATCH,
    kNoMatch = DYX_FNM_NOMATCH,
    // The rest of the pattern after a star fits no position up to the end
    // of the name (or, under DYX_FNM_PATHNAME, of the name's component);
    // stars further out cannot help, since moving them on only moves the
    // inner star further right. Stops exponential backtracking.
    kAbort = 2,
};

// Deeper nesting of stars than this is refused rather than risk the stack.
constexpr int kMaxStarDepth = 4096;

// Name copies of qev_fnmatch are limited to this size with the NUL.
constexpr size_t kQevNameSize = 1024;

unsigned char ascii_upper(unsigned char c) {
    return c < 128 ? static_cast<unsigned char>(std::toupper(c)) : c;
}

class Matcher {
public:
    Matcher(const char *name_start, bool qev_dialect) : name_start_(name_start), qev_(qev_dialect) {}

    int match(const char *pattern, const char *name, int flags, int depth) const {
        for (;;) {
            const unsigned char c = static_cast<unsigned char>(*pattern++);
            const unsigned char n = static_cast<unsigned char>(*name);
            switch (c) {
                case '\0':
                    if (n == '\0') return kMatch;
                    return (flags & DYX_FNM_LEADING_DIR) && n == '/' ? kMatch : kNoMatch;
                case '?':
                    if (n == '\0' || is_guarded_slash(n, flags) || leading_period(name, flags))
                        return kNoMatch;
                    ++name;
                    break;
                case '*':
                    return star(pattern, name, flags, depth + 1);
                case '[': {
                    if (n == '\0' || is_guarded_slash(n, flags)) return kNoMatch;
                    pattern = bracket(pattern, n, flags);
                    if (pattern == nullptr) return kNoMatch;
                    ++name;
                    break;
                }
                default: {
                    unsigned char literal = c;
                    // A backslash at the very end of the pattern stands for itself.
                    if (c == '\\' && !(flags & DYX_FNM_NOESCAPE) && *pattern != '\0') {
                        literal = static_cast<unsigned char>(*pattern++);
                    }
                    if (n == '\0') return name_ended(literal, flags);
                    if (!same_char(literal, n, flags)) return kNoMatch;
                    ++name;
                    break;
                }
            }
        }
    }

private:
    bool is_guarded_slash(unsigned char n, int flags) const { return n == '/' && (flags & DYX_FNM_PATHNAME); }

    bool leading_period(const char *name, int flags) const {
        if (!(flags & DYX_FNM_PERIOD) || *name != '.') return false;
        return name == name_start_ || ((flags & DYX_FNM_PATHNAME) && name[-1] == '/');
    }

    bool same_char(unsigned char literal, unsigned char n, int flags) const {
        if (literal == n) return true;
        if (!(flags & DYX_FNM_CASEFOLD)) return false;
        if (qev_) return ascii_upper(literal) == ascii_upper(n);
        return std::tolower(literal) == std::tolower(n);
    }

    // A literal met the end of the name. With the directory-prefix flag a
    // name that ends where the pattern goes on with a directory matches.
    int name_ended(unsigned char literal, int flags) const {
        if (qev_ || !(flags & DYX_FNM_DIR_PREFIX)) return kNoMatch;
        if (literal == '/') return name_start_[0] != '\0' ? kMatch : kNoMatch;
        return std::strcmp(name_start_, "/") == 0 ? kMatch : kNoMatch;
    }

    // Matches one bracket set (pattern just past '['); returns the pattern
    // after the closing ']' when the character is matched, else null.
    const char *bracket(const char *pattern, unsigned char test, int flags) const {
        const bool escapes = !(flags & DYX_FNM_NOESCAPE);
        const bool fold = (flags & DYX_FNM_CASEFOLD) != 0;
        const bool negate = *pattern == '!' || *pattern == '^';
        if (negate) ++pattern;
        if (fold) test = ascii_upper(test);
        bool found = false;
        if (*pattern == ']') return !negate ? nullptr : pattern + 1;  // an empty set
        for (;;) {
            unsigned char low = static_cast<unsigned char>(*pattern++);
            if (low == ']') break;
            if (low == '\\' && escapes) low = static_cast<unsigned char>(*pattern++);
            if (low == '\0') return nullptr;
            if (fold) low = ascii_upper(low);
            if (pattern[0] == '-' && pattern[1] != '\0' && pattern[1] != ']') {
                unsigned char high = static_cast<unsigned char>(pattern[1]);
                pattern += 2;
                if (high == '\\' && escapes) high = static_cast<unsigned char>(*pattern++);
                if (high == '\0') return nullptr;
                if (fold) high = ascii_upper(high);
                found = found || (low <= test && test <= high);
            } else {
                found = found || low == test;
            }
        }
        return found != negate ? pattern : nullptr;
    }

    // Whether the rest of the pattern could begin at the name character:
    // qev_fnmatch skips positions whose character differs from the next
    // literal.
    bool could_start_at(const char *pattern, unsigned char n, int flags) const {
        unsigned char next = static_cast<unsigned char>(pattern[0]);
        if (next == '[') return true;
        if (next == '\\' && !(flags & DYX_FNM_NOESCAPE) && pattern[1] != '\0') {
            next = static_cast<unsigned char>(pattern[1]);
        }
        if (flags & DYX_FNM_CASEFOLD) next = ascii_upper(next);
        return next == n;
    }

    // Pattern just past a '*'.
    int star(const char *pattern, const char *name, int flags, int depth) const {
        if (depth > kMaxStarDepth || leading_period(name, flags)) return kNoMatch;
        if (qev_) {
            for (; *pattern == '*' || *pattern == '?'; ++pattern) {
                if (*pattern != '?') continue;
                if (*name == '\0' || is_guarded_slash(static_cast<unsigned char>(*name), flags))
                    return kNoMatch;
                ++name;
            }
            if (*pattern == '\0') return kMatch;
        } else {
            while (*pattern == '*') ++pattern;
            if (*pattern == '\0') {
                const bool slash_guarded = (flags & DYX_FNM_PATHNAME) && !(flags & DYX_FNM_LEADING_DIR);
                return slash_guarded && std::strchr(name, '/') != nullptr ? kNoMatch : kMatch;
            }
        }
        if (*pattern == '/' && (flags & DYX_FNM_PATHNAME)) {
            // Only the next '/' can match, whichever star comes before.
            name = std::strchr(name, '/');
            const int result = name == nullptr ? kNoMatch : match(pattern, name, flags, depth);
            return result == kNoMatch ? kAbort : result;
        }
        const int rest_flags = flags & ~DYX_FNM_PERIOD;
        for (; *name != '\0'; ++name) {
            const unsigned char n = static_cast<unsigned char>(*name);
            if (!qev_ || could_start_at(pattern, n, flags)) {
                const int result = match(pattern, name, rest_flags, depth);
                if (result != kNoMatch) return result;
            }
            // A star cannot cross a guarded '/', and neither can the stars
            // before it: this '/' ends their search as the end of the name
            // does, and giving up here keeps the matching polynomial.
            if (is_guarded_slash(n, flags)) return kAbort;
        }
        return kAbort;
    }

    const char *name_start_;
    bool qev_;
};

int public_result(int result) { return result == kMatch ? DYX_FNM_MATCH : DYX_FNM_NOMATCH; }

}  // namespace

extern "C" {

int dyx_fnmatch(const char *pattern, const char *name, int flags) {
    if (pattern == nullptr || name == nullptr) return DYX_FNM_NOMATCH;
    return public_result(Matcher(name, false).match(pattern, name, flags, 0));
}

int dyx_fnmatch_pathnames(const char *pattern, const char *name, int flags) {
    return dyx_fnmatch(pattern, name, flags);
}

int qev_fnmatch(const char *pattern, const char *name, int flags) {
    if (pattern == nullptr || name == nullptr) return DYX_FNM_NOMATCH;
    const size_t length = strnlen(name, kQevNameSize);
    if (length >= kQevNameSize) return DYX_FNM_NOMATCH;
    char copy[kQevNameSize];
    std::memcpy(copy, name, length + 1);
    if (flags & DYX_FNM_CASEFOLD) {
        for (size_t i = 0; i < length; ++i)
            copy[i] = static_cast<char>(ascii_upper(static_cast<unsigned char>(copy[i])));
    }
    return public_result(Matcher(copy, true).match(pattern, copy, flags, 0));
}

}  // extern "C"
