// The orvo module: initialisation, integer constants and module functions.
#include "orvo_module.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dyx_cache.h"
#include "dyx_dl.h"
#include "dyx_image.h"
#include "dyx_malloc.h"
#include "dyx_string.h"
#include "dyx_udil.h"
#include "dyx_udil_dir.h"
#include "dyx_utils.h"
#include "py_deep.h"
#include "py_image.h"
#include "py_movie.h"
#include "py_names.h"
#include "py_package.h"
#include "py_threads.h"
#include "py_type_docs.h"
#include "py_uuid.h"

namespace orvo {
namespace {

// Warnings and errors of the logger, as they stand, on the standard error
// stream; other lines (debug, info) are dropped.
int problems_to_stderr(void *, const char *line, ...) {
    if (std::strncmp(line, "WARNING: ", 9) != 0 && std::strncmp(line, "ERROR: ", 7) != 0) return 0;
    va_list none;
    va_start(none, line);
    std::vfprintf(stderr, line, none);  // '%' arrive doubled
    va_end(none);
    return 0;
}

constexpr const char kVersion[] = "4.2.0";
constexpr double kVersionNumber = 4.2;
constexpr const char kBanner[] = "OrVo 4.2.0 - core image and movie types for scripts";
static_assert(sizeof kBanner - 1 <= 86, "the banner is one short line");

constexpr bool same_text(const char *a, const char *b) {
    return *a == *b && (*a == '\0' || same_text(a + 1, b + 1));
}
// The build marks the plug-ins it makes with its version (udil_sdk.h).
static_assert(same_text(kVersion, ORVO_PLUGIN_VERSION), "the module and its plug-ins share one version");

// Module state, written once at import and kept for the life of the process.
PyObject *module_object = nullptr;
char home_buffer[1024];
char arch_buffer[1024];
char plugin_dir_buffer[udil::kPluginDirSize];

struct IntConstant {
    const char *name;
    long value;
};

// Published in this order.
constexpr IntConstant kConstants[] = {
    {"DYX_IMG_FMT_A", 1},
    {"DYX_IMG_FMT_L", 2},
    {"DYX_IMG_FMT_LA", 4},
    {"DYX_IMG_FMT_RGB", 8},
    {"DYX_IMG_FMT_RGBA", 16},
    {"DYX_FLIP_XAXIS", 1},
    {"DYX_FLIP_YAXIS", 2},
    {"DYX_BLEND_ZERO", 0},
    {"DYX_BLEND_ONE", 1},
    {"DYX_BLEND_SCOLOR", 2},
    {"DYX_BLEND_SALPHA", 3},
    {"DYX_BLEND_DCOLOR", 4},
    {"DYX_BLEND_DALPHA", 5},
    {"DYX_BLEND_CCOLOR", 6},
    {"DYX_BLEND_CALPHA", 7},
    {"DYX_BLEND_MSCOLOR", 18},
    {"DYX_BLEND_MSALPHA", 19},
    {"DYX_BLEND_MDCOLOR", 20},
    {"DYX_BLEND_MDALPHA", 21},
    {"DYX_BLEND_MCCOLOR", 22},
    {"DYX_BLEND_MCALPHA", 23},
    {"DYX_BITBLT_COPY", 0},
    {"DYX_BITBLT_ALPHAMASK", 1},
    {"DYX_SCALE_SMOOTH", 1},
    {"MOVIE_READ", 0},
    {"MOVIE_WRITE", 1},
    {"MOVIE_ANAGLYPH_NONE", 0},
    {"MOVIE_ANAGLYPH_REDBLUE", 1},
    {"MOVIE_ANAGLYPH_BLUERED", 2},
    {"MOVIE_ANAGLYPH_REDCYAN", 3},
    {"MOVIE_ANAGLYPH_CYANRED", 4},
    {"DYX_UDIL_BOOLEAN", 0},
    {"DYX_UDIL_INT", 1},
    {"DYX_UDIL_FLOAT", 2},
    {"DYX_UDIL_CHOICE", 4},
};

PyObject *orvo_version(PyObject *, PyObject *) {
    return Py_BuildValue("[ssd]", kBanner, kVersion, kVersionNumber);
}

PyObject *orvo_home(PyObject *, PyObject *) { return OrvoText_FromString(home_buffer); }

PyObject *orvo_arch(PyObject *, PyObject *) { return OrvoText_FromString(arch_buffer); }

PyMethodDef module_methods[] = {
    {"codecs", module_codecs, METH_NOARGS, "codecs()\n--\n\nOrvo codec list"},
    {"extend", module_extend, METH_VARARGS,
     "extend(template, frame, first, last, /)\n--\n\nOrvo extend single file template"},
    {"istemplate", module_istemplate, METH_VARARGS,
     "istemplate(name, /)\n--\n\nOrvo single file template check"},
    {"indexof", module_indexof, METH_VARARGS,
     "indexof(template, filename, start, end, /)\n--\n\nOrvo single file template number"},
    {"version", orvo_version, METH_NOARGS, "version()\n--\n\nOrvo version"},
    {"home", orvo_home, METH_NOARGS, "home()\n--\n\nOrvo home"},
    {"arch", orvo_arch, METH_NOARGS, "arch()\n--\n\nOrvo arch"},
    {"_savedeep", module_savedeep, METH_VARARGS,
     "_savedeep(filename, pixels, width, height, channels, kind, options='', format=None, /)\n--\n\n"
     "Write one deep picture to a file"},
    {"_deepkind", module_deepkind, METH_VARARGS,
     "_deepkind(filename, format=None, /)\n--\n\nThe sample kind of a file's first frame"},
    {"_deepsamples", module_deepsamples, METH_VARARGS,
     "_deepsamples(codec, /)\n--\n\nThe sample kinds the codec writes"},
    {nullptr, nullptr, 0, nullptr},
};

#if ORVO_PY3
// The extension is the private module orvo._orvo; the package orvo
// (orvo/__init__.py) publishes its names.
PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "orvo._orvo",
    "OrVo core image and movie types",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};
#endif

// The product family's version texts, for scripts that check them.
void create_version_module() {
    PyObject *versions = PyImport_AddModule("qevversion");  // borrowed, in sys.modules
    if (versions == nullptr) return;
    PyObject *doc = OrvoText_FromString("QEV software version info");
    if (doc) {
        PyObject_SetAttrString(versions, "__doc__", doc);
        Py_DECREF(doc);
    }
    char release[128];
    dyx_snprintf(release, sizeof release, "OrVo %s (build 2026.12)", kVersion);
    char release_plain[128];
    dyx_strncpy(release_plain, release, sizeof release_plain);
    dyx_strrepl(release_plain, "(", nullptr, 0);
    dyx_strrepl(release_plain, ")", nullptr, 0);
    PyModule_AddStringConstant(versions, "QEV_PRODUCT", "OrVo");
    PyModule_AddStringConstant(versions, "QEV_VERSION", kVersion);
    PyModule_AddStringConstant(versions, "QEV_RELEASE", release);
    PyModule_AddStringConstant(versions, "QEV_RELEASE_PLAIN", release_plain);
}

// The module functions belong to the package: their __module__ is "orvo",
// where help(), pydoc and pickle look for them, as it always was.
bool add_functions(PyObject *module) {
    PyObject *package_name = OrvoText_FromString("orvo");
    if (package_name == nullptr) return false;
    bool added = true;
    for (PyMethodDef *method = module_methods; added && method->ml_name != nullptr; ++method) {
        PyObject *function = PyCFunction_NewEx(method, module, package_name);
        added = function != nullptr && PyModule_AddObject(module, method->ml_name, function) == 0;
        if (!added) Py_XDECREF(function);
    }
    Py_DECREF(package_name);
    return added;
}

PyObject *create_orvo_module() {
#if ORVO_PY3
    return PyModule_Create(&module_definition);
#else
    strip_text_signatures(module_methods);  // Python 2.7 would show them as text
    // Named by its last part: the import fills in the package (orvo._orvo).
    return Py_InitModule3("_orvo", nullptr, "OrVo core image and movie types");
#endif
}

void add_constants(PyObject *module) {
    for (const IntConstant &constant : kConstants)
        PyModule_AddIntConstant(module, constant.name, constant.value);
}

// The Python types, readied and published in this order.
struct TypeEntry {
    const char *name;
    PyTypeObject *type;
};
const TypeEntry kTypes[] = {{"movie", &movie_type}, {"image", &image_type}, {"uuid", &uuid_type}};

bool ready_types() {
    for (const TypeEntry &entry : kTypes)
        if (PyType_Ready(entry.type) < 0) return false;
    return true;
}

void add_types(PyObject *module) {
    for (const TypeEntry &entry : kTypes) {
        Py_INCREF(entry.type);
        PyModule_AddObject(module, entry.name, reinterpret_cast<PyObject *>(entry.type));
    }
}

bool is_directory(const char *path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// A package installed by pip carries its plug-ins in orvo/plugins, beside
// this extension's file. They are the last resort, after QEV_UDILPATH and
// the home's directory, so that an installation under QEV_HOME keeps its
// say. `home_passed_over`: the home's directory must not be scanned, so the
// package's directory is taken even when it is missing (no plug-ins).
void use_package_plugins(bool home_passed_over) {
    if (home_passed_over) plugin_dir_buffer[0] = '\0';  // nothing is scanned unless the package's is found
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&use_package_plugins), &info) == 0 || info.dli_fname == nullptr)
        return;
    const char *slash = std::strrchr(info.dli_fname, '/');
    if (slash == nullptr) return;
    const int dir_length = static_cast<int>(slash - info.dli_fname);
    char package_dir[udil::kPluginDirSize];
    int needed = std::snprintf(package_dir, sizeof package_dir, "%.*s/plugins", dir_length, info.dli_fname);
    if (needed < 0 || static_cast<size_t>(needed) >= sizeof package_dir) return;
    if (home_passed_over || is_directory(package_dir))  // a missing directory: no plug-ins
        std::memcpy(plugin_dir_buffer, package_dir, static_cast<size_t>(needed) + 1);
}

