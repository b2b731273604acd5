// The register over any TDatabase: every SQL statement of the register is in this file.

#include "records/Register.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <system_error>

#include "records/Database.h"
#include "records/SqliteDatabase.h"
#include "support/Format.h"
#include "support/Json.h"
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
struct TMigration {
    int64_t Version;
    std::vector<const char*> Statements;
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
    };
    return migrations;
}

// --- Statements ----------------------------------------------------------------------------------

constexpr char kAddTest[] =
    "INSERT INTO tests (start_utc, port, station, start_text, end_utc, end_text, reason, "
    "duration_s, joined_at_s, ah, wh, mean_v, min_v, max_v, mean_a, max_temp_c, "
    "internal_resistance_ohm, log, logs, cell, summary_file) "
    "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, "
    "$19, $20, $21) "
    "ON CONFLICT DO NOTHING RETURNING id";
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

// Columns as CellOf reads them.
const std::string kCellColumns =
    "SELECT name, tests, capacity_ah, ir_ohm, "
    "CASE WHEN rated_ah > 0 THEN 100 * capacity_ah / rated_ah "
    "WHEN first_capacity_ah > 0 THEN 100 * capacity_ah / first_capacity_ah END, "
    "rated_ah, last_tested FROM cells";
const std::string kListCells = kCellColumns + " ORDER BY name";
const std::string kOneCell = kCellColumns + " WHERE name = $1";

// Columns as TestOf reads them; newest first.
const std::string kTestColumns =
    "SELECT id, start_text, end_text, reason, duration_s, joined_at_s, ah, wh, mean_v, min_v, "
    "max_v, mean_a, max_temp_c, internal_resistance_ohm, port, log, logs, cell, station, "
    "summary_file FROM tests ";
const std::string kTestsOfCell = kTestColumns + "WHERE cell = $1 ORDER BY end_utc DESC, id DESC";
const std::string kTestsWithoutCell =
    kTestColumns + "WHERE cell IS NULL ORDER BY end_utc DESC, id DESC";

// --- Rows ----------------------------------------------------------------------------------------

TCellSummary CellOf(const TSqlRow& row) {
    TCellSummary cell;
    cell.Cell = row.Text(0);
    cell.Tests = row.Integer(1);
    cell.CapacityAh = row.OptionalReal(2);
    cell.IrOhm = row.OptionalReal(3);
    cell.SohPct = row.OptionalReal(4);
    cell.RatedAh = row.OptionalReal(5);
    cell.LastTested = row.OptionalText(6);
    return cell;
}

TEndReason ReasonOf(const std::string& name) {
    for (const TEndReason reason : {TEndReason::Cutoff, TEndReason::Time, TEndReason::Operator,
                                    TEndReason::ConnectionLost, TEndReason::Tester}) {
        if (name == ReasonName(reason)) return reason;
    }
    return TEndReason::Tester;
}

TRegisteredTest TestOf(const TSqlRow& row) {
    TRegisteredTest test;
    test.Id = row.Integer(0);
    TTestSummary& s = test.Summary;
    s.Start = ParseIsoStamp(row.Text(1)).value_or(TLocalStamp{});
    s.End = ParseIsoStamp(row.Text(2)).value_or(TLocalStamp{});
    s.Reason = ReasonOf(row.Text(3));
    s.DurationS = row.Real(4);
    s.JoinedAtS = static_cast<int>(row.Integer(5));
    s.Ah = row.Real(6);
    s.Wh = row.Real(7);
    s.MeanV = row.OptionalReal(8);
    s.MinV = row.OptionalReal(9);
    s.MaxV = row.OptionalReal(10);
    s.MeanA = row.OptionalReal(11);
    s.MaxTempC = row.OptionalReal(12);
    s.InternalResistanceOhm = row.OptionalReal(13);
    s.Port = row.Text(14);
    s.Log = row.Text(15);
    if (const TJsonParsed logs = ParseJson(row.Text(16)); logs.Value && logs.Value->Array()) {
        for (const TJsonValue& log : *logs.Value->Array()) {
            if (log.String() != nullptr) s.Logs.push_back(*log.String());
        }
    }
    s.Cell = row.OptionalText(17);
    s.Station = row.Text(18);
    test.SummaryFile = row.Text(19);
    return test;
}

TSqlValue Optional(const std::optional<double>& value) {
    return value ? TSqlValue(*value) : TSqlValue(nullptr);
}

// A test as its row holds it: as its verdict file writes it, read back.
struct TTestRow {
    TTestSummary Summary;
    std::string StartText, EndText;
};

std::optional<TTestRow> RowOf(const TTestSummary& summary) {
    const std::string json = VerdictJson(summary);
    const TJsonParsed document = ParseJson(json);
    std::optional<TTestSummary> written = ParseVerdictJson(json);
    if (!written || !document.Value) return std::nullopt;
    return TTestRow{std::move(*written), *document.Value->Find("start")->String(),
                    *document.Value->Find("end")->String()};
}

