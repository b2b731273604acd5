#pragma once
// A log file that belongs to its writer alone: created new (an existing file is never opened
// or truncated), held under an exclusive advisory lock while open, and written straight to the
// file system with no buffer of our own, so the file holds every byte written up to any moment.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/Stream.h"

namespace platform {

// Whether this process may create files in `folder` (an existing folder it can write and enter).
bool CanCreateFilesIn(const std::string& folder);

class TLogFile final : public TStream {
  public:
    // Creates the file at `path` (read and write, mode 0666 less the umask) and takes its
    // exclusive lock. Returns null with `error` set to the errno value on failure: EEXIST when
    // the name is taken (by a file, folder or link of any kind).
    static std::unique_ptr<TLogFile> Create(const std::string& path, int& error);

    // Releases the lock and closes the file, if Close() has not.
    ~TLogFile() override;
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    // Hands the bytes to the file system at once, resuming after short writes. False when not
    // every byte was written; LastError() then tells why.
    bool Write(const void* data, size_t count) override;

    // Ends the writing: hands the file's bytes to the medium, then closes it (and releases the
    // lock). False when either fails, as a full or failing medium or a share that lost earlier
    // writes reports only then; LastError() tells why. Nothing may be written after it.
    bool Close();

    // The errno value of the last failed Write or Close (ENOSPC, EFBIG, EIO, ...); 0 before any
    // failure.
    int LastError() const { return lastError_; }

    // The last byte that reached the file (0 to 255), -1 while it holds none: what a failed
    // Write left behind, so the writer knows whether a line was left open.
    int LastByteWritten() const { return lastByte_; }

  private:
    explicit TLogFile(int fd) : fd_(fd) {}

    const int fd_;
    bool open_ = true;  // until Close()
    int lastError_ = 0;
    int lastByte_ = -1;
};

}  // namespace platform
