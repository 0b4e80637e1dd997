// Attribute descriptors for help(): the attributes themselves are served by
// each type's tp_getattro and tp_setattro, which run before any descriptor
// is looked at, so these descriptors are reached only through the type
// (help(), inspect, stub checkers) and forward to the same code.
#include "py_type_docs.h"

#include <cstring>

#include "py_image.h"
#include "py_movie.h"
#include "py_uuid.h"

namespace orvo {
namespace {

PyObject *forward_get(PyObject *self, void *name) {
    PyObject *name_object = OrvoText_FromString(static_cast<const char *>(name));
    if (name_object == nullptr) return nullptr;
    PyObject *value = Py_TYPE(self)->tp_getattro(self, name_object);
    Py_DECREF(name_object);
    return value;
}

int forward_set(PyObject *self, PyObject *value, void *name) {
    PyObject *name_object = OrvoText_FromString(static_cast<const char *>(name));
    if (name_object == nullptr) return -1;
    const int status = Py_TYPE(self)->tp_setattro(self, name_object, value);
    Py_DECREF(name_object);
    return status;
}

// Read-write and read-only entries; the name is also the closure.
#define ORVO_ATTRIBUTE(name, doc) \
    { const_cast<char *>(name), forward_get, forward_set, const_cast<char *>(doc), const_cast<char *>(name) }
#define ORVO_READ_ONLY(name, doc) \
    { const_cast<char *>(name), forward_get, nullptr, const_cast<char *>(doc), const_cast<char *>(name) }

PyGetSetDef image_attributes[] = {
    ORVO_ATTRIBUTE("format", "pixel format, a DYX_IMG_FMT_* constant; setting it converts the pixels"),
    ORVO_ATTRIBUTE("dims", "[width, height]; setting a tuple rescales the picture (nearest sample)"),
    ORVO_ATTRIBUTE("framenumber", "the frame number the picture belongs to (>= 0)"),
    ORVO_ATTRIBUTE("frame", "[width, height] of the frame the picture belongs to; set as a tuple"),
    ORVO_ATTRIBUTE("origin", "[x, y] of the picture in its frame; set as a tuple"),
    ORVO_READ_ONLY("__array_interface__", "NumPy's description of the pixels as a view, top row first"),
    ORVO_READ_ONLY("__members__", "the attribute names"),
    ORVO_READ_ONLY("__methods__", "the method names"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef movie_attributes[] = {
    ORVO_ATTRIBUTE("filename", "file, numbered sequence template or .mtm name; set before open"),
    ORVO_ATTRIBUTE("stereo", "write: 1 writes both eyes (before open); read: 1 when the source is stereo"),
    ORVO_ATTRIBUTE("fps", "frame rate; write movies, before open (-1.0: unset, 30 at open)"),
    ORVO_ATTRIBUTE("dims", "[width, height] of the frames; write movies set a tuple before open"),
    ORVO_ATTRIBUTE("tiling", "[across, down] tiles; more than one writes a Multi-Tile Movie"),
    ORVO_ATTRIBUTE("format", "codec plug-in name; write movies, before open; after open the codec in use"),
    ORVO_ATTRIBUTE("framerange", "read: [first, last] frames used, -1 for the file's own; any time"),
    ORVO_ATTRIBUTE("options", "codec options \"name value ...\"; write movies, before open"),
    ORVO_ATTRIBUTE("intensity", "read: [start, end] brightness ramp, each 0.0 to 1.0"),
    ORVO_ATTRIBUTE("repeat", "read: [first, last] extra copies of the first and the last frame"),
    ORVO_READ_ONLY("nframes", "read: frames the movie yields; write: frames announced"),
    ORVO_ATTRIBUTE("anaglyph", "MOVIE_ANAGLYPH_* of a stereo write movie, before open"),
    ORVO_ATTRIBUTE("flip", "read: DYX_FLIP_* applied to every frame"),
    ORVO_READ_ONLY("realframes", "read: frames in the file; write: frames written"),
    ORVO_READ_ONLY("__members__", "the attribute names"),
    ORVO_READ_ONLY("__methods__", "the method names"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

#undef ORVO_ATTRIBUTE
#undef ORVO_READ_ONLY

// The part of a doc string after its text signature.
const char *without_signature(const char *doc) {
    if (doc == nullptr) return nullptr;
    const char *end = std::strstr(doc, "\n--\n\n");
    return end == nullptr ? doc : end + 5;
}

}  // namespace

void strip_text_signatures(PyMethodDef *methods) {
    for (PyMethodDef *method = methods; method != nullptr && method->ml_name != nullptr; ++method)
        method->ml_doc = without_signature(method->ml_doc);
}

void document_types() {
    image_type.tp_getset = image_attributes;
    movie_type.tp_getset = movie_attributes;
#if !ORVO_PY3
    PyTypeObject *const types[] = {&image_type, &movie_type, &uuid_type};
    for (PyTypeObject *type : types) {
        type->tp_doc = without_signature(type->tp_doc);
        strip_text_signatures(type->tp_methods);
    }
#endif
}

}  // namespace orvo
