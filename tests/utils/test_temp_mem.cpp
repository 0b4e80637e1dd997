#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "dyx_temp_mem.h"

namespace {

// Every test starts and ends with no temporary memory at all.
class TempMem : public ::testing::Test {
protected:
    void SetUp() override { dyx_temp_mem_free_all(); }
    void TearDown() override { dyx_temp_mem_free_all(); }
};

std::string display() {
    testing::internal::CaptureStderr();
    dyx_temp_mem_display();
    return testing::internal::GetCapturedStderr();
}

}  // namespace

// Small requests get 100 bytes; a released buffer is handed out again,
// unless it is more than four times the request.
TEST_F(TempMem, ReleasedBuffersAreReused) {
    void *buffer = dyx_temp_mem_alloc(10);
    ASSERT_NE(buffer, nullptr);
    std::memset(buffer, 1, 100);  // the whole 100 bytes are usable
    EXPECT_EQ(dyx_temp_mem_release(buffer), 0);
    EXPECT_EQ(dyx_temp_mem_release(buffer), 1);  // no longer handed out
    EXPECT_EQ(dyx_temp_mem_alloc(50), buffer);
    EXPECT_NE(dyx_temp_mem_alloc(50), buffer);  // nothing kept: a new one
    EXPECT_EQ(dyx_temp_mem_alloc(-1), nullptr);

    void *big = dyx_temp_mem_alloc(8000000);
    ASSERT_NE(big, nullptr);
    dyx_temp_mem_release(big);
    EXPECT_NE(dyx_temp_mem_alloc(1000000), big);
    EXPECT_EQ(dyx_temp_mem_alloc(3000000), big);
}

TEST_F(TempMem, ReleasedSegmentsAreKeptSmallestFirst) {
    void *large = dyx_temp_mem_alloc(5000);
    void *small = dyx_temp_mem_alloc(200);
    void *middle = dyx_temp_mem_alloc(1000);
    dyx_temp_mem_release(large);
    dyx_temp_mem_release(small);
    dyx_temp_mem_release(middle);
    const std::string text = display();
    const size_t first = text.find("Avail[0]");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(text.find("=        200 bytes, (requested 200)", first), std::string::npos);
    EXPECT_LT(text.find("=        200 bytes"), text.find("=       1000 bytes"));
    EXPECT_LT(text.find("=       1000 bytes"), text.find("=       5000 bytes"));
    // The smallest that fits is handed out.
    EXPECT_EQ(dyx_temp_mem_alloc(900), middle);
}

TEST_F(TempMem, ResizeKeepsContentsAndRefusesUnknownBuffers) {
    char *buffer = static_cast<char *>(dyx_temp_mem_alloc(150));
    std::memcpy(buffer, "contents", 9);
    EXPECT_EQ(dyx_temp_mem_resize(buffer, 120), buffer);  // within capacity
    char *grown = static_cast<char *>(dyx_temp_mem_resize(buffer, 100000));
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(grown, "contents");
    grown[99999] = 1;
    EXPECT_EQ(dyx_temp_mem_resize(grown, -5), nullptr);
    int local = 0;
    EXPECT_EQ(dyx_temp_mem_resize(&local, 10), nullptr);
    // A failed growth leaves the buffer as it was, still handed out.
    EXPECT_EQ(dyx_temp_mem_resize(grown, INT64_MAX / 2), nullptr);
    EXPECT_STREQ(grown, "contents");
    EXPECT_EQ(dyx_temp_mem_release(grown), 0);
    dyx_temp_mem_release(grown);
}

TEST_F(TempMem, FreeAndDisplayTotals) {
    void *handed = dyx_temp_mem_alloc(300);
    void *kept = dyx_temp_mem_alloc(700);
    dyx_temp_mem_release(kept);
    const std::string text = display();
    EXPECT_NE(text.find("      Memory Summary:  InUse =        300 bytes\n"), std::string::npos);
    EXPECT_NE(text.find("                       Avail =        700 bytes\n"), std::string::npos);
    EXPECT_NE(text.find("                       Total =       1000 bytes\n"), std::string::npos);
    EXPECT_EQ(dyx_temp_mem_free(handed), 0);
    EXPECT_EQ(dyx_temp_mem_free(handed), 1);
    EXPECT_EQ(dyx_temp_mem_free(kept), 0);  // kept buffers can be freed too
    int local = 0;
    EXPECT_EQ(dyx_temp_mem_free(&local), 1);
    EXPECT_NE(display().find("Total =          0 bytes"), std::string::npos);

    dyx_temp_mem_release(dyx_temp_mem_alloc(400));
    EXPECT_EQ(dyx_temp_mem_free_all_avail(), 0);
    EXPECT_EQ(display().find("Avail["), std::string::npos);
}
