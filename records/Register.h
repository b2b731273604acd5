#pragma once
// The register of every test and the cells they measured: one database (a SQLite file by
// default, or a PostgreSQL server that a lab shares), in which each verdict is one test, unique
// by its start, port and station, so that recording or importing the same test twice adds
// nothing. Plain C++ over the databases' C libraries: the window and the command-line programs
// share it. Every SQL statement lives in this folder's register module; the two kinds of database
// differ only in how they connect, lock and name their types.
//
// A register on a server goes through an outbox: every test recorded there is first kept in the
// table `outbox` of the default register file (DefaultLocation()), with the server's location,
// and leaves it only once the server has committed it. What waits is sent with the next record,
// when a register on that server is opened, and by SendOutbox. So a server that is away, restarts
// or refuses the login loses no test; reading the register needs the server.
//
// What a cell's figures mean, the same everywhere:
//   capacity        the `ah` of its most recent test (by end) that ended at the cutoff voltage; a
//                   test stopped by the operator, the timer, the tester or a lost connection is
//                   listed but measures no capacity
//   IR              the most recent known internal resistance
//   state of health capacity / rated capacity * 100; without a rating, / the capacity of its
//                   first cutoff test once it has two cutoff tests or more; else unknown (one
//                   test says nothing of how a cell has faded)
//
// Threads: one TRegister is used by one thread at a time. Several programs (and threads, each
// with its own TRegister) may use one register, and one outbox, at once: writes wait for each
// other (a busy or lock timeout), each record is one transaction.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "testrun/TestVerdict.h"

class TDatabaseOpener;  // Database.h

// A register that cannot be opened, read or written: "<where>: <why>" (the file or server, and
// the database's own words).
class TRegisterError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Tests that a server could not take now: they wait in the outbox and are sent later. what():
// "<server>: <why>; the test waits in the outbox <file> ...".
class TRegisterPending : public TRegisterError {
  public:
    using TRegisterError::TRegisterError;
};

// One line of the cells' table.
struct TCellSummary {
    std::string Cell;
    int64_t Tests = 0;
    std::optional<double> CapacityAh;
    std::optional<double> IrOhm;
    std::optional<double> SohPct;
    std::optional<double> RatedAh;
    std::optional<std::string> LastTested;  // `end` of its newest test, ISO 8601 with offset
};

// A test as the register holds it.
struct TRegisteredTest {
    int64_t Id = 0;           // the register's number for the test
    TTestSummary Summary;     // every key of the verdict, cell and station included
    std::string SummaryFile;  // the verdict's JSON file, empty when none is known
};

// A cell and its tests, newest first.
struct TCellHistory {
    TCellSummary Cell;
    std::vector<TRegisteredTest> Tests;
};

enum class TRecordOutcome { Added, AlreadyThere };

// What sending the outbox did.
struct TOutboxReport {
    int64_t Sent = 0;     // tests that left the outbox: the server took them, or had them already
    int64_t Pending = 0;  // tests that still wait for the servers asked
    std::string Error;    // why some wait ("<server>: <why>", several joined by "; "); or empty
};

// What an import did: files taken, files whose test was there already, files that could not be
// read as a verdict (named, for standard error).
struct TImportResult {
    int Imported = 0;
    int AlreadyThere = 0;
    std::vector<std::string> Unreadable;
};

class TRegister {
  public:
    // Kelvo/register.sqlite in the user's data folder (platform::UserDataFolder): on Linux
    // $XDG_DATA_HOME/Kelvo/register.sqlite, or ~/.local/share/Kelvo/register.sqlite; on Windows
    // %LOCALAPPDATA%\Kelvo\register.sqlite.
    static std::string DefaultLocation();

    // Opens the register at `where`, a file path or a server's location (IsServerLocation), and
    // brings its schema up to date (numbered migrations, each in a transaction; two programs
    // opening a new register at once both go on). A file is made, with its folder, when missing.
    // A server is tried once, for a bounded time: what waits for it in the outbox is sent (a
    // bounded number of tests); when it cannot be reached or refuses, the register still opens,
    // its records wait in the outbox (TRegisterPending) and its reads throw the cause. Throws
    // TRegisterError (a file that cannot be opened, a location that RegisterLocationRefusal
    // refuses).
    static std::unique_ptr<TRegister> Open(const std::string& where);
    // The same with its databases opened by `databases`, which must outlive the register.
    static std::unique_ptr<TRegister> Open(const std::string& where,
                                           const TDatabaseOpener& databases);

    // Sends what waits in the outbox for the server at `location`, or for every server named
    // there when `location` is empty; a server with nothing waiting is not contacted. Never
    // throws: a server away, a refusal or an outbox that cannot be read is in Error. Any thread
    // (the console calls it at start, in a thread of its own); blocks for a connection attempt
    // per server at most, and as long as the sending takes.
    static TOutboxReport SendOutbox(const std::string& location);
    static TOutboxReport SendOutbox(const std::string& location, const TDatabaseOpener& databases);

