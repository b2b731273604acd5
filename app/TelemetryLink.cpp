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
    auto words = std::make_shared<std::string>();
    QThread* closer =
        QThread::create([telemetry = std::shared_ptr<TTelemetry>(std::move(FCurrent)), words] {
            *words = telemetry->Close(TTelemetry::kCloseBound);
        });
    closer->setParent(this);
    connect(closer, &QThread::finished, this, [this, closer, words] {
        FClosing.erase(std::remove(FClosing.begin(), FClosing.end(), closer), FClosing.end());
        if (!words->empty()) emit Message(AsMessage(*words));
        closer->deleteLater();
    });
    FClosing.push_back(closer);
    closer->start();
}

void TTelemetryLink::Shutdown() {
    CloseCurrent();
    for (const QPointer<QThread>& closer : FClosing) {
        if (closer) closer->wait();
    }
    FClosing.clear();
}
