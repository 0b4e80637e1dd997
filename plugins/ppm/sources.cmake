# The sources of libudil-ppm.so, relative to this folder (shared with the
# fuzz project).
set(UDIL_PLUGIN_SOURCES
  ppm_plugin.cpp
  ppm_header.cpp
  ppm_raster.cpp
)
