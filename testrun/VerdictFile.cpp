#include "testrun/VerdictFile.h"

#include <cctype>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

#include "platform/Folders.h"
#include "platform/LogFile.h"
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
    int error = 0;
    std::unique_ptr<platform::TLogFile> file = platform::TLogFile::Create(fresh, error);
    if (!file) return std::generic_category().message(error);
    // The bytes reach the medium before the name is taken: a full or failing disk is seen here
    // (some only as the file closes), and the target keeps what it held.
    const bool written = file->Write(text.data(), text.size());
    const bool closed = file->Close();
    if (!written || !closed) {
        const std::string why = std::generic_category().message(file->LastError());
        file.reset();
        platform::RemoveFile(fresh);
        return why;
    }
    file.reset();
    std::error_code renamed;
    std::filesystem::rename(fresh, path, renamed);
    if (renamed) {
        platform::RemoveFile(fresh);
        return renamed.message();
    }
    return {};
}
