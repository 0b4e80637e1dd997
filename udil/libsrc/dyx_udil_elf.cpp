// A look at a plug-in file before the dynamic loader maps it.
//
// The loader maps a shared object's segments straight from the file and
// does not check that the file holds them: a plug-in cut short (a copy
// that did not finish, a full disk during an install) is mapped past its
// end, and the first touch of a missing page kills the process with
// SIGBUS, inside dlopen or later inside a plug-in call. Such a file is
// refused here instead.
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <new>
#include <vector>

#include "udil_internal.h"

namespace {

// Reads exactly `size` bytes at `offset`; false when the file is shorter.
bool read_at(int descriptor, uint64_t offset, void *buffer, size_t size) {
    auto *bytes = static_cast<char *>(buffer);
    while (size > 0) {
        const ssize_t got = pread(descriptor, bytes, size, off_t(offset));
        if (got <= 0) return false;
        bytes += got;
        size -= size_t(got);
        offset += uint64_t(got);
    }
    return true;
}

bool segments_fit(int descriptor, uint64_t file_size) {
    Elf64_Ehdr header;
    if (!read_at(descriptor, 0, &header, sizeof header)) return true;  // too short: the loader says so
    const bool elf64 = header.e_ident[EI_MAG0] == ELFMAG0 && header.e_ident[EI_MAG1] == ELFMAG1 &&
                       header.e_ident[EI_MAG2] == ELFMAG2 && header.e_ident[EI_MAG3] == ELFMAG3 &&
                       header.e_ident[EI_CLASS] == ELFCLASS64;
    // Anything else is refused by the loader with its own message.
    if (!elf64 || header.e_phentsize != sizeof(Elf64_Phdr)) return true;
    const uint64_t table_end = header.e_phoff + uint64_t(header.e_phnum) * sizeof(Elf64_Phdr);
    if (table_end > file_size || table_end < header.e_phoff) return false;
    std::vector<Elf64_Phdr> segments(header.e_phnum);
    if (!segments.empty() &&
        !read_at(descriptor, header.e_phoff, segments.data(), table_end - header.e_phoff))
        return false;
    for (const Elf64_Phdr &segment : segments) {
        if (segment.p_type != PT_LOAD) continue;
        const uint64_t end = segment.p_offset + segment.p_filesz;
        if (end < segment.p_offset || end > file_size) return false;
    }
    return true;
}

}  // namespace

namespace udil {

const char *truncated_object_problem(const char *path) {
    static constexpr char kTruncated[] = "file is truncated: its code or data end past the end of the file";
    const int descriptor = open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return nullptr;  // the loader reports why it cannot open it
    struct stat status;
    bool whole = true;
    try {
        whole = fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
                segments_fit(descriptor, uint64_t(status.st_size));
    } catch (const std::bad_alloc &) {
        whole = true;  // no memory to look: leave it to the loader
    }
    close(descriptor);
    return whole ? nullptr : kTruncated;
}

}  // namespace udil
