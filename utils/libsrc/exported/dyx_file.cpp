// Copy, rename and removal of files and directory trees, file status and
// temporary names.
#include "dyx_file.h"

#include <dirent.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "dyx_status.h"

// The status record's layout is part of the interface.
static_assert(sizeof(dyx_stat_t) == 64, "dyx_stat_t layout");
static_assert(offsetof(dyx_stat_t, inode) == 24 && offsetof(dyx_stat_t, size) == 56, "dyx_stat_t layout");

namespace {

constexpr size_t kCopyBlock = 16384;
constexpr size_t kTempPrefixMax = 5;
constexpr int kTempAttempts = 100;
constexpr size_t kTempRandomChars = 6;

// Closes a C stream when the scope ends, unless it was closed explicitly.
class StreamCloser {
public:
    explicit StreamCloser(FILE *stream) : stream_(stream) {}
    ~StreamCloser() {
        if (stream_ != nullptr) std::fclose(stream_);
    }
    StreamCloser(const StreamCloser &) = delete;
    StreamCloser &operator=(const StreamCloser &) = delete;
    // Closes now; false when buffered data could not be written.
    bool close() {
        FILE *stream = stream_;
        stream_ = nullptr;
        return std::fclose(stream) == 0;
    }

private:
    FILE *stream_;
};

bool same_file(const char *source, const char *target) {
    struct stat a, b;
    return stat(source, &a) == 0 && stat(target, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int copy_contents(FILE *in, FILE *out) {
    char block[kCopyBlock];
    for (;;) {
        const size_t got = std::fread(block, 1, sizeof block, in);
        if (got > 0 && std::fwrite(block, 1, got, out) != got) return DYX_SYSTEM_FAILED;
        if (got < sizeof block) return std::feof(in) && !std::ferror(in) ? DYX_OK : DYX_SYSTEM_FAILED;
    }
}

// Removes everything below `path`, then `path` itself. Entries are
// examined without following symbolic links, so a link to a directory
// elsewhere is removed, never the tree it points to.
int remove_tree(const std::string &path) {
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) return DYX_SYSTEM_FAILED;
    int status = DYX_OK;
    while (const dirent *entry = readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        const std::string child = path + "/" + name;
        struct stat info;
        if (lstat(child.c_str(), &info) != 0) {
            status = DYX_SYSTEM_FAILED;
        } else if (S_ISDIR(info.st_mode)) {
            status = remove_tree(child);
        } else if (unlink(child.c_str()) != 0) {
            status = DYX_SYSTEM_FAILED;
        }
        if (status != DYX_OK) break;
    }
    closedir(dir);
    if (status != DYX_OK) return status;
    return rmdir(path.c_str()) == 0 ? DYX_OK : DYX_SYSTEM_FAILED;
}

bool is_directory(const char *path) {
    struct stat info;
    return path != nullptr && path[0] != '\0' && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// The directory tempnam would choose.
const char *temp_directory(const char *dir) {
    const char *tmpdir = std::getenv("TMPDIR");
    if (is_directory(tmpdir)) return tmpdir;
    if (is_directory(dir)) return dir;
    if (is_directory(P_tmpdir)) return P_tmpdir;
    if (is_directory("/tmp")) return "/tmp";
    return nullptr;
}

// Random letters and digits from the kernel's generator.
bool random_name_part(char *out, size_t count) {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[kTempRandomChars];
    if (count > sizeof bytes || getrandom(bytes, count, 0) != static_cast<ssize_t>(count)) return false;
    for (size_t i = 0; i < count; ++i) out[i] = kAlphabet[bytes[i] % (sizeof kAlphabet - 1)];
    return true;
}

char *new_temp_name(const char *dir, const char *prefix) {
    const char *directory = temp_directory(dir);
    if (directory == nullptr) return nullptr;
    std::string base(directory);
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    if (base.back() != '/') base += '/';
    const std::string_view name_prefix = prefix != nullptr && prefix[0] != '\0' ? prefix : "file";
    base += name_prefix.substr(0, kTempPrefixMax);
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        char part[kTempRandomChars];
        if (!random_name_part(part, sizeof part)) return nullptr;
        const std::string name = base + std::string(part, sizeof part);
        struct stat info;
        if (lstat(name.c_str(), &info) != 0 && errno == ENOENT) return strdup(name.c_str());
    }
    return nullptr;
}

}  // namespace

extern "C" {

int dyx_file_copy(const char *source, const char *target, int32_t flags) {
    if (source == nullptr) return DYX_SOURCE_UNREADABLE;
    if (target == nullptr) return DYX_SYSTEM_FAILED;
    FILE *in = std::fopen(source, "rb");
    if (in == nullptr) return DYX_SOURCE_UNREADABLE;
    StreamCloser in_closer(in);
    // Opening the source itself for writing would empty it.
    if (same_file(source, target)) return DYX_TARGET_EXISTS;
    if (flags & DYX_FILE_NO_OVERWRITE) {
        if (FILE *existing = std::fopen(target, "rb")) {
            std::fclose(existing);
            return DYX_TARGET_EXISTS;
        }
    }
    FILE *out = std::fopen(target, "wb");
    if (out == nullptr) return DYX_SYSTEM_FAILED;
    StreamCloser out_closer(out);
    const int status = copy_contents(in, out);
    const bool written = out_closer.close();
    return status == DYX_OK && !written ? DYX_SYSTEM_FAILED : status;
}

int dyx_file_rename(const char *old_path, const char *new_path, int32_t flags) {
    if (old_path == nullptr || new_path == nullptr) return DYX_SYSTEM_FAILED;
    if (!(flags & DYX_FILE_COPY_AND_REMOVE))
        return std::rename(old_path, new_path) == 0 ? DYX_OK : DYX_SYSTEM_FAILED;
    const int status = dyx_file_copy(old_path, new_path, DYX_FILE_NO_OVERWRITE);
    if (status != DYX_OK) return status;
    return dyx_file_unlink(old_path);
}

int dyx_file_unlink(const char *path) {
    return path != nullptr && unlink(path) == 0 ? DYX_OK : DYX_SYSTEM_FAILED;
}

int dyx_file_rmdir(const char *path, int32_t recursive) {
    if (path == nullptr || path[0] == '\0') return DYX_SYSTEM_FAILED;
    if (!recursive) return rmdir(path) == 0 ? DYX_OK : DYX_SYSTEM_FAILED;
    try {
        return remove_tree(path);
    } catch (const std::bad_alloc &) {
        return DYX_SYSTEM_FAILED;
    }
}

int dyx_stat(const char *path, dyx_stat_t *record) {
    if (record != nullptr) std::memset(record, 0, sizeof *record);
    struct stat info;
    if (path == nullptr || stat(path, &info) != 0) return -1;
    if (record != nullptr) {
        record->access_time = info.st_atime;
        record->change_time = info.st_ctime;
        record->modify_time = info.st_mtime;
        record->inode = info.st_ino;
        record->group_id = info.st_gid;
        record->user_id = info.st_uid;
        record->device = static_cast<uint32_t>(info.st_dev);
        record->mode = info.st_mode;
        record->link_count = static_cast<uint32_t>(info.st_nlink);
        record->special_device = static_cast<uint32_t>(info.st_rdev);
        record->size = info.st_size;
    }
    return 0;
}

int dyx_is_dir(const char *path) { return is_directory(path) ? 1 : 0; }

char *dyx_tempnam(const char *dir, const char *prefix) {
    if (dir == nullptr) dir = std::getenv("QEV_TMPDIR");
    try {
        return new_temp_name(dir, prefix);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

}  // extern "C"
