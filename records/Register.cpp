// The register over any TDatabase, and the outbox that stands between a register on a server and
// its records: every SQL statement of the register is in this file.

#include "records/Register.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <stdexcept>
#include <system_error>
#include <type_traits>
#include <variant>

#include "platform/Folders.h"
#include "records/Database.h"
#include "records/PostgresDatabase.h"
#include "records/SqliteDatabase.h"
#include "support/Format.h"
#include "support/Json.h"
#include "testrun/VerdictFields.h"
#include "testrun/VerdictRead.h"

namespace {

namespace fs = std::filesystem;

// --- Schema --------------------------------------------------------------------------------------

// The schema's version, one row; the migrations below bring it to kMigrations' last.
constexpr char kCreateVersionTable[] =
    "CREATE TABLE IF NOT EXISTS register_schema (version BIGINT NOT NULL)";
constexpr char kFirstVersion[] =
    "INSERT INTO register_schema (version) SELECT 0 WHERE NOT EXISTS "
    "(SELECT 1 FROM register_schema)";
constexpr char kReadVersion[] = "SELECT MAX(version) FROM register_schema";
constexpr char kSetVersion[] = "UPDATE register_schema SET version = $1";
constexpr char kVersionTable[] = "register_schema";

// The key of the tests' table is numbered by the database: its column type is the database's.
constexpr char kIdentityKey[] = "{identity key}";

// A cell's figures (tests .. last_tested) follow from its tests; every change to its tests
// brings them up to date in the same transaction, so that listing the cells reads one table.
// A cell's tests refer to it: deferred, so that a test's cell is added only once the test is.
//
// The tests' table has a column for each field of a verdict (VerdictFields.h: a moment as its text
// and its UTC second), its key and its verdict's file. Migrations are never changed once released,
// so that every register and server made by them is the same: a field added later comes with a
// migration of its own that adds its column, and names it as its Since.
//
// The outbox (2) is a file's alone: tests recorded for a server wait there, as their verdict's
// JSON, until the server has committed them; one per test and server, as in `tests`. On a server
// the migration only counts, so that both kinds keep one numbering.
struct TMigration {
    int64_t Version;
    std::vector<const char*> Statements;
    bool FileOnly = false;
};
const std::vector<TMigration>& Migrations() {
    static const std::vector<TMigration> migrations = {
        {1,
         {"CREATE TABLE cells ("
          "name TEXT NOT NULL PRIMARY KEY, "
          "rated_ah DOUBLE PRECISION, "
          "tests BIGINT NOT NULL DEFAULT 0, "
          "capacity_ah DOUBLE PRECISION, "
          "first_capacity_ah DOUBLE PRECISION, "
          "ir_ohm DOUBLE PRECISION, "
          "last_tested TEXT)",
          "CREATE TABLE tests ("
          "id {identity key}, "
          "start_utc BIGINT NOT NULL, "
          "port TEXT NOT NULL, "
          "station TEXT NOT NULL, "
          "start_text TEXT NOT NULL, "
          "end_utc BIGINT NOT NULL, "
          "end_text TEXT NOT NULL, "
          "reason TEXT NOT NULL, "
          "duration_s DOUBLE PRECISION NOT NULL, "
          "joined_at_s BIGINT NOT NULL, "
          "ah DOUBLE PRECISION NOT NULL, "
          "wh DOUBLE PRECISION NOT NULL, "
          "mean_v DOUBLE PRECISION, "
          "min_v DOUBLE PRECISION, "
          "max_v DOUBLE PRECISION, "
          "mean_a DOUBLE PRECISION, "
          "max_temp_c DOUBLE PRECISION, "
          "internal_resistance_ohm DOUBLE PRECISION, "
          "log TEXT NOT NULL, "
          "logs TEXT NOT NULL, "
          "cell TEXT REFERENCES cells (name) DEFERRABLE INITIALLY DEFERRED, "
          "summary_file TEXT NOT NULL, "
          "UNIQUE (start_utc, port, station))",
          "CREATE INDEX tests_of_cell ON tests (cell, end_utc, id)"}},
        {2,
         {"CREATE TABLE outbox ("
          "id {identity key}, "
          "server TEXT NOT NULL, "
          "start_utc BIGINT NOT NULL, "
          "port TEXT NOT NULL, "
          "station TEXT NOT NULL, "
          "verdict TEXT NOT NULL, "
          "summary_file TEXT NOT NULL, "
          "UNIQUE (server, start_utc, port, station))"},
         true},
    };
    return migrations;
}

// --- Statements ----------------------------------------------------------------------------------

// The columns of a verdict's field: a moment's text and UTC second (its text alone is read back).
bool IsMoment(const TVerdictField& field) {
    return std::holds_alternative<TLocalStamp TTestSummary::*>(field.Member);
}
std::vector<std::string> ColumnsOf(const TVerdictField& field) {
    if (!IsMoment(field)) return {field.Key};
    return {field.Key + std::string("_text"), field.Key + std::string("_utc")};
}

// $1 the verdict's file, then the fields' columns in the table's order.
const std::string& AddTest() {
    static const std::string sql = [] {
        std::string columns = "summary_file", values = "$1";
        int n = 1;
        for (const TVerdictField& field : VerdictFields()) {
            for (const std::string& column : ColumnsOf(field)) {
                columns += ", " + column;
                values += ", $" + std::to_string(++n);
            }
        }
        return "INSERT INTO tests (" + columns + ") VALUES (" + values +
               ") ON CONFLICT DO NOTHING RETURNING id";
    }();
    return sql;
}
constexpr char kAddCell[] = "INSERT INTO cells (name) VALUES ($1) ON CONFLICT DO NOTHING";
constexpr char kRateCell[] =
    "INSERT INTO cells (name, rated_ah) VALUES ($1, $2) "
    "ON CONFLICT (name) DO UPDATE SET rated_ah = excluded.rated_ah";
constexpr char kCellOfTest[] = "SELECT cell FROM tests WHERE id = $1";
constexpr char kAssignTest[] = "UPDATE tests SET cell = $2 WHERE id = $1";

// $1 the cell, $2 the reason of a test that measured a capacity.
constexpr char kRefreshCell[] =
    "UPDATE cells SET "
    "tests = (SELECT COUNT(*) FROM tests WHERE cell = $1), "
    "capacity_ah = (SELECT ah FROM tests WHERE cell = $1 AND reason = $2 "
    "ORDER BY end_utc DESC, id DESC LIMIT 1), "
    "first_capacity_ah = (SELECT ah FROM tests WHERE cell = $1 AND reason = $2 "
    "ORDER BY end_utc, id LIMIT 1), "
    "ir_ohm = (SELECT internal_resistance_ohm FROM tests "
    "WHERE cell = $1 AND internal_resistance_ohm IS NOT NULL "
    "ORDER BY end_utc DESC, id DESC LIMIT 1), "
    "last_tested = (SELECT end_text FROM tests WHERE cell = $1 "
    "ORDER BY end_utc DESC, id DESC LIMIT 1) "
    "WHERE name = $1";

// Columns as CellOf reads them; $1 the reason of a test that measured a capacity. The last column
// says whether the cell has a second such test; its tests are looked at only where its figures do
// not tell (two capacities that differ are two tests, a single test is one), so that listing
// cells stays, for most, a read of their table.
const std::string kCellColumns =
    "SELECT name, tests, capacity_ah, ir_ohm, rated_ah, first_capacity_ah, last_tested, "
    "CASE WHEN capacity_ah <> first_capacity_ah THEN 1 "
    "WHEN tests < 2 OR capacity_ah IS NULL THEN 0 "
    "WHEN EXISTS (SELECT 1 FROM tests WHERE tests.cell = cells.name AND tests.reason = $1 "
    "LIMIT 1 OFFSET 1) THEN 1 ELSE 0 END FROM cells";
const std::string kListCells = kCellColumns + " ORDER BY name";
const std::string kOneCell = kCellColumns + " WHERE name = $2";

// Columns as TestOf reads them: id, summary_file, then a column for each field of a verdict.
const std::string& TestColumns() {
    static const std::string sql = [] {
        std::string select = "SELECT id, summary_file";
        for (const TVerdictField& field : VerdictFields()) select += ", " + ColumnsOf(field)[0];
        return select + " FROM tests ";
    }();
    return sql;
}
// Newest first.
const std::string kTestsOfCell = TestColumns() + "WHERE cell = $1 ORDER BY end_utc DESC, id DESC";
const std::string kTestsWithoutCell =
    TestColumns() + "WHERE cell IS NULL ORDER BY end_utc DESC, id DESC";
constexpr char kCountWithoutCell[] = "SELECT COUNT(*) FROM tests WHERE cell IS NULL";

// The outbox, in the local file. A test already waiting for the server is not queued twice.
constexpr char kQueue[] =
    "INSERT INTO outbox (server, start_utc, port, station, verdict, summary_file) "
    "VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT DO NOTHING";
constexpr char kQueued[] =
    "SELECT id FROM outbox WHERE server = $1 AND start_utc = $2 AND port = $3 AND station = $4";
// $2: after this id; $3: at most this many, oldest first.
constexpr char kWaiting[] =
    "SELECT id, verdict, summary_file FROM outbox WHERE server = $1 AND id > $2 "
    "ORDER BY id LIMIT $3";
constexpr char kSent[] = "DELETE FROM outbox WHERE id = $1";
constexpr char kWaitingCount[] = "SELECT COUNT(*) FROM outbox WHERE server = $1";
constexpr char kServersWaiting[] = "SELECT DISTINCT server FROM outbox ORDER BY server";

// --- Rows ----------------------------------------------------------------------------------------

// The one rule of a cell's state of health (Register.h).
std::optional<double> StateOfHealthPct(const std::optional<double>& capacityAh,
                                       const std::optional<double>& ratedAh,
                                       const std::optional<double>& firstCapacityAh,
                                       bool secondCutoffTest) {
    if (!capacityAh) return std::nullopt;
    if (ratedAh && *ratedAh > 0) return 100 * *capacityAh / *ratedAh;
    if (secondCutoffTest && firstCapacityAh && *firstCapacityAh > 0) {
        return 100 * *capacityAh / *firstCapacityAh;
    }
    return std::nullopt;
}

// The reason of the tests that measure a capacity, as the register keeps it.
std::string CutoffName() {
    return ReasonName(TEndReason::Cutoff);
}

// A row of the register that is damaged, said with the register and the row.
TRegisterError DamagedRow(const std::string& where, const std::string& row,
                          const std::string& why) {
    return TRegisterError(where + ": " + row + " is damaged: " + why);
}

TCellSummary CellOf(const TSqlRow& row, const std::string& where) {
    TCellSummary cell;
    cell.Cell = row.Text(0);
    try {
        cell.Tests = row.Integer(1);
        cell.CapacityAh = row.OptionalReal(2);
        cell.IrOhm = row.OptionalReal(3);
        cell.RatedAh = row.OptionalReal(4);
        cell.SohPct = StateOfHealthPct(cell.CapacityAh, cell.RatedAh, row.OptionalReal(5),
                                       row.Integer(7) != 0);
        cell.LastTested = row.OptionalText(6);
    } catch (const TDamagedValue& damage) {
        throw DamagedRow(where, "the cell " + JsonString(cell.Cell), damage.Detail());
    }
    return cell;
}

// The value of a field's column in `row`, as SetVerdictValue takes it.
TVerdictValue ColumnValue(const TVerdictField& field, const TSqlRow& row, int column,
                          const std::string& where) {
    if (row.IsNull(column)) return nullptr;
    return std::visit(
        [&](auto member) -> TVerdictValue {
            using T = std::decay_t<decltype(std::declval<TTestSummary>().*member)>;
            if constexpr (std::is_same_v<T, double> || std::is_same_v<T, int> ||
                          std::is_same_v<T, std::optional<double>>) {
                return row.Real(column);
            } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
                // Kept as a JSON array.
                const TJsonParsed list = ParseJson(row.Text(column));
                if (!list.Value)
                    throw TDamagedValue(where, field.Key + std::string(" is not JSON"));
                TVerdictValue value;
                const std::string fault = JsonVerdictValue(*list.Value, field.Key, value);
                if (!fault.empty()) throw TDamagedValue(where, fault);
                return value;
            } else {
                return row.Text(column);
            }
        },
        field.Member);
}

