# The sources of libudil-png.so, relative to this folder (shared with the
# fuzz project).
set(UDIL_PLUGIN_SOURCES
  png_plugin.cpp
  png_decode.cpp
  png_encode.cpp
  png_chunks.cpp
  png_animation.cpp
  png_animation_write.cpp
)
