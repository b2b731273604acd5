#include "app/TelemetryLink.h"

#include <algorithm>

#include "testrun/Station.h"

namespace {

// "telemetry: ..." as the message field starts its messages, with a capital.
QString AsMessage(const std::string& text) {
    QString message = QString::fromStdString(text);
    if (!message.isEmpty()) message[0] = message[0].toUpper();
    return message;
}

}  // namespace

TTelemetryLink::TTelemetryLink(QObject* parent) : QObject(parent) {}

TTelemetryLink::~TTelemetryLink() {
    Shutdown();
}

void TTelemetryLink::TesterConnected(const std::string& port,
                                     const std::optional<std::string>& cell) {
    CloseCurrent();
    if (FChoice.Location.trimmed().isEmpty()) return;
    const TTelemetrySettingsRead read = ReadTelemetrySettings(FChoice.Options());
    if (!read.Settings) {
        emit Message(QString::fromStdString("Telemetry: " + read.Error));
        return;
    }
    TTelemetrySettings settings = *read.Settings;
    settings.Station = StationName(FStation);
    // Its notices come from its own threads; none comes after it is closed, and it is closed
    // before this object goes.
    FCurrent = std::make_unique<TTelemetry>(settings, port, [this](const std::string& text) {
        QMetaObject::invokeMethod(
            this, [this, text] { emit Message(AsMessage(text)); }, Qt::QueuedConnection);
    });
    FCurrent->SetCell(cell);
    FCurrent->TesterConnected(true);
}

void TTelemetryLink::SetCell(const std::optional<std::string>& cell) {
    if (FCurrent) FCurrent->SetCell(cell);
}

void TTelemetryLink::Reading(const TDeviceReading& reading) {
    if (FCurrent) FCurrent->Reading(reading);
}

void TTelemetryLink::TesterDisconnected() {
    if (FCurrent) FCurrent->TesterConnected(false);
}

void TTelemetryLink::Verdict(const std::string& json) {
    if (FCurrent) FCurrent->Verdict(json);
}

void TTelemetryLink::CloseCurrent() {
    if (!FCurrent) return;
    // A worker for each closing: closings that wait for a broker wait side by side, each for its
    // own bound, and none in the window's way.
    auto* closer = new TBackgroundWorker(this);
    FClosing.push_back(closer);
    closer->Post([telemetry = std::shared_ptr<TTelemetry>(
                      std::move(FCurrent))] { return telemetry->Close(TTelemetry::kCloseBound); },
                 [this](const std::string& words) {
                     if (!words.empty()) emit Message(AsMessage(words));
                 });
    connect(closer, &TBackgroundWorker::Idle, this, [this, closer] {
        FClosing.erase(std::remove(FClosing.begin(), FClosing.end(), closer), FClosing.end());
        closer->deleteLater();
    });
}

void TTelemetryLink::Shutdown() {
    CloseCurrent();
    // Each closing ends within its bound (TTelemetry::Close joins its threads by then).
    for (const QPointer<TBackgroundWorker>& closer : FClosing) {
        if (closer) closer->Finish(TTelemetry::kCloseBound + kCloseMargin);
    }
    FClosing.clear();
}