TRegisteredTest TestOf(const TSqlRow& row, const std::string& where) {
    TRegisteredTest test;
    test.Id = row.Integer(0);
    test.SummaryFile = row.Text(1);
    try {
        int column = 2;
        for (const TVerdictField& field : VerdictFields()) {
            const std::string fault =
                SetVerdictValue(field, ColumnValue(field, row, column++, where), test.Summary);
            if (!fault.empty()) throw TDamagedValue(where, fault);
        }
    } catch (const TDamagedValue& damage) {
        throw DamagedRow(where, "the test with id " + std::to_string(test.Id), damage.Detail());
    }
    return test;
}

// The values of AddTest for `summary` (as its verdict file holds it) and its verdict's file.
std::vector<TSqlValue> TestValues(const TTestSummary& summary, const std::string& summaryFile) {
    std::vector<TSqlValue> values{summaryFile};
    for (const TVerdictField& field : VerdictFields()) {
        if (const auto* moment = std::get_if<TLocalStamp TTestSummary::*>(&field.Member)) {
            values.insert(values.end(),
                          {VerdictMomentText(summary.**moment), UtcSecond(summary.**moment)});
            continue;
        }
        if (const auto* whole = std::get_if<int TTestSummary::*>(&field.Member)) {
            values.push_back(int64_t{summary.**whole});
            continue;
        }
        const TVerdictValue value = VerdictValue(field, summary);
        if (const auto* number = std::get_if<double>(&value)) {
            values.push_back(*number);
        } else if (const auto* text = std::get_if<std::string>(&value)) {
            values.push_back(*text);
        } else if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
            values.push_back(TJsonWriter().Strings(*list).Text());
        } else {
            values.push_back(nullptr);
        }
    }
    return values;
}

