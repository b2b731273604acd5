#pragma once
// The cell that the simulated tester discharges, and its open-circuit voltage curve.

namespace sim {

struct CellModel {
    double capacityAh = 2.0;
    double fullVoltage = 4.2;           // open-circuit voltage when full, V
    double emptyVoltage = 3.0;          // open-circuit voltage when the capacity is used up, V
    double internalOhm = 0.05;          // series resistance: the voltage sags by I×R under load
    double ambientC = 25;               // temperature that the tester relaxes to, °C
    double thermalRiseCPerW = 3.0;      // steady warming per watt of discharge power, °C/W
    double thermalTimeConstantS = 120;  // time the temperature takes to close 63 % of a gap, s
};

// Open-circuit voltage after `chargeTakenAh` was drawn from a full cell: linear over most of the
// charge, falling faster near empty (the knee), and steeply once past the rated capacity. Never
// below 0 V.
double OpenCircuitVoltage(const CellModel& cell, double chargeTakenAh);

// The inverse: the charge taken at which the cell rests at `voltage` (0 at or above full).
double ChargeTakenAt(const CellModel& cell, double voltage);

}  // namespace sim
