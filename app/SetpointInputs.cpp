#include "app/SetpointInputs.h"

#include <QInputDialog>

#include "testrun/ReaderCommand.h"

std::optional<QString> AskText(QWidget* parent, const QString& title, const QString& prompt,
                               const QString& initial) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return text;
}

int TSetpointsAhead::IndexOf(int kind) {
    switch (kind) {
        case cmdSetCurrent:
            return 0;
        case cmdSetCutoffVoltage:
            return 1;
        case cmdSetTestTime:
            return 2;
        default:
            return -1;
    }
}

void TSetpointsAhead::Queued(int kind, double value) {
    if (const int i = IndexOf(kind); i >= 0) {
        FSetpoints[i].Queued = value;
        ++FSetpoints[i].Owed;
    }
}

void TSetpointsAhead::Done(int kind) {
    if (const int i = IndexOf(kind); i >= 0 && FSetpoints[i].Owed > 0) --FSetpoints[i].Owed;
}

void TSetpointsAhead::Reading(const TDeviceReading& reading) {
    const double reported[] = {reading.CurrentSetpoint, reading.CutoffVoltage,
                               static_cast<double>(reading.TestTimeSetpoint)};
    for (int i = 0; i < 3; ++i) {
        if (!(reported[i] >= 0)) continue;  // not read (-1, or not a number)
        FSetpoints[i].Reported = reported[i];
        if (FSetpoints[i].Owed == 0) FSetpoints[i].Queued.reset();
    }
}

void TSetpointsAhead::Clear() {
    for (TSetpoint& setpoint : FSetpoints) setpoint = {};
}

std::optional<double> TSetpointsAhead::Value(int kind) const {
    const int i = IndexOf(kind);
    if (i < 0) return std::nullopt;
    return FSetpoints[i].Queued ? FSetpoints[i].Queued : FSetpoints[i].Reported;
}
