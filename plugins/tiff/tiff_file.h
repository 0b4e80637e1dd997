// A TIFF file opened with handlers of its own, so that libtiff's messages
// reach the plug-in's error text instead of the standard error stream.
#pragma once

#include <tiffio.h>

#include <cstdint>

namespace tiff_codec {

// No single buffer of a strip or tile may exceed this; a damaged file that
// claims more is refused instead of allocated.
constexpr uint64_t kLargestChunk = uint64_t(1) << 30;

class TiffFile {
public:
    TiffFile() { message_[0] = '\0'; }
    ~TiffFile() { close(); }
    TiffFile(const TiffFile &) = delete;
    TiffFile &operator=(const TiffFile &) = delete;

    // Opens `path` with TIFFOpen's `mode` ("r", "w"). false: see message().
    bool open(const char *path, const char *mode);
    // Closes the file; for a written file, false when the directory or the
    // last data could not be written.
    bool close();

    TIFF *get() const { return tif_; }
    // The first libtiff error since the file was opened, or "".
    const char *message() const { return message_[0] ? message_ : "unknown libtiff error"; }

private:
    static int on_error(TIFF *, void *user_data, const char *module, const char *format, va_list args);

    TIFF *tif_ = nullptr;
    bool writing_ = false;
    char message_[256];
};

}  // namespace tiff_codec
