#include "sim/CellModel.h"

#include <algorithm>

namespace sim {
namespace {

// Shape of the curve, as fractions of the charge and of the full-to-empty voltage span.
constexpr double kKneeCharge = 0.1;    // the knee sits at 10 % charge left ...
constexpr double kKneeVoltage = 0.2;   // ... 20 % of the span above empty
constexpr double kOverdrawSlope = 10;  // span lost per capacity drawn past empty

double Capacity(const CellModel& cell) {
    return std::max(cell.capacityAh, 1e-9);
}
double Span(const CellModel& cell) {
    return std::max(cell.fullVoltage - cell.emptyVoltage, 0.0);
}

}  // namespace

double OpenCircuitVoltage(const CellModel& cell, double chargeTakenAh) {
    const double left = 1.0 - std::max(chargeTakenAh, 0.0) / Capacity(cell);
    const double span = Span(cell);
    const double knee = cell.emptyVoltage + kKneeVoltage * span;
    double volts;
    if (left >= kKneeCharge) {
        volts = knee + (left - kKneeCharge) / (1.0 - kKneeCharge) * (cell.fullVoltage - knee);
    } else if (left >= 0) {
        volts = cell.emptyVoltage + left / kKneeCharge * (knee - cell.emptyVoltage);
    } else {
        volts = cell.emptyVoltage + left * kOverdrawSlope * std::max(span, 0.1);
    }
    return std::max(volts, 0.0);
}

double ChargeTakenAt(const CellModel& cell, double voltage) {
    const double span = Span(cell);
    const double knee = cell.emptyVoltage + kKneeVoltage * span;
    double left;
    if (voltage >= cell.fullVoltage) {
        left = 1.0;
    } else if (voltage >= knee && cell.fullVoltage > knee) {
        left = kKneeCharge + (voltage - knee) / (cell.fullVoltage - knee) * (1.0 - kKneeCharge);
    } else if (voltage >= cell.emptyVoltage && knee > cell.emptyVoltage) {
        left = (voltage - cell.emptyVoltage) / (knee - cell.emptyVoltage) * kKneeCharge;
    } else {
        left = (voltage - cell.emptyVoltage) / (kOverdrawSlope * std::max(span, 0.1));
        left = std::min(left, 0.0);
    }
    return (1.0 - left) * Capacity(cell);
}

}  // namespace sim
