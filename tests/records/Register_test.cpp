// The register on a real SQLite file: a test is one row however often and however it comes in,
// the cells' figures follow their definitions whatever order tests arrive in, a register that
// cannot be written or is damaged says so and records nothing, and programs (here threads, each
// with its own register) recording at once lose nothing.
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <latch>
#include <random>
#include <sstream>
#include <thread>
#include <variant>

#include "records/Register.h"
#include "records/SqliteDatabase.h"
#include "support/CivilTime.h"
#include "support/DateTime.h"
#include "support/Json.h"
#include "testrun/TestVerdict.h"
#include "testrun/VerdictFields.h"
#include "tests/records/Verdicts.h"

namespace {

namespace fs = std::filesystem;

// A folder of its own under the temporary folder, removed with everything in it.
class TFolder {
  public:
    TFolder() {
        std::random_device random;
        FPath = fs::temp_directory_path() / ("kelvo-register-" + std::to_string(random()));
        fs::create_directories(FPath);
        fs::permissions(FPath, fs::perms(0755));
    }
    ~TFolder() {
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(FPath, error)) {
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
        fs::permissions(FPath, fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(FPath, error);
    }
    std::string operator/(const std::string& name) const { return (FPath / name).string(); }
    const fs::path& Path() const { return FPath; }

  private:
    fs::path FPath;
};

const double kDay = DateTimeOf({2026, 12, 8, 9, 0});

// A test of `cell` that ended `endMin` minutes after 9:00 on 8 December 2026, having run an hour.
TTestSummary ATest(const std::string& cell, int endMin, TEndReason reason, double ah,
                   std::optional<double> irOhm = std::nullopt,
                   const std::string& port = "ttyUSB0") {
    TTestSummary s;
    s.Reason = reason;
    s.End = AddSeconds({kDay, 60}, endMin * 60.0);
    s.Start = AddSeconds(s.End, -3600);
    s.DurationS = 3600;
    s.Ah = ah;
    s.Wh = ah * 3.7;
    s.InternalResistanceOhm = irOhm;
    s.Port = port;
    s.Log = "/logs/Log_" + std::to_string(endMin) + ".csv";
    s.Logs = {s.Log};
    if (!cell.empty()) s.Cell = cell;
    s.Station = "bench-1";
    return s;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

int64_t TestsOf(TRegister& cells, const std::string& cell) {
    const auto history = cells.Cell(cell);
    return history ? history->Cell.Tests : -1;
}

TEST(Register, TheSameTestTwiceAddsNothing) {
    const TTestSummary first = ATest("C", 0, TEndReason::Cutoff, 2.0, 0.05);
    const struct {
        const char* again;
        std::function<TTestSummary(TTestSummary)> change;
        TRecordOutcome outcome;
    } cases[] = {
        {"as it was", [](TTestSummary s) { return s; }, TRecordOutcome::AlreadyThere},
        {"at another offset from UTC, the same moment",
         [](TTestSummary s) {
             s.Start = AddSeconds(s.Start, 0, s.Start.UtcOffsetMin + 60);
             return s;
         },
         TRecordOutcome::AlreadyThere},
        {"with milliseconds the file does not keep",
         [](TTestSummary s) {
             s.Start = AddSeconds(s.Start, 0.4);
             return s;
         },
         TRecordOutcome::AlreadyThere},
        {"with other figures (a second reading of its file)",
         [](TTestSummary s) {
             s.Ah = 1.0;
             return s;
         },
         TRecordOutcome::AlreadyThere},
        {"at another station",
         [](TTestSummary s) {
             s.Station = "bench-2";
             return s;
         },
         TRecordOutcome::Added},
        {"on another port",
         [](TTestSummary s) {
             s.Port = "ttyUSB1";
             return s;
         },
         TRecordOutcome::Added},
        {"a second later",
         [](TTestSummary s) {
             s.Start = AddSeconds(s.Start, 1);
             return s;
         },
         TRecordOutcome::Added},
    };
    for (const auto& c : cases) {
        const TFolder folder;
        const auto cells = TRegister::Open(folder / "register.sqlite");
        ASSERT_EQ(cells->Record(first, ""), TRecordOutcome::Added);
        TTestSummary again = c.change(first);
        again.Cell = "C";
        EXPECT_EQ(cells->Record(again, ""), c.outcome) << c.again;
        EXPECT_EQ(TestsOf(*cells, "C"), c.outcome == TRecordOutcome::Added ? 2 : 1) << c.again;

        // Its verdict file, imported: once more nothing, however often.
        const std::string file = folder / "Log_1_test1.json";
        WriteFile(file, VerdictJson(again));
        const TImportResult imported = cells->Import({file, folder.Path().string()}, "bench-9");
        EXPECT_EQ(imported.Imported, 0) << c.again;
        EXPECT_EQ(imported.AlreadyThere, 2) << c.again;
        EXPECT_TRUE(imported.Unreadable.empty()) << c.again;
        EXPECT_EQ(TestsOf(*cells, "C"), c.outcome == TRecordOutcome::Added ? 2 : 1) << c.again;
        // Nor did the test's cell come in with it.
        EXPECT_EQ(cells->Cells().size(), 1u) << c.again;
    }
}

TEST(Register, CellFiguresFollowTheirDefinitionsWhateverTheOrderOfTests) {
    struct TIn {
        int endMin;
        TEndReason reason;
        double ah;
        std::optional<double> ir;
    };
    const auto cutoff = TEndReason::Cutoff;
    const struct {
        const char* name;
        std::vector<TIn> tests;  // in the order recorded
        std::optional<double> rated;
        std::optional<double> capacity, ir, soh;
        int lastEndMin;
    } cases[] = {
        {"a newer test stopped by the operator measures no capacity, nor a fade",
         {{0, cutoff, 2.0, 0.05}, {60, TEndReason::Operator, 0.5, 0.06}},
         {},
         2.0,
         0.06,
         {},
         60},
        {"a test ended by its timer measures none either",
         {{0, TEndReason::Time, 1.0, 0.05}},
         2.0,
         {},
         0.05,
         {},
         0},
        {"the newest cutoff test gives the capacity, the first the health's base",
         {{0, cutoff, 2.0, 0.05}, {60, cutoff, 1.8, 0.06}},
         {},
         1.8,
         0.06,
         90,
         60},
        {"two cutoff tests of the same capacity: no fade",
         {{0, cutoff, 2.0, 0.05}, {60, cutoff, 2.0, 0.05}},
         {},
         2.0,
         0.05,
         100,
         60},
        {"the newest known resistance stays when a newer test measured none",
         {{0, cutoff, 2.0, 0.05}, {60, cutoff, 1.9, {}}},
         {},
         1.9,
         0.05,
         95,
         60},
        {"a rating is the health's base", {{0, cutoff, 2.0, {}}}, 2.5, 2.0, {}, 80, 0},
        {"an older test recorded later does not replace newer figures",
         {{60, cutoff, 1.8, 0.07}, {0, cutoff, 2.0, 0.05}, {-60, TEndReason::Tester, 0.1, 0.03}},
         {},
         1.8,
         0.07,
         90,
         60},
    };
    for (const auto& c : cases) {
        const TFolder folder;
        const auto cells = TRegister::Open(folder / "register.sqlite");
        if (c.rated) cells->Rate("C", *c.rated);
        for (const TIn& in : c.tests)
            cells->Record(ATest("C", in.endMin, in.reason, in.ah, in.ir), "");
        const auto all = cells->Cells();
        ASSERT_EQ(all.size(), 1u) << c.name;
        const TCellSummary& cell = all[0];
        EXPECT_EQ(cell.Tests, static_cast<int64_t>(c.tests.size())) << c.name;
        EXPECT_EQ(cell.CapacityAh, c.capacity) << c.name;
        EXPECT_EQ(cell.IrOhm, c.ir) << c.name;
        EXPECT_EQ(cell.RatedAh, c.rated) << c.name;
        ASSERT_EQ(cell.SohPct.has_value(), c.soh.has_value()) << c.name;
        if (c.soh) {
            EXPECT_NEAR(*cell.SohPct, *c.soh, 1e-9) << c.name;
        }
        const auto history = cells->Cell("C");
        ASSERT_TRUE(history) << c.name;
        const TJsonParsed last = ParseJson(VerdictJson(ATest("C", c.lastEndMin, cutoff, 0)));
        EXPECT_EQ(cell.LastTested, *last.Value->Find("end")->String()) << c.name;
        // Newest first, by end.
        for (size_t i = 1; i < history->Tests.size(); ++i) {
            EXPECT_GE(history->Tests[i - 1].Summary.End.DateTime,
                      history->Tests[i].Summary.End.DateTime)
                << c.name;
        }
    }
}

TEST(Register, EveryFieldOfAVerdictReadsBackAsItsFileHoldsIt) {
    const TTestSummary test = EveryFieldKnown("C", 0);
    for (const TVerdictField& field : VerdictFields()) {
        EXPECT_FALSE(std::holds_alternative<std::monostate>(VerdictValue(field, test)))
            << field.Key << " is not known in the test";
    }
    const TFolder folder;
    const auto cells = TRegister::Open(folder / "register.sqlite");
    cells->Record(test, "/logs/b_test1.json");
    const auto history = cells->Cell("C");
    ASSERT_TRUE(history);
    ASSERT_EQ(history->Tests.size(), 1u);
    EXPECT_EQ(VerdictJson(history->Tests[0].Summary), VerdictJson(test));
    EXPECT_EQ(history->Tests[0].SummaryFile, "/logs/b_test1.json");
}

// A row changed by hand or damaged on disk is said, naming the register and the row; it never
// becomes a plausible test (stopped at the tester, on 30 December 1899, of 0 Ah).
TEST(Register, DamagedRowIsSaidNotTakenForAPlausibleTest) {
    const struct {
        const char* damage;
        const char* said;
    } cases[] = {
        {"UPDATE tests SET reason = 'exploded'",
         "the test with id 1 is damaged: reason 'exploded' is not a reason"},
        {"UPDATE tests SET end_text = 'yesterday'",
         "the test with id 1 is damaged: end 'yesterday' is not a moment"},
        {"UPDATE tests SET ah = 'lots'", "the test with id 1 is damaged: ah holds \"lots\""},
        {"UPDATE tests SET logs = '[1]'", "the test with id 1 is damaged: logs lists something"},
        {"UPDATE cells SET capacity_ah = 'much'",
         "the cell \"C\" is damaged: capacity_ah holds \"much\""},
    };
    for (const auto& c : cases) {
        const TFolder folder;
        const std::string path = folder / "register.sqlite";
        TRegister::Open(path)->Record(ATest("C", 0, TEndReason::Cutoff, 2.0, 0.05), "");
        OpenSqliteDatabase(path)->Run(c.damage, {});
        try {
            TRegister::Open(path)->Cell("C");
            ADD_FAILURE() << c.damage << ": read";
        } catch (const TRegisterError& error) {
            const std::string said = error.what();
            EXPECT_EQ(said.rfind(path + ": ", 0), 0u) << said;
            EXPECT_NE(said.find(c.said), std::string::npos) << said;
        }
    }
}

TEST(Register, AssigningATestMovesItsFiguresToTheOtherCell) {
    const TFolder folder;
    const auto cells = TRegister::Open(folder / "register.sqlite");
    cells->Record(ATest("A", 0, TEndReason::Cutoff, 2.0, 0.05), "");
    cells->Record(ATest("A", 60, TEndReason::Cutoff, 1.5, 0.09), "");
    const auto a = cells->Cell("A");
    ASSERT_TRUE(a);
    const int64_t newest = a->Tests.front().Id;
    EXPECT_TRUE(cells->Assign(newest, "B"));
    EXPECT_FALSE(cells->Assign(newest + 1000, "B"));
    const auto all = cells->Cells();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].Cell, "A");
    EXPECT_EQ(all[0].Tests, 1);
    EXPECT_EQ(all[0].CapacityAh, 2.0);
    EXPECT_EQ(all[0].IrOhm, 0.05);
    EXPECT_EQ(all[1].Cell, "B");
    EXPECT_EQ(all[1].Tests, 1);
    EXPECT_EQ(all[1].CapacityAh, 1.5);
    EXPECT_EQ(cells->Cell("B")->Tests.front().Summary.Cell, "B");
    EXPECT_FALSE(cells->Cell("nobody's"));
}

TEST(Register, SchemaIsMadeInAnEmptyFileAndOnlyARegisterIsOpened) {
    const TFolder folder;
    const std::string empty = folder / "new folder/empty.sqlite";
    fs::create_directories(folder / "new folder");
    WriteFile(empty, "");
    TRegister::Open(empty)->Record(ATest("C", 0, TEndReason::Cutoff, 1), "");
    EXPECT_EQ(TestsOf(*TRegister::Open(empty), "C"), 1);  // reopened, nothing lost
    // Made with its folder where neither is.
    EXPECT_EQ(TRegister::Open(folder / "a/b/register.sqlite")->Cells().size(), 0u);

    const std::string other = folder / "other.sqlite";
    OpenSqliteDatabase(other)->Run("CREATE TABLE photos (name TEXT)", {});
    const std::string newer = folder / "newer.sqlite";
    TRegister::Open(newer);
    OpenSqliteDatabase(newer)->Run("UPDATE register_schema SET version = 99", {});
    for (const std::string& path : {other, newer}) {
        const std::string before = FileBytes(path);
        try {
            TRegister::Open(path);
            ADD_FAILURE() << path << " opened";
        } catch (const TRegisterError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(path + ": ", 0), 0u) << error.what();
        }
        EXPECT_EQ(FileBytes(path), before) << path;
    }
}

