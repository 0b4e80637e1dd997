// The movie C API on the real PPM plug-in: reading with a frame range,
// repeats and flips (with and without read-ahead workers), writing and
// reading the files back with a plain PPM parser, appending one movie to
// another with callbacks that stop it or close one of the movies, movies
// used in a forked child, and the failures' statuses and texts.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dyx_parallel.h"
#include "dyx_string.h"
#include "dyx_udil_movie.h"
#include "udil_test_support.h"

namespace {

constexpr int32_t kWidth = 5, kHeight = 3, kFrames = 6;

// The byte of frame f at column x of the picture's top row y, colour c:
// every frame, row and column differ.
uint8_t sample(int32_t f, int32_t x, int32_t y, int32_t c) { return uint8_t(f * 40 + y * 12 + x * 3 + c); }

// The RGB samples of a PPM file (P6, maxval 255) top row first, parsed
// here rather than by the plug-in; empty when the file is not one.
std::vector<uint8_t> ppm_samples(const std::string &path, int32_t *width, int32_t *height) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return {};
    int maxval = 0;
    std::vector<uint8_t> samples;
    if (std::fscanf(file, "P6 %d %d %d", width, height, &maxval) == 3 && maxval == 255 &&
        std::fgetc(file) != EOF) {
        samples.resize(size_t(*width) * size_t(*height) * 3);
        if (std::fread(samples.data(), 1, samples.size(), file) != samples.size()) samples.clear();
    }
    std::fclose(file);
    return samples;
}

// The sample the movie gives at top row y of a frame (dyx rows count from
// the bottom).
uint8_t at(const dyx_image_t *image, int32_t x, int32_t y, int32_t c) {
    const int32_t row = int32_t(image->height) - 1 - y;
    return image->data[(size_t(row) * image->width + size_t(x)) * 3 + size_t(c)];
}

struct Progress {
    int32_t stop_after = -1;   // the frame after which the progress stops the transfer
    int32_t stop_before = -1;  // the frame before which the stop check fires
    int32_t checks = 0;
    std::vector<int32_t> frames;
};

int check_stop(void *context) {
    Progress &progress = *static_cast<Progress *>(context);
    return progress.checks++ == progress.stop_before;
}

int report(void *context, int32_t frame) {
    Progress &progress = *static_cast<Progress *>(context);
    progress.frames.push_back(frame);
    return frame == progress.stop_after ? DYX_MOVIE_ABORT : DYX_MOVIE_CONTINUE;
}

std::vector<std::string> warnings_seen;
int stop_at_warning(void *, const char *text) {
    warnings_seen.emplace_back(text);
    return 1;
}

class UdilMovie : public udil_test::RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        UdilRecord *ppm = nullptr;
        ASSERT_EQ(
            dyx_udil_scan_library(&ppm, (std::string(ORVO_TEST_PLUGIN_DIR) + "/libudil-ppm.so").c_str()), 0);
        ASSERT_NE(ppm, nullptr);
        dyx_parallel_set_threads(1);
    }
    void TearDown() override {
        dyx_udil_movie_free(&reader_);
        dyx_udil_movie_free(&writer_);
        dyx_parallel_set_threads(0);
        RegistryTest::TearDown();
    }

    // A write movie of `frames` frames under `name` (not yet open).
    DyxUdilMovie *new_writer(const std::string &name, int32_t frames) {
        DyxUdilMovie *movie = dyx_udil_movie_new(0);
        dyx_strncpy(movie->filename, scratch_.file(name).c_str(), sizeof movie->filename);
        dyx_udil_movie_set_dims(movie, kWidth, kHeight);
        movie->nframes = frames;
        return movie;
    }

    DyxUdilMovie *new_reader(const std::string &name) {
        DyxUdilMovie *movie = dyx_udil_movie_new(1);
        dyx_strncpy(movie->filename, scratch_.file(name).c_str(), sizeof movie->filename);
        return movie;
    }

    // Writes the pattern frames through the movie API.
    void write_source(const std::string &name) {
        writer_ = new_writer(name, kFrames);
        ASSERT_EQ(dyx_udil_movie_open(writer_, nullptr, nullptr), 0) << writer_->error;
        for (int32_t f = 0; f < kFrames; ++f) {
            dyx_image_t *image = dyx_image_alloc(kWidth, kHeight, 0, DYX_IMG_FMT_RGB);
            for (int32_t y = 0; y < kHeight; ++y)
                for (int32_t x = 0; x < kWidth; ++x)
                    for (int32_t c = 0; c < 3; ++c)
                        image->data[(size_t(kHeight - 1 - y) * kWidth + size_t(x)) * 3 + size_t(c)] =
                            sample(f, x, y, c);
            ASSERT_EQ(dyx_udil_movie_append_image(writer_, image, nullptr, 0), 0) << writer_->error;
        }
        ASSERT_EQ(dyx_udil_movie_close(writer_), 0) << writer_->error;
        dyx_udil_movie_free(&writer_);
        EXPECT_EQ(writer_, nullptr);
    }

    udil_test::ScratchDir scratch_;
    DyxUdilMovie *reader_ = nullptr;
    DyxUdilMovie *writer_ = nullptr;
};