// A test as its row holds it: as its verdict file writes it, read back. Throws TRegisterError
// naming `where` for a test that no verdict file can hold.
TTestSummary RowToRecord(const std::string& where, const TTestSummary& summary) {
    std::optional<TTestSummary> written = ParseVerdictJson(VerdictJson(summary));
    if (!written) {
        throw TRegisterError(where +
                             ": a test whose start or end is not a date cannot be recorded");
    }
    return std::move(*written);
}

// A transaction that rolls back unless committed.
class TTransaction {
  public:
    TTransaction(TDatabase& db, TTransactionKind kind) : FDb(db) { FDb.Begin(kind); }
    ~TTransaction() {
        if (!FDone) FDb.Rollback();
    }
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;
    void Commit() {
        FDb.Commit();
        FDone = true;
    }

  private:
    TDatabase& FDb;
    bool FDone = false;
};

std::optional<int64_t> SchemaVersion(TDatabase& db) {
    std::optional<int64_t> version;
    db.Run(kReadVersion, {}, [&](const TSqlRow& row) {
        if (!row.IsNull(0)) version = row.Integer(0);
    });
    return version;
}

std::string StatementFor(const TDatabase& db, const char* sql) {
    std::string statement = sql;
    if (const size_t at = statement.find(kIdentityKey); at != std::string::npos) {
        statement.replace(at, sizeof kIdentityKey - 1, db.IdentityKey());
    }
    return statement;
}

