// The module's single-file template helpers (istemplate, indexof, extend)
// on arbitrary names, called as Python calls them: the binding's source is
// compiled in and an embedded interpreter builds the argument tuples.
#include "../py/orvo_codecs.cpp"
#include "fuzz_support.h"

namespace {

// Calls `function` with the tuple Py_BuildValue makes; the result is
// dropped and any exception cleared.
template <typename... Args>
void call(PyObject *(*function)(PyObject *, PyObject *), const char *format, Args... args) {
    PyObject *tuple = Py_BuildValue(format, args...);
    if (tuple == nullptr) {
        PyErr_Clear();
        return;
    }
    PyObject *result = function(nullptr, tuple);
    Py_DECREF(tuple);
    if (result == nullptr) PyErr_Clear();
    Py_XDECREF(result);
}

const std::string &sequence_dir() {
    static const std::string dir = [] {
        const std::string path = fuzz::scratch_file("seq");
        std::system(("mkdir -p '" + path + "'").c_str());
        for (const char *name : {"s0001.ppm", "s0002.ppm", "s0003.ppm", "e_l.0001.ppm", "e_r.0001.ppm",
                                 "9.png", "10.png", "11.png"})
            fuzz::write_file(path + "/" + name, reinterpret_cast<const uint8_t *>("x"), 1);
        return path;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Py_InitializeEx(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    const int start = int(data[0]) - 8, end = int(data[1]) * 4 - 8;
    const int frame = int(data[2]) - 8;
    const std::string rest(reinterpret_cast<const char *>(data + 3), size - 3);
    const size_t split = rest.find('\0');
    std::string pattern = rest.substr(0, split);
    const std::string filename = split == std::string::npos ? pattern : rest.substr(split + 1).c_str();
    for (char &c : pattern)
        if (c == '/' || c == '\\') c = '_';
    const std::string in_dir = sequence_dir() + "/" + pattern;

    call(orvo::module_istemplate, "(s)", in_dir.c_str());
    call(orvo::module_indexof, "(ssii)", pattern.c_str(), filename.c_str(), start, end);
    call(orvo::module_extend, "(siii)", in_dir.c_str(), frame, start, end);
    return 0;
}
