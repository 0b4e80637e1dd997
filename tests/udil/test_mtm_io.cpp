// Tiled frame transfer through Multi-Tile Movies with the real plug-ins:
// writing full frames into tiles, reading them back, the consistency checks
// on opening and the argument checks of the transfers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dyx_string.h"
#include "dyx_udil_mtm.h"
#include "udil_test_support.h"

namespace {

struct Tile {
    int32_t x, y, width, height;
    std::string file;  // without suffix when written
    const char *format;
};

// The fake codecs and the PPM plug-in (only it: the movie plug-in pulls in
// libraries that keep allocations of their own).
class MtmIo : public udil_test::FakeCodecsTest {
protected:
    void SetUp() override {
        FakeCodecsTest::SetUp();
        UdilRecord *ppm = nullptr;
        ASSERT_EQ(
            dyx_udil_scan_library(&ppm, (std::string(ORVO_TEST_PLUGIN_DIR) + "/libudil-ppm.so").c_str()), 0);
        ASSERT_NE(ppm, nullptr);
    }
    void TearDown() override {
        close_mtm();
        FakeCodecsTest::TearDown();
    }

    void close_mtm() {
        dyx_udil_mtm_close(mtm_);
        dyx_udil_mtm_free(&mtm_);
    }

    // A frame whose bytes depend on position, frame and eye.
    dyx_image_t *pattern(uint32_t width, uint32_t height, int frame, int eye = 0) {
        dyx_image_t *made = picture(0, width, height);
        const uint64_t size = dyx_image_data_size(made);
        for (uint64_t i = 0; i < size; ++i) made->data[i] = uint8_t(i * 7 + frame * 31 + eye * 101 + i / 97);
        return made;
    }

    // Creates a write MTM with these tiles, its sub-movies and its file.
    int create(const std::vector<Tile> &tiles, int32_t width, int32_t height, int32_t stereo = 0) {
        mtm_ = dyx_udil_mtm_alloc(int32_t(tiles.size()), 0);
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
        }
        const int result = dyx_udil_mtm_new_movies(mtm_);
        if (result != 0) return result;
        return dyx_udil_mtm_new(mtm_path().c_str(), mtm_);
    }

    // Opens an MTM file and its sub-movies for reading: the written one, or
    // one of `text`.
    int reopen(const std::string &path = "") {
        close_mtm();
        mtm_ = dyx_udil_mtm_open(path.empty() ? mtm_path().c_str() : path.c_str());
        return mtm_ == nullptr ? -1 : dyx_udil_mtm_open_movies(mtm_);
    }
    int open_text(const std::string &text) { return reopen(scratch_.write("hand.mtm", text)); }

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

    UdilMtm *mtm_ = nullptr;
};

// The raster of a written PPM (its last width*height*3 bytes).
std::string ppm_raster(const std::string &path, size_t bytes) {
    const std::string all = udil_test::read_all(path);
    return all.size() >= bytes ? all.substr(all.size() - bytes) : std::string();
}

// Tiles go down each column first, as a tiled write movie numbers them.
// Guards against a sub-movie named with one of its codec's suffixes being
// renamed (t1_##.PPM written as t1_##.PPM.ppm): only a name without one gets
// the codec's suffix.
TEST_F(MtmIo, EachTileFileHoldsItsRectangleOfEveryFrame) {
    const std::vector<Tile> tiles = {{0, 0, 5, 3, "t0_##", "ppm"},
                                     {0, 3, 5, 2, "t1_##.PPM", "ppm"},
                                     {5, 0, 3, 3, "t2_##", "ppm"},
                                     {5, 3, 3, 2, "t3_##", "ppm"}};
    ASSERT_EQ(create(tiles, 8, 5), 0) << error();
    EXPECT_EQ(mtm_->movies[0].single_file, 0);
    EXPECT_STREQ(mtm_->movies[0].file, scratch_.file("t0_##.ppm").c_str());
    std::vector<dyx_image_t *> frames;
    for (int f = 0; f < 3; ++f) {
        frames.push_back(pattern(8, 5, f));
        ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, frames.back(), nullptr), 0) << error();
    }
    EXPECT_EQ(mtm_->movies[3].frame_counter, 3);
    const char *last_files[] = {"t0_02.ppm", "t1_02.PPM", "t2_02.ppm", "t3_02.ppm"};
    for (size_t t = 0; t < tiles.size(); ++t) {
        // The file's top row is the tile's last buffer row (row 0 is the bottom).
        std::string rows;
        for (int32_t y = tiles[t].y + tiles[t].height - 1; y >= tiles[t].y; --y)
            rows.append(reinterpret_cast<const char *>(frames[2]->data) + (y * 8 + tiles[t].x) * 3,
                        size_t(tiles[t].width) * 3);
        EXPECT_TRUE(ppm_raster(scratch_.file(last_files[t]), rows.size()) == rows) << last_files[t];
    }
    EXPECT_FALSE(udil_test::exists(scratch_.file("t1_00.PPM.ppm")));

    ASSERT_EQ(reopen(), 0) << error();
    EXPECT_EQ(mtm_->movies[3].frame_counter, 3);
    dyx_image_t *back = picture(0, 8, 5);
    for (int f : {2, 0, 1}) {
        ASSERT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, f, back, nullptr), 0) << error();
        EXPECT_TRUE(same_pixels(frames[size_t(f)], back)) << "frame " << f;
    }
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 3, back, nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, -1, back, nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_close(mtm_), 0);
    EXPECT_EQ(mtm_->movies[0].handle, nullptr);
    EXPECT_EQ(dyx_udil_mtm_close(mtm_), 0);  // closing twice is harmless
}

