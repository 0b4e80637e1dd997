// Codec options: parsing a user's option text against a plug-in's list.
#include <strings.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "dyx_lex.h"
#include "dyx_malloc.h"
#include "dyx_status.h"
#include "dyx_udil.h"
#include "udil_internal.h"

namespace {

// Where this thread's option warnings go while a caller routes them.
thread_local udil::OptionWarningSink warning_sink = nullptr;
thread_local void *warning_context = nullptr;

// A warning about the option text: to the thread's sink when one is set,
// as one line without its newline, else to the logger.
void warn_option(const char *format, ...) __attribute__((format(printf, 1, 2)));
void warn_option(const char *format, ...) {
    std::string text;
    va_list args;
    va_start(args, format);
    try {
        va_list measure;
        va_copy(measure, args);
        const int length = std::vsnprintf(nullptr, 0, format, measure);
        va_end(measure);
        if (length >= 0) {
            text.assign(size_t(length) + 1, '\0');
            std::vsnprintf(&text[0], text.size(), format, args);
            text.resize(size_t(length));
        }
    } catch (...) {
        text.clear();  // out of memory: this warning is lost, the parse goes on
    }
    va_end(args);
    if (text.empty()) return;
    if (warning_sink == nullptr) {
        dyx_warn("%s", text.c_str());
        return;
    }
    while (!text.empty() && text.back() == '\n') text.pop_back();
    warning_sink(warning_context, text.c_str());
}

UdilOption *find_option(UdilOption *options, int32_t count, const char *name) {
    if (options == nullptr) return nullptr;
    for (int32_t i = 0; i < count; ++i)
        if (strcasecmp(options[i].name, name) == 0) return &options[i];
    return nullptr;
}

uint32_t lexer_mode(int32_t type) {
    switch (type) {
        case DYX_UDIL_BOOLEAN:
        case DYX_UDIL_INT:
            return DYX_LEX_INT;
        case DYX_UDIL_FLOAT:
            return DYX_LEX_FLOAT;
        default:
            return DYX_LEX_STRING;
    }
}

// The index of the item of a "a|b|c" range in which `word` first occurs:
// the number of items that begin before the occurrence. -1 when absent.
int choice_index(const char *range, const char *word) {
    const char *found = std::strstr(range, word);
    if (found == nullptr) return -1;
    const size_t position = size_t(found - range);
    int items = position > 0 ? 1 : 0;
    for (size_t i = 0; i + 1 < position; ++i)
        if (range[i] == '|') ++items;
    return items;
}

// The index of the item equal to `word`, or -1. A whole item wins over the
// substring search, which could find it inside an earlier item first.
int exact_choice_index(const char *range, const std::string &word) {
    int index = 0;
    for (const char *begin = range;; ++index) {
        const char *end = std::strchr(begin, '|');
        const size_t length = end ? size_t(end - begin) : std::strlen(begin);
        if (word.size() == length && word.compare(0, length, begin, length) == 0) return index;
        if (end == nullptr) return -1;
        begin = end + 1;
    }
}

// Item `index` of a "a|b|c" range; empty when there is no such item.
std::string choice_item(const char *range, int index) {
    const char *begin = range;
    for (int i = 0; i < index; ++i) {
        begin = std::strchr(begin, '|');
        if (begin == nullptr) return std::string();
        ++begin;
    }
    const char *end = std::strchr(begin, '|');
    return end ? std::string(begin, end) : std::string(begin);
}

// The value as the user wrote it: the characters up to white space or a
// comment. The loose lexer may take only the start of it ("-5" is read as
// "-", ".75" as ".7"); `cut` says so, and the rest has been dropped.
struct WrittenValue {
    std::string text;
    bool cut = false;
};

bool negative_number(const std::string &text) {
    return text.size() > 1 && text[0] == '-' &&
           (std::isdigit(static_cast<unsigned char>(text[1])) || text[1] == '.');
}

// Why a number was not taken as written, or empty when it was.
std::string number_problem(const dyx_lex_word_t &word, uint32_t flag, const WrittenValue &written) {
    if (negative_number(written.text)) return "is negative (a minus sign is not read)";
    if ((word.flags & flag) == 0) return "is not a number";
    if (written.cut) return "is not a number as a whole";
    return std::string();
}

void join_problem(std::string &problems, const std::string &more) {
    if (more.empty()) return;
    if (!problems.empty()) problems += " and ";
    problems += more;
}

// One warning for a value that is not used as written, naming what is used.
void warn_value(const UdilOption &option, const WrittenValue &written, const std::string &problems,
                const char *used) {
    if (problems.empty()) return;
    warn_option("warning: value %s for option %s %s, %s used\n", written.text.c_str(), option.name,
                problems.c_str(), used);
}

// What differs between integer and real options: how bounds are read from
// the range, how a number is written in a message and as the stored value.
int read_bounds(const char *range, int &minimum, int &maximum) {
    return std::sscanf(range, "%d %d", &minimum, &maximum);
}
int read_bounds(const char *range, float &minimum, float &maximum) {
    return std::sscanf(range, "%f %f", &minimum, &maximum);
}
std::string bound_text(int number) { return std::to_string(number); }
std::string bound_text(float number) {
    char text[48];
    std::snprintf(text, sizeof text, "%g", double(number));
    return text;
}
void write_number(UdilOption &option, int number) {
    std::snprintf(option.value, sizeof option.value, "%d", number);
}
void write_number(UdilOption &option, float number) {
    std::snprintf(option.value, sizeof option.value, "%f", double(number));
}

// Stores `read` raised or lowered into the option's range; `flag` is the
// lexer's mark for a word that was read as such a number.
template <typename Number>
void store_number(UdilOption &option, const dyx_lex_word_t &word, const WrittenValue &written, uint32_t flag,
                  Number read) {
    Number minimum = 0, maximum = 0;
    const int bounds = read_bounds(option.range, minimum, maximum);
    std::string problems = number_problem(word, flag, written);
    Number number = read;
    if (bounds >= 1 && number < minimum) number = minimum;
    if (bounds >= 2 && number > maximum) number = maximum;
    // A word the lexer could not read counts as 0: being raised to the
    // minimum is then part of "not a number", not a range problem.
    if (number != read && (word.flags & flag) != 0)
        join_problem(problems, bounds >= 2 ? "is outside the range " + bound_text(minimum) + " to " +
                                                 bound_text(maximum)
                                           : "is below the minimum " + bound_text(minimum));
    write_number(option, number);
    warn_value(option, written, problems, option.value);
}

void store_boolean(UdilOption &option, const dyx_lex_word_t &word, const WrittenValue &written) {
    std::snprintf(option.value, sizeof option.value, "%d", word.int_value != 0 ? 1 : 0);
    warn_value(option, written, number_problem(word, DYX_LEX_INT, written), option.value);
}

void store_text(UdilOption &option, const dyx_lex_word_t &word, const WrittenValue &written) {
    udil::copy_text(option.value, sizeof option.value, word.text);
    std::string problems;
    if (written.cut) problems = "is read only as far as its first character";
    if (std::strlen(word.text) >= sizeof option.value)
        join_problem(problems, "is longer than " + std::to_string(sizeof option.value - 1) + " characters");
    warn_value(option, written, problems, option.value);
}

// A choice is a whole item, else found as a substring of the range, which
// is named in a warning. A find past the last item is no item at all.
bool store_choice(UdilOption &option, const dyx_lex_word_t &word, const WrittenValue &written) {
    int index = exact_choice_index(option.range, written.text);
    if (index < 0) index = choice_index(option.range, word.text);
    const std::string item = index < 0 ? std::string() : choice_item(option.range, index);
    if (item.empty()) {
        warn_option("warning: argument %s for option %s is invalid: not one of %s\n", written.text.c_str(),
                    option.name, option.range);
        return false;
    }
    std::snprintf(option.value, sizeof option.value, "%d", index);
    if (item != written.text)
        warn_option("warning: argument %s for option %s is not one of %s, %s used\n", written.text.c_str(),
                    option.name, option.range, item.c_str());
    return true;
}

// Stores the value word in the option as its type says.
void store_value(UdilOption &option, const dyx_lex_word_t &word, const WrittenValue &written) {
    switch (option.type) {
        case DYX_UDIL_BOOLEAN:
            store_boolean(option, word, written);
            break;
        case DYX_UDIL_INT:
            store_number(option, word, written, DYX_LEX_INT, word.int_value);
            break;
        case DYX_UDIL_FLOAT:
            store_number(option, word, written, DYX_LEX_FLOAT, word.float_value);
            break;
        case 3:
            store_text(option, word, written);
            break;
        case DYX_UDIL_CHOICE:
            if (!store_choice(option, word, written)) return;
            break;
        default:
            return;  // unknown types read their word and ignore it
    }
    option.set = 1;
}

// The end of the value that starts at `start`: white space or a comment.
const char *end_of_written(const char *start) {
    const char *end = start;
    while (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end)) && *end != '#') ++end;
    return end;
}

