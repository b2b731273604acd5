// VersionBlock.h on Linux: the ELF section of the running executable.
#include "platform/VersionBlock.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "platform/ExecutableFile.h"

namespace platform {
namespace {

constexpr std::string_view kBlockMark = "KVB1";

uint32_t LittleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

// An entry is found only when every entry before it is whole: after a malformed one the rest of
// the block cannot be trusted.
bool QueryOwnVersionValue(const std::string& path, std::vector<uint8_t>& value) {
    std::vector<uint8_t> block;
    if (!ReadElfSection(ExecutablePath(), kVersionSectionName, block) ||
        block.size() < kBlockMark.size() ||
        std::memcmp(block.data(), kBlockMark.data(), kBlockMark.size()) != 0) {
        return false;
    }
    size_t at = kBlockMark.size();
    while (at < block.size()) {
        const auto pathEnd = std::find(block.begin() + static_cast<ptrdiff_t>(at), block.end(), 0);
        if (pathEnd == block.end()) return false;
        const std::string_view entryPath(reinterpret_cast<const char*>(block.data() + at),
                                         static_cast<size_t>(pathEnd - block.begin()) - at);
        at += entryPath.size() + 1;
        if (block.size() - at < 4) return false;
        const uint32_t length = LittleEndian32(block.data() + at);
        at += 4;
        if (length > block.size() - at) return false;
        if (entryPath == path) {
            value.assign(block.begin() + static_cast<ptrdiff_t>(at),
                         block.begin() + static_cast<ptrdiff_t>(at + length));
            return true;
        }
        at += length;
    }
    return false;
}

}  // namespace platform
