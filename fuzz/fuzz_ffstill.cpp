// The ffstill plug-in's reader on arbitrary file bytes, through the host's
// read stream as an image object uses it. The first byte picks the format
// (the file name's suffix), the rest is the file.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const char *const kNames[] = {"input.exr", "input.dpx", "input.webp", "input.bmp", "input.tga",
                                         "input.jp2", "input.sgi", "input.qoi",  "input.jxl"};
    if (size < 1) return 0;
    const size_t count = sizeof kNames / sizeof kNames[0];
    fuzz::read_codec_file("ffstill", kNames[data[0] % count], data + 1, size - 1, 1);
    return 0;
}