// Reads one value word and whatever is left of the value as written.
bool read_value(dyx_lex_t *lexer, uint32_t mode, dyx_lex_word_t &word, WrittenValue &written) {
    const char *start = dyx_lex_remaining_string(lexer);
    const char *end = start ? end_of_written(start) : nullptr;
    if (start != nullptr) written.text.assign(start, end);
    if (dyx_lex_get_word(lexer, mode, &word) != DYX_LEX_WORD) return false;
    if (written.text.empty()) written.text = word.text;  // a comment came first
    // Without white space between them the loose lexer would take the rest
    // as the next option's name: it belongs to this value and is dropped.
    for (;;) {
        const char *rest = dyx_lex_remaining_string(lexer);
        if (rest == nullptr || end == nullptr || rest >= end) break;
        written.cut = true;
        dyx_lex_word_t dropped;
        if (dyx_lex_get_word(lexer, DYX_LEX_STRING, &dropped) != DYX_LEX_WORD) break;
    }
    return true;
}

struct LexerGuard {
    dyx_lex_t *lexer;
    ~LexerGuard() { dyx_lex_close(lexer); }
};

// Reads "name value" pairs until the text ends or a name is unknown.
void parse_into(UdilOption *options, int32_t count, const char *text) {
    LexerGuard guard{dyx_lex_init_string(text ? text : "", 0, 0)};
    dyx_lex_t *lexer = guard.lexer;
    if (lexer == nullptr) return;
    dyx_lex_word_t word;
    while (dyx_lex_get_word(lexer, DYX_LEX_STRING, &word) == DYX_LEX_WORD) {
        UdilOption *option = find_option(options, count, word.text);
        if (option == nullptr) {
            warn_option("warning: unknown option: %s\n", word.text);
            break;
        }
        WrittenValue written;
        if (!read_value(lexer, lexer_mode(option->type), word, written)) {
            warn_option("warning: missing argument for option: %s\n", option->name);
            break;
        }
        store_value(*option, word, written);
    }
}

}  // namespace

