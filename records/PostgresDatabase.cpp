#include "records/PostgresDatabase.h"

#include <libpq-fe.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/SocketWait.h"
#include "platform/ThreadStop.h"
#include "records/Register.h"
#include "support/Format.h"

namespace {

using TClock = std::chrono::steady_clock;

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

// The words of libpq's `options` (the server's command-line switches) as the server splits them:
// at white space, a backslash keeping the character after it.
std::vector<std::string> OptionWords(const std::string& options) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (size_t i = 0; i < options.size(); ++i) {
        const char c = options[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\\' && i + 1 < options.size()) {
            word += options[++i];
        } else {
            word += c;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

// The value that `options` give the server's setting `name` (-c name=value, -cname=value or
// --name=value, a dash in a name read as an underscore, in any case; the last one counts).
std::optional<std::string> OptionSetting(const std::string& options, const std::string& name) {
    const std::vector<std::string> words = OptionWords(options);
    std::optional<std::string> value;
    for (size_t i = 0; i < words.size(); ++i) {
        std::string setting;
        if (words[i] == "-c" && i + 1 < words.size()) {
            setting = words[++i];
        } else if (words[i].starts_with("-c")) {
            setting = words[i].substr(2);
        } else if (words[i].starts_with("--")) {
            setting = words[i].substr(2);
        } else {
            continue;
        }
        const size_t equals = setting.find('=');
        if (equals == std::string::npos) continue;
        std::string key = setting.substr(0, equals);
        for (char& c : key) {
            c = c == '-' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (key == name) value = setting.substr(equals + 1);
    }
    return value;
}

// A time setting's value in milliseconds, as the server reads it (a number, milliseconds unless
// a unit follows: us, ms, s, min, h, d); nothing when it reads as none of these.
std::optional<double> SettingMs(const std::string& text) {
    double number = 0;
    const char* end = text.data() + text.size();
    const auto [after, error] = std::from_chars(text.data(), end, number);
    if (error != std::errc() || !(number >= 0)) return std::nullopt;
    std::string unit(after, end);
    while (!unit.empty() && std::isspace(static_cast<unsigned char>(unit.front()))) {
        unit.erase(0, 1);
    }
    const struct {
        const char* Unit;
        double Ms;
    } units[] = {{"", 1},        {"us", 0.001},  {"ms", 1},      {"s", 1000},
                 {"min", 60000}, {"h", 3600000}, {"d", 86400000}};
    for (const auto& u : units) {
        if (unit == u.Unit) return number * u.Ms;
    }
    return std::nullopt;
}

// A span of milliseconds in seconds for a message: "12 s", "2.3 s".
std::string SecondsText(double ms) {
    const double seconds = ms / 1000;
    return FixedDecimals(seconds,
                         seconds == static_cast<double>(static_cast<int64_t>(seconds)) ? 0 : 1) +
           " s";
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
        // Later words win. The location may set its own connect_timeout and keep-alives (placed
        // before it), but not the encoding in which every text here is written (after it); its
        // options are kept, with the statement limit added unless they set one.
        const TConninfo given = ParseConninfo(location);
        const auto givenValue = [&](const char* keyword) {
            return given ? Given(given.get(), keyword) : std::nullopt;
        };
        std::vector<std::pair<const char*, std::string>> words;
        const char* environment = std::getenv("PGCONNECT_TIMEOUT");
        if (!givenValue("connect_timeout") && (environment == nullptr || environment[0] == '\0')) {
            words.emplace_back("connect_timeout", std::to_string(kServerConnectTimeoutS));
        }
        // A peer that went away (a server switched off, a cable pulled) is found out by the
        // system, not only by the deadline below.
        words.emplace_back("keepalives", "1");
        words.emplace_back("keepalives_idle", std::to_string(kServerKeepAliveIdleS));
        words.emplace_back("keepalives_interval", std::to_string(kServerKeepAliveIdleS / 2));
        words.emplace_back("keepalives_count", "3");
        words.emplace_back("fallback_application_name", "kelvo");
        words.emplace_back("dbname", location);
        words.emplace_back("client_encoding", "UTF8");
        std::string options = givenValue("options").value_or("");
        if (const char* fromEnvironment = std::getenv("PGOPTIONS");
            !givenValue("options") && fromEnvironment != nullptr) {
            options = fromEnvironment;
        }
        double limitMs = kServerStatementTimeoutMs;
        if (const std::optional<std::string> set = OptionSetting(options, "statement_timeout")) {
            // The server refuses a value it cannot read, at the login.
            limitMs = SettingMs(*set).value_or(kServerStatementTimeoutMs);
        } else {
            options += (options.empty() ? "" : " ") + std::string("-c statement_timeout=") +
                       std::to_string(kServerStatementTimeoutMs);
        }
        words.emplace_back("options", options);
        // No limit set means none: the location asked for it.
        if (limitMs > 0) {
            FAnswerWithin = std::chrono::milliseconds(
                static_cast<int64_t>(std::min(limitMs, 1e12)) + kServerAnswerGraceMs);
        }

        std::vector<const char*> keywords, values;
        for (const auto& [keyword, value] : words) {
            keywords.push_back(keyword);
            values.push_back(value.c_str());
        }
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
        // Sending never blocks: every wait is one of Exchange's, with its deadline.
        try {
            if (PQsetnonblocking(FConnection, 1) != 0) Fail();
            Exec("SET extra_float_digits = 3");
            // The register's statements are short; compiling one to machine code costs more than
            // running it (a list of 10 000 cells: 220 ms with it, 65 ms without). A server without
            // the setting has nothing to switch off.
            try {
                Exec("SET jit = off");
            } catch (const TRegisterError&) {
                if (Lost()) throw;
            }
        } catch (...) {
            Drop();
            throw;
        }
    }

    ~TPostgresDatabase() override { Drop(); }

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

    bool Lost() const override {
        return FConnection == nullptr || PQstatus(FConnection) == CONNECTION_BAD;
    }

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
        if (FConnection == nullptr || PQstatus(FConnection) != CONNECTION_OK ||
            PQtransactionStatus(FConnection) == PQTRANS_IDLE) {
            return;
        }
        try {
            Exec("ROLLBACK");
        } catch (...) {
            // A server that does not answer rolls back once the connection, closed by now, is
            // gone; a stop request that came meanwhile is still raised for the next wait.
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
        const TResult result = Exchange([&] {
            return PQsendQueryParams(FConnection, sql.c_str(), static_cast<int>(values.size()),
                                     nullptr, pointers.data(), nullptr, nullptr,
                                     /*text results*/ 0);
        });
        Check(result);
        if (!row) return;
        const int rows = PQntuples(result.get());
        for (int r = 0; r < rows; ++r) row(TPostgresRow(result.get(), r, FWhere));
    }

  private:
    // A statement of its own (settings, transactions; several separated by ";"), run whole.
    TResult Exec(const char* sql) {
        TResult result = Exchange([&] { return PQsendQuery(FConnection, sql); });
        Check(result);
        return result;
    }

    // Sends what `send` queues (a PQsend* call: 1 when queued) and reads every result of it, as
    // PQexec would: the last one, or the first error. Each wait for the socket ends at the
    // exchange's deadline; past it, or on a stop request, the connection is dropped.
    template <typename TSend>
    TResult Exchange(TSend&& send) {
        if (FConnection == nullptr) throw TRegisterError(FWhere + ": " + FDropped);
        const TClock::time_point deadline =
            FAnswerWithin ? TClock::now() + *FAnswerWithin : TClock::time_point::max();
        if (send() != 1) Fail();
        // Flushing: while the server does not take what is sent, what it says is read (it may
        // be waiting for its answer to be taken).
        for (int left = PQflush(FConnection); left != 0; left = PQflush(FConnection)) {
            if (left < 0) Fail();
            Await(true, deadline);
            if (PQconsumeInput(FConnection) != 1) Fail();
        }
        TResult last(nullptr, &PQclear);
        for (;;) {
            while (PQisBusy(FConnection) != 0) {
                Await(false, deadline);
                // A connection that failed gives its error as a result below.
                if (PQconsumeInput(FConnection) != 1) break;
            }
            TResult next(PQgetResult(FConnection), &PQclear);
            if (!next) break;
            // The server skips what follows an error: the error is what the exchange gave.
            if (!last || PQresultStatus(last.get()) != PGRES_FATAL_ERROR) last = std::move(next);
            if (PQstatus(FConnection) == CONNECTION_BAD) break;
        }
        return last;
    }

    // Waits for the socket to be readable (or writable) until `deadline`.
    void Await(bool writable, TClock::time_point deadline) {
        platform::TSocketWait waited = platform::TSocketWait::Failed;
        try {
            waited = platform::WaitForSocket(PQsocket(FConnection), writable, deadline);
        } catch (const platform::ThreadStopRequested&) {
            Drop("the program stopped waiting for the server");
            throw;
        }
        if (waited == platform::TSocketWait::Ready) return;
        if (waited == platform::TSocketWait::TimedOut) {
            Drop("no answer from the server within " +
                 SecondsText(static_cast<double>(FAnswerWithin->count())) +
                 "; the connection is closed");
        } else {
            Drop(std::string("cannot wait for the server: ") + std::strerror(errno));
        }
        throw TRegisterError(FWhere + ": " + FDropped);
    }

    // libpq's words on the connection as an error.
    [[noreturn]] void Fail() const {
        throw TRegisterError(FWhere + ": " + OneLine(PQerrorMessage(FConnection)));
    }

    // Closes the connection: from now on the database is lost, and says `why`.
    void Drop(const std::string& why = "the connection is closed") {
        if (FConnection == nullptr) return;
        PQfinish(FConnection);
        FConnection = nullptr;
        FDropped = why;
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
    PGconn* FConnection = nullptr;  // owned; closed with the database, or when Drop()ped
    std::string FDropped;           // why it was dropped
    // How long an exchange waits for its answers: the statement limit and a grace; nothing
    // when the location lifted the limit.
    std::optional<std::chrono::milliseconds> FAnswerWithin;
};

}  // namespace

std::unique_ptr<TDatabase> OpenPostgresDatabase(const std::string& location) {
    return std::make_unique<TPostgresDatabase>(location);
}

bool IsServerKeyword(const std::string& word) {
    return IsLibpqKeyword(word);
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
