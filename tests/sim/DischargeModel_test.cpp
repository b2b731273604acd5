// The simulated tester's discharge: what a console sees of a test from start to end.

#include <gtest/gtest.h>

#include "sim/DischargeModel.h"

namespace sim {
namespace {

CellModel TwoAmpHourCell() {
    CellModel cell;
    cell.capacityAh = 2.0;
    cell.fullVoltage = 4.2;
    cell.emptyVoltage = 3.0;
    cell.internalOhm = 0.05;
    cell.ambientC = 25;
    return cell;
}

// A running test at `centiAmperes`, stopping at `cutoffCentiVolts`.
DischargeModel RunningTest(uint32_t centiAmperes, uint32_t cutoffCentiVolts) {
    DischargeModel model(TwoAmpHourCell());
    model.SetCurrentSetpoint(centiAmperes);
    model.SetCutoffVoltage(cutoffCentiVolts);
    model.SetRunning(true);
    return model;
}

TEST(DischargeModel, RestingFullCellShowsFullVoltageAndNoCurrent) {
    DischargeModel model(TwoAmpHourCell());
    EXPECT_EQ(model.State().status, 0);
    EXPECT_EQ(model.State().voltage_mV, 4200u);
    EXPECT_EQ(model.State().current_mA, 0u);
    EXPECT_EQ(model.State().temperature, 25);
}

TEST(DischargeModel, LoadSagsTheVoltageAndCountsChargeAndEnergy) {
    DischargeModel model = RunningTest(100, 300);
    EXPECT_EQ(model.State().current_mA, 1000u);
    EXPECT_EQ(model.State().voltage_mV, 4150u) << "1 A through 0.05 ohm";
    model.Advance(720);
    const Registers r = model.State();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.ampHours_mAh, 200u);
    EXPECT_EQ(r.testTime_s, 720u);
    EXPECT_LT(r.voltage_mV, 4150u);
    // Energy is charge times a voltage between the loaded start and end voltages.
    EXPECT_GT(r.wattHours_mWh, 200u * r.voltage_mV / 1000);
    EXPECT_LT(r.wattHours_mWh, 200u * 4150 / 1000 + 1);
    EXPECT_GT(r.temperature, 25) << "4 W warms the tester";
}

TEST(DischargeModel, TestEndsAtTheCutoffVoltage) {
    DischargeModel model = RunningTest(200, 320);
    // One large advance, as at a high acceleration: the stop still comes at the cutoff.
    model.Advance(5 * 3600);
    const Registers r = model.State();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.current_mA, 0u);
    EXPECT_GT(r.ampHours_mAh, 1500u);
    EXPECT_LT(r.ampHours_mAh, 2000u) << "stopped before the cell was empty";
    EXPECT_GE(r.voltage_mV, 3200u) << "resting voltage is back above the cutoff";
    EXPECT_LT(r.testTime_s, 3600u);
}

TEST(DischargeModel, FlatCellEndsATestWithoutCutoff) {
    DischargeModel model = RunningTest(200, 0);
    model.Advance(10 * 3600);
    EXPECT_EQ(model.State().status, 0);
    EXPECT_GT(model.State().ampHours_mAh, 2000u);
    EXPECT_LT(model.State().ampHours_mAh, 2600u);
}

TEST(DischargeModel, TimedTestCountsDownAndEndsOnTime) {
    DischargeModel model = RunningTest(100, 0);
    model.SetTestTimeSetpoint(100);
    EXPECT_EQ(model.State().testTime_s, 100u);
    model.Advance(40.5);
    EXPECT_EQ(model.State().testTime_s, 60u);
    model.Advance(500);
    const Registers r = model.State();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.testTime_s, 0u);
    EXPECT_EQ(r.ampHours_mAh, 28u) << "100 s at 1 A, not a second more";
}

TEST(DischargeModel, ResetClearsCountersButNotTheCellsCharge) {
    DischargeModel model = RunningTest(100, 0);
    model.Advance(1800);
    model.SetRunning(false);
    const uint32_t restingVoltage = model.State().voltage_mV;
    model.ResetCounters();
    const Registers r = model.State();
    EXPECT_EQ(r.ampHours_mAh, 0u);
    EXPECT_EQ(r.wattHours_mWh, 0u);
    EXPECT_EQ(r.testTime_s, 0u);
    EXPECT_EQ(r.voltage_mV, restingVoltage);
    EXPECT_LT(restingVoltage, 4200u);
}

TEST(DischargeModel, TemperatureRelaxesToAmbientAfterTheTest) {
    DischargeModel model = RunningTest(300, 0);
    model.Advance(600);
    EXPECT_GT(model.State().temperature, 40);
    model.SetRunning(false);
    model.Advance(3600);
    EXPECT_EQ(model.State().temperature, 25);
}

