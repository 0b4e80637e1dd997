// libjpeg's error handling turned into a jump back to the caller.
#pragma once

#include <csetjmp>
// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>
// clang-format on

namespace jpeg_codec {

// Set up with install(); an operation calls setjmp(jump) and, when it
// returns non-zero, finds libjpeg's text in `message`.
struct ErrorJump {
    jpeg_error_mgr manager;  // first, so libjpeg's pointer is ours
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];

    // Makes `info` report through this object. With `strict`, warnings that
    // mean damaged picture data (a cut file, a corrupt entropy segment) are
    // fatal too, so that a broken file is refused instead of half decoded.
    void install(jpeg_common_struct &info, bool strict);
};

}  // namespace jpeg_codec