TEST(Register, DamagedOrMisplacedRegisterRaisesAndRecordsNothing) {
    const TFolder folder;
    const std::string damaged = folder / "damaged.sqlite";
    {
        const auto cells = TRegister::Open(damaged);
        std::vector<TRegister::TToRecord> many;
        for (int i = 0; i < 300; ++i) {
            many.push_back({ATest("C" + std::to_string(i % 7), i, TEndReason::Cutoff, 1), ""});
        }
        cells->RecordAll(many);
    }
    std::string bytes = FileBytes(damaged);
    ASSERT_GT(bytes.size(), 8192u);
    for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 % 251);
    WriteFile(damaged, bytes);
    WriteFile(folder / "garbage.sqlite", std::string(3000, 'x'));
    WriteFile(folder / "a file", "");
    fs::create_directories(folder / "a folder.sqlite");

    for (const std::string& path : {damaged, folder / "garbage.sqlite", folder / "a folder.sqlite",
                                    folder / "a file/register.sqlite"}) {
        const std::string before = FileBytes(path);
        try {
            const auto cells = TRegister::Open(path);
            cells->Record(ATest("new", 999, TEndReason::Cutoff, 1), "");
            ADD_FAILURE() << path << " took a record";
        } catch (const TRegisterError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(path + ": ", 0), 0u) << error.what();
        }
        EXPECT_EQ(FileBytes(path), before) << path;
    }
}