// Brings the schema up to date, each migration in a transaction of its own. An up-to-date
// register is only read (a register that may not be written still opens); another program that
// migrates at the same time makes this one wait and then find the work done. `file`: the database
// is a local file, which holds the outbox.
void Migrate(TDatabase& db, bool file) {
    const int64_t latest = Migrations().back().Version;
    const auto tooNew = [&](int64_t version) {
        return TRegisterError(db.Where() + ": the register is of a newer kind (schema " +
                              std::to_string(version) + "; this program knows up to " +
                              std::to_string(latest) + ")");
    };
    const std::vector<std::string> tables = db.Tables();
    if (std::find(tables.begin(), tables.end(), kVersionTable) != tables.end()) {
        const int64_t version = SchemaVersion(db).value_or(0);
        if (version == latest) return;
        if (version > latest) throw tooNew(version);
    } else if (!tables.empty()) {
        throw TRegisterError(db.Where() + ": not a register (a database of other tables)");
    }
    {
        TTransaction transaction(db, TTransactionKind::Write);
        db.Run(kCreateVersionTable, {});
        db.Run(kFirstVersion, {});
        transaction.Commit();
    }
    for (const TMigration& migration : Migrations()) {
        TTransaction transaction(db, TTransactionKind::Write);
        const int64_t version = SchemaVersion(db).value_or(0);
        if (version > latest) throw tooNew(version);
        if (version >= migration.Version) continue;
        if (file || !migration.FileOnly) {
            for (const char* sql : migration.Statements) db.Run(StatementFor(db, sql), {});
        }
        db.Run(kSetVersion, {migration.Version});
        transaction.Commit();
    }
}

class TSqlRegister final : public TRegister {
  public:
    TSqlRegister(const std::string& where, std::unique_ptr<TDatabase> db)
        : FWhere(where), FDb(std::move(db)) {}

    const std::string& Location() const override { return FWhere; }

    // The connection to its server is gone.
    bool Lost() const { return FDb->Lost(); }

    TRecordOutcome Record(const TTestSummary& summary, const std::string& summaryFile) override {
        return RecordAll({{summary, summaryFile}}).front();
    }

    std::vector<TRecordOutcome> RecordAll(const std::vector<TToRecord>& tests) override {
        struct TPrepared {
            std::vector<TSqlValue> Values;
            std::optional<std::string> Cell;
        };
        std::vector<TPrepared> rows;
        rows.reserve(tests.size());
        for (const TToRecord& test : tests) {
            const TTestSummary row = RowToRecord(FWhere, test.Summary);
            rows.push_back({TestValues(row, test.SummaryFile), row.Cell});
        }
        std::vector<TRecordOutcome> outcomes;
        outcomes.reserve(tests.size());
        std::set<std::string> touched;
        TTransaction transaction(*FDb, TTransactionKind::Write);
        for (const TPrepared& row : rows) {
            bool added = false;
            FDb->Run(AddTest(), row.Values, [&](const TSqlRow&) { added = true; });
            outcomes.push_back(added ? TRecordOutcome::Added : TRecordOutcome::AlreadyThere);
            if (added && row.Cell && touched.insert(*row.Cell).second) {
                FDb->Run(kAddCell, {*row.Cell});
            }
        }
        for (const std::string& cell : touched) Refresh(cell);
        transaction.Commit();
        return outcomes;
    }

    std::vector<TCellSummary> Cells() override {
        std::vector<TCellSummary> cells;
        FDb->Run(kListCells, {CutoffName()},
                 [&](const TSqlRow& row) { cells.push_back(CellOf(row, FWhere)); });
        return cells;
    }

    std::optional<TCellHistory> Cell(const std::string& cell) override {
        TTransaction transaction(*FDb, TTransactionKind::Read);
        std::optional<TCellHistory> history;
        FDb->Run(kOneCell, {CutoffName(), cell}, [&](const TSqlRow& row) {
            history = {CellOf(row, FWhere), {}};
        });
        if (history) {
            FDb->Run(kTestsOfCell, {cell},
                     [&](const TSqlRow& row) { history->Tests.push_back(TestOf(row, FWhere)); });
        }
        transaction.Commit();
        return history;
    }

