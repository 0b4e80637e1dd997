// The path and file-name template functions on arbitrary names: normalise,
// expand, convert, dirname/basename, extensions, make filename and the
// template probe over a scratch directory of numbered files.
#include <cstring>
#include <vector>

#include "dyx_path.h"
#include "fuzz_support.h"

namespace {

// A few numbered files for the probe to find.
const std::string &sequence_dir() {
    static const std::string dir = [] {
        const std::string path = fuzz::scratch_file("seq");
        std::system(("mkdir -p '" + path + "'").c_str());
        for (const char *name : {"f0001.ppm", "f0002.ppm", "f0003.ppm", "f0007.ppm", "a_l.01.png",
                                 "a_r.01.png", "a_l.02.png", "x9.tif", "x10.tif", "x11.tif", "#.ppm"})
            fuzz::write_file(path + "/" + name, reinterpret_cast<const uint8_t *>("x"), 1);
        return path;
    }();
    return dir;
}

// Runs `call` with output buffers of the size it would need and of a few
// sizes that are too small, each in a block of exactly that size.
template <typename Call>
void with_small_buffers(Call call) {
    for (int32_t size : {1024, 64, 8, 1}) {
        std::vector<char> out(static_cast<size_t>(size));
        call(out.data(), size);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    const int32_t frame = int32_t(data[0]) * 37 - 100;
    const int32_t eye = data[1] & 3;
    const int32_t mode =
        (data[2] & 3) | (data[2] & 4 ? DYX_PATH_REPLACE_SPECIAL : 0) | (data[2] & 8 ? DYX_PATH_CLEAN : 0);
    const std::string text = fuzz::as_text(data + 3, size - 3);

    with_small_buffers([&](char *out, int32_t room) { dyx_get_norm_path(text.c_str(), out, room); });
    with_small_buffers([&](char *out, int32_t room) { dyx_expand_pathname(text.c_str(), out, room); });
    with_small_buffers([&](char *out, int32_t room) { dyx_get_full_path(text.c_str(), out, room); });

    std::vector<char> edited(text.begin(), text.end());
    edited.push_back('\0');
    dyx_convert_pathname(edited.data(), mode);
    if (std::strlen(edited.data()) > text.size()) abort();
    dyx_find_dot_in_filename(edited.data());
    dyx_remove_ext(edited.data());
    std::vector<char> parts(text.begin(), text.end());
    parts.push_back('\0');
    dyx_dirname(parts.data());
    std::vector<char> base(text.begin(), text.end());
    base.push_back('\0');
    dyx_basename(base.data());
    dyx_path_is_absolute(text.c_str());
    dyx_udil_has_wildcards(text.c_str());

    char name[DYX_UDIL_PATH_SIZE];
    if (dyx_udil_make_filename(name, text.c_str(), ".ppm", frame, eye) &&
        std::strlen(name) >= DYX_UDIL_PATH_SIZE)
        abort();

    // The probe lists only the scratch directory: separators in the name
    // would send it elsewhere on the machine.
    std::string leaf = text;
    for (char &c : leaf)
        if (c == '/' || c == '\\') c = '_';
    const std::string probe = sequence_dir() + "/" + leaf;
    int32_t first = data[0] & 1 ? -1 : frame, last = data[1] & 4 ? -1 : frame + data[2];
    if (dyx_valid_pathname_range(probe.c_str(), &first, &last) == 0 && first >= 0 && last < first - 1)
        abort();
    return 0;
}
