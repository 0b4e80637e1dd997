// Tiled frame transfer through Multi-Tile Movies with the real plug-ins:
// writing full frames into tiles, reading them back, the consistency checks
// on opening and the argument checks of the transfers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dyx_malloc.h"
#include "dyx_string.h"
#include "dyx_udil_mtm.h"
#include "udil_test_support.h"

using udil_test::ScratchDir;

namespace {

struct Tile {
    int32_t x, y, width, height;
    std::string file;  // without suffix when written
    const char *format;
};

class MtmIo : public udil_test::RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        // Only the plug-ins a test uses are registered: loading the movie
        // plug-in pulls in libraries that keep allocations of their own.
        register_plugin("ppm");
        register_plugin("png");
    }
    void TearDown() override {
        close_mtm();
        for (dyx_image_t *image : images_) dyx_image_free(&image);
        RegistryTest::TearDown();
    }

    static void register_plugin(const char *name) {
        UdilRecord *record = nullptr;
        const std::string path = std::string(ORVO_TEST_PLUGIN_DIR) + "/libudil-" + name + ".so";
        ASSERT_EQ(dyx_udil_scan_library(&record, path.c_str()), 0);
        ASSERT_NE(record, nullptr) << path;
    }

    void close_mtm() {
        dyx_udil_mtm_close(mtm_);
        dyx_udil_mtm_free(&mtm_);
    }

    dyx_image_t *image(uint32_t width, uint32_t height, int32_t format = DYX_IMG_FMT_RGB) {
        images_.push_back(dyx_image_alloc(width, height, 0, format));
        dyx_image_t *made = images_.back();
        if (made != nullptr && made->data != nullptr) std::memset(made->data, 0, dyx_image_data_size(made));
        return made;
    }

    // A frame whose bytes depend on position, frame and eye.
    dyx_image_t *pattern(uint32_t width, uint32_t height, int frame, int eye = 0) {
        dyx_image_t *made = image(width, height);
        const uint64_t size = dyx_image_data_size(made);
        for (uint64_t i = 0; i < size; ++i) made->data[i] = uint8_t(i * 7 + frame * 31 + eye * 101 + i / 97);
        return made;
    }

    // Creates a write MTM with these tiles, its sub-movies and its file.
    int create(const std::vector<Tile> &tiles, int32_t width, int32_t height, int32_t stereo = 0,
               const char *options = nullptr) {
        mtm_ = dyx_udil_mtm_alloc(int32_t(tiles.size()), 20);
        if (mtm_ == nullptr) return -1;
        mtm_->full_width = width;
        mtm_->full_height = height;
        for (size_t i = 0; i < tiles.size(); ++i) {
            UdilMtmMovie &movie = mtm_->movies[i];
            movie.image_offset[0] = tiles[i].x;
            movie.image_offset[1] = tiles[i].y;
            movie.info = UdilMovieInfo{tiles[i].width, tiles[i].height, 3, stereo, 0, 0, 25.0f, UDIL_FMT_RGB};
            dyx_strncpy(movie.format, tiles[i].format, sizeof movie.format);
            dyx_strncpy(movie.file, scratch_.file(tiles[i].file).c_str(), sizeof movie.file);
            movie.option_count = 0;
            if (options != nullptr) {
                int32_t count = 0;
                UdilOption *parsed =
                    dyx_udil_parse_options(dyx_udil_find_by_name(tiles[i].format), options, &count);
                if (parsed == nullptr || count > 20) return -2;
                std::memcpy(movie.options, parsed, sizeof(UdilOption) * size_t(count));
                movie.option_count = count;
                dyx_free(parsed, __LINE__, __FILE__);
            }
        }
        const int result = dyx_udil_mtm_new_movies(mtm_);
        if (result != 0) return result;
        return dyx_udil_mtm_new(mtm_path().c_str(), mtm_);
    }

    // Closes the written MTM and opens it again for reading.
    int reopen() {
        close_mtm();
        mtm_ = dyx_udil_mtm_open(mtm_path().c_str());
        if (mtm_ == nullptr) return -1;
        return dyx_udil_mtm_open_movies(mtm_);
    }

    int open_text(const std::string &text) {
        close_mtm();
        mtm_ = dyx_udil_mtm_open(scratch_.write("hand.mtm", text).c_str());
        if (mtm_ == nullptr) return -1;
        return dyx_udil_mtm_open_movies(mtm_);
    }

    // Writes a small binary PPM of one grey value.
    void write_ppm(const std::string &name, int width, int height, uint8_t value) {
        std::string bytes = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
        bytes.append(size_t(width) * height * 3, char(value));
        scratch_.write(name, bytes);
    }

    std::string mtm_path() const { return scratch_.file("wall.mtm"); }
    std::string error() const { return dyx_udil_get_last_error_string(); }

    static bool same_pixels(const dyx_image_t *a, const dyx_image_t *b) {
        return dyx_image_data_size(a) == dyx_image_data_size(b) &&
               std::memcmp(a->data, b->data, dyx_image_data_size(a)) == 0;
    }

    ScratchDir scratch_;
    UdilMtm *mtm_ = nullptr;
    std::vector<dyx_image_t *> images_;
};

