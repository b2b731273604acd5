#include "app/ConnectionMessages.h"

#include "platform/PortDiagnosis.h"
#include "platform/PortNames.h"
#include "support/TimeText.h"

namespace {

QString Cause(const std::string& name, int error) {
    return QString::fromStdString(
        platform::ExplainPortError(name, platform::DevicePathFor(name), error));
}

QString Name(const std::string& name) {
    return QString::fromStdString(name);
}

}  // namespace

QString FailedConnectText(const std::string& name, int error) {
    return QString("Cannot connect to %1: %2").arg(Name(name), Cause(name, error));
}

QString LostConnectionText(const std::string& name, int error, const QTime& at, int64_t rowsLogged,
                           const std::string& logPath, bool reconnecting) {
    QString text = QString("Connection to %1 lost at %2: %3")
                       .arg(Name(name), at.toString("HH:mm:ss"), Cause(name, error));
    if (!logPath.empty()) {
        text += QString(" %1 readings were logged in %2.").arg(rowsLogged).arg(Name(logPath));
    }
    if (reconnecting) text += " The console connects again when the port is back.";
    return text;
}

QString StillBusyText(const std::string& name) {
    return QString("%1 is back but still busy; trying again.").arg(Name(name));
}

QString ReconnectedText(const std::string& name, std::chrono::seconds away) {
    return QString("Reconnected to %1 after %2.")
        .arg(Name(name), QString::fromStdString(DurationText(static_cast<int>(away.count()))));
}