TEST_F(UdilMovie, WrittenFramesReadBackAsPlainPpm) {
    write_source("w.####.ppm");
    for (int32_t f = 0; f < kFrames; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "w.%04d.ppm", f);
        int32_t width = 0, height = 0;
        const std::vector<uint8_t> samples = ppm_samples(scratch_.file(name), &width, &height);
        ASSERT_EQ(samples.size(), size_t(kWidth * kHeight * 3)) << name;
        ASSERT_EQ(width, kWidth);
        for (size_t i = 0; i < samples.size(); ++i)
            ASSERT_EQ(samples[i], sample(f, int32_t(i / 3 % kWidth), int32_t(i / 3 / kWidth), int32_t(i % 3)))
                << name << " byte " << i;
    }
}

TEST_F(UdilMovie, ReadsRangeRepeatsAndFlips) {
    write_source("s.####.ppm");
    struct Case {
        int32_t threads;
        int32_t range[2];
        int32_t repeat[2];
        int32_t flip;
        std::vector<int32_t> frames;  // the file frame of each frame read
    };
    const Case cases[] = {
        {1, {-1, -1}, {0, 0}, 0, {0, 1, 2, 3, 4, 5}},
        {1, {1, 3}, {1, 2}, DYX_FLIP_XAXIS, {1, 1, 2, 3, 3, 3}},
        {3, {2, 4}, {0, 1}, DYX_FLIP_XAXIS | DYX_FLIP_YAXIS, {2, 3, 4, 4}},
        {3, {0, 9}, {2, 0}, DYX_FLIP_YAXIS, {0, 0, 0, 1, 2, 3, 4, 5}},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(::testing::Message() << "threads " << test.threads << ", range " << test.range[0]);
        dyx_parallel_set_threads(test.threads);
        reader_ = new_reader("s.####.ppm");
        reader_->flip = test.flip;
        ASSERT_EQ(dyx_udil_movie_set_repeat(reader_, test.repeat[0], test.repeat[1]), 0);
        ASSERT_EQ(dyx_udil_movie_open(reader_, nullptr, nullptr), 0) << reader_->error;
        if (test.range[0] >= 0) {
            ASSERT_EQ(dyx_udil_movie_set_framerange(reader_, test.range[0], test.range[1]), 0);
        }
        ASSERT_EQ(reader_->nframes, int32_t(test.frames.size()));
        // Frame 0 is read twice first (a look before the run), then all in order.
        std::vector<int32_t> order{0};
        for (int32_t n = 0; n < reader_->nframes; ++n) order.push_back(n);
        for (int32_t n : order) {
            dyx_image_t *left = nullptr, *right = nullptr;
            ASSERT_EQ(dyx_udil_movie_read_frame(reader_, n, &left, &right), 0) << reader_->error;
            EXPECT_EQ(right, nullptr);
            const int32_t f = test.frames[size_t(n)];
            for (int32_t y = 0; y < kHeight; ++y)
                for (int32_t x = 0; x < kWidth; ++x) {
                    const int32_t sx = test.flip & DYX_FLIP_YAXIS ? kWidth - 1 - x : x;
                    const int32_t sy = test.flip & DYX_FLIP_XAXIS ? kHeight - 1 - y : y;
                    ASSERT_EQ(at(left, x, y, 1), sample(f, sx, sy, 1))
                        << "frame " << n << " at " << x << "," << y;
                }
            dyx_image_free(&left);
        }
        ASSERT_EQ(dyx_udil_movie_close(reader_), 0);
        dyx_udil_movie_free(&reader_);
    }
}

