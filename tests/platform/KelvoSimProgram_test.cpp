// The kelvo-sim program as a user runs it: it publishes its tester in the virtual port folder,
// answers there, and takes the entry away when it is stopped; bad options publish nothing.

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <filesystem>

#include "platform/PortNames.h"
#include "platform/RawTerminalClient.h"
#include "platform/Signals.h"
#include "tests/platform/TestRuntimeFolder.h"

namespace {

namespace fs = std::filesystem;

constexpr int kBoundMs = 10000;  // generous: only reached when something is wrong

// The simulator program, stopped with SIGKILL if a test leaves it running.
class SimProgram {
  public:
    explicit SimProgram(const QStringList& arguments) {
        process_.setProgram(KELVO_SIM_PROGRAM);
        process_.setArguments(arguments);
        process_.start();
    }
    ~SimProgram() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kBoundMs);
        }
    }

    // The first line it prints: the published path, once the entry is in place.
    std::string PublishedPath() {
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(kBoundMs)) return {};
        }
        return process_.readLine().trimmed().toStdString();
    }

    // Runs to its end; returns the exit code, or -1 when it crashed or did not end.
    int Finish() {
        if (!process_.waitForFinished(kBoundMs)) return -1;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    bool Stop(platform::EndSignal signal) {
        return platform::SendEndSignal(process_.processId(), signal);
    }

    QByteArray ErrorText() { return process_.readAllStandardError(); }

  private:
    QProcess process_;
};

class KelvoSimProgram : public ::testing::Test {
  protected:
    void SetUp() override { folder_ = test_ports::FreshVirtualPortFolder(); }
    bool FolderHasEntries() const { return fs::exists(folder_) && !fs::is_empty(folder_); }
    std::string folder_;
};

TEST_F(KelvoSimProgram, EntryServesTheTesterAndIsRemovedOnEitherStopSignal) {
    for (const platform::EndSignal signal :
         {platform::EndSignal::Terminate, platform::EndSignal::Interrupt,
          platform::EndSignal::HangUp}) {
        SimProgram sim({"--name", "ttySIMTEST", "--seed=3"});
        const std::string path = sim.PublishedPath();
        ASSERT_EQ(path, folder_ + "/ttySIMTEST") << sim.ErrorText().constData();
        EXPECT_TRUE(fs::is_symlink(path));
        EXPECT_EQ(platform::DevicePathFor("ttySIMTEST"), path);

        // Read 0x10 through the published entry: the tester behind it answers.
        platform::RawTerminalClient console(path);
        ASSERT_TRUE(console.Write({0xB1, 0xB2, 0x10, 0x00, 0x00, 0xB6}));
        const std::vector<uint8_t> answer = console.Read(7, kBoundMs);
        ASSERT_EQ(answer.size(), 7u);
        EXPECT_EQ(answer[0], 0xCA);
        EXPECT_EQ(answer[6], 0xCF);

        ASSERT_TRUE(sim.Stop(signal));
        EXPECT_EQ(sim.Finish(), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    }
}

TEST_F(KelvoSimProgram, BadOptionsAreRefusedBeforeAnythingIsPublished) {
    const QStringList refused[] = {
        {"--name", ""},
        {"--name", "a/b"},
        {"--name=../ttyS0"},
        {"--name", ".."},
        {"--name"},
        {"--acceleration", "0"},
        {"--noise", "1.5"},
        {"--drop", "-0.1"},
        {"--late-ms", "soon"},
        {"--baud", "-9600"},
        {"--capacity", "nan"},
        {"--empty-voltage", "4.3"},
        {"--seed", "7x"},
        {"--start-late", "-1"},
        {"--current", "256"},
        {"--current", "1,5"},
        {"--running-since", "921600", "--current", "1"},
        {"--bogus"},
        {"stray"},
    };
    for (const QStringList& arguments : refused) {
        SimProgram sim(arguments);
        EXPECT_EQ(sim.Finish(), 2) << arguments.join(' ').toStdString();
        EXPECT_FALSE(FolderHasEntries()) << arguments.join(' ').toStdString();
    }
}

TEST_F(KelvoSimProgram, RunningSinceWithoutCurrentIsRefusedNamingWhatIsMissing) {
    // Else the test would run at 0 A: shown running, and never drawing a thing.
    SimProgram sim({"--running-since", "600"});
    EXPECT_EQ(sim.Finish(), 2);
    EXPECT_TRUE(sim.ErrorText().contains("needs --current"));
    EXPECT_FALSE(FolderHasEntries());
}

TEST_F(KelvoSimProgram, SecondSimulatorCannotTakeANameInUse) {
    SimProgram first({"--name", "ttySIMTEST"});
    const std::string path = first.PublishedPath();
    ASSERT_FALSE(path.empty());
    const fs::path target = fs::read_symlink(path);

    SimProgram second({"--name", "ttySIMTEST"});
    EXPECT_EQ(second.Finish(), 1);
    EXPECT_EQ(fs::read_symlink(path), target);

    ASSERT_TRUE(first.Stop(platform::EndSignal::Terminate));
    EXPECT_EQ(first.Finish(), 0);
}

TEST_F(KelvoSimProgram, HelpNamesEveryOption) {
    QProcess help;
    help.start(KELVO_SIM_PROGRAM, {"--help"});
    ASSERT_TRUE(help.waitForFinished(kBoundMs));
    EXPECT_EQ(help.exitCode(), 0);
    const QString text = QString::fromUtf8(help.readAllStandardOutput());
    for (const char* option :
         {"--name", "--acceleration", "--baud", "--noise", "--drop", "--corrupt-trailer", "--late ",
          "--late-ms", "--silent", "--seed", "--capacity", "--full-voltage", "--empty-voltage",
          "--internal-resistance", "--start-late", "--current", "--running-since"}) {
        EXPECT_TRUE(text.contains(option)) << option;
    }
    EXPECT_FALSE(FolderHasEntries());
}

}  // namespace
