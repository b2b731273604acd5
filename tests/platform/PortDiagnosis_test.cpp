// Explaining port errors: the wording of every case from made-up facts, the facts themselves from
// real processes holding real pseudo-terminals and from real files, and recognising an adapter.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/PortDiagnosis.h"
#include "platform/PortIdentity.h"
#include "platform/PseudoTerminal.h"
#include "platform/SysError.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void ExpectParts(const std::string& text, const Texts& present, const Texts& absent,
                 const char* what) {
    for (const std::string& part : present) {
        EXPECT_TRUE(Has(text, part)) << what << ": lacks \"" << part << "\" in: " << text;
    }
    for (const std::string& part : absent) {
        EXPECT_FALSE(Has(text, part)) << what << ": has \"" << part << "\" in: " << text;
    }
}

// ---- wording ---------------------------------------------------------------------------------

PortFacts Facts(const char* name, int error, NodeAccess access = {},
                std::vector<PortHolder> holders = {}, bool brltty = false) {
    return {name,  std::string("/dev/") + name, error, std::move(access), std::move(holders),
            brltty};
}

NodeAccess Node(const char* group, unsigned mode, GroupMembership membership,
                const char* owner = "root") {
    return {true, owner, group, mode, "alice", std::string(owner) == "alice", false, membership};
}

TEST(PortErrorWording, EachCaseNamesItsFactsAndRemedy) {
    using M = GroupMembership;
    NodeAccess root = Node("dialout", 0600, M::kNone);
    root.superuser = true;
    const struct {
        const char* what;
        PortFacts facts;
        Texts present;
        Texts absent;
    } cases[] = {
        {"user not in the group",
         Facts("ttyUSB0", EACCES, Node("dialout", 0660, M::kNone)),
         {"/dev/ttyUSB0", "dialout", "alice", "sudo usermod -aG dialout alice", "log out"},
         {}},
        {"added to the group after logging in",
         Facts("ttyUSB0", EACCES, Node("dialout", 0660, M::kAccountOnly)),
         {"alice", "dialout", "Log out and log in again"},
         {"usermod"}},
        {"in the group, but its mode leaves the group out",
         Facts("ttyUSB0", EACCES, Node("dialout", 0600, M::kSession)),
         {"/dev/ttyUSB0", "owner root", "group dialout", "mode 0600", "MODE=\"0660\""},
         {"usermod", "log out"}},
        {"joining would not help: the group may only write",
         Facts("ttyUSB0", EACCES, Node("tty", 0620, M::kNone)),
         {"mode 0620", "group tty"},
         {"usermod"}},
        {"owner whose own bits leave it out",
         Facts("ttyUSB0", EACCES, Node("dialout", 0060, M::kSession, "alice")),
         {"mode 0060", "does not let its owner"},
         {"usermod", "log out"}},
        {"mode lets the user in: a policy refuses",
         Facts("ttyUSB0", EPERM, root),
         {"/dev/ttyUSB0", "mode 0600", "AppArmor", "container"},
         {"usermod", "log out"}},
        {"node that cannot be examined",
         Facts("ttyUSB0", EACCES, NodeAccess{}),
         {"Permission denied", "/dev/ttyUSB0"},
         {"group", "usermod"}},
        {"another window of this console",
         Facts("ttyUSB0", EBUSY, {}, {{812, "ModemManager", false}, {1234, "kelvo", true}}),
         {"another window", "1234", "Disconnect"},
         {"ModemManager"}},
        {"ModemManager probing",
         Facts("ttyUSB0", EBUSY, {}, {{700, "minicom", false}, {812, "ModemManager", false}}),
         {"ModemManager (process 812)", "Wait a moment", "ID_MM_DEVICE_IGNORE=1",
          "sudo systemctl stop ModemManager"},
         {"minicom"}},
        {"another program",
         Facts("ttyUSB0", EBUSY, {}, {{4321, "minicom", false}}),
         {"ttyUSB0", "minicom (process 4321)", "Close that program"},
         {"more"}},
        {"holder that cannot be seen",
         Facts("ttyUSB0", EBUSY),
         {"ttyUSB0 is busy", "fuser -v /dev/ttyUSB0"},
         {}},
        {"unplugged with brltty running",
         Facts("ttyUSB0", EIO, {}, {}, true),
         {"ttyUSB0 is gone", "unplugged", "brltty", "braille"},
         {}},
        {"unplugged without brltty", Facts("ttyUSB1", ENXIO), {"ttyUSB1 is gone"}, {"brltty"}},
        {"simulator ended",
         Facts("ttyKELVO0", ENOENT, {}, {}, true),
         {"ttyKELVO0 is gone", "program behind the port ended"},
         {"brltty"}},
        {"any other error",
         Facts("ttyUSB0", EINVAL),
         {"ttyUSB0: ", SysErrorMessage(EINVAL), "(error 22)"},
         {}},
    };
    for (const auto& c : cases) {
        const std::string text = WordPortError(c.facts);
        ExpectParts(text, c.present, c.absent, c.what);
        ASSERT_FALSE(text.empty()) << c.what;
        EXPECT_EQ(text.back(), '.') << c.what << ": not a complete sentence: " << text;
    }
}

