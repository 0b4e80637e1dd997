// Codec options: parsing a user's option text against a plug-in's list.
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "dyx_lex.h"
#include "dyx_malloc.h"
#include "dyx_udil.h"
#include "udil_internal.h"

namespace {

// A plug-in may hand back texts without terminators: every text field is
// cut to its size so that nothing reads past it.
void terminate_fields(UdilOption &option) {
    option.name[sizeof option.name - 1] = '\0';
    option.range[sizeof option.range - 1] = '\0';
    option.value[sizeof option.value - 1] = '\0';
    option.description[sizeof option.description - 1] = '\0';
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

// Stores the value word in the option as its type says.
void store_value(UdilOption &option, const dyx_lex_word_t &word) {
    char *value = option.value;
    const size_t size = sizeof option.value;
    switch (option.type) {
        case DYX_UDIL_BOOLEAN:
            std::snprintf(value, size, "%d", word.int_value != 0 ? 1 : 0);
            break;
        case DYX_UDIL_INT: {
            int minimum = 0, maximum = 0;
            const int bounds = std::sscanf(option.range, "%d %d", &minimum, &maximum);
            int number = word.int_value;
            if (bounds >= 1 && number < minimum) number = minimum;
            if (bounds >= 2 && number > maximum) number = maximum;
            std::snprintf(value, size, "%d", number);
            break;
        }
        case DYX_UDIL_FLOAT: {
            float minimum = 0, maximum = 0;
            const int bounds = std::sscanf(option.range, "%f %f", &minimum, &maximum);
            float number = word.float_value;
            if (bounds >= 1 && number < minimum) number = minimum;
            if (bounds >= 2 && number > maximum) number = maximum;
            std::snprintf(value, size, "%f", double(number));
            break;
        }
        case 3:
            udil::copy_text(value, size, word.text);
            break;
        case DYX_UDIL_CHOICE: {
            const int index = choice_index(option.range, word.text);
            if (index < 0) {
                dyx_warn("warning: argument %s for option %s is invalid\n", word.text, option.name);
                return;
            }
            std::snprintf(value, size, "%d", index);
            break;
        }
        default:
            return;  // unknown types read their word and ignore it
    }
    option.set = 1;
}

// Reads "name value" pairs until the text ends or a name is unknown.
void parse_into(UdilOption *options, int32_t count, const char *text) {
    dyx_lex_t *lexer = dyx_lex_init_string(text ? text : "", 0, 0);
    if (lexer == nullptr) return;
    dyx_lex_word_t word;
    while (dyx_lex_get_word(lexer, DYX_LEX_STRING, &word) == DYX_LEX_WORD) {
        UdilOption *option = find_option(options, count, word.text);
        if (option == nullptr) {
            dyx_warn("warning: unknown option: %s\n", word.text);
            break;
        }
        if (dyx_lex_get_word(lexer, lexer_mode(option->type), &word) != DYX_LEX_WORD) {
            dyx_warn("warning: missing argument for option: %s\n", option->name);
            break;
        }
        store_value(*option, word);
    }
    dyx_lex_close(lexer);
}

}  // namespace

extern "C" {

UdilOption *dyx_udil_parse_options(UdilRecord *record, const char *text, int32_t *count) {
    int32_t ignored;
    if (count == nullptr) count = &ignored;
    *count = 0;
    dyx_udil_load(record);
    if (record == nullptr || record->handle == nullptr || record->entry.get_num_options == nullptr)
        return nullptr;
    const int32_t total = record->entry.get_num_options();
    if (total <= 0) return nullptr;
    UdilOption *options = nullptr;
    dyx_malloc("parse_udil_options", &options, uint64_t(total) * sizeof(UdilOption), __LINE__, __FILE__);
    if (options == nullptr) return nullptr;
    std::memset(options, 0, size_t(total) * sizeof(UdilOption));
    record->entry.get_default_options(options);
    for (int32_t i = 0; i < total; ++i) terminate_fields(options[i]);
    parse_into(options, total, text);
    *count = total;
    return options;
}

int dyx_udil_updateopts(UdilRecord *record, const UdilOption *options, int32_t count) {
    if (count < 1 || options == nullptr) return 0;
    if (record == nullptr) return 1;
    for (int32_t i = 0; i < count; ++i) {
        char name[sizeof options[i].name];
        udil::copy_text(name, sizeof name, options[i].name);
        UdilOption *own = find_option(record->options, record->option_count, name);
        if (own == nullptr) return 1;
        udil::copy_text(own->value, sizeof own->value, options[i].value);
    }
    return 0;
}

int dyx_udil_setopts(UdilRecord *record, const char *text) {
    int32_t count = 0;
    UdilOption *options = dyx_udil_parse_options(record, text, &count);
    if (options == nullptr) return 1;
    const int result = dyx_udil_updateopts(record, options, count);
    dyx_free(options, __LINE__, __FILE__);
    return result;
}

int dyx_udil_setopts_by_name(const char *name, const char *text) {
    UdilRecord *record = name ? dyx_udil_find_by_name(name) : nullptr;
    if (record == nullptr) return 1;
    return dyx_udil_setopts(record, text);
}

void dyx_udil_string_to_options(void) {}

}  // extern "C"
