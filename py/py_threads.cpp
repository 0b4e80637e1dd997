// orvo.threads, read from the module's dictionary at the start of each
// operation and handed to the library's worker count.
#include "py_threads.h"

#include <climits>

#include "dyx_parallel.h"

namespace orvo {
namespace {

constexpr const char *kName = "threads";

PyObject *module_dict = nullptr;  // borrowed from the module, which lives for ever
PyObject *name_object = nullptr;  // interned "threads"
long applied = LONG_MIN;          // the value last handed on; read and written with the GIL

}  // namespace

bool add_thread_setting(PyObject *module) {
    module_dict = PyModule_GetDict(module);
    name_object = OrvoText_FromString(kName);
    if (module_dict == nullptr || name_object == nullptr) return false;
    const long start = dyx_parallel_threads();
    PyObject *value = OrvoInt_FromLong(start);
    if (value == nullptr || PyDict_SetItem(module_dict, name_object, value) != 0) {
        Py_XDECREF(value);
        return false;
    }
    Py_DECREF(value);
    applied = start;
    return true;
}

void watch_thread_setting(PyObject *namespace_dict) {
    Py_INCREF(namespace_dict);  // kept for the life of the process, like the package
    module_dict = namespace_dict;
}

void apply_thread_setting() {
    if (module_dict == nullptr) return;
    PyObject *value = PyDict_GetItem(module_dict, name_object);  // borrowed; never raises
    long wanted = 0;
    if (value != nullptr && OrvoInt_Check(value)) {
        wanted = PyLong_Check(value) ? PyLong_AsLong(value) : OrvoInt_AsLong(value);
        if (wanted == -1 && PyErr_Occurred()) {
            PyErr_Clear();  // too large for a long: as many as allowed
            wanted = LONG_MAX;
        }
    }
    if (wanted == applied) return;
    applied = wanted;
    dyx_parallel_set_threads(wanted < 1 ? 0 : wanted > INT_MAX ? INT_MAX : static_cast<int>(wanted));
}

}  // namespace orvo
