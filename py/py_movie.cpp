// orvo.movie: construction, destruction, attributes and their setter
// checks, the text form and errstr, over the library's movie
// (dyx_udil_movie.h). open/close live in py_movie_open.cpp, the frame
// transfer in py_movie_transfer.cpp.
#include "py_movie.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "dyx_string.h"
#include "py_attributes.h"
#include "py_deep.h"
#include "py_image_io.h"
#include "py_names.h"

namespace orvo {
namespace {

constexpr const char *kMethodNames[] = {"open",     "close",      "append", "getframe",
                                        "addcount", "resetcount", "errstr"};
constexpr const char *kAnaglyphNames[] = {"none", "red/blue", "blue/red", "red/cyan", "cyan/red"};

// ---- construction and destruction ---------------------------------------

// tp_new: orvo.movie() or orvo.movie(mode); keywords are ignored.
PyObject *movie_new(PyTypeObject *type, PyObject *args, PyObject *) {
    int mode = 0;
    if (!PyArg_ParseTuple(args, "|i:movie", &mode)) return nullptr;
    PyObject *object = type->tp_alloc(type, 0);
    if (object == nullptr) return nullptr;
    dyx_udil_movie_init(movie_state(object), mode != 0 ? 0 : 1);
    object_lock_init(&movie_lock(object));
    as_movie(object)->held_fd = -1;
    return object;
}

// tp_dealloc: an open movie is closed first so that its files are finished.
void movie_dealloc(PyObject *object) {
    MovieObject *self = as_movie(object);
    if (self->movie.is_open) dyx_udil_movie_close(&self->movie);
    movie_release_held_fd(object);
    object_lock_destroy(&self->lock);
    Py_TYPE(object)->tp_free(object);
}

// ---- text form --------------------------------------------------------------

// Appends one formatted line (a long file name is never cut).
template <typename... Args>
void add_line(std::string &text, const char *format, Args... args) {
    const int length = std::snprintf(nullptr, 0, format, args...);
    if (length <= 0) return;
    std::string line(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(&line[0], line.size(), format, args...);
    line.resize(static_cast<size_t>(length));
    text += line;
}

PyObject *movie_repr(PyObject *object) {
    ObjectLockGuard locked(movie_lock(object));
    const DyxUdilMovie *self = movie_state(object);
    try {
        std::string text;
        add_line(text, "Orvo Movie object <%lx>\n", reinterpret_cast<unsigned long>(object));
        add_line(text, "Filename:%s\n", self->filename);
        add_line(text, "Stereo:%d\n", self->stereo);
        add_line(text, "FPS:%f\n", static_cast<double>(self->fps));
        add_line(text, "Dimensions:%d %d\n", self->width, self->height);
        add_line(text, "Framerange:%d %d\n", self->framerange[0], self->framerange[1]);
        add_line(text, "Real frames:%d\n", self->realframes);
        const char *state = self->is_open ? "open" : "closed";
        if (self->read_mode) {
            add_line(text, "Readonly: %s\n", state);
            add_line(text, "Effective frames:%d\n", self->nframes);
            add_line(text, "Format:%s\n", self->format);
            add_line(text, "Intensity:%f %f\n", static_cast<double>(self->intensity[0]),
                     static_cast<double>(self->intensity[1]));
            add_line(text, "Repeat:%d %d\n", self->repeat[0], self->repeat[1]);
            add_line(text, "Flip:%d", self->flip);
        } else {
            add_line(text, "Writeonly: %s\n", state);
            add_line(text, "Pending frames:%d\n", self->nframes);
            add_line(text, "Anaglyph:%s\n", kAnaglyphNames[self->anaglyph]);
            add_line(text, "Format:%s\n", self->format);
            add_line(text, "Options:%s\n", self->options);
            if (self->tiling[0] != 0 || self->tiling[1] != 0)
                add_line(text, "Tiling:%d %d\n", self->tiling[0], self->tiling[1]);
        }
        return OrvoText_FromReasonAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
}

// ---- attributes -----------------------------------------------------------

PyObject *get_filename(PyObject *object, void *) {
    return OrvoText_FromString(movie_state(object)->filename);
}
PyObject *get_stereo(PyObject *object, void *) { return OrvoInt_FromLong(movie_state(object)->stereo); }
PyObject *get_fps(PyObject *object, void *) { return PyFloat_FromDouble(movie_state(object)->fps); }

PyObject *get_dims(PyObject *object, void *) {
    return Py_BuildValue("[ii]", movie_state(object)->width, movie_state(object)->height);
}

PyObject *get_tiling(PyObject *object, void *) {
    return Py_BuildValue("[ii]", movie_state(object)->tiling[0], movie_state(object)->tiling[1]);
}

PyObject *get_format(PyObject *object, void *) { return OrvoText_FromReason(movie_state(object)->format); }

PyObject *get_framerange(PyObject *object, void *) {
    return Py_BuildValue("[ii]", movie_state(object)->framerange[0], movie_state(object)->framerange[1]);
}

PyObject *get_options(PyObject *object, void *) { return OrvoText_FromString(movie_state(object)->options); }

PyObject *get_intensity(PyObject *object, void *) {
    const float *intensity = movie_state(object)->intensity;
    return Py_BuildValue("[dd]", static_cast<double>(intensity[0]), static_cast<double>(intensity[1]));
}

PyObject *get_repeat(PyObject *object, void *) {
    return Py_BuildValue("[ii]", movie_state(object)->repeat[0], movie_state(object)->repeat[1]);
}

PyObject *get_nframes(PyObject *object, void *) { return OrvoInt_FromLong(movie_state(object)->nframes); }
PyObject *get_anaglyph(PyObject *object, void *) { return OrvoInt_FromLong(movie_state(object)->anaglyph); }
PyObject *get_flip(PyObject *object, void *) { return OrvoInt_FromLong(movie_state(object)->flip); }
PyObject *get_realframes(PyObject *object, void *) {
    return OrvoInt_FromLong(movie_state(object)->realframes);
}
PyObject *get_methods(PyObject *, void *) { return string_list(kMethodNames); }

// The frame rate as a fractions.Fraction: the simplest fraction that gives
// back the stored rate, looked for first among denominators up to 1001 (so
// that 29.97... reads 30000/1001); None while unset.
PyObject *get_rate(PyObject *object, void *) {
    const float fps = movie_state(object)->fps;
    if (!(fps > 0.0f)) Py_RETURN_NONE;
    PyObject *fractions = PyImport_ImportModule("fractions");
    if (fractions == nullptr) return nullptr;
    PyObject *exact = PyObject_CallMethod(fractions, const_cast<char *>("Fraction"), const_cast<char *>("d"),
                                          static_cast<double>(fps));
    Py_DECREF(fractions);
    if (exact == nullptr) return nullptr;
    PyObject *rate = nullptr;
    for (const long limit : {1001L, 1000000L}) {
        Py_XDECREF(rate);
        rate = PyObject_CallMethod(exact, const_cast<char *>("limit_denominator"), const_cast<char *>("l"),
                                   limit);
        if (rate == nullptr) break;
        const double value = PyFloat_AsDouble(rate);
        if (value == -1.0 && PyErr_Occurred()) {
            Py_CLEAR(rate);
            break;
        }
        if (static_cast<float>(value) == fps) break;
    }
    Py_DECREF(exact);
    return rate;
}

int attribute_error(const char *message) {
    PyErr_SetString(PyExc_AttributeError, message);
    return -1;
}

// A pair is a tuple of two numbers ("ii" or "ff"); a list is refused.
bool parse_pair(PyObject *value, const char *format, void *first, void *second) {
    if (!PyTuple_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "a tuple of two numbers is required");
        return false;
    }
    return PyArg_ParseTuple(value, format, first, second) != 0;
}

// Text attributes take str or bytes (unicode in Python 2.7) as UTF-8; a NUL
// byte would silently cut the text, so it is refused with ValueError.
bool parse_text(PyObject *value, TextArgument &text, TextArgument::Names names = TextArgument::Names::kText) {
    return text.take(value, TextArgument::Nul::kRefused, names);
}

bool registered_format(const char *name) {
    for (UdilRecord *record = dyx_udil_list_first(); record != nullptr; record = dyx_udil_list_next(record))
        if (std::strcmp(record->name, name) == 0) return true;
    return false;
}

float unit_clamp(float value) {
    if (!(value >= 0.0f)) return 0.0f;  // NaN too
    return value > 1.0f ? 1.0f : value;
}

// Who may set an attribute. kBeforeOpen: either kind of movie, before open
// (a read movie's options are reader options).
enum class Who { kWrite, kRead, kBoth, kBeforeOpen };

// The checks every setter makes first, in this order: 0, or -1 with
// AttributeError set.
int check_may_set(DyxUdilMovie *self, PyObject *value, Who who) {
    if (value == nullptr) return attribute_error("movie attributes cannot be deleted");
    if (who == Who::kWrite && self->read_mode) return attribute_error("set only for write movies");
    if (who == Who::kRead && !self->read_mode) return attribute_error("set only for read movies");
    if (who != Who::kRead && self->is_open) {
        dyx_strncpy(self->error, "attribute cannot be set after open", sizeof self->error);
        return attribute_error("attribute cannot be set after open");
    }
    return 0;
}

// A table setter: the checks of its Who, then its own rules.
template <Who who, int (*set)(DyxUdilMovie *, PyObject *)>
int checked_set(PyObject *object, PyObject *value, void *) {
    DyxUdilMovie *self = movie_state(object);
    return check_may_set(self, value, who) == 0 ? set(self, value) : -1;
}

int set_filename(DyxUdilMovie *self, PyObject *value) {
    TextArgument name;
    if (!parse_text(value, name, TextArgument::Names::kPaths)) return -1;
    const char *text = name.text();
    if (std::strlen(text) >= sizeof self->filename) {
        PyErr_SetString(PyExc_ValueError, "file name longer than 1023 characters");
        return -1;
    }
    dyx_strncpy(self->filename, text, sizeof self->filename);
    // A read movie's format only names the plug-in of the file opened
    // before; a new file is matched by its own suffix.
    if (self->read_mode) self->format[0] = '\0';
    return 0;
}

int set_stereo(DyxUdilMovie *self, PyObject *value) {
    int stereo = 0;
    if (!PyArg_Parse(value, "i", &stereo)) return -1;
    self->stereo = stereo != 0;
    return 0;
}

int set_fps(DyxUdilMovie *self, PyObject *value) {
    float fps = 0;
    if (!PyArg_Parse(value, "f", &fps)) return -1;
    self->fps = !(fps >= 0.01f) ? -1.0f : fps > 60.0f ? 60.0f : fps;
    return 0;
}

// The rate beside `fps`: a number, a fractions.Fraction or a (numerator,
// denominator) tuple, 0.5 to 1000 frames per second, stored as given
// (above the 60 that `fps` keeps).
int set_rate(DyxUdilMovie *self, PyObject *value) {
    double rate = 0.0;
    if (PyTuple_Check(value)) {
        long numerator = 0, denominator = 0;
        if (!PyArg_ParseTuple(value, "ll", &numerator, &denominator)) return -1;
        rate = denominator != 0 ? double(numerator) / double(denominator) : -1.0;
    } else {
        rate = PyFloat_AsDouble(value);
        if (rate == -1.0 && PyErr_Occurred()) return -1;
    }
    // open() writes a rate below 0.5 as 30.
    if (!(rate >= 0.5 && rate <= 1000.0)) {
        PyErr_SetString(PyExc_ValueError, "a frame rate is 0.5 to 1000 frames per second");
        return -1;
    }
    self->fps = static_cast<float>(rate);
    return 0;
}

int set_dims(DyxUdilMovie *self, PyObject *value) {
    int width = 0, height = 0;
    if (!parse_pair(value, "ii", &width, &height)) return -1;
    dyx_udil_movie_set_dims(self, width, height);
    return 0;
}

int set_tiling(DyxUdilMovie *self, PyObject *value) {
    int across = 0, down = 0;
    if (!parse_pair(value, "ii", &across, &down)) return -1;
    dyx_udil_movie_set_tiling(self, across, down);
    return 0;
}

int set_format(DyxUdilMovie *self, PyObject *value) {
    TextArgument text;
    if (!parse_text(value, text)) return -1;
    if (!registered_format(text.text())) return attribute_error("unknown format");
    dyx_strncpy(self->format, text.text(), sizeof self->format);
    return 0;
}

// Longer option texts are cut.
int set_options(DyxUdilMovie *self, PyObject *value) {
    TextArgument text;
    if (!parse_text(value, text)) return -1;
    dyx_strncpy(self->options, text.text(), sizeof self->options);
    return 0;
}

int set_anaglyph(DyxUdilMovie *self, PyObject *value) {
    int anaglyph = 0;
    if (!PyArg_Parse(value, "i", &anaglyph)) return -1;
    if (anaglyph >= 0 && anaglyph <= 4) self->anaglyph = anaglyph;
    return 0;
}

// nframes is a 32-bit count (and len() of the movie): a frame range with
// repeats beyond it is refused rather than wrapped.
int too_many_frames() {
    PyErr_SetString(PyExc_OverflowError, "the frame range and repeats give more than 2147483647 frames");
    return -1;
}

int set_framerange(DyxUdilMovie *self, PyObject *value) {
    int first = 0, second = 0;
    if (!parse_pair(value, "ii", &first, &second)) return -1;
    if (dyx_udil_movie_set_framerange(self, first, second) != 0) return too_many_frames();
    return 0;
}

int set_repeat(DyxUdilMovie *self, PyObject *value) {
    int first = 0, second = 0;
    if (!parse_pair(value, "ii", &first, &second)) return -1;
    if (dyx_udil_movie_set_repeat(self, first, second) != 0) return too_many_frames();
    return 0;
}

int set_intensity(DyxUdilMovie *self, PyObject *value) {
    float start = 0, end = 0;
    if (!parse_pair(value, "ff", &start, &end)) return -1;
    self->intensity[0] = unit_clamp(start);
    self->intensity[1] = unit_clamp(end);
    return 0;
}

int set_flip(DyxUdilMovie *self, PyObject *value) {
    int flip = 0;
    if (!PyArg_Parse(value, "i", &flip)) return -1;
    self->flip = flip & 3;
    return 0;
}

// Computed on each read: the description may stop and restart the read-ahead.
PyObject *get_info(PyObject *object, void *) { return movie_info(object); }

// The attributes, in the order of __members__; nframes and realframes are
// read-only.
PyGetSetDef movie_attributes[] = {
    attribute_entry("filename", get_filename, checked_set<Who::kBoth, set_filename>,
                    "file, numbered sequence template or .mtm name; set before open"),
    attribute_entry("stereo", get_stereo, checked_set<Who::kWrite, set_stereo>,
                    "write: 1 writes both eyes (before open); read: 1 when the source is stereo"),
    attribute_entry("fps", get_fps, checked_set<Who::kWrite, set_fps>,
                    "frame rate; write movies, before open (-1.0: unset, 30 at open)"),
    attribute_entry("dims", get_dims, checked_set<Who::kWrite, set_dims>,
                    "[width, height] of the frames; write movies set a tuple before open"),
    attribute_entry("tiling", get_tiling, checked_set<Who::kWrite, set_tiling>,
                    "[across, down] tiles; more than one writes a Multi-Tile Movie"),
    attribute_entry("format", get_format, checked_set<Who::kWrite, set_format>,
                    "codec plug-in name; write movies, before open; after open the codec in use"),
    attribute_entry("framerange", get_framerange, checked_set<Who::kRead, set_framerange>,
                    "read: [first, last] frames used, -1 for the file's own; any time"),
    attribute_entry("options", get_options, checked_set<Who::kBeforeOpen, set_options>,
                    "codec options \"name value ...\"; write movies, before open"),
    attribute_entry("intensity", get_intensity, checked_set<Who::kRead, set_intensity>,
                    "read: [start, end] brightness ramp, each 0.0 to 1.0"),
    attribute_entry("repeat", get_repeat, checked_set<Who::kRead, set_repeat>,
                    "read: [first, last] extra copies of the first and the last frame"),
    attribute_entry("nframes", get_nframes, nullptr,
                    "read: frames the movie yields; write: frames announced"),
    attribute_entry("anaglyph", get_anaglyph, checked_set<Who::kWrite, set_anaglyph>,
                    "MOVIE_ANAGLYPH_* of a stereo write movie, before open"),
    attribute_entry("flip", get_flip, checked_set<Who::kRead, set_flip>,
                    "read: DYX_FLIP_* applied to every frame"),
    attribute_entry("realframes", get_realframes, nullptr, "read: frames in the file; write: frames written"),
    extra_attribute_entry("rate", get_rate, checked_set<Who::kWrite, set_rate>,
                          "frame rate as a fractions.Fraction (None while unset); write movies set a "
                          "number, a Fraction or (numerator, denominator) of 0.5 to 1000 before open"),
    extra_attribute_entry("info", get_info, nullptr,
                          "read: what the open movie is, as a dict (None when closed or writing)"),
    attribute_entry("__members__", member_names, nullptr, "the attribute names"),
    attribute_entry("__methods__", get_methods, nullptr, "the method names"),
    kEndOfAttributes,
};

PyObject *movie_getattro(PyObject *object, PyObject *name_object) {
    const char *name = OrvoText_AsUTF8(name_object);
    if (name == nullptr) return nullptr;
    const PyGetSetDef *attribute = find_attribute(movie_attributes, name);
    if (attribute != nullptr) {
        ObjectLockGuard locked(movie_lock(object));  // another thread may be changing the object
        return attribute->get(object, attribute->closure);
    }
    return PyObject_GenericGetAttr(object, name_object);
}

// tp_setattro: unknown names, then read-only ones, then the setter's own
// checks (check_may_set) and rules.
int movie_setattro(PyObject *object, PyObject *name_object, PyObject *value) {
    const char *name = OrvoText_AsUTF8(name_object);
    if (name == nullptr) return -1;
    const PyGetSetDef *attribute = find_attribute(movie_attributes, name);
    if (attribute == nullptr || !is_member(*attribute)) return attribute_error(name);
    if (attribute->set == nullptr) return attribute_error("read-only attribute");
    ObjectLockGuard locked(movie_lock(object));
    return attribute->set(object, value, attribute->closure);
}

// ---- methods ----------------------------------------------------------------

PyObject *movie_errstr(PyObject *object, PyObject *) { return take_error_text(movie_state(object)->error); }

// _readas(format): a closed read movie opens with the codec `format` names
// (a plug-in name or a suffix) instead of the one its file name's suffix
// names; for files whose names carry none.
PyObject *movie_readas(PyObject *object, PyObject *args) {
    DyxUdilMovie *self = movie_state(object);
    const char *format = nullptr;
    if (!PyArg_ParseTuple(args, "s:_readas", &format)) return nullptr;
    if (!self->read_mode || self->is_open) {
        PyErr_SetString(PyExc_AttributeError, "set only for read movies before open");
        return nullptr;
    }
    const UdilRecord *codec = codec_for_format(format);
    if (codec == nullptr) {
        PyErr_Format(PyExc_ValueError, "no codec reads the format '%s'", format);
        return nullptr;
    }
    dyx_strncpy(self->format, codec->name, sizeof self->format);
    Py_RETURN_NONE;
}

// _hold(fd): the movie takes the descriptor of the file in memory it reads
// (plug-ins may open the file again by its /proc/self/fd name while the
// movie is open) and closes it when the movie closes.
PyObject *movie_hold(PyObject *object, PyObject *args) {
    int fd = -1;
    if (!PyArg_ParseTuple(args, "i:_hold", &fd)) return nullptr;
    movie_release_held_fd(object);
    as_movie(object)->held_fd = fd;
    Py_RETURN_NONE;
}

#if ORVO_PY3
PyObject *movie_dir(PyObject *, PyObject *) {
    return member_and_method_names(movie_attributes, kMethodNames);
}
#endif

// Every method but __dir__ holds the movie's lock for the whole call; a
// progress callback that uses the movie again from the same thread passes.
template <PyObject *(*method)(PyObject *, PyObject *)>
constexpr PyCFunction locked = locked_method<movie_lock, method>;
template <PyObject *(*method)(PyObject *, PyObject *, PyObject *)>
constexpr PyObject *(*locked_kw)(PyObject *, PyObject *, PyObject *) = locked_method_kw<movie_lock, method>;

PyMethodDef movie_methods[] = {
    {"open", locked<movie_open>, METH_VARARGS, "open($self, /)\n--\n\nOpen file to read or write"},
    {"close", locked<movie_close>, METH_VARARGS, "close($self, /)\n--\n\nClose movie file"},
    {"append", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(locked_kw<movie_append>)),
     METH_VARARGS | METH_KEYWORDS,
     "append($self, arg1, object=None, method=None, smooth=0)\n--\n\nAdd movie or image to file"},
    {"getframe", locked<movie_getframe>, METH_VARARGS, "getframe($self, n, /)\n--\n\nGet image from movie"},
    {"_deeplayout", locked<movie_deeplayout>, METH_VARARGS,
     "_deeplayout($self, n, /)\n--\n\nLayout of frame n at the file's own depth"},
    {"_getdeep", locked<movie_getdeep>, METH_VARARGS,
     "_getdeep($self, n, /)\n--\n\nFrame n at the file's own depth"},
    {"_appenddeep", locked<movie_appenddeep>, METH_VARARGS,
     "_appenddeep($self, pixels, width, height, channels, kind, right=None, /)\n--\n\nAppend one deep frame"},
    {"getarray", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(locked_kw<movie_getarray>)),
     METH_VARARGS | METH_KEYWORDS,
     "getarray($self, n, copy=False)\n--\n\n"
     "Frame n as a (height, width[, components]) uint8 NumPy array, top row first; "
     "a (left, right) tuple for a stereo movie. The array is a view of the new "
     "frame's pixels; copy=True gives a detached C-contiguous copy"},
    {"addcount", locked<movie_addcount>, METH_VARARGS,
     "addcount($self, x, /)\n--\n\nAdd a number of frames to a movie"},
    {"resetcount", locked<movie_resetcount>, METH_VARARGS,
     "resetcount($self, /)\n--\n\nReset the number of frames added to a movie"},
    {"errstr", locked<movie_errstr>, METH_VARARGS, "errstr($self, /)\n--\n\nGet last error string"},
    {"_open_uncounted", locked<movie_open_uncounted>, METH_VARARGS,
     "_open_uncounted($self, /)\n--\n\nOpen a write movie that takes frames until it is closed"},
    {"_hold", locked<movie_hold>, METH_VARARGS,
     "_hold($self, fd, /)\n--\n\nClose this descriptor when the movie closes"},
    {"_readas", locked<movie_readas>, METH_VARARGS,
     "_readas($self, format, /)\n--\n\nRead with the codec the format names"},
    {"__enter__", locked<movie_enter>, METH_NOARGS,
     "__enter__($self, /)\n--\n\nReturn the movie itself for a with block"},
    {"__exit__", locked<movie_exit>, METH_VARARGS,
     "__exit__($self, exc_type=None, exc_value=None, traceback=None, /)\n--\n\n"
     "Close the movie at the end of a with block"},
#if ORVO_PY3
    {"__dir__", movie_dir, METH_NOARGS, "__dir__($self, /)\n--\n\nAttribute and method names"},
#endif
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void movie_release_held_fd(PyObject *object) {
    MovieObject *self = as_movie(object);
    if (self->held_fd >= 0) ::close(self->held_fd);
    self->held_fd = -1;
}

// The type object; slots the type does not use stay zero.
PyTypeObject movie_type = [] {
    PyTypeObject type{};
    reinterpret_cast<PyObject *>(&type)->ob_refcnt = 1;  // a static object is never freed
    type.tp_name = "orvo.movie";
    type.tp_basicsize = sizeof(MovieObject);
    type.tp_dealloc = movie_dealloc;     // closes an open movie
    type.tp_repr = movie_repr;           // the multi-line description
    type.tp_getattro = movie_getattro;   // the attribute table, then the methods
    type.tp_setattro = movie_setattro;   // the table's setters with their rules
    type.tp_getset = movie_attributes;   // the same table, for help()
    type.tp_flags = Py_TPFLAGS_DEFAULT;  // not subclassable
    type.tp_doc = "movie(mode=0, /)\n--\n\nMovie objects";
    type.tp_methods = movie_methods;
    type.tp_as_sequence = &movie_sequence;  // len() and frames by index
    type.tp_iter = PySeqIter_New;           // for loops over the frames by index, as an __iter__
    type.tp_new = movie_new;
    return type;
}();

}  // namespace orvo
