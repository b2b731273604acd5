#pragma once
// The register's database on a PostgreSQL server, through libpq: one connection, the text of
// every value in UTF-8, writers one after another under a transaction-level advisory lock, and a
// bounded wait for the connection, so that a server that is away never hangs a program.

#include <memory>
#include <string>

#include "records/Database.h"

// Seconds that a connection attempt may take (per address tried) when the location, and
// PGCONNECT_TIMEOUT, give none.
inline constexpr int kServerConnectTimeoutS = 5;
// Writers wait this long for each other before a write fails, as on a file.
inline constexpr int kServerLockTimeoutMs = 10000;

// Connects to the server at `location` (a URI or key=value words, see IsServerLocation; checked
// by RegisterLocationRefusal before). Throws TRegisterError "<location>: <libpq's words>".
std::unique_ptr<TDatabase> OpenPostgresDatabase(const std::string& location);
