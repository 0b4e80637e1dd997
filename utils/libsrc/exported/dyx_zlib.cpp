// zlib-compressed records in files.
#include "dyx_zlib.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

constexpr size_t kPiece = 16384;

struct RecordHeader {
    uint32_t uncompressed = 0;
    uint32_t compressed = 0;
};

void put_le32(unsigned char *out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t get_le32(const unsigned char *in) {
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}

bool write_header(FILE *stream, const RecordHeader &header) {
    unsigned char bytes[DYX_ZLIB_HEADER_SIZE] = {};
    put_le32(bytes, header.uncompressed);
    put_le32(bytes + 4, header.compressed);
    return std::fwrite(bytes, 1, sizeof bytes, stream) == sizeof bytes;
}

// The byte count of size * count, when it is representable.
bool total_bytes(size_t size, size_t count, size_t &total) {
    return !__builtin_mul_overflow(size, count, &total);
}

class Deflater {
public:
    Deflater() { ready_ = deflateInit(&stream_, Z_DEFAULT_COMPRESSION) == Z_OK; }
    ~Deflater() {
        if (ready_) deflateEnd(&stream_);
    }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    bool ready() const { return ready_; }
    z_stream &stream() { return stream_; }

private:
    z_stream stream_ = {};
    bool ready_ = false;
};

class Inflater {
public:
    Inflater() { ready_ = inflateInit(&stream_) == Z_OK; }
    ~Inflater() {
        if (ready_) inflateEnd(&stream_);
    }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    bool ready() const { return ready_; }
    z_stream &stream() { return stream_; }

private:
    z_stream stream_ = {};
    bool ready_ = false;
};

// Compresses the whole block, writing the output a piece at a time.
// Returns false when a write fails; `written` counts the bytes.
bool deflate_to(z_stream &zs, const void *data, uint32_t length, FILE *stream, uint64_t &written) {
    zs.next_in = static_cast<Bytef *>(const_cast<void *>(data));
    zs.avail_in = length;
    unsigned char piece[kPiece];
    do {
        zs.next_out = piece;
        zs.avail_out = sizeof piece;
        if (deflate(&zs, Z_FINISH) == Z_STREAM_ERROR) return false;
        const size_t produced = sizeof piece - zs.avail_out;
        if (std::fwrite(piece, 1, produced, stream) != produced) return false;
        written += produced;
    } while (zs.avail_out == 0);
    return true;
}

}  // namespace

extern "C" {

size_t dyx_fwrite_zlib(const void *data, size_t size, size_t count, FILE *stream) {
    size_t total = 0;
    if (stream == nullptr || !total_bytes(size, count, total) || total > UINT32_MAX) return 0;
    if (data == nullptr && total > 0) return 0;
    const auto length = static_cast<uint32_t>(total);
    // The compressed length must fit its 32-bit field too.
    if (compressBound(length) > UINT32_MAX) return 0;
    const off_t start = ftello(stream);
    if (start < 0) return 0;
    Deflater deflater;
    if (!deflater.ready()) return 0;
    uint64_t compressed = 0;
    if (!write_header(stream, {length, 0})) return 0;
    if (!deflate_to(deflater.stream(), data, length, stream, compressed)) return 0;
    if (compressed > UINT32_MAX) return 0;
    const off_t end = ftello(stream);
    if (fseeko(stream, start, SEEK_SET) != 0) return 0;
    const bool header_written = write_header(stream, {length, static_cast<uint32_t>(compressed)});
    if (fseeko(stream, end, SEEK_SET) != 0 || !header_written) return 0;
    return total;
}

size_t dyx_fread_zlib(void *destination, size_t size, size_t count, FILE *stream) {
    if (stream == nullptr) return 0;
    unsigned char bytes[DYX_ZLIB_HEADER_SIZE];
    if (std::fread(bytes, 1, 8, stream) != 8) return 0;
    const RecordHeader header{get_le32(bytes), get_le32(bytes + 4)};
    size_t expected = 0;
    if (!total_bytes(size, count, expected) || expected != header.uncompressed) {
        std::fputs("Uncompressed data size mismatch\n", stderr);
        return 0;
    }
    if (std::fread(bytes + 8, 1, 1, stream) != 1) return 0;
    if (destination == nullptr && expected > 0) return 0;

    Inflater inflater;
    if (!inflater.ready()) return 0;
    z_stream &zs = inflater.stream();
    zs.next_out = static_cast<Bytef *>(destination);
    zs.avail_out = header.uncompressed;  // never more than the destination holds

    unsigned char piece[kPiece];
    uint32_t remaining = header.compressed;
    bool ended = false;
    // All of the record's compressed bytes are consumed, so that the next
    // record can be read after this one.
    while (remaining > 0) {
        const size_t wanted = std::min<size_t>(remaining, sizeof piece);
        const size_t got = std::fread(piece, 1, wanted, stream);
        if (got == 0) break;  // the file is shorter than the header says
        remaining -= static_cast<uint32_t>(got);
        if (ended) continue;
        zs.next_in = piece;
        zs.avail_in = static_cast<uInt>(got);
        const int status = inflate(&zs, got == sizeof piece ? Z_NO_FLUSH : Z_FINISH);
        if (status == Z_NEED_DICT || status == Z_DATA_ERROR || status == Z_MEM_ERROR ||
            status == Z_STREAM_ERROR) {
            return 0;
        }
        ended = status == Z_STREAM_END;
    }
    return header.uncompressed - zs.avail_out;
}

}  // extern "C"
