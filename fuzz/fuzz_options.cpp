// Option strings parsed against real plug-ins' options; the first byte
// picks the plug-in.
#include "dyx_malloc.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    static const char *const kCodecs[] = {"ppm", "png", "jpeg", "tiff", "ffmpeg"};
    UdilRecord *record = fuzz::codec(kCodecs[data[0] % 5]);
    const std::string text = fuzz::as_text(data + 1, size - 1);
    int32_t count = 0;
    UdilOption *options = dyx_udil_parse_options(record, text.c_str(), &count);
    if (options && count != record->option_count) abort();
    if (options) dyx_udil_updateopts(record, options, count);
    dyx_free(options, __LINE__, __FILE__);
    dyx_udil_setopts(record, text.c_str());
    return 0;
}
