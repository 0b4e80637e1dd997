// The Multi-Tile Movie text file: records, the writer, the reader with
// every refusal, and sub-movie name resolution.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "dyx_path.h"
#include "dyx_string.h"
#include "dyx_udil_mtm.h"
#include "udil_test_support.h"

namespace {

class MtmFormat : public ::testing::Test {
protected:
    void SetUp() override { dyx_udil_set_err_str(nullptr); }
    void TearDown() override { dyx_udil_mtm_free(&mtm_); }

    // Reads `text` as an .mtm file; the record or null.
    UdilMtm *read_text(const std::string &text, const std::string &name = "t.mtm") {
        dyx_udil_mtm_free(&mtm_);
        mtm_ = dyx_udil_mtm_open(scratch_.write(name, text).c_str());
        return mtm_;
    }
    // Writes mtm_ to `name` and reads it back into mtm_; the text written.
    std::string write_and_read_back(const std::string &name) {
        const std::string path = scratch_.file(name);
        EXPECT_EQ(dyx_udil_mtm_new(path.c_str(), mtm_), 0) << error();
        dyx_udil_mtm_free(&mtm_);
        mtm_ = dyx_udil_mtm_open(path.c_str());
        return udil_test::read_all(path);
    }
    std::string error() const { return dyx_udil_get_last_error_string(); }

