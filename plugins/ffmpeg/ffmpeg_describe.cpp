#include "ffmpeg_describe.h"

#include <cmath>
#include <cstdio>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include "ffmpeg_reader.h"
#include "ffmpeg_timecode.h"

namespace ffmpeg_plugin {

namespace {

// The members of a JSON object, written one after the other.
class JsonMembers {
public:
    void text(const char *key, const char *value) {
        name(key);
        if (value == nullptr) {
            out_ += "null";
        } else {
            quoted(value);
        }
    }
    void integer(const char *key, int64_t value) {
        name(key);
        out_ += std::to_string(value);
    }
    void number(const char *key, double value) {
        name(key);
        if (!std::isfinite(value)) {
            out_ += "null";
            return;
        }
        char digits[32];
        std::snprintf(digits, sizeof digits, "%.6f", value);
        out_ += digits;
    }
    void null(const char *key) {
        name(key);
        out_ += "null";
    }
    // Opens a nested object or array under `key` (none inside an array).
    void open(const char *key, char bracket) {
        name(key);
        out_ += bracket;
        first_ = true;
    }
    void close(char bracket) {
        out_ += bracket;
        first_ = false;
    }
    void tags(const char *key, const AVDictionary *tags) {
        open(key, '{');
        const AVDictionaryEntry *entry = nullptr;
        while ((entry = av_dict_get(tags, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr)
            text(entry->key, entry->value);
        close('}');
    }
    const std::string &result() const { return out_; }

private:
    void name(const char *key) {
        if (!first_) out_ += ", ";
        first_ = false;
        if (key != nullptr) {
            quoted(key);
            out_ += ": ";
        }
    }
    void quoted(const char *value) {
        out_ += '"';
        for (const char *c = value; *c != '\0'; ++c) {
            const auto byte = static_cast<unsigned char>(*c);
            if (byte == '"' || byte == '\\') {
                out_ += '\\';
                out_ += char(byte);
            } else if (byte < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                out_ += escaped;
            } else {
                out_ += char(byte);
            }
        }
        out_ += '"';
    }

    std::string out_;
    bool first_ = true;
};

// The stream's rate as an exact fraction: the nominal rate when the
// average agrees with it (30000/1001 rather than an average rounded off).
AVRational exact_rate(const AVStream &video) {
    const AVRational nominal = video.r_frame_rate, average = video.avg_frame_rate;
    const bool nominal_ok = nominal.num > 0 && nominal.den > 0;
    const bool average_ok = average.num > 0 && average.den > 0;
    if (nominal_ok && (!average_ok || std::fabs(av_q2d(nominal) / av_q2d(average) - 1.0) < 0.01))
        return nominal;
    return average_ok ? average : AVRational{0, 1};
}

double duration_of(const AVFormatContext &movie, const AVStream &video, int32_t frames, AVRational rate) {
    if (video.duration != AV_NOPTS_VALUE && video.duration > 0)
        return double(video.duration) * av_q2d(video.time_base);
    if (frames > 0 && rate.num > 0) return frames / av_q2d(rate);
    if (movie.duration != AV_NOPTS_VALUE && movie.duration > 0) return double(movie.duration) / AV_TIME_BASE;
    return NAN;
}

// The display matrix's turn in degrees counter-clockwise, -180 to 180
// (as ffprobe shows it: -90 for a phone held upright).
int rotation_of(const AVStream &video) {
    size_t size = 0;
    const uint8_t *matrix = av_stream_get_side_data(&video, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix == nullptr || size < 9 * sizeof(int32_t)) return 0;
    const double degrees = av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
    if (std::isnan(degrees)) return 0;
    int whole = int(std::lround(degrees)) % 360;
    if (whole > 180) whole -= 360;
    if (whole <= -180) whole += 360;
    return whole;
}

const char *stated(const char *name, bool unspecified) { return unspecified ? nullptr : name; }

void describe_colour(JsonMembers &json, const AVCodecParameters &video) {
    json.open("colour", '{');
    json.text("primaries", stated(av_color_primaries_name(video.color_primaries),
                                  video.color_primaries == AVCOL_PRI_UNSPECIFIED));
    json.text("transfer",
              stated(av_color_transfer_name(video.color_trc), video.color_trc == AVCOL_TRC_UNSPECIFIED));
    json.text("matrix",
              stated(av_color_space_name(video.color_space), video.color_space == AVCOL_SPC_UNSPECIFIED));
    json.text("range",
              stated(av_color_range_name(video.color_range), video.color_range == AVCOL_RANGE_UNSPECIFIED));
    json.close('}');
}

void describe_audio(JsonMembers &json, const AVFormatContext &movie) {
    json.open("audio", '[');
    for (unsigned i = 0; i < movie.nb_streams; ++i) {
        const AVStream &stream = *movie.streams[i];
        const AVCodecParameters &audio = *stream.codecpar;
        if (audio.codec_type != AVMEDIA_TYPE_AUDIO) continue;
        json.open(nullptr, '{');
        json.integer("index", stream.index);
        json.text("codec", avcodec_get_name(audio.codec_id));
        json.text("profile", avcodec_profile_name(audio.codec_id, audio.profile));
        json.integer("sample_rate", audio.sample_rate);
        json.integer("channels", audio.ch_layout.nb_channels);
        char layout[64] = "";
        if (audio.ch_layout.order != AV_CHANNEL_ORDER_UNSPEC &&
            av_channel_layout_describe(&audio.ch_layout, layout, sizeof layout) > 0)
            json.text("channel_layout", layout);
        else
            json.null("channel_layout");
        if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0)
            json.number("duration", double(stream.duration) * av_q2d(stream.time_base));
        else
            json.null("duration");
        const AVDictionaryEntry *language = av_dict_get(stream.metadata, "language", nullptr, 0);
        json.text("language", language != nullptr ? language->value : nullptr);
        json.close('}');
    }
    json.close(']');
}

}  // namespace

std::string describe_movie(const AVFormatContext &movie, const AVStream &video, int32_t frames) {
    JsonMembers json;
    const AVCodecParameters &parameters = *video.codecpar;
    json.text("container", movie.iformat != nullptr ? movie.iformat->name : nullptr);
    json.text("video_codec", avcodec_get_name(parameters.codec_id));
    json.text("profile", avcodec_profile_name(parameters.codec_id, parameters.profile));
    const auto format = AVPixelFormat(parameters.format);
    const AVPixFmtDescriptor *pixels = av_pix_fmt_desc_get(format);
    json.text("source_pixel_format", pixels != nullptr ? pixels->name : nullptr);
    if (pixels != nullptr)
        json.integer("bit_depth", pixels->comp[0].depth);
    else
        json.null("bit_depth");
    json.integer("stored_width", parameters.width);
    json.integer("stored_height", parameters.height);
    const AVRational rate = exact_rate(video);
    if (rate.num > 0)
        json.text("frame_rate", (std::to_string(rate.num) + "/" + std::to_string(rate.den)).c_str());
    else
        json.null("frame_rate");
    json.number("duration", duration_of(movie, video, frames, rate));
    describe_colour(json, parameters);
    json.integer("rotation", rotation_of(video));
    const std::string timecode = start_timecode(movie);
    json.text("timecode", timecode.empty() ? nullptr : timecode.c_str());
    describe_audio(json, movie);
    json.tags("tags", movie.metadata);
    return json.result();
}

std::string MovieReader::describe() {
    const MovieSource *source = source_ ? source_.get() : probed_.get();
    if (source == nullptr) return std::string();
    return describe_movie(source->container(), source->video_stream(), source->index().frame_count());
}

}  // namespace ffmpeg_plugin