TEST_F(UdilMovie, AppendMovieStopsWhenACallbackSaysSo) {
    write_source("src.####.ppm");
    struct Case {
        Progress progress;
        int status;
        const char *error;
        int32_t written;
    };
    const Case cases[] = {
        {Progress{-1, -1, 0, {}}, 0, "", kFrames},
        {Progress{2, -1, 0, {}}, DYX_MOVIE_FAILED, "Operation aborted by user", 3},
        {Progress{-1, 4, 0, {}}, DYX_MOVIE_STOPPED, "Operation interrupted", 4},
    };
    int k = 0;
    for (const Case &test : cases) {
        SCOPED_TRACE(::testing::Message() << "case " << k);
        reader_ = new_reader("src.####.ppm");
        ASSERT_EQ(dyx_udil_movie_open(reader_, nullptr, nullptr), 0) << reader_->error;
        const std::string target = "dst" + std::to_string(k++) + ".####.ppm";
        writer_ = new_writer(target, kFrames);
        ASSERT_EQ(dyx_udil_movie_open(writer_, nullptr, nullptr), 0) << writer_->error;
        Progress progress = test.progress;
        const DyxUdilMovieTransfer transfer{0, check_stop, report, &progress};
        EXPECT_EQ(dyx_udil_movie_append_movie(writer_, reader_, &transfer), test.status);
        EXPECT_STREQ(dyx_udil_movie_error(writer_), test.error);
        EXPECT_EQ(writer_->realframes, test.written);
        EXPECT_EQ(progress.frames.size(), size_t(test.written));
        ASSERT_EQ(dyx_udil_movie_close(writer_), 0);
        // The frames written before the stop are whole files; none after.
        for (int32_t f = 0; f <= kFrames; ++f) {
            char name[64];
            std::snprintf(name, sizeof name, "dst%d.%04d.ppm", k - 1, f);
            int32_t width = 0, height = 0;
            EXPECT_EQ(ppm_samples(scratch_.file(name), &width, &height).size(),
                      f < test.written ? size_t(kWidth * kHeight * 3) : 0u)
                << name;
        }
        dyx_udil_movie_free(&writer_);
        dyx_udil_movie_free(&reader_);
    }
}

// True when frame f of the read movie has the pattern's pixels.
bool reads_frame(DyxUdilMovie *movie, int32_t f) {
    dyx_image_t *left = nullptr, *right = nullptr;
    if (dyx_udil_movie_read_frame(movie, f, &left, &right) != 0) return false;
    bool same = true;
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x)
            for (int32_t c = 0; c < 3; ++c) same = same && at(left, x, y, c) == sample(f, x, y, c);
    dyx_image_free(&left);
    dyx_image_free(&right);
    return same;
}

// The exit status of a forked child running `work`, which it ends itself
// after 30 s should it hang (SIGALRM then ends it).
template <typename Work>
int in_forked_child(Work work) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(30);
        _exit(work() ? 0 : 1);
    }
    int status = -1;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return status;
}

// The workers decoding ahead and encoding behind are the parent's: a child
// works without them (starting its own) and never waits for them.
TEST_F(UdilMovie, AForkedChildUsesMoviesWithoutTheParentsWorkers) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' own allocator locks are not fork-safe: a child forked while a worker "
                    "frees memory can hang inside the sanitizer; the plain build runs this test";
