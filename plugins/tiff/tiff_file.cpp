#include "tiff_file.h"

#include <cstdio>
#include <cstring>

namespace tiff_codec {

// Warnings (unknown tags, odd but readable values) do not stop a read, but
// the fax decoders report broken code words as warnings ("Premature EOL")
// and fill the rest of the row: that is damaged data, kept as an error.
int TiffFile::on_warning(TIFF *tif, void *user_data, const char *module, const char *format, va_list args) {
    if (module == nullptr || std::strncmp(module, "Fax", 3) != 0) return 1;
    return on_error(tif, user_data, module, format, args);
}

int TiffFile::on_error(TIFF *, void *user_data, const char *module, const char *format, va_list args) {
    auto *file = static_cast<TiffFile *>(user_data);
    // The first error is the cause; later ones are its consequences.
    if (file->message_[0] != '\0') return 1;
    // "module: text", cut to the buffer.
    int used = 0;
    if (module != nullptr && module[0] != '\0')
        used = std::snprintf(file->message_, sizeof file->message_, "%.100s: ", module);
    if (used < 0) used = 0;
    std::vsnprintf(file->message_ + used, sizeof file->message_ - size_t(used), format, args);
    return 1;
}

bool TiffFile::open(const char *path, const char *mode, uint64_t memory_limit) {
    close();
    message_[0] = '\0';
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        std::snprintf(message_, sizeof message_, "out of memory");
        return false;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, on_error, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options, on_warning, this);
    // A file being written allocates its strips through libtiff.
    writing_ = mode[0] == 'w';
    memory_limit_ = memory_limit != 0 ? memory_limit : writing_ ? kLargestChunk : kLargestTagBlock;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(memory_limit_));
    tif_ = TIFFOpenExt(path, mode, options);
    TIFFOpenOptionsFree(options);
    return tif_ != nullptr;
}

bool TiffFile::close() {
    if (tif_ == nullptr) return true;
    bool ok = true;
    if (writing_) ok = TIFFFlush(tif_) != 0;
    TIFFClose(tif_);
    tif_ = nullptr;
    return ok && message_[0] == '\0';
}

}  // namespace tiff_codec