// The raster of a written PPM (its last width*height*3 bytes).
std::string ppm_raster(const std::string &path, size_t bytes) {
    const std::string all = udil_test::read_all(path);
    return all.size() >= bytes ? all.substr(all.size() - bytes) : std::string();
}

TEST_F(MtmIo, TwoByOneSplitsRedAndBlue) {
    ASSERT_EQ(create({{0, 0, 320, 480, "wall_0000_###", "ppm"}, {320, 0, 320, 480, "wall_0001_###", "ppm"}},
                     640, 480),
              0)
        << error();
    EXPECT_EQ(mtm_->movies[0].single_file, 0);
    EXPECT_STREQ(mtm_->movies[0].file, scratch_.file("wall_0000_###.ppm").c_str());
    dyx_image_t *frame = image(640, 480);
    for (uint32_t r = 0; r < 480; ++r)
        for (uint32_t c = 0; c < 640; ++c) frame->data[(r * 640 + c) * 3 + (c < 320 ? 0 : 2)] = 255;
    ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, frame, nullptr), 0) << error();
    EXPECT_EQ(mtm_->movies[1].frame_counter, 1);
    std::string red, blue;
    for (int i = 0; i < 320 * 480; ++i) {
        red.append("\xff\0\0", 3);
        blue.append("\0\0\xff", 3);
    }
    EXPECT_TRUE(ppm_raster(scratch_.file("wall_0000_000.ppm"), red.size()) == red);
    EXPECT_TRUE(ppm_raster(scratch_.file("wall_0001_000.ppm"), blue.size()) == blue);

    ASSERT_EQ(reopen(), 0) << error();
    EXPECT_EQ(mtm_->movies[0].frame_counter, 1);
    dyx_image_t *back = image(640, 480);
    ASSERT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, back, nullptr), 0) << error();
    EXPECT_TRUE(same_pixels(frame, back));
}

TEST_F(MtmIo, TwoByTwoPngRoundTripSeveralFrames) {
    // Tiles go down each column first, as a tiled write movie numbers them.
    ASSERT_EQ(create({{0, 0, 32, 24, "t0_##", "png"},
                      {0, 24, 32, 24, "t1_##", "png"},
                      {32, 0, 32, 24, "t2_##", "png"},
                      {32, 24, 32, 24, "t3_##", "png"}},
                     64, 48),
              0)
        << error();
    std::vector<dyx_image_t *> frames;
    for (int f = 0; f < 3; ++f) {
        frames.push_back(pattern(64, 48, f));
        ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, frames.back(), nullptr), 0) << error();
    }
    EXPECT_TRUE(udil_test::exists(scratch_.file("t3_02.png")));
    ASSERT_EQ(reopen(), 0) << error();
    EXPECT_EQ(mtm_->movies[3].frame_counter, 3);
    dyx_image_t *back = image(64, 48);
    for (int f : {2, 0, 1}) {
        ASSERT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, f, back, nullptr), 0) << error();
        EXPECT_TRUE(same_pixels(frames[size_t(f)], back)) << "frame " << f;
    }
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 3, back, nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, -1, back, nullptr), 6);
}

