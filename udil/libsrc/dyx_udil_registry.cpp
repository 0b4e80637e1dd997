// Plug-in discovery and the registry of codec plug-ins.
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "dyx_dl.h"
#include "dyx_io.h"
#include "dyx_list.h"
#include "dyx_malloc.h"
#include "dyx_parallel.h"
#include "dyx_status.h"
#include "dyx_udil.h"
#include "udil_internal.h"

namespace {

// Records live in a list pool that is made once and kept, so that a scan
// after dyx_udil_list_done registers the plug-ins again.
dyx_list_pool_t *udil_pool = nullptr;
dyx_list_t *udil_list = nullptr;
bool first_time = true;
// Guards the pool, the list and every record's loading. Recursive: a scan
// looks names up and allocates records while it holds it.
std::recursive_mutex registry_lock;
using RegistryGuard = std::lock_guard<std::recursive_mutex>;

constexpr int kRecordsPerChunk = 20;
// A bound on udil_more_suffixes, far above any real list.
constexpr int32_t kMostMoreSuffixes = 4096;
// dyx_dl_open flags of the scan: bind every symbol now (bit 1) plus 4.
constexpr int kScanOpenFlags = 5;

int prepare_registry() {
    if (first_time) {
        udil_pool = dyx_list_pool_create(sizeof(UdilRecord), kRecordsPerChunk, 1);
        if (udil_pool == nullptr) return DYX_NO_MEMORY;
        first_time = false;
    }
    if (udil_list == nullptr) udil_list = dyx_list_create(udil_pool);
    return udil_list == nullptr ? DYX_NO_MEMORY : DYX_OK;
}

// Looks up one entry point; false when the library lacks it.
template <typename Function>
bool bind(void *library, Function &slot, const char *symbol) {
    slot = nullptr;
    return dyx_dl_bindproc(&library, &slot, symbol, 0) == 0 && slot != nullptr;
}

void release_options(UdilRecord &record) {
    if (record.options != nullptr) dyx_free(record.options, __LINE__, __FILE__);
    record.options = nullptr;
    record.option_count = 0;
}

// The version text read as a number; texts are looked at only within
// 63 characters.
float read_version(const char *text) {
    char copy[64];
    udil::copy_text(copy, sizeof copy, text);
    return float(std::strtod(copy, nullptr));
}

void fill_suffixes(UdilRecord &record, udil_suffix_fn suffix) {
    int32_t count = 0;
    const char *const *suffixes = suffix(&count);
    if (suffixes == nullptr || count < 0) count = 0;
    if (count > DYX_UDIL_MAX_SUFFIXES) count = DYX_UDIL_MAX_SUFFIXES;
    record.suffix_count = count;
    for (int32_t i = 0; i < count; ++i)
        udil::copy_text(record.suffixes[i], sizeof record.suffixes[i], suffixes[i]);
}

void release_more_suffixes(UdilRecord &record) {
    if (record.more_suffixes != nullptr) dyx_free(record.more_suffixes, __LINE__, __FILE__);
    record.more_suffixes = nullptr;
    record.more_suffix_count = 0;
}

// The optional list beyond the 16 suffixes; left empty when memory fails.
void fill_more_suffixes(UdilRecord &record, udil_suffix_fn more) {
    release_more_suffixes(record);
    int32_t count = 0;
    const char *const *suffixes = more != nullptr ? more(&count) : nullptr;
    if (suffixes == nullptr || count <= 0) return;
    count = std::min(count, kMostMoreSuffixes);
    void *block = nullptr;
    dyx_malloc("scan_dso", &block, size_t(count) * DYX_UDIL_TEXT_SIZE, __LINE__, __FILE__);
    if (block == nullptr) return;
    record.more_suffixes = static_cast<char(*)[DYX_UDIL_TEXT_SIZE]>(block);
    record.more_suffix_count = count;
    for (int32_t i = 0; i < count; ++i)
        udil::copy_text(record.more_suffixes[i], DYX_UDIL_TEXT_SIZE, suffixes[i] ? suffixes[i] : "");
}

// Whether `filename` ends with `suffix`, ignoring case.
bool ends_with_suffix(const char *filename, size_t length, const char *suffix) {
    const size_t suffix_length = std::strlen(suffix);
    return suffix_length <= length && strcasecmp(filename + length - suffix_length, suffix) == 0;
}

void fill_options(UdilRecord &record, udil_flag_fn count_options, udil_get_default_options_fn defaults) {
    const int32_t count = count_options();
    record.option_count = 0;
    record.options = nullptr;
    if (count <= 0) return;
    UdilOption *options = nullptr;
    dyx_malloc("scan_dso", &options, uint64_t(count) * sizeof(UdilOption), __LINE__, __FILE__);
    if (options == nullptr) return;  // registered without options
    std::memset(options, 0, size_t(count) * sizeof(UdilOption));
    defaults(options);
    for (int32_t i = 0; i < count; ++i) udil::terminate_option_texts(options[i]);
    record.options = options;
    record.option_count = count;
}

// Opens one plug-in file, asks it what it is and registers it. Returns
// the new record, or null; *duplicate gets the registered record when the
// name was already taken.
UdilRecord *examine(const char *path, UdilRecord **duplicate) {
    if (duplicate) *duplicate = nullptr;
    if (std::strlen(path) >= DYX_UDIL_PATH_SIZE) return nullptr;
    if (const char *problem = udil::truncated_object_problem(path)) {
        dyx_error("error opening udil (%s): %s\n", path, problem);
        return nullptr;
    }
    void *library = nullptr;
    if (dyx_dl_open(&library, path, kScanOpenFlags) != 0) {
        dyx_error("error opening udil (%s): %s\n", path, dyx_dl_error());
        return nullptr;
    }
    if (library == nullptr) return nullptr;
    UdilRecord *record = dyx_udil_alloc();
    if (record == nullptr) {
        dyx_dl_close(&library);
        return nullptr;
    }
    auto reject = [&]() -> UdilRecord * {
        dyx_udil_free(&record);
        dyx_dl_close(&library);
        return nullptr;
    };
    // A shared object without the contract's entry points (a stray library
    // or a damaged build) is named, so that its owner learns why it is
    // ignored.
    auto not_a_plugin = [&](const char *symbol) -> UdilRecord * {
        dyx_warn("udil %s skipped: not a codec plug-in (no %s())\n", path, symbol);
        return reject();
    };
#define DYX_UDIL_SCAN_BIND(variable, symbol) \
    if (!bind(library, variable, symbol)) return not_a_plugin(symbol)

    udil_api_version_fn api_version;
    DYX_UDIL_SCAN_BIND(api_version, "udil_api_version");
    const char *version = api_version();
    if (version == nullptr) return reject();
    record->api_version = read_version(version);
    if (!(record->api_version >= 3.0f)) return reject();

    udil_name_fn name;
    DYX_UDIL_SCAN_BIND(name, "udil_name");
    char plugin_name[DYX_UDIL_TEXT_SIZE];
    udil::copy_text(plugin_name, sizeof plugin_name, name());
    if (plugin_name[0] == '\0') return reject();
    if (UdilRecord *existing = dyx_udil_find_by_name(plugin_name)) {
        if (duplicate) *duplicate = existing;
        return reject();
    }

    udil_desc_fn desc;
    udil_suffix_fn suffix;
    udil_flag_fn count_options, multi_image, stereo, depth;
    udil_get_default_options_fn defaults;
    DYX_UDIL_SCAN_BIND(desc, "udil_desc");
    DYX_UDIL_SCAN_BIND(suffix, "udil_suffix");
    DYX_UDIL_SCAN_BIND(count_options, "udil_get_num_options");
    DYX_UDIL_SCAN_BIND(defaults, "udil_get_default_options");
    DYX_UDIL_SCAN_BIND(multi_image, "udil_multi_image_capable");
    DYX_UDIL_SCAN_BIND(stereo, "udil_stereo_capable");
    DYX_UDIL_SCAN_BIND(depth, "udil_depth_capable");
#undef DYX_UDIL_SCAN_BIND

    udil_set_state_fn set_state;
    if (bind(library, set_state, "udil_set_state")) set_state(0);

    udil::copy_text(record->path, sizeof record->path, path);
    udil::copy_text(record->name, sizeof record->name, plugin_name);
    udil::copy_text(record->desc, sizeof record->desc, desc());
    fill_suffixes(*record, suffix);
    udil_suffix_fn more_suffixes = nullptr;
    if (bind(library, more_suffixes, "udil_more_suffixes")) fill_more_suffixes(*record, more_suffixes);
    fill_options(*record, count_options, defaults);
    record->stereo_capable = stereo();
    record->depth_capable = depth();
    record->multi_image_capable = multi_image();

    if (set_state != nullptr) set_state(1);
    dyx_dl_close(&library);
    record->handle = nullptr;
    std::memset(&record->entry, 0, sizeof record->entry);
    return record;
}

// Registers the plug-ins of one directory.
void scan_directory(const std::string &directory) {
    dyx_debug("dyx_udil_scan_libraries: looking for udils in <%s>\n", directory.c_str());
    udil::for_each_plugin_file(directory, [](const std::string &path, const char *) {
        examine(path.c_str(), nullptr);
        return true;
    });
}

// The plug-in's texts for the dump, cut to a sane length.
std::string plugin_text(const char *text) {
    char copy[256];
    udil::copy_text(copy, sizeof copy, text);
    return copy;
}

}  // namespace