    std::vector<TRegisteredTest> UnassignedTests() override {
        TTransaction transaction(*FDb, TTransactionKind::Read);
        std::vector<TRegisteredTest> tests;
        FDb->Run(kTestsWithoutCell, {},
                 [&](const TSqlRow& row) { tests.push_back(TestOf(row, FWhere)); });
        transaction.Commit();
        return tests;
    }

    int64_t UnassignedCount() override {
        int64_t count = 0;
        FDb->Run(kCountWithoutCell, {}, [&](const TSqlRow& row) { count = row.Integer(0); });
        return count;
    }

    void Rate(const std::string& cell, double ratedAh) override {
        if (!(ratedAh > 0) || !std::isfinite(ratedAh)) {
            throw std::invalid_argument("a rated capacity is a number of Ah above 0");
        }
        TTransaction transaction(*FDb, TTransactionKind::Write);
        FDb->Run(kRateCell, {cell, ratedAh});
        Refresh(cell);
        transaction.Commit();
    }

    bool Assign(int64_t testId, const std::string& cell) override {
        TTransaction transaction(*FDb, TTransactionKind::Write);
        bool found = false;
        std::optional<std::string> before;
        FDb->Run(kCellOfTest, {testId}, [&](const TSqlRow& row) {
            found = true;
            before = row.OptionalText(0);
        });
        if (!found) return false;
        FDb->Run(kAddCell, {cell});
        FDb->Run(kAssignTest, {testId, cell});
        if (before && *before != cell) Refresh(*before);
        Refresh(cell);
        transaction.Commit();
        return true;
    }

  private:
    void Refresh(const std::string& cell) { FDb->Run(kRefreshCell, {cell, CutoffName()}); }

    const std::string FWhere;
    const std::unique_ptr<TDatabase> FDb;
};

// --- Files, servers and the outbox --------------------------------------------------------------

// The SQLite file at `path`, made with its folder when missing, its schema up to date.
std::unique_ptr<TDatabase> OpenFile(const std::string& path, const TDatabaseOpener& databases) {
    if (path.empty()) throw TRegisterError("the register's path is empty");
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty()) {
        std::error_code error;
        fs::create_directories(folder, error);
        if (error) {
            throw TRegisterError(path + ": cannot create the folder " + folder.string() + ": " +
                                 error.message());
        }
    }
    std::unique_ptr<TDatabase> db = databases.File(path);
    Migrate(*db, true);
    return db;
}

// Tests sent to a server in one transaction: one flush for many, a short wait for the others.
constexpr size_t kSendBatch = 500;
// Waiting tests sent besides its own when a register on a server opens or records: a long
// absence's worth, few enough not to hold a program up for long; SendOutbox sends them all.
constexpr size_t kSendAlong = 1000;

// The outbox of a local register file: tests for servers, kept until a server has committed them.
// Used by one thread at a time, as the file's register is.
class TOutbox {
  public:
    TOutbox(const std::string& path, const TDatabaseOpener& databases)
        : FPath(path), FDb(OpenFile(path, databases)) {}

    const std::string& Path() const { return FPath; }

    // Keeps `tests` for `server`, in one transaction: their ids, in order. A test that waits
    // already keeps its place.
    std::vector<int64_t> Queue(const std::string& server,
                               const std::vector<TRegister::TToRecord>& tests) {
        std::vector<int64_t> ids;
        ids.reserve(tests.size());
        TTransaction transaction(*FDb, TTransactionKind::Write);
        for (const TRegister::TToRecord& test : tests) {
            const TTestSummary row = RowToRecord(server, test.Summary);
            const std::vector<TSqlValue> key = {server, UtcSecond(row.Start), row.Port,
                                                row.Station};
            std::vector<TSqlValue> values = key;
            values.insert(values.end(), {VerdictJson(test.Summary), test.SummaryFile});
            FDb->Run(kQueue, values);
            FDb->Run(kQueued, key,
                     [&](const TSqlRow& queued) { ids.push_back(queued.Integer(0)); });
        }
        transaction.Commit();
        return ids;
    }

    struct TWaiting {
        int64_t Id = 0;
        std::optional<TRegister::TToRecord> Test;  // nothing: the entry is no verdict (damaged)
    };
    // At most `most` tests waiting for `server` after the id `after`, oldest first.
    std::vector<TWaiting> Waiting(const std::string& server, int64_t after, size_t most) {
        std::vector<TWaiting> waiting;
        FDb->Run(kWaiting, {server, after, static_cast<int64_t>(most)}, [&](const TSqlRow& row) {
            TWaiting entry{row.Integer(0), std::nullopt};
            if (std::optional<TTestSummary> summary = ParseVerdictJson(row.Text(1))) {
                entry.Test = TRegister::TToRecord{std::move(*summary), row.Text(2)};
            }
            waiting.push_back(std::move(entry));
        });
        return waiting;
    }

    // The server has committed the tests `ids`.
    void Sent(const std::vector<int64_t>& ids) {
        if (ids.empty()) return;
        TTransaction transaction(*FDb, TTransactionKind::Write);
        for (const int64_t id : ids) FDb->Run(kSent, {id});
        transaction.Commit();
    }

