// The frame-range probe for numbered filename templates.
//
// Rather than trying every possible frame number (a billion file opens for
// nine '#'), the directory that holds the numbered names is listed once;
// only the numbers found there are candidates, and each candidate is
// confirmed by opening its file, as a probe would. The work is bounded by
// the directory's size.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "dyx_path.h"
#include "dyx_status.h"

namespace {

// A template split around its run of '#': prefix, digits, suffix.
struct FrameTemplate {
    std::string prefix;
    std::string suffix;
    int digits = 0;
    int32_t max_frame = 0;

    std::string name_of(int32_t frame) const {
        char number[16];
        std::snprintf(number, sizeof number, "%0*d", digits, frame);
        return prefix + number + suffix;
    }
};

// Fills `parts`; false when the text is not a usable template.
bool split_template(const char *path_template, FrameTemplate &parts) {
    if (path_template == nullptr) return false;
    const size_t length = strnlen(path_template, DYX_PATH_TEMPLATE_SIZE);
    if (length >= DYX_PATH_TEMPLATE_SIZE) return false;
    std::string text(path_template, length);
    const size_t first_hash = text.find('#');
    if (first_hash == std::string::npos) return false;
    const size_t eye = text.rfind('@');
    if (eye != std::string::npos) text[eye] = 'l';  // the left eye is probed
    const size_t last_hash = text.rfind('#');
    const size_t digits = last_hash - first_hash + 1;
    if (digits > DYX_PATH_MAX_FRAME_DIGITS) return false;
    parts.prefix = text.substr(0, first_hash);
    parts.suffix = text.substr(last_hash + 1);
    parts.digits = static_cast<int>(digits);
    int32_t max_frame = 0;
    for (size_t i = 0; i < digits; ++i) max_frame = max_frame * 10 + 9;
    parts.max_frame = max_frame;
    return true;
}

// Frame numbers whose names appear in the directory that holds the path
// component carrying the digits, sorted. An unreadable directory has none.
std::vector<int32_t> listed_frames(const FrameTemplate &parts) {
    const size_t slash = parts.prefix.rfind('/');
    const std::string directory =
        slash == std::string::npos ? std::string(".") : parts.prefix.substr(0, slash + 1);
    const std::string head = slash == std::string::npos ? parts.prefix : parts.prefix.substr(slash + 1);
    const std::string tail = parts.suffix.substr(0, parts.suffix.find('/'));
    const size_t shortest = head.size() + static_cast<size_t>(parts.digits) + tail.size();

    std::vector<int32_t> frames;
    DIR *dir = opendir(directory.c_str());
    if (dir == nullptr) return frames;
    while (const dirent *entry = readdir(dir)) {
        const char *name = entry->d_name;
        const size_t name_length = std::strlen(name);
        // A number wider than the run is spelt without leading zeros, as
        // the names of frames past 10^digits - 1 are made.
        const size_t width = name_length - head.size() - tail.size();
        if (name_length < shortest || width > 10) continue;
        if (head.compare(0, head.size(), name, head.size()) != 0) continue;
        if (tail.compare(0, tail.size(), name + name_length - tail.size(), tail.size()) != 0) continue;
        const char *number = name + head.size();
        if (width > size_t(parts.digits) && number[0] == '0') continue;
        int64_t frame = 0;
        bool all_digits = true;
        for (size_t i = 0; i < width && all_digits; ++i) {
            all_digits = std::isdigit(static_cast<unsigned char>(number[i])) != 0;
            frame = frame * 10 + (number[i] - '0');
        }
        if (all_digits && frame <= INT32_MAX) frames.push_back(static_cast<int32_t>(frame));
    }
    closedir(dir);
    std::sort(frames.begin(), frames.end());
    return frames;
}

class FrameProbe {
public:
    explicit FrameProbe(const FrameTemplate &parts) : parts_(parts), listed_(listed_frames(parts)) {}

    const std::vector<int32_t> &listed() const { return listed_; }

    // A frame exists when it was listed and its file opens for reading.
    // Frames past the run's width are looked at only when `wider` is set.
    bool exists(int64_t frame, bool wider = false) const {
        if (frame < 0 || frame > INT32_MAX || (!wider && frame > parts_.max_frame)) return false;
        const auto number = static_cast<int32_t>(frame);
        if (!std::binary_search(listed_.begin(), listed_.end(), number)) return false;
        // Non-blocking: opening a FIFO for reading would otherwise wait for
        // a writer. Such a frame counts here and is refused when read.
        const int file = open(parts_.name_of(number).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (file < 0) return false;
        close(file);
        return true;
    }

private:
    const FrameTemplate &parts_;
    std::vector<int32_t> listed_;
};

int probe_range(const FrameTemplate &parts, int32_t *first, int32_t *last) {
    const FrameProbe probe(parts);
    if (*first == -1) {
        const auto &listed = probe.listed();
        const auto found = std::find_if(listed.begin(), listed.end(),
                                        [&probe](int32_t frame) { return probe.exists(frame); });
        if (found == listed.end()) return DYX_BAD_ARGUMENT;  // *first stays -1
        *first = *found;
    }
    // An open end stops where the run's width does; a last frame asked
    // for beyond it follows the names as they grow (9999, 10000 ...).
    const bool wider = *last != -1;
    const int64_t limit = *last == -1 ? parts.max_frame : *last;
    int64_t frame = *first;
    // Every step past the first needs a listed frame, so this loop runs at
    // most once more than the directory has entries.
    while (frame <= limit && probe.exists(frame, wider)) ++frame;
    *last = static_cast<int32_t>(frame - 1);
    return DYX_OK;
}

}  // namespace

extern "C" {

int dyx_valid_pathname_range(const char *path_template, int32_t *first, int32_t *last) {
    if (first == nullptr || last == nullptr) return DYX_BAD_ARGUMENT;
    try {
        FrameTemplate parts;
        if (!split_template(path_template, parts)) return DYX_BAD_ARGUMENT;
        return probe_range(parts, first, last);
    } catch (const std::bad_alloc &) {
        return DYX_BAD_ARGUMENT;
    }
}

}  // extern "C"