extern "C" {

int dyx_udil_scan_libraries(const char *directories) {
    RegistryGuard locked(registry_lock);
    if (prepare_registry() != 0) return DYX_NO_MEMORY;
    try {
        const std::string list = directories ? directories : "";
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) scan_directory(list.substr(start, end - start));
            start = end + 1;
        }
    } catch (const std::bad_alloc &) {
        return DYX_NO_MEMORY;
    }
    dyx_debug("dyx_udil_scan_libraries: found %d udils\n", int(dyx_list_length(udil_list)));
    return DYX_OK;
}

int dyx_udil_scan_library(UdilRecord **record, const char *path) {
    if (record) *record = nullptr;
    RegistryGuard locked(registry_lock);
    if (prepare_registry() != 0) return DYX_NO_MEMORY;
    dyx_debug("dyx_udil_scan_library: loading udil <%s>\n", path ? path : "");
    if (path != nullptr) {
        UdilRecord *duplicate = nullptr;
        UdilRecord *found = examine(path, &duplicate);
        if (record) *record = found ? found : duplicate;
    }
    dyx_debug("dyx_udil_scan_library: found %d udil\n", int(dyx_list_length(udil_list)));
    return DYX_OK;
}

int dyx_udil_load(UdilRecord *record) {
    if (record == nullptr) return DYX_BAD_ARGUMENT;
    RegistryGuard locked(registry_lock);
    if (record->handle != nullptr) return DYX_OK;
    // The file may have been replaced since the scan.
    if (const char *problem = udil::truncated_object_problem(record->path)) {
        dyx_error("error opening udil (%s): %s\n", record->path, problem);
        return DYX_SYSTEM_FAILED;
    }
    if (dyx_dl_open(&record->handle, record->path, 0) != 0 || record->handle == nullptr) {
        dyx_error("error opening udil (%s): %s\n", record->path, dyx_dl_error());
        record->handle = nullptr;
        return DYX_SYSTEM_FAILED;
    }
    UdilEntryPoints &entry = record->entry;
    void *library = record->handle;
    auto fail = [&](const char *symbol) {
        dyx_error("dyx_udil_load: can't find %s()\n", symbol);
        std::memset(&entry, 0, sizeof entry);
        dyx_dl_close(&record->handle);
        return DYX_SYSTEM_FAILED;
    };
#define DYX_UDIL_BIND_MANDATORY(field) \
    if (!bind(library, entry.field, "udil_" #field)) return fail("udil_" #field)
    DYX_UDIL_BIND_MANDATORY(name);
    DYX_UDIL_BIND_MANDATORY(desc);
    DYX_UDIL_BIND_MANDATORY(api_version);
    DYX_UDIL_BIND_MANDATORY(suffix);
    DYX_UDIL_BIND_MANDATORY(choose_suffix);
    DYX_UDIL_BIND_MANDATORY(rand_reads);
    DYX_UDIL_BIND_MANDATORY(rand_writes);
    DYX_UDIL_BIND_MANDATORY(unknown_frames);
    DYX_UDIL_BIND_MANDATORY(stereo_capable);
    DYX_UDIL_BIND_MANDATORY(depth_capable);
    DYX_UDIL_BIND_MANDATORY(multi_image_capable);
    DYX_UDIL_BIND_MANDATORY(image_formats);
    DYX_UDIL_BIND_MANDATORY(thread_safe);
    DYX_UDIL_BIND_MANDATORY(can_read_file);
    DYX_UDIL_BIND_MANDATORY(get_err);
    DYX_UDIL_BIND_MANDATORY(get_num_options);
    DYX_UDIL_BIND_MANDATORY(get_default_options);
    DYX_UDIL_BIND_MANDATORY(update_options);
    DYX_UDIL_BIND_MANDATORY(create_writer);
    DYX_UDIL_BIND_MANDATORY(create_reader);
    DYX_UDIL_BIND_MANDATORY(handle_destroy);
    DYX_UDIL_BIND_MANDATORY(file_new);
    DYX_UDIL_BIND_MANDATORY(file_open);
    DYX_UDIL_BIND_MANDATORY(file_close);
    DYX_UDIL_BIND_MANDATORY(save_image);
    DYX_UDIL_BIND_MANDATORY(get_image);
    // Optional and absent in older plug-ins, whose calls stay serialised.
    udil_flag_fn concurrent_use;
    record->concurrent_use = bind(library, concurrent_use, "udil_concurrent_use") && concurrent_use() == 1;
    bind(library, entry.set_threads, "udil_set_threads");  // left null when missing
    bind(library, entry.describe, "udil_describe");        // left null when missing
    if (bind(library, entry.get_compressed_size, "udil_get_compressed_size")) {
        // With compressed sizes the other two compressed operations are due.
        DYX_UDIL_BIND_MANDATORY(get_images_compressed);
        DYX_UDIL_BIND_MANDATORY(uncompress_image);
    } else {
        entry.get_images_compressed = nullptr;
        entry.uncompress_image = nullptr;
    }
    // Deep frames come as a set of three; a plug-in missing one of them is
    // read and written through its 8-bit frames.
    if (!bind(library, entry.deep_samples, "udil_deep_samples") ||
        !bind(library, entry.get_deep_image, "udil_get_deep_image") ||
        !bind(library, entry.save_deep_image, "udil_save_deep_image")) {
        entry.deep_samples = nullptr;
        entry.get_deep_image = nullptr;
        entry.save_deep_image = nullptr;
    }
#undef DYX_UDIL_BIND_MANDATORY
    if (bind(library, entry.set_state, "udil_set_state") && entry.set_state(0) != 0) return DYX_REFUSED;
    if (bind(library, entry.path_to_udil, "udil_path_to_udil")) entry.path_to_udil(record->path);
    return DYX_OK;
}

UdilRecord *dyx_udil_alloc(void) {
    RegistryGuard locked(registry_lock);
    if (udil_list == nullptr) return nullptr;
    auto *record = static_cast<UdilRecord *>(dyx_list_alloc(udil_list));
    if (record == nullptr) return nullptr;
    record->handle = nullptr;
    record->path[0] = '\0';
    record->name[0] = '\0';
    record->desc[0] = '\0';
    record->suffix_count = 0;
    record->option_count = 0;
    record->options = nullptr;
    std::memset(&record->entry, 0, sizeof record->entry);
    record->concurrent_use = 0;
    record->more_suffix_count = 0;
    record->more_suffixes = nullptr;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&record->call_lock, &attributes);
    pthread_mutexattr_destroy(&attributes);
    dyx_list_append(udil_list, record);
    return record;
}

void dyx_udil_free(UdilRecord **record) {
    RegistryGuard locked(registry_lock);
    if (record == nullptr || *record == nullptr || udil_list == nullptr) return;
    release_options(**record);
    release_more_suffixes(**record);
    pthread_mutex_destroy(&(*record)->call_lock);
    dyx_list_remove(udil_list, *record);
    dyx_list_free(udil_list, *record);
    *record = nullptr;
}

UdilRecord *dyx_udil_list_first(void) {
    RegistryGuard locked(registry_lock);
    return static_cast<UdilRecord *>(dyx_list_first(udil_list));
}
UdilRecord *dyx_udil_list_last(void) {
    RegistryGuard locked(registry_lock);
    return static_cast<UdilRecord *>(dyx_list_last(udil_list));
}
UdilRecord *dyx_udil_list_next(UdilRecord *record) {
    RegistryGuard locked(registry_lock);
    return static_cast<UdilRecord *>(dyx_list_next(record));
}
UdilRecord *dyx_udil_list_prev(UdilRecord *record) {
    RegistryGuard locked(registry_lock);
    return static_cast<UdilRecord *>(dyx_list_prev(record));
}

void dyx_udil_list_done(void) {
    RegistryGuard locked(registry_lock);
    if (udil_list == nullptr) return;
    while (auto *record = static_cast<UdilRecord *>(dyx_list_pop(udil_list))) {
        if (record->handle != nullptr) {
            if (record->entry.set_state != nullptr) record->entry.set_state(1);
            dyx_dl_close(&record->handle);
        }
        release_options(*record);
        release_more_suffixes(*record);
        pthread_mutex_destroy(&record->call_lock);
        dyx_list_free(udil_list, record);
    }
    dyx_list_destroy(&udil_list);
}

UdilRecord *dyx_udil_find_by_name(const char *name) {
    if (name == nullptr) return nullptr;
    RegistryGuard locked(registry_lock);
    for (UdilRecord *record = dyx_udil_list_first(); record; record = dyx_udil_list_next(record))
        if (strcasecmp(record->name, name) == 0) return record;
    return nullptr;
}

UdilRecord *dyx_udil_find_by_suffix(const char *filename) {
    if (filename == nullptr) return nullptr;
    RegistryGuard locked(registry_lock);
    const size_t length = std::strlen(filename);
    for (UdilRecord *record = dyx_udil_list_first(); record; record = dyx_udil_list_next(record))
        for (int32_t i = 0; i < record->suffix_count && i < DYX_UDIL_MAX_SUFFIXES; ++i)
            if (ends_with_suffix(filename, length, record->suffixes[i])) return record;
    // Only then the further names some plug-ins read, so that a plug-in
    // made for one format keeps its files.
    for (UdilRecord *record = dyx_udil_list_first(); record; record = dyx_udil_list_next(record))
        for (int32_t i = 0; i < record->more_suffix_count && record->more_suffixes != nullptr; ++i)
            if (record->more_suffixes[i][0] != '\0' &&
                ends_with_suffix(filename, length, record->more_suffixes[i]))
                return record;
    return nullptr;
}

void dyx_udil_dump(UdilRecord *record) {
    if (record == nullptr) return;
    if (record->handle == nullptr) {
        dyx_info("Udil info: not loaded\n");
        return;
    }
    try {
        udil::UdilCallGuard guard(record);
        const UdilEntryPoints &entry = record->entry;
        char line[1024];
        std::string text = "Udil info:\n";
        text += "  Name " + plugin_text(entry.name()) + "\n";
        text += std::string("  Path ") + record->path + "\n";
        text += "  Description " + plugin_text(entry.desc()) + "\n";
        text += "  Version " + plugin_text(entry.api_version()) + "\n";
        int32_t count = 0;
        const char *const *suffixes = entry.suffix(&count);
        if (suffixes == nullptr || count < 0) count = 0;
        std::snprintf(line, sizeof line, "  Suffix count %d\n", count);
        text += line;
        for (int32_t i = 0; i < count && i < 1024; ++i)
            text += "    Suffix " + plugin_text(suffixes[i]) + "\n";
        std::snprintf(line, sizeof line, "  RandReads %d RandWrites %d Unknown Frames %d Stereo %d\n",
                      entry.rand_reads(), entry.rand_writes(), entry.unknown_frames(),
                      entry.stereo_capable());
        text += line;
        std::snprintf(line, sizeof line, "  Depth %d MultiImage %d ThreadSafe %d\n", entry.depth_capable(),
                      entry.multi_image_capable(), entry.thread_safe());
        text += line;
        dyx_info("%s", text.c_str());
    } catch (const std::bad_alloc &) {
        dyx_error("dyx_udil_dump: out of memory\n");
    }
}

void dyx_udil_list_dump(void) {
    RegistryGuard locked(registry_lock);
    if (udil_list == nullptr) return;
    dyx_info("UdilList info:\n");
    for (UdilRecord *record = dyx_udil_list_first(); record; record = dyx_udil_list_next(record)) {
        if (record->handle == nullptr) dyx_udil_load(record);
        if (record->handle != nullptr) dyx_udil_dump(record);
    }
}

}  // extern "C"

