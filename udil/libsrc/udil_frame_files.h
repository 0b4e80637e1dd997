// The files of a per-frame slot (one picture per file, named from a
// template): a reader for one of them, and the one layout all of them
// are read in.
#ifndef UDIL_FRAME_FILES_H
#define UDIL_FRAME_FILES_H

#include <cstdint>

#include "dyx_udil_stream.h"

namespace udil {

// A new reader made for the per-frame file `path` with the slot's reader
// options; `found` gets the file's own description. 0, or DYX_SYSTEM_FAILED
// with the reason in the last error (DYX_NO_MEMORY when the options could
// not be copied). The caller destroys the reader.
int open_frame_reader(const UdilFileSlot &slot, const char *path, UdilMovieInfo &found, UdilHandle &reader);

// The smallest pixel format that holds every component of both: colour
// when either has colour, alpha when either has alpha.
int32_t joined_layout(int32_t a, int32_t b);

// The layout every file of the per-frame slot is read in: the first
// file's layout (slot.info) joined with that of every other file of the
// slot's frame range of the same size and depth (both eyes of an eye
// pair). Files that cannot be read, or differ in size, are passed over:
// reading them reports why.
int32_t sequence_layout(const UdilFileSlot &slot);

}  // namespace udil

#endif
