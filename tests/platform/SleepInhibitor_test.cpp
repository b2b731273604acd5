// The sleep lock against a login manager of the test's own: a private dbus-daemon serves as the
// system bus (DBUS_SYSTEM_BUS_ADDRESS), and a stand-in program takes org.freedesktop.login1 and
// says on its standard output what it was asked and when a lock's descriptor was closed
// everywhere. A second inhibitor serves as a probe: its call reaches the service after anything
// that happened to the first lock before it, so "no release before the probe's call" means the
// first lock was still held.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QProcess>
#include <QStringList>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/SleepInhibitor.h"
#include "tests/fixtures/DebugCapture.h"
#include "tests/fixtures/PrivateBus.h"

namespace {

constexpr int kBoundMs = 20000;  // generous: only reached when something is wrong
constexpr auto kBound = std::chrono::milliseconds(kBoundMs);
constexpr char kNotTaken[] = "sleep lock: not taken: ";

// Sets DBUS_SYSTEM_BUS_ADDRESS while it lives, and puts back what was there.
class SystemBusAddress {
  public:
    explicit SystemBusAddress(const std::string& address) {
        if (const char* old = std::getenv(kName)) old_ = old;
        setenv(kName, address.c_str(), 1);
    }
    ~SystemBusAddress() {
        if (old_) {
            setenv(kName, old_->c_str(), 1);
        } else {
            unsetenv(kName);
        }
    }
    SystemBusAddress(const SystemBusAddress&) = delete;
    SystemBusAddress& operator=(const SystemBusAddress&) = delete;

  private:
    static constexpr char kName[] = "DBUS_SYSTEM_BUS_ADDRESS";
    std::optional<std::string> old_;
};

// The stand-in login manager program (Login1StandIn.cpp), killed when the test ends.
class Login1StandIn {
  public:
    Login1StandIn(const std::string& address, const QStringList& options) {
        process_.setProgram(KELVO_LOGIN1_STAND_IN);
        process_.setArguments(QStringList{QString::fromStdString(address)} + options);
        process_.start();
    }
    ~Login1StandIn() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kBoundMs);
        }
    }
    Login1StandIn(const Login1StandIn&) = delete;
    Login1StandIn& operator=(const Login1StandIn&) = delete;

    // The next line it prints; empty when none comes within the bound.
    std::string NextLine() {
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(kBoundMs)) return {};
        }
        return process_.readLine().chopped(1).toStdString();
    }

    // Its standard error, for the failure message of a stand-in that did not get ready.
    std::string ErrorText() { return process_.readAllStandardError().toStdString(); }

  private:
    QProcess process_;
};

std::string InhibitLine(int call, const std::string& port) {
    return "inhibit " + std::to_string(call) + "\tsleep\tKelvo console\t" +
           platform::DischargeTestSleepReason(port) + "\tblock";
}

std::string ReleasedLine(int call) {
    return "released " + std::to_string(call);
}

// Acquire gives no lock, returns within the bound, and says so in one debug line.
void ExpectNoLockWithinBound() {
    DebugCapture debug;
    platform::SleepInhibitor lock;
    auto taken = std::async(std::launch::async, [&] {
        return lock.Acquire(platform::DischargeTestSleepReason("ttyUSB0"));
    });
    ASSERT_EQ(taken.wait_for(kBound), std::future_status::ready) << "Acquire held its caller";
    EXPECT_FALSE(taken.get());
    EXPECT_FALSE(lock.Held());
    EXPECT_EQ(debug.Lines().size(), 1u);
    EXPECT_EQ(debug.Count(kNotTaken), 1);
}

