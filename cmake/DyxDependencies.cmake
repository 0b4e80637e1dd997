# The system libraries the dyx library links: threads, zlib (compressed
# records) and the dynamic loader (codec plug-ins). Shared by the main build
# and the fuzz project; call after add_library(dyx ...).
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
target_link_libraries(dyx PUBLIC Threads::Threads ZLIB::ZLIB ${CMAKE_DL_LIBS})
