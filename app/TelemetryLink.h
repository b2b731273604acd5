#pragma once
// The window's telemetry: one TTelemetry per tester connection, made when the port opens (the
// broker's will names the port), told "offline" when it closes and kept until the next
// connection, so that a verdict that comes after the close (a test given up on while away)
// still goes out. The one it replaces is closed by a worker of its own, so that a broker that is
// away never holds up the window; Shutdown() waits for all of them, each bounded. Window's thread.

#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/TelemetryChoice.h"
#include "device/DeviceReading.h"
#include "telemetry/Telemetry.h"
#include "threads/qt/BackgroundWorker.h"

class TTelemetryLink : public QObject {
    Q_OBJECT

  public:
    explicit TTelemetryLink(QObject* parent = nullptr);
    ~TTelemetryLink() override;

    // Takes effect at the next tester connection. A choice whose files cannot be read is said
    // then, as a Message.
    void SetChoice(const TTelemetryChoice& choice) { FChoice = choice; }
    const TTelemetryChoice& Choice() const { return FChoice; }
    void SetStation(const std::string& station) { FStation = station; }

    void TesterConnected(const std::string& port, const std::optional<std::string>& cell);
    void SetCell(const std::optional<std::string>& cell);
    void Reading(const TDeviceReading& reading);
    void TesterDisconnected();
    void Verdict(const std::string& json);
    // Closes every connection, waiting for each at most its bound.
    void Shutdown();

    // The telemetry of the tester connection now, if any (for tests).
    const TTelemetry* Current() const { return FCurrent.get(); }

  signals:
    // Something the operator should know: the broker away, back, refusing the login, readings
    // dropped, a verdict that did not reach it.
    void Message(const QString& text);

  private:
    void CloseCurrent();

    // Past its own bound, what a closing may still take to end its threads.
    static constexpr std::chrono::milliseconds kCloseMargin{3000};

    TTelemetryChoice FChoice;
    std::string FStation;
    std::unique_ptr<TTelemetry> FCurrent;
    std::vector<QPointer<TBackgroundWorker>> FClosing;  // children; each goes once it closed
};