// Runs `body` where file permissions hold: in a child process as the user nobody when this runs
// as root, who may write any file; here otherwise. Its exit code, or -1.
int AsOrdinaryUser(const std::function<int()>& body) {
    if (::geteuid() != 0) return body();
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(Register, ReadOnlyRegisterIsReadButTakesNoRecord) {
    for (const bool folderToo : {false, true}) {
        const TFolder folder;
        const std::string path = folder / "register.sqlite";
        TRegister::Open(path)->Record(ATest("C", 0, TEndReason::Cutoff, 1), "");
        ::chmod(path.c_str(), 0444);
        if (::geteuid() == 0 && !folderToo) {
            ASSERT_EQ(::chown(folder.Path().c_str(), ::getpwnam("nobody")->pw_uid, 0), 0);
        }
        if (folderToo) ::chmod(folder.Path().c_str(), 0555);
        const std::string before = FileBytes(path);
        // 0: refused as it should be; 1: recorded; 2: refused in other words; 3: unreadable.
        const int outcome = AsOrdinaryUser([&] {
            try {
                const auto cells = TRegister::Open(path);
                if (!folderToo && TestsOf(*cells, "C") != 1) return 3;
                cells->Record(ATest("C", 60, TEndReason::Cutoff, 1), "");
                return 1;
            } catch (const TRegisterError& error) {
                std::fprintf(stderr, "%s\n", error.what());
                return std::string(error.what()).rfind(path + ": ", 0) == 0 ? 0 : 2;
            }
        });
        EXPECT_EQ(outcome, 0) << (folderToo ? "file and folder" : "file");
        ::chmod(folder.Path().c_str(), 0755);
        EXPECT_EQ(FileBytes(path), before);
        EXPECT_EQ(TestsOf(*TRegister::Open(path), "C"), 1);
    }
}

TEST(Register, RegistersRecordingAtOnceLoseNothing) {
    const TFolder folder;
    const std::string path = folder / "register.sqlite";  // new: each opening makes it
    constexpr int kThreads = 4, kEach = 40;
    std::latch start(kThreads);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            try {
                const auto cells = TRegister::Open(path);
                for (int i = 0; i < kEach; ++i) {
                    const std::string port = "ttyUSB" + std::to_string(t);
                    if (cells->Record(ATest("C", i, TEndReason::Cutoff, 1.0 + i, {}, port), "") !=
                        TRecordOutcome::Added) {
                        ++failures;
                    }
                }
            } catch (const TRegisterError& error) {
                std::fprintf(stderr, "%s\n", error.what());
                ++failures;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    const auto cells = TRegister::Open(path);
    EXPECT_EQ(TestsOf(*cells, "C"), kThreads * kEach);
    EXPECT_EQ(cells->Cells().at(0).CapacityAh, 1.0 + kEach - 1);
}

TEST(Register, ImportTakesVerdictFilesFromFoldersAndNamesTheUnreadable) {
    const TFolder folder;
    fs::create_directories(folder / "logs/older");
    TTestSummary named = ATest("A", 0, TEndReason::Cutoff, 1);
    TTestSummary unnamed = ATest("A", 60, TEndReason::Cutoff, 2);
    unnamed.Station.clear();
    WriteFile(folder / "logs/Log_1_test1.json", VerdictJson(named));
    WriteFile(folder / "logs/older/Log_2_test1.json", VerdictJson(unnamed));
    WriteFile(folder / "logs/settings.json", VerdictJson(ATest("A", 120, TEndReason::Cutoff, 3)));
    WriteFile(folder / "logs/Log_3_test1.json", "{\"reason\":\"cutoff\"}");
    WriteFile(folder / "logs/Log_4_test1.json", std::string(3 << 20, ' ') + VerdictJson(named));
    const auto cells = TRegister::Open(folder / "register.sqlite");
    const TImportResult result =
        cells->Import({folder / "logs", folder / "missing_test1.json"}, "bench-7");
    EXPECT_EQ(result.Imported, 2);
    EXPECT_EQ(result.AlreadyThere, 0);
    EXPECT_EQ(result.Unreadable, (std::vector<std::string>{folder / "missing_test1.json",
                                                           folder / "logs/Log_3_test1.json",
                                                           folder / "logs/Log_4_test1.json"}));
    const auto history = cells->Cell("A");
    ASSERT_TRUE(history);
    ASSERT_EQ(history->Tests.size(), 2u);
    EXPECT_EQ(history->Tests[0].Summary.Station, "bench-7");  // it named none
    EXPECT_EQ(history->Tests[0].SummaryFile, folder / "logs/older/Log_2_test1.json");
    EXPECT_EQ(history->Tests[1].Summary.Station, "bench-1");
}

TEST(Register, CsvQuotesNamesAndLeavesUnknownFiguresEmpty) {
    std::vector<TCellSummary> cells(3);
    cells[0].Cell = "B-17";
    cells[0].Tests = 3, cells[0].CapacityAh = 2.512, cells[0].IrOhm = 0.0412,
    cells[0].SohPct = 96.6, cells[0].LastTested = "2026-12-08T14:03:12+01:00";
    cells[1].Cell = "pack 2, \"left\"";
    cells[2].Cell = "line\nbreak";
    EXPECT_EQ(CellsCsv(cells),
              "cell,capacity_mah,ir_mohm,soh_pct,tests,last_tested\n"
              "B-17,2512,41.2,96.6,3,2026-12-08T14:03:12+01:00\n"
              "\"pack 2, \"\"left\"\"\",,,,0,\n"
              "\"line\nbreak\",,,,0,\n");
}

}  // namespace
