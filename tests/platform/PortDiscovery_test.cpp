// Finding ports: the hardware rule on a made-up sysfs tree, the virtual folder on the real file
// system, publishing entries in it, and ListSerialPorts over both.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/PortDiscovery.h"
#include "platform/PortNames.h"
#include "platform/PseudoTerminal.h"
#include "platform/VirtualPorts.h"
#include "support/CommonTools.h"
#include "tests/platform/TestRuntimeFolder.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class PortDiscovery : public ::testing::Test {
  protected:
    void SetUp() override { folder_ = test_ports::FreshVirtualPortFolder(); }

    // Entries in the order the folder gives them, as a directory listing sees it.
    Names DirectoryOrder() const {
        Names names;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    std::string folder_;
};

TEST(HardwarePortRule, PlaceholdersAndVirtualTerminalsAreNotPorts) {
    struct Case {
        const char* what;
        bool device;
        const char* type;  // content of the "type" attribute; null: no such attribute
        bool port;
    };
    const Case cases[] = {
        {"virtual console: no device behind it", false, nullptr, false},
        {"USB adapter: a device, not a serial-core port", true, nullptr, true},
        {"8250 placeholder: no UART answered", true, "0\n", false},
        {"8250 port with a 16550A", true, "4\n", true},
        {"serial-core attribute but no device", false, "4\n", false},
    };
    const fs::path root = fs::temp_directory_path() / "kelvo-fake-sysfs";
    for (const Case& c : cases) {
        fs::remove_all(root);
        fs::create_directories(root / "ttyX");
        if (c.device) {
            fs::create_directories(root / "parent");
            fs::create_directory_symlink(root / "parent", root / "ttyX" / "device");
        }
        if (c.type != nullptr) std::ofstream(root / "ttyX" / "type") << c.type;
        EXPECT_EQ(IsHardwarePort((root / "ttyX").string(), "/dev/kelvo-no-such-node"), c.port)
            << c.what;
    }
    fs::remove_all(root);
}

TEST(HardwarePortRule, EnumerationLeavesOutVirtualTerminals) {
    const Names names = HardwarePortNames();
    for (const std::string& name : names) {
        EXPECT_NE(name, "tty");
        EXPECT_NE(name, "console");
        EXPECT_NE(name, "ptmx");
        EXPECT_FALSE(name.size() > 3 && name.rfind("tty", 0) == 0 &&
                     std::all_of(name.begin() + 3, name.end(),
                                 [](unsigned char c) { return std::isdigit(c) != 0; }))
            << name << " is a virtual console";
    }
}

TEST_F(PortDiscovery, VirtualEntriesAreListedInFolderOrderAfterHardware) {
    PseudoTerminal terminal;
    EnsureVirtualPortFolder();
    for (const char* name : {"ttyKELVO3", "ttyKELVO0", "bench-b", "ttyKELVO10", "A"}) {
        fs::create_symlink(terminal.SlavePath(), folder_ + "/" + name);
    }
    const Names expected = DirectoryOrder();
    EXPECT_EQ(VirtualPortNames(), expected);

    Names all = HardwarePortNames();
    all.insert(all.end(), expected.begin(), expected.end());
    EXPECT_EQ(SerialPortNames(), all);

    Names reported;
    ListSerialPorts(
        [](const char* name, void* context) { static_cast<Names*>(context)->emplace_back(name); },
        &reported);
    EXPECT_EQ(reported, all);
}

TEST_F(PortDiscovery, NullCallbackStillSearchesWithoutCrashing) {
    EnsureVirtualPortFolder();
    fs::create_symlink("/dev/null", folder_ + "/ttyKELVO0");
    ListSerialPorts(nullptr, this);
}

TEST_F(PortDiscovery, LinkLeftByAKilledPublisherIsNotListed) {
    EnsureVirtualPortFolder();
    fs::create_symlink("/dev/pts/kelvo-gone", folder_ + "/ttyStale");
    fs::create_symlink("/dev/null", folder_ + "/ttyLive");
    EXPECT_EQ(VirtualPortNames(), Names{"ttyLive"});
}