TEST_F(MtmIo, FrameTransferArgumentChecks) {
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
    close_mtm();

    ASSERT_EQ(create({{0, 0, 8, 6, "a_#", "ppm"}, {8, 0, 8, 6, "b_#", "ppm"}}, 16, 6), 0) << error();
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, left, right), 6);
    EXPECT_EQ(error(), "Stereo/input image mismatch");
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, picture(0, 15, 6), nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, nullptr, nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, left, picture(0, 16, 5)), 6);
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(nullptr, left, nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, picture(0, 16, 6, DYX_IMG_FMT_RGBA), nullptr), 1);
    EXPECT_EQ(error(), "Incorrect image pixel format");
    EXPECT_EQ(mtm_->movies[0].frame_counter, 0);
    ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, left, nullptr), 0) << error();
    ASSERT_EQ(reopen(), 0) << error();
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, left, right), 1);
    EXPECT_EQ(error(), "Invalid stereo/input image option");
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, picture(0, 15, 6), nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, nullptr, nullptr), 6);
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, picture(0, 16, 6, DYX_IMG_FMT_L), nullptr), 1);
    EXPECT_EQ(error(), "Invalid input pixel format");
}

TEST_F(MtmIo, OpeningChecksEachSubMovieAndThatTheyAgree) {
    for (int i = 0; i < 12; ++i) {
        if (i < 3) {
            // Frame 2 of a_#.ppm is larger than its tile.
            write_ppm("a_" + std::to_string(i) + ".ppm", i == 2 ? 64 : 4, i == 2 ? 64 : 4, uint8_t(10 + i));
            write_ppm("b_" + std::to_string(i) + ".ppm", 4, 4, uint8_t(20 + i));
        }
        if (i < 10) write_ppm("ten_" + std::to_string(i) + ".ppm", 4, 4, 10);
        write_ppm("twelve_" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".ppm", 4, 4, 12);
    }
    write_ppm("one_l.ppm", 4, 4, 1);
    write_ppm("one_r.ppm", 4, 4, 2);
    write_ppm("single.ppm", 4, 4, 3);
    write_ppm("single2.ppm", 4, 4, 4);
    scratch_.write("broken.ppm", "P6\n4 4\n255\nxx");
    const std::string head = "MTM 1.0\nfullresolution 8 4\nnummovies 2\n";
    const std::string good_second = "movie imageoffset 4 0 file single2.ppm\n";
    const std::pair<std::string, const char *> refused[] = {
        {"movie file \"ten_#.ppm\"\nmovie imageoffset 4 0 file \"twelve_##.ppm\"\n",
         "Different number of frames in sub movies"},
        {"movie file single.ppm\nmovie imageoffset 4 0 file one_@.ppm\n",
         "Different stereo settings in sub movies"},
        // A tile reaching past the full frame, whichever sub-movie it is.
        {"movie imageoffset 5 0 file single.ppm\nmovie imageoffset 0 0 file single2.ppm\n",
         "Invalid offset values in sub movies"},
        {"movie file single.ppm\nmovie imageoffset 0 1 file single2.ppm\n",
         "Invalid offset values in sub movies"},
        {"movie imageoffset -1 0 file single.ppm\n" + good_second, "Invalid offset values in sub movies"},
        {"movie file single.xyz\n" + good_second, "Unable to find UDIL"},
        {"movie format nosuch file single.ppm\n" + good_second, "Unable to find UDIL"},
        {"movie file \"none_##.ppm\"\n" + good_second, "Unable to find sub movie files"},
        {"movie file broken.ppm\n" + good_second,
         "Unable to create UDIL handle: the file is shorter than its picture"},
    };
    for (const auto &r : refused) {
        EXPECT_EQ(open_text(head + r.first), 1) << r.first;
        EXPECT_EQ(error(), r.second) << r.first;
    }

    // Single images make one-frame sub-movies; a stereo pair reads both eyes.
    ASSERT_EQ(open_text(head + "movie file one_@.ppm\nmovie imageoffset 4 0 file one_@.ppm\n"), 0) << error();
    dyx_image_t *left = picture(0, 8, 4);
    dyx_image_t *right = picture(0, 8, 4);
    ASSERT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, left, right), 0) << error();
    EXPECT_EQ(left->data[0], 1);
    EXPECT_EQ(left->data[8 * 4 * 3 - 1], 1);
    EXPECT_EQ(right->data[0], 2);
    EXPECT_STREQ(mtm_->movies[0].format, "ppm");  // chosen by suffix, named now

    // Regression: a larger later frame file was read past the tile buffer.
    // It fails; the other frames still read.
    ASSERT_EQ(open_text(head + "movie file \"a_#.ppm\"\nmovie imageoffset 4 0 file \"b_#.ppm\"\n"), 0)
        << error();
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 2, left, nullptr), 12);
    EXPECT_EQ(error(), "Mixed size images in sub movie");
    ASSERT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, left, nullptr), 0) << error();
    EXPECT_EQ(left->data[0], 10);

    // Without full resolution the offsets are not checked: the caller
    // refuses such files for frame transfer.
    EXPECT_EQ(open_text("MTM 1.0\nnummovies 1\nmovie file single.ppm bottomleft 0 0 0 bottomright 1 0 0 "
                        "topleft 0 1 0\n"),
              0)
        << error();
    EXPECT_EQ(mtm_->full_resolution, 0);
}

