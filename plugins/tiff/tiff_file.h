// A TIFF file opened with handlers of its own, so that libtiff's messages
// reach the plug-in's error text instead of the standard error stream.
#pragma once

#include <tiffio.h>

#include <cstdint>

namespace tiff_codec {

// No single buffer of a strip or tile may exceed this; a damaged file that
// claims more is refused instead of allocated.
constexpr uint64_t kLargestChunk = uint64_t(1) << 30;

// libtiff's own allocations while it reads a directory (tag values, strip
// tables) stay under this, so that a tag claiming a huge count is refused
// before it is allocated. The strips of a picture are decoded into the
// plug-in's own buffers, or read through the file's memory map; a picture
// that libtiff decodes into a buffer of its own gets a larger limit.
constexpr uint64_t kLargestTagBlock = uint64_t(16) << 20;

class TiffFile {
public:
    TiffFile() { clear_error(); }
    ~TiffFile() { close(); }
    TiffFile(const TiffFile &) = delete;
    TiffFile &operator=(const TiffFile &) = delete;

    // Opens `path` with TIFFOpen's `mode` ("r", "w"); no single allocation of
    // libtiff may exceed `memory_limit` (0: kLargestTagBlock for reading,
    // kLargestChunk for writing). false: see message().
    bool open(const char *path, const char *mode, uint64_t memory_limit = 0);
    uint64_t memory_limit() const { return memory_limit_; }
    // Closes the file; for a written file, false when the directory or the
    // last data could not be written.
    bool close();

    TIFF *get() const { return tif_; }
    // The first libtiff error since the file was opened or the error was
    // cleared.
    const char *message() const { return message_[0] ? message_ : "unknown libtiff error"; }
    // Whether libtiff reported an error: some decoders (fax, for one) report
    // bad code words and still hand back a full strip.
    bool has_error() const { return message_[0] != '\0'; }
    void clear_error() { message_[0] = '\0'; }

private:
    static int on_error(TIFF *, void *user_data, const char *module, const char *format, va_list args);
    static int on_warning(TIFF *, void *user_data, const char *module, const char *format, va_list args);

    TIFF *tif_ = nullptr;
    bool writing_ = false;
    uint64_t memory_limit_ = 0;
    char message_[256];
};

}  // namespace tiff_codec
