# The headers of utils/include, data/include, udil/include and the plug-in
# SDK, each listed by hand in exactly one of the lists below (one per
# directory, in name order): the public ones are installed for C and C++
# users, the internal ones are not. scripts/check-sources fails on a header
# of those directories that is in no list, or in more than one.
#
# DYX_ROOT must name the top of the source tree before this file is included.

set(ORVO_PUBLIC_UTILS_HEADERS
  ${DYX_ROOT}/utils/include/dyx_api.h
  ${DYX_ROOT}/utils/include/dyx_cache.h
  ${DYX_ROOT}/utils/include/dyx_dl.h
  ${DYX_ROOT}/utils/include/dyx_file.h
  ${DYX_ROOT}/utils/include/dyx_fnmatch.h
  ${DYX_ROOT}/utils/include/dyx_hash.h
  ${DYX_ROOT}/utils/include/dyx_io.h
  ${DYX_ROOT}/utils/include/dyx_lex.h
  ${DYX_ROOT}/utils/include/dyx_list.h
  ${DYX_ROOT}/utils/include/dyx_malloc.h
  ${DYX_ROOT}/utils/include/dyx_mpool.h
  ${DYX_ROOT}/utils/include/dyx_parallel.h
  ${DYX_ROOT}/utils/include/dyx_path.h
  ${DYX_ROOT}/utils/include/dyx_pipe.h
  ${DYX_ROOT}/utils/include/dyx_status.h
  ${DYX_ROOT}/utils/include/dyx_string.h
  ${DYX_ROOT}/utils/include/dyx_temp_mem.h
  ${DYX_ROOT}/utils/include/dyx_thread.h
  ${DYX_ROOT}/utils/include/dyx_time.h
  ${DYX_ROOT}/utils/include/dyx_uid.h
  ${DYX_ROOT}/utils/include/dyx_utils.h
  ${DYX_ROOT}/utils/include/dyx_zlib.h
)

set(ORVO_PUBLIC_DATA_HEADERS
  ${DYX_ROOT}/data/include/dyx_image.h
  ${DYX_ROOT}/data/include/dyx_image_composite.h
  ${DYX_ROOT}/data/include/dyx_image_frame.h
  ${DYX_ROOT}/data/include/dyx_image_stats.h
)

set(ORVO_PUBLIC_UDIL_HEADERS
  ${DYX_ROOT}/udil/include/dyx_udil.h
  ${DYX_ROOT}/udil/include/dyx_udil_movie.h
  ${DYX_ROOT}/udil/include/dyx_udil_mtm.h
  ${DYX_ROOT}/udil/include/dyx_udil_pipeline.h
  ${DYX_ROOT}/udil/include/dyx_udil_stream.h
  ${DYX_ROOT}/udil/include/udil_plugin.h
)

# The C++ SDK for plug-in authors.
set(ORVO_PUBLIC_SDK_HEADERS
  ${DYX_ROOT}/plugins/sdk/udil_sdk.h
  ${DYX_ROOT}/plugins/sdk/udil_sdk_orientation.h
  ${DYX_ROOT}/plugins/sdk/udil_sdk_output.h
)

# Not installed: the plug-in directory chooser is the module's own C++
# helper, not API.
set(ORVO_INTERNAL_HEADERS
  ${DYX_ROOT}/udil/include/dyx_udil_dir.h
)

set(ORVO_PUBLIC_HEADERS ${ORVO_PUBLIC_UTILS_HEADERS} ${ORVO_PUBLIC_DATA_HEADERS} ${ORVO_PUBLIC_UDIL_HEADERS}
  ${ORVO_PUBLIC_SDK_HEADERS})