TEST(DischargeModel, PinnedRegistersDoNotDriftWhileTheTestIsOff) {
    Registers pinned;
    pinned.voltage_mV = 3777;
    pinned.current_mA = 12;  // contradicts "off", and is still answered as set
    pinned.testTime_s = 4000;
    pinned.ampHours_mAh = 1234;
    pinned.wattHours_mWh = 4567;
    pinned.temperature = 71;
    pinned.currentSetpoint_cA = 150;
    pinned.cutoffVoltage_cV = 290;
    pinned.testTimeSetpoint_s = 0;
    DischargeModel model(TwoAmpHourCell());
    model.Set(pinned);
    model.Advance(3600);
    EXPECT_EQ(model.State(), pinned);
    model.SetCurrentSetpoint(175);
    pinned.currentSetpoint_cA = 175;
    EXPECT_EQ(model.State(), pinned) << "a write changes its own register only";
}

TEST(DischargeModel, StartedFromPinnedRegistersTheModelGoesOnFromThem) {
    Registers pinned;
    pinned.voltage_mV = 3700;
    pinned.ampHours_mAh = 500;
    pinned.testTime_s = 100;
    pinned.currentSetpoint_cA = 100;
    DischargeModel model(TwoAmpHourCell());
    model.Set(pinned);
    model.SetRunning(true);
    EXPECT_EQ(model.State().voltage_mV, 3650u) << "the pinned resting voltage less I×R";
    model.Advance(360);
    EXPECT_EQ(model.State().ampHours_mAh, 600u);
    EXPECT_EQ(model.State().testTime_s, 460u);
}

TEST(DischargeModel, LateShownTimedTestCountsDownFromTheStartNotFromTheShowing) {
    DischargeModel model(TwoAmpHourCell(), 3);
    model.SetCurrentSetpoint(100);
    model.SetTestTimeSetpoint(100);
    model.SetRunning(true);
    model.Advance(40.5);
    EXPECT_EQ(model.State().status, 0);
    EXPECT_EQ(model.State().testTime_s, 60u);
    for (int read = 0; read < 3; ++read) model.StatusRead();
    EXPECT_EQ(model.State().status, 1);
    EXPECT_EQ(model.State().testTime_s, 60u);
}

TEST(DischargeModel, RepeatedStartWithinTheLagDoesNotPutOffTheShowing) {
    // A console that sees 0 after its Start may send it again; the status must still come up.
    DischargeModel model(TwoAmpHourCell(), 2);
    model.SetRunning(true);
    model.StatusRead();
    model.SetRunning(true);
    model.StatusRead();
    EXPECT_EQ(model.State().status, 1);
}

// A real tester switches its load off at an end of its own and shows the stop polls later: the
// console sees readings of a running test with no current and the cell at rest.
TEST(DischargeModel, EndOfItsOwnShowsTheLoadOffBeforeTheStopAndAStopWriteShowsAtOnce) {
    struct Case {
        const char* fault;
        uint32_t cutoff_cV, time_s;
        bool stopWrite;  // the console sends Stop during the lag
        uint32_t runningReads;
    };
    const Case cases[] = {
        {"cutoff shown with the load", 300, 0, false, 2},
        {"end on time shown with the load", 0, 600, false, 2},
        {"stop write kept waiting for the lag", 300, 0, true, 0},
    };
    for (const Case& c : cases) {
        CellModel aged = TwoAmpHourCell();
        aged.internalOhm = 0.18;
        DischargeModel model(aged, 0, 2);
        model.SetCurrentSetpoint(100);
        model.SetCutoffVoltage(c.cutoff_cV);
        model.SetTestTimeSetpoint(c.time_s);
        model.SetRunning(true);
        model.Advance(5 * 3600);
        const Registers ended = model.State();
        EXPECT_EQ(ended.current_mA, 0u) << c.fault;
        if (c.cutoff_cV > 0) {
            // At rest: the cutoff under load and 1 A through 0.18 ohm.
            EXPECT_NEAR(ended.voltage_mV, 3180, 5) << c.fault;
        }
        model.Advance(600);  // nothing is drawn or counted meanwhile
        EXPECT_EQ(model.State().ampHours_mAh, ended.ampHours_mAh) << c.fault;
        EXPECT_EQ(model.State().testTime_s, ended.testTime_s) << c.fault;
        if (c.stopWrite) model.SetRunning(false);
        uint32_t running = 0;
        for (int read = 0; read < 5; ++read, model.StatusRead()) {
            running += model.State().status;
        }
        EXPECT_EQ(running, c.runningReads) << c.fault;
    }
}

TEST(DischargeModel, NegativeTemperatureIsAnsweredAsTwosComplement) {
    CellModel cold = TwoAmpHourCell();
    cold.ambientC = -5;
    DischargeModel model(cold);
    EXPECT_EQ(model.State().temperature, 251);
}

}  // namespace
}  // namespace sim
