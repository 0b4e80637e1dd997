// Every allocating operation with its 1st, 2nd, ... allocation failing in
// turn: no crash, the documented status or null, nothing leaked (the
// sanitizer build's leak checker), and the operation works again after.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "../utils/scratch_dir.h"
#include "alloc_faults.h"
#include "dyx_cache.h"
#include "dyx_hash.h"
#include "dyx_image.h"
#include "dyx_image_composite.h"
#include "dyx_io.h"
#include "dyx_list.h"
#include "dyx_malloc.h"
#include "dyx_mpool.h"
#include "dyx_path.h"
#include "dyx_temp_mem.h"
#include "dyx_udil.h"
#include "dyx_udil_mtm.h"
#include "dyx_udil_stream.h"

namespace {

using alloc_faults::walk;
using testing_support::ScratchDir;

TEST(AllocFaults, MemoryPoolGrowsOrReportsNull) {
    walk("mpool create/alloc/free", [] {
        dyx_mpool_t *pool = dyx_mpool_create(24, 4);
        if (pool == nullptr) return false;
        void *elements[10] = {};
        bool all = true;
        for (void *&element : elements) {
            element = dyx_mpool_alloc(pool);
            if (element == nullptr)
                all = false;
            else
                std::memset(element, 0x5a, 24);
        }
        for (void *element : elements)
            if (element) dyx_mpool_free(pool, element);
        dyx_mpool_destroy(&pool);
        return all;
    });
}

TEST(AllocFaults, ListsOfPooledElements) {
    walk("list pool/create/append", [] {
        dyx_list_pool_t *pool = dyx_list_pool_create(16, 3, 1);
        if (pool == nullptr) return false;
        dyx_list_t *list = dyx_list_create(pool);
        bool all = list != nullptr;
        for (int i = 0; list && i < 8; ++i) {
            void *element = dyx_list_alloc(list);
            if (element == nullptr) {
                all = false;
                break;
            }
            dyx_list_append(list, element);
        }
        if (list && all && dyx_list_length(list) != 8) all = false;
        dyx_list_destroy(&list);
        dyx_list_pool_destroy(&pool);
        return all;
    });
}

TEST(AllocFaults, HashTablesAddAndMerge) {
    walk("hash create/add/merge", [] {
        dyx_hash_t *table = dyx_hash_create(7, 2, int32_t(sizeof(int)), int32_t(sizeof(int)), 0);
        dyx_hash_t *other = dyx_hash_create(7, 2, int32_t(sizeof(int)), int32_t(sizeof(int)), 0);
        bool all = table && other;
        for (int key = 0; all && key < 12; ++key) {
            const int value = key * 3;
            if (dyx_hash_add(key % 2 ? table : other, key % 7, &key, &value) != 0) all = false;
        }
        if (all && dyx_hash_merge(table, other, nullptr, nullptr) != 0) all = false;
        for (int key = 0; all && key < 12; ++key) {
            int value = -1;
            if (dyx_hash_find(table, key % 7, &key, &value) != 1 || value != key * 3) all = false;
        }
        dyx_hash_destroy(&table);
        dyx_hash_destroy(&other);
        return all;
    });
}

TEST(AllocFaults, PointerListsAndPairTables) {
    walk("plist pools/create/append", [] {
        if (dyx_plist_pool_create(2, 3) != 0) return false;
        dyx_plist_t *list = dyx_plist_create();
        bool all = list != nullptr;
        for (int i = 0; all && i < 7; ++i) {
            dyx_plist_node_t *node = dyx_plist_alloc();
            if (node == nullptr)
                all = false;
            else
                dyx_plist_append(list, node);
        }
        if (all && dyx_plist_length(list) != 7) all = false;
        dyx_plist_destroy(&list);
        dyx_plist_pool_destroy();
        return all;
    });
    walk("hash pairs create/add", [] {
        dyx_hash_pairs_t *pairs = dyx_hash_pairs_create(5, 2, int32_t(sizeof(int)), 0);
        bool all = pairs != nullptr;
        for (int i = 0; all && i < 9; ++i)
            if (dyx_hash_pairs_add(pairs, i, 100 - i, &i) != 0) all = false;
        int value = -1;
        if (all && (dyx_hash_pairs_find(pairs, 96, 4, &value) != 1 || value != 4)) all = false;
        dyx_hash_pairs_destroy(&pairs);
        return all;
    });
}

TEST(AllocFaults, CacheAndTemporaryMemory) {
    walk("cache init/alloc/realloc", [] {
        if (dyx_plist_pool_create(4, 4) != 0) return false;
        bool all = dyx_cache_init(1) == 0;
        void *first = nullptr, *second = nullptr;
        if (all) {
            dyx_cache_alloc(&first, 1000);
            dyx_cache_alloc(&second, 3000);
            if (first == nullptr || second == nullptr) all = false;
        }
        if (all) {
            std::memset(first, 0x11, 1000);
            dyx_cache_realloc(&first, 200000);
            all = first != nullptr && static_cast<unsigned char *>(first)[999] == 0x11;
        }
        dyx_cache_done();
        dyx_plist_pool_destroy();
        return all;
    });
    walk("temp mem alloc/resize", [] {
        void *buffer = dyx_temp_mem_alloc(5000);
        bool all = buffer != nullptr;
        if (all) {
            std::memset(buffer, 0x22, 5000);
            void *grown = dyx_temp_mem_resize(buffer, 50000);
            // A failed resize keeps the old buffer handed out.
            if (grown == nullptr)
                all = false;
            else
                buffer = grown;
            all = all && static_cast<unsigned char *>(buffer)[4999] == 0x22;
        }
        if (buffer) dyx_temp_mem_release(buffer);
        dyx_temp_mem_free_all();
        return all;
    });
}

TEST(AllocFaults, PathsAndDirectoryListings) {
    walk("norm path", [] {
        char out[256];
        return dyx_get_norm_path("/a/./b/../c//d", out, sizeof out) == 0 && std::strcmp(out, "/a/c/d") == 0;
    });
    ScratchDir scratch;
    for (int i = 0; i < 40; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "a_rather_long_file_name_for_the_listing_%04d.ppm", i);
        scratch.write(name);
    }
    const std::string pattern = scratch.file("*.ppm");
    walk("dir list", [&] {
        char *full = nullptr, *dirs = nullptr, *files = nullptr;
        int32_t dir_count = 0, file_count = 0;
        const int status = dyx_dir_list(pattern.c_str(), &full, &dir_count, &dirs, &file_count, &files, 0);
        std::free(full);
        std::free(dirs);
        std::free(files);
        if (status != 0) {
            EXPECT_EQ(2, status);
        }
        return status == 0 && file_count == 40;
    });
}