// Guards against a sub-movie named with one of its codec's suffixes being
// renamed (t_##.PNG written as t_##.PNG.png): only a name without one gets
// the codec's suffix.
TEST_F(MtmIo, SubMovieNamesWithTheCodecsSuffixAreKept) {
    ASSERT_EQ(create({{0, 0, 8, 4, "kept_##.PNG", "png"}, {8, 0, 8, 4, "bare_##", "png"}}, 16, 4), 0)
        << error();
    ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, pattern(16, 4, 0), nullptr), 0) << error();
    EXPECT_TRUE(udil_test::exists(scratch_.file("kept_00.PNG")));
    EXPECT_FALSE(udil_test::exists(scratch_.file("kept_00.PNG.png")));
    EXPECT_TRUE(udil_test::exists(scratch_.file("bare_00.png")));
    ASSERT_EQ(reopen(), 0) << error();
}

TEST_F(MtmIo, StereoPairsOfSequencesAndTheArgumentChecks) {
    ASSERT_EQ(create({{0, 0, 8, 6, "s0_@_##", "ppm"}, {8, 0, 8, 6, "s1_@_##", "ppm"}}, 16, 6, 1), 0)
        << error();
    dyx_image_t *left = pattern(16, 6, 0, 1);
    dyx_image_t *right = pattern(16, 6, 0, 2);
    // A stereo MTM wants both eyes; a mono one refuses the right eye.
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, left, nullptr), 6);
    EXPECT_EQ(error(), "Stereo/input image mismatch");
    ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, left, right), 0) << error();
    EXPECT_TRUE(udil_test::exists(scratch_.file("s1_l_00.ppm")) &&
                udil_test::exists(scratch_.file("s1_r_00.ppm")));
    ASSERT_EQ(reopen(), 0) << error();
    EXPECT_EQ(mtm_->movies[0].info.stereo, 1);
    dyx_image_t *left_back = image(16, 6);
    dyx_image_t *right_back = image(16, 6);
    ASSERT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, left_back, right_back), 0) << error();
    EXPECT_TRUE(same_pixels(left, left_back));
    EXPECT_TRUE(same_pixels(right, right_back));
    close_mtm();

    ASSERT_EQ(create({{0, 0, 8, 6, "a_#", "ppm"}, {8, 0, 8, 6, "b_#", "ppm"}}, 16, 6), 0) << error();
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, left, right), 6);
    EXPECT_EQ(error(), "Stereo/input image mismatch");
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, image(15, 6), nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, nullptr, nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, left, image(16, 5)), 6);
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(nullptr, left, nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, image(16, 6, DYX_IMG_FMT_RGBA), nullptr), 1);
    EXPECT_EQ(error(), "Incorrect image pixel format");
    EXPECT_EQ(mtm_->movies[0].frame_counter, 0);
    ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, left, nullptr), 0) << error();
    ASSERT_EQ(reopen(), 0) << error();
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, left, right), 1);
    EXPECT_EQ(error(), "Invalid stereo/input image option");
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, image(15, 6), nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, nullptr, nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, image(16, 6, DYX_IMG_FMT_L), nullptr), 1);
    EXPECT_EQ(error(), "Invalid input pixel format");
}

