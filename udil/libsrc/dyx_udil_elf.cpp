// A look at a plug-in file before the dynamic loader maps it: whether it
// is whole, and which orvo version built it.
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
#include <cstring>
#include <new>
#include <vector>

#include "dyx_udil_dir.h"
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

// What a look at the program header table found.
enum class Segments {
    kNotElf64,  // not a 64-bit ELF file this code reads: the loader judges it
    kDamaged,   // the table lies past the end of the file or cannot be read
    kRead
};

// Reads the file's program header table into `segments`.
Segments read_segments(int descriptor, uint64_t file_size, std::vector<Elf64_Phdr> &segments) {
    Elf64_Ehdr header;
    if (!read_at(descriptor, 0, &header, sizeof header)) return Segments::kNotElf64;
    const bool elf64 = header.e_ident[EI_MAG0] == ELFMAG0 && header.e_ident[EI_MAG1] == ELFMAG1 &&
                       header.e_ident[EI_MAG2] == ELFMAG2 && header.e_ident[EI_MAG3] == ELFMAG3 &&
                       header.e_ident[EI_CLASS] == ELFCLASS64;
    if (!elf64 || header.e_phentsize != sizeof(Elf64_Phdr)) return Segments::kNotElf64;
    const uint64_t table_end = header.e_phoff + uint64_t(header.e_phnum) * sizeof(Elf64_Phdr);
    if (table_end > file_size || table_end < header.e_phoff) return Segments::kDamaged;
    segments.resize(header.e_phnum);
    if (!segments.empty() &&
        !read_at(descriptor, header.e_phoff, segments.data(), table_end - header.e_phoff))
        return Segments::kDamaged;
    return Segments::kRead;
}

bool segments_fit(int descriptor, uint64_t file_size) {
    std::vector<Elf64_Phdr> segments;
    const Segments found = read_segments(descriptor, file_size, segments);
    // A file too short for a header, or anything but a 64-bit ELF file, is
    // refused by the loader with its own message.
    if (found != Segments::kRead) return found == Segments::kNotElf64;
    for (const Elf64_Phdr &segment : segments) {
        if (segment.p_type != PT_LOAD) continue;
        const uint64_t end = segment.p_offset + segment.p_filesz;
        if (end < segment.p_offset || end > file_size) return false;
    }
    return true;
}

// The notes of a PT_NOTE segment are the largest part read; a plug-in's
// are a few dozen bytes.
constexpr uint64_t kMaxNotesSize = 64 * 1024;

uint64_t align_up(uint64_t value, uint64_t alignment) { return (value + alignment - 1) & ~(alignment - 1); }

// Looks through one PT_NOTE segment's notes for the orvo version note
// (owner "orvo", type 1, the version text as its NUL-terminated descriptor).
bool find_version_note(const std::vector<char> &notes, uint64_t alignment, char *out, size_t size) {
    static constexpr char kOwner[] = "orvo";
    uint64_t at = 0;
    while (at + sizeof(Elf64_Nhdr) <= notes.size()) {
        Elf64_Nhdr header;
        std::memcpy(&header, notes.data() + at, sizeof header);
        const uint64_t name_at = at + sizeof header;
        const uint64_t descriptor_at = align_up(name_at + header.n_namesz, alignment);
        const uint64_t next = align_up(descriptor_at + header.n_descsz, alignment);
        if (descriptor_at + header.n_descsz > notes.size()) return false;  // a damaged note ends the walk
        const char *descriptor = notes.data() + descriptor_at;
        if (header.n_type == udil::kVersionNoteType && header.n_namesz == sizeof kOwner &&
            std::memcmp(notes.data() + name_at, kOwner, sizeof kOwner) == 0 && header.n_descsz > 0 &&
            descriptor[header.n_descsz - 1] == '\0' && header.n_descsz <= size) {
            std::memcpy(out, descriptor, header.n_descsz);
            return true;
        }
        at = next;
    }
    return false;
}

bool read_version_note(int descriptor, uint64_t file_size, char *out, size_t size) {
    std::vector<Elf64_Phdr> segments;
    if (read_segments(descriptor, file_size, segments) != Segments::kRead) return false;
    for (const Elf64_Phdr &segment : segments) {
        if (segment.p_type != PT_NOTE || segment.p_filesz > kMaxNotesSize ||
            segment.p_offset + segment.p_filesz > file_size)
            continue;
        std::vector<char> notes(segment.p_filesz);
        if (!read_at(descriptor, segment.p_offset, notes.data(), notes.size())) continue;
        if (find_version_note(notes, segment.p_align == 8 ? 8 : 4, out, size)) return true;
    }
    return false;
}

}  // namespace

namespace udil {

bool read_version_mark(const char *path, char *out, size_t size) {
    if (out == nullptr || size == 0) return false;
    out[0] = '\0';
    const int descriptor = open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    struct stat status;
    bool found = false;
    try {
        found = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
                read_version_note(descriptor, uint64_t(status.st_size), out, size);
    } catch (const std::bad_alloc &) {
        found = false;
    }
    close(descriptor);
    if (!found) out[0] = '\0';
    return found;
}

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
