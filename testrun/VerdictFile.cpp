#include "testrun/VerdictFile.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "support/Format.h"

std::string FileBesideLog(const std::string& log, int number, const char* suffix) {
    std::string base = log;
    if (base.size() >= 4) {
        std::string end = base.substr(base.size() - 4);
        for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (end == ".csv") base.resize(base.size() - 4);
    }
    return Format("%s_test%d%s", base.c_str(), number, suffix);
}

std::string WriteFileWhole(const std::string& path, const std::string& text) {
    // A name of its own beside the target, so that two writers do not share the temporary file.
    const std::string fresh = path + Format(".%08x.tmp", std::random_device{}());
    {
        std::ofstream file(fresh, std::ios::binary | std::ios::trunc);
        if (!file) return std::generic_category().message(errno);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        file.flush();
        if (!file) {
            const std::string why = std::generic_category().message(errno);
            std::remove(fresh.c_str());
            return why;
        }
    }
    std::error_code error;
    std::filesystem::rename(fresh, path, error);
    if (error) {
        std::remove(fresh.c_str());
        return error.message();
    }
    return {};
}
