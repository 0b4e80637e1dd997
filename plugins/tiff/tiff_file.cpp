#include "tiff_file.h"

#include <cstdio>

namespace tiff_codec {
namespace {

// Warnings (unknown tags, odd but readable values) do not stop a read.
int on_warning(TIFF *, void *, const char *, const char *, va_list) { return 1; }

}  // namespace

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

bool TiffFile::open(const char *path, const char *mode) {
    close();
    message_[0] = '\0';
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        std::snprintf(message_, sizeof message_, "out of memory");
        return false;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, on_error, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options, on_warning, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(kLargestChunk));
    tif_ = TIFFOpenExt(path, mode, options);
    TIFFOpenOptionsFree(options);
    writing_ = mode[0] == 'w';
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
