#pragma once
// The operator's choices that the console remembers from one run to the next, in the user's
// configuration folder ("Kelvo/kelvo-console.conf", QSettings' INI format): the port and speed
// picked last, the window's size and position, "Reconnect automatically", the register that
// verdicts are recorded in, the telemetry broker (its password never) and the last bench's ports.
// Setpoints are never kept: they live in the tester. Read at start and written at exit, on the
// window's thread.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "app/TelemetryChoice.h"

struct TRememberedChoices {
    QString Port;         // empty: none remembered
    uint32_t Baud = 0;    // 0: none remembered
    QByteArray Geometry;  // QWidget::saveGeometry(); empty: none remembered
    bool Reconnect = true;
    QString Register;            // the register verdicts are recorded in; empty: the default one
    TTelemetryChoice Telemetry;  // the broker readings are published to; none by default
    QStringList BenchPorts;      // the ports of the last bench's tiles
    QByteArray BenchGeometry;    // the bench window's saveGeometry(); empty: none remembered
};

// The remembered choices, or none (the defaults) when nothing was kept yet or the file cannot be
// read; a damaged file is ignored with a debug line.
TRememberedChoices LoadChoices();
void SaveChoices(const TRememberedChoices& choices);
