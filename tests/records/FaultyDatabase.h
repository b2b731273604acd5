#pragma once
// Databases beneath the register that fail where a test says, as LevelDB's fault-injection
// environment and SQLite's test VFS do: the Nth step of any database they opened (opening one, a
// statement, a transaction's begin or commit), a commit whose answer is lost after the database
// committed, or every statement that begins with a given text (the outbox's delete). What does
// not fail is the real SQLite file or PostgreSQL server underneath.
//
// Threads: the register's, as for any database; TFaults is not locked.

#include <cstdint>
#include <string>

#include "records/Database.h"

// Where to fail, and what was done; shared by every database that one TFaultyDatabases opens.
struct TFaults {
    int64_t Steps = 0;     // taken so far, by every database together
    int64_t FailStep = 0;  // the step that fails, counting from 1; 0: none
    // A commit that fails goes through first: the database committed, the register hears that it
    // did not (a connection lost with the answer on its way).
    bool CommitLands = false;
    std::string FailStatements;  // statements that begin with it fail; empty: none
    int64_t Failures = 0;        // failures made so far

    // No more failures from now on.
    void Clear() { *this = TFaults{}; }
};

class TFaultyDatabases final : public TDatabaseOpener {
  public:
    // `faults` must outlive every database opened.
    explicit TFaultyDatabases(TFaults& faults) : FFaults(faults) {}

    std::unique_ptr<TDatabase> File(const std::string& path) const override;
    std::unique_ptr<TDatabase> Server(const std::string& location) const override;

  private:
    TFaults& FFaults;
};
