#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dyx_zlib.h"

namespace {

std::vector<unsigned char> pattern_bytes(size_t count) {
    std::vector<unsigned char> bytes(count);
    uint32_t state = 12345;
    for (auto &byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(state >> 24);  // poorly compressible
    }
    return bytes;
}

// Everything written to `file`; its position is kept.
std::string contents_of(FILE *file) {
    const long here = std::ftell(file);
    std::string bytes;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) bytes += static_cast<char>(c);
    std::fseek(file, here, SEEK_SET);
    return bytes;
}

uint32_t le32(const std::string &bytes, size_t at) {
    auto byte = [&](size_t i) { return uint32_t(static_cast<unsigned char>(bytes[at + i])); };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

// A stream positioned at the start of `bytes`.
FILE *stream_of(const std::string &bytes) {
    FILE *file = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
    return file;
}

}  // namespace

TEST(Zlib, RecordsInARowRoundTrip) {
    FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const std::vector<unsigned char> zeros(100000, 0);
    const auto noise = pattern_bytes(50000);  // several 16384-byte pieces
    const std::vector<int32_t> ints = {1, -2, 3, 400000};
    ASSERT_EQ(dyx_fwrite_zlib(zeros.data(), 1, zeros.size(), file), zeros.size());
    const std::string first = contents_of(file);
    const long first_size = long(first.size());
    EXPECT_EQ(std::ftell(file), first_size);  // left after the record
    EXPECT_EQ(le32(first, 0), 100000u);
    EXPECT_EQ(long(le32(first, 4)), first_size - DYX_ZLIB_HEADER_SIZE);
    ASSERT_EQ(dyx_fwrite_zlib(noise.data(), 1, noise.size(), file), noise.size());
    ASSERT_EQ(dyx_fwrite_zlib(ints.data(), sizeof(int32_t), ints.size(), file), 16u);
    std::rewind(file);
    std::vector<unsigned char> zeros_back(zeros.size(), 1), noise_back(noise.size());
    std::vector<int32_t> ints_back(ints.size());
    EXPECT_EQ(dyx_fread_zlib(zeros_back.data(), 1, zeros_back.size(), file), zeros.size());
    EXPECT_EQ(std::ftell(file), first_size);
    EXPECT_EQ(dyx_fread_zlib(noise_back.data(), 1, noise_back.size(), file), noise.size());
    EXPECT_EQ(dyx_fread_zlib(ints_back.data(), sizeof(int32_t), ints_back.size(), file), 16u);
    EXPECT_EQ(zeros_back, zeros);
    EXPECT_EQ(noise_back, noise);
    EXPECT_EQ(ints_back, ints);
    std::fclose(file);
}

// Guards against reading past the destination or looping on a damaged
// record.
TEST(Zlib, DamagedRecordsAreRefused) {
    const auto data = pattern_bytes(40000);
    FILE *file = std::tmpfile();
    ASSERT_EQ(dyx_fwrite_zlib(data.data(), 1, data.size(), file), data.size());
    const std::string record = contents_of(file);
    std::fclose(file);
    std::string beyond_the_end = record, corrupt = record;
    beyond_the_end.replace(4, 4, "\xff\xff\xff\x7f");  // a compressed length past the end of the file
    for (size_t i = 20; i < corrupt.size(); i += 7) corrupt[i] ^= 0x5a;
    const struct {
        std::string bytes;
        size_t count, least, most;
        long position_after;  // -1: not checked
    } cases[] = {
        {beyond_the_end, data.size(), data.size(), data.size(), long(record.size())},  // the stream is whole
        {record.substr(0, record.size() / 2), data.size(), 0, data.size() - 1, -1},    // truncated
        {corrupt, data.size(), 0, 0, -1},
        {record, data.size() - 1, 0, 0, 8},  // another count than the header's: nothing more is read
        {"", 1, 0, 0, 0},
    };
    std::vector<unsigned char> back(data.size());
    for (const auto &c : cases) {
        FILE *stream = stream_of(c.bytes);
        testing::internal::CaptureStderr();
        const size_t read = dyx_fread_zlib(back.data(), 1, c.count, stream);
        const std::string complaint = testing::internal::GetCapturedStderr();
        EXPECT_GE(read, c.least);
        EXPECT_LE(read, c.most);
        if (c.position_after >= 0) {
            EXPECT_EQ(std::ftell(stream), c.position_after);
        }
        EXPECT_EQ(complaint, c.count == data.size() - 1 ? "Uncompressed data size mismatch\n" : "");
        std::fclose(stream);
    }
}

TEST(Zlib, RefusesStreamsItCannotSeek) {
    const unsigned char byte = 1;
    FILE *pipe_end = popen("cat > /dev/null", "w");
    ASSERT_NE(pipe_end, nullptr);
    EXPECT_EQ(dyx_fwrite_zlib(&byte, 1, 1, pipe_end), 0u);  // cannot seek back
    pclose(pipe_end);
}
