// Runs one test of the current test program again in a child process, so
// that a crash or a hang there fails the test here instead of ending the run.
#ifndef QUILLON_CHILD_PROCESS_H
#define QUILLON_CHILD_PROCESS_H

#include <windows.h>

// True in the child that RunTestInChildProcess started.
bool InChildProcess();

// Runs the test named "Suite.Name" in a child process and returns its exit
// code: 0 when it passed; a failure, a crash or a hang (ended after the time
// limit) gives something else.
DWORD RunTestInChildProcess(const char* testName, DWORD milliseconds = 120000);

#endif
