#include "platform/ExecutableFile.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// Closes the descriptor it holds.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }

  private:
    int fd_;
};

// Reads exactly `count` bytes at `offset` of a file of `fileSize` bytes; false when they are not
// all inside the file or the read fails.
bool ReadAt(int fd, uint64_t fileSize, uint64_t offset, void* out, uint64_t count) {
    if (offset > fileSize || count > fileSize - offset) return false;
    auto* target = static_cast<uint8_t*>(out);
    while (count > 0) {
        const ssize_t got = ::pread(fd, target, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        target += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<uint64_t>(got);
    }
    return true;
}

// The ELF header and section header types of one file class.
template <typename Ehdr, typename Shdr>
struct ElfClass {
    using FileHeader = Ehdr;
    using SectionHeader = Shdr;
};
using Elf32 = ElfClass<Elf32_Ehdr, Elf32_Shdr>;
using Elf64 = ElfClass<Elf64_Ehdr, Elf64_Shdr>;

template <typename Class>
bool ReadSection(int fd, uint64_t fileSize, const std::string& name, std::vector<uint8_t>& bytes) {
    typename Class::FileHeader header;
    if (!ReadAt(fd, fileSize, 0, &header, sizeof header)) return false;
    if (header.e_shoff == 0 || header.e_shentsize != sizeof(typename Class::SectionHeader)) {
        return false;
    }
    auto sectionHeader = [&](uint64_t index, typename Class::SectionHeader& out) {
        return ReadAt(fd, fileSize, header.e_shoff + index * sizeof out, &out, sizeof out);
    };

    // With 0xFF00 sections or more, the count and the names' index live in section 0.
    typename Class::SectionHeader first;
    if (!sectionHeader(0, first)) return false;
    const uint64_t count = header.e_shnum != 0 ? header.e_shnum : first.sh_size;
    const uint64_t namesIndex = header.e_shstrndx != SHN_XINDEX ? header.e_shstrndx : first.sh_link;
    if (count > fileSize / sizeof first || namesIndex >= count) return false;

    typename Class::SectionHeader names;
    if (!sectionHeader(namesIndex, names) || names.sh_type == SHT_NOBITS) return false;

    std::vector<char> wanted(name.size() + 1);
    for (uint64_t i = 0; i < count; ++i) {
        typename Class::SectionHeader section;
        if (!sectionHeader(i, section)) return false;
        // The name must fit, terminator included, inside the names section.
        if (section.sh_name >= names.sh_size || names.sh_size - section.sh_name < wanted.size()) {
            continue;
        }
        if (!ReadAt(fd, fileSize, names.sh_offset + section.sh_name, wanted.data(),
                    wanted.size())) {
            return false;
        }
        if (std::memcmp(wanted.data(), name.c_str(), wanted.size()) != 0) continue;

        if (section.sh_type == SHT_NOBITS) return false;
        if (section.sh_offset > fileSize || section.sh_size > fileSize - section.sh_offset) {
            return false;
        }
        bytes.resize(section.sh_size);
        return ReadAt(fd, fileSize, section.sh_offset, bytes.data(), bytes.size());
    }
    return false;
}

}  // namespace

std::string ExecutablePath() {
    std::string path(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0) return {};
        // A link that fills the buffer may have been cut short: try again with more room.
        if (static_cast<size_t>(length) < path.size()) {
            path.resize(static_cast<size_t>(length));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

bool ReadElfSection(const std::string& path, const std::string& name, std::vector<uint8_t>& bytes) {
    bytes.clear();
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) return false;
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    const auto fileSize = static_cast<uint64_t>(status.st_size);

    unsigned char ident[EI_NIDENT];
    if (!ReadAt(file.Get(), fileSize, 0, ident, sizeof ident)) return false;
    if (std::memcmp(ident, ELFMAG, SELFMAG) != 0) return false;
    const unsigned char ownOrder =
        std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
    if (ident[EI_DATA] != ownOrder) return false;

    bool found = false;
    if (ident[EI_CLASS] == ELFCLASS64) {
        found = ReadSection<Elf64>(file.Get(), fileSize, name, bytes);
    } else if (ident[EI_CLASS] == ELFCLASS32) {
        found = ReadSection<Elf32>(file.Get(), fileSize, name, bytes);
    }
    if (!found) bytes.clear();
    return found;
}

}  // namespace platform