// An installation in the home's directory may be older or newer than this
// module (a `make install` left there, a virtual environment of another
// version): a directory with plug-ins built for another orvo is passed
// over as a whole, with one line saying why.
bool home_plugins_of_other_version() {
    char problem[512];
    if (!udil::find_plugin_of_other_version(plugin_dir_buffer, ORVO_PLUGIN_VERSION, ORVO_OWN_PLUGINS, problem,
                                            sizeof problem))
        return false;
    std::fprintf(stderr, "orvo: passing over the plug-ins in %s: %s, this module is orvo %s\n",
                 plugin_dir_buffer, problem, kVersion);
    return true;
}

void record_locations() {
    dyx_strncpy(home_buffer, dyx_qev_home(), sizeof home_buffer);
    dyx_strncpy(arch_buffer, dyx_qev_arch(), sizeof arch_buffer);
    const char *override_path = std::getenv("QEV_UDILPATH");
    if (!udil::choose_plugin_directory(override_path, home_buffer, arch_buffer, plugin_dir_buffer,
                                       sizeof plugin_dir_buffer))
        std::fprintf(stderr, "orvo: the plug-in directory name is too long; no plug-ins are loaded\n");
    else if (override_path == nullptr && !is_directory(plugin_dir_buffer))
        use_package_plugins(false);
    else if (override_path == nullptr && home_plugins_of_other_version())
        use_package_plugins(true);
}

