// The ffmpeg movie plug-in driven through the host's codec streams: round
// trips for every codec it writes, options, colour, exact frame counts,
// compressed frames and damaged files. (Movies of the ffmpeg command with
// B-frames read in any order, and the reader's stream option, are checked
// through the module, in test_movie_files.py.)
#include <dlfcn.h>

#include "dyx_dl.h"
#include "image_codec_support.h"

namespace {

using codec_test::Bytes;
using codec_test::StreamPtr;

bool have_ffmpeg_command() { return std::system("ffmpeg -hide_banner -version > /dev/null 2>&1") == 0; }

// Runs a shell command with a time limit; its exit status.
int run(const std::string &command) { return std::system(("timeout 60 " + command).c_str()); }

// What ffprobe says of the first video stream's `entries` (one a line).
std::string probe(const std::string &path, const std::string &entries, const char *format = "csv=p=0") {
    run("ffprobe -v error -select_streams v:0 -show_entries " + entries + " -of " + format + " '" + path +
        "' > '" + path + ".probe'");
    return codec_test::read_bytes(path + ".probe");
}

// A smooth picture with mild noise that changes from frame to frame: a
// moving gradient and a bright square that walks across.
Bytes test_picture(int width, int height, int frame) {
    Bytes pixels(size_t(width) * size_t(height) * 3);
    std::minstd_rand noise(uint32_t(frame) * 7919u + 1u);
    const int square_x = (frame * 5) % (width - 8);
    uint8_t *p = pixels.data();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x, p += 3) {
            const int grain = int(noise() % 5) - 2;
            const bool square = x >= square_x && x < square_x + 8 && y >= height / 3 && y < height / 3 + 8;
            p[0] = uint8_t(square ? 235 : 40 + (x * 160) / (width - 1) + grain);
            p[1] = uint8_t(square ? 235 : 60 + (y * 140) / (height - 1) + grain);
            p[2] = uint8_t(square ? 235 : 128 + int(60.0 * std::sin((x + y + frame * 3) * 0.08)) + grain);
        }
    return pixels;
}

