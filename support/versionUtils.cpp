#include "support/versionUtils.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/ExecutableFile.h"
#include "platform/VersionBlock.h"
#include "support/Format.h"

namespace {

constexpr char kTranslationPath[] = "\\VarFileInfo\\Translation";
// The table read when the block names none.
constexpr char kNeutralTable[] = "04000400";

uint32_t LittleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
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
    std::string table = kNeutralTable;
    std::vector<uint8_t> translations;
    if (platform::QueryOwnVersionValue(kTranslationPath, translations) &&
        translations.size() >= 4) {
        const uint32_t first = LittleEndian32(translations.data());
        table = Format("%.4X%.4X", first & 0xFFFFu, first >> 16);
    }

    std::vector<uint8_t> value;
    if (!platform::QueryOwnVersionValue("\\StringFileInfo\\" + table + "\\" + key, value) ||
        value.size() <= 1) {
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