// The stereo-capable paths and plug-in statuses, through the test codecs.
TEST_F(MtmIo, StereoCapableCodecsHoldBothEyes) {
    for (const auto &[format, stem] :
         {std::make_pair("fstereo", "fs_@_#_"), std::make_pair("fmultistereo", "fx")}) {
        const std::string a = std::string(stem) + "0", b = std::string(stem) + "1";
        ASSERT_EQ(create({{0, 0, 4, 2, a, format}, {4, 0, 4, 2, b, format}}, 8, 2, 1), 0) << error();
        std::vector<dyx_image_t *> lefts, rights;
        for (int f = 0; f < 2; ++f) {
            lefts.push_back(pattern(8, 2, f, 1));
            rights.push_back(pattern(8, 2, f, 2));
            ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, lefts.back(), rights.back()), 0) << error();
        }
        ASSERT_EQ(reopen(), 0) << error();
        EXPECT_TRUE(mtm_->movies[1].info.stereo == 1 && mtm_->movies[1].frame_counter == 2) << format;
        dyx_image_t *left = picture(0, 8, 2), *right = picture(0, 8, 2);
        for (int f : {1, 0}) {
            ASSERT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, f, left, right), 0) << error();
            EXPECT_TRUE(same_pixels(lefts[size_t(f)], left)) << format << " frame " << f;
            EXPECT_TRUE(same_pixels(rights[size_t(f)], right)) << format << " frame " << f;
        }
        close_mtm();
    }
    // A stereo codec keeps both eyes in one file, named as the left eye's.
    EXPECT_TRUE(udil_test::exists(scratch_.file("fs_l_1_1.fks")));
    EXPECT_FALSE(udil_test::exists(scratch_.file("fs_r_1_1.fks")));
}

TEST_F(MtmIo, PluginStatusesArePassedOnAndCreatingFailures) {
    udil_test::FakeControl control(udil_test::fake_path("main", "fmulti"));
    ASSERT_TRUE(control.ok());
    ASSERT_EQ(create({{0, 0, 4, 2, "p0", "fmulti"}, {4, 0, 4, 2, "p1", "fmulti"}}, 8, 2), 0) << error();
    dyx_image_t *frame = pattern(8, 2, 0);
    ASSERT_EQ(dyx_udil_mtm_write_planar_frame(mtm_, frame, nullptr), 0) << error();
    ASSERT_EQ(reopen(), 0) << error();
    control.fail("get", "p0", 5);
    dyx_image_t *back = picture(99, 8, 2);
    EXPECT_EQ(dyx_udil_mtm_read_planar_frame(mtm_, 0, back, nullptr), 5);
    EXPECT_EQ(error(), "fake: get refused for frame 0");
    // The failed tile keeps what the frame held; the other one is read.
    EXPECT_EQ(back->data[0], 99);
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
    close_mtm();

    // Creating refusals: an unknown codec, a size the plug-in refuses, and
    // an eye template alone for a codec whose files hold many frames (it
    // writes one file per frame only for a run of '#').
    const std::pair<Tile, const char *> refused[] = {
        {{0, 0, 4, 4, "x_#", "nosuch"}, "Unable to find necessary UDIL"},
        {{0, 0, 0, 4, "x_#", "ppm"}, "Unable to create UDIL handle"},
        {{0, 0, 4, 4, "x_@", "fmulti"}, "UDIL is not multi-image capable"},
    };
    for (const auto &[tile, message] : refused) {
        EXPECT_EQ(create({tile}, 4, 4), 1) << tile.format;
        EXPECT_EQ(error(), message);
        close_mtm();
    }
    control.fail("new", "refused", 4);
    EXPECT_EQ(create({{0, 0, 4, 2, "made", "fmulti"}, {0, 0, 4, 2, "refused", "fmulti"}}, 4, 2), 1);
    EXPECT_EQ(error(), "fake: new refused for " + scratch_.file("refused.fkv"));
    EXPECT_NE(mtm_->movies[0].handle, nullptr);  // closed by dyx_udil_mtm_close
    EXPECT_EQ(mtm_->movies[1].handle, nullptr);
}

}  // namespace
