# The sources of libudil-jpeg.so, relative to this folder (shared with the
# fuzz project).
set(UDIL_PLUGIN_SOURCES
  jpeg_plugin.cpp
  jpeg_decode.cpp
  jpeg_exif.cpp
  jpeg_encode.cpp
  jpeg_errors.cpp
)
