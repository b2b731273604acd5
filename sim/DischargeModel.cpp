#include "sim/DischargeModel.h"

#include <algorithm>
#include <cmath>

namespace sim {
namespace {

constexpr double kStepS = 1.0;
constexpr double kSecondsPerHour = 3600.0;
constexpr uint32_t kMaxCount = 0xFFFFFF;  // the largest 24-bit count an answer carries

uint32_t ToCount(double value, double unitsPerValue) {
    const double units = std::round(value * unitsPerValue);
    if (!(units > 0)) return 0;
    return units >= kMaxCount ? kMaxCount : static_cast<uint32_t>(units);
}

// The temperature byte: whole degrees, below zero as two's complement.
uint8_t TemperatureByte(double celsius) {
    const long degrees = std::clamp(std::lround(celsius), -128L, 127L);
    return static_cast<uint8_t>(degrees & 0xFF);
}

double TemperatureOf(uint8_t byte) {
    return static_cast<int8_t>(byte);
}

}  // namespace

DischargeModel::DischargeModel(const CellModel& cell, uint32_t startLateReads,
                               uint32_t stopLateReads)
    : cell_(cell),
      startLateReads_(startLateReads),
      stopLateReads_(stopLateReads),
      temperatureC_(cell.ambientC) {
    Publish();
}

void DischargeModel::Set(const Registers& registers) {
    registers_ = registers;
    running_ = registers.status == 1;
    lateReadsLeft_ = 0;
    stopReadsLeft_ = 0;
    const double openCircuit =
        registers.voltage_mV / 1000.0 + registers.current_mA / 1000.0 * cell_.internalOhm;
    chargeTakenAh_ = ChargeTakenAt(cell_, openCircuit);
    ampHours_ = registers.ampHours_mAh / 1000.0;
    wattHours_ = registers.wattHours_mWh / 1000.0;
    temperatureC_ = TemperatureOf(registers.temperature);
    const uint32_t setpoint = registers.testTimeSetpoint_s;
    elapsedS_ =
        setpoint > 0 ? setpoint - std::min(registers.testTime_s, setpoint) : registers.testTime_s;
    pinned_ = !Running();
}

void DischargeModel::Advance(double seconds) {
    if (!(seconds > 0)) return;
    while (Running() && seconds > 0) {
        double step = std::min(seconds, kStepS);
        if (registers_.testTimeSetpoint_s > 0) {
            step = std::min(step, registers_.testTimeSetpoint_s - elapsedS_);
        }
        if (step > 0) {
            Step(step);
            seconds -= step;
        }
        const double volts = LoadedVoltage(SetCurrent());
        const bool atCutoff =
            registers_.cutoffVoltage_cV > 0 && volts <= registers_.cutoffVoltage_cV / 100.0;
        // A cell run flat (0 V) ends the test even without a cutoff: there is nothing to draw.
        if (atCutoff || volts <= 0 || TimedTestOver()) EndByItself();
    }
    if (pinned_) return;
    Relax(seconds);
    Publish();
}

void DischargeModel::StartedAgo(double seconds) {
    running_ = true;
    pinned_ = false;
    lateReadsLeft_ = 0;
    Publish();
    Advance(seconds);
    EndStopLag();  // an end within that time is long shown too
}

void DischargeModel::StatusRead() {
    if (lateReadsLeft_ == 0 && stopReadsLeft_ == 0) return;
    if (lateReadsLeft_ > 0) --lateReadsLeft_;
    if (stopReadsLeft_ > 0) --stopReadsLeft_;
    Publish();
}

void DischargeModel::SetRunning(bool run) {
    if (!run) EndStopLag();
    if (run == Running()) return;
    if (run) {
        if (StartIgnored()) return;
        running_ = true;
        pinned_ = false;
        lateReadsLeft_ = startLateReads_;
    } else {
        Stop();
    }
    Publish();
}

void DischargeModel::SetCurrentSetpoint(uint32_t centiAmperes) {
    registers_.currentSetpoint_cA = centiAmperes;
    Publish();
}

void DischargeModel::SetCutoffVoltage(uint32_t centiVolts) {
    registers_.cutoffVoltage_cV = centiVolts;
    Publish();
}

void DischargeModel::SetTestTimeSetpoint(uint32_t seconds) {
    registers_.testTimeSetpoint_s = seconds;
    if (pinned_) registers_.testTime_s = ClockRegister();
    Publish();
}

void DischargeModel::ResetCounters() {
    ampHours_ = 0;
    wattHours_ = 0;
    elapsedS_ = 0;
    if (pinned_) {
        registers_.ampHours_mAh = 0;
        registers_.wattHours_mWh = 0;
        registers_.testTime_s = ClockRegister();
    }
    Publish();
}

double DischargeModel::LoadedVoltage(double amperes) const {
    return std::max(OpenCircuitVoltage(cell_, chargeTakenAh_) - amperes * cell_.internalOhm, 0.0);
}

bool DischargeModel::StartIgnored() const {
    return CellAtOrBelowCutoff() || TimedTestOver();
}

bool DischargeModel::CellAtOrBelowCutoff() const {
    const uint32_t cutoff = registers_.cutoffVoltage_cV;
    return cutoff > 0 && uint64_t{cutoff} * 10 >= registers_.voltage_mV;
}

bool DischargeModel::TimedTestOver() const {
    const uint32_t setpoint = registers_.testTimeSetpoint_s;
    return setpoint > 0 && elapsedS_ >= setpoint - 1e-9;
}

void DischargeModel::Step(double seconds) {
    const double amperes = SetCurrent();
    const double volts = LoadedVoltage(amperes);
    const double drawnAh = amperes * seconds / kSecondsPerHour;
    chargeTakenAh_ += drawnAh;
    ampHours_ += drawnAh;
    wattHours_ += volts * drawnAh;
    elapsedS_ += seconds;
    if (TimedTestOver()) elapsedS_ = registers_.testTimeSetpoint_s;
    const double target = cell_.ambientC + cell_.thermalRiseCPerW * volts * amperes;
    const double tau = std::max(cell_.thermalTimeConstantS, 1e-3);
    temperatureC_ += (target - temperatureC_) * (1.0 - std::exp(-seconds / tau));
}

void DischargeModel::Stop() {
    running_ = false;
    lateReadsLeft_ = 0;
    stopReadsLeft_ = 0;
}

void DischargeModel::EndByItself() {
    Stop();
    stopReadsLeft_ = stopLateReads_;
}

void DischargeModel::EndStopLag() {
    if (stopReadsLeft_ == 0) return;
    stopReadsLeft_ = 0;
    Publish();
}

uint8_t DischargeModel::ShownStatus() const {
    if (Running()) return lateReadsLeft_ == 0 ? 1 : 0;
    return stopReadsLeft_ > 0 ? 1 : 0;
}

void DischargeModel::Relax(double seconds) {
    if (!(seconds > 0)) return;
    const double tau = std::max(cell_.thermalTimeConstantS, 1e-3);
    temperatureC_ = cell_.ambientC + (temperatureC_ - cell_.ambientC) * std::exp(-seconds / tau);
}

uint32_t DischargeModel::ClockRegister() const {
    const uint32_t setpoint = registers_.testTimeSetpoint_s;
    if (setpoint == 0) return static_cast<uint32_t>(std::floor(elapsedS_ + 1e-9));
    return static_cast<uint32_t>(std::ceil(std::max(setpoint - elapsedS_, 0.0) - 1e-9));
}

void DischargeModel::Publish() {
    if (pinned_) return;
    registers_.status = ShownStatus();
    const double amperes = Running() ? SetCurrent() : 0.0;
    const uint64_t milliAmperes = Running() ? uint64_t{registers_.currentSetpoint_cA} * 10 : 0;
    registers_.current_mA = static_cast<uint32_t>(std::min<uint64_t>(milliAmperes, kMaxCount));
    registers_.voltage_mV = ToCount(LoadedVoltage(amperes), 1000);
    registers_.testTime_s = ClockRegister();
    registers_.ampHours_mAh = ToCount(ampHours_, 1000);
    registers_.wattHours_mWh = ToCount(wattHours_, 1000);
    registers_.temperature = TemperatureByte(temperatureC_);
}

}  // namespace sim
