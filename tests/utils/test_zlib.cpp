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

long file_size(FILE *file) {
    const long here = std::ftell(file);
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return size;
}

uint32_t header_field(FILE *file, long offset) {
    unsigned char bytes[4];
    std::fseek(file, offset, SEEK_SET);
    EXPECT_EQ(std::fread(bytes, 1, 4, file), 4u);
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

}  // namespace

TEST(Zlib, RecordsInARowRoundTrip) {
    FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const std::vector<unsigned char> zeros(100000, 0);
    const auto noise = pattern_bytes(50000);  // several 16384-byte pieces
    const std::vector<int32_t> ints = {1, -2, 3, 400000};
    ASSERT_EQ(dyx_fwrite_zlib(zeros.data(), 1, zeros.size(), file), zeros.size());
    EXPECT_EQ(std::ftell(file), file_size(file));  // left after the record
    EXPECT_EQ(header_field(file, 0), 100000u);
    const long first_size = file_size(file);
    EXPECT_EQ(long(header_field(file, 4)), first_size - DYX_ZLIB_HEADER_SIZE);
    std::fseek(file, 0, SEEK_END);
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

TEST(Zlib, MismatchedCountReadsOnlyTheHeader) {
    FILE *file = std::tmpfile();
    const auto data = pattern_bytes(1000);
    ASSERT_EQ(dyx_fwrite_zlib(data.data(), 10, 100, file), 1000u);
    std::rewind(file);
    std::vector<unsigned char> back(2000);
    testing::internal::CaptureStderr();
    EXPECT_EQ(dyx_fread_zlib(back.data(), 10, 99, file), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Uncompressed data size mismatch\n");
    EXPECT_EQ(std::ftell(file), 8);
    std::fclose(file);
}

// Guards against reading past the destination or looping on a damaged
// record.
TEST(Zlib, DamagedRecordsAreRefused) {
    const auto data = pattern_bytes(40000);
    FILE *file = std::tmpfile();
    ASSERT_EQ(dyx_fwrite_zlib(data.data(), 1, data.size(), file), data.size());
    const long size = file_size(file);
    std::vector<unsigned char> back(data.size());

    // A compressed length beyond the end of the file gives a short count.
    unsigned char big[4] = {0xff, 0xff, 0xff, 0x7f};
    std::fseek(file, 4, SEEK_SET);
    std::fwrite(big, 1, 4, file);
    std::rewind(file);
    const size_t produced = dyx_fread_zlib(back.data(), 1, back.size(), file);
    EXPECT_EQ(produced, data.size());  // the stream itself is whole
    EXPECT_TRUE(std::feof(file));

    // A truncated record: fewer bytes.
    FILE *cut = std::tmpfile();
    std::vector<unsigned char> raw(size);
    std::rewind(file);
    ASSERT_EQ(std::fread(raw.data(), 1, raw.size(), file), raw.size());
    std::fwrite(raw.data(), 1, raw.size() / 2, cut);
    std::rewind(cut);
    EXPECT_LT(dyx_fread_zlib(back.data(), 1, back.size(), cut), data.size());
    std::fclose(cut);

    // Corrupt bytes in the stream: 0.
    FILE *corrupt = std::tmpfile();
    raw[4] = static_cast<unsigned char>(size - 9);
    raw[5] = static_cast<unsigned char>((size - 9) >> 8);
    raw[6] = static_cast<unsigned char>((size - 9) >> 16);
    raw[7] = 0;
    for (long i = 20; i < size; i += 7) raw[i] ^= 0x5a;
    std::fwrite(raw.data(), 1, raw.size(), corrupt);
    std::rewind(corrupt);
    EXPECT_EQ(dyx_fread_zlib(back.data(), 1, back.size(), corrupt), 0u);
    std::fclose(corrupt);
    std::fclose(file);
}

TEST(Zlib, RefusesStreamsItCannotUse) {
    const unsigned char byte = 1;
    FILE *pipe_end = popen("cat > /dev/null", "w");
    ASSERT_NE(pipe_end, nullptr);
    EXPECT_EQ(dyx_fwrite_zlib(&byte, 1, 1, pipe_end), 0u);  // cannot seek back
    pclose(pipe_end);

    FILE *empty = std::tmpfile();
    unsigned char back = 0;
    EXPECT_EQ(dyx_fread_zlib(&back, 1, 1, empty), 0u);
    std::fclose(empty);
}
