# The sources of libudil-ffstill.so, relative to this folder.
set(UDIL_PLUGIN_SOURCES
  ffstill_plugin.cpp
  ffstill_formats.cpp
  ffstill_decode.cpp
  ffstill_jxl_check.cpp
  ffstill_header.cpp
  ffstill_probe.cpp
  ffstill_reduce.cpp
  ffstill_deep.cpp
  ffstill_deep_write.cpp
  ffstill_encode.cpp
)