std::vector<TSqlValue> TestValues(const TTestRow& row, const std::string& summaryFile) {
    const TTestSummary& s = row.Summary;
    std::string logs = "[";
    for (const std::string& log : s.Logs) logs += (logs.size() > 1 ? "," : "") + JsonString(log);
    logs += "]";
    return {UtcSecond(s.Start),
            s.Port,
            s.Station,
            row.StartText,
            UtcSecond(s.End),
            row.EndText,
            std::string(ReasonName(s.Reason)),
            s.DurationS,
            int64_t{s.JoinedAtS},
            s.Ah,
            s.Wh,
            Optional(s.MeanV),
            Optional(s.MinV),
            Optional(s.MaxV),
            Optional(s.MeanA),
            Optional(s.MaxTempC),
            Optional(s.InternalResistanceOhm),
            s.Log,
            logs,
            s.Cell ? TSqlValue(*s.Cell) : TSqlValue(nullptr),
            summaryFile};
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
// migrates at the same time makes this one wait and then find the work done.
void Migrate(TDatabase& db) {
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
        for (const char* sql : migration.Statements) db.Run(StatementFor(db, sql), {});
        db.Run(kSetVersion, {migration.Version});
        transaction.Commit();
    }
}

class TSqlRegister final : public TRegister {
  public:
    TSqlRegister(const std::string& where, std::unique_ptr<TDatabase> db)
        : FWhere(where), FDb(std::move(db)) {}

    const std::string& Location() const override { return FWhere; }

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
            const std::optional<TTestRow> row = RowOf(test.Summary);
            if (!row) {
                throw TRegisterError(FWhere +
                                     ": a test whose start or end is not a date "
                                     "cannot be recorded");
            }
            rows.push_back({TestValues(*row, test.SummaryFile), row->Summary.Cell});
        }
        std::vector<TRecordOutcome> outcomes;
        outcomes.reserve(tests.size());
        std::set<std::string> touched;
        TTransaction transaction(*FDb, TTransactionKind::Write);
        for (const TPrepared& row : rows) {
            bool added = false;
            FDb->Run(kAddTest, row.Values, [&](const TSqlRow&) { added = true; });
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
        FDb->Run(kListCells, {}, [&](const TSqlRow& row) { cells.push_back(CellOf(row)); });
        return cells;
    }

    std::optional<TCellHistory> Cell(const std::string& cell) override {
        TTransaction transaction(*FDb, TTransactionKind::Read);
        std::optional<TCellHistory> history;
        FDb->Run(kOneCell, {cell}, [&](const TSqlRow& row) { history = {CellOf(row), {}}; });
        if (history) {
            FDb->Run(kTestsOfCell, {cell},
                     [&](const TSqlRow& row) { history->Tests.push_back(TestOf(row)); });
        }
        transaction.Commit();
        return history;
    }

    std::vector<TRegisteredTest> UnassignedTests() override {
        TTransaction transaction(*FDb, TTransactionKind::Read);
        std::vector<TRegisteredTest> tests;
        FDb->Run(kTestsWithoutCell, {}, [&](const TSqlRow& row) { tests.push_back(TestOf(row)); });
        transaction.Commit();
        return tests;
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
    void Refresh(const std::string& cell) {
        FDb->Run(kRefreshCell, {cell, std::string(ReasonName(TEndReason::Cutoff))});
    }

    const std::string FWhere;
    const std::unique_ptr<TDatabase> FDb;
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
    // The XDG rule: a relative XDG_DATA_HOME is ignored.
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string folder;
    if (data != nullptr && data[0] == '/') {
        folder = data;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        folder = std::string(home) + "/.local/share";
    } else {
        folder = ".local/share";
    }
    return folder + "/Kelvo/register.sqlite";
}

std::unique_ptr<TRegister> TRegister::Open(const std::string& where) {
    if (where.empty()) throw TRegisterError("the register's path is empty");
    const fs::path folder = fs::path(where).parent_path();
    if (!folder.empty()) {
        std::error_code error;
        fs::create_directories(folder, error);
        if (error) {
            throw TRegisterError(where + ": cannot create the folder " + folder.string() + ": " +
                                 error.message());
        }
    }
    std::unique_ptr<TDatabase> db = OpenSqliteDatabase(where);
    Migrate(*db);
    return std::make_unique<TSqlRegister>(where, std::move(db));
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
    const auto field = [](const std::string& text) {
        if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
        std::string quoted = "\"";
        for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        return quoted + "\"";
    };
    const auto number = [](const std::optional<double>& value, double scale, int decimals) {
        return value ? FixedDecimals(*value * scale, decimals) : std::string();
    };
    std::string csv = "cell,capacity_mah,ir_mohm,soh_pct,tests,last_tested\n";
    for (const TCellSummary& c : cells) {
        csv += field(c.Cell) + ',' + number(c.CapacityAh, 1000, 0) + ',' +
               number(c.IrOhm, 1000, 1) + ',' + number(c.SohPct, 1, 1) + ',' +
               std::to_string(c.Tests) + ',' + field(c.LastTested.value_or("")) + '\n';
    }
    return csv;
}
