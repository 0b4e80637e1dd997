/* The codec plug-in host: registry of plug-ins and their options.
 *
 * One scan at start-up registers every libudil-*.so of the plug-in
 * directories as a UdilRecord (name, description, suffixes, default options,
 * capabilities) and closes the library again; dyx_udil_load opens it for
 * real and binds all entry points when something first uses it. The
 * registry takes its own lock, so scans, loads and look-ups may come from
 * several threads; a record, once registered, stays until
 * dyx_udil_list_done, which belongs to a host's shut-down.
 * Streams and frame transfer are declared in dyx_udil_stream.h. */
#ifndef DYX_UDIL_H
#define DYX_UDIL_H

#include <pthread.h>
#include <stdint.h>

#include "dyx_api.h"
#include "udil_plugin.h"

DYX_BEGIN_DECLS

/* Option types (UdilOption.type) as the module publishes them. */
#define DYX_UDIL_BOOLEAN 0
#define DYX_UDIL_INT 1
#define DYX_UDIL_FLOAT 2
#define DYX_UDIL_CHOICE 4

#define DYX_UDIL_PATH_SIZE 1024 /* plug-in paths, stream names, built file names */
#define DYX_UDIL_TEXT_SIZE 32   /* names, descriptions and suffixes: 31 characters kept */
#define DYX_UDIL_MAX_SUFFIXES 16

/* The entry points of a loaded plug-in, in binding order; null while the
 * record is not loaded or when an optional one is missing. */
typedef struct UdilEntryPoints {
    udil_name_fn name;
    udil_desc_fn desc;
    udil_api_version_fn api_version;
    udil_path_to_udil_fn path_to_udil;
    udil_suffix_fn suffix;
    udil_choose_suffix_fn choose_suffix;
    udil_flag_fn rand_reads;
    udil_flag_fn rand_writes;
    udil_flag_fn unknown_frames;
    udil_flag_fn stereo_capable;
    udil_flag_fn depth_capable;
    udil_flag_fn multi_image_capable;
    udil_flag_fn image_formats;
    udil_flag_fn thread_safe;
    udil_can_read_file_fn can_read_file;
    udil_set_state_fn set_state;
    udil_get_err_fn get_err;
    udil_flag_fn get_num_options;
    udil_get_default_options_fn get_default_options;
    udil_update_options_fn update_options;
    udil_create_writer_fn create_writer;
    udil_create_reader_fn create_reader;
    udil_handle_destroy_fn handle_destroy;
    udil_file_fn file_new;
    udil_file_fn file_open;
    udil_file_close_fn file_close;
    udil_save_image_fn save_image;
    udil_get_image_fn get_image;
    udil_get_compressed_size_fn get_compressed_size;
    udil_get_images_compressed_fn get_images_compressed;
    udil_uncompress_image_fn uncompress_image;
    udil_set_threads_fn set_threads; /* optional */
    /* Optional deep frames: all three bound, or all null. */
    udil_flag_fn deep_samples;
    udil_get_deep_image_fn get_deep_image;
    udil_save_deep_image_fn save_deep_image;
    udil_describe_fn describe; /* optional */
} UdilEntryPoints;

/* One registered codec plug-in. The fields from path to depth_capable are
 * filled by the scan and never refreshed by a load. */
typedef struct UdilRecord {
    void *handle; /* the open library; null while not loaded */
    char path[DYX_UDIL_PATH_SIZE];
    float api_version;
    char name[DYX_UDIL_TEXT_SIZE];
    char desc[DYX_UDIL_TEXT_SIZE];
    int32_t suffix_count; /* 0..16 */
    char suffixes[DYX_UDIL_MAX_SUFFIXES][DYX_UDIL_TEXT_SIZE];
    int32_t option_count;
    UdilOption *options; /* owned; the defaults, changed by dyx_udil_setopts; null when none */
    int32_t multi_image_capable;
    int32_t stereo_capable;
    int32_t depth_capable;
    UdilEntryPoints entry;
    /* Set by dyx_udil_load from the optional udil_concurrent_use: 1 when
     * the plug-in may be called from several threads at once (each handle
     * by one thread at a time); 0 and its calls are serialised through
     * call_lock (recursive; made ready by dyx_udil_alloc). */
    int32_t concurrent_use;
    pthread_mutex_t call_lock;
    /* Filled by the scan from the optional udil_more_suffixes: the names a
     * plug-in also reads beyond its 16 suffixes (the movie plug-in claims
     * every container its libraries know). Looked at by
     * dyx_udil_find_by_suffix only after every record's own suffixes, so
     * that they never take a name from another plug-in. Owned; null when
     * there are none. */
    int32_t more_suffix_count;
    char (*more_suffixes)[DYX_UDIL_TEXT_SIZE];
} UdilRecord;

/* ---- discovery and registry ------------------------------------------- */

/* Registers the libudil-*.so files of every directory of `directories`
 * (separated by ':'; empty pieces and missing directories are passed
 * over). A file that cannot be opened is reported and skipped; one that
 * fails a check (API version below 3.0, empty or duplicate name, missing
 * entry point) is skipped silently. Returns DYX_OK, or DYX_NO_MEMORY when memory fails. */
