/* MD5 and SHA-1 of a byte string, for name-based UUIDs (versions 3 and 5)
 * of names of any length and content. Not for security. */
#ifndef ORVO_PY_UUID_DIGEST_H
#define ORVO_PY_UUID_DIGEST_H

#include <cstddef>
#include <cstdint>

namespace orvo {

/* The 16-byte MD5 digest of the `size` bytes at `data`. */
void md5_digest(const uint8_t *data, size_t size, uint8_t out[16]);

/* The 20-byte SHA-1 digest of the `size` bytes at `data`. */
void sha1_digest(const uint8_t *data, size_t size, uint8_t out[20]);

}  // namespace orvo

#endif