// Eight vertical bars (white, yellow, cyan, green, magenta, red, blue,
// black) at 75 % intensity, the usual test of a colour matrix.
const uint8_t kBars[8][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                             {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {0, 0, 0}};

Bytes colour_bars(int width, int height) {
    Bytes pixels(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t *bar = kBars[x * 8 / width];
            std::copy(bar, bar + 3, &pixels[(size_t(y) * size_t(width) + size_t(x)) * 3]);
        }
    return pixels;
}

// Largest difference of a bar's mean colour from the bar (the middle half
// of each bar, away from the chroma edges).
int worst_bar_error(const Bytes &pixels, int width, int height) {
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

class FfmpegPlugin : public codec_test::CodecTest {
protected:
    FfmpegPlugin() : CodecTest("ffmpeg", true) {}

    // Writes `frames` test pictures (or `picture` for every frame) with the
    // option text; the full name of the file made, empty on failure.
    std::string write_movie(const std::string &name, int width, int height, int frames, const char *options,
                            const Bytes *picture = nullptr, float rate = 25.0f) {
        std::string path;
        StreamPtr stream =
            create(file(name), {width, height, frames, 0, 0, 0, rate, DYX_IMG_FMT_RGB}, options, &path);
        if (!stream) return "";
        for (int f = 0; f < frames; ++f) {
            const Bytes pixels = picture ? *picture : test_picture(width, height, f);
            EXPECT_EQ(dyx_udil_save_pixels(stream.get(), f, 0, pixels.data(), nullptr), 0)
                << dyx_udil_get_last_error_string();
        }
        EXPECT_EQ(codec_test::close(stream), 0);
        return path;
    }

    // Frame `frame` of an open stream; empty when the read fails.
    static Bytes frame_bytes(UdilStream *stream, const UdilMovieInfo &info, int frame) {
        codec_test::ImagePtr image = read_frame(stream, info, frame);
        return image ? codec_test::bytes_of(image.get()) : Bytes();
    }

    std::vector<Bytes> read_all(const std::string &path) {
        UdilMovieInfo info;
        StreamPtr stream = open(path, &info);
        std::vector<Bytes> frames;
        for (int f = 0; stream && f < info.frames; ++f) frames.push_back(frame_bytes(stream.get(), info, f));
        return frames;
    }
};

struct CodecCase {
    const char *name;  // as ffprobe names the codec
    const char *options;
    const char *suffix;
    double min_psnr;  // 99 means exact
    float rate;       // television rates survive exactly
};

class FfmpegRoundTrip : public FfmpegPlugin, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(FfmpegRoundTrip, FramesComeBackInOrderWithTheirCountAndRate) {
    const CodecCase &c = GetParam();
    // Even and odd sizes: odd ones need a pixel format with full chroma
    // or a codec that codes them as they are.
    for (const auto &[width, height] : {std::pair<int, int>{64, 48}, {65, 49}, {66, 50}}) {
        const int frames = 12;
        const std::string path = write_movie("clip", width, height, frames, c.options, nullptr, c.rate);
        ASSERT_FALSE(path.empty()) << c.options << ": " << dyx_udil_get_last_error_string();
        EXPECT_EQ(path.substr(path.size() - std::string(c.suffix).size()), c.suffix);
        if (have_ffmpeg_command()) {
            EXPECT_EQ(probe(path, "stream=codec_name"), std::string(c.name) + "\n");
        }

        UdilMovieInfo info;
        StreamPtr stream = open(path, &info);
        ASSERT_TRUE(stream) << c.options;
        EXPECT_EQ(info.width, width);
        EXPECT_EQ(info.height, height);
        EXPECT_EQ(info.frames, frames) << c.options << ": the encoder's last frames must be flushed";
        EXPECT_NEAR(info.frame_rate, c.rate == 25.0f ? 25.0 : 30000.0 / 1001.0, 1e-4);
        EXPECT_EQ(info.pixel_format, DYX_IMG_FMT_RGB);
        for (int f = 0; f < frames; ++f) {
            const Bytes got = frame_bytes(stream.get(), info, f);
            ASSERT_FALSE(got.empty())
                << c.options << " frame " << f << ": " << dyx_udil_get_last_error_string();
            EXPECT_GE(codec_test::psnr(got, test_picture(width, height, f)), c.min_psnr)
                << c.options << " " << width << "x" << height << " frame " << f;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, FfmpegRoundTrip,
                         ::testing::Values(CodecCase{"h264", "codec h264 preset ultrafast", ".mp4", 34.0,
                                                     25.0f},
                                           CodecCase{"mpeg4", "codec mpeg4", ".mp4", 30.0, 25.0f},
                                           CodecCase{"mjpeg", "codec mjpeg", ".avi", 30.0, 29.97f},
                                           CodecCase{"ffv1", "codec ffv1", ".mkv", 99.0, 25.0f},
                                           CodecCase{"prores", "codec prores", ".mov", 38.0, 25.0f}),
                         [](const ::testing::TestParamInfo<CodecCase> &info) { return info.param.name; });

TEST_F(FfmpegPlugin, EveryOptionChangesTheFile) {
    const struct {
        const char *a, *b;
    } pairs[] = {
        {"codec h264 preset ultrafast crf 10", "codec h264 preset ultrafast crf 40"},
        {"codec h264 preset ultrafast", "codec h264 preset slow"},
        {"codec h264 preset ultrafast bitrate 50", "codec h264 preset ultrafast bitrate 3000"},
        {"codec h264 preset ultrafast keyint 1", "codec h264 preset ultrafast keyint 100"},
        {"codec mpeg4 qscale 2", "codec mpeg4 qscale 25"},
        {"codec mjpeg qscale 2", "codec mjpeg qscale 25"},
        {"codec prores qscale 2", "codec prores qscale 25"},
        {"codec mpeg4 bitrate 10", "codec mpeg4 bitrate 3000"},
        {"codec mpeg4 keyint 1", "codec mpeg4 keyint 100"},
    };
    for (const auto &pair : pairs) {
        const std::string a = write_movie("a", 96, 64, 20, pair.a), b = write_movie("b", 96, 64, 20, pair.b);
        ASSERT_FALSE(a.empty() || b.empty()) << pair.b << ": " << dyx_udil_get_last_error_string();
        EXPECT_NE(codec_test::read_bytes(a).size(), codec_test::read_bytes(b).size()) << pair.b;
    }
}

// Bars through the plug-in and back, at standard definition (BT.601) and
// HD (BT.709), limited range and Motion JPEG's full range, and through the
// ffmpeg command to show that other players see the same colours; and the
// reader follows the matrix a stream states.
TEST_F(FfmpegPlugin, ColourBarsKeepTheirColoursAndFilesSayWhichMatrix) {
    const struct {
        int width, height;
        const char *options;
        const char *tags;  // as ffprobe names them
    } cases[] = {{720, 480, "codec h264 preset ultrafast crf 12", "color_range=tv\ncolor_space=smpte170m\n"},
                 {1280, 720, "codec h264 preset ultrafast crf 12", "color_range=tv\ncolor_space=bt709\n"},
                 {1280, 720, "codec mjpeg qscale 2", "color_range=pc\ncolor_space=bt470bg\n"},
                 {720, 480, "codec prores", "color_range=tv\ncolor_space=smpte170m\n"},
                 // Stated in the options: converted with that matrix and range, and tagged so.
                 {720, 480, "codec h264 preset ultrafast crf 12 matrix 9 primaries 9 transfer 16",
                  "color_range=tv\ncolor_space=bt2020nc\n"},
                 {720, 480, "codec h264 preset ultrafast crf 12 matrix 1 range full",
                  "color_range=pc\ncolor_space=bt709\n"}};
    const bool command = have_ffmpeg_command();
    for (const auto &c : cases) {
        const Bytes bars = colour_bars(c.width, c.height);
        const std::string path = write_movie("bars", c.width, c.height, 2, c.options, &bars);
        ASSERT_FALSE(path.empty()) << dyx_udil_get_last_error_string();
        const std::vector<Bytes> frames = read_all(path);
        ASSERT_EQ(frames.size(), 2u);
        // Our own reader: every bar within 3 of 255 levels.
        EXPECT_LE(worst_bar_error(frames[1], c.width, c.height), 3) << c.options << " " << c.width;
        if (!command) continue;
        EXPECT_EQ(probe(path, "stream=color_space,color_range", "default=nw=1"), c.tags) << c.options;
        // The ffmpeg command decodes to top-down RGB by the tags it finds.
        const std::string raw = path + ".rgb";
        ASSERT_EQ(
            run("ffmpeg -v error -y -i '" + path + "' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" + raw + "'"),
            0);
        const std::string decoded = codec_test::read_bytes(raw);
        ASSERT_EQ(decoded.size(), bars.size());
        EXPECT_LE(worst_bar_error(Bytes(decoded.begin(), decoded.end()), c.width, c.height), 4) << c.options;
    }
    if (!command) return;
    // A small picture tagged BT.709 and full range by the command: decoding
    // it as the size suggests (BT.601, limited) would shift every bar.
    const Bytes bars = colour_bars(256, 64);
    const std::string raw = file("bars.rgb"), path = file("tagged.mkv");
    // The command takes rows top first; bars are the same in every row.
    codec_test::write_bytes(raw,
                            std::string(bars.begin(), bars.end()) + std::string(bars.begin(), bars.end()));
    ASSERT_EQ(
        run("ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s 256x64 -r 25 -i '" + raw +
            "' -frames:v 2 -vf scale=out_color_matrix=bt709:out_range=full -c:v libx264 -preset ultrafast "
            "-crf 8 -pix_fmt yuv444p -color_range pc -colorspace bt709 -color_primaries bt709 -color_trc "
            "bt709 '" +
            path + "'"),
        0);
    const std::vector<Bytes> frames = read_all(path);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_LE(worst_bar_error(frames[0], 256, 64), 3);
}

// An AVI whose header claims 99 frames holds 10: the count comes from the
// file's packets.
TEST_F(FfmpegPlugin, FrameCountIsExactWhenTheHeaderLies) {
    const std::string path = write_movie("liar", 32, 32, 10, "codec mjpeg");
    ASSERT_FALSE(path.empty());
    std::string movie = codec_test::read_bytes(path);
    for (const auto &[chunk, field] : {std::pair<const char *, size_t>{"avih", 16}, {"strh", 32}}) {
        const size_t at = movie.find(chunk);  // dwTotalFrames, and dwLength of the video stream
        ASSERT_NE(at, std::string::npos) << chunk;
        movie.replace(at + 8 + field, 4, std::string("\x63\0\0\0", 4));
    }
    codec_test::write_bytes(path, movie);
    if (have_ffmpeg_command()) {
        ASSERT_EQ(probe(path, "stream=nb_frames"), "99\n") << "the header must lie for this test";
    }
    UdilMovieInfo info;
    StreamPtr stream = open(path, &info);
    ASSERT_TRUE(stream);
    EXPECT_EQ(info.frames, 10);
    EXPECT_EQ(dyx_udil_total_frames(stream.get()), 10);
    EXPECT_FALSE(frame_bytes(stream.get(), info, 9).empty());
    EXPECT_NE(dyx_udil_get_image(stream.get(), 10, 0, nullptr, nullptr), 0);
}

// Intra-only codecs hand out frames to decode later, out of order, each
// equal to the frame read directly; inter-frame codecs refuse.
TEST_F(FfmpegPlugin, CompressedFramesOfIntraOnlyCodecsDecodeLater) {
    for (const char *options : {"codec mjpeg", "codec ffv1", "codec prores", "codec h264 preset ultrafast"}) {
        const bool intra = std::strstr(options, "h264") == nullptr;
        UdilMovieInfo info;
        StreamPtr stream = open(write_movie("intra", 48, 32, 6, options), &info);
        ASSERT_TRUE(stream) << options;
        const int64_t largest = dyx_udil_get_compressed_size(stream.get());
        ASSERT_EQ(largest > 0, intra) << options;
        const int32_t stride = intra ? int32_t(largest) : 1024;
        std::vector<uint8_t> data(size_t(stride) * 6);
        int64_t positions[6];
        int32_t sizes[6];
        UdilCompressedRequest request = {0, 2, 3, stride, 0, 0, data.data(), positions, sizes};
        const codec_test::ImagePtr image = image_testing::make_image(48, 32, DYX_IMG_FMT_RGB);
        if (!intra) {
            EXPECT_EQ(largest, -1);
            EXPECT_EQ(dyx_udil_get_images_compressed(stream.get(), &request), 1);
            EXPECT_EQ(dyx_udil_uncompress_image(stream.get(), 0, 0, data.data(), 100, image.get()), 1);
            continue;
        }
        ASSERT_EQ(dyx_udil_get_images_compressed(stream.get(), &request), 0)
            << dyx_udil_get_last_error_string();
        for (const int i : {2, 0, 1}) {
            EXPECT_GT(sizes[i], 0);
            EXPECT_LE(sizes[i], stride);
            ASSERT_EQ(dyx_udil_uncompress_image(stream.get(), 2 + i, 0, &data[size_t(stride) * size_t(i)],
                                                sizes[i], image.get()),
                      0)
                << options;
            EXPECT_TRUE(codec_test::bytes_of(image.get()) == frame_bytes(stream.get(), info, 2 + i))
                << options << " frame " << 2 + i;
        }
        // A stride one byte too small for the largest frame is refused.
        UdilCompressedRequest tight = {0, 0, 6, stride - 1, 0, 0, data.data(), positions, sizes};
        EXPECT_NE(dyx_udil_get_images_compressed(stream.get(), &tight), 0);
    }
}

// Regression: a palette movie's palette comes with its first packet only;
// frames read directly, after seeks and as compressed data all get it (they
// used to decode all black).
TEST_F(FfmpegPlugin, PaletteMoviesKeepTheirPaletteInAnyOrder) {
    if (!have_ffmpeg_command()) GTEST_SKIP() << "the ffmpeg command is not installed";
    const std::string path = file("palette.avi");
    ASSERT_EQ(
        run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=32x24:rate=25 -frames:v 4 -c:v rawvideo "
            "-pix_fmt pal8 '" +
            path + "'"),
        0);
    UdilMovieInfo info;
    StreamPtr stream = open(path, &info);
    ASSERT_TRUE(stream) << dyx_udil_get_last_error_string();
    std::vector<Bytes> backwards(4);
    for (int f = 3; f >= 0; --f) {
        backwards[size_t(f)] = frame_bytes(stream.get(), info, f);
        ASSERT_FALSE(backwards[size_t(f)].empty()) << f;
        EXPECT_NE(*std::max_element(backwards[size_t(f)].begin(), backwards[size_t(f)].end()), 0) << f;
    }
    const int64_t largest = dyx_udil_get_compressed_size(stream.get());
    ASSERT_GT(largest, 0);
    std::vector<uint8_t> data(static_cast<size_t>(largest));
    int32_t size = 0;
    UdilCompressedRequest request = {0, 2, 1, int32_t(largest), 0, 0, data.data(), nullptr, &size};
    ASSERT_EQ(dyx_udil_get_images_compressed(stream.get(), &request), 0) << dyx_udil_get_last_error_string();
    const codec_test::ImagePtr image = image_testing::make_image(32, 24, info.pixel_format);
    ASSERT_EQ(dyx_udil_uncompress_image(stream.get(), 2, 0, data.data(), size, image.get()), 0)
        << dyx_udil_get_last_error_string();
    EXPECT_TRUE(codec_test::bytes_of(image.get()) == backwards[2]);
}

// A movie cut to less than its header is refused; cut further on or with a
// bit flipped it is refused at open or read without a crash, and a frame
// that fails names the file.
TEST_F(FfmpegPlugin, DamagedFilesAreRefusedOrReportedNeverCrash) {
    for (const char *options : {"codec h264 preset ultrafast", "codec mjpeg", "codec ffv1", "codec mpeg4"}) {
        const std::string path = write_movie("good", 64, 48, 10, options);
        ASSERT_FALSE(path.empty());
        const std::string movie = codec_test::read_bytes(path);
        expect_damage_handled(movie, "bad" + path.substr(path.rfind('.')),
                              {0, 7, movie.size() / 3, movie.size() * 2 / 3, movie.size() - 5},
                              movie.size() / 30, false, 8);
    }
    // Not a movie at all, or no file.
    codec_test::write_bytes(file("junk.mp4"), std::string(5000, '\x5a'));
    UdilMovieInfo info;
    EXPECT_FALSE(open(file("junk.mp4"), &info));
    EXPECT_FALSE(open(file("missing.mov"), &info));
    // A file it cannot make.
    EXPECT_FALSE(
        create(file("no/such/dir/clip"), {32, 32, 1, 0, 0, 0, 25.0f, DYX_IMG_FMT_RGB}, "codec mjpeg"));
    EXPECT_NE(std::string(dyx_udil_get_last_error_string()).find("no/such/dir/clip.avi"), std::string::npos)
        << dyx_udil_get_last_error_string();
}

// Regression: FFmpeg keeps a log callback pointing into the plug-in, so
// unloading it would leave that pointer dangling; it must stay mapped.
TEST_F(FfmpegPlugin, StaysMappedAfterTheHostClosesIt) {
    const std::string path = std::string(ORVO_TEST_PLUGIN_DIR) + "/libudil-ffmpeg.so";
    void *library = nullptr;
    ASSERT_EQ(dyx_dl_open(&library, path.c_str(), DYX_DL_NOW), 0) << dyx_dl_error();
    dyx_dl_close(&library);
    dyx_udil_list_done();
    void *still_there = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(still_there, nullptr);
    if (still_there != nullptr) dlclose(still_there);
}

}  // namespace
