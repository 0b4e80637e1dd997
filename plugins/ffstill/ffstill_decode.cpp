#include "ffstill_decode.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "ffstill_header.h"
#include "ffstill_jxl_check.h"
#include "ffstill_owners.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace ffstill {

namespace {

// Reads the whole file into a packet (FFmpeg pads it for its readers).
bool read_file(const char *path, AVPacket &packet, std::string &error) {
    FilePtr file(std::fopen(path, "rb"));
    struct stat status;
    if (!file || fstat(fileno(file.get()), &status) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = "not a regular file";
        return false;
    }
    const int64_t size = int64_t(status.st_size);
    if (size <= 0) {
        error = "the file is empty";
        return false;
    }
    // A packet's size is an int, less FFmpeg's padding.
    if (size > int64_t(std::numeric_limits<int>::max()) - AV_INPUT_BUFFER_PADDING_SIZE) {
        error = "the file is too large for a still picture";
        return false;
    }
    if (av_new_packet(&packet, int(size)) < 0) {
        error = "out of memory";
        return false;
    }
    if (std::fread(packet.data, 1, size_t(size), file.get()) != size_t(size)) {
        error = std::ferror(file.get()) ? std::strerror(errno) : "the file ended early";
        return false;
    }
    packet.flags |= AV_PKT_FLAG_KEY;
    return true;
}

// The compression byte of an OpenEXR file's (first) header, -1 when the
// header does not say or cannot be read.
int exr_compression(const uint8_t *data, size_t size) {
    int compression = -1;
    walk_exr_header(data, size, [&](const char *name, const uint8_t *value, uint32_t value_size) {
        if (std::strcmp(name, "compression") != 0 || value_size != 1) return true;
        compression = value[0];
        return false;
    });
    return compression;
}

// Checks a WebP file's RIFF chunks and cuts the packet to the RIFF's own
// size. FFmpeg's WebP decoder aborts the process (a failed assertion) on a
// chunk that runs past the data after a picture was decoded, so such
// files are refused here; bytes after the RIFF are not the picture's.
bool check_webp_chunks(AVPacket &packet, std::string &error) {
    const uint8_t *data = packet.data;
    const size_t size = size_t(packet.size);
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WEBP", 4) != 0) {
        error = "not a WebP file (no RIFF WEBP header)";
        return false;
    }
    const uint64_t riff_end = 8 + uint64_t(little_endian_32(data + 4));
    if (riff_end > size || riff_end < 12) {
        error = "the WebP file is cut short or its RIFF size is damaged";
        return false;
    }
    for (uint64_t at = 12; at < riff_end;) {
        if (at + 8 > riff_end) {
            error = "a WebP chunk header is cut short";
            return false;
        }
        const uint64_t chunk = uint64_t(little_endian_32(data + at + 4));
        const uint64_t next = at + 8 + chunk + (chunk & 1);
        // The last chunk may leave out its padding byte.
        if (at + 8 + chunk > riff_end) {
            error = "a WebP chunk runs past the end of the file";
            return false;
        }
        at = next;
    }
    // FFmpeg's readers may look past the end: what follows must be zeros.
    std::memset(packet.data + riff_end, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    packet.size = int(riff_end);
    return true;
}

// OpenEXR compressions FFmpeg's decoder does not decode as OpenEXR does
// (DWAA 8, DWAB 9: colours off by tens of levels): refused rather than
// read wrong.
constexpr int kExrDwaa = 8, kExrDwab = 9;

}  // namespace

std::string error_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

FramePtr decode_still(const char *path, const StillFormat &format, const DecodeSettings &settings,
                      std::string &error) {
    // The decoders would report every damaged file on the host's standard
    // error stream; the reason reaches the caller through `error` instead.
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec *codec = avcodec_find_decoder_by_name(format.decoder);
    if (codec == nullptr) {
        error = std::string("this FFmpeg has no ") + format.decoder + " decoder";
        return nullptr;
    }
    CodecPtr decoder(avcodec_alloc_context3(codec));
    PacketPtr packet(av_packet_alloc());
    FramePtr picture(av_frame_alloc());
    if (!decoder || !packet || !picture) {
        error = "out of memory";
        return nullptr;
    }
    if (!read_file(path, *packet, error)) return nullptr;
    if (format.kind == Kind::webp && !check_webp_chunks(*packet, error)) return nullptr;
    if (format.kind == Kind::jpegxl && !check_jxl_start(packet->data, size_t(packet->size), error))
        return nullptr;
    if (format.kind == Kind::exr) {
        const int compression = exr_compression(packet->data, size_t(packet->size));
        if (compression == kExrDwaa || compression == kExrDwab) {
            error = std::string("OpenEXR ") + (compression == kExrDwaa ? "DWAA" : "DWAB") +
                    " compression is not read (FFmpeg's decoder gives other colours than OpenEXR's): "
                    "store the file with another compression (zip, piz ...)";
            return nullptr;
        }
    }
    decoder->thread_count = settings.threads;
    AVDictionary *options = nullptr;
    if (format.kind == Kind::exr && !settings.layer.empty())
        av_dict_set(&options, "layer", settings.layer.c_str(), 0);
    int status = avcodec_open2(decoder.get(), codec, &options);
    av_dict_free(&options);
    if (status < 0) {
        error = std::string("can't open the ") + codec->name + " decoder: " + error_text(status);
        return nullptr;
    }
    status = avcodec_send_packet(decoder.get(), packet.get());
    if (status >= 0) status = avcodec_send_packet(decoder.get(), nullptr);
    if (status >= 0) status = avcodec_receive_frame(decoder.get(), picture.get());
    if (status < 0) {
        error = status == AVERROR_EOF ? std::string("the file holds no picture") : error_text(status);
        return nullptr;
    }
    if (picture->width <= 0 || picture->height <= 0) {
        error = "the picture has no size";
        return nullptr;
    }
    return picture;
}

}  // namespace ffstill
