// Counts of this process's threads and handles, for tests that prove a
// repeated operation leaves nothing behind; and a patient wait for a condition.
#ifndef QUILLON_PROCESS_COUNTERS_H
#define QUILLON_PROCESS_COUNTERS_H

#include <windows.h>
#include <functional>

int ProcessThreadCount();
DWORD ProcessHandleCount();

// Polls `condition` until it holds or `milliseconds` have passed; returns its last value.
bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds = 5000);

#endif
