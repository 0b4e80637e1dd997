# add_udil_plugin(<name> <sources>...): builds libudil-<name>.so against the
# plug-in contract and the SDK. Plug-ins never link the host library.
# Optional OUTPUT_DIRECTORY <dir> (default: the build's plug-in directory,
# and only then is the plug-in installed) and TARGET <name> (default
# udil-<name>).
include_guard(GLOBAL)

# Where `make install` puts plug-ins: the directory the module searches
# when QEV_UDILPATH is not set (below the install home, QEV_HOME).
if(DEFINED ENV{QEV_HOME})
  set(ORVO_DEFAULT_QEV_HOME $ENV{QEV_HOME})
else()
  set(ORVO_DEFAULT_QEV_HOME /usr/local/QEV)
endif()
set(ORVO_INSTALL_UDIL_DIR ${ORVO_DEFAULT_QEV_HOME}/vorp32/machines/linux_2.6_64/QEV/lib/udil
    CACHE PATH "Directory that make install puts the codec plug-ins in")

function(add_udil_plugin name)
  cmake_parse_arguments(PLUGIN "" "OUTPUT_DIRECTORY;TARGET" "" ${ARGN})
  set(installed FALSE)
  if(NOT PLUGIN_OUTPUT_DIRECTORY)
    # Product plug-ins; test plug-ins name their own directory and stay put.
    set(PLUGIN_OUTPUT_DIRECTORY ${ORVO_PLUGIN_DIR})
    set(installed TRUE)
  endif()
  if(NOT PLUGIN_TARGET)
    set(PLUGIN_TARGET udil-${name})
  endif()
  add_library(${PLUGIN_TARGET} MODULE ${PLUGIN_UNPARSED_ARGUMENTS})
  target_include_directories(${PLUGIN_TARGET} PRIVATE
    ${CMAKE_SOURCE_DIR}/udil/include ${CMAKE_SOURCE_DIR}/plugins/sdk)
  set_target_properties(${PLUGIN_TARGET} PROPERTIES
    OUTPUT_NAME udil-${name} PREFIX lib
    LIBRARY_OUTPUT_DIRECTORY ${PLUGIN_OUTPUT_DIRECTORY})
  # Marked with the orvo version that builds it (see udil_sdk.h).
  if(ORVO_PLUGIN_VERSION)
    target_compile_definitions(${PLUGIN_TARGET} PRIVATE UDIL_SDK_ORVO_VERSION="${ORVO_PLUGIN_VERSION}")
  endif()
  # Unresolved symbols are errors: a plug-in must not rely on the host.
  if(NOT ORVO_SANITIZE)
    target_link_options(${PLUGIN_TARGET} PRIVATE -Wl,--no-undefined)
  endif()
  if(installed)
    install(TARGETS ${PLUGIN_TARGET} LIBRARY DESTINATION ${ORVO_INSTALL_UDIL_DIR})
  endif()
endfunction()
