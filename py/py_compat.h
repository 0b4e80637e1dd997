/* The few differences between the Python 2.7 and Python 3 C APIs that the
 * module's sources meet, kept in one place. */
#ifndef ORVO_PY_COMPAT_H
#define ORVO_PY_COMPAT_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string.h>

#if PY_MAJOR_VERSION >= 3
#define ORVO_PY3 1
/* Text is str in both; binary data is bytes in Python 3, str in Python 2. */
#define OrvoText_FromString PyUnicode_FromString
#define OrvoText_FromStringAndSize PyUnicode_FromStringAndSize
#define OrvoText_Check PyUnicode_Check
#define OrvoText_AsUTF8 PyUnicode_AsUTF8
#define OrvoBytes_FromStringAndSize PyBytes_FromStringAndSize
#define OrvoBytes_Check PyBytes_Check
#define OrvoBytes_AsString PyBytes_AsString
#define OrvoBytes_Size PyBytes_Size
#define OrvoInt_FromLong PyLong_FromLong
#define OrvoInt_Check(o) PyLong_Check(o)
#define OrvoInt_AsLong PyLong_AsLong
#define ORVO_MODINIT(name) extern "C" __attribute__((visibility("default"))) PyObject *PyInit_##name(void)
#define ORVO_MODINIT_RETURN(module) return (module)
#else
#define ORVO_PY3 0
#define OrvoText_FromString PyString_FromString
#define OrvoText_FromStringAndSize PyString_FromStringAndSize
#define OrvoText_Check PyString_Check
#define OrvoText_AsUTF8 PyString_AsString
#define OrvoBytes_FromStringAndSize PyString_FromStringAndSize
#define OrvoBytes_Check PyString_Check
#define OrvoBytes_AsString PyString_AsString
#define OrvoBytes_Size PyString_Size
#define OrvoInt_FromLong PyInt_FromLong
#define OrvoInt_Check(o) (PyInt_Check(o) || PyLong_Check(o))
#define OrvoInt_AsLong PyInt_AsLong
#define ORVO_MODINIT(name) extern "C" __attribute__((visibility("default"))) void init##name(void)
#define ORVO_MODINIT_RETURN(module) \
    do {                            \
        (void)(module);             \
        return;                     \
    } while (0)
#endif

#ifndef Py_RETURN_NOTIMPLEMENTED
/* Python 2.7 has no Py_RETURN_NOTIMPLEMENTED (it came with 3.3). */
#define Py_RETURN_NOTIMPLEMENTED return Py_INCREF(Py_NotImplemented), Py_NotImplemented
#endif

#ifndef Py_RETURN_RICHCOMPARE
/* Python 2.7 and 3.6 have no Py_RETURN_RICHCOMPARE (it came with 3.7). */
inline PyObject *orvo_richcompare_result(long a, long b, int op) {
    if (op < Py_LT || op > Py_GE) Py_RETURN_NOTIMPLEMENTED;
    const int order = (a > b) - (a < b);
    // Indexed by Py_LT, Py_LE, Py_EQ, Py_NE, Py_GT, Py_GE (0 to 5).
    const bool results[] = {(order < 0), (order <= 0), (order == 0), (order != 0), (order > 0), (order >= 0)};
    return PyBool_FromLong(results[op]);
}
#define Py_RETURN_RICHCOMPARE(val1, val2, op) return orvo_richcompare_result((val1), (val2), (op))
#endif

/* Text meant for a person that a plug-in, a file or the library made
 * (reasons, codec names and descriptions, option labels) may hold any
 * bytes: Python 3 decodes it as UTF-8 with undecodable bytes replaced, so
 * making the str never fails on the text itself. Python 2 keeps the bytes. */
inline PyObject *OrvoText_FromReasonAndSize(const char *text, Py_ssize_t size) {
#if ORVO_PY3
    return PyUnicode_DecodeUTF8(text, size, "replace");
#else
    return PyString_FromStringAndSize(text, size);
#endif
}

inline PyObject *OrvoText_FromReason(const char *text) {
    return OrvoText_FromReasonAndSize(text, static_cast<Py_ssize_t>(strlen(text)));
}

#endif