    virtual ~TRegister() = default;

    // Where it is, as given to Open.
    virtual const std::string& Location() const = 0;

    // Records one test (its cell, when it names one, is added as needed), in one transaction.
    // `summaryFile`: the verdict's JSON file, or empty. The test is kept as its verdict file
    // writes it (whole seconds, the file's decimals), so that recording a test and importing its
    // file later agree. Throws TRegisterError; TRegisterPending when the test waits in the outbox
    // for its server (said once: the cause, and where it waits).
    virtual TRecordOutcome Record(const TTestSummary& summary, const std::string& summaryFile) = 0;

    // One test to record, and its verdict's JSON file (or empty).
    struct TToRecord {
        TTestSummary Summary;
        std::string SummaryFile;
    };
    // Records several tests in one transaction: all of them, or none when it throws; for imports
    // and bulk loads, where a transaction each would cost a flush to disk each. The outcomes in
    // the order of `tests`. Throws TRegisterError.
    virtual std::vector<TRecordOutcome> RecordAll(const std::vector<TToRecord>& tests) = 0;

    // Every cell, by name.
    virtual std::vector<TCellSummary> Cells() = 0;
    // One cell and its tests; nothing for an unknown cell. A row that is damaged (a reason, a
    // moment or a number that its column cannot hold) throws TRegisterError naming the register
    // and the row, here and in UnassignedTests and Cells.
    virtual std::optional<TCellHistory> Cell(const std::string& cell) = 0;
    // The tests that name no cell (imported from before cells were named), newest first.
    virtual std::vector<TRegisteredTest> UnassignedTests() = 0;
    // How many tests name no cell, counted by the database.
    virtual int64_t UnassignedCount() = 0;
    // Sets a cell's rated capacity (Ah, finite and above 0, else std::invalid_argument), adding
    // the cell when it is new.
    virtual void Rate(const std::string& cell, double ratedAh) = 0;
    // Gives test `testId` to `cell` (added as needed); false for an unknown test.
    virtual bool Assign(int64_t testId, const std::string& cell) = 0;

    // Records the verdict JSON files at `paths`, folders searched recursively for
    // "*_test*.json", each test's SummaryFile being its file's absolute path. `station`, when
    // given, stands for the station of verdicts that name none. A path that is missing, cannot be
    // read or holds no verdict is Unreadable; a failing register throws TRegisterError, with the
    // files recorded before it kept (importing them again adds nothing). The same for every
    // database: it reads the files and calls RecordAll.
    TImportResult Import(const std::vector<std::string>& paths,
                         const std::optional<std::string>& station);
};

// Whether `where` names a PostgreSQL server rather than a file; the one rule for every program
// and the console: a libpq URI (it begins with "postgresql://" or "postgres://"), or libpq's
// key=value form, whose first word is one of libpq's keywords followed by "=" (host=db
// dbname=lab). Anything else is a file path; a file whose name would read as a location is given
// as ./dbname=x.
bool IsServerLocation(const std::string& where);

// The forms of a register's location, as a sentence for --help texts and man pages.
const char* RegisterLocationForms();

// Why the register may not be at `where`, or nothing. A server's location that libpq cannot read,
// or that carries a password (in a URI's user info, or a `password` parameter in either form):
// passwords come only through libpq's own means (~/.pgpass, PGPASSFILE, PGPASSWORD), never in a
// location that shows in the process list or a settings file. The text never repeats the password.
// Checked before anything connects: Open refuses the same locations.
std::optional<std::string> RegisterLocationRefusal(const std::string& where);

// Whether this build keeps registers on a PostgreSQL server: the Windows build has no libpq
// (KELVO_POSTGRES, set by records/CMakeLists.txt), and refuses every server's location with
// kRegisterServerNeedsLinux.
inline constexpr bool kRegisterServersBuilt = KELVO_POSTGRES != 0;
inline constexpr char kRegisterServerNeedsLinux[] =
    "a register on a PostgreSQL server needs the Linux build: give the register's file";

// Whether `name` may name a cell: printable text (no control character of C0, DEL or C1), not
// only blanks. Names that programs add (kelvo-run --cell, kelvo-cells rate and assign) are
// checked with it; it is not applied to names read from verdict files.
bool IsCellName(const std::string& name);

// The cells as CSV for spreadsheets and scripts: the header
// "cell,capacity_mah,ir_mohm,soh_pct,tests,last_tested", decimal points, empty where unknown,
// lines ended by LF.
std::string CellsCsv(const std::vector<TCellSummary>& cells);
