#include "support/versionUtils.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "platform/ExecutableFile.h"
#include "support/Format.h"

namespace {

constexpr std::string_view kBlockMark = "KVB1";
constexpr char kTranslationPath[] = "\\VarFileInfo\\Translation";
// The table read when the block names none.
constexpr char kNeutralTable[] = "04000400";

uint32_t LittleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Finds the value stored under `path`. False when the block holds no such entry, or when an
// entry before it is malformed (the rest of the block cannot be trusted then).
bool QueryValue(const std::vector<uint8_t>& block, std::string_view path,
                std::span<const uint8_t>& value) {
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
            value = {block.data() + at, length};
            return true;
        }
        at += length;
    }
    return false;
}

// The version block of the running executable; empty when it has none.
std::vector<uint8_t> ReadVersionBlock() {
    std::vector<uint8_t> block;
    if (!platform::ReadElfSection(GetExeFileName(), kVersionSectionName, block) ||
        block.size() < kBlockMark.size() ||
        std::memcmp(block.data(), kBlockMark.data(), kBlockMark.size()) != 0) {
        return {};
    }
    return block;
}

// Replaces every occurrence of `placeholder` in `text`; the inserted values are not searched.
void ReplaceAll(std::string& text, const std::string& placeholder, const std::string& value) {
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
        text.replace(at, placeholder.size(), value);
    }
}

}  // namespace

std::string GetExeFileName() {
    return platform::ExecutablePath();
}

std::string GetVersionValue(const std::string& key) {
    const std::vector<uint8_t> block = ReadVersionBlock();
    if (block.empty()) return {};

    std::string table = kNeutralTable;
    std::span<const uint8_t> translations;
    if (QueryValue(block, kTranslationPath, translations) && translations.size() >= 4) {
        const uint32_t first = LittleEndian32(translations.data());
        table = Format("%.4X%.4X", first & 0xFFFFu, first >> 16);
    }

    std::span<const uint8_t> value;
    if (!QueryValue(block, "\\StringFileInfo\\" + table + "\\" + key, value) || value.size() <= 1) {
        return {};
    }
    const auto end = std::find(value.begin(), value.end(), 0);
    return std::string(value.begin(), end);
}

std::string ExpandVersionPattern(const std::string& pattern) {
    static const struct {
        const char* placeholder;
        const char* key;
    } kPlaceholders[] = {
        {"%p", "ProductName"},     {"%v", "FileVersion"},    {"%l", "LegalCopyright"},
        {"%c", "Comments"},        {"%r", "ProductVersion"}, {"%n", "CompanyName"},
        {"%d", "FileDescription"},
    };
    std::string text = pattern;
    for (const auto& entry : kPlaceholders) {
        ReplaceAll(text, entry.placeholder, GetVersionValue(entry.key));
    }
    return text;
}
