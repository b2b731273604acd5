#include "records/SqliteDatabase.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "records/Register.h"
#include "support/Format.h"

namespace {

namespace fs = std::filesystem;

class TSqliteRow final : public TSqlRow {
  public:
    // `where`: the database, as errors name it.
    TSqliteRow(sqlite3_stmt* statement, const std::string& where)
        : FStatement(statement), FWhere(where) {}

    bool IsNull(int column) const override {
        return sqlite3_column_type(FStatement, column) == SQLITE_NULL;
    }
    // A column's type is a preference in SQLite: a value of another kind (a text where a number
    // belongs) is damage, not 0.
    int64_t Integer(int column) const override {
        const int type = sqlite3_column_type(FStatement, column);
        if (type == SQLITE_INTEGER) return sqlite3_column_int64(FStatement, column);
        if (type == SQLITE_FLOAT) {
            const double value = sqlite3_column_double(FStatement, column);
            if (value == std::trunc(value) && std::fabs(value) < 0x1p63) {
                return static_cast<int64_t>(value);
            }
        }
        throw Damaged(column);
    }
    double Real(int column) const override {
        const int type = sqlite3_column_type(FStatement, column);
        if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) throw Damaged(column);
        return sqlite3_column_double(FStatement, column);
    }
    std::string Text(int column) const override {
        const unsigned char* text = sqlite3_column_text(FStatement, column);
        if (text == nullptr) return {};
        return std::string(reinterpret_cast<const char*>(text),
                           static_cast<size_t>(sqlite3_column_bytes(FStatement, column)));
    }

  private:
    TDamagedValue Damaged(int column) const {
        const char* name = sqlite3_column_name(FStatement, column);
        return NotANumber(FWhere, name != nullptr ? name : "a column",
                          IsNull(column) ? std::nullopt : std::optional<std::string>(Text(column)));
    }

    sqlite3_stmt* FStatement;
    const std::string& FWhere;
};

