// Shell commands connected by a pipe, with the child's process id.
#include "dyx_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

constexpr int kShellFailed = 127;

// Writes straight to the descriptor: between fork and exec the child
// must not touch stdio locks that another thread may have held.
void child_message(const char *text, const char *command = nullptr) {
    const auto put = [](const char *part) {
        if (write(STDERR_FILENO, part, std::strlen(part)) < 0) return;
    };
    put(text);
    if (command != nullptr) {
        put(command);
        put(">\n");
    }
}

// A failed duplication is reported the way perror would.
void child_dup_failed(const char *what) {
    const int error = errno;
    child_message(what);
    child_message(": ");
    child_message(std::strerror(error));
    child_message("\n");
}

// Makes `target` refer to the pipe end `end` across exec.
bool connect_to(int end, int target) {
    if (end == target) return fcntl(target, F_SETFD, 0) == 0;  // only drop close-on-exec
    return dup2(end, target) >= 0;
}

// Runs in the child: connects the pipe and becomes the shell.
[[noreturn]] void run_child(const char *command, bool reading, int read_end, int write_end) {
    setpgid(0, 0);
    if (reading) {
        if (!connect_to(write_end, STDOUT_FILENO) || !connect_to(write_end, STDERR_FILENO)) {
            child_dup_failed("dup() of write side of pipe failed\n");
        }
    } else if (!connect_to(read_end, STDIN_FILENO)) {
        child_dup_failed("dup() of read side of pipe failed\n");
    }
    for (const int end : {read_end, write_end}) {
        const bool connected = reading ? end == STDOUT_FILENO || end == STDERR_FILENO : end == STDIN_FILENO;
        if (!connected) close(end);
    }
    execl("/bin/sh", "sh", "-c", command, static_cast<char *>(nullptr));
    child_message("dyx_pipe_popen_id() exec() failed for <", command);
    _exit(kShellFailed);
}

}  // namespace

extern "C" {

FILE *dyx_pipe_popen_id(const char *command, const char *mode, int32_t *pid) {
    int32_t ignored_pid;
    if (pid == nullptr) pid = &ignored_pid;
    *pid = -1;
    if (command == nullptr || mode == nullptr || (mode[0] != 'r' && mode[0] != 'w')) return nullptr;
    const bool reading = mode[0] == 'r';
    int ends[2];
    // Close-on-exec keeps our end out of other children; dup2 gives the
    // child's copies without the flag.
    if (pipe2(ends, O_CLOEXEC) != 0) return nullptr;
    const int read_end = ends[0];
    const int write_end = ends[1];

    // Flushed here, or the child's copy of pending output would be
    // written twice.
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) {
        close(read_end);
        close(write_end);
        std::fprintf(stderr, "dyx_pipe_popen_id() fork() failed for <%s>\n", command);
        return nullptr;
    }
    if (child == 0) run_child(command, reading, read_end, write_end);
    // Also set from this side, so that the group exists once we return
    // (the child may not have run yet); failing after its exec is harmless.
    setpgid(child, child);

    const int ours = reading ? read_end : write_end;
    close(reading ? write_end : read_end);
    FILE *stream = fdopen(ours, mode);
    if (stream == nullptr) {
        // Without a stream nobody could reap the child: end it here.
        close(ours);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return nullptr;
    }
    *pid = static_cast<int32_t>(child);
    return stream;
}

FILE *dyx_pipe_popen(const char *command, const char *mode) { return popen(command, mode); }
int dyx_pipe_pclose(FILE *stream) { return pclose(stream); }
char *dyx_pipe_fgets(char *buffer, int size, FILE *stream) { return std::fgets(buffer, size, stream); }
size_t dyx_pipe_fread(void *buffer, size_t size, size_t count, FILE *stream) {
    return std::fread(buffer, size, count, stream);
}
size_t dyx_pipe_fwrite(const void *buffer, size_t size, size_t count, FILE *stream) {
    return std::fwrite(buffer, size, count, stream);
}
int dyx_pipe_feof(FILE *stream) { return std::feof(stream); }

}  // extern "C"
