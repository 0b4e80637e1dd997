// The compressed-record reader on arbitrary file bytes. The first two bytes
// give the size of the destination, which must never be overrun.
#include <cstdio>
#include <vector>

#include "dyx_zlib.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const size_t expected = size_t(data[0]) | size_t(data[1]) << 8;
    FILE *stream = fmemopen(const_cast<uint8_t *>(data + 2), size - 2, "rb");
    if (stream == nullptr) return 0;
    // Exactly the room asked for, so that ASan sees any overrun.
    std::vector<uint8_t> destination(expected ? expected : 1);
    for (int record = 0; record < 4; ++record) {
        const size_t got = dyx_fread_zlib(destination.data(), 1, expected, stream);
        if (got > expected) abort();
        if (got == 0) break;
    }
    std::fclose(stream);
    return 0;
}
