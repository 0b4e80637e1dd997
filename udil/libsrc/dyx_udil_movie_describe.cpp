// What an open read movie is: the host's own facts, then the plug-in's.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "dyx_udil_movie.h"
#include "dyx_udil_stream.h"
#include "udil_internal.h"
#include "udil_movie_internal.h"

namespace udil {
namespace {

std::string quoted(const char *text) {
    std::string out = "\"";
    for (const char *c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += char(byte);
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += char(byte);
        }
    }
    return out + "\"";
}

std::string host_members(const DyxUdilMovie &movie) {
    char numbers[160];
    std::string fps = "null";
    if (movie.fps > 0.0f && std::isfinite(movie.fps)) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.6g", double(movie.fps));
        fps = rate;
    }
    std::snprintf(numbers, sizeof numbers,
                  "\"width\": %d, \"height\": %d, \"frames\": %d, \"fps\": %s, \"stereo\": %s",
                  int(movie.width), int(movie.height), int(movie.realframes), fps.c_str(),
                  movie.stereo ? "true" : "false");
    return "\"plugin\": " + quoted(movie.format) + ", " + numbers;
}

// The members the plug-in of the movie's first file gives; empty when it
// has no udil_describe (or nothing to say).
std::string plugin_members(const DyxUdilMovie &movie) {
    const DyxUdilMovieInternals *internals = movie.internals;
    if (internals == nullptr || internals->stream == nullptr || internals->stream->file_count < 1) return {};
    const UdilFileSlot &slot = internals->stream->slots[0];
    // Per-frame files have no file open between transfers.
    if (slot.codec == nullptr || slot.codec->entry.describe == nullptr || !slot.container ||
        slot.primary == nullptr)
        return {};
    UdilCallGuard guard(slot.codec);
    std::vector<char> text(4096);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int32_t length = slot.codec->entry.describe(slot.primary, text.data(), int32_t(text.size()));
        if (length < 0) return {};
        if (size_t(length) < text.size()) return std::string(text.data(), size_t(length));
        text.resize(size_t(length) + 1);
    }
    return {};
}

}  // namespace
}  // namespace udil

extern "C" int32_t dyx_udil_movie_describe(DyxUdilMovie *movie, char *text, int32_t capacity) {
    using namespace udil;
    if (movie == nullptr) return -1;
    if (!movie->is_open) return movie_fail(movie, "open() required before describe()");
    if (!movie->read_mode) return movie_fail(movie, "describe() not allowed on write movie");
    try {
        // The read-ahead workers may be using the plug-in's handle.
        stop_pipeline(movie);
        std::string json = "{" + host_members(*movie);
        const std::string members = plugin_members(*movie);
        if (!members.empty()) json += ", " + members;
        json += "}";
        if (text != nullptr && capacity > 0) {
            const size_t kept = std::min(json.size(), size_t(capacity) - 1);
            std::memcpy(text, json.data(), kept);
            text[kept] = '\0';
        }
        return int32_t(json.size());
    } catch (const std::bad_alloc &) {
        movie_fail(movie, "out of memory");
        return -1;
    }
}
