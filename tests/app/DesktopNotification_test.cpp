// Desktop notifications against a private session bus (a dbus-daemon of the test's own), with a
// stand-in notification service that the test serves itself, on a connection of its own, on
// this same thread: it can only answer once the caller is back in the event loop.

#include <QDBusConnection>
#include <QDBusError>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTest>
#include <QVariantMap>
#include <memory>

#include "app/DesktopNotification.h"
#include "tests/fixtures/DebugCapture.h"
#include "tests/fixtures/PrivateBus.h"

namespace {

constexpr int kBoundMs = 20000;  // generous: only reached when a call is lost
constexpr char kShown[] = "desktop notification shown";
constexpr char kNotShown[] = "desktop notification not shown: ";
constexpr char kService[] = "org.freedesktop.Notifications";

struct Notification {
    QString appName;
    quint32 replacesId = 0;
    QString icon;
    QString summary;
    QString body;
    QVariantMap hints;
};

}  // namespace

class NotificationsStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public:
    QList<Notification> received;

  public slots:
    quint32 Notify(const QString& appName, quint32 replacesId, const QString& icon,
                   const QString& summary, const QString& body, const QStringList& /*actions*/,
                   const QVariantMap& hints, qint32 /*timeout*/) {
        received.append({appName, replacesId, icon, summary, body, hints});
        return static_cast<quint32>(received.size());
    }
};

class DesktopNotificationTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<PrivateBus> bus_;
    NotificationsStandIn standIn_;
    QString standInName_ = "notifications-stand-in";

  private slots:
    void initTestCase() {
        bus_ = std::make_unique<PrivateBus>();
        if (!bus_->Running()) {
            QSKIP(qPrintable("no private D-Bus bus: " + QString::fromStdString(bus_->Failure())));
        }
        // Before anything in this program opens the session bus: the connection is kept for good.
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(bus_->Address()));
        QDBusConnection standIn =
            QDBusConnection::connectToBus(QString::fromStdString(bus_->Address()), standInName_);
        QVERIFY2(standIn.isConnected(), qPrintable(standIn.lastError().message()));
        QVERIFY(standIn.registerObject("/org/freedesktop/Notifications", &standIn_,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(standIn.registerService(kService));
    }

    void cleanupTestCase() { QDBusConnection::disconnectFromBus(standInName_); }

    // The text crosses the bus as it was given (non-ASCII included), under the console's name
    // and installed icon.
    void NotificationCarriesTheConsolesNameIconSummaryAndBody() {
        DebugCapture debug;
        const QString summary = QStringLiteral("Test ended on ttyUSB0");
        const QString body = QStringLiteral("Cutoff reached after 02:13:45: 2,314 Ah, 23,5 °C");
        ShowDesktopNotification(summary, body);
        // Back before the service was asked: the call did not wait for its answer.
        QCOMPARE(standIn_.received.size(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(standIn_.received.size(), 1, kBoundMs);
        const Notification& got = standIn_.received.front();
        QCOMPARE(got.appName, QStringLiteral("Kelvo console"));
        QCOMPARE(got.icon, QStringLiteral("org.kelvo.Console"));
        QCOMPARE(got.summary, summary);
        QCOMPARE(got.body, body);
        QCOMPARE(got.replacesId, 0u);  // a new notification, never one replacing another
        QCOMPARE(got.hints.value("desktop-entry").toString(), QStringLiteral("org.kelvo.Console"));
        // The answer is taken on this thread's event loop, not by a blocked caller.
        QTRY_COMPARE_WITH_TIMEOUT(debug.Count(kShown), 1, kBoundMs);
        QCOMPARE(debug.Count(kNotShown), 0);
    }
};

QTEST_GUILESS_MAIN(DesktopNotificationTest)
#include "DesktopNotification_test.moc"
