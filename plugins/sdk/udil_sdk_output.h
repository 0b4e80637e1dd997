// An output file that holds one picture, for the per-frame writers of the
// image plug-ins.
//
// Short writes on a full disk often show only when the stdio buffer is
// flushed or the file is closed, and the host ignores the result of
// udil_file_close. So a writer finishes its file inside save_image, where
// a failure reaches the host, and a file that was not written completely
// is removed: a numbered sequence never keeps a truncated frame.
#ifndef UDIL_SDK_OUTPUT_H
#define UDIL_SDK_OUTPUT_H

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "udil_sdk.h"

namespace udil_sdk {

// Removes a partly written output file. Only a regular file is removed:
// a name that leads to a device (/dev/full) or through a symbolic link is
// never taken away.
inline void remove_partial_file(const char *path) {
    struct stat status;
    if (path != nullptr && lstat(path, &status) == 0 && S_ISREG(status.st_mode)) std::remove(path);
}

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Creates (or truncates) `path`. false: error() tells why.
    bool create(const char *path) {
        discard();
        cause_ = 0;
        file_ = std::fopen(path, "wb");
        if (file_ == nullptr) {
            cause_ = errno;
            return false;
        }
        path_ = path;
        return true;
    }

    std::FILE *get() const { return file_; }
    bool is_open() const { return file_ != nullptr; }
    const std::string &path() const { return path_; }

    // Flushes and closes the file. false when any byte could not be
    // written; the partial file is then removed.
    bool finish() {
        if (file_ == nullptr) return false;
        const bool flushed = std::fflush(file_) == 0;
        remember_errno(!flushed);
        const bool clean = flushed && !std::ferror(file_);
        const bool closed = std::fclose(file_) == 0;
        remember_errno(!closed);
        file_ = nullptr;
        if (clean && closed) return true;
        if (cause_ == 0) cause_ = EIO;
        remove_partial_file(path_.c_str());
        return false;
    }

    // Closes and removes a file that did not get its whole picture.
    void discard() {
        if (file_ == nullptr) return;
        std::fclose(file_);
        file_ = nullptr;
        remove_partial_file(path_.c_str());
    }

    // Removes the file after a codec library failed to write it. Returns
    // the cause to report: the system's text when a write to the file
    // failed, else `codec_error`.
    const char *abandon(const char *codec_error) {
        const bool write_failed = file_ != nullptr && std::ferror(file_) != 0;
        remember_errno(write_failed);
        discard();
        return write_failed ? error() : codec_error;
    }

    // The system's text for the first failure seen, or a generic one.
    const char *error() const { return cause_ != 0 ? std::strerror(cause_) : "write error"; }

private:
    void remember_errno(bool failed) {
        if (failed && cause_ == 0) cause_ = errno;
    }

    std::FILE *file_ = nullptr;
    std::string path_;
    int cause_ = 0;
};

// The writer of a codec that keeps one picture per file and encodes into
// a stdio stream. `Encoder` supplies
//   static constexpr const char *kName;   the codec's name, for messages
//   using Settings = ...;                 what the options chose
//   static bool encode(std::FILE *file, const uint8_t *pixels, int32_t width, int32_t height,
//                      int32_t channels, const Settings &settings, std::string &error);
// where encode writes the picture (rows bottom first) and, on failure,
// says why in `error` unless a write to the file failed.
template <class Encoder>
class OnePictureWriter : public Handle {
public:
    OnePictureWriter(const UdilMovieInfo &info, int32_t channels, const typename Encoder::Settings &settings)
        : width_(info.width), height_(info.height), channels_(channels), settings_(settings) {}

    int32_t file_new(const char *path) override {
        file_close();
        written_ = false;
        if (!output_.create(path))
            return fail(7, "%s: can't create %s: %s", Encoder::kName, path, output_.error());
        return 0;
    }

    // The picture's file is finished by save_image; one that never got its
    // picture is removed rather than left behind broken.
    int32_t file_close() override {
        output_.discard();
        return 0;
    }

    int32_t save_image(int32_t, int32_t, const void *left, const void *right) override {
        const auto *pixels = static_cast<const uint8_t *>(left ? left : right);
        if (pixels == nullptr && output_.is_open() && !written_)
            return fail(6, "%s: no pixel buffer given", Encoder::kName);
        return save_picture([&](std::FILE *file, std::string &error) {
            return Encoder::encode(file, pixels, width_, height_, channels_, settings_, error);
        });
    }

protected:
    // Writes the file's one picture with write(file, error) and finishes
    // the file; a failed write removes it.
    template <typename Write>
    int32_t save_picture(Write write) {
        if (written_) return fail(1, "%s: a file holds one picture", Encoder::kName);
        if (!output_.is_open()) return fail(6, "%s: no file is open", Encoder::kName);
        written_ = true;
        std::string error;
        if (!write(output_.get(), error))
            return write_error(output_.abandon(error.empty() ? "write error" : error.c_str()));
        return output_.finish() ? 0 : write_error(output_.error());
    }

    // A codec that writes several formats adjusts these in its file_new.
    typename Encoder::Settings &settings() { return settings_; }
    int32_t channels() const { return channels_; }

private:
    int32_t write_error(const char *cause) {
        return fail(7, "%s: error writing %s: %s", Encoder::kName, output_.path().c_str(), cause);
    }

    int32_t width_, height_, channels_;
    typename Encoder::Settings settings_;
    OutputFile output_;
    bool written_ = false;
};

}  // namespace udil_sdk

#endif
