// The sources of arrival and removal: a real inotify watch on the virtual port folder, and the
// udev monitor where no udev daemon may run.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/HotPlug.h"
#include "platform/PseudoTerminal.h"
#include "platform/VirtualPorts.h"
#include "tests/platform/TestRuntimeFolder.h"

namespace platform {

bool operator==(const DeviceChange& a, const DeviceChange& b) {
    return a.eventCode == b.eventCode && a.deviceType == b.deviceType && a.name == b.name;
}

void PrintTo(const DeviceChange& change, std::ostream* out) {
    *out << std::hex << "{0x" << change.eventCode << ", " << change.deviceType << ", "
         << change.name << "}";
}

namespace {

namespace fs = std::filesystem;
using Changes = std::vector<DeviceChange>;

constexpr auto kBound = std::chrono::seconds(5);  // generous: only reached when events are lost

DeviceChange Arrival(const std::string& name, uint32_t type = kDeviceTypePort) {
    return {kDeviceArrival, type, name};
}
DeviceChange Removal(const std::string& name, uint32_t type = kDeviceTypePort) {
    return {kDeviceRemoveComplete, type, name};
}

// Reads events until `count` have come or the bound passes.
Changes WaitForEvents(VirtualPortWatch& watch, size_t count) {
    Changes changes;
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (changes.size() < count && std::chrono::steady_clock::now() < deadline) {
        for (DeviceChange& change : watch.ReadEvents()) changes.push_back(std::move(change));
        if (changes.size() < count) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return changes;
}

class VirtualPortWatchTest : public ::testing::Test {
  protected:
    void SetUp() override { folder_ = test_ports::FreshVirtualPortFolder(); }
    std::string folder_;
};

TEST_F(VirtualPortWatchTest, MissingFolderIsMadePrivateAndQuiet) {
    VirtualPortWatch watch;
    EXPECT_EQ(fs::status(folder_).permissions(), fs::perms::owner_all);
    EXPECT_GE(watch.Descriptor(), 0);
    EXPECT_TRUE(watch.ReadEvents().empty());
}

TEST_F(VirtualPortWatchTest, PublishedTerminalArrivesAndGoes) {
    VirtualPortWatch watch;
    PseudoTerminal terminal;
    {
        const PublishedPort port("ttyKELVO0", terminal.SlavePath());
        EXPECT_EQ(WaitForEvents(watch, 1), Changes{Arrival("ttyKELVO0")});
    }
    EXPECT_EQ(WaitForEvents(watch, 1), Changes{Removal("ttyKELVO0")});
}

TEST_F(VirtualPortWatchTest, EntriesMovedInAndOutArriveAndGo) {
    VirtualPortWatch watch;
    const fs::path outside = fs::path(folder_).parent_path() / "ttyMoved";
    fs::remove(outside);
    fs::create_symlink("/dev/null", outside);
    fs::rename(outside, folder_ + "/ttyMoved");
    fs::rename(folder_ + "/ttyMoved", folder_ + "/ttyRenamed");
    fs::rename(folder_ + "/ttyRenamed", outside);
    fs::remove(outside);
    EXPECT_EQ(WaitForEvents(watch, 4), (Changes{Arrival("ttyMoved"), Removal("ttyMoved"),
                                                Arrival("ttyRenamed"), Removal("ttyRenamed")}));
}

TEST_F(VirtualPortWatchTest, SubfolderIsNoPort) {
    VirtualPortWatch watch;
    fs::create_directory(folder_ + "/notes");
    fs::remove(folder_ + "/notes");
    EXPECT_EQ(WaitForEvents(watch, 2),
              (Changes{Arrival("notes", kDeviceTypeOther), Removal("notes", kDeviceTypeOther)}));
}

TEST_F(VirtualPortWatchTest, FolderDeletedWhileWatchedIsMadeAgainAndStillWatched) {
    VirtualPortWatch watch;
    fs::create_symlink("/dev/null", folder_ + "/ttyKELVO0");
    EXPECT_EQ(WaitForEvents(watch, 1), Changes{Arrival("ttyKELVO0")});

    fs::remove_all(folder_);
    EXPECT_EQ(WaitForEvents(watch, 1), Changes{Removal("ttyKELVO0")});
    // The folder comes back on the read that sees the old watch go; read until then.
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (!fs::exists(folder_) && std::chrono::steady_clock::now() < deadline) {
        EXPECT_TRUE(watch.ReadEvents().empty());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(fs::exists(folder_));

    const PublishedPort port("ttyKELVO1", "/dev/null");
    EXPECT_EQ(WaitForEvents(watch, 1), Changes{Arrival("ttyKELVO1")});
}

TEST(UdevPortMonitor, WorksOrStaysQuietWithoutADaemon) {
    UdevPortMonitor monitor;
    // No tty device comes or goes during the test; whether udev runs or not, nothing is pending
    // and reading does not block.
    EXPECT_TRUE(monitor.ReadEvents().empty());
    EXPECT_TRUE(monitor.ReadEvents().empty());
}

}  // namespace
}  // namespace platform
