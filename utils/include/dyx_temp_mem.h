/* Temporary memory: scratch buffers that are kept for reuse once released.
 *
 * A request is served from the smallest kept buffer that is large enough,
 * unless that buffer is over 1000000 bytes and more than four times the
 * request; otherwise a new buffer is made. Buffers are at least 100 bytes.
 * No lock: one thread at a time. */
#ifndef DYX_TEMP_MEM_H
#define DYX_TEMP_MEM_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* A buffer of at least `size` bytes, or null (also for a negative size). */
DYX_API void *dyx_temp_mem_alloc(int64_t size);
/* Makes the handed-out buffer hold `size` bytes, keeping its contents; the
 * buffer may move. Null when the buffer is not handed out, for a negative
 * size or when growing fails (the buffer is then unchanged and still
 * handed out). */
DYX_API void *dyx_temp_mem_resize(void *buffer, int64_t size);
/* Keeps the buffer for reuse: DYX_OK, or DYX_REFUSED when it is not handed out. */
DYX_API int dyx_temp_mem_release(void *buffer);
/* Returns a handed-out or kept buffer to the system: DYX_OK, or DYX_REFUSED when unknown. */
DYX_API int dyx_temp_mem_free(void *buffer);
/* Frees every buffer, handed out or kept; 0. */
DYX_API int dyx_temp_mem_free_all(void);
/* Frees every kept buffer; 0. */
DYX_API int dyx_temp_mem_free_all_avail(void);
/* Writes the kept and handed-out buffers and their totals to stderr. */
DYX_API void dyx_temp_mem_display(void);

DYX_END_DECLS

#endif