namespace udil {

void route_option_warnings(OptionWarningSink sink, void *context) {
    warning_sink = sink;
    warning_context = context;
}

}  // namespace udil

extern "C" {

UdilOption *dyx_udil_parse_options(UdilRecord *record, const char *text, int32_t *count) {
    int32_t ignored;
    if (count == nullptr) count = &ignored;
    *count = 0;
    dyx_udil_load(record);
    if (record == nullptr || record->handle == nullptr || record->entry.get_num_options == nullptr)
        return nullptr;
    udil::UdilCallGuard guard(record);
    const int32_t total = record->entry.get_num_options();
    if (total <= 0) return nullptr;
    UdilOption *options = nullptr;
    dyx_malloc("parse_udil_options", &options, uint64_t(total) * sizeof(UdilOption), __LINE__, __FILE__);
    if (options == nullptr) return nullptr;
    std::memset(options, 0, size_t(total) * sizeof(UdilOption));
    record->entry.get_default_options(options);
    for (int32_t i = 0; i < total; ++i) udil::terminate_option_texts(options[i]);
    try {
        parse_into(options, total, text);
    } catch (const std::bad_alloc &) {
        // The values read so far stay; the rest of the text keeps the defaults.
        dyx_error("parse_udil_options: out of memory while reading the option text\n");
    }
    *count = total;
    return options;
}

int dyx_udil_updateopts(UdilRecord *record, const UdilOption *options, int32_t count) {
    if (count < 1 || options == nullptr) return DYX_OK;
    if (record == nullptr) return DYX_REFUSED;
    for (int32_t i = 0; i < count; ++i) {
        char name[sizeof options[i].name];
        udil::copy_text(name, sizeof name, options[i].name);
        UdilOption *own = find_option(record->options, record->option_count, name);
        if (own == nullptr) return DYX_REFUSED;
        udil::copy_text(own->value, sizeof own->value, options[i].value);
    }
    return DYX_OK;
}

int dyx_udil_setopts(UdilRecord *record, const char *text) {
    int32_t count = 0;
    UdilOption *options = dyx_udil_parse_options(record, text, &count);
    if (options == nullptr) return DYX_REFUSED;
    const int result = dyx_udil_updateopts(record, options, count);
    dyx_free(options, __LINE__, __FILE__);
    return result;
}

int dyx_udil_setopts_by_name(const char *name, const char *text) {
    UdilRecord *record = name ? dyx_udil_find_by_name(name) : nullptr;
    if (record == nullptr) return DYX_REFUSED;
    return dyx_udil_setopts(record, text);
}

void dyx_udil_string_to_options(void) {}

}  // extern "C"