TEST(AllocFaults, ImagesConvertAndScale) {
    ASSERT_EQ(0, dyx_image_pool_create(2));
    walk("image alloc", [] {
        dyx_image_t *images[5] = {};
        bool all = true;
        for (dyx_image_t *&image : images) {
            image = dyx_image_alloc(33, 17, 1, UDIL_FMT_RGBA);
            if (image == nullptr) all = false;
        }
        for (dyx_image_t *&image : images) dyx_image_free(&image);
        return all;
    });
    dyx_image_t *source = dyx_image_alloc(40, 30, 1, UDIL_FMT_RGB);
    ASSERT_NE(nullptr, source);
    std::memset(source->data, 0x80, dyx_image_data_size(source));
    dyx_image_t *grey = dyx_image_alloc(0, 0, 0, UDIL_FMT_L);
    dyx_image_t *small = dyx_image_alloc(13, 9, 0, UDIL_FMT_RGB);
    ASSERT_NE(nullptr, grey);
    ASSERT_NE(nullptr, small);
    walk("image convert", [&] {
        dyx_image_t *copy = dyx_image_alloc(40, 30, 1, UDIL_FMT_RGB);
        if (copy == nullptr) return false;
        std::memcpy(copy->data, source->data, dyx_image_data_size(source));
        dyx_image_t *before = copy;
        const int status = dyx_image_convert(&copy, grey);
        // A failed conversion keeps the old record as it was.
        const bool kept = status == 0 || (copy == before && copy->format == UDIL_FMT_RGB);
        EXPECT_TRUE(kept);
        const bool converted = status == 0 && copy->format == UDIL_FMT_L && copy->data[0] == 0x7f;
        dyx_image_free(&copy);
        return converted;
    });
    for (uint32_t flags : {0u, uint32_t(DYX_SCALE_SMOOTH)}) {
        walk(flags ? "image scale smooth" : "image scale nearest", [&] {
            dyx_image_t *copy = dyx_image_alloc(40, 30, 0, UDIL_FMT_RGB);
            if (copy == nullptr) return false;
            std::memset(copy->data, 0x40, dyx_image_data_size(copy));
            const int status = dyx_image_scale(&copy, small, flags);
            const bool scaled =
                status == 0 && copy->width == 13 && copy->height == 9 && copy->data[0] == 0x40;
            if (status != 0) {
                EXPECT_EQ(40u, copy->width);  // the old record stays
            }
            dyx_image_free(&copy);
            return scaled;
        });
    }
    walk("image bitblt", [&] {
        dyx_image_t *target = dyx_image_alloc(13, 9, 0, UDIL_FMT_RGB);
        if (target == nullptr) return false;
        dyx_image_t *whole = dyx_image_alloc(40, 30, 0, UDIL_FMT_RGB);
        int status = 2;
        if (whole) {
            std::memset(whole->data, 0x33, dyx_image_data_size(whole));
            const uint8_t border[4] = {0, 0, 0, 255};
            status = dyx_image_bitblt(whole, target, nullptr, nullptr, nullptr, nullptr, 0, border);
            if (status != 0) {
                EXPECT_EQ(2, status);
            }
        }
        const bool copied = status == 0 && target->data[0] == 0x33;
        dyx_image_free(&whole);
        dyx_image_free(&target);
        return copied;
    });
    dyx_image_free(&source);
    dyx_image_free(&grey);
    dyx_image_free(&small);
}