DYX_API int dyx_udil_scan_libraries(const char *directories);
/* Registers the one plug-in file `path`. Returns DYX_OK with the new record in
 * *record, or null when the file was refused, or the registered record of
 * the same name for a duplicate; DYX_NO_MEMORY when memory fails. */
DYX_API int dyx_udil_scan_library(UdilRecord **record, const char *path);
/* Opens the record's library and binds every entry point. Returns DYX_OK (also
 * when already loaded); DYX_REFUSED when udil_set_state refused (the record stays
 * loaded); DYX_BAD_ARGUMENT null record; DYX_SYSTEM_FAILED the library cannot be opened or a mandatory
 * entry point is missing (the record stays registered, not loaded). */
DYX_API int dyx_udil_load(UdilRecord *record);

/* A new blank record appended to the registry, or null. */
DYX_API UdilRecord *dyx_udil_alloc(void);
/* Unlinks the record, releases it and nulls *record; null is ignored. */
DYX_API void dyx_udil_free(UdilRecord **record);
/* Registry order; null at either end or when the registry is empty. */
DYX_API UdilRecord *dyx_udil_list_first(void);
DYX_API UdilRecord *dyx_udil_list_last(void);
DYX_API UdilRecord *dyx_udil_list_next(UdilRecord *record);
DYX_API UdilRecord *dyx_udil_list_prev(UdilRecord *record);
/* Closes every loaded library (after udil_set_state(1)) and empties the
 * registry; a later scan registers the plug-ins again. */
DYX_API void dyx_udil_list_done(void);

/* The first record whose name equals `name` ignoring case, or null. */
DYX_API UdilRecord *dyx_udil_find_by_name(const char *name);
/* The first record with a suffix that ends `filename` (ignoring case), or
 * null. An empty suffix matches every name. */
DYX_API UdilRecord *dyx_udil_find_by_suffix(const char *filename);
/* Reports a loaded record through dyx_info ("Udil info: not loaded" for
 * one that is not); nothing for null. */
DYX_API void dyx_udil_dump(UdilRecord *record);
/* Loads (when needed) and reports every record. */
DYX_API void dyx_udil_list_dump(void);

/* ---- options ------------------------------------------------------------ */

/* Parses `text` ("name value ..." in the lexer's loose mode) against the
 * plug-in's options. Returns a new array (release with dyx_free) of
 * *count records holding the defaults with the named values set, or null
 * with *count 0 when the plug-in has no options, cannot be loaded or
 * memory fails. An unknown name or a missing value ends the parse with a
 * warning; values are clamped to INT and FLOAT ranges; a CHOICE word is
 * looked up in the range text. */
DYX_API UdilOption *dyx_udil_parse_options(UdilRecord *record, const char *text, int32_t *count);
/* Receives one warning of an option parse, such as "warning: unknown
 * option: fast" (no trailing newline). Answers 0 to go on, non-zero to
 * stop. Called on the parsing thread, during the parse. */
typedef int (*DyxUdilWarningFunc)(void *context, const char *text);
/* dyx_udil_parse_options with its warnings handed to `warn` (null: to the
 * logger). 0 with *options (release with dyx_free; null with *count 0 when
 * the plug-in has no options); DYX_REFUSED when `warn` asked to stop
 * (nothing is returned and later warnings are not delivered);
 * DYX_NO_MEMORY when the plug-in has options but no table could be made. */
DYX_API int dyx_udil_parse_options_warned(UdilRecord *record, const char *text, DyxUdilWarningFunc warn,
                                          void *context, UdilOption **options, int32_t *count);
/* The option buffer of a file opened for reading (dyx_udil_file_open):
 * room for the reader's defaults (*capacity records, at least 20) with the
 * options of `text` at its head (*count of them, 0 for a null or empty
 * text). Statuses as dyx_udil_parse_options_warned; DYX_NO_MEMORY also
 * when the buffer cannot be had. Release with dyx_free. */
DYX_API int dyx_udil_reader_options(UdilRecord *record, const char *text, DyxUdilWarningFunc warn,
                                    void *context, UdilOption **buffer, int32_t *count, int32_t *capacity);
/* Copies the values of `options` into the record's options of the same
 * names. Returns DYX_OK, or DYX_REFUSED at the first name the record does not have. */
DYX_API int dyx_udil_updateopts(UdilRecord *record, const UdilOption *options, int32_t count);
/* Sets the record's option values from `text` (others back to the
 * plug-in's defaults). Returns DYX_OK, or DYX_REFUSED when nothing could be parsed or a
 * name is unknown. */
DYX_API int dyx_udil_setopts(UdilRecord *record, const char *text);
/* dyx_udil_setopts for the plug-in called `name`; DYX_REFUSED when there is none. */
DYX_API int dyx_udil_setopts_by_name(const char *name, const char *text);
/* Kept for compatibility; does nothing. */
DYX_API void dyx_udil_string_to_options(void);

DYX_END_DECLS

#endif
