#include "platform/LogFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

bool CanCreateFilesIn(const std::string& folder) {
    return !folder.empty() && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::unique_ptr<TLogFile> TLogFile::Create(const std::string& path, int& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    // The file is new and ours, so a refused lock leaves nothing worth keeping.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        ::close(fd);
        ::unlink(path.c_str());
        return nullptr;
    }
    error = 0;
    return std::unique_ptr<TLogFile>(new TLogFile(fd));
}

TLogFile::~TLogFile() {
    if (open_) ::close(fd_);  // also releases the lock
}

bool TLogFile::Close() {
    if (!open_) return true;
    // A file system that cannot sync (EINVAL) has nothing held back to lose.
    const bool synced = ::fsync(fd_) == 0 || errno == EINVAL;
    const int syncError = errno;
    const bool closed = ::close(fd_) == 0;  // the descriptor is gone even when this fails
    const int closeError = errno;
    open_ = false;
    if (synced && closed) return true;
    lastError_ = !synced ? syncError : closeError;
    return false;
}

bool TLogFile::Write(const void* data, size_t count) {
    const auto* bytes = static_cast<const char*>(data);
    while (count > 0) {
        const ssize_t written = ::write(fd_, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            // A write that takes nothing without an error would only repeat itself.
            lastError_ = written < 0 ? errno : EIO;
            return false;
        }
        bytes += written;
        count -= static_cast<size_t>(written);
        lastByte_ = static_cast<unsigned char>(bytes[-1]);
    }
    return true;
}

}  // namespace platform
