// The console window under a long run of faults: the simulated tester, published like a USB
// adapter, answers with noise, drops, corrupted trailers, late answers and silence, vanishes in
// the middle of transactions (unplugged, or killed with its entry left behind) and comes back,
// other ports come and go while it is connected, and it is found busy or out of reach, while an
// operator connects and disconnects again and again. Checks that every reading posted reaches the
// window and becomes exactly one row of its connection's log, in order; that no reading carries a
// value the tester did not send for its field (but in a connection where a late answer was sent,
// whose data the protocol cannot tell from the next answer's); that the window keeps answering; and
// that descriptors, threads and heap do not grow from cycle to cycle. Prints its figures; exits 1
// on any fault.
//
//   app_console_soak_test [--cycles N] [--readings N] [--baud N] [--acceleration X] [--seed N]
#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QThreadPool>
#include <QTimer>
#include <QtTest>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/TestResults.h"
#include "app/uReader.h"
#include "platform/DebugOutput.h"
#include "platform/SerialPort.h"
#include "platform/VirtualPorts.h"
#include "sim/PtyTester.h"
#include "support/Format.h"
#include "testrun/TestLog.h"
#include "tests/app/SoakTap.h"
#include "tests/fixtures/LogLines.h"
#include "threads/InterThreadMsg.h"

#if defined(__SANITIZE_ADDRESS__)
#define KELVO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELVO_ASAN 1
#endif
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kPortName[] = "ttyKELVOsoak";
constexpr char kFirstPortName[] = "ttyKELVOsoakA";    // listed before the tester once it replugs
constexpr char kPassingPortName[] = "ttyKELVOsoakC";  // comes and goes while connected
constexpr int kBoundMs = 60000;                       // for anything the soak waits for
constexpr double kHangSeconds = 10.0;                 // the window may never be busy this long
constexpr size_t kHeapGrowthLimit = 1 << 20;

std::atomic<uint64_t> debugLines{0};  // counted, not printed: a soak writes millions

struct Settings {
    int cycles = 200;
    int readings = 3;  // per connection
    uint32_t baud = 115200;
    double acceleration = 60;
    uint64_t seed = 1;
};

Settings ParseSettings(const QStringList& arguments) {
    Settings s;
    if (arguments.size() % 2 == 0) throw std::invalid_argument("every option takes a value");
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        const QString& name = arguments[i];
        const QString& value = arguments[i + 1];
        if (name == "--cycles")
            s.cycles = value.toInt();
        else if (name == "--readings")
            s.readings = value.toInt();
        else if (name == "--baud")
            s.baud = value.toUInt();
        else if (name == "--acceleration")
            s.acceleration = value.toDouble();
        else if (name == "--seed")
            s.seed = value.toULongLong();
        else
            throw std::invalid_argument("unknown option " + name.toStdString());
    }
    if (s.cycles < 1 || s.readings < 1)
        throw std::invalid_argument("cycles and readings: 1 or more");
    return s;
}

// What each cycle does to the tester, in turn, and how the connection ends. HangUp: the tester's
// terminal goes and its entry stays, as when its program is killed. OtherGone: another port goes
// while connected, which moves the selection off the open port; then the open port goes. Busy
// and Denied: the connect fails, the port held by another descriptor or closed to this user.
enum class Cycle {
    Clean,
    Noise,
    Drop,
    Corrupt,
    Late,
    Unplug,
    Silence,
    Mixed,
    HangUp,
    OtherGone,
    Busy,
    Denied
};
constexpr Cycle kCycles[] = {Cycle::Clean,  Cycle::Noise,     Cycle::Drop,    Cycle::Corrupt,
                             Cycle::Late,   Cycle::Unplug,    Cycle::Silence, Cycle::Mixed,
                             Cycle::HangUp, Cycle::OtherGone, Cycle::Busy,    Cycle::Denied};
constexpr const char* kCycleNames =
    "clean noise drop corrupt late unplug silence mixed hang-up other-gone busy denied";

