/* Where the module looks for codec plug-ins (internal, C++). */
#ifndef DYX_UDIL_DIR_H
#define DYX_UDIL_DIR_H

#include <cstddef>

namespace udil {

/* Size of the plug-in directory buffer; the directory must be shorter. */
constexpr size_t kPluginDirSize = 8000;

/* Writes the plug-in directory into `out` (`size` bytes): `override_path`
 * verbatim when it is not null (the QEV_UDILPATH setting), else
 * "<home>/vorp32/machines/<arch>/QEV/lib/udil". Returns false, with an
 * empty `out`, when the directory does not fit. */
bool choose_plugin_directory(const char *override_path, const char *home, const char *arch, char *out,
                             size_t size);

/* Plug-ins built by orvo's own build (plugins/sdk/UdilPlugin.cmake) carry
 * the orvo version in an ELF note: owner "orvo", this type, the version
 * text with its NUL as the descriptor. */
constexpr unsigned kVersionNoteType = 1;

/* Reads the orvo version note of the plug-in file `path` into `out`
 * (`size` bytes) without loading the file. False, with an empty `out`,
 * when the file has no such note (a plug-in of someone else, or one built
 * before plug-ins were marked), is no 64-bit ELF file or cannot be read. */
bool read_version_mark(const char *path, char *out, size_t size);

/* Looks for a plug-in (libudil-*.so) in `directory` that was built for
 * another orvo than `version`: one whose version note names another
 * version, or one named like orvo's own plug-ins (`own_names`: names such
 * as "png" for libudil-png.so, separated by spaces) that has no note.
 * Unmarked plug-ins of other names are not judged. On finding one, writes
 * what it is into `problem` (`size` bytes, cut to fit) and returns true;
 * false for a directory without such plug-ins or that cannot be read. */
bool find_plugin_of_other_version(const char *directory, const char *version, const char *own_names,
                                  char *problem, size_t size);

}  // namespace udil

#endif
