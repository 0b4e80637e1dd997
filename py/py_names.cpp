// Name lists and error strings shared by the image and movie types.
#include "py_names.h"

#include <cstring>

#include "py_object_lock.h"

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
    PyObject *text = OrvoText_FromReason(error);
    if (text != nullptr) error[0] = '\0';
    return text;
}

void raise_with_reason(PyObject *type, const char *reason) {
    PyObject *text = OrvoText_FromReason(reason);
    if (text == nullptr) return;  // the decoder's own failure (memory) stands
    PyErr_SetObject(type, text);
    Py_DECREF(text);
}

bool TextArgument::take(PyObject *object, Nul nul, Names names) {
    Py_XDECREF(owner_);
    owner_ = nullptr;
    text_ = "";
    size_ = 0;
    PyObject *bytes = nullptr;  // a new reference to the UTF-8 bytes
#if ORVO_PY3 && PY_VERSION_HEX >= 0x03060000
    if (names == Names::kPaths && !PyUnicode_Check(object) && !PyBytes_Check(object) &&
        PyObject_HasAttrString(object, "__fspath__")) {
        PyObject *path = PyOS_FSPath(object);
        if (path == nullptr) return false;
        const bool taken = take(path, nul, Names::kText);
        Py_DECREF(path);
        return taken;
    }
#else
    (void)names;
#endif
    if (PyUnicode_Check(object)) {
        bytes = PyUnicode_AsUTF8String(object);
        if (bytes == nullptr) return false;
#if ORVO_PY3
    } else if (PyBytes_Check(object)) {
#else
    } else if (PyString_Check(object)) {
#endif
        Py_INCREF(object);
        bytes = object;
    } else {
        PyErr_Format(PyExc_TypeError, "a string is required, not %.100s", Py_TYPE(object)->tp_name);
        return false;
    }
    owner_ = bytes;
    text_ = OrvoBytes_AsString(bytes);
    size_ = static_cast<size_t>(OrvoBytes_Size(bytes));
    if (nul == Nul::kRefused && std::memchr(text_, '\0', size_) != nullptr) {
        PyErr_SetString(PyExc_ValueError, "embedded null character");
        return false;
    }
    return true;
}

int text_converter(PyObject *object, void *argument) {
    return static_cast<TextArgument *>(argument)->take(object) ? 1 : 0;
}

int path_converter(PyObject *object, void *argument) {
    return static_cast<TextArgument *>(argument)->take(object, TextArgument::Nul::kRefused,
                                                       TextArgument::Names::kPaths)
               ? 1
               : 0;
}

PyObject *orvo_warning_type = nullptr;

bool create_warning_type(PyObject *module) {
    orvo_warning_type =
        PyErr_NewException(const_cast<char *>("orvo.OrvoWarning"), PyExc_UserWarning, nullptr);
    if (orvo_warning_type == nullptr) return false;
    Py_INCREF(orvo_warning_type);  // the module's reference is taken by PyModule_AddObject
    if (PyModule_AddObject(module, "OrvoWarning", orvo_warning_type) != 0) {
        Py_DECREF(orvo_warning_type);
        return false;
    }
    return true;
}

int issue_option_warning(void *, const char *text) {
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

}  // namespace orvo
