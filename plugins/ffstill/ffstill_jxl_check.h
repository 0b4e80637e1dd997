// A JPEG XL file checked before FFmpeg's libjxl decoder sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ffstill {

// False, with the reason in `error`, for data that would keep FFmpeg's
// libjxl decoder asking for more input forever: a signature cut short, a
// container box that runs past the data, or a codestream whose headers
// do not reach its first frame.
bool check_jxl_start(const uint8_t *data, size_t size, std::string &error);

}  // namespace ffstill
