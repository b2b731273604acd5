#pragma once
// The register's database on a PostgreSQL server, through libpq: one connection, the text of
// every value in UTF-8, writers one after another under a transaction-level advisory lock, and a
// bounded wait for the connection and for every answer, so that a server that is away, or one
// that took the login and then went silent, never hangs a program.
//
// Every exchange waits on the connection's socket with a deadline of its own, a little past the
// server's statement time limit (which a silent server never enforces), and watches the calling
// thread's stop signal (platform/ThreadStop.h): a stop request ends the wait at once. Either way
// the connection is closed and the database counts as lost.

#include <memory>
#include <string>

#include "records/Database.h"

// Seconds that a connection attempt may take (per address tried) when the location, and
// PGCONNECT_TIMEOUT, give none.
inline constexpr int kServerConnectTimeoutS = 5;
// Writers wait this long for each other before a write fails, as on a file.
inline constexpr int kServerLockTimeoutMs = 10000;
// The server's limit on one statement (statement_timeout), unless the location's `options` (or
// PGOPTIONS) set one; TCP keep-alives probe a connection idle this long.
inline constexpr int kServerStatementTimeoutMs = 10000;
inline constexpr int kServerKeepAliveIdleS = 10;
// How much longer than the statement limit an answer is waited for before the connection is
// given up: the server's own cancellation, and its way back, take a moment.
inline constexpr int kServerAnswerGraceMs = 2000;

// Connects to the server at `location` (a URI or key=value words, see IsServerLocation; checked
// by RegisterLocationRefusal before). Throws TRegisterError "<location>: <libpq's words>"; an
// answer that does not come within the deadline throws "<location>: no answer from the server
// within N s ...". The connection attempt itself is bounded by connect_timeout (libpq's wait, not
// ended by a stop request).
std::unique_ptr<TDatabase> OpenPostgresDatabase(const std::string& location);

// Whether `word`, first in a location's key=value words, is one of libpq's keywords (what makes
// the location a server's, IsServerLocation).
bool IsServerKeyword(const std::string& word);
