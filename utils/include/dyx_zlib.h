/* One block of memory as a zlib-compressed record in a file.
 *
 * A record is a 9-byte header (uncompressed length and compressed length
 * as 32-bit little-endian integers, one reserved zero byte) followed by a
 * zlib stream of the data at the default level. Records follow one
 * another; a reader must know how many it expects. */
#ifndef DYX_ZLIB_H
#define DYX_ZLIB_H

#include <stddef.h>
#include <stdio.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* Size of a record's header. */
#define DYX_ZLIB_HEADER_SIZE 9

/* Writes size * count bytes of `data` as one record at the stream's
 * position (the stream must be seekable) and leaves the position after
 * it. Returns the uncompressed length, or 0 when the data does not fit
 * the 32-bit header, compression cannot start or a write or seek fails. */
DYX_API size_t dyx_fwrite_zlib(const void *data, size_t size, size_t count, FILE *stream);

/* Reads one record into `destination`, which holds size * count bytes.
 * When the record's uncompressed length differs, "Uncompressed data size
 * mismatch" is written to standard error and 0 returned (only the header
 * was read). Otherwise the whole record is consumed and the number of
 * bytes produced returned: 0 for a corrupt stream, fewer than expected
 * for a record cut short. Never writes beyond size * count bytes. */
DYX_API size_t dyx_fread_zlib(void *destination, size_t size, size_t count, FILE *stream);

DYX_END_DECLS

#endif
