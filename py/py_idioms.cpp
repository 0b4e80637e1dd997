// Runs the Python-level conveniences (orvo_idioms.py, compiled in as bytes)
// in the module's namespace, and hangs their picture methods on the types.
#include "py_idioms.h"

#include "py_image.h"
#include "py_movie.h"

namespace orvo {
namespace {

const char kIdiomsSource[] = {
#include "orvo_idioms_source.inc"
    0};

// Publishes the module-level function `function_name` as the method
// `method_name` of a type (a function in a type's dict binds like a method).
bool add_method_from(PyObject *namespace_dict, const char *function_name, PyTypeObject *type,
                     const char *method_name) {
    PyObject *function = PyDict_GetItemString(namespace_dict, function_name);  // borrowed
    if (function == nullptr) {
        PyErr_Format(PyExc_ImportError, "orvo: %s is missing", function_name);
        return false;
    }
    if (PyDict_SetItemString(type->tp_dict, method_name, function) != 0) return false;
    PyType_Modified(type);
    return true;
}

}  // namespace

bool add_idioms(PyObject *module) {
    PyObject *namespace_dict = PyModule_GetDict(module);  // borrowed
    if (PyDict_GetItemString(namespace_dict, "__builtins__") == nullptr &&
        PyDict_SetItemString(namespace_dict, "__builtins__", PyEval_GetBuiltins()) != 0)
        return false;
    PyObject *code = Py_CompileString(kIdiomsSource, "orvo_idioms.py", Py_file_input);
    if (code == nullptr) return false;
#if ORVO_PY3
    PyObject *result = PyEval_EvalCode(code, namespace_dict, namespace_dict);
#else
    PyObject *result =
        PyEval_EvalCode(reinterpret_cast<PyCodeObject *>(code), namespace_dict, namespace_dict);
#endif
    Py_DECREF(code);
    if (result == nullptr) return false;
    Py_DECREF(result);
    return add_method_from(namespace_dict, "_image_repr_png", &image_type, "_repr_png_") &&
           add_method_from(namespace_dict, "_movie_repr_png", &movie_type, "_repr_png_");
}

}  // namespace orvo
