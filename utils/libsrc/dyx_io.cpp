// Directory listing, access checks, line reading and robust block reads.
#include "dyx_io.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "dyx_file.h"
#include "dyx_fnmatch.h"
#include "dyx_malloc.h"
#include "dyx_path.h"
#include "dyx_status.h"

namespace {

constexpr size_t kExpandedSize = 1024;
constexpr size_t kNameBufferStep = 1500;

// A caller-owned text of names, each followed by a newline, that grows in
// steps of kNameBufferStep bytes.
class NameList {
public:
    explicit NameList(char **text) : text_(text) {}

    bool start(const char *what) {
        dyx_malloc(what, text_, kNameBufferStep, __LINE__, __FILE__);
        if (*text_ == nullptr) return false;
        std::memset(*text_, 0, kNameBufferStep);
        size_ = kNameBufferStep;
        return true;
    }

    bool add(const char *name) {
        const size_t length = std::strlen(name);
        if (length + used_ + 2 >= size_) {
            // Long names may need more than one step.
            const size_t steps = (length + used_ + 2 - size_) / kNameBufferStep + 1;
            const size_t grown = size_ + steps * kNameBufferStep;
            dyx_realloc("dyx_dir_list", text_, grown, __LINE__, __FILE__);
            if (*text_ == nullptr) return false;
            std::memset(*text_ + size_, 0, grown - size_);
            size_ = grown;
        }
        std::memcpy(*text_ + used_, name, length);
        (*text_)[used_ + length] = '\n';
        used_ += length + 1;
        (*text_)[used_] = '\0';
        ++count_;
        return true;
    }

    int32_t count() const { return count_; }

private:
    char **text_;
    size_t size_ = 0;
    size_t used_ = 0;
    int32_t count_ = 0;
};

// The absolute form of the expanded pattern.
bool absolute_pattern(const char *expanded, std::string &full) {
    if (expanded[0] == '/') {
        full = expanded;
        return true;
    }
    char directory[kExpandedSize];
    if (getcwd(directory, sizeof directory) == nullptr) return false;
    full = directory;
    full += expanded[0] == '\0' ? "/*" : "/";
    full += expanded;
    return true;
}

// Hands the full path to the caller: length + 5 bytes, zero-filled.
bool hand_out(const std::string &full, char **full_path) {
    const size_t size = full.size() + 5;
    dyx_malloc("dyx_dir_list", full_path, size, __LINE__, __FILE__);
    if (*full_path == nullptr) return false;
    std::memset(*full_path, 0, size);
    std::memcpy(*full_path, full.data(), full.size());
    return true;
}

class DirCloser {
public:
    explicit DirCloser(DIR *dir) : dir_(dir) {}
    ~DirCloser() { closedir(dir_); }
    DirCloser(const DirCloser &) = delete;
    DirCloser &operator=(const DirCloser &) = delete;

private:
    DIR *dir_;
};

int list_entries(const std::string &full, char **dir_names, char **file_names, int32_t *dir_count,
                 int32_t *file_count, int32_t verbose) {
    const size_t slash = full.rfind('/');
    std::string name_pattern = full.substr(slash + 1);
    if (name_pattern.empty()) name_pattern = "*";
    std::string directory = full.substr(0, slash);
    if (directory.empty()) directory = "/";

    DIR *dir = opendir(directory.c_str());
    if (dir == nullptr) return DYX_CANNOT_OPEN_DIRECTORY;
    const DirCloser closer(dir);

    NameList directories(dir_names);
    NameList files(file_names);
    if (!directories.start("dyx_dir_list")) {
        dyx_error("dyx_dir_list: could not allocate memory for directory names.");
        return DYX_NO_MEMORY;
    }
    if (!files.start("dyx_dir_list")) {
        dyx_error("dyx_dir_list: could not allocate memory for file names.");
        return DYX_NO_MEMORY;
    }

    const dirent *entry = readdir(dir);
    if (entry == nullptr) {
        if (verbose) dyx_error("dyx_dir_list: error reading current directory.\n");
        return DYX_NO_MEMORY;
    }
    for (; entry != nullptr; entry = readdir(dir)) {
        const std::string path = directory + "/" + entry->d_name;
        dyx_stat_t status;
        if (dyx_stat(path.c_str(), &status) != 0) {
            dyx_warn("dyx_dir_list: couldn't get info on '%s'", path.c_str());
            continue;
        }
        if (S_ISDIR(status.mode)) {
            if (!directories.add(entry->d_name)) {
                dyx_error("dyx_list_dir: reallocate of dir names failed.\n");
                return DYX_NO_MEMORY;
            }
        } else if (qev_fnmatch(name_pattern.c_str(), entry->d_name, 0) == DYX_FNM_MATCH) {
            if (!files.add(entry->d_name)) {
                dyx_error("dyx_list_dir: reallocate of dir names failed.");
                return DYX_NO_MEMORY;
            }
        }
    }
    std::fflush(stdout);
    *dir_count = directories.count();
    *file_count = files.count();
    return DYX_OK;
}

int list_directory(const char *pattern, char **full_path, int32_t *dir_count, char **dir_names,
                   int32_t *file_count, char **file_names, int32_t verbose) {
    char expanded[kExpandedSize] = "";
    if (pattern[0] != '\0') {
        const int status = dyx_expand_pathname(pattern, expanded, sizeof expanded);
        if (status != 0) return status;
    }
    std::string full;
    if (!absolute_pattern(expanded, full)) return DYX_SYSTEM_FAILED;
    if (!hand_out(full, full_path)) {
        dyx_error("dyx_dir_list: error allocating memory for full path.");
        return DYX_NO_MEMORY;
    }
    return list_entries(full, dir_names, file_names, dir_count, file_count, verbose);
}

bool exists(const char *path, struct stat &status) { return stat(path, &status) == 0; }

}  // namespace