// The faults of one connection. Noise and corrupted trailers cost nothing but a retry; a drop or a
// late answer costs a whole answer wait, so these come about once per connection.
sim::FaultOptions FaultsOf(Cycle cycle, int readings, uint64_t seed) {
    const double oncePerConnection = 1.0 / (10.0 * readings);  // ten answers per reading
    sim::FaultOptions f;
    f.seed = seed;
    switch (cycle) {
        case Cycle::Noise:
            f.noise = 0.3;
            break;
        case Cycle::Drop:
            f.drop = oncePerConnection;
            break;
        case Cycle::Corrupt:
            f.corruptTrailer = 0.1;
            break;
        case Cycle::Late:
            f.late = oncePerConnection;
            break;
        case Cycle::Mixed:
            f.noise = 0.1;
            f.drop = oncePerConnection / 2;
            f.corruptTrailer = 0.05;
            f.late = oncePerConnection / 2;
            break;
        default:
            break;
    }
    return f;
}

bool EndsByUnplug(Cycle cycle) {
    return cycle == Cycle::Unplug || cycle == Cycle::Mixed || cycle == Cycle::OtherGone;
}

bool FailsToConnect(Cycle cycle) {
    return cycle == Cycle::Busy || cycle == Cycle::Denied;
}

// The process's own resources at one moment.
struct Usage {
    size_t descriptors = 0;
    size_t threads = 0;
    size_t heapBytes = 0;  // in use by malloc
    long rssKiB = 0;
};

