#include "records/PostgresDatabase.h"

#include <libpq-fe.h>

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "records/Register.h"

namespace {

// libpq's words on one line: its messages end with a newline and go on over indented lines.
std::string OneLine(const char* text) {
    std::string line;
    bool gap = false;
    for (const char* c = text; c != nullptr && *c != '\0'; ++c) {
        if (std::isspace(static_cast<unsigned char>(*c))) {
            gap = true;
            continue;
        }
        if (gap && !line.empty()) line += ' ';
        gap = false;
        line += *c;
    }
    return line.empty() ? std::string("no reason given") : line;
}

// libpq's reading of a connection string, freed with it; null when libpq cannot read it (`why`
// then says why, in libpq's words).
using TConninfo = std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)>;
TConninfo ParseConninfo(const std::string& text, std::string* why = nullptr) {
    char* error = nullptr;
    TConninfo options(PQconninfoParse(text.c_str(), &error), &PQconninfoFree);
    if (!options && why != nullptr) *why = error != nullptr ? OneLine(error) : "out of memory";
    if (error != nullptr) PQfreemem(error);
    return options;
}

// The value given for `keyword`: nothing when it is not given, or given empty.
std::optional<std::string> Given(const PQconninfoOption* options, const char* keyword) {
    for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        if (std::strcmp(option->keyword, keyword) == 0 && option->val != nullptr &&
            option->val[0] != '\0') {
            return std::string(option->val);
        }
    }
    return std::nullopt;
}

bool IsLibpqKeyword(const std::string& word) {
    // Parsing nothing lists every keyword libpq knows, each without a value.
    const TConninfo all = ParseConninfo("");
    if (!all) return false;
    for (const PQconninfoOption* option = all.get(); option->keyword != nullptr; ++option) {
        if (word == option->keyword) return true;
    }
    return false;
}

// The key of the advisory lock that writers take: one per database, the same in every program.
constexpr int64_t kWriteLockKey = 0x4b656c766f526567;  // "KelvoReg"

using TResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

class TPostgresRow final : public TSqlRow {
  public:
    // `where`: the server, as errors name it.
    TPostgresRow(const PGresult* result, int row, const std::string& where)
        : FResult(result), FRow(row), FWhere(where) {}

    bool IsNull(int column) const override { return PQgetisnull(FResult, FRow, column) != 0; }
    int64_t Integer(int column) const override { return Number<int64_t>(column); }
    // The server writes the shortest text that reads back as the same double
    // (extra_float_digits, set at connection).
    double Real(int column) const override { return Number<double>(column); }
    std::string Text(int column) const override { return std::string(View(column)); }

  private:
    // The whole text of a column as a number; anything else (NULL, a text, a number out of range)
    // is damage, not 0.
    template <typename T>
    T Number(int column) const {
        T value{};
        const std::string_view text = View(column);
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (IsNull(column) || text.empty() || error != std::errc() ||
            end != text.data() + text.size()) {
            const char* name = PQfname(FResult, column);
            throw NotANumber(
                FWhere, name != nullptr ? name : "a column",
                IsNull(column) ? std::nullopt : std::optional<std::string>(std::string(text)));
        }
        return value;
    }

    std::string_view View(int column) const {
        return {PQgetvalue(FResult, FRow, column),
                static_cast<size_t>(PQgetlength(FResult, FRow, column))};
    }

    const PGresult* FResult;
    int FRow;
    const std::string& FWhere;
};

class TPostgresDatabase final : public TDatabase {
  public:
    explicit TPostgresDatabase(const std::string& location) : FWhere(location) {
        // Later words win: the location may set its own connect_timeout, but not the encoding
        // in which every text here is written.
        std::vector<const char*> keywords, values;
        const std::string timeout = std::to_string(kServerConnectTimeoutS);
        const TConninfo given = ParseConninfo(location);
        const char* environment = std::getenv("PGCONNECT_TIMEOUT");
        if ((!given || !Given(given.get(), "connect_timeout")) &&
            (environment == nullptr || environment[0] == '\0')) {
            keywords.push_back("connect_timeout");
            values.push_back(timeout.c_str());
        }
        keywords.insert(keywords.end(), {"fallback_application_name", "dbname", "client_encoding"});
        values.insert(values.end(), {"kelvo", location.c_str(), "UTF8"});
        keywords.push_back(nullptr);
        values.push_back(nullptr);
        FConnection = PQconnectdbParams(keywords.data(), values.data(), /*expand_dbname=*/1);
        if (FConnection == nullptr) throw TRegisterError(FWhere + ": out of memory");
        if (PQstatus(FConnection) != CONNECTION_OK) {
            const std::string why = OneLine(PQerrorMessage(FConnection));
            PQfinish(FConnection);
            throw TRegisterError(FWhere + ": " + why);
        }
        // A notice ("relation already exists, skipping") is no error: libpq would print it.
        PQsetNoticeProcessor(
            FConnection, [](void*, const char*) {}, nullptr);
        try {
            Exec("SET extra_float_digits = 3");
        } catch (...) {
            PQfinish(FConnection);
            throw;
        }
    }

    ~TPostgresDatabase() override { PQfinish(FConnection); }

    TPostgresDatabase(const TPostgresDatabase&) = delete;
    TPostgresDatabase& operator=(const TPostgresDatabase&) = delete;

    const std::string& Where() const override { return FWhere; }

    const char* IdentityKey() const override {
        return "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
    }

    std::vector<std::string> Tables() override {
        std::vector<std::string> names;
        Run("SELECT tablename FROM pg_catalog.pg_tables WHERE schemaname = current_schema()", {},
            [&](const TSqlRow& row) { names.push_back(row.Text(0)); });
        return names;
    }

