#pragma once
// The register's database in a SQLite file: write-ahead log, foreign keys on, and a busy timeout
// so that programs recording into one file at once wait for each other instead of failing.

#include <memory>
#include <string>

#include "records/Database.h"

// Writers wait this long for each other before a write fails with "database is locked".
inline constexpr int kSqliteBusyTimeoutMs = 10000;

// Opens (creating when missing) the SQLite file at `path`; a file that may not be written (on a
// read-only medium too) opens for reading, and a write into it throws TRegisterError saying that
// the register is read-only. Throws TRegisterError "<path>: <why>".
std::unique_ptr<TDatabase> OpenSqliteDatabase(const std::string& path);
