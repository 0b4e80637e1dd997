/* The few differences between the Python 2.7 and Python 3 C APIs that the
 * module's sources meet, kept in one place. */
#ifndef ORVO_PY_COMPAT_H
#define ORVO_PY_COMPAT_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

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
#ifndef Py_RETURN_RICHCOMPARE
/* Python 3.6 has no Py_RETURN_RICHCOMPARE (it came with 3.7). */
#define Py_RETURN_RICHCOMPARE(val1, val2, op)                                                \
    do {                                                                                     \
        bool orvo_result_;                                                                   \
        switch (op) {                                                                        \
        case Py_EQ: orvo_result_ = (val1) == (val2); break;                                  \
        case Py_NE: orvo_result_ = (val1) != (val2); break;                                  \
        case Py_LT: orvo_result_ = (val1) < (val2); break;                                   \
        case Py_GT: orvo_result_ = (val1) > (val2); break;                                   \
        case Py_LE: orvo_result_ = (val1) <= (val2); break;                                  \
        case Py_GE: orvo_result_ = (val1) >= (val2); break;                                  \
        default: Py_RETURN_NOTIMPLEMENTED;                                                   \
        }                                                                                    \
        if (orvo_result_) Py_RETURN_TRUE;                                                    \
        Py_RETURN_FALSE;                                                                     \
    } while (0)
#endif
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

#endif