// ---- holders ---------------------------------------------------------------------------------

int OpenTerminal(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path);
    return fd;
}

// A child, `sleep 60`, that holds `path` open until End(). The constructor returns once the
// child runs its program: the end of a close-on-exec pipe tells.
class HoldingProcess {
  public:
    explicit HoldingProcess(const std::string& path) {
        const int fd = OpenTerminal(path);
        int started[2];
        if (::pipe2(started, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::dup2(fd, 40) == 40) {  // a copy without close-on-exec
                ::execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        ::close(fd);
        ::close(started[1]);
        char none = 0;
        while (pid_ > 0 && ::read(started[0], &none, 1) < 0 && errno == EINTR) {
        }
        ::close(started[0]);
        if (pid_ < 0) throw std::runtime_error("cannot fork");
    }
    ~HoldingProcess() { End(); }

    int Pid() const { return static_cast<int>(pid_); }

    // Kills and reaps the child: when this returns, it is gone from /proc.
    void End() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

// A private folder for links, removed at the end.
class ScratchFolder {
  public:
    ScratchFolder()
        : path_(fs::temp_directory_path() /
                ("kelvo-port-diagnosis-" + std::to_string(::getpid()))) {
        fs::remove_all(path_);
        fs::create_directory(path_);
    }
    ~ScratchFolder() { fs::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

TEST(PortHolders, OtherProcessIsNamedWithItsPidUntilItEnds) {
    PseudoTerminal terminal;
    ScratchFolder scratch;
    const std::string link = scratch / "ttyKELVO0";
    fs::create_symlink(terminal.SlavePath(), link);
    HoldingProcess sleeper(terminal.SlavePath());

    const std::vector<PortHolder> holders = PortHolders(terminal.SlavePath());
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, sleeper.Pid());
    EXPECT_EQ(holders[0].name, "sleep");
    EXPECT_FALSE(holders[0].sameProgram);
    EXPECT_TRUE(IsProcessRunning("sleep"));
    EXPECT_FALSE(IsProcessRunning("kelvo-no-such"));

    const std::vector<PortHolder> throughLink = PortHolders(link);
    ASSERT_EQ(throughLink.size(), 1u) << "the link was not followed to the terminal";
    EXPECT_EQ(throughLink[0].pid, sleeper.Pid());

    const std::string text = ExplainPortError("ttyKELVO0", link, EBUSY);
    EXPECT_TRUE(Has(text, "sleep (process " + std::to_string(sleeper.Pid()) + ")")) << text;

    sleeper.End();
    EXPECT_TRUE(PortHolders(terminal.SlavePath()).empty());
    EXPECT_TRUE(PortHolders(link).empty());
}

// ---- identity --------------------------------------------------------------------------------

PortIdentity Id(const char* path, const char* serial) {
    return {path, serial, "QinHeng", "CH340"};
}

TEST(PortIdentity, SerialDecidesBeforeSocketAndUnknownNeverMatches) {
    const struct {
        const char* what;
        PortIdentity a;
        PortIdentity b;
        bool same;
    } cases[] = {
        {"same serial, new socket", Id("usb-0:1", "A1"), Id("usb-0:2", "A1"), true},
        {"other serial, same socket", Id("usb-0:1", "A1"), Id("usb-0:1", "B2"), false},
        {"no serials, same socket", Id("usb-0:1", ""), Id("usb-0:1", ""), true},
        {"no serials, other socket", Id("usb-0:1", ""), Id("usb-0:2", ""), false},
        {"one serial: the socket decides", Id("usb-0:1", "A1"), Id("usb-0:1", ""), true},
        {"vendor and product only", Id("", ""), Id("", ""), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameAdapter(c.a, c.b), c.same) << c.what;
        EXPECT_EQ(SameAdapter(c.b, c.a), c.same) << c.what << " (swapped)";
    }
}

}  // namespace
}  // namespace platform
