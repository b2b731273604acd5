#include "device/PollCycle.h"

#include "device/DeviceProtocol.h"
#include "platform/DebugOutput.h"
#include "support/DateTime.h"

namespace {

// A double result stored in single precision; -1.0 stays exactly -1.0.
float Single(double value) {
    return static_cast<float>(value);
}

}  // namespace

TDeviceReading ReadDevice(TSerialLink& link, TAbortEvent abortEvent) {
    TDeviceReading r{};
    const TLocalStamp now = CurrentStamp();
    r.TimeStamp = now.DateTime;
    r.UtcOffset = static_cast<int16_t>(now.UtcOffsetMin);
    r.Status = static_cast<int8_t>(static_cast<uint8_t>(ReadStatus(link, abortEvent) & 0xFF));
    r.Voltage = Single(ReadVoltage(link, abortEvent));
    r.Current = Single(ReadCurrent(link, abortEvent));
    r.Power = (r.Voltage == -1.0f || r.Current == -1.0f) ? -1.0f : Single(r.Voltage * r.Current);
    r.TestTime = ReadTestTime(link, abortEvent);
    r.AmpHours = Single(ReadAmpHours(link, abortEvent));
    r.WattHours = Single(ReadWattHours(link, abortEvent));
    r.Temperature = static_cast<int8_t>(ReadTemperature(link, abortEvent));
    r.CurrentSetpoint = Single(ReadCurrentSetpoint(link, abortEvent));
    r.CutoffVoltage = Single(ReadCutoffVoltage(link, abortEvent));
    r.TestTimeSetpoint = ReadTestTimeSetpoint(link, abortEvent);
    return r;
}

void PollDevice(TSerialLink& link, TAbortEvent abortEvent) {
    const platform::SerialHandle port = link.Port();
    const TDeviceReading reading = ReadDevice(link, abortEvent);
    // The port's close (its device went away) cut this cycle short and was told to the window
    // first, which has closed the connection's log: a reading after that would be shown but never
    // logged, so it is not posted.
    const bool posted = link.PostWhileOpen(port, [&] { link.Post(TReadingTaken{reading}); });
    if (!posted) platform::DebugOutput("Reading dropped: the port closed during the poll cycle");
}
