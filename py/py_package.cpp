// The extension's side of the orvo package: the package's __init__.py
// publishes the extension's names and hangs its picture methods on the types.
#include "py_package.h"

#include <cstring>

#include "py_image.h"
#include "py_movie.h"
#include "py_threads.h"

namespace orvo {
namespace {

PyObject *extension_module = nullptr;  // borrowed: the module lives as long as the process

// Names of the extension's dict that stay private to it: its import
// machinery attributes and these helpers.
bool is_published(PyObject *key) {
#if ORVO_PY3
    const char *name = PyUnicode_Check(key) ? PyUnicode_AsUTF8(key) : nullptr;
#else
    const char *name = PyString_Check(key) ? PyString_AsString(key) : nullptr;
#endif
    if (name == nullptr) {
        PyErr_Clear();
        return false;
    }
    return name[0] != '_' || std::strcmp(name, "__doc__") == 0 || std::strcmp(name, "__version__") == 0;
}

PyObject *package_publish(PyObject *, PyObject *args) {
    PyObject *namespace_dict;
    if (!PyArg_ParseTuple(args, "O!:_publish", &PyDict_Type, &namespace_dict)) return nullptr;
    PyObject *own = PyModule_GetDict(extension_module);  // borrowed
    PyObject *key;
    PyObject *value;
    Py_ssize_t position = 0;
    while (PyDict_Next(own, &position, &key, &value))
        if (is_published(key) && PyDict_SetItem(namespace_dict, key, value) != 0) return nullptr;
    watch_thread_setting(namespace_dict);
    Py_RETURN_NONE;
}

PyObject *package_add_method(PyObject *, PyObject *args) {
    PyObject *type_object;
    const char *name;
    PyObject *function;
    if (!PyArg_ParseTuple(args, "O!sO:_add_method", &PyType_Type, &type_object, &name, &function))
        return nullptr;
    PyTypeObject *type = reinterpret_cast<PyTypeObject *>(type_object);
    if (type != &image_type && type != &movie_type) {
        PyErr_SetString(PyExc_TypeError, "_add_method: only orvo.image and orvo.movie take methods");
        return nullptr;
    }
    if (!PyCallable_Check(function)) {
        PyErr_SetString(PyExc_TypeError, "_add_method: the method must be callable");
        return nullptr;
    }
    if (PyDict_SetItemString(type->tp_dict, name, function) != 0) return nullptr;
    PyType_Modified(type);
    Py_RETURN_NONE;
}

PyMethodDef package_helpers[] = {
    {"_publish", package_publish, METH_VARARGS, "Publish the module's names in the package namespace"},
    {"_add_method", package_add_method, METH_VARARGS, "Add a method written in Python to an orvo type"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool add_package_helpers(PyObject *module) {
    extension_module = module;
    for (PyMethodDef *helper = package_helpers; helper->ml_name != nullptr; ++helper) {
        PyObject *function = PyCFunction_NewEx(helper, module, nullptr);
        if (function == nullptr) return false;
        if (PyModule_AddObject(module, helper->ml_name, function) != 0) {
            Py_DECREF(function);
            return false;
        }
    }
    return true;
}

}  // namespace orvo