TEST_F(MtmIo, OpeningChecksFramesStereoAndOffsets) {
    for (int i = 0; i < 12; ++i) {
        if (i < 10) write_ppm("ten_" + std::to_string(i) + ".ppm", 4, 4, 10);
        write_ppm("twelve_" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".ppm", 4, 4, 12);
    }
    write_ppm("one_l.ppm", 4, 4, 1);
    write_ppm("one_r.ppm", 4, 4, 2);
    write_ppm("single.ppm", 4, 4, 3);
    write_ppm("single2.ppm", 4, 4, 4);
    const std::string head = "MTM 1.0\nfullresolution 8 4\nnummovies 2\n";

    EXPECT_EQ(open_text(head + "movie file \"ten_#.ppm\"\nmovie imageoffset 4 0 file \"twelve_##.ppm\"\n"),
              1);
    EXPECT_EQ(error(), "Different number of frames in sub movies");
    EXPECT_EQ(mtm_->movies[0].frame_counter, 10);
    EXPECT_EQ(mtm_->movies[1].frame_counter, 12);

    EXPECT_EQ(open_text(head + "movie file single.ppm\nmovie imageoffset 4 0 file one_@.ppm\n"), 1);
    EXPECT_EQ(error(), "Different stereo settings in sub movies");

    // A tile reaching past the full frame, whichever sub-movie it is.
    for (const char *tiles :
         {"movie imageoffset 5 0 file single.ppm\nmovie imageoffset 0 0 file single2.ppm\n",
          "movie file single.ppm\nmovie imageoffset 0 1 file single2.ppm\n",
          "movie imageoffset -1 0 file single.ppm\nmovie imageoffset 4 0 file single2.ppm\n"}) {
        EXPECT_EQ(open_text(head + tiles), 1) << tiles;
        EXPECT_EQ(error(), "Invalid offset values in sub movies");
    }

    // Single images make one-frame sub-movies; a stereo pair reads both eyes.
    ASSERT_EQ(open_text(head + "movie file one_@.ppm\nmovie imageoffset 4 0 file one_@.ppm\n"), 0) << error();
    dyx_image_t *left = image(8, 4);
    dyx_image_t *right = image(8, 4);
    ASSERT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, left, right), 0) << error();
    EXPECT_EQ(left->data[0], 1);
    EXPECT_EQ(left->data[8 * 4 * 3 - 1], 1);
    EXPECT_EQ(right->data[0], 2);
    EXPECT_STREQ(mtm_->movies[0].format, "ppm");  // chosen by suffix, named now

    // Without full resolution the offsets are not checked: the caller
    // refuses such files for frame transfer.
    EXPECT_EQ(open_text("MTM 1.0\nnummovies 1\nmovie file single.ppm bottomleft 0 0 0 bottomright 1 0 0 "
                        "topleft 0 1 0\n"),
              0)
        << error();
    EXPECT_EQ(mtm_->full_resolution, 0);
}

TEST_F(MtmIo, OpeningAndCreatingFailures) {
    write_ppm("single.ppm", 4, 4, 3);
    scratch_.write("broken.ppm", "P6\n4 4\n255\nxx");
    const std::string head = "MTM 1.0\nfullresolution 4 4\nnummovies 1\n";
    const std::pair<const char *, const char *> cases[] = {
        {"movie file single.xyz\n", "Unable to find UDIL"},
        {"movie format nosuch file single.ppm\n", "Unable to find UDIL"},
        {"movie file \"none_##.ppm\"\n", "Unable to find sub movie files"},
        {"movie file broken.ppm\n", "Unable to create UDIL handle: the file is shorter than its picture"}};
    for (const auto &c : cases) {
        EXPECT_EQ(open_text(head + c.first), 1) << c.first;
        EXPECT_EQ(error(), c.second);
    }
    close_mtm();
    EXPECT_EQ(create({{0, 0, 4, 4, "x_#", "nosuch"}}, 4, 4), 1);
    EXPECT_EQ(error(), "Unable to find necessary UDIL");
    close_mtm();
    // The size of the pixel layout is the plug-in's to refuse.
    EXPECT_EQ(create({{0, 0, 0, 4, "x_#", "ppm"}}, 4, 4), 1);
    EXPECT_EQ(error(), "Unable to create UDIL handle");
}

TEST_F(MtmIo, FailedTileWriteKeepsEarlierTiles) {
    // Sub-movie 1 names its frames in a directory that does not exist, so
    // its file is refused at the first write.
    ASSERT_EQ(create({{0, 0, 4, 4, "ok_#", "ppm"}, {4, 0, 4, 4, "gone/bad_#", "ppm"}}, 8, 4), 0) << error();
    EXPECT_NE(dyx_udil_mtm_write_planar_frame(mtm_, pattern(8, 4, 0), nullptr), 0);
    EXPECT_NE(error(), "");
    EXPECT_EQ(mtm_->movies[0].frame_counter, 1);
    EXPECT_EQ(mtm_->movies[1].frame_counter, 0);
    EXPECT_TRUE(udil_test::exists(scratch_.file("ok_0.ppm")));
}

