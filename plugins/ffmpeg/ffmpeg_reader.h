// The reader handle: frames of a movie file as RGB or RGBA pictures, and
// for intra-only codecs the compressed frames themselves.
#pragma once

#include <memory>
#include <vector>

#include "ffmpeg_source.h"
#include "udil_sdk.h"

namespace ffmpeg_plugin {

class MovieReader : public udil_sdk::Handle {
public:
    // `probed` is the file the handle was made for; opening that same file
    // takes it over instead of reading and indexing it a second time.
    // `keep_stored` gives frames as stored instead of turned the right way
    // up by the stream's display matrix.
    MovieReader(std::unique_ptr<MovieSource> probed, bool keep_stored, RawVideoSettings raw = {})
        : probed_(std::move(probed)),
          keep_stored_(keep_stored),
          raw_(std::move(raw)),
          video_stream_(probed_ ? probed_->video_stream_asked() : 0),
          threads_(probed_ ? probed_->decoder_threads() : 0) {}

    // The orientation frames are turned by (1 for none) and the size they
    // are delivered in.
    static int orientation_of(const MovieSource &source, bool keep_stored);
    static void shown_size(const MovieSource &source, bool keep_stored, int32_t &width, int32_t &height);

    int32_t file_open(const char *path) override;
    int32_t file_close() override;
    int32_t get_image(int32_t frame, int32_t eye, void *left, void *right) override;
    int64_t compressed_size() override;
    int32_t get_images_compressed(UdilCompressedRequest &request) override;
    int32_t uncompress_image(const void *data, int32_t size, void *pixels) override;
    // Sources deeper than 8 bits as 16-bit RGB(A) (ffmpeg_reader_deep.cpp).
    int32_t get_deep_image(int32_t frame, int32_t eye, UdilDeepFrame &out) override;
    // What the open file is (ffmpeg_describe.cpp).
    std::string describe() override;

private:
    int32_t check_frame(int32_t frame);
    int32_t check_intra_only();
    uint8_t *stored_frame_buffer(uint8_t *pixels);
    void turn_stored_frame(uint8_t *pixels);

    std::unique_ptr<MovieSource> probed_;
    std::unique_ptr<MovieSource> source_;
    bool keep_stored_;
    RawVideoSettings raw_;         // how raw video files are read
    int video_stream_;             // the stream option the handle was made with
    int threads_;                  // the decoder threads the handle was made with
    int orientation_ = 1;          // of the open file's frames
    std::vector<uint8_t> stored_;  // a frame as decoded, before it is turned
};

}  // namespace ffmpeg_plugin
