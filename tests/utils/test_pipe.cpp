#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "dyx_pipe.h"
#include "scratch_dir.h"

using testing_support::ScratchDir;

namespace {

std::string read_all(FILE *stream) {
    std::string text;
    char buffer[256];
    while (dyx_pipe_fgets(buffer, sizeof buffer, stream) != nullptr) text += buffer;
    return text;
}

// The child's exit status, or -1 when it did not end normally.
int reap(int32_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

TEST(PipePopenId, ReadsOutputAndErrors) {
    int32_t pid = 0;
    FILE *stream = dyx_pipe_popen_id("echo hello; echo oops 1>&2; exit 3", "r", &pid);
    ASSERT_NE(stream, nullptr);
    EXPECT_GT(pid, 0);
    const std::string text = read_all(stream);
    EXPECT_TRUE(dyx_pipe_feof(stream));
    std::fclose(stream);
    EXPECT_EQ(text, "hello\noops\n");
    EXPECT_EQ(reap(pid), 3);
}

TEST(PipePopenId, WritesToTheCommandInItsOwnGroup) {
    ScratchDir dir;
    const std::string out = dir / "out.txt";
    int32_t pid = 0;
    FILE *stream = dyx_pipe_popen_id(("cat > '" + out + "'").c_str(), "w", &pid);
    ASSERT_NE(stream, nullptr);
    ASSERT_GT(pid, 0);
    // The child waits for its input, so its group can be examined.
    EXPECT_EQ(getpgid(pid), pid);
    EXPECT_NE(getpgid(pid), getpgrp());
    const std::string text = "line one\nline two\n";
    EXPECT_EQ(dyx_pipe_fwrite(text.data(), 1, text.size(), stream), text.size());
    std::fclose(stream);
    EXPECT_EQ(reap(pid), 0);
    FILE *written = std::fopen(out.c_str(), "r");
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(read_all(written), text);
    std::fclose(written);
}

TEST(PipePopenId, RefusesOtherModesAndEndsFailingCommandsWithTheirStatus) {
    for (const char *mode : {"x", ""}) {
        int32_t pid = 77;
        EXPECT_EQ(dyx_pipe_popen_id("echo x", mode, &pid), nullptr);
        EXPECT_EQ(pid, -1);
    }
    int32_t pid = 0;
    EXPECT_EQ(dyx_pipe_popen_id(nullptr, "r", &pid), nullptr);
    FILE *stream = dyx_pipe_popen_id("/no/such/program_orvo", "r", &pid);
    ASSERT_NE(stream, nullptr);
    EXPECT_NE(read_all(stream).find("program_orvo"), std::string::npos);
    std::fclose(stream);
    EXPECT_EQ(reap(pid), 127);

    stream = dyx_pipe_popen("printf 'abc'", "r");
    ASSERT_NE(stream, nullptr);
    char buffer[8] = {};
    EXPECT_EQ(dyx_pipe_fread(buffer, 1, sizeof buffer - 1, stream), 3u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(dyx_pipe_pclose(stream), 0);
}