namespace udil {

UdilHandle create_reader(const UdilRecord &record, const char *path, UdilMovieInfo *info, int32_t *count,
                         int32_t capacity, UdilOption *options) {
    if (record.entry.set_threads != nullptr) record.entry.set_threads(dyx_parallel_threads());
    return record.entry.create_reader(path, info, count, capacity, options);
}

void for_each_plugin_file(const std::string &directory,
                          const std::function<bool(const std::string &path, const char *name)> &visit) {
    const std::string pattern = directory + "/libudil-*.so";
    if (pattern.size() >= DYX_UDIL_PATH_SIZE) return;
    char *full_path = nullptr, *directories = nullptr, *files = nullptr;
    int32_t directory_count = 0, file_count = 0;
    const int status =
        dyx_dir_list(pattern.c_str(), &full_path, &directory_count, &directories, &file_count, &files, 0);
    if (status == 0 && file_count > 0 && files != nullptr) {
        for (const char *line = files; *line != '\0';) {
            const char *end = std::strchr(line, '\n');
            const size_t length = end ? size_t(end - line) : std::strlen(line);
            const std::string name(line, length);
            if (length > 0 && !visit(directory + "/" + name, name.c_str())) break;
            line += length + (end ? 1 : 0);
        }
    }
    dyx_free(full_path, __LINE__, __FILE__);
    dyx_free(directories, __LINE__, __FILE__);
    dyx_free(files, __LINE__, __FILE__);
}

}  // namespace udil
