// What help() shows of the types on Python 2.7: it has no text signatures,
// so the signature lines are cut off the doc strings there. The attribute
// descriptors come from each type's attribute table (tp_getset).
#include "py_type_docs.h"

#include <cstring>

#include "py_image.h"
#include "py_movie.h"
#include "py_uuid.h"

namespace orvo {
namespace {

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
#if !ORVO_PY3
    PyTypeObject *const types[] = {&image_type, &movie_type, &uuid_type};
    for (PyTypeObject *type : types) {
        type->tp_doc = without_signature(type->tp_doc);
        strip_text_signatures(type->tp_methods);
    }
#endif
}

}  // namespace orvo
