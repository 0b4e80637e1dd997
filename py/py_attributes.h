/* Attribute tables of orvo.image and orvo.movie.
 *
 * Each type lists its attributes once, in a PyGetSetDef array ending in an
 * entry with a null name: its tp_getattro and tp_setattro look names up in
 * the table, tp_getset hands the same table to help() and inspect, and the
 * entries whose names do not start with "__" are the type's __members__ and
 * the attribute part of dir(), in table order. A null setter makes an
 * attribute read-only. */
#ifndef ORVO_PY_ATTRIBUTES_H
#define ORVO_PY_ATTRIBUTES_H

// Python.h comes first, as the interpreter requires.
#include "py_compat.h"
// clang-format off
#include <cstddef>
// clang-format on

namespace orvo {

/* One table entry (Python 2.7 wants non-const names and docs). */
constexpr PyGetSetDef attribute_entry(const char *name, getter get, setter set, const char *doc) {
    return PyGetSetDef{const_cast<char *>(name), get, set, const_cast<char *>(doc), nullptr};
}

/* An attribute beside the type's own: read and set like the others and
 * listed by dir(), but not one of its __members__. */
extern char kBesideMembers;
constexpr PyGetSetDef extra_attribute_entry(const char *name, getter get, setter set, const char *doc) {
    return PyGetSetDef{const_cast<char *>(name), get, set, const_cast<char *>(doc), &kBesideMembers};
}

/* The table's closing entry. */
constexpr PyGetSetDef kEndOfAttributes = {nullptr, nullptr, nullptr, nullptr, nullptr};

/* The entry named `name`, or null. */
const PyGetSetDef *find_attribute(const PyGetSetDef *table, const char *name);

/* True for an attribute of the object itself, false for the "__" entries
 * (__members__, __methods__ ...) that describe the type. */
bool is_member(const PyGetSetDef &attribute);

/* True for the attributes listed in __members__: the members but those
 * beside them. */
bool is_listed_member(const PyGetSetDef &attribute);

/* Getter of __members__: the member names of the object's own type. */
PyObject *member_names(PyObject *self, void *closure);

/* For __dir__: the member names of the table, then `methods`. */
PyObject *member_and_method_names(const PyGetSetDef *table, const char *const *methods, size_t method_count);

template <size_t N>
PyObject *member_and_method_names(const PyGetSetDef *table, const char *const (&methods)[N]) {
    return member_and_method_names(table, methods, N);
}

}  // namespace orvo

#endif