// Ends a failed import: drops the new module (Python 2.7 only lends it).
PyObject *abandon(PyObject *module) {
#if ORVO_PY3
    Py_DECREF(module);
#else
    (void)module;
#endif
    return nullptr;
}

PyObject *initialise() {
#if PY_VERSION_HEX < 0x03070000
    // The module releases the interpreter's lock and re-takes it from
    // callbacks: the lock must exist (Python 3.7 on always makes it).
    PyEval_InitThreads();
#endif
    create_version_module();
    PyObject *module = create_orvo_module();
    if (module == nullptr) return nullptr;
    if (!add_functions(module)) return abandon(module);
    // NumPy is optional: a failure only disables the pixel arrays, but an
    // interrupt while it loads ends the import of orvo too.
    if (orvo_image_init() == -2) return abandon(module);
    document_types();
    if (!ready_types()) return abandon(module);
    add_types(module);
    if (!create_warning_type(module)) return abandon(module);
    add_constants(module);
    PyModule_AddStringConstant(module, "__version__", kVersion);  // the text version() gives second
    orvo_uuid_register(module);
    PyObject *doc = OrvoText_FromString("Orvo Python interface");
    if (doc) {
        PyDict_SetItemString(PyModule_GetDict(module), "__doc__", doc);
        Py_DECREF(doc);
    }
    if (!add_package_helpers(module)) return abandon(module);
    if (!add_thread_setting(module)) return abandon(module);
    dyx_utils_init();  // before the cache: it needs the pointer-list pools
    dyx_cache_init(0);
    dyx_image_pool_create(8);
    record_locations();
    // Plug-ins are found once; a missing directory leaves the registry empty.
    // The module installs no logger of its own, so the console callback is
    // borrowed for the scan to name the files it cannot use.
    dyx_logger_init(stderr, problems_to_stderr, nullptr, nullptr);
    dyx_udil_scan_libraries(plugin_dir_buffer);
    dyx_logger_done();
    module_object = module;
    return module;
}

}  // namespace

const char *install_home() { return home_buffer; }
const char *architecture() { return arch_buffer; }
const char *plugin_directory() { return plugin_dir_buffer; }

}  // namespace orvo

ORVO_MODINIT(_orvo) { ORVO_MODINIT_RETURN(orvo::initialise()); }