// The codec host over the build's PPM plug-in.
class CodecHostFaults : public ::testing::Test {
protected:
    void SetUp() override {
        dyx_udil_list_done();
        ASSERT_EQ(0, dyx_image_pool_create(4));
        ASSERT_EQ(0, dyx_udil_scan_libraries(ORVO_TEST_PLUGIN_DIR));
        record_ = dyx_udil_find_by_name("ppm");
        ASSERT_NE(nullptr, record_);
        ASSERT_EQ(0, dyx_udil_load(record_));
    }
    void TearDown() override { dyx_udil_list_done(); }

    UdilRecord *record_ = nullptr;
    ScratchDir scratch_;
};

TEST_F(CodecHostFaults, RegistryScan) {
    dyx_udil_list_done();
    // A plug-in whose option table cannot be allocated is registered
    // without options, so the scan may succeed after a failure; but a
    // record it keeps must be whole.
    walk(
        "plug-in scan",
        [] {
            dyx_udil_list_done();
            const int status = dyx_udil_scan_libraries(ORVO_TEST_PLUGIN_DIR);
            UdilRecord *ppm = dyx_udil_find_by_name("ppm");
            if (ppm != nullptr && (ppm->option_count == 0) != (ppm->options == nullptr)) return false;
            return status == 0 && ppm != nullptr && ppm->option_count > 0;
        },
        true);
}

TEST_F(CodecHostFaults, OptionStrings) {
    walk("options parse", [&] {
        int32_t count = -1;
        UdilOption *options = dyx_udil_parse_options(record_, "format 1 bits 1", &count);
        if (options == nullptr) {
            EXPECT_EQ(0, count);
            return false;
        }
        const bool parsed = count == record_->option_count;
        dyx_free(options, __LINE__, __FILE__);
        return parsed;
    });
    walk("options setopts", [&] { return dyx_udil_setopts(record_, "bits 1") == 0; });
    ASSERT_EQ(0, dyx_udil_setopts(record_, ""));
}

TEST_F(CodecHostFaults, StreamsWriteAndRead) {
    dyx_image_t *picture = dyx_image_alloc(8, 6, 0, UDIL_FMT_RGB);
    ASSERT_NE(nullptr, picture);
    for (uint64_t i = 0; i < dyx_image_data_size(picture); ++i) picture->data[i] = uint8_t(i * 7);
    const std::string base = scratch_.file("frame");
    walk("stream new/save/close", [&] {
        UdilMovieInfo info{8, 6, 1, 0, 0, 0, 25.0f, UDIL_FMT_RGB};
        UdilStream *stream = dyx_udil_file_new(base.c_str(), record_, &info, 0, nullptr);
        if (stream == nullptr) return false;
        const int status = dyx_udil_save_image(stream, 0, UDIL_EYE_MONO, picture, nullptr);
        dyx_udil_file_close(&stream);
        return status == 0;
    });
    const std::string path = base + ".ppm";
    walk("stream open/get/close", [&] {
        UdilMovieInfo info{0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};
        int32_t first = 0, last = 0;
        UdilStream *stream =
            dyx_udil_file_open(path.c_str(), record_, &info, nullptr, 0, nullptr, &first, &last);
        if (stream == nullptr) return false;
        dyx_image_t *read = dyx_image_alloc(8, 6, 0, UDIL_FMT_RGB);
        const int status = read ? dyx_udil_get_image(stream, 0, UDIL_EYE_MONO, read, nullptr) : 2;
        const bool same =
            status == 0 && std::memcmp(read->data, picture->data, dyx_image_data_size(picture)) == 0;
        dyx_image_free(&read);
        dyx_udil_file_close(&stream);
        return same;
    });
    dyx_image_free(&picture);
}