#endif
    write_source("src.####.ppm");
    for (int threads : {1, 3}) {
        SCOPED_TRACE(::testing::Message() << "threads " << threads);
        dyx_parallel_set_threads(threads);
        reader_ = new_reader("src.####.ppm");
        ASSERT_EQ(dyx_udil_movie_open(reader_, nullptr, nullptr), 0) << reader_->error;
        for (int32_t f = 0; f < 3; ++f) ASSERT_TRUE(reads_frame(reader_, f)) << f;  // decoding ahead now
        const int read = in_forked_child([this] {
            bool all = true;
            for (int32_t f : {3, 4, 5, 0, 1}) all = all && reads_frame(reader_, f);
            return all && dyx_udil_movie_close(reader_) == 0;
        });
        EXPECT_EQ(read, 0) << "the reading child's wait status (SIGALRM " << SIGALRM << ": it hung)";
        for (int32_t f = 3; f < kFrames; ++f) EXPECT_TRUE(reads_frame(reader_, f)) << f;

        const std::string target = "out" + std::to_string(threads) + ".####.ppm";
        writer_ = new_writer(target, kFrames);
        ASSERT_EQ(dyx_udil_movie_open(writer_, nullptr, nullptr), 0) << writer_->error;
        const DyxUdilMovieTransfer none{};
        ASSERT_EQ(dyx_udil_movie_set_framerange(reader_, 0, 2), 0);
        ASSERT_EQ(dyx_udil_movie_append_movie(writer_, reader_, &none), 0) << writer_->error;
        const int written = in_forked_child([this] {
            dyx_udil_movie_close(writer_);  // whatever it says, it returns
            return true;
        });
        EXPECT_EQ(written, 0) << "the writing child's wait status (SIGALRM " << SIGALRM << ": it hung)";
        ASSERT_EQ(dyx_udil_movie_set_framerange(reader_, 3, 5), 0);
        ASSERT_EQ(dyx_udil_movie_append_movie(writer_, reader_, &none), 0) << writer_->error;
        ASSERT_EQ(dyx_udil_movie_close(writer_), 0) << writer_->error;
        for (int32_t f = 0; f < kFrames; ++f) {
            char name[64];
            std::snprintf(name, sizeof name, "out%d.%04d.ppm", threads, f);
            int32_t width = 0, height = 0;
            EXPECT_EQ(ppm_samples(scratch_.file(name), &width, &height).size(), size_t(kWidth * kHeight * 3))
                << name;
        }
        dyx_udil_movie_free(&writer_);
        dyx_udil_movie_free(&reader_);
    }
}

// What a progress callback does to one of the movies after frame 1:
// close it, and open it again (a write movie under `rename`).
struct Reopening {
    DyxUdilMovie *movie = nullptr;
    bool reopen = false;
    std::string rename;
    int closed = -99, opened = -99;
};

int reopen_after_frame_1(void *context, int32_t frame) {
    Reopening &change = *static_cast<Reopening *>(context);
    if (frame != 1) return DYX_MOVIE_CONTINUE;
    change.closed = dyx_udil_movie_close(change.movie);
    if (!change.reopen) return DYX_MOVIE_CONTINUE;
    if (!change.rename.empty()) {
        dyx_strncpy(change.movie->filename, change.rename.c_str(), sizeof change.movie->filename);
        dyx_udil_movie_set_dims(change.movie, kWidth + 2, kHeight + 2);
    }
    change.opened = dyx_udil_movie_open(change.movie, nullptr, nullptr);
    return DYX_MOVIE_CONTINUE;
}

