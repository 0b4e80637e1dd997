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

}  // namespace udil

#endif