    int64_t Count(const std::string& server) {
        int64_t count = 0;
        FDb->Run(kWaitingCount, {server}, [&](const TSqlRow& row) { count = row.Integer(0); });
        return count;
    }

    std::vector<std::string> Servers() {
        std::vector<std::string> servers;
        FDb->Run(kServersWaiting, {}, [&](const TSqlRow& row) { servers.push_back(row.Text(0)); });
        return servers;
    }

  private:
    const std::string FPath;
    const std::unique_ptr<TDatabase> FDb;
};

// A register on a server, its records through the outbox of the default register file. The
// server is tried once, when the register opens; once it could not be reached, refused or was
// lost, the register is away until opened again (no second wait for a server that is not there):
// its records wait in the outbox, its other calls throw the cause.
class TServerRegister final : public TRegister {
  public:
    // `sendAlong`: waiting tests sent as soon as the server is reached. `databases` must outlive
    // the register.
    TServerRegister(const std::string& where, size_t sendAlong, const TDatabaseOpener& databases)
        : FWhere(where), FOutboxPath(DefaultLocation()), FDatabases(databases) {
        try {
            std::unique_ptr<TDatabase> db = FDatabases.Server(where);
            Migrate(*db, false);
            FServer = std::make_unique<TSqlRegister>(where, std::move(db));
        } catch (const TRegisterError& error) {
            FAway = error.what();
        }
        if (FServer && sendAlong > 0) SendWaiting(sendAlong);
    }

    const std::string& Location() const override { return FWhere; }

    TRecordOutcome Record(const TTestSummary& summary, const std::string& summaryFile) override {
        return RecordAll({{summary, summaryFile}}).front();
    }

    std::vector<TRecordOutcome> RecordAll(const std::vector<TToRecord>& tests) override {
        for (const TToRecord& test : tests) RowToRecord(FWhere, test.Summary);
        // First into the outbox: whatever happens to the server, or to this program, from here
        // on, the tests wait there.
        std::vector<int64_t> queued;
        std::string outboxFailure;
        try {
            queued = Outbox(true)->Queue(FWhere, tests);
        } catch (const TRegisterError& error) {
            outboxFailure = error.what();
        }
        std::vector<TRecordOutcome> outcomes;
        try {
            outcomes = OnServer([&](TSqlRegister& server) { return server.RecordAll(tests); });
        } catch (const TRegisterError& error) {
            if (!outboxFailure.empty()) {
                throw TRegisterError(std::string(error.what()) +
                                     "; nor can the outbox keep it: " + outboxFailure);
            }
            const bool one = tests.size() == 1;
            throw TRegisterPending(std::string(error.what()) + "; " +
                                   (one ? std::string("the test waits")
                                        : std::to_string(tests.size()) + " tests wait") +
                                   " in the outbox " + FOutboxPath + " until the server takes " +
                                   (one ? "it" : "them"));
        }
        if (outboxFailure.empty()) {
            try {
                FOutbox->Sent(queued);
            } catch (const TRegisterError&) {
                // They stay: sent again, they add nothing.
            }
        }
        SendWaiting(kSendAlong);
        return outcomes;
    }

    std::vector<TCellSummary> Cells() override {
        return OnServer([&](TSqlRegister& server) { return server.Cells(); });
    }
    std::optional<TCellHistory> Cell(const std::string& cell) override {
        return OnServer([&](TSqlRegister& server) { return server.Cell(cell); });
    }
    std::vector<TRegisteredTest> UnassignedTests() override {
        return OnServer([&](TSqlRegister& server) { return server.UnassignedTests(); });
    }
    int64_t UnassignedCount() override {
        return OnServer([&](TSqlRegister& server) { return server.UnassignedCount(); });
    }
    void Rate(const std::string& cell, double ratedAh) override {
        OnServer([&](TSqlRegister& server) { server.Rate(cell, ratedAh); });
    }
    bool Assign(int64_t testId, const std::string& cell) override {
        return OnServer([&](TSqlRegister& server) { return server.Assign(testId, cell); });
    }

