// Header reading and writing for binary Netpbm files.
#include "ppm_header.h"

#include <cctype>
#include <cstring>

namespace ppm {
namespace {

constexpr int64_t kLargestSide = 1 << 30;  // keeps every product in 64 bits

// Character source that remembers the last character and the offset.
class Scanner {
public:
    explicit Scanner(std::FILE *file) : file_(file) {}

    int get() {
        int c = std::getc(file_);
        if (c != EOF) ++offset_;
        return c;
    }
    void unget(int c) {
        if (c == EOF) return;
        std::ungetc(c, file_);
        --offset_;
    }
    int64_t offset() const { return offset_; }

    // Skips white space and '#' comments (to the end of their line).
    int skip_space() {
        int c = get();
        for (;;) {
            if (c == '#') {
                while (c != '\n' && c != EOF) c = get();
            } else if (c != EOF && std::isspace(c)) {
                c = get();
            } else {
                return c;
            }
        }
    }

    // A decimal number below 2^31 after white space and comments.
    bool number(int64_t &value) {
        int c = skip_space();
        if (c == EOF || !std::isdigit(c)) return false;
        value = 0;
        while (c != EOF && std::isdigit(c)) {
            value = value * 10 + (c - '0');
            if (value > INT32_MAX) return false;
            c = get();
        }
        unget(c);
        return true;
    }

    // A word of at most `size` - 1 printable characters; longer is refused.
    bool word(char *out, size_t size) {
        int c = skip_space();
        size_t length = 0;
        while (c != EOF && !std::isspace(c)) {
            if (length + 1 >= size) return false;
            out[length++] = static_cast<char>(c);
            c = get();
        }
        unget(c);
        out[length] = '\0';
        return length > 0;
    }

    // Drops the rest of the current line; false at end of file.
    bool end_line() {
        int c = get();
        while (c != '\n' && c != EOF) c = get();
        return c == '\n';
    }

private:
    std::FILE *file_;
    int64_t offset_ = 0;
};

bool read_pnm_numbers(Scanner &scanner, Header &header, std::string &error) {
    int64_t width, height, maxval;
    if (!scanner.number(width) || !scanner.number(height) || !scanner.number(maxval)) {
        error = "bad or missing numbers in the header";
        return false;
    }
    // Exactly one white-space character separates the header from the raster.
    int c = scanner.get();
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
    if (scanner.get() != 'P') {
        error = "not a binary PPM, PGM or PAM file";
        return false;
    }
    const int kind = scanner.get();
    bool ok = false;
    if (kind == '5' || kind == '6') {
        header.channels = kind == '5' ? 1 : 3;
        ok = read_pnm_numbers(scanner, header, error);
    } else if (kind == '7') {
        ok = read_pam_fields(scanner, header, error);
    } else {
        error = "not a binary PPM, PGM or PAM file";
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
    if (pam || channels == 2 || channels == 4)
        written = std::fprintf(file, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %u\nTUPLTYPE %s\nENDHDR\n",
                               width, height, channels, maxval, kTupleTypes[channels - 1]);
    else
        written = std::fprintf(file, "P%c\n%d %d\n%u\n", channels == 1 ? '5' : '6', width, height, maxval);
    return written > 0;
}

}  // namespace ppm
