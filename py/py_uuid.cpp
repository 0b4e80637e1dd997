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

// hashlib.new(name, data): data is bytes in Python 3, str in Python 2.
constexpr const char *kNewFormat = ORVO_PY3 ? "sy#" : "ss#";

// The digest by the standard library's hashlib ("md5" or "sha1") of the
// bytes, into `out` (at least 16 bytes are kept); false with an exception
// set when hashlib fails.
bool hashlib_digest(const char *algorithm, const std::string &message, uint8_t out[16]) {
    PyObject *hashlib = PyImport_ImportModule("hashlib");
    if (hashlib == nullptr) return false;
    PyObject *hash = PyObject_CallMethod(hashlib, const_cast<char *>("new"), const_cast<char *>(kNewFormat),
                                         algorithm, message.data(), static_cast<Py_ssize_t>(message.size()));
    Py_DECREF(hashlib);
    PyObject *digest =
        hash != nullptr ? PyObject_CallMethod(hash, const_cast<char *>("digest"), nullptr) : nullptr;
    Py_XDECREF(hash);
    if (digest == nullptr) return false;
    const bool whole = OrvoBytes_Check(digest) && OrvoBytes_Size(digest) >= 16;
    if (whole) std::memcpy(out, OrvoBytes_AsString(digest), 16);
    Py_DECREF(digest);
    if (!whole) PyErr_SetString(PyExc_RuntimeError, "hashlib gave a digest shorter than 16 bytes");
    return whole;
}

// A name-based UUID (version 3, MD5, or 5, SHA-1) in the URL name space,
// digested over the whole name (NUL bytes included) by hashlib. False with
// an exception set when hashlib fails; other modes leave the nil UUID.
bool make_from_name(uuid_t *uuid, unsigned int mode, const TextArgument &name) {
    if (mode != UUID_MAKE_V3 && mode != UUID_MAKE_V5) return true;
    std::string message(reinterpret_cast<const char *>(kUrlNameSpace), sizeof kUrlNameSpace);
    message.append(name.text(), name.size());
    uint8_t digest[16];
    if (!hashlib_digest(mode == UUID_MAKE_V3 ? "md5" : "sha1", message, digest)) return false;
    const unsigned version = mode == UUID_MAKE_V3 ? 3 : 5;
    digest[6] = static_cast<uint8_t>((digest[6] & 0x0f) | (version << 4));
    digest[8] = static_cast<uint8_t>((digest[8] & 0x3f) | 0x80);  // the RFC 4122 variant
    uuid_import(uuid, UUID_FMT_BIN, digest, UUID_LEN_BIN);
    return true;
}

// The 16 bytes of a uuid.UUID of the standard library into `out`; false
// (no exception) for any other object.
bool standard_uuid_bytes(PyObject *object, uint8_t out[16]) {
    PyObject *module = PyImport_ImportModule("uuid");
    PyObject *type = module != nullptr ? PyObject_GetAttrString(module, "UUID") : nullptr;
    Py_XDECREF(module);
    const int is_standard = type != nullptr ? PyObject_IsInstance(object, type) : -1;
    Py_XDECREF(type);
    PyObject *bytes = is_standard == 1 ? PyObject_GetAttrString(object, "bytes") : nullptr;
    const bool whole = bytes != nullptr && OrvoBytes_Check(bytes) && OrvoBytes_Size(bytes) == 16;
    if (whole) std::memcpy(out, OrvoBytes_AsString(bytes), 16);
    Py_XDECREF(bytes);
    PyErr_Clear();
    return whole;
}

// The 16 bytes of a UUID object (nil when the library cannot give them).
void bytes_of(PyObject *object, uint8_t out[UUID_LEN_BIN]) {
    void *target = out;
    size_t length = UUID_LEN_BIN;
    if (uuid_export(as_uuid(object)->uuid, UUID_FMT_BIN, &target, &length) != UUID_RC_OK)
        std::memset(out, 0, UUID_LEN_BIN);
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
            uint8_t standard[UUID_LEN_BIN];
            if (standard_uuid_bytes(argument, standard)) {
                uuid_import(self->uuid, UUID_FMT_BIN, standard, UUID_LEN_BIN);
            } else if (!OrvoInt_Check(argument) && take_text(argument, text)) {
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
            if (OrvoInt_Check(mode_argument) && take_text(PyTuple_GET_ITEM(args, 1), name) &&
                !make_from_name(self->uuid, mode_of(mode_argument), name)) {
                Py_DECREF(object);
                return nullptr;
            }
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

#if !ORVO_PY3
// Python 2's three-way comparison between two orvo.uuid objects.
int uuid_order(PyObject *a, PyObject *b) {
    int result = 0;
    uuid_compare(as_uuid(a)->uuid, as_uuid(b)->uuid, &result);
    return result < 0 ? -1 : result > 0 ? 1 : 0;
}
#endif

// The 16 bytes of either kind of UUID; false for any other object.
bool comparable_bytes(PyObject *object, uint8_t out[UUID_LEN_BIN]) {
    if (PyObject_TypeCheck(object, &uuid_type)) {
        bytes_of(object, out);
        return true;
    }
    return standard_uuid_bytes(object, out);
}

// Orders like uuid.UUID, by the 128-bit number, which is the order of the
// bytes (and the library's own order), so that both kinds of UUID compare.
PyObject *uuid_richcompare(PyObject *a, PyObject *b, int op) {
    uint8_t left[UUID_LEN_BIN], right[UUID_LEN_BIN];
    if (!comparable_bytes(a, left) || !comparable_bytes(b, right)) Py_RETURN_NOTIMPLEMENTED;
    const int order = std::memcmp(left, right, UUID_LEN_BIN);
    Py_RETURN_RICHCOMPARE(order, 0, op);
}

// As uuid.UUID hashes: the hash of the 128-bit number, so that equal UUIDs
// of either kind hash alike (as keys of one dict or set).
#if ORVO_PY3
Py_hash_t
#else
long
#endif
uuid_hash(PyObject *object) {
    uint8_t bytes[UUID_LEN_BIN];
    bytes_of(object, bytes);
    PyObject *number = _PyLong_FromByteArray(bytes, UUID_LEN_BIN, 0, 0);
    if (number == nullptr) return -1;
    const auto hash = PyObject_Hash(number);
    Py_DECREF(number);
    return hash;
}

PyObject *get_bytes(PyObject *object, void *) {
    uint8_t bytes[UUID_LEN_BIN];
    bytes_of(object, bytes);
    return OrvoBytes_FromStringAndSize(reinterpret_cast<const char *>(bytes), UUID_LEN_BIN);
}

PyObject *get_hex(PyObject *object, void *) {
    uint8_t bytes[UUID_LEN_BIN];
    bytes_of(object, bytes);
    static const char kDigits[] = "0123456789abcdef";
    char text[2 * UUID_LEN_BIN];
    for (size_t i = 0; i < UUID_LEN_BIN; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 15];
    }
    return OrvoText_FromStringAndSize(text, sizeof text);
}

PyGetSetDef uuid_getset[] = {
    {const_cast<char *>("bytes"), get_bytes, nullptr,
     const_cast<char *>("the 16 bytes, most significant first (as uuid.UUID.bytes)"), nullptr},
    {const_cast<char *>("hex"), get_hex, nullptr,
     const_cast<char *>("the 32 lower-case hexadecimal digits (as uuid.UUID.hex)"), nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

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
    type.tp_getset = uuid_getset;  // bytes, hex
    type.tp_new = uuid_new;
    type.tp_richcompare = uuid_richcompare;  // also against uuid.UUID
#if !ORVO_PY3
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