extern "C" {

int dyx_dir_list(const char *pattern, char **full_path, int32_t *dir_count, char **dir_names,
                 int32_t *file_count, char **file_names, int32_t verbose) {
    if (full_path) *full_path = nullptr;
    if (dir_names) *dir_names = nullptr;
    if (file_names) *file_names = nullptr;
    if (dir_count) *dir_count = 0;
    if (file_count) *file_count = 0;
    if (!pattern || !full_path || !dir_count || !dir_names || !file_count || !file_names)
        return DYX_BAD_ARGUMENT;
    try {
        return list_directory(pattern, full_path, dir_count, dir_names, file_count, file_names, verbose);
    } catch (const std::bad_alloc &) {
        return DYX_NO_MEMORY;
    }
}

int dyx_io_chkfil(const char *path, int32_t mode, int32_t verbose) {
    if (path == nullptr) return 0;
    const bool say = verbose == 1;
    const bool writing = (mode & ~0xff00) != DYX_IO_READ;
    struct stat status;
    const bool present = exists(path, status);
    if ((mode & DYX_IO_NOT_DIR) && present && S_ISDIR(status.st_mode)) {
        if (say) dyx_error("File '%s' is a directory.", path);
        return 0;
    }
    if ((mode & DYX_IO_REGULAR) && present && !S_ISREG(status.st_mode)) {
        if (say) dyx_error("File '%s' is not a regular file.", path);
        return 0;
    }
    if (!writing) {
        if (access(path, R_OK) == 0) return 1;
        if (say) dyx_error("File '%s' cannot be read.", path);
        return 0;
    }
    if (!present) {
        FILE *probe = std::fopen(path, "w");
        if (probe != nullptr) {
            std::fclose(probe);
            std::remove(path);
            return 1;
        }
    } else if (access(path, W_OK) == 0) {
        if (say) dyx_error("File '%s' already exists.\n Okaying will overwrite it.", path);
        return 1;
    }
    if (say) dyx_error("File '%s' cannot be created. Permission denied.", path);
    return 0;
}

int dyx_io_get_aline(FILE *stream, int32_t size, char *buffer) {
    if (stream == nullptr || buffer == nullptr || size < 0) return DYX_IO_LINE_TOO_LONG;
    buffer[0] = '\0';
    int c = std::getc(stream);
    if (c == EOF) return DYX_IO_END_OF_INPUT;
    int32_t length = 0;
    for (; c != EOF && c != '\n'; c = std::getc(stream)) {
        if (length == size) {
            std::ungetc(c, stream);
            return DYX_IO_LINE_TOO_LONG;
        }
        buffer[length++] = static_cast<char>(c);
    }
    if (length > 0 && buffer[length - 1] == '\r') --length;
    buffer[length] = '\0';
    return length;
}

size_t dyx_fread(void *buffer, size_t size, size_t count, FILE *stream) {
    if (buffer == nullptr || stream == nullptr || size == 0) return 0;
    auto *bytes = static_cast<unsigned char *>(buffer);
    size_t done = 0;
    size_t per_call = count;
    while (done < count && per_call > 0) {
        const size_t wanted = std::min(per_call, count - done);
        const size_t got = std::fread(bytes + done * size, size, wanted, stream);
        done += got;
        if (got == wanted) continue;
        if (!std::ferror(stream)) break;  // the end of the file
        std::clearerr(stream);
        per_call /= 2;
    }
    return done;
}

}  // extern "C"