    udil_test::ScratchDir scratch_;
    UdilMtm *mtm_ = nullptr;
};

const char kHead[] = "MTM 1.0\nfullresolution 640 480\nnummovies 1\nmovie\n";

TEST_F(MtmFormat, WriterLayoutAndRoundTripWithOffsetsOrCorners) {
    mtm_ = dyx_udil_mtm_alloc(2, 0);
    ASSERT_NE(mtm_, nullptr);
    mtm_->full_width = 1920;
    mtm_->full_height = 1080;
    const std::string files[] = {scratch_.file("left tile_####.ppm"),
                                 scratch_.make_dir("elsewhere") + "/right.mov"};
    const char *formats[] = {"ppm", "ffmpeg"};
    for (int i = 0; i < 2; ++i) {
        UdilMtmMovie &movie = mtm_->movies[i];
        movie.image_offset[0] = 960 * i;
        movie.image_offset[1] = 7;
        dyx_strncpy(movie.format, formats[i], sizeof movie.format);
        dyx_strncpy(movie.file, files[i].c_str(), sizeof movie.file);
    }
    const std::string text = write_and_read_back("wall.mtm");
    EXPECT_EQ(text.rfind("MTM 1.0\n#\n# This is a Multi-Tile Movie file.\n#\n\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nfullresolution 1920 1080\n\nnummovies 2\n\n"), std::string::npos) << text;
    // The file in the MTM's directory is written by its last component.
    EXPECT_NE(text.find("movie\n  imageoffset 0 7\n  format ppm\n  file \"left tile_####.ppm\"\n\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("movie\n  imageoffset 960 7\n  format ffmpeg\n  file \"" + files[1] + "\"\n\n"),
              std::string::npos)
        << text;

    ASSERT_NE(mtm_, nullptr) << error();
    EXPECT_TRUE(mtm_->full_resolution == 1 && mtm_->full_width == 1920 && mtm_->full_height == 1080);
    ASSERT_EQ(mtm_->movie_count, 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(mtm_->movies[i].image_offset[0], 960 * i);
        EXPECT_EQ(mtm_->movies[i].image_offset[1], 7);
        EXPECT_STREQ(mtm_->movies[i].format, formats[i]);
    }
    EXPECT_EQ(std::string(mtm_->movies[0].file), scratch_.path() + "//left tile_####.ppm");
    EXPECT_EQ(std::string(mtm_->movies[1].file), files[1]);

    // Corners instead of a full resolution.
    dyx_udil_mtm_free(&mtm_);
    mtm_ = dyx_udil_mtm_alloc(1, 0);
    ASSERT_NE(mtm_, nullptr);
    mtm_->full_resolution = 0;
    mtm_->movies[0].bottom_left = {1.5f, 2.0f, -3.0f};
    mtm_->movies[0].bottom_right = {4.0f, 5.0f, 6.0f};
    mtm_->movies[0].top_left = {7.0f, 8.25f, 9.0f};
    dyx_strncpy(mtm_->movies[0].file, scratch_.file("a.mov").c_str(), DYX_UDIL_MTM_FILE_SIZE);
    const std::string corners = write_and_read_back("c.mtm");
    EXPECT_EQ(corners.find("fullresolution"), std::string::npos);
    EXPECT_NE(
        corners.find("  bottomleft 1.500000 2.000000 -3.000000\n  bottomright 4.000000 5.000000 6.000000\n"
                     "  topleft 7.000000 8.250000 9.000000\n"),
        std::string::npos)
        << corners;
    // An empty format (choose by suffix) is left out, so that it reads back.
    EXPECT_EQ(corners.find("format"), std::string::npos) << corners;
    ASSERT_NE(mtm_, nullptr) << error();
    EXPECT_EQ(mtm_->full_resolution, 0);
    EXPECT_TRUE(mtm_->movies[0].bottom_left.z == -3.0f && mtm_->movies[0].top_left.y == 8.25f);
    EXPECT_STREQ(mtm_->movies[0].format, "");
}

TEST_F(MtmFormat, AllocAndWriterRefusals) {
    EXPECT_EQ(dyx_udil_mtm_alloc(-1, 0), nullptr);
    EXPECT_EQ(error(), "Unable to allocate MTM");
    // Each movie gets its own option table; nothing is open yet.
    mtm_ = dyx_udil_mtm_alloc(2, 5);
    ASSERT_NE(mtm_, nullptr);
    const UdilMtmMovie &last = mtm_->movies[1];
    EXPECT_TRUE(last.option_count == 5 && last.options != mtm_->movies[0].options && last.handle == nullptr);
    EXPECT_EQ(last.info.frames, -1);

    EXPECT_EQ(dyx_udil_mtm_new(scratch_.file("x.mtm").c_str(), nullptr), 1);
    dyx_strncpy(mtm_->movies[0].file, "a.ppm", DYX_UDIL_MTM_FILE_SIZE);
    EXPECT_EQ(dyx_udil_mtm_new(scratch_.file("missing/x.mtm").c_str(), mtm_), 7);
    EXPECT_EQ(error(), "Unable to open .mtm file");
    // A quote cannot be written inside the quoted name.
    dyx_strncpy(mtm_->movies[0].file, scratch_.file("a\"b.ppm").c_str(), DYX_UDIL_MTM_FILE_SIZE);
    EXPECT_EQ(dyx_udil_mtm_new(scratch_.file("q.mtm").c_str(), mtm_), 6);
    EXPECT_FALSE(udil_test::exists(scratch_.file("q.mtm")));

    // Regression: a relative name from another directory would be resolved
    // against the MTM's directory when read back: it is written absolute.
    dyx_strncpy(mtm_->movies[0].file, "sub/tile.ppm", DYX_UDIL_MTM_FILE_SIZE);
    ASSERT_EQ(dyx_udil_mtm_new(scratch_.file("r.mtm").c_str(), mtm_), 0);
    char cwd[1024];
    ASSERT_NE(dyx_getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_NE(
        udil_test::read_all(scratch_.file("r.mtm")).find(std::string("file \"") + cwd + "/sub/tile.ppm\""),
        std::string::npos);
}

TEST_F(MtmFormat, GrammarDetailsAndNameResolution) {
    ASSERT_NE(read_text("MTM 1.0 # first line\n"
                        "# comment\n"
                        "defaultformat \"ppm\" ; fullresolution 64 32\n"
                        "nummovies 2\n"
                        "movie\n  file \"tile #1 ###.ppm\"  format png imageoffset 3 4\n"
                        "movie\n"),
              nullptr)
        << error();
    EXPECT_STREQ(mtm_->default_format, "ppm");
    EXPECT_EQ(mtm_->full_width, 64);
    EXPECT_EQ(mtm_->full_height, 32);
    EXPECT_EQ(std::string(mtm_->movies[0].file), scratch_.path() + "//tile #1 ###.ppm");
    EXPECT_STREQ(mtm_->movies[0].format, "png");
    EXPECT_EQ(mtm_->movies[0].image_offset[0], 3);
    EXPECT_EQ(mtm_->movies[0].image_offset[1], 4);
    // An empty last block is allowed.
    EXPECT_EQ(std::string(mtm_->movies[1].file), scratch_.path() + "//");

    // Long words are cut to the field sizes.
    const std::string long_format(100, 'f');
    ASSERT_NE(read_text(std::string(kHead) + "format " + long_format + "\n"), nullptr) << error();
    EXPECT_EQ(std::string(mtm_->movies[0].format), long_format.substr(0, 31));
    // A header line longer than 255 characters is read without harm.
    ASSERT_NE(read_text("MTM 1.0" + std::string(400, ' ') + "x\nnummovies 1\nmovie\n"), nullptr) << error();
    // As many blocks as the bound allows.
    std::string many = "MTM 1.0\nnummovies 4096\n";
    for (int i = 0; i < 4096; ++i) many += "movie imageoffset " + std::to_string(i) + " 0 file /t\n";
    ASSERT_NE(read_text(many), nullptr) << error();
    EXPECT_EQ(mtm_->movies[4095].image_offset[0], 4095);

    // Sub-movie names: relative ones against the MTM's directory.
    ASSERT_NE(read_text("MTM 1.0\nnummovies 5\n"
                        "movie file a.mov\nmovie file ./b.mov\nmovie file /abs/c.mov\n"
                        "movie file \"~/d.mov\"\nmovie file C:e.mov\n",
                        "x.mtm"),
              nullptr)
        << error();
    char home_file[1024];
    ASSERT_EQ(dyx_expand_pathname("~/d.mov", home_file, sizeof home_file), 0);
    EXPECT_EQ(std::string(mtm_->movies[0].file), scratch_.path() + "//a.mov");
    EXPECT_STREQ(mtm_->movies[1].file, "./b.mov");
    EXPECT_STREQ(mtm_->movies[2].file, "/abs/c.mov");
    EXPECT_STREQ(mtm_->movies[3].file, home_file);
    EXPECT_STREQ(mtm_->movies[4].file, "C:e.mov");

    // A relative .mtm path resolves its movies against ".".
    char old_cwd[1024];
    ASSERT_NE(dyx_getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(dyx_setcwd(scratch_.path().c_str()), 0);
    UdilMtm *relative = dyx_udil_mtm_open("x.mtm");
    dyx_setcwd(old_cwd);
    ASSERT_NE(relative, nullptr) << error();
    EXPECT_STREQ(relative->movies[0].file, "./a.mov");
    dyx_udil_mtm_free(&relative);
}

TEST_F(MtmFormat, MalformedFilesAreRefusedWithTheirMessage) {
    EXPECT_EQ(dyx_udil_mtm_open(scratch_.file("absent.mtm").c_str()), nullptr);
    EXPECT_EQ(error(), "Unable to open file: " + scratch_.file("absent.mtm") + ": No such file or directory");

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "File is not an MTM file"},
        {"MOVIE 1.0\n", "File is not an MTM file"},
        {"MTM 2.0\n", "Wrong MTM file version"},
        {"MTM nan\n", "Wrong MTM file version"},
        {"MTM 1.0\ndefaultformat", "Unable to parse defaultformat"},
        {"MTM 1.0\nfullresolution 640 x\n", "Unable to parse fullresolution"},
        {"MTM 1.0\nnummovies two\n", "Unable to parse nummovies"},
        {"MTM 1.0\nmovie\n", "Nummovies < 1 before first movie"},
        {"MTM 1.0\nnummovies 0\nmovie\n", "Nummovies < 1 before first movie"},
        {"MTM 1.0\nfullres 1 2\n", "Unexpeced word detected"},
        {std::string(kHead) + "bottomleft 1 2 x\n", "Unable to parse bottomleft"},
        {std::string(kHead) + "bottomleft 1 2 3\n", "Unexpected end of file"},
        {std::string(kHead) + "bottomleft 1 2 3 topleft 1 2 3\n", "Unable to find bottomright"},
        {std::string(kHead) + "bottomleft 1 2 3 bottomright 1 y 3\n", "Unable to parse bottomright"},
        {std::string(kHead) + "bottomleft 1 2 3 bottomright 1 2 3\n", "Unexpected end of file"},
        {std::string(kHead) + "bottomleft 1 2 3 bottomright 1 2 3 file x\n", "Unable to find topleft"},
        {std::string(kHead) + "bottomleft 1 2 3 bottomright 1 2 3 topleft 1 2\n", "Unable to parse topleft"},
        // A coordinate too large for a float (found by fuzzing: it read as
        // infinity and was written back as a word no reader takes).
        {std::string(kHead) + "bottomleft 1 2 3 bottomright 1 2 3 topleft 0 1" + std::string(60, '4') +
             " 0\n",
         "Unable to parse topleft"},
        {std::string(kHead) + "bottomleft -1e39 0 0 bottomright 1 2 3 topleft 1 2 3\n",
         "Unable to parse bottomleft"},
        {std::string(kHead) + "imageoffset a 0\n", "Unable to parse timageoffset"},
        {std::string(kHead) + "format\n", "Unable to parse movie format"},
        {std::string(kHead) + "file\n", "Unable to parse file"},
        {std::string(kHead) + "nummovies 2\n", "Unexpected word encountered"},
        // Blocks and count that disagree, and counts out of range.
        {std::string(kHead) + "file a\nmovie file b\n", "More movie blocks than nummovies"},
        {"MTM 1.0\nnummovies 3\nmovie file a\nmovie file b\n", "Fewer movie blocks than nummovies"},
        {"MTM 1.0\nnummovies 2\n", "No movie block in MTM file"},
        {"MTM 1.0\n", "No movie block in MTM file"},
        {"MTM 1.0\nnummovies 4097\nmovie\n", "Nummovies above 4096 not supported"},
        {"MTM 1.0\nnummovies 99999999999\nmovie\n", "Nummovies above 4096 not supported"},
    };
    for (const auto &[text, message] : cases) {
        dyx_udil_set_err_str(nullptr);
        EXPECT_EQ(read_text(text), nullptr) << text;
        EXPECT_EQ(error(), message) << text;
    }
}

// The last error keeps 255 characters, and so does its copy.
TEST_F(MtmFormat, LastErrorCopyIsBounded) {
    const std::string long_text(300, 'e');
    dyx_udil_set_err_str(long_text.c_str());
    EXPECT_EQ(std::string(dyx_udil_get_last_error_string()), long_text.substr(0, 255));
    char buffer[DYX_UDIL_ERROR_SIZE + 8];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(dyx_udil_mtm_last_error(buffer), buffer);
    EXPECT_EQ(std::string(buffer), long_text.substr(0, 255));
    EXPECT_EQ(buffer[DYX_UDIL_ERROR_SIZE], 'z');
    EXPECT_EQ(dyx_udil_mtm_last_error(nullptr), nullptr);
    // Without a plug-in to ask, the text is emptied.
    dyx_udil_set_err_udil(nullptr, nullptr);
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "");
}

}  // namespace
