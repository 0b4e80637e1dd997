# The sources of libudil-tiff.so, relative to this folder (shared with the
# fuzz project).
set(UDIL_PLUGIN_SOURCES
  tiff_plugin.cpp
  tiff_file.cpp
  tiff_lab.cpp
  tiff_deep.cpp
  tiff_read.cpp
  tiff_write.cpp
)
