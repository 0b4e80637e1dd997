# The sources of libudil-ffmpeg.so, relative to this folder (shared with the
# fuzz project).
set(UDIL_PLUGIN_SOURCES
  ffmpeg_plugin.cpp
  ffmpeg_options.cpp
  ffmpeg_container.cpp
  ffmpeg_colour.cpp
  ffmpeg_index.cpp
  ffmpeg_palette.cpp
  ffmpeg_source.cpp
  ffmpeg_reader.cpp
  ffmpeg_reader_deep.cpp
  ffmpeg_rotation.cpp
  ffmpeg_writer.cpp
  ffmpeg_writer_deep.cpp
  ffmpeg_util.cpp
  ffmpeg_suffixes.cpp
  ffmpeg_join.cpp
  ffmpeg_audio.cpp
  ffmpeg_timecode.cpp
  ffmpeg_carry.cpp
  ffmpeg_describe.cpp
)
