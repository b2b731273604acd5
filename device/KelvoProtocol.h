#pragma once
// The device link as a whole: serial link, tester protocol and poll cycle.

#include "device/DeviceCodec.h"
#include "device/DeviceProtocol.h"
#include "device/DeviceReading.h"
#include "device/PollCycle.h"
#include "device/SerialLink.h"
