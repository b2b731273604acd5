#pragma once
// Waking on time to tens of microseconds.

namespace platform {

// Lets the calling thread's timed waits end as close to their deadline as the system can,
// instead of up to 50 µs late (the default timer slack, which lets the kernel batch wake-ups):
// for a thread that keeps a wire's pace byte by byte.
void KeepPreciseTime();

}  // namespace platform
