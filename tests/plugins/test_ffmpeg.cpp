// The ffmpeg movie plug-in driven through the host's codec streams: round
// trips for every codec it writes, options, colour, frame-accurate random
// access, exact frame counts, compressed frames and damaged files. Test
// movies are made here, with the plug-in or with the ffmpeg command.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../udil/udil_test_support.h"
#include "dyx_dl.h"
#include "dyx_image.h"
#include "dyx_malloc.h"
#include "dyx_udil.h"
#include "dyx_udil_stream.h"

namespace {

using udil_test::ScratchDir;

using Pixels = std::vector<uint8_t>;

std::string plugin_path() { return std::string(ORVO_TEST_PLUGIN_DIR) + "/libudil-ffmpeg.so"; }

bool have_ffmpeg_command() { return std::system("ffmpeg -hide_banner -version > /dev/null 2>&1") == 0; }

// Runs a shell command with a time limit; its exit status.
int run(const std::string &command) { return std::system(("timeout 60 " + command).c_str()); }

std::string run_output(const std::string &command) {
    std::string output;
    FILE *pipe = popen(("timeout 60 " + command).c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    pclose(pipe);
    return output;
}

// A smooth picture with mild noise that changes from frame to frame: a
// moving gradient and a bright square that walks across.
Pixels test_picture(int width, int height, int frame) {
    Pixels pixels(size_t(width) * size_t(height) * 3);
    std::minstd_rand noise(uint32_t(frame) * 7919u + 1u);
    const int square_x = (frame * 5) % std::max(1, width - 8);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t *p = &pixels[(size_t(y) * size_t(width) + size_t(x)) * 3];
            const int grain = int(noise() % 5) - 2;
            int r = 40 + (x * 160) / std::max(1, width - 1) + grain;
            int g = 60 + (y * 140) / std::max(1, height - 1) + grain;
            int b = 128 + int(60.0 * std::sin((x + y + frame * 3) * 0.08)) + grain;
            if (x >= square_x && x < square_x + 8 && y >= height / 3 && y < height / 3 + 8) r = g = b = 235;
            p[0] = uint8_t(std::clamp(r, 0, 255));
            p[1] = uint8_t(std::clamp(g, 0, 255));
            p[2] = uint8_t(std::clamp(b, 0, 255));
        }
    }
    return pixels;
}