// A private bus as the system bus, and the stand-in login manager on it.
class SleepInhibitorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bus_ = std::make_unique<PrivateBus>();
        if (!bus_->Running()) GTEST_SKIP() << "no private D-Bus bus: " << bus_->Failure();
        address_ = std::make_unique<SystemBusAddress>(bus_->Address());
    }

    // Starts the stand-in with `options`; fails the test unless it owns its name.
    void StartLogin1(const QStringList& options = {}) {
        login1_ = std::make_unique<Login1StandIn>(bus_->Address(), options);
        const std::string first = login1_->NextLine();
        ASSERT_EQ(first, "ready") << login1_->ErrorText();
    }

    std::unique_ptr<PrivateBus> bus_;
    std::unique_ptr<SystemBusAddress> address_;
    std::unique_ptr<Login1StandIn> login1_;
};

TEST_F(SleepInhibitorTest, LockIsTakenWithTheseArgumentsAndHeldUntilReleased) {
    ASSERT_NO_FATAL_FAILURE(StartLogin1());
    platform::SleepInhibitor lock;
    ASSERT_TRUE(lock.Acquire(platform::DischargeTestSleepReason("ttyKELVO3")));
    EXPECT_TRUE(lock.Held());
    EXPECT_EQ(login1_->NextLine(), InhibitLine(1, "ttyKELVO3"));

    platform::SleepInhibitor probe;
    ASSERT_TRUE(probe.Acquire(platform::DischargeTestSleepReason("ttyUSB0")));
    EXPECT_EQ(login1_->NextLine(), InhibitLine(2, "ttyUSB0"));  // no "released 1" before it

    lock.Release();
    EXPECT_FALSE(lock.Held());
    EXPECT_EQ(login1_->NextLine(), ReleasedLine(1));
    probe = platform::SleepInhibitor();  // destroyed: its lock goes with it
    EXPECT_EQ(login1_->NextLine(), ReleasedLine(2));
}

// Every way a login manager on a working bus can fail to give a lock: absent, refusing, silent.
// Each ends in no lock, one debug line, and a caller that is not held.
TEST_F(SleepInhibitorTest, LoginManagerThatGivesNoLockLeavesNoneHeldAndSaysSoOnce) {
    struct Case {
        const char* name;
        std::optional<QStringList> options;  // none: no stand-in at all
    };
    const Case cases[] = {
        {"absent", std::nullopt},
        {"refusing", QStringList{"--refuse"}},
        {"silent", QStringList{"--silent"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        login1_.reset();
        if (c.options) {
            ASSERT_NO_FATAL_FAILURE(StartLogin1(*c.options));
        }

        ExpectNoLockWithinBound();
        if (c.options) {
            EXPECT_EQ(login1_->NextLine(), InhibitLine(1, "ttyUSB0"));
        }
    }
}

// No bus at all, as in a container: false at once, no exception, and nothing on standard output
// or standard error; the debug line is the only word.
TEST(SleepInhibitorWithoutBus, MissingBusMeansFalseAndOnlyADebugLine) {
    const SystemBusAddress address("unix:path=/nonexistent/kelvo-test/system_bus_socket");
    DebugCapture debug;
    platform::SleepInhibitor lock;
    bool taken = true;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_NO_THROW(taken = lock.Acquire(platform::DischargeTestSleepReason("ttyUSB0")));
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(taken);
    EXPECT_FALSE(lock.Held());
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
    ASSERT_EQ(debug.Lines().size(), 1u);
    EXPECT_EQ(debug.Count(kNotTaken), 1);
    lock.Release();  // nothing held: nothing happens, nothing said
    EXPECT_EQ(debug.Lines().size(), 1u);
}

// A socket that takes connections but never speaks (a hung bus daemon): connecting and
// authenticating fall under the same bound as the call, so the caller is not held.
TEST(SleepInhibitorWithoutBus, BusThatNeverSpeaksDoesNotHoldTheCaller) {
    char folder[] = "/tmp/kelvo-mute-bus-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/bus";
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un name{};
    name.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof name.sun_path);
    std::copy(path.begin(), path.end(), name.sun_path);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&name), sizeof name), 0);
    ASSERT_EQ(listen(listener, 4), 0);

    const SystemBusAddress address("unix:path=" + path);
    ExpectNoLockWithinBound();

    close(listener);
    unlink(path.c_str());
    rmdir(folder);
}

}  // namespace
