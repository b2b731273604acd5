#include "app/Reconnection.h"

#include <cerrno>

namespace {

constexpr std::chrono::seconds kBusyRetryFor{10};
constexpr std::chrono::milliseconds kBusyRetryEvery{1000};

}  // namespace

TReconnection::TReconnection(QObject* parent) : QObject(parent) {
    FRetry.setSingleShot(true);
    FRetry.setInterval(kBusyRetryEvery);
    connect(&FRetry, &QTimer::timeout, this, [this] {
        if (FArmed) emit ConnectWanted(FReturnedAs, FPort.Baud);
    });
}

void TReconnection::Lost(const TConnectedPort& port) {
    FArmed = true;
    FPort = port;
    FReturnedAs.clear();
    FLostAt = Clock::now();
    FRetry.stop();
}

void TReconnection::Disarm() {
    FArmed = false;
    FRetry.stop();
}

std::chrono::seconds TReconnection::Away() const {
    return std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - FLostAt);
}

void TReconnection::PortArrived(const QString& name) {
    if (!FArmed || !IsLostAdapter(name)) return;
    FReturnedAs = name;
    FReturnedAt = Clock::now();
    FRetry.stop();
    emit ConnectWanted(name, FPort.Baud);
}

bool TReconnection::ConnectFailed(int error) {
    if (!FArmed || FReturnedAs.isEmpty()) return false;
    if (error != EBUSY || Clock::now() - FReturnedAt >= kBusyRetryFor) return false;
    FRetry.start();
    return true;
}

bool TReconnection::IsLostAdapter(const QString& name) const {
    const platform::PortIdentity& was = FPort.Identity;
    if (was.idSerial.empty() && was.idPath.empty()) return name == FPort.Name;
    return platform::SameAdapter(was, platform::IdentityOfPort(name.toStdString()));
}