// Eight vertical bars (white, yellow, cyan, green, magenta, red, blue,
// black) at 75 % intensity, the usual test of a colour matrix.
const uint8_t kBars[8][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                             {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {0, 0, 0}};

Pixels colour_bars(int width, int height) {
    Pixels pixels(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t *bar = kBars[x * 8 / width];
            std::copy(bar, bar + 3, &pixels[(size_t(y) * size_t(width) + size_t(x)) * 3]);
        }
    return pixels;
}

// Largest difference of a bar's mean colour from the bar (the middle half
// of each bar, away from the chroma edges).
int worst_bar_error(const Pixels &pixels, int width, int height) {
    int worst = 0;
    for (int bar = 0; bar < 8; ++bar) {
        const int x0 = bar * width / 8 + width / 32, x1 = (bar + 1) * width / 8 - width / 32;
        for (int c = 0; c < 3; ++c) {
            double sum = 0;
            int count = 0;
            for (int y = height / 4; y < height * 3 / 4; ++y)
                for (int x = x0; x < x1; ++x, ++count)
                    sum += pixels[(size_t(y) * size_t(width) + size_t(x)) * 3 + c];
            worst = std::max(worst, int(std::lround(std::fabs(sum / count - kBars[bar][c]))));
        }
    }
    return worst;
}

double psnr(const Pixels &a, const Pixels &b) {
    if (a.size() != b.size() || a.empty()) return 0.0;
    double squared = 0;
    for (size_t i = 0; i < a.size(); ++i)
        squared += double(int(a[i]) - int(b[i])) * double(int(a[i]) - int(b[i]));
    if (squared == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * double(a.size()) / squared);
}

struct ImageDeleter {
    void operator()(dyx_image_t *image) const { dyx_image_free(&image); }
};
using Image = std::unique_ptr<dyx_image_t, ImageDeleter>;

struct StreamCloser {
    void operator()(UdilStream *stream) const { dyx_udil_file_close(&stream); }
};
using Stream = std::unique_ptr<UdilStream, StreamCloser>;

class FfmpegPlugin : public udil_test::RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        if (!udil_test::exists(plugin_path()))
            GTEST_SKIP() << "libudil-ffmpeg.so was not built (no FFmpeg libraries)";
        ASSERT_EQ(dyx_udil_scan_libraries(ORVO_TEST_PLUGIN_DIR), 0);
        codec_ = dyx_udil_find_by_name("ffmpeg");
        ASSERT_NE(codec_, nullptr);
        ASSERT_EQ(dyx_udil_load(codec_), 0);
        ASSERT_FALSE(scratch_.path().empty());
    }

    // Writes `frames` test pictures (or `picture` for every frame) with the
    // option text; the full name of the file made, empty on failure.
    std::string write_movie(const std::string &name, int width, int height, int frames, const char *options,
                            const Pixels *picture = nullptr, float rate = 25.0f) {
        int32_t count = 0;
        UdilOption *parsed = dyx_udil_parse_options(codec_, options, &count);
        UdilMovieInfo info = {width, height, frames, 0, 0, 0, rate, DYX_IMG_FMT_RGB};
        Stream stream(dyx_udil_file_new(scratch_.file(name).c_str(), codec_, &info, count, parsed));
        dyx_free(parsed, __LINE__, __FILE__);
        if (!stream) return "";
        const std::string path = scratch_.file(name) + stream->slots[0].suffix;
        for (int f = 0; f < frames; ++f) {
            const Pixels pixels = picture ? *picture : test_picture(width, height, f);
            EXPECT_EQ(dyx_udil_save_pixels(stream.get(), f, 0, pixels.data(), nullptr), 0)
                << dyx_udil_get_last_error_string();
        }
        UdilStream *raw = stream.release();
        EXPECT_EQ(dyx_udil_file_close(&raw), 0);
        return path;
    }

    Stream open_movie(const std::string &path, UdilMovieInfo &info) {
        int32_t first = -1, last = -1;
        return Stream(dyx_udil_file_open(path.c_str(), codec_, &info, nullptr, 0, nullptr, &first, &last));
    }

    // Frame `frame` of an open stream; empty when the read fails.
    Pixels read_frame(UdilStream *stream, const UdilMovieInfo &info, int frame) {
        Image image(dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), 0, info.pixel_format));
        if (!image) return {};
        if (dyx_udil_get_image(stream, frame, 0, image.get(), nullptr) != 0) return {};
        return Pixels(image->data, image->data + dyx_image_data_size(image.get()));
    }

    std::vector<Pixels> read_all(const std::string &path) {
        UdilMovieInfo info;
        Stream stream = open_movie(path, info);
        std::vector<Pixels> frames;
        if (!stream) return frames;
        for (int f = 0; f < info.frames; ++f) frames.push_back(read_frame(stream.get(), info, f));
        return frames;
    }

    static long file_size(const std::string &path) { return long(udil_test::read_all(path).size()); }

    UdilRecord *codec_ = nullptr;
    ScratchDir scratch_;
};

// ---- round trips --------------------------------------------------------

struct CodecCase {
    const char *name;
    const char *options;
    const char *suffix;
    double min_psnr;  // 99 means exact
};

