# The sources of the dyx library, one list per part, shared by the main build
# and the fuzz project. A new source file is added here by hand.
#
# DYX_ROOT must name the top of the source tree before this file is included.

# The utility services the module itself runs on.
set(DYX_UTILS_SOURCES
  ${DYX_ROOT}/utils/libsrc/dyx_cache.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_dl.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_io.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_lex.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_list.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_logger.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_malloc.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_mpool.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_parallel.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_path.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_path_template.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_plist.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_string.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_thread.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_uid.cpp
  ${DYX_ROOT}/utils/libsrc/dyx_utils.cpp
)

# Utility modules exported for host programs that embed the library; the
# module and the plug-in host never call them (docs/c-api.md lists them).
set(DYX_UTILS_EXPORTED_SOURCES
  ${DYX_ROOT}/utils/libsrc/exported/dyx_file.cpp
  ${DYX_ROOT}/utils/libsrc/exported/dyx_fnmatch.cpp
  ${DYX_ROOT}/utils/libsrc/exported/dyx_hash.cpp
  ${DYX_ROOT}/utils/libsrc/exported/dyx_path_norm.cpp
  ${DYX_ROOT}/utils/libsrc/exported/dyx_pipe.cpp
  ${DYX_ROOT}/utils/libsrc/exported/dyx_status.cpp
  ${DYX_ROOT}/utils/libsrc/exported/dyx_symbol_font.cpp
  ${DYX_ROOT}/utils/libsrc/exported/dyx_temp_mem.cpp
  ${DYX_ROOT}/utils/libsrc/exported/dyx_thread_barrier.cpp
  ${DYX_ROOT}/utils/libsrc/exported/dyx_thread_sema.cpp
  ${DYX_ROOT}/utils/libsrc/exported/dyx_time.cpp
  ${DYX_ROOT}/utils/libsrc/exported/dyx_zlib.cpp
)

# Image buffers and image operations.
set(DYX_IMAGE_SOURCES
  ${DYX_ROOT}/data/libsrc/dyx_image.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_anaglyph.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_area_double.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_area_float_avx2.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_area_halve.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_axb.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_bitblt.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_blend.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_blend_avx2.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_chromakey.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_convert.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_diff.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_file.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_flip.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_grey_avx2.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_ramp.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_scale.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_scale_exact.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_simd.cpp
  ${DYX_ROOT}/data/libsrc/dyx_image_stats.cpp
)

# The codec plug-in host and Multi-Tile Movies.
set(DYX_UDIL_SOURCES
  ${DYX_ROOT}/udil/libsrc/dyx_udil_dir.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_elf.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_file_check.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_frame_files.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_movie.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_movie_checks.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_movie_deep.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_movie_describe.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_movie_open.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_movie_pipeline.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_movie_read.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_movie_transfer.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_movie_write.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_mtm.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_mtm_io.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_mtm_parse.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_names.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_options.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_options_warned.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_pipeline.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_registry.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_stream.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_deep.cpp
  ${DYX_ROOT}/udil/libsrc/dyx_udil_transfer.cpp
)

set(DYX_SOURCES ${DYX_UTILS_SOURCES} ${DYX_UTILS_EXPORTED_SOURCES} ${DYX_IMAGE_SOURCES} ${DYX_UDIL_SOURCES})
set(DYX_INCLUDE_DIRS ${DYX_ROOT}/utils/include ${DYX_ROOT}/data/include ${DYX_ROOT}/udil/include)
