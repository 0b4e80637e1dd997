// The jpeg plug-in's reader on arbitrary file bytes, through the host's
// read stream as a movie or image object uses it.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::read_codec_file("jpeg", "input.jpg", data, size, 2);
    return 0;
}