class TSqliteDatabase final : public TDatabase {
  public:
    explicit TSqliteDatabase(const std::string& path) : FPath(path) {
        try {
            Connect(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            if (sqlite3_db_readonly(FDb, "main") == 1) {
                ConnectReadOnly();
            } else {
                // Readers and one writer at once, and a record costs one append to the log.
                Exec("PRAGMA journal_mode = WAL");
            }
        } catch (...) {
            Close();
            throw;
        }
    }

    ~TSqliteDatabase() override { Close(); }

    TSqliteDatabase(const TSqliteDatabase&) = delete;
    TSqliteDatabase& operator=(const TSqliteDatabase&) = delete;

    const std::string& Where() const override { return FPath; }

    const char* IdentityKey() const override { return "INTEGER PRIMARY KEY"; }

    bool Lost() const override { return false; }

    std::vector<std::string> Tables() override {
        std::vector<std::string> names;
        Run("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' "
            "ESCAPE '!'",
            {}, [&](const TSqlRow& row) { names.push_back(row.Text(0)); });
        return names;
    }

    // The write lock is taken at the start: a read that later turned into a write could fail at
    // once, without waiting, when another program wrote in between.
    void Begin(TTransactionKind kind) override {
        Exec(kind == TTransactionKind::Write ? "BEGIN IMMEDIATE" : "BEGIN");
    }

    void Commit() override { Exec("COMMIT"); }

    void Rollback() noexcept override {
        if (sqlite3_get_autocommit(FDb) == 0)
            sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
    }

    void Run(const std::string& sql, const std::vector<TSqlValue>& values,
             const std::function<void(const TSqlRow&)>& row) override {
        sqlite3_stmt* statement = Prepared(sql);
        // Ready for its next use however this one ends.
        struct TReset {
            sqlite3_stmt* Statement;
            ~TReset() {
                sqlite3_reset(Statement);
                sqlite3_clear_bindings(Statement);
            }
        } reset{statement};
        if (static_cast<size_t>(sqlite3_bind_parameter_count(statement)) != values.size()) {
            throw std::logic_error("the statement takes another number of values: " + sql);
        }
        for (size_t i = 0; i < values.size(); ++i) {
            const std::string name = "$" + std::to_string(i + 1);
            const int at = sqlite3_bind_parameter_index(statement, name.c_str());
            if (at == 0) throw std::logic_error("the statement has no " + name + ": " + sql);
            int bound = SQLITE_OK;
            if (const auto* integer = std::get_if<int64_t>(&values[i])) {
                bound = sqlite3_bind_int64(statement, at, *integer);
            } else if (const auto* real = std::get_if<double>(&values[i])) {
                bound = sqlite3_bind_double(statement, at, *real);
            } else if (const auto* text = std::get_if<std::string>(&values[i])) {
                bound = sqlite3_bind_text64(statement, at, text->data(), text->size(),
                                            SQLITE_TRANSIENT, SQLITE_UTF8);
            } else {
                bound = sqlite3_bind_null(statement, at);
            }
            if (bound != SQLITE_OK) Fail();
        }
        for (;;) {
            const int stepped = sqlite3_step(statement);
            if (stepped == SQLITE_DONE) return;
            if (stepped != SQLITE_ROW) Fail();
            if (row) row(TSqliteRow(statement, FPath));
        }
    }

  private:
    // Opens `name` (a path, or a URI with SQLITE_OPEN_URI) with `flags`, in place of what was open.
    void Connect(const std::string& name, int flags) {
        Close();
        const int opened =
            sqlite3_open_v2(name.c_str(), &FDb, flags | SQLITE_OPEN_NOMUTEX, nullptr);
        if (FDb == nullptr) throw TRegisterError(FPath + ": " + sqlite3_errstr(opened));
        sqlite3_extended_result_codes(FDb, 1);
        if (opened != SQLITE_OK) Fail();
        sqlite3_busy_timeout(FDb, kSqliteBusyTimeoutMs);
        Exec("PRAGMA foreign_keys = ON");
    }

    // A file that may be read but not written (its mode, a read-only medium or share): opened for
    // reading only. Reading a file in write-ahead-log mode takes a shared-memory file beside it;
    // where not even that can be made, the file is read as one that nothing changes meanwhile.
    void ConnectReadOnly() {
        std::string uri = "file://";
        for (const char c : fs::absolute(FPath).string()) {
            if (c == '%' || c == '?' || c == '#') {
                uri += Format("%%%02X", static_cast<unsigned char>(c));
            } else {
                uri += c;
            }
        }
        for (const char* mode : {"?mode=ro", "?mode=ro&immutable=1"}) {
            Connect(uri + mode, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
            const int read =
                sqlite3_exec(FDb, "SELECT COUNT(*) FROM sqlite_master", nullptr, nullptr, nullptr);
            if (read == SQLITE_OK) return;
            const int primary = read & 0xFF;
            if (primary != SQLITE_CANTOPEN && primary != SQLITE_READONLY) Fail();
        }
        Fail();
    }

    void Close() {
        for (const auto& [sql, statement] : FStatements) sqlite3_finalize(statement);
        FStatements.clear();
        sqlite3_close_v2(FDb);
        FDb = nullptr;
    }

    // "<path>: <SQLite's words>", with the system's where it had a say; a register that may not
    // be written says so.
    [[noreturn]] void Fail() const {
        std::string why = sqlite3_errmsg(FDb);
        const int primary = sqlite3_extended_errcode(FDb) & 0xFF;
        const int error = sqlite3_system_errno(FDb);
        if (primary == SQLITE_READONLY || (primary == SQLITE_CANTOPEN && error == EROFS)) {
            throw TRegisterError(FPath +
                                 ": the register is read-only here: its file, its folder or the "
                                 "medium it is on may not be written (" +
                                 why + ")");
        }
        if (error != 0 && (primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR)) {
            why += " (" + std::generic_category().message(error) + ")";
        }
        throw TRegisterError(FPath + ": " + why);
    }

    // A statement of its own (transactions, settings), run to its end. SQLite may answer "busy"
    // without waiting where another connection is setting up the log; such a statement is
    // tried again for as long as the busy timeout.
    void Exec(const char* sql) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kSqliteBusyTimeoutMs);
        for (;;) {
            const int result = sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr);
            if (result == SQLITE_OK) return;
            if ((result & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline) {
                Fail();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    sqlite3_stmt* Prepared(const std::string& sql) {
        if (const auto found = FStatements.find(sql); found != FStatements.end()) {
            return found->second;
        }
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(FDb, sql.c_str(), static_cast<int>(sql.size()) + 1,
                               SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
            Fail();
        }
        FStatements.emplace(sql, statement);
        return statement;
    }

    const std::string FPath;
    sqlite3* FDb = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> FStatements;  // owned; finalized on close
};

}  // namespace

std::unique_ptr<TDatabase> OpenSqliteDatabase(const std::string& path) {
    return std::make_unique<TSqliteDatabase>(path);
}