size_t Entries(const char* folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

long StatusKiB(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

Usage MeasureUsage() {
    Usage u;
    u.descriptors = Entries("/proc/self/fd") - 1;  // less the one that lists them
    u.threads = Entries("/proc/self/task");
    u.heapBytes = mallinfo2().uordblks;
    u.rssKiB = StatusKiB("VmRSS");
    return u;
}

class Soak {
  public:
    explicit Soak(const Settings& settings) : settings_(settings), tester_(TesterOptions()) {}

    bool Run() {
        began_ = Clock::now();
        Start();
        const int warmUp = std::max(1, settings_.cycles / 10);
        for (int i = 0; i < settings_.cycles && Healthy(); ++i) {
            RunCycle(i);
            if (i + 1 == warmUp) baseline_ = Settle();
        }
        if (Healthy()) final_ = Settle();
        CheckTotals();
        return Healthy();
    }

    void Print() const {
        const sim::FaultCounters f = tester_.Counters();
        std::printf("cycles                 %d (%d readings each at least, %u baud, clock x%g)\n",
                    cyclesDone_, settings_.readings, settings_.baud, settings_.acceleration);
        std::printf("run time               %.0f s\n",
                    std::chrono::duration<double>(Clock::now() - began_).count());
        std::printf("readings posted        %llu\n", Count(tap_->readings));
        std::printf("rows logged            %llu\n", Count(rowsLogged_));
        std::printf("messages posted        %llu, received %llu\n",
                    Count(form_->Link().PostedCount() - postedAtStart_), Count(tap_->messages));
        std::printf(
            "connections            %d (%d ended by the operator, %d by unplugging, %d by a"
            " hang-up)\n",
            tap_->Connections(), disconnects_, unplugs_, hangUps_);
        std::printf(
            "faults injected        noise %llu, drop %llu, corrupt trailer %llu, late %llu,"
            " silence %llu\n",
            Count(f.noise), Count(f.drop), Count(f.corruptTrailer), Count(f.late),
            Count(f.silence));
        std::printf("tester                 %llu requests, %llu answers sent\n", Count(f.requests),
                    Count(f.answers));
        std::printf("seconds by cycle kind  ");
        for (double seconds : secondsByCycle_) std::printf(" %.1f", seconds);
        std::printf("  (%s)\n", kCycleNames);
        std::printf("connects refused       %d (busy or denied, each explained in a box)\n",
                    refusals_);
        if (deniedSkipped_) {
            std::printf("denied cycles          skipped: as root every permission check passes\n");
        }
        std::printf("readings crossed       %llu (by late answers)\n",
                    Count(tap_->readingsCrossed));
        std::printf("longest busy window    %.3f s\n", longestGap_);
        std::printf("descriptors            %zu at start, %zu after warm-up, %zu at end\n",
                    start_.descriptors, baseline_.descriptors, final_.descriptors);
        std::printf("threads                %zu at start, %zu after warm-up, %zu at end\n",
                    start_.threads, baseline_.threads, final_.threads);
        std::printf("heap in use            %zu KiB after warm-up, %zu KiB at end\n",
                    baseline_.heapBytes / 1024, final_.heapBytes / 1024);
        std::printf("resident memory        %ld KiB after warm-up, %ld KiB at end, peak %ld KiB\n",
                    baseline_.rssKiB, final_.rssKiB, StatusKiB("VmHWM"));
        std::printf("debug lines            %llu\n", Count(debugLines.load()));
        for (const std::string& fault : AllFaults()) std::printf("FAULT: %s\n", fault.c_str());
        std::printf("%s\n", Healthy() ? "soak passed" : "soak FAILED");
    }

  private:
    static unsigned long long Count(uint64_t n) { return n; }

    sim::Options TesterOptions() const {
        sim::Options o;
        o.acceleration = settings_.acceleration;
        o.paceBaud = settings_.baud;
        o.cell.capacityAh = 1e6;  // never flat: the test runs for the whole soak
        return o;
    }

    void Start() {
        platform::SetDebugSink([](const std::string&) { ++debugLines; });
        start_ = MeasureUsage();
        sim::Registers running;
        running.status = 1;
        running.voltage_mV = 4100;
        running.currentSetpoint_cA = 150;
        running.cutoffVoltage_cV = 250;
        tester_.SetRegisters(running);
        port_ = std::make_unique<platform::PublishedPort>(kPortName, tester_.DevicePath());
        firstPort_ = std::make_unique<platform::PublishedPort>(kFirstPortName, "/dev/null");

        form_ = std::make_unique<TForm1>();
        form_->aReconnect->setChecked(false);  // the operator of the soak connects by hand
        form_->show();
        postedAtStart_ = form_->Link().PostedCount();
        tap_ = std::make_unique<SoakTap>(tester_);
        const int speed = form_->cbSpeed->findData(settings_.baud);
        if (speed < 0) return Fault("no such baud rate in the list");
        form_->cbSpeed->setCurrentIndex(speed);

        ticker_.setInterval(10);
        lastTick_ = Clock::now();
        QObject::connect(&ticker_, &QTimer::timeout, &ticker_, [this] {
            const auto now = Clock::now();
            longestGap_ =
                std::max(longestGap_, std::chrono::duration<double>(now - lastTick_).count());
            lastTick_ = now;
        });
        ticker_.start();

        // Error boxes are read and closed as an operator would.
        boxCloser_.setInterval(20);
        QObject::connect(&boxCloser_, &QTimer::timeout, &boxCloser_, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) return;
            lastBox_ = box->text();
            box->accept();
        });
        boxCloser_.start();
        SelectPort();
    }

    void RunCycle(int index) {
        const Cycle cycle = kCycles[index % std::size(kCycles)];
        const auto began = Clock::now();
        struct Timed {
            double& total;
            Clock::time_point began;
            ~Timed() { total += std::chrono::duration<double>(Clock::now() - began).count(); }
        } timed{secondsByCycle_[static_cast<size_t>(cycle)], began};
        tester_.SetFaults(
            FaultsOf(cycle, settings_.readings, settings_.seed + static_cast<uint64_t>(index)));
        tester_.ClearLog();  // the soak reads only the answers; the request log would only grow

        if (FailsToConnect(cycle)) return RefusedConnect(cycle);
        std::unique_ptr<platform::PublishedPort> passing;
        if (cycle == Cycle::OtherGone) {
            passing = std::make_unique<platform::PublishedPort>(kPassingPortName, "/dev/null");
            if (!WaitFor([&] { return form_->cbPort->findText(kPassingPortName) >= 0; },
                         "a passing port to be listed")) {
                return;
            }
        }

        form_->aOpen->trigger();
        if (!WaitFor([&] { return form_->PortConnected(); }, "the port to open")) return;
        const QString logPath = form_->StatusPanel->text();
        if (cycle == Cycle::Silence) {
            const uint64_t before = tester_.Counters().silence;
            tester_.SetFaults({.silent = true});
            if (!WaitFor([&] { return tester_.Counters().silence >= before + 2; },
                         "requests to a silent tester")) {
                return;
            }
            tester_.SetFaults({});
        }
        const int wanted = settings_.readings;
        if (!WaitFor([&] { return tap_->ConnectionRows().size() >= wanted; }, "readings")) return;

        if (cycle == Cycle::OtherGone && !OtherPortGoes(passing)) return;
        if (EndsByUnplug(cycle)) {
            tester_.Vanish();  // while the console is in a transaction, as it nearly always is
            port_.reset();
            ++unplugs_;
        } else if (cycle == Cycle::HangUp) {
            tester_.Vanish();  // its entry stays, pointing at a terminal that is gone
            ++hangUps_;
        } else {
            form_->aOpen->trigger();
            ++disconnects_;
        }
        if (!WaitFor([&] { return !form_->PortConnected(); }, "the port to close")) return;
        CheckLog(logPath);
        if (EndsByUnplug(cycle) || cycle == Cycle::HangUp) Replug();  // a hang-up's entry goes now
        ++cyclesDone_;
    }

    // While connected, a port that is not the open one goes: the selection moves to item 0
    // (the first port, not the tester once it has been replugged), and the connection stays.
    bool OtherPortGoes(std::unique_ptr<platform::PublishedPort>& passing) {
        passing.reset();
        if (!WaitFor([&] { return form_->cbPort->findText(kPassingPortName) < 0; },
                     "the passing port to go")) {
            return false;
        }
        const int rows = static_cast<int>(tap_->ConnectionRows().size());
        if (!WaitFor([&] { return tap_->ConnectionRows().size() > rows; },
                     "readings after another port went")) {
            return false;
        }
        if (!form_->PortConnected()) Fault("the connection ended when another port went");
        return form_->PortConnected();
    }

    // Connect is pressed on a port that cannot be opened: the window ends disconnected, with
    // no log made and the cause in a box.
    void RefusedConnect(Cycle cycle) {
        if (cycle == Cycle::Denied && ::geteuid() == 0) {
            deniedSkipped_ = true;
            ++cyclesDone_;
            return;
        }
        const std::string device = tester_.DevicePath();
        platform::SerialHandle holder = platform::kInvalidPort;
        if (cycle == Cycle::Busy) {
            holder = platform::CreateFile(device);  // exclusive, as the console opens a port
            if (holder == platform::kInvalidPort) return Fault("the tester could not be held");
        } else {
            std::filesystem::permissions(device, std::filesystem::perms::none);
        }
        const int connections = tap_->Connections();
        lastBox_.clear();
        form_->aOpen->trigger();
        const char* expected = cycle == Cycle::Busy ? "is busy" : "Permission denied";
        const bool explained = WaitFor([&] { return lastBox_.contains(expected); },
                                       "the box that explains a refused connect");
        if (holder != platform::kInvalidPort) platform::CloseHandle(holder);
        if (cycle == Cycle::Denied) {
            std::filesystem::permissions(device, std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::owner_write |
                                                     std::filesystem::perms::group_write);
        }
        if (!explained) return;
        if (form_->PortConnected() || tap_->Connections() != connections) {
            return Fault("a refused connect opened a connection");
        }
        ++refusals_;
        ++cyclesDone_;
    }

    void Replug() {
        port_.reset();
        if (!WaitFor([&] { return form_->cbPort->findText(kPortName) < 0; },
                     "the port to leave the list")) {
            return;
        }
        tester_.Reappear();
        port_ = std::make_unique<platform::PublishedPort>(kPortName, tester_.DevicePath());
        if (!WaitFor([&] { return form_->cbPort->findText(kPortName) >= 0; },
                     "the port to be listed again")) {
            return;
        }
        SelectPort();
    }

    void SelectPort() {
        const int index = form_->cbPort->findText(kPortName);
        if (index < 0) return Fault("the tester's port is not listed");
        form_->cbPort->setCurrentIndex(index);
    }

    // The log of the connection just closed holds the header and one row per reading, in order.
    void CheckLog(const QString& path) {
        const QStringList lines = LogLines(path);
        QStringList expected{kLogHeader};
        expected << tap_->ConnectionRows();
        rowsLogged_ += static_cast<uint64_t>(std::max<qsizetype>(lines.size() - 1, 0));
        if (lines != expected) {
            return Fault(Format("log %s has %d lines for %d readings", path.toStdString().c_str(),
                                static_cast<int>(lines.size()),
                                static_cast<int>(expected.size() - 1)));
        }
        // The connection's test ended with it: its verdict and picture lie beside the log.
        QString base = path;
        base.chop(4);
        for (const char* suffix : {".csv", "_test1.json", "_test1.png"})
            QFile::remove(base + suffix);
    }

    // Disconnected and quiet, the chart cleared as the operator would: what is in use now is
    // what the console keeps between connections.
    Usage Settle() {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        form_->aClear->trigger();
        // Drawing a verdict's picture lends image work to Qt's shared threads, which linger
        // idle for a while: they are not the console's to count.
        QThreadPool::globalInstance()->waitForDone();
        // A verdict is recorded in a thread of its own, which ends with its record.
        form_->TestResults().WaitForRecords();
        return MeasureUsage();
    }

    void CheckTotals() {
        if (longestGap_ > kHangSeconds) {
            Fault(Format("the window did not answer for %.1f s", longestGap_));
        }
        if (!Healthy()) return;  // a soak cut short proves nothing more
        QCoreApplication::sendPostedEvents();
        if (form_->Link().PostedCount() - postedAtStart_ != tap_->messages) {
            Fault("not every posted message reached the window");
        }
        if (rowsLogged_ != tap_->readings) Fault("rows logged differ from readings posted");
        if (final_.descriptors > baseline_.descriptors) Fault("descriptors grew");
        if (final_.threads > baseline_.threads) Fault("threads grew");
#ifndef KELVO_ASAN  // the sanitizer's own allocator keeps freed memory; its leak check runs at exit
        if (final_.heapBytes > baseline_.heapBytes + kHeapGrowthLimit) Fault("the heap grew");
#endif
    }

    bool WaitFor(const std::function<bool()>& done, const char* what) {
        if (QTest::qWaitFor(done, kBoundMs)) return true;
        Fault(Format("timed out waiting for %s in cycle %d", what, cyclesDone_));
        return false;
    }

    void Fault(const std::string& text) {
        faults_.push_back(text);
    }
    std::vector<std::string> AllFaults() const {
        std::vector<std::string> all = faults_;
        if (tap_) all.insert(all.end(), tap_->faults.begin(), tap_->faults.end());
        return all;
    }
    bool Healthy() const {
        return AllFaults().empty();
    }

    const Settings settings_;
    sim::PtyTester tester_;
    std::unique_ptr<platform::PublishedPort> port_;
    std::unique_ptr<platform::PublishedPort> firstPort_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<SoakTap> tap_;
    QTimer ticker_;
    QTimer boxCloser_;
    QString lastBox_;  // the text of the last error box closed
    int refusals_ = 0;
    int hangUps_ = 0;
    bool deniedSkipped_ = false;
    Clock::time_point began_;
    Clock::time_point lastTick_;
    double longestGap_ = 0;
    std::array<double, std::size(kCycles)> secondsByCycle_{};
    uint64_t postedAtStart_ = 0;
    uint64_t rowsLogged_ = 0;
    int cyclesDone_ = 0;
    int disconnects_ = 0;
    int unplugs_ = 0;
    Usage start_, baseline_, final_;
    std::vector<std::string> faults_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    try {
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
            std::filesystem::create_directories(runtime);
        }
        const Settings settings = ParseSettings(QCoreApplication::arguments());
        bool passed = false;
        {
            Soak soak(settings);
            passed = soak.Run();
            soak.Print();
        }
        platform::SetDebugSink({});
        return passed ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "app_console_soak_test: %s\n", e.what());
        return 2;
    }
}
