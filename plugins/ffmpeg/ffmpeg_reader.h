// The reader handle: frames of a movie file as RGB or RGBA pictures, and
// for intra-only codecs the compressed frames themselves.
#pragma once

#include <memory>

#include "ffmpeg_source.h"
#include "udil_sdk.h"

namespace ffmpeg_plugin {

class MovieReader : public udil_sdk::Handle {
public:
    // `probed` is the file the handle was made for; opening that same file
    // takes it over instead of reading and indexing it a second time.
    explicit MovieReader(std::unique_ptr<MovieSource> probed) : probed_(std::move(probed)) {}

    int32_t file_open(const char *path) override;
    int32_t file_close() override;
    int32_t get_image(int32_t frame, int32_t eye, void *left, void *right) override;
    int64_t compressed_size() override;
    int32_t get_images_compressed(UdilCompressedRequest &request) override;
    int32_t uncompress_image(const void *data, int32_t size, void *pixels) override;

private:
    int32_t check_frame(int32_t frame);
    int32_t check_intra_only();

    std::unique_ptr<MovieSource> probed_;
    std::unique_ptr<MovieSource> source_;
};

}  // namespace ffmpeg_plugin
