// orvo.uuid: a Python object around one OSSP uuid library object.
#include "py_uuid.h"

#include <ossp/uuid.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "py_names.h"
#include "py_object_lock.h"
#include "py_uuid_digest.h"

namespace orvo {
namespace {

constexpr size_t kTextLength = 36;  // 8-4-4-4-12 hexadecimal digits

// clang-format off
typedef struct {
    PyObject_HEAD
    uuid_t *uuid;  // owned: made at construction, destroyed at deallocation
} UuidObject;
// clang-format on

UuidObject *as_uuid(PyObject *object) { return reinterpret_cast<UuidObject *>(object); }

// The low 32 bits of an int argument.
unsigned int mode_of(PyObject *object) {
#if ORVO_PY3
    const unsigned long value = PyLong_AsUnsignedLongMask(object);
#else
    const unsigned long value =
        PyInt_Check(object) ? PyInt_AsUnsignedLongMask(object) : PyLong_AsUnsignedLongMask(object);
#endif
    if (PyErr_Occurred()) PyErr_Clear();
    return static_cast<unsigned int>(value & 0xffffffffu);
}

// The bytes of a text or name argument: str or bytes in Python 3, str or
// unicode in Python 2.7, as UTF-8. Null (no exception) for other types.
bool take_text(PyObject *object, TextArgument &text) {
    if (text.take(object, TextArgument::Nul::kAllowed)) return true;
    PyErr_Clear();  // unusable arguments give the nil UUID
    return false;
}

// The URL name space 6ba7b811-9dad-11d1-80b4-00c04fd430c8.
constexpr uint8_t kUrlNameSpace[16] = {0x6b, 0xa7, 0xb8, 0x11, 0x9d, 0xad, 0x11, 0xd1,
                                       0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8};

// A name-based UUID (version 3, MD5, or 5, SHA-1) in the URL name space.
// The digest is taken here over the whole name: the library's own takes a
// NUL-terminated name, which would end a name at its first NUL byte.
void make_from_name(uuid_t *uuid, unsigned int mode, const TextArgument &name) {
    if (mode != UUID_MAKE_V3 && mode != UUID_MAKE_V5) return;
    std::string message(reinterpret_cast<const char *>(kUrlNameSpace), sizeof kUrlNameSpace);
    message.append(name.text(), name.size());
    const uint8_t *bytes = reinterpret_cast<const uint8_t *>(message.data());
    uint8_t digest[20];
    if (mode == UUID_MAKE_V3)
        md5_digest(bytes, message.size(), digest);
    else
        sha1_digest(bytes, message.size(), digest);
    const unsigned version = mode == UUID_MAKE_V3 ? 3 : 5;
    digest[6] = static_cast<uint8_t>((digest[6] & 0x0f) | (version << 4));
    digest[8] = static_cast<uint8_t>((digest[8] & 0x3f) | 0x80);  // the RFC 4122 variant
    uuid_import(uuid, UUID_FMT_BIN, digest, UUID_LEN_BIN);
}

// tp_new: never raises for unusable arguments; they give the nil UUID.
PyObject *uuid_new(PyTypeObject *type, PyObject *args, PyObject *) {
    PyObject *object = type->tp_alloc(type, 0);
    if (object == nullptr) return nullptr;
    UuidObject *self = as_uuid(object);
    if (uuid_create(&self->uuid) != UUID_RC_OK) {
        self->uuid = nullptr;
        Py_DECREF(object);
        return PyErr_NoMemory();
    }
    const Py_ssize_t count = PyTuple_GET_SIZE(args);
    try {
        if (count == 1) {
            PyObject *argument = PyTuple_GET_ITEM(args, 0);
            TextArgument text;
            if (!OrvoInt_Check(argument) && take_text(argument, text)) {
                char form[kTextLength + 1] = {};
                std::memcpy(form, text.text(), std::min(text.size(), kTextLength));
                uuid_import(self->uuid, UUID_FMT_STR, form, std::strlen(form));
            } else if (OrvoInt_Check(argument)) {
                const unsigned int mode = mode_of(argument);
                if (mode == UUID_MAKE_V1 || mode == UUID_MAKE_V4) {
                    // Reads the system's random source and interfaces.
                    GilRelease released;
                    uuid_make(self->uuid, mode);
                }
            }
        } else if (count >= 2) {
            PyObject *mode_argument = PyTuple_GET_ITEM(args, 0);
            TextArgument name;
            if (OrvoInt_Check(mode_argument) && take_text(PyTuple_GET_ITEM(args, 1), name))
                make_from_name(self->uuid, mode_of(mode_argument), name);
        }
    } catch (const std::bad_alloc &) {
        Py_DECREF(object);
        return PyErr_NoMemory();
    }
    return object;
}

void uuid_dealloc(PyObject *object) {
    UuidObject *self = as_uuid(object);
    if (self->uuid != nullptr) uuid_destroy(self->uuid);
    Py_TYPE(object)->tp_free(object);
}

PyObject *uuid_text(PyObject *object) {
    char *text = nullptr;
    if (uuid_export(as_uuid(object)->uuid, UUID_FMT_STR, &text, nullptr) != UUID_RC_OK || text == nullptr)
        return OrvoText_FromString("error");
    PyObject *result = OrvoText_FromStringAndSize(text, static_cast<Py_ssize_t>(strnlen(text, kTextLength)));
    std::free(text);
    return result;
}

int uuid_order(PyObject *a, PyObject *b) {
    int result = 0;
    uuid_compare(as_uuid(a)->uuid, as_uuid(b)->uuid, &result);
    return result < 0 ? -1 : result > 0 ? 1 : 0;
}

#if ORVO_PY3
PyObject *uuid_richcompare(PyObject *a, PyObject *b, int op) {
    if (!PyObject_TypeCheck(a, &uuid_type) || !PyObject_TypeCheck(b, &uuid_type)) Py_RETURN_NOTIMPLEMENTED;
    Py_RETURN_RICHCOMPARE(uuid_order(a, b), 0, op);
}
#endif

// Hash of the 16 bytes, so that equal UUIDs hash alike.
#if ORVO_PY3
Py_hash_t
#else
long
#endif
uuid_hash(PyObject *object) {
    unsigned char bytes[UUID_LEN_BIN];
    void *out = bytes;
    size_t length = sizeof bytes;
    if (uuid_export(as_uuid(object)->uuid, UUID_FMT_BIN, &out, &length) != UUID_RC_OK)
        std::memset(bytes, 0, sizeof bytes);
    unsigned long long hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
    long value = static_cast<long>(hash >> 1);
    return value == -1 ? -2 : value;
}

PyObject *uuid_reduce(PyObject *object, PyObject *) {
    PyObject *text = uuid_text(object);
    if (text == nullptr) return nullptr;
    return Py_BuildValue("(O(N))", Py_TYPE(object), text);
}

PyMethodDef uuid_methods[] = {
    {"__reduce__", uuid_reduce, METH_NOARGS, "__reduce__($self, /)\n--\n\n__reduce__() -> (cls,state)"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

// The type object; slots the type does not use stay zero.
PyTypeObject uuid_type = [] {
    PyTypeObject type{};
    reinterpret_cast<PyObject *>(&type)->ob_refcnt = 1;  // a static object is never freed
    type.tp_name = "orvo.uuid";
    type.tp_basicsize = sizeof(UuidObject);
    type.tp_dealloc = uuid_dealloc;  // destroys the library object
    type.tp_repr = uuid_text;        // the 36-character text form
    type.tp_hash = uuid_hash;        // by value
    type.tp_flags = Py_TPFLAGS_DEFAULT;
    type.tp_doc = "uuid(value=None, name=None, /)\n--\n\nUUID object";
    type.tp_methods = uuid_methods;
    type.tp_new = uuid_new;
#if ORVO_PY3
    type.tp_richcompare = uuid_richcompare;
#else
    type.tp_compare = uuid_order;
#endif
    return type;
}();

}  // namespace orvo

void orvo_uuid_register(PyObject *module) {
    PyModule_AddIntConstant(module, "UUID_MAKE_V1", UUID_MAKE_V1);
    PyModule_AddIntConstant(module, "UUID_MAKE_V3", UUID_MAKE_V3);
    PyModule_AddIntConstant(module, "UUID_MAKE_V4", UUID_MAKE_V4);
    PyModule_AddIntConstant(module, "UUID_MAKE_V5", UUID_MAKE_V5);
    PyModule_AddIntConstant(module, "UUID_MAKE_MC", UUID_MAKE_MC);
}