// Regression: a larger later frame file was read past the tile buffer.
TEST_F(MtmIo, FailedTileReadStillReadsTheOthers) {
    write_ppm("a_0.ppm", 4, 4, 10);
    write_ppm("a_1.ppm", 4, 4, 11);
    write_ppm("a_2.ppm", 64, 64, 12);
    write_ppm("b_0.ppm", 4, 4, 20);
    write_ppm("b_1.ppm", 4, 4, 21);
    write_ppm("b_2.ppm", 4, 4, 22);
    ASSERT_EQ(open_text("MTM 1.0\nfullresolution 8 4\nnummovies 2\nmovie file \"a_#.ppm\"\n"
                        "movie imageoffset 4 0 file \"b_#.ppm\"\n"),
              0)
        << error();
    dyx_image_t *frame = image(8, 4);
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 2, frame, nullptr), 12);
    EXPECT_EQ(error(), "Mixed size images in sub movie");
    std::remove(scratch_.file("a_1.ppm").c_str());
    std::memset(frame->data, 99, dyx_image_data_size(frame));
    // The first failure is returned; its tile keeps what the frame held.
    EXPECT_NE(dyx_udil_mtm_read_planar_frame(mtm_, 1, frame, nullptr), 0);
    EXPECT_NE(error(), "");
    EXPECT_EQ(frame->data[0], 99);
    EXPECT_EQ(frame->data[4 * 3], 21);
    ASSERT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, frame, nullptr), 0) << error();
    EXPECT_EQ(frame->data[0], 10);
}

TEST_F(MtmIo, MovieCodecSubMoviesRoundTrip) {
    // FFV1 keeps RGB exactly; the sub-movies are single container files.
    register_plugin("ffmpeg");
    ASSERT_EQ(
        create({{0, 0, 32, 16, "c0", "ffmpeg"}, {32, 0, 32, 16, "c1", "ffmpeg"}}, 64, 16, 0, "codec ffv1"), 0)
        << error();
    EXPECT_EQ(mtm_->movies[1].single_file, 1);
    EXPECT_STREQ(mtm_->movies[1].file, scratch_.file("c1.mkv").c_str());
    std::vector<dyx_image_t *> frames;
    for (int f = 0; f < 3; ++f) {
        frames.push_back(pattern(64, 16, f));
        ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, frames.back(), nullptr), 0) << error();
    }
    ASSERT_EQ(reopen(), 0) << error();
    EXPECT_EQ(mtm_->movies[0].frame_counter, 3);
    dyx_image_t *back = image(64, 16);
    for (int f : {0, 2, 1}) {
        ASSERT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, f, back, nullptr), 0) << error();
        EXPECT_TRUE(same_pixels(frames[size_t(f)], back)) << "frame " << f;
    }
    EXPECT_EQ(dyx_udil_mtm_close(mtm_), 0);
    EXPECT_EQ(mtm_->movies[0].handle, nullptr);
    EXPECT_EQ(dyx_udil_mtm_close(mtm_), 0);  // closing twice is harmless
}

}  // namespace

namespace {

// The stereo-capable paths and plug-in statuses, through the test codecs.
class MtmFakes : public MtmIo {
protected:
    void SetUp() override {
        MtmIo::SetUp();
        ASSERT_EQ(dyx_udil_scan_libraries(udil_test::fake_dir("main").c_str()), 0);
    }

