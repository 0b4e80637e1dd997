// The Multi-Tile Movie description reader on arbitrary file bytes. A file
// that reads, and whose plug-in names are plain words, is written back and
// read again, which must give the same number of sub-movies (and, in
// full-resolution files, the same offsets; otherwise tiles are placed by
// corner points and offsets are not kept).
#include <cctype>
#include <cstring>

#include "dyx_udil_mtm.h"
#include "fuzz_support.h"

namespace {

// Plug-in names are written as bare words: only names made of ordinary
// characters (as every real plug-in's is) can be read back the same.
bool plain_word(const char *text) {
    for (const char *c = text; *c; ++c)
        if (!std::isalnum(static_cast<unsigned char>(*c)) && !std::strchr("_-.+", *c)) return false;
    return true;
}

bool plain_formats(const UdilMtm &mtm) {
    if (!plain_word(mtm.default_format)) return false;
    for (int32_t i = 0; i < mtm.movie_count; ++i)
        if (!plain_word(mtm.movies[i].format)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = fuzz::scratch_file("input.mtm");
    if (!fuzz::write_file(path, data, size)) abort();
    UdilMtm *mtm = dyx_udil_mtm_open(path.c_str());
    if (mtm == nullptr) return 0;
    const std::string copy = fuzz::scratch_file("copy.mtm");
    if (plain_formats(*mtm) && dyx_udil_mtm_new(copy.c_str(), mtm) == 0) {
        UdilMtm *again = dyx_udil_mtm_open(copy.c_str());
        if (again == nullptr || again->movie_count != mtm->movie_count) abort();
        for (int32_t i = 0; mtm->full_resolution && i < mtm->movie_count; ++i)
            if (std::memcmp(again->movies[i].image_offset, mtm->movies[i].image_offset,
                            sizeof mtm->movies[i].image_offset) != 0)
                abort();
        dyx_udil_mtm_free(&again);
    }
    dyx_udil_mtm_close(mtm);
    dyx_udil_mtm_free(&mtm);
    return 0;
}
