/* Name lists and error strings shared by the image and movie types. */
#ifndef ORVO_PY_NAMES_H
#define ORVO_PY_NAMES_H

// Python.h comes first, as the interpreter requires.
#include "py_compat.h"
// clang-format off
#include <cstddef>
// clang-format on

namespace orvo {

/* A new list of the texts, or null with an exception set. */
PyObject *string_list(const char *const *names, size_t count);

template <size_t N>
PyObject *string_list(const char *const (&names)[N]) {
    return string_list(names, N);
}

/* The attribute names followed by the method names, for __dir__. */
PyObject *attribute_and_method_list(const char *const *members, size_t member_count,
                                    const char *const *methods, size_t method_count);

template <size_t M, size_t N>
PyObject *attribute_and_method_list(const char *const (&members)[M], const char *const (&methods)[N]) {
    return attribute_and_method_list(members, M, methods, N);
}

/* errstr(): the object's error text as a string; the text is then cleared. */
PyObject *take_error_text(char *error);

/* Raises `type` with a reason text of any bytes (decoded so that it never
 * fails, py_compat.h). */
void raise_with_reason(PyObject *type, const char *reason);

/* A text or name argument as UTF-8 bytes. Accepted: str and bytes in
 * Python 3, str and unicode in Python 2.7 (unicode is encoded as UTF-8);
 * with Names::kPaths also an os.PathLike (Python 3.6 and later). The
 * bytes stay valid while the TextArgument lives. */
class TextArgument {
public:
    enum class Nul { kRefused, kAllowed };
    enum class Names { kText, kPaths };

    TextArgument() = default;
    ~TextArgument() { Py_XDECREF(owner_); }
    TextArgument(const TextArgument &) = delete;
    TextArgument &operator=(const TextArgument &) = delete;

    /* False with TypeError for another type, UnicodeEncodeError for a str
     * that is no valid Unicode, or ValueError "embedded null character"
     * for a NUL byte when NUL bytes are refused. */
    bool take(PyObject *object, Nul nul = Nul::kRefused, Names names = Names::kText);

    const char *text() const { return text_; }
    size_t size() const { return size_; }

private:
    PyObject *owner_ = nullptr;  // keeps text_ alive
    const char *text_ = "";
    size_t size_ = 0;
};

/* "O&" converters filling a TextArgument: text without NUL bytes, and file
 * names (also os.PathLike) without NUL bytes. */
int text_converter(PyObject *object, void *argument);
int path_converter(PyObject *object, void *argument);

/* orvo.OrvoWarning, a UserWarning: the category of every warning the
 * library gives a script. Null until create_warning_type has run. */
extern PyObject *orvo_warning_type;

/* Creates orvo.OrvoWarning and adds it to the module; false with an
 * exception set when it cannot be made. */
bool create_warning_type(PyObject *module);

/* Issues one option warning of the library (a DyxUdilWarningFunc) as
 * orvo.OrvoWarning at the script's line; non-zero, with the exception set,
 * when a warnings filter turned it into an error. Takes the interpreter's
 * lock when the caller runs without it. */
int issue_option_warning(void *unused, const char *text);

}  // namespace orvo

#endif