    bool Lost() const override { return PQstatus(FConnection) == CONNECTION_BAD; }

    // Writers take one lock of the database's at their start, as on a file: two programs making
    // a new register migrate one after the other, and a cell's figures are worked out from the
    // tests that the writer before committed.
    void Begin(TTransactionKind kind) override {
        try {
            if (kind == TTransactionKind::Write) {
                Exec(("BEGIN; SET LOCAL lock_timeout = " + std::to_string(kServerLockTimeoutMs) +
                      "; SELECT pg_advisory_xact_lock(" + std::to_string(kWriteLockKey) + ")")
                         .c_str());
            } else {
                Exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
            }
        } catch (...) {
            Rollback();  // no TTransaction owns it yet: a lock that timed out leaves one open
            throw;
        }
    }

    // A transaction in which a statement failed ends in a rollback however it is closed: that is
    // no commit.
    void Commit() override {
        const TResult result = Exec("COMMIT");
        if (std::strcmp(PQcmdStatus(result.get()), "COMMIT") != 0) {
            throw TRegisterError(FWhere + ": the transaction was rolled back");
        }
    }

    void Rollback() noexcept override {
        if (PQstatus(FConnection) == CONNECTION_OK &&
            PQtransactionStatus(FConnection) != PQTRANS_IDLE) {
            PQclear(PQexec(FConnection, "ROLLBACK"));
        }
    }

    void Run(const std::string& sql, const std::vector<TSqlValue>& values,
             const std::function<void(const TSqlRow&)>& row) override {
        // Every value as text, which the server reads as the type its place in the statement
        // gives it. A double's shortest text reads back as the same double.
        std::vector<std::string> texts(values.size());
        std::vector<const char*> pointers(values.size(), nullptr);
        for (size_t i = 0; i < values.size(); ++i) {
            char digits[32];
            if (const auto* integer = std::get_if<int64_t>(&values[i])) {
                texts[i].assign(digits,
                                std::to_chars(digits, digits + sizeof digits, *integer).ptr);
            } else if (const auto* real = std::get_if<double>(&values[i])) {
                texts[i].assign(digits, std::to_chars(digits, digits + sizeof digits, *real).ptr);
            } else if (const auto* text = std::get_if<std::string>(&values[i])) {
                // A text goes as a C string: a NUL would cut it short without a word.
                if (text->find('\0') != std::string::npos) {
                    throw TUnstorableValue(FWhere + ": a text with a NUL character (" +
                                           std::to_string(i + 1) +
                                           ". value) cannot be stored on the server");
                }
                texts[i] = *text;
            } else {
                continue;
            }
            pointers[i] = texts[i].c_str();
        }
        const TResult result(
            PQexecParams(FConnection, sql.c_str(), static_cast<int>(values.size()), nullptr,
                         pointers.data(), nullptr, nullptr, /*text results*/ 0),
            &PQclear);
        Check(result);
        if (!row) return;
        const int rows = PQntuples(result.get());
        for (int r = 0; r < rows; ++r) row(TPostgresRow(result.get(), r, FWhere));
    }

  private:
    // A statement of its own (settings, transactions; several separated by ";"), run whole.
    TResult Exec(const char* sql) {
        TResult result(PQexec(FConnection, sql), &PQclear);
        Check(result);
        return result;
    }

    void Check(const TResult& result) const {
        const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
        // The server's own sentence when it gave one; libpq's (a connection gone) otherwise.
        const char* primary =
            result ? PQresultErrorField(result.get(), PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        std::string why;
        if (primary != nullptr) {
            why = primary;
        } else if (result && PQresultErrorMessage(result.get())[0] != '\0') {
            why = OneLine(PQresultErrorMessage(result.get()));
        } else {
            why = OneLine(PQerrorMessage(FConnection));
        }
        throw TRegisterError(FWhere + ": " + why);
    }

    const std::string FWhere;
    PGconn* FConnection = nullptr;  // owned; closed with the database
};

}  // namespace

std::unique_ptr<TDatabase> OpenPostgresDatabase(const std::string& location) {
    return std::make_unique<TPostgresDatabase>(location);
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
           IsLibpqKeyword(where.substr(at, end - at));
}

const char* RegisterLocationForms() {
    return "LOCATION is a file, made when missing, or a PostgreSQL server: "
           "postgresql://[user@]host[:port]/dbname (or postgres://...; "
           "postgresql://user@/dbname?host=/socket/dir for a local socket; any parameter that "
           "libpq takes, such as ?sslmode=verify-full), or libpq's key=value words, the first "
           "one of its keywords (\"host=db.lab dbname=kelvo user=station\"). A location with a "
           "password is refused: libpq takes it from ~/.pgpass, PGPASSFILE or PGPASSWORD. A file "
           "whose name reads as key=value is given as ./name.";
}

std::optional<std::string> RegisterLocationRefusal(const std::string& where) {
    if (!IsServerLocation(where)) return std::nullopt;
    std::string why;
    const TConninfo options = ParseConninfo(where, &why);
    if (!options) {
        // libpq quotes the part it could not read, which may be a password.
        const bool mayQuoteSecret =
            where.find("password") != std::string::npos || where.find('@') != std::string::npos;
        return "the register's location is not a connection string that libpq takes" +
               (mayQuoteSecret ? std::string() : ": " + why);
    }
    if (Given(options.get(), "password")) {
        return std::string(
            "the register's location carries a password, which would show in the process list "
            "and in settings files: leave it out, and give it through ~/.pgpass, PGPASSFILE or "
            "PGPASSWORD");
    }
    return std::nullopt;
}