TEST_F(PortDiscovery, FolderOthersCanWriteToIsNotTrusted) {
    EnsureVirtualPortFolder();
    fs::create_symlink("/dev/null", folder_ + "/ttyKELVO0");
    fs::permissions(folder_, fs::perms::all);
    EXPECT_TRUE(VirtualPortNames().empty());
    EXPECT_THROW(EnsureVirtualPortFolder(), std::runtime_error);
}

TEST_F(PortDiscovery, FolderThatIsALinkIsNotTrusted) {
    const std::string elsewhere = folder_ + "-elsewhere";
    fs::remove_all(elsewhere);
    fs::create_directory(elsewhere);
    fs::permissions(elsewhere, fs::perms::owner_all);
    fs::create_symlink("/dev/null", elsewhere + "/ttyKELVO0");
    fs::create_directory_symlink(elsewhere, folder_);
    EXPECT_TRUE(VirtualPortNames().empty());
    EXPECT_THROW(EnsureVirtualPortFolder(), std::runtime_error);
    fs::remove_all(elsewhere);
}

TEST_F(PortDiscovery, MissingFolderListsNothingAndIsMadePrivate) {
    EXPECT_TRUE(VirtualPortNames().empty());
    EnsureVirtualPortFolder();
    EXPECT_EQ(fs::status(folder_).permissions(), fs::perms::owner_all);
}

TEST_F(PortDiscovery, PublishedNameLeadsToItsTerminal) {
    PseudoTerminal terminal;
    {
        const PublishedPort port("ttyKELVO0", terminal.SlavePath());
        EXPECT_EQ(port.Path(), folder_ + "/ttyKELVO0");
        EXPECT_EQ(DevicePathFor("ttyKELVO0"), port.Path());
        EXPECT_EQ(fs::canonical(DevicePathFor("ttyKELVO0")), fs::canonical(terminal.SlavePath()));
        EXPECT_EQ(VirtualPortNames(), Names{"ttyKELVO0"});
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder_ + "/ttyKELVO0")));
    EXPECT_EQ(DevicePathFor("ttyKELVO0"), "/dev/ttyKELVO0");
}

TEST_F(PortDiscovery, PublishingRefusesNamesOutsideTheFolder) {
    for (const char* name : {"", ".", "..", "a/b", "/ttyS0", "../ttyKELVO0"}) {
        EXPECT_THROW(PublishedPort(name, "/dev/null"), std::invalid_argument) << '"' << name << '"';
    }
}

TEST_F(PortDiscovery, PublishingRefusesANameInUseAndReplacesAStaleOne) {
    const PublishedPort first("ttyKELVO0", "/dev/null");
    EXPECT_THROW(PublishedPort("ttyKELVO0", "/dev/zero"), std::runtime_error);
    EXPECT_EQ(fs::read_symlink(first.Path()), "/dev/null");

    fs::create_symlink("/dev/pts/kelvo-gone", folder_ + "/ttyKELVO1");
    const PublishedPort second("ttyKELVO1", "/dev/zero");
    EXPECT_EQ(fs::read_symlink(second.Path()), "/dev/zero");

    // Left by a killed publisher whose terminal number was given to the new one's terminal.
    fs::create_symlink("/dev/full", folder_ + "/ttyKELVO2");
    const PublishedPort third("ttyKELVO2", "/dev/full");
    EXPECT_EQ(fs::read_symlink(third.Path()), "/dev/full");
}

TEST_F(PortDiscovery, UnpublishingLeavesALinkThatWasReplacedMeanwhile) {
    std::string path;
    {
        const PublishedPort port("ttyKELVO0", "/dev/null");
        path = port.Path();
        fs::remove(path);
        fs::create_symlink("/dev/zero", path);
    }
    EXPECT_EQ(fs::read_symlink(path), "/dev/zero");
}

}  // namespace
}  // namespace platform
