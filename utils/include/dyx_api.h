/* Export and linkage macros shared by every public dyx header. */
#ifndef DYX_API_H
#define DYX_API_H

/* Every exported function keeps C linkage and default visibility; all
 * other symbols of the library are hidden. */
#define DYX_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define DYX_BEGIN_DECLS extern "C" {
#define DYX_END_DECLS }
#else
#define DYX_BEGIN_DECLS
#define DYX_END_DECLS
#endif

#endif
