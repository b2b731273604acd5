// A connect that fails for want of access, as an ordinary user meets it at the bench: the port's
// device belongs to a group the user is not in, or another program holds it. Root passes both
// checks, so the window runs as the user nobody, in a child process of this test (the test
// program started again through setpriv); the parent, as root, sets the terminal up and reads
// the child's verdict. Run as anything but root, the cases are skipped with a message.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "app/Indicator.h"
#include "app/uReader.h"
#include "platform/DebugOutput.h"
#include "platform/SerialPort.h"
#include "sim/PtyTester.h"

namespace {

namespace fs = std::filesystem;

constexpr int kBound = 30000;  // ms
constexpr char kPortName[] = "ttyKELVOaccess";
constexpr char kUser[] = "nobody";
constexpr char kGroup[] = "nogroup";

bool IsChild() {
    return qEnvironmentVariableIsSet("KELVO_ACCESS_CHILD");
}

// The child's side: press Connect on the port and check what the box and the status bar say.
// Every fragment of KELVO_ACCESS_EXPECT ('|' between them) must be in the text.
void ConnectAndCheckTheExplanation() {
    platform::SetDebugSink([](const std::string&) {});
    TForm1 form;
    form.aReconnect->setChecked(false);
    form.show();
    const int index = form.cbPort->findText(kPortName);
    QVERIFY2(index >= 0, "the port is not listed");
    form.cbPort->setCurrentIndex(index);

    QString boxText;
    QTimer closer;
    closer.setInterval(20);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        boxText = box->text();
        box->accept();
    });
    closer.start();
    form.aOpen->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!boxText.isEmpty(), kBound);
    qInfo("%s", qPrintable(boxText));
    QVERIFY(!form.PortConnected());
    QCOMPARE(form.StatusMessage->text(), boxText);
    for (const QString& fragment : qEnvironmentVariable("KELVO_ACCESS_EXPECT").split('|')) {
        QVERIFY2(boxText.contains(fragment),
                 qPrintable(QString("\"%1\" is not in: %2").arg(fragment, boxText)));
    }
}

// The parent's side: a private runtime folder for the user, with the port published in it.
class UserSetup {
  public:
    explicit UserSetup(const std::string& device) {
        const fs::path runtime = dir_.path().toStdString();
        const fs::path ports = runtime / "kelvo-ports";
        fs::create_directory(ports);
        fs::create_symlink(device, ports / kPortName);
        const passwd* user = ::getpwnam(kUser);
        ok_ = user != nullptr && ::chown(runtime.c_str(), user->pw_uid, user->pw_gid) == 0 &&
              ::chown(ports.c_str(), user->pw_uid, user->pw_gid) == 0 &&
              ::chmod(runtime.c_str(), 0700) == 0 && ::chmod(ports.c_str(), 0700) == 0;
    }
    bool Ok() const { return ok_ && dir_.isValid(); }

    // Runs the test function `function` of this program as the user; returns its exit code, or
    // -1 when it could not be started. The child's output is shown when it fails.
    int RunChild(const char* function, const QString& expected) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KELVO_ACCESS_CHILD", "1");
        env.insert("KELVO_ACCESS_EXPECT", expected);
        env.insert("XDG_RUNTIME_DIR", dir_.path());
        env.insert("HOME", dir_.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start("setpriv",
                    {QString("--reuid=") + kUser, QString("--regid=") + kGroup, "--clear-groups",
                     "--", QCoreApplication::applicationFilePath(), function});
        if (!child.waitForFinished(3 * kBound)) return -1;
        const int code = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
        const QByteArray output = child.readAll();
        if (code != 0 || qEnvironmentVariableIsSet("KELVO_ACCESS_VERBOSE")) {
            qWarning("%s", output.constData());
        }
        return code;
    }

  private:
    QTemporaryDir dir_;
    bool ok_ = false;
};

// Whether another descriptor holds the device's exclusive lock, as the console's open asks for it.
bool IsHeld(const std::string& device) {
    const platform::SerialHandle probe = platform::CreateFile(device);
    if (probe == platform::kInvalidPort) return platform::GetLastError() == EBUSY;
    platform::CloseHandle(probe);
    return false;
}

}  // namespace

class PortAccessTest : public QObject {
    Q_OBJECT

  private:
    // As root: sets up a user's view of `device` and runs the child; skips what cannot be set up.
    void RunAsUser(const char* function, const std::string& device, const QString& expected) {
        UserSetup setup(device);
        if (!setup.Ok()) QSKIP("the user nobody or its runtime folder cannot be set up");
        const int code = setup.RunChild(function, expected);
        // setpriv's own failures (126, 127): this folder cannot be reached by the user.
        if (code == 126 || code == 127) QSKIP("the test program cannot be run as nobody here");
        QCOMPARE(code, 0);
    }

  private slots:
    void initTestCase() {
        if (!IsChild() && ::geteuid() != 0) {
            QSKIP("run as root: the cases run the console as the user nobody");
        }
    }

    // The device belongs to a group the user is not in: the box names the group and the fix.
    void permissionDeniedNamesTheGroupAndTheFix() {
        if (IsChild()) return ConnectAndCheckTheExplanation();
        sim::PtyTester tester;
        const std::string device = tester.DevicePath();
        const group* dialout = ::getgrnam("dialout");
        if (dialout == nullptr) QSKIP("this machine has no group dialout");
        QVERIFY(::chown(device.c_str(), 0, dialout->gr_gid) == 0);
        QVERIFY(::chmod(device.c_str(), 0660) == 0);
        RunAsUser("permissionDeniedNamesTheGroupAndTheFix", device,
                  "Permission denied|dialout|sudo usermod -aG dialout|log in again");
    }

    // Another program holds the port: the box says it is busy and names the holder.
    void busyPortNamesItsHolder() {
        if (IsChild()) return ConnectAndCheckTheExplanation();
        sim::PtyTester tester;
        const std::string device = tester.DevicePath();
        const passwd* user = ::getpwnam(kUser);
        QVERIFY(user != nullptr);
        QVERIFY(::chown(device.c_str(), user->pw_uid, user->pw_gid) == 0);
        QVERIFY(::chmod(device.c_str(), 0600) == 0);
        // The holder runs as the user too, so that the user may see who it is.
        QProcess holder;
        holder.start("setpriv", {QString("--reuid=") + kUser, QString("--regid=") + kGroup,
                                 "--clear-groups", "--", "flock", "--exclusive",
                                 QString::fromStdString(device), "sleep", "300"});
        QVERIFY(holder.waitForStarted(kBound));
        QTRY_VERIFY_WITH_TIMEOUT(IsHeld(device), kBound);
        RunAsUser("busyPortNamesItsHolder", device,
                  QString("%1 is busy|held by flock (process %2)")
                      .arg(kPortName)
                      .arg(holder.processId()));
        holder.kill();
        holder.waitForFinished(kBound);
    }
};

QTEST_MAIN(PortAccessTest)
#include "PortAccess_test.moc"