class FfmpegRoundTrip : public FfmpegPlugin, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(FfmpegRoundTrip, FramesComeBackInOrderWithTheirCountAndRate) {
    const CodecCase &c = GetParam();
    // Even and odd sizes: odd ones need a pixel format with full chroma
    // or a codec that codes them as they are.
    for (const auto &size :
         {std::pair<int, int>{64, 48}, std::pair<int, int>{65, 49}, std::pair<int, int>{66, 50}}) {
        const int width = size.first, height = size.second, frames = 12;
        const std::string path = write_movie("clip", width, height, frames, c.options);
        ASSERT_FALSE(path.empty()) << c.options << ": " << dyx_udil_get_last_error_string();
        EXPECT_EQ(path.substr(path.size() - std::string(c.suffix).size()), c.suffix);

        UdilMovieInfo info;
        Stream stream = open_movie(path, info);
        ASSERT_TRUE(stream) << c.options;
        EXPECT_EQ(info.width, width);
        EXPECT_EQ(info.height, height);
        EXPECT_EQ(info.frames, frames) << c.options << ": the encoder's last frames must be flushed";
        EXPECT_NEAR(info.frame_rate, 25.0f, 1e-4);
        EXPECT_EQ(info.pixel_format, DYX_IMG_FMT_RGB);
        for (int f = 0; f < frames; ++f) {
            const Pixels got = read_frame(stream.get(), info, f);
            ASSERT_FALSE(got.empty())
                << c.options << " frame " << f << ": " << dyx_udil_get_last_error_string();
            const Pixels want = test_picture(width, height, f);
            if (c.min_psnr >= 99.0)
                EXPECT_TRUE(got == want) << c.options << " frame " << f << " differs";
            else
                EXPECT_GE(psnr(got, want), c.min_psnr)
                    << c.options << " " << width << "x" << height << " frame " << f;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, FfmpegRoundTrip,
                         ::testing::Values(CodecCase{"h264", "codec h264 preset ultrafast", ".mp4", 34.0},
                                           CodecCase{"mpeg4", "codec mpeg4", ".mp4", 30.0},
                                           CodecCase{"mjpeg", "codec mjpeg", ".avi", 30.0},
                                           CodecCase{"ffv1", "codec ffv1", ".mkv", 99.0},
                                           CodecCase{"prores", "codec prores", ".mov", 38.0}),
                         [](const ::testing::TestParamInfo<CodecCase> &info) { return info.param.name; });

TEST_F(FfmpegPlugin, TelevisionFrameRatesSurviveExactly) {
    const std::string path = write_movie("ntsc", 32, 32, 5, "codec mjpeg", nullptr, 29.97f);
    ASSERT_FALSE(path.empty()) << dyx_udil_get_last_error_string();
    UdilMovieInfo info;
    ASSERT_TRUE(open_movie(path, info));
    EXPECT_NEAR(info.frame_rate, 30000.0 / 1001.0, 1e-4);
}

TEST_F(FfmpegPlugin, DescribesItselfToTheHost) {
    EXPECT_EQ(codec_->multi_image_capable, 1);
    EXPECT_EQ(codec_->stereo_capable, 0);
    std::vector<std::string> suffixes;
    for (int i = 0; i < codec_->suffix_count; ++i) suffixes.push_back(codec_->suffixes[i]);
    for (const char *wanted : {".mp4", ".mov", ".mkv", ".avi", ".webm", ".gif", ".mpg"})
        EXPECT_NE(std::find(suffixes.begin(), suffixes.end(), wanted), suffixes.end()) << wanted;
    EXPECT_EQ(dyx_udil_find_by_suffix("holiday.MOV"), codec_);
}

// ---- options ------------------------------------------------------------

TEST_F(FfmpegPlugin, EveryOptionChangesTheFile) {
    struct Pair {
        const char *name;
        const char *a;
        const char *b;
    };
    const Pair pairs[] = {
        {"crf", "codec h264 preset ultrafast crf 10", "codec h264 preset ultrafast crf 40"},
        {"preset", "codec h264 preset ultrafast", "codec h264 preset slow"},
        {"bitrate", "codec h264 preset ultrafast bitrate 50", "codec h264 preset ultrafast bitrate 3000"},
        {"keyint", "codec h264 preset ultrafast keyint 1", "codec h264 preset ultrafast keyint 100"},
        {"qscale mpeg4", "codec mpeg4 qscale 2", "codec mpeg4 qscale 25"},
        {"qscale mjpeg", "codec mjpeg qscale 2", "codec mjpeg qscale 25"},
        {"qscale prores", "codec prores qscale 2", "codec prores qscale 25"},
        {"bitrate mpeg4", "codec mpeg4 bitrate 10", "codec mpeg4 bitrate 3000"},
        {"keyint mpeg4", "codec mpeg4 keyint 1", "codec mpeg4 keyint 100"},
    };
    for (const Pair &pair : pairs) {
        const std::string a = write_movie("a", 96, 64, 20, pair.a);
        const std::string b = write_movie("b", 96, 64, 20, pair.b);
        ASSERT_FALSE(a.empty() || b.empty()) << pair.name << ": " << dyx_udil_get_last_error_string();
        EXPECT_NE(file_size(a), file_size(b)) << pair.name;
        std::remove(a.c_str());
        std::remove(b.c_str());
    }
}

TEST_F(FfmpegPlugin, CodecOptionPicksTheNaturalContainer) {
    const struct {
        const char *options;
        const char *suffix;
        const char *codec_name;
    } cases[] = {{"codec h264", ".mp4", "h264"},
                 {"codec mpeg4", ".mp4", "mpeg4"},
                 {"codec mjpeg", ".avi", "mjpeg"},
                 {"codec ffv1", ".mkv", "ffv1"},
                 {"codec prores", ".mov", "prores"}};
    for (const auto &c : cases) {
        int32_t count = 0;
        UdilOption *parsed = dyx_udil_parse_options(codec_, c.options, &count);
        UdilMovieInfo info = {16, 16, 1, 0, 0, 0, 25.0f, DYX_IMG_FMT_RGB};
        EXPECT_STREQ(codec_->entry.choose_suffix(&info, count, parsed), c.suffix);
        dyx_free(parsed, __LINE__, __FILE__);
        if (!have_ffmpeg_command()) continue;
        const std::string path = write_movie("pick", 32, 32, 2, c.options);
        ASSERT_FALSE(path.empty());
        const std::string probed = run_output(
            "ffprobe -v error -select_streams v:0 -show_entries stream=codec_name "
            "-of csv=p=0 '" +
            path + "'");
        EXPECT_EQ(probed.substr(0, probed.find('\n')), c.codec_name);
    }
}

// ---- colour -------------------------------------------------------------

// Bars through the plug-in and back, at standard definition (BT.601) and
// HD (BT.709), limited range and Motion JPEG's full range, and through the
// ffmpeg command to show that other players see the same colours.
TEST_F(FfmpegPlugin, ColourBarsKeepTheirColoursAndFilesSayWhichMatrix) {
    const struct {
        int width, height;
        const char *options;
        const char *space;  // as ffprobe names the tag
        const char *range;
    } cases[] = {{720, 480, "codec h264 preset ultrafast crf 12", "smpte170m", "tv"},
                 {1280, 720, "codec h264 preset ultrafast crf 12", "bt709", "tv"},
                 {1280, 720, "codec mjpeg qscale 2", "bt470bg", "pc"},
                 {720, 480, "codec prores", "smpte170m", "tv"}};
    const bool command = have_ffmpeg_command();
    for (const auto &c : cases) {
        const Pixels bars = colour_bars(c.width, c.height);
        const std::string path = write_movie("bars", c.width, c.height, 2, c.options, &bars);
        ASSERT_FALSE(path.empty()) << dyx_udil_get_last_error_string();
        const std::vector<Pixels> frames = read_all(path);
        ASSERT_EQ(frames.size(), 2u);
        // Our own reader: every bar within 3 of 255 levels.
        EXPECT_LE(worst_bar_error(frames[1], c.width, c.height), 3) << c.options << " " << c.width;
        if (!command) continue;
        const std::string tags = run_output(
            "ffprobe -v error -select_streams v:0 -show_entries "
            "stream=color_space,color_range -of default=nw=1 '" +
            path + "'");
        EXPECT_NE(tags.find(std::string("color_space=") + c.space), std::string::npos) << c.options << "\n"
                                                                                       << tags;
        EXPECT_NE(tags.find(std::string("color_range=") + c.range), std::string::npos) << c.options << "\n"
                                                                                       << tags;
        // The ffmpeg command decodes to top-down RGB by the tags it finds.
        const std::string raw = path + ".rgb";
        ASSERT_EQ(
            run("ffmpeg -v error -y -i '" + path + "' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" + raw + "'"),
            0);
        const std::string bytes = udil_test::read_all(raw);
        ASSERT_EQ(bytes.size(), bars.size());
        EXPECT_LE(worst_bar_error(Pixels(bytes.begin(), bytes.end()), c.width, c.height), 4) << c.options;
    }
}

TEST_F(FfmpegPlugin, ReaderFollowsTheMatrixAStreamStates) {
    if (!have_ffmpeg_command()) GTEST_SKIP() << "the ffmpeg command is not installed";
    // A small picture tagged BT.709 and full range: decoding it as the size
    // suggests (BT.601, limited) would shift every bar.
    const int width = 256, height = 64;
    const Pixels bars = colour_bars(width, height);
    const std::string raw = scratch_.file("bars.rgb");
    // The command takes rows top first; bars are the same in every row.
    udil_test::write_all(raw, std::string(bars.begin(), bars.end()) + std::string(bars.begin(), bars.end()));
    const std::string path = scratch_.file("tagged.mkv");
    ASSERT_EQ(
        run("ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s 256x64 -r 25 -i '" + raw +
            "' -frames:v 2 -vf scale=out_color_matrix=bt709:out_range=full -c:v libx264 -preset ultrafast "
            "-crf 8 -pix_fmt yuv444p -color_range pc -colorspace bt709 -color_primaries bt709 -color_trc "
            "bt709 '" +
            path + "'"),
        0);
    const std::vector<Pixels> frames = read_all(path);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_LE(worst_bar_error(frames[0], width, height), 3);
}

// ---- exact counts and random access ---------------------------------------

TEST_F(FfmpegPlugin, RandomAccessWithBFramesMatchesSequentialDecoding) {
    const int frames = 60;
    const std::string path = write_movie("gop", 64, 48, frames, "codec h264 preset medium keyint 12");
    ASSERT_FALSE(path.empty()) << dyx_udil_get_last_error_string();
    if (have_ffmpeg_command()) {
        const std::string types = run_output(
            "ffprobe -v error -select_streams v:0 -show_entries frame=pict_type "
            "-of csv=p=0 '" +
            path + "'");
        ASSERT_NE(types.find('B'), std::string::npos) << "the movie must have B-frames";
    }
    const std::vector<Pixels> sequential = read_all(path);
    ASSERT_EQ(int(sequential.size()), frames);
    for (int f = 0; f < frames; ++f) ASSERT_FALSE(sequential[size_t(f)].empty()) << f;

    UdilMovieInfo info;
    Stream stream = open_movie(path, info);
    ASSERT_TRUE(stream);
    std::vector<int> order(frames);
    for (int f = 0; f < frames; ++f) order[size_t(f)] = f;
    std::shuffle(order.begin(), order.end(), std::mt19937(42));
    // Backwards, a repeat, neighbours and the last frame as well.
    order.insert(order.end(), {59, 58, 57, 57, 0, 1, 13, 12, 11, 59, 24, 36});
    for (const int f : order)
        ASSERT_TRUE(read_frame(stream.get(), info, f) == sequential[size_t(f)]) << "frame " << f;
}

// An AVI whose header claims 99 frames holds 10: the count comes from the
// file's packets.
TEST_F(FfmpegPlugin, FrameCountIsExactWhenTheHeaderLies) {
    const std::string path = write_movie("liar", 32, 32, 10, "codec mjpeg");
    ASSERT_FALSE(path.empty());
    std::string bytes = udil_test::read_all(path);
    const auto patch = [&](const char *chunk, size_t field_offset) {
        const size_t at = bytes.find(chunk);
        ASSERT_NE(at, std::string::npos) << chunk;
        const uint32_t lie = 99;
        for (int i = 0; i < 4; ++i) bytes[at + 8 + field_offset + size_t(i)] = char((lie >> (8 * i)) & 0xff);
    };
    patch("avih", 16);  // dwTotalFrames
    patch("strh", 32);  // dwLength of the video stream
    udil_test::write_all(path, bytes);
    if (have_ffmpeg_command()) {
        const std::string stated = run_output(
            "ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames "
            "-of csv=p=0 '" +
            path + "'");
        ASSERT_EQ(std::atoi(stated.c_str()), 99) << "the header must lie for this test";
    }
    UdilMovieInfo info;
    Stream stream = open_movie(path, info);
    ASSERT_TRUE(stream);
    EXPECT_EQ(info.frames, 10);
    EXPECT_EQ(dyx_udil_total_frames(stream.get()), 10);
    EXPECT_FALSE(read_frame(stream.get(), info, 9).empty());
    EXPECT_NE(dyx_udil_get_image(stream.get(), 10, 0, nullptr, nullptr), 0);
}

// ---- files made by another tool ------------------------------------------

TEST_F(FfmpegPlugin, ReadsMoviesMadeByTheFfmpegCommand) {
    if (!have_ffmpeg_command()) GTEST_SKIP() << "the ffmpeg command is not installed";
    const struct {
        const char *name;
        const char *encode;
        int pixel_format;
        double rate;
    } cases[] = {{"vp9.webm", "-c:v libvpx-vp9 -deadline realtime -b:v 500k", DYX_IMG_FMT_RGB, 30.0},
                 {"mpeg2.mpg", "-c:v mpeg2video -q:v 2 -g 5 -bf 2", DYX_IMG_FMT_RGB, 30.0},
                 {"x264.mkv", "-c:v libx264 -preset ultrafast -bf 2 -g 5", DYX_IMG_FMT_RGB, 30.0},
                 {"anim.gif", "-r 25", DYX_IMG_FMT_RGBA, 25.0},
                 {"alpha.mov", "-c:v qtrle -pix_fmt argb", DYX_IMG_FMT_RGBA, 30.0}};
    for (const auto &c : cases) {
        const std::string path = scratch_.file(c.name);
        ASSERT_EQ(run("ffmpeg -v error -y -f lavfi -i testsrc2=size=96x64:rate=30 -frames:v 15 " +
                      std::string(c.encode) + " '" + path + "'"),
                  0)
            << c.name;
        UdilMovieInfo info;
        Stream stream = open_movie(path, info);
        ASSERT_TRUE(stream) << c.name;
        EXPECT_EQ(info.width, 96) << c.name;
        EXPECT_EQ(info.height, 64) << c.name;
        EXPECT_EQ(info.frames, 15) << c.name;
        EXPECT_NEAR(info.frame_rate, c.rate, 0.01) << c.name;
        EXPECT_EQ(info.pixel_format, c.pixel_format) << c.name;
        // Frame 7 as the command decodes it, rows flipped to bottom first.
        const std::string raw = path + ".rgb";
        const char *format = c.pixel_format == DYX_IMG_FMT_RGBA ? "rgba" : "rgb24";
        ASSERT_EQ(run("ffmpeg -v error -y -i '" + path +
                      "' -vf 'select=eq(n\\,7),vflip' -frames:v 1 -f rawvideo "
                      "-pix_fmt " +
                      format + " '" + raw + "'"),
                  0);
        const std::string bytes = udil_test::read_all(raw);
        const Pixels got = read_frame(stream.get(), info, 7);
        ASSERT_EQ(got.size(), bytes.size()) << c.name;
        EXPECT_GE(psnr(got, Pixels(bytes.begin(), bytes.end())), 35.0) << c.name;
        // Random access in these containers agrees with reading in order.
        const std::vector<Pixels> sequential = read_all(path);
        for (const int f : {14, 3, 9, 0, 12, 5, 6, 1})
            EXPECT_TRUE(read_frame(stream.get(), info, f) == sequential[size_t(f)])
                << c.name << " frame " << f;
    }
}

TEST_F(FfmpegPlugin, ReaderOptionStreamPicksAVideoStreamByNumber) {
    if (!have_ffmpeg_command()) GTEST_SKIP() << "the ffmpeg command is not installed";
    // Two video streams of six frames, neither marked the default: the
    // larger one is what players show.
    const std::string path = scratch_.file("two.mkv");
    ASSERT_EQ(
        run("ffmpeg -v error -y -f lavfi -t 0.24 -i testsrc2=size=32x24:rate=25 -f lavfi -t 0.24 -i "
            "testsrc=size=64x48:rate=25 -map 0 -map 1 -c:v libx264 -preset ultrafast -disposition:v:0 0 "
            "-disposition:v:1 0 '" +
            path + "'"),
        0);
    const auto open_with = [&](const char *text, UdilMovieInfo &info) {
        int32_t count = 0;
        UdilOption *parsed = dyx_udil_parse_options(codec_, text, &count);
        std::vector<UdilOption> options(size_t(std::max(count, codec_->option_count)) + 1);
        if (parsed != nullptr) std::copy(parsed, parsed + count, options.begin());
        dyx_free(parsed, __LINE__, __FILE__);
        int32_t first = -1, last = -1;
        return Stream(dyx_udil_file_open(path.c_str(), codec_, &info, &count, int32_t(options.size()),
                                         options.data(), &first, &last));
    };
    const struct {
        const char *options;
        int width;
    } cases[] = {{"", 64}, {"stream 0", 64}, {"stream 1", 32}, {"stream 2", 64}};
    for (const auto &c : cases) {
        UdilMovieInfo info;
        Stream stream = open_with(c.options, info);
        ASSERT_TRUE(stream) << c.options << ": " << dyx_udil_get_last_error_string();
        EXPECT_EQ(info.width, c.width) << c.options;
        EXPECT_EQ(info.frames, 6) << c.options;
        EXPECT_FALSE(read_frame(stream.get(), info, 5).empty()) << c.options;
    }
    UdilMovieInfo info;
    EXPECT_FALSE(open_with("stream 3", info));
    EXPECT_NE(
        std::string(dyx_udil_get_last_error_string()).find("there is no video stream 3 (the file has 2)"),
        std::string::npos)
        << dyx_udil_get_last_error_string();
}

// ---- compressed frames ----------------------------------------------------

TEST_F(FfmpegPlugin, IntraOnlyCodecsHandOutFramesToDecodeLater) {
    for (const char *options : {"codec mjpeg", "codec ffv1", "codec prores"}) {
        const std::string path = write_movie("intra", 48, 32, 6, options);
        ASSERT_FALSE(path.empty()) << options;
        UdilMovieInfo info;
        Stream stream = open_movie(path, info);
        ASSERT_TRUE(stream) << options;
        const int64_t largest = dyx_udil_get_compressed_size(stream.get());
        ASSERT_GT(largest, 0) << options;
        const int32_t stride = int32_t(largest);
        std::vector<uint8_t> data(size_t(stride) * 3);
        int64_t positions[3];
        int32_t sizes[3];
        UdilCompressedRequest request = {0, 2, 3, stride, 0, 0, data.data(), positions, sizes};
        ASSERT_EQ(dyx_udil_get_images_compressed(stream.get(), &request), 0)
            << dyx_udil_get_last_error_string();
        for (int i = 0; i < 3; ++i) {
            EXPECT_GT(sizes[i], 0);
            EXPECT_LE(sizes[i], stride);
        }
        // Decoded later, out of order, each equals the frame read directly.
        for (const int i : {2, 0, 1}) {
            Image image(dyx_image_alloc(48, 32, 0, DYX_IMG_FMT_RGB));
            ASSERT_EQ(
                dyx_udil_uncompress_image(stream.get(), 2 + i, 0, data.data() + size_t(stride) * size_t(i),
                                          sizes[i], image.get()),
                0)
                << options;
            const Pixels direct = read_frame(stream.get(), info, 2 + i);
            EXPECT_TRUE(Pixels(image->data, image->data + direct.size()) == direct)
                << options << " frame " << 2 + i;
        }
        // A stride too small for a frame is refused, not overrun.
        UdilCompressedRequest tight = {0, 0, 1, 4, 0, 0, data.data(), positions, sizes};
        EXPECT_NE(dyx_udil_get_images_compressed(stream.get(), &tight), 0);
    }
}

TEST_F(FfmpegPlugin, InterFrameCodecsRefuseCompressedFrames) {
    const std::string path = write_movie("inter", 32, 32, 4, "codec h264 preset ultrafast");
    UdilMovieInfo info;
    Stream stream = open_movie(path, info);
    ASSERT_TRUE(stream);
    EXPECT_EQ(dyx_udil_get_compressed_size(stream.get()), -1);
    std::vector<uint8_t> data(1024);
    int64_t positions[1];
    int32_t sizes[1];
    UdilCompressedRequest request = {0, 0, 1, 1024, 0, 0, data.data(), positions, sizes};
    EXPECT_EQ(dyx_udil_get_images_compressed(stream.get(), &request), 1);
    Image image(dyx_image_alloc(32, 32, 0, DYX_IMG_FMT_RGB));
    EXPECT_EQ(dyx_udil_uncompress_image(stream.get(), 0, 0, data.data(), 100, image.get()), 1);
}

// ---- bad input ---------------------------------------------------------------

TEST_F(FfmpegPlugin, DamagedFilesAreRefusedOrReportedNeverCrash) {
    for (const char *options : {"codec h264 preset ultrafast", "codec mjpeg", "codec ffv1", "codec mpeg4"}) {
        const std::string path = write_movie("good", 64, 48, 10, options);
        ASSERT_FALSE(path.empty());
        const std::string bytes = udil_test::read_all(path);
        // Truncated at several places, and with bytes flipped in the middle.
        std::vector<std::string> damaged;
        for (const size_t keep :
             {size_t(0), size_t(7), bytes.size() / 3, bytes.size() * 2 / 3, bytes.size() - 5})
            damaged.push_back(bytes.substr(0, keep));
        std::mt19937 random(7);
        for (int copy = 0; copy < 3; ++copy) {
            std::string flipped = bytes;
            for (int i = 0; i < 40; ++i)
                flipped[bytes.size() / 4 + random() % (bytes.size() / 2)] ^= char(1 << (random() % 8));
            damaged.push_back(flipped);
        }
        for (size_t d = 0; d < damaged.size(); ++d) {
            const std::string bad = scratch_.file("bad") + path.substr(path.rfind('.'));
            udil_test::write_all(bad, damaged[d]);
            UdilMovieInfo info;
            Stream stream = open_movie(bad, info);
            if (damaged[d].size() < 8) {
                EXPECT_FALSE(stream) << "an empty or headless file is refused";
            }
            if (!stream) continue;  // refused at open
            ASSERT_GE(info.frames, 1);
            for (int f = 0; f < info.frames; ++f) {
                Image image(
                    dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), 0, info.pixel_format));
                const int status = dyx_udil_get_image(stream.get(), f, 0, image.get(), nullptr);
                if (status != 0) {
                    EXPECT_NE(std::string(dyx_udil_get_last_error_string()).find("bad."), std::string::npos)
                        << "the message names the file: " << dyx_udil_get_last_error_string();
                }
            }
        }
    }
    // Not a movie at all.
    const std::string junk = scratch_.file("junk.mp4");
    udil_test::write_all(junk, std::string(5000, '\x5a'));
    UdilMovieInfo info;
    EXPECT_FALSE(open_movie(junk, info));
    EXPECT_FALSE(open_movie(scratch_.file("missing.mov"), info));
}

