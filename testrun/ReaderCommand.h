#pragma once
// A command from the window to the worker, queued on the heap: the window allocates it, the
// queue holds the only pointer, the worker owns it from the pop on and frees it.

#include <cstdint>

enum TCommandKind : int32_t {
    cmdStartStop = 1,         // 1.0 start, 0.0 stop
    cmdSetCurrent = 2,        // discharge current, A
    cmdSetCutoffVoltage = 3,  // minimum (cutoff) voltage, V
    cmdSetTestTime = 4,       // test time, s
    cmdResetCounters = 5,     // value not used
    cmdConnect = 6,           // 1.0 connect, 0.0 disconnect
};

struct TReaderCommand {
    int32_t Kind;
    double Value;
};
