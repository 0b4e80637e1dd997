// Module functions for codecs and numbered image sequences: codecs(),
// extend(), istemplate() and indexof().
// Python.h comes first: it sets feature macros the C library headers read.
#include "orvo_module.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dyx_path.h"
#include "dyx_udil.h"
#include "dyx_udil_stream.h"
#include "py_names.h"

namespace orvo {
namespace {

// Builds a Python list from `count` new references made by `make`; null
// when any of them fails.
template <typename Make>
PyObject *build_list(Py_ssize_t count, Make make) {
    PyObject *list = PyList_New(count);
    if (list == nullptr) return nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject *item = make(i);
        if (item == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, i, item);
    }
    return list;
}

// The choices of a "a|b|c" range: n separators give n + 1 texts.
PyObject *choice_list(const char *range) {
    PyObject *list = PyList_New(0);
    if (list == nullptr) return nullptr;
    const char *start = range;
    for (;;) {
        const char *bar = std::strchr(start, '|');
        const size_t length = bar ? size_t(bar - start) : std::strlen(start);
        PyObject *item = OrvoText_FromReasonAndSize(start, Py_ssize_t(length));
        if (item == nullptr || PyList_Append(list, item) != 0) {
            Py_XDECREF(item);
            Py_DECREF(list);
            return nullptr;
        }
        Py_DECREF(item);
        if (bar == nullptr) return list;
        start = bar + 1;
    }
}

// [name, type, range, value, label] for one option.
PyObject *describe_option(const UdilOption &option) {
    const char *label = option.description[0] ? option.description : option.name;
    switch (option.type) {
        case DYX_UDIL_BOOLEAN:
            return Py_BuildValue("[NisiN]", OrvoText_FromReason(option.name), option.type, "0|1",
                                 std::strtol(option.value, nullptr, 10) != 0 ? 1 : 0,
                                 OrvoText_FromReason(label));
        case DYX_UDIL_INT: {
            int minimum = 0, maximum = 0, value = 0;
            std::sscanf(option.range, "%d %d", &minimum, &maximum);
            std::sscanf(option.value, "%d", &value);
            return Py_BuildValue("[Ni[ii]iN]", OrvoText_FromReason(option.name), option.type, minimum,
                                 maximum, value, OrvoText_FromReason(label));
        }
        case DYX_UDIL_FLOAT: {
            float minimum = 0, maximum = 0, value = 0;
            std::sscanf(option.range, "%f %f", &minimum, &maximum);
            std::sscanf(option.value, "%f", &value);
            return Py_BuildValue("[Ni[dd]dN]", OrvoText_FromReason(option.name), option.type, double(minimum),
                                 double(maximum), double(value), OrvoText_FromReason(label));
        }
        case DYX_UDIL_CHOICE: {
            PyObject *choices = choice_list(option.range);
            if (choices == nullptr) return nullptr;
            return Py_BuildValue("[NiNlN]", OrvoText_FromReason(option.name), option.type, choices,
                                 std::strtol(option.value, nullptr, 10), OrvoText_FromReason(label));
        }
        default:
            // Free text and unknown types: the range and value texts as they are.
            return Py_BuildValue("[NiNNN]", OrvoText_FromReason(option.name), option.type,
                                 OrvoText_FromReason(option.range), OrvoText_FromReason(option.value),
                                 OrvoText_FromReason(label));
    }
}

PyObject *describe_codec(const UdilRecord &record) {
    // The plug-in's own suffixes, then the further names it reads.
    const Py_ssize_t suffix_count = record.suffix_count < 0 ? 0 : record.suffix_count;
    const Py_ssize_t more_count =
        record.more_suffixes && record.more_suffix_count > 0 ? record.more_suffix_count : 0;
    PyObject *suffixes = build_list(suffix_count + more_count, [&](Py_ssize_t i) {
        return OrvoText_FromReason(i < suffix_count ? record.suffixes[i]
                                                    : record.more_suffixes[i - suffix_count]);
    });
    if (suffixes == nullptr) return nullptr;
    const Py_ssize_t option_count = record.options && record.option_count > 0 ? record.option_count : 0;
    PyObject *options =
        build_list(option_count, [&](Py_ssize_t i) { return describe_option(record.options[i]); });
    if (options == nullptr) {
        Py_DECREF(suffixes);
        return nullptr;
    }
    return Py_BuildValue("[NNNiiN]", OrvoText_FromReason(record.name), OrvoText_FromReason(record.desc),
                         suffixes, int(record.stereo_capable), int(record.multi_image_capable), options);
}

// The name of frame `frame` for `eye`, or an empty text when it can't be built.
std::string frame_name(const char *name_template, int32_t frame, int32_t eye) {
    char name[DYX_UDIL_PATH_SIZE];
    return dyx_udil_make_filename(name, name_template, "", frame, eye) ? name : "";
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The frame number that names `filename` after `name_template` within
// [start, end], or -1. The number is read out of the name and checked by
// building the name back, so the cost does not grow with the range.
long find_frame(const std::string &name_template, const std::string &filename, long start, long end) {
    const size_t first_hash = name_template.find('#');
    if (first_hash == std::string::npos) {
        // Every frame number gives the same name: the search stops at start.
        for (int32_t eye : {UDIL_EYE_LEFT, UDIL_EYE_RIGHT})
            if (frame_name(name_template.c_str(), int32_t(start), eye) == filename) return start;
        return -1;
    }
    const size_t width = name_template.rfind('#') - first_hash + 1;
    const size_t tail = name_template.size() - (first_hash + width);
    if (filename.size() < first_hash + width + tail) return -1;
    const std::string digits = filename.substr(first_hash, filename.size() - first_hash - tail);
    long frame = 0;
    for (char c : digits) {
        if (!is_digit(c)) return -1;
        frame = frame * 10 + (c - '0');
        if (frame > INT32_MAX) return -1;
    }
    if (frame < start || frame > end) return -1;
    for (int32_t eye : {UDIL_EYE_LEFT, UDIL_EYE_RIGHT})
        if (frame_name(name_template.c_str(), int32_t(frame), eye) == filename) return frame;
    return -1;
}

// Turns the frame number at the end of a file name into a template:
// kind 2 and the template, or kind 0 when the name has no number.
struct Classified {
    int kind = 0;
    std::string name_template;
    int stereo = 0;
};

Classified classify_numbered(const std::string &name) {
    Classified result;
    result.name_template = name;
    size_t position = name.size();
    while (position > 0) {
        const char c = name[position - 1];
        if (c == '/' || c == '\\') return result;
        if (is_digit(c)) break;
        --position;
    }
    if (position == 0) return result;
    const size_t last_digit = position - 1;
    result.kind = 2;
    std::string &text = result.name_template;
    for (size_t i = last_digit + 1; i > 0 && is_digit(text[i - 1]); --i) text[i - 1] = '#';
    // The eye letter is looked for between the number and the extension.
    const size_t dot = text.rfind('.');
    const size_t region_end = (dot == std::string::npos) ? text.size() : dot;
    if (region_end > last_digit) {
        size_t eye = text.find('r', last_digit);
        if (eye >= region_end) eye = text.find('l', last_digit);
        if (eye < region_end) {
            text[eye] = '@';
            result.stereo = 1;
        }
    }
    return result;
}

}  // namespace

PyObject *module_codecs(PyObject *, PyObject *) {
    Py_ssize_t count = 0;
    for (UdilRecord *record = dyx_udil_list_first(); record; record = dyx_udil_list_next(record)) ++count;
    UdilRecord *record = dyx_udil_list_first();
    return build_list(count, [&](Py_ssize_t) {
        if (record == nullptr) return PyList_New(0);  // the registry changed under us
        PyObject *entry = describe_codec(*record);
        record = dyx_udil_list_next(record);
        return entry;
    });
}

PyObject *module_extend(PyObject *, PyObject *args) {
    TextArgument template_argument;
    int frame, first, last;
    if (!PyArg_ParseTuple(args, "O&iii:extend", path_converter, &template_argument, &frame, &first, &last))
        return nullptr;
    const char *name_template = template_argument.text();
    int ok = 1;
    int32_t run_first, run_last;
    if (frame < first) {
        run_first = frame;
        run_last = last;
        ok = dyx_valid_pathname_range(name_template, &run_first, &run_last) == 0 && run_first == frame &&
             run_last == last;
        if (ok) first = frame;
    } else if (frame > last) {
        run_first = first;
        run_last = frame;
        ok = dyx_valid_pathname_range(name_template, &run_first, &run_last) == 0 && run_first == first &&
             run_last == frame;
        if (ok) last = frame;
    }
    return Py_BuildValue("(iii)", ok, first, last);
}

PyObject *module_istemplate(PyObject *, PyObject *args) {
    TextArgument name_argument;
    if (!PyArg_ParseTuple(args, "O&:istemplate", path_converter, &name_argument)) return nullptr;
    const char *name = name_argument.text();
    try {
        int32_t first = -1, last = -1, count = 0;
        if (dyx_udil_has_wildcards(name)) {
            if (dyx_valid_pathname_range(name, &first, &last) == 0) count = last - first + 1;
            return Py_BuildValue("[isiiii]", 1, name, std::strchr(name, '@') ? 1 : 0, count, first, last);
        }
        const Classified found = classify_numbered(name);
        if (found.kind == 0) return Py_BuildValue("[isiiii]", 0, name, 0, 0, 0, 0);
        if (dyx_valid_pathname_range(found.name_template.c_str(), &first, &last) == 0) {
            count = last - first + 1;
        } else {
            first = last = 0;
        }
        return Py_BuildValue("[isiiii]", 2, found.name_template.c_str(), found.stereo, count, first, last);
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
}

PyObject *module_indexof(PyObject *, PyObject *args) {
    TextArgument template_argument, name_argument;
    int start, end;
    if (!PyArg_ParseTuple(args, "O&O&ii:indexof", path_converter, &template_argument, path_converter,
                          &name_argument, &start, &end))
        return nullptr;
    const char *name_template = template_argument.text();
    const char *filename = name_argument.text();
    try {
        const std::string pattern = name_template;
        long search_start = start < 0 ? 0 : start;
        long search_end = end;
        if (search_end < 0) {
            const size_t first_hash = pattern.find('#');
            if (first_hash == std::string::npos) {
                search_end = search_start;
            } else {
                // 10^n - 1 for a run of n characters; longer runs reach every
                // frame number a 32-bit int can hold.
                const size_t width = pattern.rfind('#') - first_hash + 1;
                search_end = 1;
                for (size_t i = 0; i < width && search_end <= INT32_MAX; ++i) search_end *= 10;
                search_end = search_end - 1 > INT32_MAX ? INT32_MAX : search_end - 1;
            }
        }
        if (search_end < search_start) search_end = search_start;
        return OrvoInt_FromLong(find_frame(pattern, filename, search_start, search_end));
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
}

}  // namespace orvo
