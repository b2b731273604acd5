#pragma once
// One poll cycle: every value the tester offers, read in code order 0x10 to 0x19 with no pause,
// gathered into one TDeviceReading and posted through the link to its receiver. A record is posted
// after every cycle, also when every read failed, unless the port was closed during the cycle. Runs
// on the link's worker thread.

#include "device/DeviceReading.h"
#include "device/SerialLink.h"

// Reads every value into a record (without posting it).
TDeviceReading ReadDevice(TSerialLink& link, TAbortEvent abortEvent);
// ReadDevice(), then the link's Post() of the record as a TReadingTaken if the port open at the
// start of the cycle is still open.
void PollDevice(TSerialLink& link, TAbortEvent abortEvent);