// Frames of one transfer never go on into another file (nor come from
// one): the two written before the callback stay in the first output.
TEST_F(UdilMovie, AppendMovieEndsWhenACallbackClosesOrReopensAMovie) {
    write_source("src.####.ppm");
    const std::string target_moved =
        "the movie was closed or reopened during append(); the remaining frames were not written";
    const std::string source_moved =
        "the appended movie was closed or reopened during append(); the remaining frames were not written";
    struct Case {
        bool target;  // the callback changes the write movie, else the read movie
        bool reopen;
        const char *rename;
        const std::string &error;
    };
    const Case cases[] = {
        {true, false, "", target_moved},
        {true, true, "other.####.ppm", target_moved},
        {false, false, "", source_moved},
        {false, true, "", source_moved},
    };
    int k = 0;
    // On the calling thread, and with frames read ahead and written behind.
    for (int threads : {1, 2})
        for (const Case &test : cases) {
            dyx_parallel_set_threads(threads);
            SCOPED_TRACE(::testing::Message() << "case " << k);
            reader_ = new_reader("src.####.ppm");
            ASSERT_EQ(dyx_udil_movie_open(reader_, nullptr, nullptr), 0) << reader_->error;
            const std::string target = "moved" + std::to_string(k++) + ".####.ppm";
            writer_ = new_writer(target, kFrames);
            ASSERT_EQ(dyx_udil_movie_open(writer_, nullptr, nullptr), 0) << writer_->error;
            Reopening change;
            change.movie = test.target ? writer_ : reader_;
            change.reopen = test.reopen;
            if (test.rename[0] != '\0') change.rename = scratch_.file(test.rename);
            const DyxUdilMovieTransfer transfer{0, nullptr, reopen_after_frame_1, &change};
            EXPECT_EQ(dyx_udil_movie_append_movie(writer_, reader_, &transfer), DYX_MOVIE_FAILED);
            EXPECT_EQ(dyx_udil_movie_error(writer_), test.error);
            EXPECT_EQ(change.closed, 0);
            EXPECT_EQ(change.opened, test.reopen ? 0 : -99);
            if (writer_->is_open) {
                EXPECT_EQ(writer_->realframes, test.target ? 0 : 2);
                EXPECT_EQ(dyx_udil_movie_close(writer_), 0) << writer_->error;
            }
            for (int32_t f = 0; f < kFrames; ++f) {
                char name[64];
                std::snprintf(name, sizeof name, "moved%d.%04d.ppm", k - 1, f);
                int32_t width = 0, height = 0;
                EXPECT_EQ(ppm_samples(scratch_.file(name), &width, &height).size(),
                          f < 2 ? size_t(kWidth * kHeight * 3) : 0u)
                    << name;
                std::snprintf(name, sizeof name, "other.%04d.ppm", f);
                EXPECT_FALSE(udil_test::exists(scratch_.file(name))) << name;
            }
            dyx_udil_movie_free(&writer_);
            dyx_udil_movie_free(&reader_);
        }
}

TEST_F(UdilMovie, FailuresGiveTheirStatusAndText) {
    DyxUdilMovie *movie = dyx_udil_movie_new(1);
    dyx_image_t *left = nullptr, *right = nullptr;
    EXPECT_EQ(dyx_udil_movie_open(movie, nullptr, nullptr), DYX_MOVIE_FAILED);
    EXPECT_STREQ(dyx_udil_movie_error(movie), "a filename must be specified");
    EXPECT_EQ(dyx_udil_movie_read_frame(movie, 0, &left, &right), DYX_MOVIE_FAILED);
    EXPECT_STREQ(movie->error, "open() required before getframe()");
    EXPECT_EQ(dyx_udil_movie_close(movie), DYX_MOVIE_FAILED);
    EXPECT_STREQ(movie->error, "open() required before close()");
    dyx_strncpy(movie->filename, scratch_.file("missing.ppm").c_str(), sizeof movie->filename);
    EXPECT_EQ(dyx_udil_movie_open(movie, nullptr, nullptr), DYX_MOVIE_FAILED);
    EXPECT_EQ(std::string(movie->error).rfind("Unable to open movie file: ", 0), 0u) << movie->error;
    EXPECT_EQ(movie->is_open, 0);
    dyx_udil_movie_free(&movie);
    EXPECT_EQ(movie, nullptr);

    // A one-picture codec without a run of # would lose all frames but one.
    writer_ = new_writer("one.ppm", 2);
    EXPECT_EQ(dyx_udil_movie_open(writer_, nullptr, nullptr), DYX_MOVIE_FAILED);
    EXPECT_STREQ(
        writer_->error,
        "Unable to create movie file: a ppm file holds one picture: 2 frames need a run of # in the file "
        "name for the frame number");
    EXPECT_FALSE(udil_test::exists(scratch_.file("one.ppm")));

    // A warning the caller turns into an error makes nothing.
    dyx_strncpy(writer_->filename, scratch_.file("w.#.ppm").c_str(), sizeof writer_->filename);
    dyx_strncpy(writer_->options, "bogus 1", sizeof writer_->options);
    warnings_seen.clear();
    EXPECT_EQ(dyx_udil_movie_open(writer_, stop_at_warning, nullptr), DYX_MOVIE_STOPPED);
    EXPECT_EQ(warnings_seen, std::vector<std::string>{"warning: unknown option: bogus"});
    EXPECT_EQ(writer_->is_open, 0);
    EXPECT_EQ(dyx_udil_movie_may_append(writer_), DYX_MOVIE_FAILED);
    EXPECT_STREQ(writer_->error, "open() required before append()");
}

