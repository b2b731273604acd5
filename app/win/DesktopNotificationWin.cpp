// DesktopNotification.h on Windows: a balloon from the console's icon in the notification area,
// which is there from the first notice until the console ends.
#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

#include "app/DesktopNotification.h"
#include "platform/DebugOutput.h"

void ShowDesktopNotification(const QString& summary, const QString& body) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        platform::DebugOutput("desktop notification not shown: no notification area");
        return;
    }
    static QSystemTrayIcon* icon = [] {
        auto* made = new QSystemTrayIcon(QApplication::windowIcon(), qApp);
        made->setToolTip(QStringLiteral("Kelvo console"));
        made->show();
        return made;
    }();
    icon->showMessage(summary, body, QSystemTrayIcon::Information);
    platform::DebugOutput("desktop notification shown in the notification area");
}
