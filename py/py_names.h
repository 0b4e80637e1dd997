/* Name lists and error strings shared by the image and movie types. */
#ifndef ORVO_PY_NAMES_H
#define ORVO_PY_NAMES_H

// Python.h comes first, as the interpreter requires.
#include "py_compat.h"
// clang-format off
#include <cstddef>
#include <string>
#include <vector>
// clang-format on

namespace orvo {

/* A new list of the texts, or null with an exception set. */
PyObject *string_list(const char *const *names, size_t count);

template <size_t N>
PyObject *string_list(const char *const (&names)[N]) {
    return string_list(names, N);
}

/* The attribute names followed by the method names, for __dir__. */
PyObject *attribute_and_method_list(const char *const *members, size_t member_count,
                                    const char *const *methods, size_t method_count);

template <size_t M, size_t N>
PyObject *attribute_and_method_list(const char *const (&members)[M], const char *const (&methods)[N]) {
    return attribute_and_method_list(members, M, methods, N);
}

/* errstr(): the object's error text as a string; the text is then cleared. */
PyObject *take_error_text(char *error);

/* A text or name argument as UTF-8 bytes. Accepted: str and bytes in
 * Python 3, str and unicode in Python 2.7 (unicode is encoded as UTF-8);
 * with Names::kPaths also an os.PathLike (Python 3.6 and later). The
 * bytes stay valid while the TextArgument lives. */
class TextArgument {
public:
    enum class Nul { kRefused, kAllowed };
    enum class Names { kText, kPaths };

    TextArgument() = default;
    ~TextArgument() { Py_XDECREF(owner_); }
    TextArgument(const TextArgument &) = delete;
    TextArgument &operator=(const TextArgument &) = delete;

    /* False with TypeError for another type, UnicodeEncodeError for a str
     * that is no valid Unicode, or ValueError "embedded null character"
     * for a NUL byte when NUL bytes are refused. */
    bool take(PyObject *object, Nul nul = Nul::kRefused, Names names = Names::kText);

    const char *text() const { return text_; }
    size_t size() const { return size_; }

private:
    PyObject *owner_ = nullptr;  // keeps text_ alive
    const char *text_ = "";
    size_t size_ = 0;
};

/* "O&" converters filling a TextArgument: text without NUL bytes, and file
 * names (also os.PathLike) without NUL bytes. */
int text_converter(PyObject *object, void *argument);
int path_converter(PyObject *object, void *argument);

/* orvo.OrvoWarning, a UserWarning: the category of every warning the
 * library gives a script. Null until create_warning_type has run. */
extern PyObject *orvo_warning_type;

/* Creates orvo.OrvoWarning and adds it to the module; false with an
 * exception set when it cannot be made. */
bool create_warning_type(PyObject *module);

/* Makes the library's logger hand each line to the LoggedWarnings of the
 * thread that logged it (lines of a thread without one are dropped, as
 * with no logger at all). Called once at import, after the plug-in scan,
 * before any other thread can use the library: the logger is set once. */
void install_warning_router();

/* Collects the warnings the library logs on this thread while it lives,
 * instead of printing them, so that they reach the script through Python's
 * warnings module. Lines other threads log meanwhile are not its own and
 * are not collected; errors are dropped, as before. Use with the
 * interpreter's lock held. */
class LoggedWarnings {
public:
    LoggedWarnings();
    ~LoggedWarnings();
    LoggedWarnings(const LoggedWarnings &) = delete;
    LoggedWarnings &operator=(const LoggedWarnings &) = delete;

    /* Stops collecting and issues each warning as orvo.OrvoWarning, at the
     * script's line that made the call. False with the exception set when
     * a warnings filter turned one into an error; later ones are dropped. */
    bool deliver();

    /* The logger's callback: collects a warning line for this thread's
     * current collector. */
    static int collect(void *unused, const char *line, ...);

private:
    void stop();

    std::vector<std::string> lines_;
    bool collecting_ = true;
    LoggedWarnings *previous_;  // the thread's collector before this one
};

}  // namespace orvo

#endif