TEST_F(CodecHostFaults, MultiTileMovieDescription) {
    const std::string path = scratch_.file("tiles.mtm");
    walk("mtm alloc/new", [&] {
        UdilMtm *mtm = dyx_udil_mtm_alloc(3, 2);
        if (mtm == nullptr) return false;
        std::snprintf(mtm->default_format, sizeof mtm->default_format, "ppm");
        mtm->full_resolution = 1;
        mtm->full_width = 30;
        mtm->full_height = 10;
        for (int32_t i = 0; i < 3; ++i) {
            std::snprintf(mtm->movies[i].file, sizeof mtm->movies[i].file, "tile%d.####", int(i));
            mtm->movies[i].image_offset[0] = 10 * i;
        }
        const int status = dyx_udil_mtm_new(path.c_str(), mtm);
        dyx_udil_mtm_free(&mtm);
        return status == 0;
    });
    walk("mtm open", [&] {
        UdilMtm *mtm = dyx_udil_mtm_open(path.c_str());
        if (mtm == nullptr) return false;
        const bool read = mtm->movie_count == 3 && mtm->movies[2].image_offset[0] == 20;
        dyx_udil_mtm_free(&mtm);
        return read;
    });
}

TEST_F(CodecHostFaults, MultiTileMovieRead) {
    // Two 4x2 PPM tiles side by side in an 8x2 frame.
    for (int tile = 0; tile < 2; ++tile) {
        std::string bytes = "P6\n4 2\n255\n";
        for (int i = 0; i < 24; ++i) bytes += char(tile * 100 + i);
        scratch_.write(tile ? "t1.ppm" : "t0.ppm", bytes);
    }
    const std::string path =
        scratch_.write("read.mtm",
                       "MTM 1.0\ndefaultformat ppm\nfullresolution 8 2\nnummovies 2\n"
                       "movie\n imageoffset 0 0\n file t0.ppm\nmovie\n imageoffset 4 0\n file t1.ppm\n");
    walk("mtm open/read frame", [&] {
        UdilMtm *mtm = dyx_udil_mtm_open(path.c_str());
        if (mtm == nullptr) return false;
        dyx_image_t *frame = nullptr;
        int status = dyx_udil_mtm_open_movies(mtm);
        if (status == 0) {
            frame = dyx_image_alloc(8, 2, 0, UDIL_FMT_RGB);
            status = frame ? dyx_udil_mtm_read_planar_frame(mtm, 0, frame, nullptr) : 2;
        }
        // Second tile, first pixel of the top row in the file's order.
        const bool read = status == 0 && (frame->data[12] == char(100) || frame->data[12 + 24] == char(100));
        dyx_image_free(&frame);
        dyx_udil_mtm_close(mtm);
        dyx_udil_mtm_free(&mtm);
        return read;
    });
}

TEST_F(CodecHostFaults, NumberedSequenceStreams) {
    dyx_image_t *picture = dyx_image_alloc(5, 3, 0, UDIL_FMT_RGB);
    ASSERT_NE(nullptr, picture);
    std::memset(picture->data, 0x44, dyx_image_data_size(picture));
    const std::string name = scratch_.file("seq.####");
    UdilMovieInfo info{5, 3, 4, 0, 0, 0, 25.0f, UDIL_FMT_RGB};
    UdilStream *writer = dyx_udil_file_new(name.c_str(), record_, &info, 0, nullptr);
    ASSERT_NE(nullptr, writer);
    for (int32_t frame = 1; frame <= 4; ++frame)
        ASSERT_EQ(0, dyx_udil_save_image(writer, frame, UDIL_EYE_MONO, picture, nullptr));
    dyx_udil_file_close(&writer);
    const std::string template_name = name + ".ppm";
    const std::string single = scratch_.file("seq.0002.ppm");
    walk("sequence open/append/get", [&] {
        UdilMovieInfo found{0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};
        int32_t first = 1, last = 4;
        UdilStream *stream =
            dyx_udil_file_open(template_name.c_str(), record_, &found, nullptr, 0, nullptr, &first, &last);
        if (stream == nullptr) return false;
        int32_t one = -1, also_one = -1;
        int status = dyx_udil_file_append(stream, single.c_str(), record_, &found, nullptr, 0, nullptr, &one,
                                          &also_one);
        const bool appended = status == 0 && dyx_udil_total_frames(stream) == 5;
        if (status != 0) {
            EXPECT_EQ(4, dyx_udil_total_frames(stream));  // a failed append changes nothing
        }
        dyx_image_t *read = dyx_image_alloc(5, 3, 0, UDIL_FMT_RGB);
        status = read ? 0 : 2;
        for (int32_t frame = 0; status == 0 && frame < dyx_udil_total_frames(stream); ++frame)
            status = dyx_udil_get_image(stream, frame, UDIL_EYE_MONO, read, nullptr);
        const bool same = status == 0 && read->data[0] == 0x44;
        dyx_image_free(&read);
        dyx_udil_file_close(&stream);
        return appended && same;
    });
    dyx_image_free(&picture);
}

}  // namespace
