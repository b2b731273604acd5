#include "app/DesktopNotification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include "platform/DebugOutput.h"

namespace {

// Long enough for a busy desktop; the answer only decides a debug line.
constexpr int kAnswerBoundMs = 10000;

void Debug(const QString& line) {
    platform::DebugOutput(line.toStdString());
}

}  // namespace

void ShowDesktopNotification(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        Debug("desktop notification not shown: no session bus: " + bus.lastError().message());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                       "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    // app_name, replaces_id (none), app_icon, summary, body, actions (none), hints, expire_timeout
    // (-1: the desktop's default). "desktop-entry" lets the desktop group it with the console.
    const QVariantMap hints{{"desktop-entry", QString::fromLatin1(kConsoleIconName)}};
    call << QStringLiteral("Kelvo console") << quint32(0) << QString::fromLatin1(kConsoleIconName)
         << summary << body << QStringList() << hints << qint32(-1);

    // Owned by the application until its answer (or the bound) comes; then deletes itself.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kAnswerBoundMs),
                                                QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<quint32> reply = *w;
        if (reply.isError()) {
            Debug("desktop notification not shown: " + reply.error().name() + ": " +
                  reply.error().message());
        } else {
            Debug("desktop notification shown: id " + QString::number(reply.value()));
        }
        w->deleteLater();
    });
}
