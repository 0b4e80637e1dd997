// Header reading and writing for binary Netpbm files.
#include "ppm_header.h"

#include <cctype>
#include <cstring>

#include "ppm_scanner.h"

namespace ppm {
namespace {

constexpr int64_t kLargestSide = 1 << 30;  // keeps every product in 64 bits

// Width, height and (but for bitmaps) the maximum sample value.
bool read_pnm_numbers(Scanner &scanner, Header &header, std::string &error) {
    int64_t width, height, maxval = 1;
    if (!scanner.number(width) || !scanner.number(height) || (!header.bitmap && !scanner.number(maxval))) {
        error = "bad or missing numbers in the header";
        return false;
    }
    // Exactly one white-space character separates the header from a raw
    // raster; a comment may come first, its line end being that character.
    int c = scanner.get();
    if (c == '#') c = scanner.rest_of_comment();
    if (c == EOF || !std::isspace(c)) {
        error = "no white space after the header";
        return false;
    }
    header.width = static_cast<int32_t>(width);
    header.height = static_cast<int32_t>(height);
    header.maxval = static_cast<uint32_t>(maxval);
    return true;
}

int channels_of_tuple_type(const char *type) {
    if (std::strcmp(type, "BLACKANDWHITE") == 0 || std::strcmp(type, "GRAYSCALE") == 0) return 1;
    if (std::strcmp(type, "GRAYSCALE_ALPHA") == 0 || std::strcmp(type, "BLACKANDWHITE_ALPHA") == 0) return 2;
    if (std::strcmp(type, "RGB") == 0) return 3;
    if (std::strcmp(type, "RGB_ALPHA") == 0) return 4;
    return 0;
}

bool read_pam_fields(Scanner &scanner, Header &header, std::string &error) {
    if (!scanner.end_line()) {
        error = "truncated header";
        return false;
    }
    int64_t width = -1, height = -1, depth = -1, maxval = -1;
    int tuple_channels = -1;
    char key[32];
    for (int lines = 0;; ++lines) {
        if (lines > 4096 || !scanner.word(key, sizeof key)) {
            error = "truncated or malformed header";
            return false;
        }
        if (std::strcmp(key, "ENDHDR") == 0) {
            if (!scanner.end_line()) {
                error = "truncated header";
                return false;
            }
            break;
        }
        bool ok = true;
        if (std::strcmp(key, "WIDTH") == 0) {
            ok = scanner.number(width);
        } else if (std::strcmp(key, "HEIGHT") == 0) {
            ok = scanner.number(height);
        } else if (std::strcmp(key, "DEPTH") == 0) {
            ok = scanner.number(depth);
        } else if (std::strcmp(key, "MAXVAL") == 0) {
            ok = scanner.number(maxval);
        } else if (std::strcmp(key, "TUPLTYPE") == 0) {
            char type[32];
            ok = scanner.word(type, sizeof type);
            if (ok) tuple_channels = channels_of_tuple_type(type);
            if (tuple_channels == 0) {
                error = "unsupported tuple type";
                return false;
            }
        } else {
            error = std::string("unknown header field ") + key;
            return false;
        }
        if (!ok || !scanner.end_line()) {
            error = std::string("bad value for ") + key;
            return false;
        }
    }
    if (width < 0 || height < 0 || depth < 0 || maxval < 0) {
        error = "WIDTH, HEIGHT, DEPTH or MAXVAL missing";
        return false;
    }
    if (depth < 1 || depth > 4 || (tuple_channels > 0 && tuple_channels != depth)) {
        error = "unsupported depth";
        return false;
    }
    header.width = static_cast<int32_t>(width);
    header.height = static_cast<int32_t>(height);
    header.channels = static_cast<int32_t>(depth);
    header.maxval = static_cast<uint32_t>(maxval);
    return true;
}

}  // namespace

bool read_header(std::FILE *file, int64_t file_size, Header &header, std::string &error) {
    header = Header();
    Scanner scanner(file);
    const int magic = scanner.get();
    const int kind = scanner.get();
    if (magic != 'P' || kind < '1' || kind > '7') {
        error = "not a Netpbm file";
        return false;
    }
    bool ok;
    if (kind == '7') {
        ok = read_pam_fields(scanner, header, error);
    } else {
        // P1 P2 P3 are the plain (text) forms of P4 P5 P6: bitmap, grey, colour.
        const int form = kind <= '3' ? kind - '1' : kind - '4';
        header.plain = kind <= '3';
        header.bitmap = form == 0;
        header.channels = form == 2 ? 3 : 1;
        ok = read_pnm_numbers(scanner, header, error);
    }
    if (!ok) return false;
    if (header.width < 1 || header.height < 1 || header.width > kLargestSide ||
        header.height > kLargestSide) {
        error = "bad picture size";
        return false;
    }
    if (header.maxval < 1 || header.maxval > 65535) {
        error = "bad maximum sample value";
        return false;
    }
    header.raster_offset = scanner.offset();
    if (file_size >= 0 && header.raster_bytes() > file_size - header.raster_offset) {
        error = "the file is shorter than its picture";
        return false;
    }
    return true;
}

bool write_header(std::FILE *file, int32_t width, int32_t height, int32_t channels, uint32_t maxval,
                  bool pam) {
    static const char *const kTupleTypes[] = {"GRAYSCALE", "GRAYSCALE_ALPHA", "RGB", "RGB_ALPHA"};
    if (channels < 1 || channels > 4) return false;
    int written;
    if (!pam && channels == 1 && maxval == 1)
        written = std::fprintf(file, "P4\n%d %d\n", width, height);
    else if (pam || channels == 2 || channels == 4)
        written = std::fprintf(file, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %u\nTUPLTYPE %s\nENDHDR\n",
                               width, height, channels, maxval, kTupleTypes[channels - 1]);
    else
        written = std::fprintf(file, "P%c\n%d %d\n%u\n", channels == 1 ? '5' : '6', width, height, maxval);
    return written > 0;
}

}  // namespace ppm
