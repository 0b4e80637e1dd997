// Name lists and error strings shared by the image and movie types.
#include "py_names.h"

namespace orvo {

PyObject *string_list(const char *const *names, size_t count) {
    PyObject *list = PyList_New(static_cast<Py_ssize_t>(count));
    if (list == nullptr) return nullptr;
    for (size_t n = 0; n < count; ++n) {
        PyObject *name = OrvoText_FromString(names[n]);
        if (name == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(n), name);
    }
    return list;
}

PyObject *attribute_and_method_list(const char *const *members, size_t member_count,
                                    const char *const *methods, size_t method_count) {
    PyObject *list = string_list(members, member_count);
    if (list == nullptr) return nullptr;
    for (size_t n = 0; n < method_count; ++n) {
        PyObject *text = OrvoText_FromString(methods[n]);
        if (text == nullptr || PyList_Append(list, text) != 0) {
            Py_XDECREF(text);
            Py_DECREF(list);
            return nullptr;
        }
        Py_DECREF(text);
    }
    return list;
}

PyObject *take_error_text(char *error) {
    PyObject *text = OrvoText_FromString(error);
    if (text != nullptr) error[0] = '\0';
    return text;
}

}  // namespace orvo
