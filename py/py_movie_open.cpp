// orvo.movie: open() and close() over the library's movie, with option
// warnings issued as orvo.OrvoWarning; the option parsing that image files
// share.
// clang-format off
#include "py_movie.h"  // first: it brings in Python.h
// clang-format on

#include <algorithm>
#include <cstring>

#include "dyx_malloc.h"
#include "py_names.h"
#include "py_object_lock.h"

namespace orvo {
namespace {

constexpr int32_t kReaderOptionCapacity = 20;  // options a read stream reports

// Issues one option warning of open() as orvo.OrvoWarning at the script's
// line; non-zero when a warnings filter turned it into an error (the
// exception stays set for open() to raise). open() runs without the
// interpreter's lock, so the warning takes it.
int warn_from_open(void *, const char *text) {
    GilAcquire acquired;
#if ORVO_PY3
    // Option texts may hold any bytes; the message must be UTF-8.
    PyObject *message = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "replace");
    const int raised =
        message == nullptr ? -1 : PyErr_WarnEx(orvo_warning_type, PyUnicode_AsUTF8(message), 1);
    Py_XDECREF(message);
#else
    const int raised = PyErr_WarnEx(orvo_warning_type, text, 1);
#endif
    return raised != 0;
}

}  // namespace

// The parser's warnings reach the script as orvo.OrvoWarning; a filter that
// makes them errors fails the call before any file is made.
bool parse_udil_options(UdilRecord *codec, const char *text, UdilOption **options, int32_t *count) {
    LoggedWarnings warnings;
    *options = dyx_udil_parse_options(codec, text, count);
    if (!warnings.deliver()) {
        if (*options != nullptr) dyx_free(*options, __LINE__, __FILE__);
        *options = nullptr;
        *count = 0;
        return false;
    }
    return *options != nullptr || codec->option_count <= 0;
}

bool make_reader_options(UdilRecord *codec, const char *text, UdilOption **buffer, int32_t *count,
                         int32_t *capacity) {
    *buffer = nullptr;
    *count = 0;
    UdilOption *parsed = nullptr;
    int32_t parsed_count = 0;
    if (text != nullptr && text[0] != '\0' && !parse_udil_options(codec, text, &parsed, &parsed_count))
        return false;
    *capacity = std::max(kReaderOptionCapacity, parsed_count);
    dyx_malloc("movie_open", buffer, uint64_t(*capacity) * sizeof(UdilOption), __LINE__, __FILE__);
    if (*buffer != nullptr && parsed_count > 0) {
        std::memcpy(*buffer, parsed, size_t(parsed_count) * sizeof(UdilOption));
        *count = parsed_count;
    }
    if (parsed != nullptr) dyx_free(parsed, __LINE__, __FILE__);
    return *buffer != nullptr;
}

PyObject *movie_open(PyObject *object, PyObject *args) {
    if (!PyArg_ParseTuple(args, ":open")) return nullptr;
    int status;
    {
        GilRelease released;
        status = dyx_udil_movie_open(movie_state(object), warn_from_open, nullptr);
    }
    return movie_result(status);
}

PyObject *movie_close(PyObject *object, PyObject *args) {
    if (!PyArg_ParseTuple(args, ":close")) return nullptr;
    int status;
    {
        // Finishing a file written behind the script can take a while.
        GilRelease released;
        status = dyx_udil_movie_close(movie_state(object));
    }
    return movie_result(status);
}

}  // namespace orvo