// Guards against a movie opened without a count losing frames: it takes
// what its names can number and refuses the next frame.
TEST_F(UdilMovie, AnUncountedMovieTakesFramesUpToWhatItsNamesHold) {
    struct Case {
        const char *name;
        int32_t tiles_across;
        int32_t appended;
        int32_t taken;
        const char *first_file;
    };
    const Case cases[] = {
        {"u.#.ppm", 1, 12, 10, "u.9.ppm"},              // one digit numbers ten frames
        {"one.ppm", 1, 2, 1, "one.ppm"},                // one picture without a run
        {"u.####.ppm", 1, 20, 20, "u.0019.ppm"},        // plenty of room
        {"tiles.ppm", 5, 3, 3, "tiles_0004.0002.ppm"},  // tiles number their frames
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writer_ = new_writer(c.name, 0);
        dyx_udil_movie_set_tiling(writer_, c.tiles_across, 1);
        ASSERT_EQ(dyx_udil_movie_open_uncounted(writer_, nullptr, nullptr), 0) << writer_->error;
        EXPECT_EQ(writer_->nframes, 0);  // the announced count is left alone
        int32_t taken = 0;
        for (int32_t f = 0; f < c.appended; ++f) {
            dyx_image_t *image = dyx_image_alloc(kWidth, kHeight, 0, DYX_IMG_FMT_RGB);
            std::memset(image->data, f, dyx_image_data_size(image));
            const int status = dyx_udil_movie_append_image(writer_, image, nullptr, 0);
            if (status != 0) {
                EXPECT_STREQ(writer_->error, "past maximum number of frames, close() required");
                break;
            }
            ++taken;
        }
        EXPECT_EQ(taken, c.taken);
        EXPECT_EQ(writer_->realframes, c.taken);
        const std::string description = scratch_.file(std::string(c.name) + ".mtm");
        // A tiled movie describes itself once it is whole.
        EXPECT_FALSE(udil_test::exists(description));
        ASSERT_EQ(dyx_udil_movie_close(writer_), 0) << writer_->error;
        EXPECT_EQ(udil_test::exists(description), c.tiles_across > 1);
        EXPECT_TRUE(udil_test::exists(scratch_.file(c.first_file)));
        dyx_udil_movie_free(&writer_);
    }
    // The tiled movie reads back whole.
    reader_ = new_reader("tiles.ppm.mtm");
    ASSERT_EQ(dyx_udil_movie_open_uncounted(reader_, nullptr, nullptr), 0) << reader_->error;
    EXPECT_EQ(reader_->nframes, 3);
    EXPECT_EQ(reader_->width, kWidth);
}

}  // namespace

// A plug-in without udil_describe (PPM) is described by what the host
// knows; the text is cut to the buffer and its whole length returned.
TEST_F(UdilMovie, DescribeGivesTheHostsFactsAndTheWholeLength) {
    write_source("d.####.ppm");
    reader_ = new_reader("d.####.ppm");
    EXPECT_EQ(dyx_udil_movie_describe(reader_, nullptr, 0), -1);
    EXPECT_STREQ(reader_->error, "open() required before describe()");
    ASSERT_EQ(dyx_udil_movie_open(reader_, nullptr, nullptr), 0) << reader_->error;
    const std::string expected =
        "{\"plugin\": \"ppm\", \"width\": 5, \"height\": 3, \"frames\": 6, \"fps\": null, \"stereo\": false}";
    char text[256];
    ASSERT_EQ(dyx_udil_movie_describe(reader_, text, int32_t(sizeof text)), int32_t(expected.size()));
    EXPECT_EQ(std::string(text), expected);
    char short_text[10];
    std::memset(short_text, 'x', sizeof short_text);
    EXPECT_EQ(dyx_udil_movie_describe(reader_, short_text, int32_t(sizeof short_text)),
              int32_t(expected.size()));
    EXPECT_EQ(std::string(short_text), expected.substr(0, 9));

    writer_ = new_writer("e.####.ppm", 1);
    ASSERT_EQ(dyx_udil_movie_open(writer_, nullptr, nullptr), 0) << writer_->error;
    EXPECT_EQ(dyx_udil_movie_describe(writer_, text, int32_t(sizeof text)), -1);
    EXPECT_STREQ(writer_->error, "describe() not allowed on write movie");
}
