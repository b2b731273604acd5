// LogFile.h on Windows. The exclusive lock of the other back end is the sharing mode here:
// others may open the log to read it while it is written, never to write or delete it. Paths are
// UTF-8, handed to the system as UTF-16; errors are reported as errno values, as the header
// promises, so that its callers test for EEXIST alike on both back ends.
#include "platform/LogFile.h"

#include "platform/win/WaitWin.h"
#include "platform/win/WideText.h"

#include <cerrno>
#include <string>

namespace platform {
namespace {

// The errno value that the other back end gives for the same cause; EIO for the rest.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return ENOENT;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_DIRECTORY:
            return EINVAL;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EWOULDBLOCK;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILE_TOO_LARGE:
            return EFBIG;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        default:
            return EIO;
    }
}

}  // namespace

// Windows has no permission that access() could ask about alone (a folder's ACL, its read-only
// share, a write-protected medium), so the folder is asked by creating a file in it that the
// system removes again as it closes.
bool CanCreateFilesIn(const std::string& folder) {
    if (folder.empty()) return false;
    const std::wstring wide = WideText(folder);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    std::wstring probe = wide;
    if (probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
    probe += L".kelvo-probe-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(::GetCurrentThreadId()) + L".tmp";
    const HANDLE file = ::CreateFileW(
        probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

std::unique_ptr<TLogFile> TLogFile::Create(const std::string& path, int& error) {
    const std::wstring wide = WideText(path);
    // CREATE_NEW never opens what is there; the handle is not inherited by child processes.
    const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD cause = ::GetLastError();
        // A folder by that name answers access denied: the name is taken all the same.
        error = cause == ERROR_ACCESS_DENIED &&
                        ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES
                    ? EEXIST
                    : ErrnoOf(cause);
        return nullptr;
    }
    error = 0;
    return std::unique_ptr<TLogFile>(new TLogFile(IntFromHandle(file)));
}

TLogFile::~TLogFile() {
    if (open_) ::CloseHandle(HandleFromInt(fd_));
}

bool TLogFile::Close() {
    if (!open_) return true;
    const HANDLE file = HandleFromInt(fd_);
    const BOOL flushed = ::FlushFileBuffers(file);
    const DWORD flushError = flushed ? ERROR_SUCCESS : ::GetLastError();
    const BOOL closed = ::CloseHandle(file);
    const DWORD closeError = closed ? ERROR_SUCCESS : ::GetLastError();
    open_ = false;
    if (flushed && closed) return true;
    lastError_ = ErrnoOf(!flushed ? flushError : closeError);
    return false;
}

bool TLogFile::Write(const void* data, size_t count) {
    const auto* bytes = static_cast<const char*>(data);
    while (count > 0) {
        // WriteFile counts in 32 bits: a gigabyte at a time at most.
        const DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD written = 0;
        const BOOL ok = ::WriteFile(HandleFromInt(fd_), bytes, chunk, &written, nullptr);
        const DWORD cause = ok ? ERROR_SUCCESS : ::GetLastError();
        if (written > 0) {
            bytes += written;
            count -= written;
            lastByte_ = static_cast<unsigned char>(bytes[-1]);
        }
        if (!ok || written == 0) {
            // A write that takes nothing without an error would only repeat itself.
            lastError_ = ok ? EIO : ErrnoOf(cause);
            return false;
        }
    }
    return true;
}

}  // namespace platform