    // Sends at most `most` tests that wait for this server, oldest first, until the server fails.
    // A test that the server cannot store stays, and holds back no other.
    TOutboxReport SendWaiting(size_t most) {
        TOutboxReport report;
        TOutbox* outbox = Outbox(false);
        if (outbox == nullptr) {
            report.Error = FOutboxFailure;
            return report;
        }
        const auto note = [&](const std::string& why) {
            if (report.Error.empty()) report.Error = why;
        };
        try {
            int64_t after = 0;
            for (size_t tried = 0; tried < most;) {
                const std::vector<TOutbox::TWaiting> batch =
                    outbox->Waiting(FWhere, after, std::min(kSendBatch, most - tried));
                if (batch.empty()) break;
                after = batch.back().Id;
                tried += batch.size();
                std::vector<int64_t> ids;
                std::vector<TToRecord> tests;
                for (const TOutbox::TWaiting& entry : batch) {
                    if (!entry.Test) {
                        note(outbox->Path() + ": a test waiting for " + FWhere +
                             " is not a verdict");
                        continue;
                    }
                    ids.push_back(entry.Id);
                    tests.push_back(*entry.Test);
                }
                if (tests.empty()) continue;
                bool whole = true;
                try {
                    OnServer([&](TSqlRegister& server) { return server.RecordAll(tests); });
                } catch (const TUnstorableValue&) {
                    whole = false;
                }
                if (whole) {
                    outbox->Sent(ids);
                    report.Sent += static_cast<int64_t>(ids.size());
                    continue;
                }
                // One at a time: a test that the server cannot store holds back no other. Any
                // other failure ends the sending, as it would for each of them.
                for (size_t i = 0; i < tests.size(); ++i) {
                    try {
                        OnServer([&](TSqlRegister& server) {
                            return server.Record(tests[i].Summary, tests[i].SummaryFile);
                        });
                    } catch (const TUnstorableValue& error) {
                        note(error.what());
                        continue;
                    }
                    outbox->Sent({ids[i]});
                    ++report.Sent;
                }
            }
        } catch (const TRegisterError& error) {
            report.Error = error.what();
        }
        try {
            report.Pending = outbox->Count(FWhere);
        } catch (const TRegisterError& error) {
            note(error.what());
        }
        return report;
    }

  private:
    // Calls `use` on the server's register; a failure that lost the connection leaves the
    // register away.
    template <typename TUse>
    auto OnServer(TUse&& use) -> decltype(use(std::declval<TSqlRegister&>())) {
        if (!FServer) throw TRegisterError(FAway);
        try {
            return use(*FServer);
        } catch (const TRegisterError& error) {
            if (FServer->Lost()) {
                FAway = error.what();
                FServer.reset();
            }
            throw;
        }
    }

    // The outbox, opened on first use; `make`: made when there is no file yet. Throws
    // TRegisterError when `make`, else null (FOutboxFailure says why, when it is not simply
    // missing).
    TOutbox* Outbox(bool make) {
        if (FOutbox) return FOutbox.get();
        std::error_code missing;
        if (!make && !fs::exists(FOutboxPath, missing)) return nullptr;
        try {
            FOutbox = std::make_unique<TOutbox>(FOutboxPath, FDatabases);
        } catch (const TRegisterError& error) {
            if (make) throw;
            FOutboxFailure = error.what();
        }
        return FOutbox.get();
    }

    const std::string FWhere;
    const std::string FOutboxPath;
    const TDatabaseOpener& FDatabases;
    std::unique_ptr<TSqlRegister> FServer;  // null while away
    std::string FAway;                      // why the server is away: "<where>: <why>"
    std::unique_ptr<TOutbox> FOutbox;
    std::string FOutboxFailure;
};

// --- Import --------------------------------------------------------------------------------------

// A verdict is a few kilobytes; anything far larger is not one, and is not read into memory.
constexpr std::streamsize kLargestVerdictBytes = 1 << 20;
// Files recorded per transaction: one flush to disk for many, while other programs that record
// wait for no longer than a moment.
constexpr size_t kImportBatch = 500;

bool IsVerdictName(const std::string& name) {
    constexpr std::string_view kSuffix = ".json";
    if (name.size() <= kSuffix.size() || !name.ends_with(kSuffix)) return false;
    return name.substr(0, name.size() - kSuffix.size()).find("_test") != std::string::npos;
}

std::optional<std::string> ReadSmallFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string text(static_cast<size_t>(kLargestVerdictBytes) + 1, '\0');
    file.read(text.data(), kLargestVerdictBytes + 1);
    if (file.bad() || file.gcount() > kLargestVerdictBytes) return std::nullopt;
    text.resize(static_cast<size_t>(file.gcount()));
    return text;
}

}  // namespace

std::string TRegister::DefaultLocation() {
    return platform::UserDataFolder() + "/Kelvo/register.sqlite";
}

bool IsServerLocation(const std::string& where) {
    if (where.starts_with("postgresql://") || where.starts_with("postgres://")) return true;
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    size_t at = 0;
    while (at < where.size() && blank(where[at])) ++at;
    size_t end = at;
    while (end < where.size() &&
           (std::isalnum(static_cast<unsigned char>(where[end])) || where[end] == '_')) {
        ++end;
    }
    size_t equals = end;
    while (equals < where.size() && blank(where[equals])) ++equals;
    return end > at && equals < where.size() && where[equals] == '=' &&
           IsServerKeyword(where.substr(at, end - at));
}

std::unique_ptr<TRegister> TRegister::Open(const std::string& where) {
    return Open(where, RealDatabases());
}

std::unique_ptr<TRegister> TRegister::Open(const std::string& where,
                                           const TDatabaseOpener& databases) {
    if (IsServerLocation(where)) {
        if (const std::optional<std::string> refusal = RegisterLocationRefusal(where)) {
            throw TRegisterError(*refusal);
        }
        return std::make_unique<TServerRegister>(where, kSendAlong, databases);
    }
    return std::make_unique<TSqlRegister>(where, OpenFile(where, databases));
}

