/* Dynamic loading, the install location and the symbol-font table. */
#ifndef DYX_DL_H
#define DYX_DL_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* dyx_dl_open flags */
#define DYX_DL_NOW 1   /* bind every symbol at load (RTLD_NOW) */
#define DYX_DL_CHDIR 8 /* load from inside the library's directory */

/* Loads `file` into *handle: DYX_OK, or DYX_SYSTEM_FAILED when the loader refuses it (see
 * dyx_dl_error). Afterwards calls the library's optional start-up hooks
 * "dyx_dl_init" and "dyx_prs_dl_init" with the handle name. */
DYX_API int dyx_dl_open(void **handle, const char *file, int flags);
/* Looks `name` up: DYX_OK found, DYX_NOT_FOUND missing (reported when verbose),
 * DYX_BAD_ARGUMENT no handle. *address is null unless found. */
DYX_API int dyx_dl_bindproc(void **handle, void *address, const char *name, int verbose);
/* Unloads the library and nulls *handle. Returns DYX_OK. */
DYX_API int dyx_dl_close(void **handle);
/* The loader's last error text. */
DYX_API const char *dyx_dl_error(void);
/* Sets the name handed to start-up hooks (copied). Returns 0. */
DYX_API int dyx_dl_set_handle_name(const char *name);

/* QEV_HOME (at most 1024 characters) or "/usr/local/QEV", without a
 * trailing separator; read once, the same pointer afterwards. */
DYX_API const char *dyx_qev_home(void);
/* "linux_2.6_64" */
DYX_API const char *dyx_qev_arch(void);
/* Unicode code point of a symbol-font character; codes clamp to 0..255. */
DYX_API uint32_t dyx_quornel_symbol_to_unicode(int32_t code);

DYX_END_DECLS

#endif
