// Lookup and name lists over the types' attribute tables.
#include "py_attributes.h"

#include <cstring>
#include <new>
#include <vector>

#include "py_names.h"

namespace orvo {
namespace {

std::vector<const char *> collect_member_names(const PyGetSetDef *table, bool listed_only) {
    std::vector<const char *> names;
    for (const PyGetSetDef *entry = table; entry->name != nullptr; ++entry)
        if (listed_only ? is_listed_member(*entry) : is_member(*entry)) names.push_back(entry->name);
    return names;
}

}  // namespace

char kBesideMembers;

bool is_listed_member(const PyGetSetDef &attribute) {
    return is_member(attribute) && attribute.closure != &kBesideMembers;
}

const PyGetSetDef *find_attribute(const PyGetSetDef *table, const char *name) {
    for (const PyGetSetDef *entry = table; entry->name != nullptr; ++entry)
        if (std::strcmp(entry->name, name) == 0) return entry;
    return nullptr;
}

bool is_member(const PyGetSetDef &attribute) { return std::strncmp(attribute.name, "__", 2) != 0; }

PyObject *member_names(PyObject *self, void *) {
    try {
        const std::vector<const char *> names = collect_member_names(Py_TYPE(self)->tp_getset, true);
        return string_list(names.data(), names.size());
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
}

PyObject *member_and_method_names(const PyGetSetDef *table, const char *const *methods, size_t method_count) {
    try {
        const std::vector<const char *> names = collect_member_names(table, false);
        return attribute_and_method_list(names.data(), names.size(), methods, method_count);
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
}

}  // namespace orvo