TOutboxReport TRegister::SendOutbox(const std::string& location) {
    return SendOutbox(location, RealDatabases());
}

TOutboxReport TRegister::SendOutbox(const std::string& location, const TDatabaseOpener& databases) {
    TOutboxReport total;
    const auto failed = [&](const std::string& why) {
        total.Error += (total.Error.empty() ? "" : "; ") + why;
    };
    try {
        const std::string path = DefaultLocation();
        std::error_code missing;
        if (!fs::exists(path, missing)) return total;
        // Only a server that something waits for is contacted.
        TOutbox outbox(path, databases);
        std::vector<std::string> servers;
        if (location.empty()) {
            servers = outbox.Servers();
        } else if (outbox.Count(location) > 0) {
            servers = {location};
        }
        for (const std::string& server : servers) {
            if (const std::optional<std::string> refusal = RegisterLocationRefusal(server)) {
                total.Pending += outbox.Count(server);
                failed(*refusal);
                continue;
            }
            const TOutboxReport sent = TServerRegister(server, 0, databases)
                                           .SendWaiting(std::numeric_limits<size_t>::max());
            total.Sent += sent.Sent;
            total.Pending += sent.Pending;
            if (!sent.Error.empty()) failed(sent.Error);
        }
    } catch (const TRegisterError& error) {
        failed(error.what());
    }
    return total;
}

TImportResult TRegister::Import(const std::vector<std::string>& paths,
                                const std::optional<std::string>& station) {
    TImportResult result;
    std::vector<fs::path> files;
    for (const std::string& given : paths) {
        std::error_code error;
        const fs::path path = fs::absolute(given, error).lexically_normal();
        if (!error && fs::is_directory(path, error)) {
            std::vector<fs::path> found;
            fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied,
                                                error);
            for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
                if (IsVerdictName(it->path().filename().string()) && it->is_regular_file(error)) {
                    found.push_back(it->path());
                }
            }
            if (error) result.Unreadable.push_back(given);
            std::sort(found.begin(), found.end());
            files.insert(files.end(), found.begin(), found.end());
        } else if (!error && fs::exists(path, error)) {
            files.push_back(path);
        } else {
            result.Unreadable.push_back(given);
        }
    }

    std::vector<TToRecord> batch;
    const auto record = [&] {
        for (const TRecordOutcome outcome : RecordAll(batch)) {
            ++(outcome == TRecordOutcome::Added ? result.Imported : result.AlreadyThere);
        }
        batch.clear();
    };
    for (const fs::path& file : files) {
        const std::optional<std::string> text = ReadSmallFile(file);
        std::optional<TTestSummary> summary;
        if (text) summary = ParseVerdictJson(*text);
        if (!summary) {
            result.Unreadable.push_back(file.string());
            continue;
        }
        if (summary->Station.empty() && station) summary->Station = *station;
        batch.push_back({std::move(*summary), file.string()});
        if (batch.size() == kImportBatch) record();
    }
    if (!batch.empty()) record();
    return result;
}

const TDatabaseOpener& RealDatabases() {
    class TReal final : public TDatabaseOpener {
      public:
        std::unique_ptr<TDatabase> File(const std::string& path) const override {
            return OpenSqliteDatabase(path);
        }
        std::unique_ptr<TDatabase> Server(const std::string& location) const override {
            return OpenPostgresDatabase(location);
        }
    };
    static const TReal real;
    return real;
}

TDamagedValue NotANumber(const std::string& where, const std::string& column,
                         const std::optional<std::string>& text) {
    // A little of what it holds, quoted so that it cannot steer a terminal.
    constexpr size_t kShown = 40;
    const std::string shown = !text ? std::string("nothing")
                              : text->size() <= kShown
                                  ? JsonString(*text)
                                  : JsonString(text->substr(0, kShown)) + "...";
    return TDamagedValue(where, column + " holds " + shown + ", not a number");
}

bool IsCellName(const std::string& name) {
    bool blank = true;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool c1 = c == 0xC2 && i + 1 < name.size() &&
                        static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(name[i + 1]) < 0xA0;
        if (c < 0x20 || c == 0x7F || c1) return false;
        if (c != ' ') blank = false;
    }
    return !blank;
}

std::string CellsCsv(const std::vector<TCellSummary>& cells) {
    const auto number = [](const std::optional<double>& value, double scale, int decimals) {
        return value ? FixedDecimals(*value * scale, decimals) : std::string();
    };
    std::string csv = "cell,capacity_mah,ir_mohm,soh_pct,tests,last_tested\n";
    for (const TCellSummary& c : cells) {
        csv += CsvField(c.Cell) + ',' + number(c.CapacityAh, 1000, 0) + ',' +
               number(c.IrOhm, 1000, 1) + ',' + number(c.SohPct, 1, 1) + ',' +
               std::to_string(c.Tests) + ',' + CsvField(c.LastTested.value_or("")) + '\n';
    }
    return csv;
}