    void round_trip_stereo(const char *format, const char *stem) {
        const std::string a = std::string(stem) + "0", b = std::string(stem) + "1";
        ASSERT_EQ(create({{0, 0, 4, 2, a, format}, {4, 0, 4, 2, b, format}}, 8, 2, 1), 0) << error();
        std::vector<dyx_image_t *> lefts, rights;
        for (int f = 0; f < 2; ++f) {
            lefts.push_back(pattern(8, 2, f, 1));
            rights.push_back(pattern(8, 2, f, 2));
            ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, lefts.back(), rights.back()), 0) << error();
        }
        ASSERT_EQ(reopen(), 0) << error();
        EXPECT_EQ(mtm_->movies[1].info.stereo, 1);
        EXPECT_EQ(mtm_->movies[1].frame_counter, 2);
        dyx_image_t *left = image(8, 2);
        dyx_image_t *right = image(8, 2);
        for (int f : {1, 0}) {
            ASSERT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, f, left, right), 0) << error();
            EXPECT_TRUE(same_pixels(lefts[size_t(f)], left)) << format << " frame " << f;
            EXPECT_TRUE(same_pixels(rights[size_t(f)], right)) << format << " frame " << f;
        }
    }
};

TEST_F(MtmFakes, StereoCapableCodecsHoldBothEyes) {
    round_trip_stereo("fstereo", "fs_@_#_");
    EXPECT_TRUE(udil_test::exists(scratch_.file("fs_l_1_1.fks")));
    EXPECT_FALSE(udil_test::exists(scratch_.file("fs_r_1_1.fks")));
    close_mtm();
    round_trip_stereo("fmultistereo", "fx");
}

TEST_F(MtmFakes, PluginStatusesArePassedOn) {
    udil_test::FakeControl control(udil_test::fake_path("main", "fmulti"));
    ASSERT_TRUE(control.ok());
    ASSERT_EQ(create({{0, 0, 4, 2, "p0", "fmulti"}, {4, 0, 4, 2, "p1", "fmulti"}}, 8, 2), 0) << error();
    dyx_image_t *frame = pattern(8, 2, 0);
    ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, frame, nullptr), 0) << error();
    ASSERT_EQ(reopen(), 0) << error();
    control.fail("get", "p0", 5);
    dyx_image_t *back = image(8, 2);
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, back, nullptr), 5);
    EXPECT_EQ(error(), "fake: get refused for frame 0");
    // The tile that could be read is in place.
    EXPECT_EQ(std::memcmp(back->data + 4 * 3, frame->data + 4 * 3, 4 * 3), 0);
    control.clear();
    close_mtm();

    ASSERT_EQ(create({{0, 0, 4, 2, "q0", "fmulti"}, {4, 0, 4, 2, "q1", "fmulti"}}, 8, 2), 0) << error();
    ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, frame, nullptr), 0) << error();
    control.fail("save", "q1", 9);
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, frame, nullptr), 9);
    EXPECT_EQ(error(), "fake: save refused for frame 1");
    EXPECT_EQ(mtm_->movies[0].frame_counter, 2);
    EXPECT_EQ(mtm_->movies[1].frame_counter, 1);
    // The sub-movies now differ in length, which opening refuses.
    control.clear();
    ASSERT_EQ(reopen(), 1);
    EXPECT_EQ(error(), "Different number of frames in sub movies");
}

TEST_F(MtmFakes, CreatingContainerSubMoviesFailures) {
    udil_test::FakeControl control(udil_test::fake_path("main", "fmulti"));
    ASSERT_TRUE(control.ok());
    // A codec whose files hold many frames writes one file per frame only
    // for a run of '#': an eye template alone is refused.
    EXPECT_EQ(create({{0, 0, 4, 2, "x_@", "fmulti"}}, 4, 2), 1);
    EXPECT_EQ(error(), "UDIL is not multi-image capable");
    close_mtm();
    control.fail("new", "refused", 4);
    EXPECT_EQ(create({{0, 0, 4, 2, "made", "fmulti"}, {0, 0, 4, 2, "refused", "fmulti"}}, 4, 2), 1);
    EXPECT_EQ(error(), "fake: new refused for " + scratch_.file("refused.fkv"));
    EXPECT_NE(mtm_->movies[0].handle, nullptr);  // closed by dyx_udil_mtm_close
    EXPECT_EQ(mtm_->movies[1].handle, nullptr);
}

}  // namespace
