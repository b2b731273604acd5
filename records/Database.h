#pragma once
// The little the register needs of a database: run one statement with bound values and step
// through its rows, transactions, and the few words in which databases differ. SQLite
// (SqliteDatabase.h) and PostgreSQL (PostgresDatabase.h) implement it with their own settings,
// transaction and catalogue statements; every statement on the register's tables is in
// Register.cpp, in SQL that both take: numbered parameters $1, $2, ..., standard types,
// INSERT ... ON CONFLICT.
//
// Threads: one thread at a time per TDatabase, as for the TRegister that owns it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "records/Register.h"

// A value bound to a parameter: NULL, an integer, a double or UTF-8 text.
using TSqlValue = std::variant<std::nullptr_t, int64_t, double, std::string>;

// A value that its column cannot hold (a damaged file, a value changed by hand): "<where>: a row
// is damaged: <detail>", the detail saying which column holds what ('duration_s holds "abc", not
// a number'). Thrown by a row's Integer and Real; the code that reads a row may name the row.
class TDamagedValue : public TRegisterError {
  public:
    TDamagedValue(const std::string& where, const std::string& detail)
        : TRegisterError(where + ": a row is damaged: " + detail), FDetail(detail) {}
    const std::string& Detail() const { return FDetail; }

  private:
    std::string FDetail;
};
// That `column` of a row of `where` holds `text` (nothing: NULL), not a number.
TDamagedValue NotANumber(const std::string& where, const std::string& column,
                         const std::optional<std::string>& text);

// One row of a result, valid only during the call that is handed it. Columns count from 0.
// Integer and Real throw TDamagedValue for a value that is no such number (NULL included).
class TSqlRow {
  public:
    virtual bool IsNull(int column) const = 0;
    virtual int64_t Integer(int column) const = 0;
    virtual double Real(int column) const = 0;
    virtual std::string Text(int column) const = 0;

    std::optional<double> OptionalReal(int column) const {
        return IsNull(column) ? std::nullopt : std::optional<double>(Real(column));
    }
    std::optional<std::string> OptionalText(int column) const {
        return IsNull(column) ? std::nullopt : std::optional<std::string>(Text(column));
    }

  protected:
    ~TSqlRow() = default;
};

// A value that the database cannot store (a server's text cannot hold a NUL): the test that
// carries it is at fault, not the database, and other tests still go in.
class TUnstorableValue : public TRegisterError {
  public:
    using TRegisterError::TRegisterError;
};

enum class TTransactionKind {
    Read,   // sees one state of the database throughout
    Write,  // takes the register's write lock at its start, waiting for other writers up to the
            // timeout: writers, migrations included, follow one another
};

// Every failure throws TRegisterError "<where>: <the database's words>"; a value that cannot be
// stored throws TUnstorableValue before anything is sent.
class TDatabase {
  public:
    virtual ~TDatabase() = default;

    // The file or server, as errors name it.
    virtual const std::string& Where() const = 0;
    // The type and constraint of a key column that the database numbers as rows are added.
    virtual const char* IdentityKey() const = 0;
    // The names of the tables there are (none: a new database).
    virtual std::vector<std::string> Tables() = 0;
    // The connection is gone (a server that stopped or restarted): everything asked of this
    // database from now on fails. A file is never lost.
    virtual bool Lost() const = 0;

    virtual void Begin(TTransactionKind kind) = 0;
    virtual void Commit() = 0;
    // Never throws: it is called while an error unwinds.
    virtual void Rollback() noexcept = 0;

    // Runs `sql` with values[i] bound to $(i+1); `row`, when given, is called for each row of the
    // result in order.
    virtual void Run(const std::string& sql, const std::vector<TSqlValue>& values,
                     const std::function<void(const TSqlRow&)>& row = {}) = 0;
};

// How a register opens its databases: a file's (a register file, or the outbox in the default one)
// and a server's. The register's one seam to them, so that tests can put beneath it a database
// that fails where they say. Called on the thread of the register it opens for.
class TDatabaseOpener {
  public:
    virtual ~TDatabaseOpener() = default;
    // A SQLite file, made when missing (OpenSqliteDatabase).
    virtual std::unique_ptr<TDatabase> File(const std::string& path) const = 0;
    // A PostgreSQL server (OpenPostgresDatabase).
    virtual std::unique_ptr<TDatabase> Server(const std::string& location) const = 0;
};

// The real ones, for every program.
const TDatabaseOpener& RealDatabases();
