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

}  // namespace orvo

#endif
