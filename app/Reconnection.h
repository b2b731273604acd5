#pragma once
// Automatic reconnection: once the connected port went away without the operator asking (an
// unplugged adapter, a hang-up), the same adapter coming back is connected again, as if Connect
// had been pressed. The same adapter is the one with the udev ID_SERIAL, or else ID_PATH, that
// the port had when it opened, whatever its name now; a port without udev identity (a virtual
// port) must come back under its own name. A port that comes back busy (ModemManager probing it)
// is tried again once a second for up to 10 s. Window's thread only.

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>

#include "platform/PortIdentity.h"

// The port of a connection, as recorded when it opened.
struct TConnectedPort {
    QString Name;
    uint32_t Baud = 0;
    platform::PortIdentity Identity;
};

class TReconnection : public QObject {
    Q_OBJECT

  public:
    using Clock = std::chrono::steady_clock;

    explicit TReconnection(QObject* parent = nullptr);

    // The connection on `port` was lost: wait for the adapter to come back.
    void Lost(const TConnectedPort& port);
    // Stops waiting (the operator connected or disconnected, the connection came back, or the
    // operator turned reconnection off).
    void Disarm();
    bool Armed() const { return FArmed; }
    // The port that is waited for.
    const TConnectedPort& Port() const { return FPort; }
    // How long ago the connection was lost.
    std::chrono::seconds Away() const;

    // A port was listed. When it is the lost adapter, asks for a connect (ConnectWanted).
    void PortArrived(const QString& name);
    // An automatic connect failed with `error` (an errno value). A busy port that came back less
    // than 10 s ago is asked for again in 1 s; otherwise the adapter's next return is waited for.
    // True when another attempt follows.
    bool ConnectFailed(int error);

  signals:
    // Connect to `name` at `baud` now.
    void ConnectWanted(const QString& name, quint32 baud);

  private:
    bool IsLostAdapter(const QString& name) const;

    bool FArmed = false;
    TConnectedPort FPort;
    QString FReturnedAs;  // the name it came back under
    Clock::time_point FLostAt;
    Clock::time_point FReturnedAt;
    QTimer FRetry;  // single shot, 1 s
};