TEST_F(FfmpegPlugin, WriterReportsFilesItCannotMake) {
    int32_t count = 0;
    UdilOption *parsed = dyx_udil_parse_options(codec_, "codec mjpeg", &count);
    UdilMovieInfo info = {32, 32, 1, 0, 0, 0, 25.0f, DYX_IMG_FMT_RGB};
    Stream stream(dyx_udil_file_new(scratch_.file("no/such/dir/clip").c_str(), codec_, &info, count, parsed));
    dyx_free(parsed, __LINE__, __FILE__);
    EXPECT_FALSE(stream);
    const std::string error = dyx_udil_get_last_error_string();
    EXPECT_NE(error.find("no/such/dir/clip.avi"), std::string::npos) << error;
}

}  // namespace

namespace {

// Regression: FFmpeg keeps a log callback pointing into the plug-in, so
// unloading it would leave that pointer dangling; it must stay mapped.
TEST(FfmpegPluginLifetime, StaysMappedAfterTheHostClosesIt) {
    const std::string path = std::string(ORVO_TEST_PLUGIN_DIR) + "/libudil-ffmpeg.so";
    void *library = nullptr;
    ASSERT_EQ(dyx_dl_open(&library, path.c_str(), DYX_DL_NOW), 0) << dyx_dl_error();
    dyx_dl_close(&library);
    void *still_there = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(still_there, nullptr);
    if (still_there != nullptr) dlclose(still_there);
}

}  // namespace
