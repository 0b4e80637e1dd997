#include "ffmpeg_reader.h"

#include <cstring>
#include <string>

namespace ffmpeg_plugin {

int32_t MovieReader::file_open(const char *path) {
    file_close();
    clear_error();
    if (probed_ && probed_->path() == path) {
        source_ = std::move(probed_);
    } else {
        probed_.reset();
        std::string error;
        source_ = MovieSource::open(path, error, video_stream_, threads_, raw_);
        if (!source_) return fail(7, "ffmpeg: can't read %s: %s", path, error.c_str());
    }
    orientation_ = orientation_of(*source_, keep_stored_);
    return 0;
}

int32_t MovieReader::file_close() {
    source_.reset();
    return 0;
}

int32_t MovieReader::check_frame(int32_t frame) {
    if (!source_) return fail(6, "ffmpeg: no file is open");
    if (frame < 0 || frame >= source_->index().frame_count())
        return fail(6, "ffmpeg: frame %d is outside %s (%d frames)", frame, source_->path().c_str(),
                    source_->index().frame_count());
    return 0;
}

int32_t MovieReader::get_image(int32_t frame, int32_t, void *left, void *right) {
    if (const int32_t status = check_frame(frame)) return status;
    // Mono movies: eye 2 without a left buffer delivers into the right one.
    auto *pixels = static_cast<uint8_t *>(left ? left : right);
    if (pixels == nullptr) return fail(6, "ffmpeg: no pixel buffer given");
    std::string error;
    if (!source_->read_frame(frame, stored_frame_buffer(pixels), error))
        return fail(7, "ffmpeg: %s: %s", source_->path().c_str(), error.c_str());
    turn_stored_frame(pixels);
    return 0;
}

int32_t MovieReader::check_intra_only() {
    if (!source_) return fail(6, "ffmpeg: no file is open");
    if (!source_->index().all_key())
        return fail(1,
                    "ffmpeg: the frames of %s depend on each other; compressed frames need an intra-only "
                    "codec (mjpeg, ffv1, prores)",
                    source_->path().c_str());
    return 0;
}

// The largest packet, for intra-only streams only: other codecs' packets
// cannot be decoded on their own.
int64_t MovieReader::compressed_size() {
    if (!source_ || !source_->index().all_key()) return -1;
    return source_->index().largest_packet();
}

// Copies frames first .. first + count - 1 into the data area, one per
// stride; entries32 receives each frame's size in bytes and entries64 its
// byte offset in the file (-1 when the container does not say).
int32_t MovieReader::get_images_compressed(UdilCompressedRequest &request) {
    if (const int32_t status = check_intra_only()) return status;
    if (request.frame_count <= 0) return 0;
    if (request.data == nullptr || request.stride <= 0) return fail(6, "ffmpeg: no data area given");
    PacketPtr packet = make_packet();
    if (!packet) return fail(2, "ffmpeg: out of memory");
    for (int32_t i = 0; i < request.frame_count; ++i) {
        const int32_t frame = request.first_frame + i;
        if (const int32_t status = check_frame(frame)) return status;
        std::string error;
        if (!source_->read_packet_of_frame(frame, *packet, error))
            return fail(7, "ffmpeg: %s: %s", source_->path().c_str(), error.c_str());
        if (packet->size > request.stride)
            return fail(2, "ffmpeg: frame %d of %s needs %d bytes, the stride is %d", frame,
                        source_->path().c_str(), packet->size, request.stride);
        std::memcpy(request.data + int64_t(request.stride) * i, packet->data, size_t(packet->size));
        if (request.entries32) request.entries32[i] = packet->size;
        if (request.entries64) request.entries64[i] = packet->pos;
    }
    return 0;
}

int32_t MovieReader::uncompress_image(const void *data, int32_t size, void *pixels) {
    if (const int32_t status = check_intra_only()) return status;
    if (data == nullptr || size <= 0 || pixels == nullptr)
        return fail(6, "ffmpeg: no compressed data or pixel buffer given");
    std::string error;
    if (!source_->decode_packet_data(data, size, stored_frame_buffer(static_cast<uint8_t *>(pixels)), error))
        return fail(7, "ffmpeg: %s: %s", source_->path().c_str(), error.c_str());
    turn_stored_frame(static_cast<uint8_t *>(pixels));
    return 0;
}

}  // namespace ffmpeg_plugin
