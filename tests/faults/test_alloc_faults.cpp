// Every allocating operation with its 1st, 2nd, ... allocation failing in
// turn: no crash, the documented status (DYX_NO_MEMORY for a null result),
// nothing leaked (the sanitizer build's leak checker), and the operation
// works again after. Reading and writing movies through the codec host is
// walked from Python (alloc_fault_walk.py), which also counts leaked blocks.
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

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
#include "dyx_status.h"
#include "dyx_temp_mem.h"
#include "dyx_udil.h"
#include "dyx_udil_stream.h"

namespace {

using testing_support::ScratchDir;

constexpr int kNoMemory = DYX_NO_MEMORY, kRefused = DYX_REFUSED;

// An operation to walk, and the status it must give when an allocation
// fails (see alloc_faults::walk).
struct Case {
    const char *name;
    std::function<int()> operation;
    int failure = kNoMemory;
    bool may_recover = false;
};

// The status of an operation built from calls that report failure as null.
int whole(bool all) { return all ? 0 : kNoMemory; }

void walk_all(const std::vector<Case> &cases) {
    for (const Case &c : cases) alloc_faults::walk(c.name, c.operation, c.failure, c.may_recover);
}

TEST(AllocFaults, ContainersCachesAndPaths) {
    ScratchDir scratch;
    for (int i = 0; i < 40; ++i)
        scratch.write("a_rather_long_file_name_for_the_listing_" + std::to_string(1000 + i) + ".ppm");
    const std::string pattern = scratch.file("*.ppm");
    walk_all({
        {"mpool create/alloc/free",
         [] {
             dyx_mpool_t *pool = dyx_mpool_create(24, 4);
             if (pool == nullptr) return kNoMemory;
             void *elements[10] = {};
             bool all = true;
             for (void *&element : elements) {
                 element = dyx_mpool_alloc(pool);
                 if (element) std::memset(element, 0x5a, 24);
                 all = all && element;
             }
             for (void *element : elements)
                 if (element) dyx_mpool_free(pool, element);
             dyx_mpool_destroy(&pool);
             return whole(all);
         }},
        {"list pool/create/append",
         [] {
             dyx_list_pool_t *pool = dyx_list_pool_create(16, 3, 1);
             dyx_list_t *list = pool ? dyx_list_create(pool) : nullptr;
             bool all = list != nullptr;
             for (int i = 0; all && i < 8; ++i) {
                 void *element = dyx_list_alloc(list);
                 if (element) dyx_list_append(list, element);
                 all = element != nullptr;
             }
             all = all && dyx_list_length(list) == 8;
             dyx_list_destroy(&list);
             dyx_list_pool_destroy(&pool);
             return whole(all);
         }},
        {"hash create/add/merge",
         [] {
             dyx_hash_t *table = dyx_hash_create(7, 2, int32_t(sizeof(int)), int32_t(sizeof(int)), 0);
             dyx_hash_t *other = dyx_hash_create(7, 2, int32_t(sizeof(int)), int32_t(sizeof(int)), 0);
             int status = table && other ? 0 : kNoMemory;
             for (int key = 0; status == 0 && key < 12; ++key) {
                 const int value = key * 3;
                 status = dyx_hash_add(key % 2 ? table : other, key % 7, &key, &value);
             }
             if (status == 0) status = dyx_hash_merge(table, other, nullptr, nullptr);
             for (int key = 0; status == 0 && key < 12; ++key) {
                 int value = -1;
                 if (dyx_hash_find(table, key % 7, &key, &value) != 1 || value != key * 3) status = -1;
             }
             dyx_hash_destroy(&table);
             dyx_hash_destroy(&other);
             return status;
         }},
        {"plist pools/create/append",
         [] {
             int status = dyx_plist_pool_create(2, 3);
             if (status != 0) return status;
             dyx_plist_t *list = dyx_plist_create();
             bool all = list != nullptr;
             for (int i = 0; all && i < 7; ++i) {
                 dyx_plist_node_t *node = dyx_plist_alloc();
                 if (node) dyx_plist_append(list, node);
                 all = node != nullptr;
             }
             all = all && dyx_plist_length(list) == 7;
             dyx_plist_destroy(&list);
             dyx_plist_pool_destroy();
             return whole(all);
         }},
        {"hash pairs create/add",
         [] {
             dyx_hash_pairs_t *pairs = dyx_hash_pairs_create(5, 2, int32_t(sizeof(int)), 0);
             int status = pairs ? 0 : kNoMemory;
             for (int i = 0; status == 0 && i < 9; ++i) status = dyx_hash_pairs_add(pairs, i, 100 - i, &i);
             int value = -1;
             if (status == 0 && (dyx_hash_pairs_find(pairs, 96, 4, &value) != 1 || value != 4)) status = -1;
             dyx_hash_pairs_destroy(&pairs);
             return status;
         }},
        {"cache init/alloc/realloc",
         [] {
             int status = dyx_plist_pool_create(4, 4);
             if (status == 0) status = dyx_cache_init(1);
             void *first = nullptr, *second = nullptr;
             if (status == 0) {
                 dyx_cache_alloc(&first, 1000);
                 dyx_cache_alloc(&second, 3000);
                 status = whole(first && second);
             }
             if (status == 0) {
                 std::memset(first, 0x11, 1000);
                 dyx_cache_realloc(&first, 200000);
                 status = whole(first != nullptr);
                 if (first && static_cast<unsigned char *>(first)[999] != 0x11) status = -1;
             }
             dyx_cache_done();
             dyx_plist_pool_destroy();
             return status;
         }},
        {"temp mem alloc/resize",
         [] {
             void *buffer = dyx_temp_mem_alloc(5000);
             int status = whole(buffer != nullptr);
             if (buffer) {
                 std::memset(buffer, 0x22, 5000);
                 void *grown = dyx_temp_mem_resize(buffer, 50000);
                 // A failed resize keeps the old buffer handed out.
                 if (grown) buffer = grown;
                 status = static_cast<unsigned char *>(buffer)[4999] != 0x22 ? -1 : whole(grown != nullptr);
             }
             if (buffer) dyx_temp_mem_release(buffer);
             dyx_temp_mem_free_all();
             return status;
         }},
        {"norm path",
         [] {
             char out[256];
             const int status = dyx_get_norm_path("/a/./b/../c//d", out, sizeof out);
             return status == 0 && std::strcmp(out, "/a/c/d") != 0 ? -1 : status;
         },
         -1},
        {"dir list",
         [&] {
             char *full = nullptr, *dirs = nullptr, *files = nullptr;
             int32_t dir_count = 0, file_count = 0;
             const int status =
                 dyx_dir_list(pattern.c_str(), &full, &dir_count, &dirs, &file_count, &files, 0);
             std::free(full);
             std::free(dirs);
             std::free(files);
             return status == 0 && file_count != 40 ? -1 : status;
         }},
    });
}

TEST(AllocFaults, Images) {
    ASSERT_EQ(0, dyx_image_pool_create(2));
    dyx_image_t *grey = dyx_image_alloc(0, 0, 0, UDIL_FMT_L);
    dyx_image_t *small = dyx_image_alloc(13, 9, 0, UDIL_FMT_RGB);
    ASSERT_TRUE(grey && small);
    // A 40x30 RGB picture of one value, or null.
    const auto filled = [](uint8_t value) {
        dyx_image_t *image = dyx_image_alloc(40, 30, 0, UDIL_FMT_RGB);
        if (image) std::memset(image->data, value, dyx_image_data_size(image));
        return image;
    };
    // Runs `change` on a fresh picture: on success the result must have
    // `format` and `value` in its first byte; on failure the old record
    // stays as it was. A picture that cannot be made counts as the change
    // failing.
    const auto changed = [&](const char *name, uint8_t value, int32_t format,
                             std::function<int(dyx_image_t **)> change) {
        const auto operation = [=] {
            dyx_image_t *image = filled(0x80);
            if (image == nullptr) return kRefused;
            dyx_image_t *before = image;
            int status = change(&image);
            if (status != 0 && (image != before || image->format != UDIL_FMT_RGB || image->width != 40))
                status = -1;
            if (status == 0 && (image->format != format || image->data[0] != value)) status = -1;
            dyx_image_free(&image);
            return status;
        };
        return Case{name, operation, kRefused};
    };
    const uint8_t border[4] = {0, 0, 0, 255};
    walk_all({
        {"image alloc",
         [] {
             dyx_image_t *images[5] = {};
             bool all = true;
             for (dyx_image_t *&image : images) {
                 image = dyx_image_alloc(33, 17, 1, UDIL_FMT_RGBA);
                 all = all && image;
             }
             for (dyx_image_t *&image : images) dyx_image_free(&image);
             return whole(all);
         }},
        changed("image convert", 0x7f, UDIL_FMT_L,
                [&](dyx_image_t **image) { return dyx_image_convert(image, grey); }),
        changed("image scale smooth", 0x80, UDIL_FMT_RGB,
                [&](dyx_image_t **image) { return dyx_image_scale(image, small, DYX_SCALE_SMOOTH); }),
        {"image bitblt",
         [&] {
             dyx_image_t *target = dyx_image_alloc(13, 9, 0, UDIL_FMT_RGB);
             dyx_image_t *whole_picture = target ? filled(0x33) : nullptr;
             int status = kNoMemory;
             if (whole_picture)
                 status =
                     dyx_image_bitblt(whole_picture, target, nullptr, nullptr, nullptr, nullptr, 0, border);
             if (status == 0 && target->data[0] != 0x33) status = -1;
             dyx_image_free(&whole_picture);
             dyx_image_free(&target);
             return status;
         }},
    });
    dyx_image_free(&grey);
    dyx_image_free(&small);
}

// The codec host over the build's PPM plug-in.
TEST(AllocFaults, CodecHost) {
    dyx_udil_list_done();
    ASSERT_EQ(0, dyx_image_pool_create(4));
    ASSERT_EQ(0, dyx_udil_scan_libraries(ORVO_TEST_PLUGIN_DIR));
    UdilRecord *ppm = dyx_udil_find_by_name("ppm");
    ASSERT_NE(nullptr, ppm);
    ASSERT_EQ(0, dyx_udil_load(ppm));
    ScratchDir scratch;
    const std::string name = scratch.file("seq.####");
    dyx_image_t *picture = dyx_image_alloc(5, 3, 0, UDIL_FMT_RGB);
    ASSERT_NE(nullptr, picture);
    std::memset(picture->data, 0x44, dyx_image_data_size(picture));
    UdilMovieInfo info{5, 3, 4, 0, 0, 0, 25.0f, UDIL_FMT_RGB};
    UdilStream *writer = dyx_udil_file_new(name.c_str(), ppm, &info, 0, nullptr);
    ASSERT_NE(nullptr, writer);
    for (int32_t frame = 1; frame <= 4; ++frame)
        ASSERT_EQ(0, dyx_udil_save_image(writer, frame, UDIL_EYE_MONO, picture, nullptr));
    dyx_udil_file_close(&writer);
    dyx_image_free(&picture);
    const std::string sequence = name + ".ppm", single = scratch.file("seq.0002.ppm");
    walk_all({
        {"options parse",
         [&] {
             int32_t count = -1;
             UdilOption *options = dyx_udil_parse_options(ppm, "format 1 bits 1", &count);
             if (options == nullptr) return count == 0 ? kNoMemory : -1;
             const int status = count == ppm->option_count ? 0 : -1;
             dyx_free(options, __LINE__, __FILE__);
             return status;
         }},
        {"options setopts", [&] { return dyx_udil_setopts(ppm, "bits 1"); }, kRefused},
        {"sequence open/append/get",
         [&] {
             UdilMovieInfo found{0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};
             int32_t first = 1, last = 4, one = -1, also_one = -1;
             UdilStream *stream =
                 dyx_udil_file_open(sequence.c_str(), ppm, &found, nullptr, 0, nullptr, &first, &last);
             if (stream == nullptr) return kNoMemory;
             int status = dyx_udil_file_append(stream, single.c_str(), ppm, &found, nullptr, 0, nullptr, &one,
                                               &also_one);
             // A failed append changes nothing.
             if (dyx_udil_total_frames(stream) != (status == 0 ? 5 : 4)) status = -1;
             dyx_image_t *read = status == 0 ? dyx_image_alloc(5, 3, 0, UDIL_FMT_RGB) : nullptr;
             if (status == 0 && read == nullptr) status = kNoMemory;
             for (int32_t frame = 0; status == 0 && frame < 5; ++frame)
                 status = dyx_udil_get_image(stream, frame, UDIL_EYE_MONO, read, nullptr);
             if (status == 0 && read->data[0] != 0x44) status = -1;
             dyx_image_free(&read);
             dyx_udil_file_close(&stream);
             return status;
         }},
        // A plug-in whose option table cannot be allocated is registered
        // without options, so the scan may succeed after a failure; but a
        // record it keeps must be whole.
        {"plug-in scan",
         [] {
             dyx_udil_list_done();
             const int status = dyx_udil_scan_libraries(ORVO_TEST_PLUGIN_DIR);
             UdilRecord *found = dyx_udil_find_by_name("ppm");
             if (found && (found->option_count == 0) != (found->options == nullptr)) return -1;
             // A plug-in left out or without options counts as a failure.
             return status == 0 && (found == nullptr || found->option_count == 0) ? kNoMemory : status;
         },
         kNoMemory, true},
    });
    dyx_udil_list_done();
}

}  // namespace
