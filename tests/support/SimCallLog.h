// Reads the simulated camera library's call log.
#ifndef QUILLON_SIM_CALL_LOG_H
#define QUILLON_SIM_CALL_LOG_H

#include <initializer_list>
#include <string>
#include <vector>

#include "sdk/QuillonSim.h"

// Every recorded call, oldest first.
std::vector<QuillonSimCall> SimCallRecords();
// The names of every recorded call, oldest first.
std::vector<std::string> SimCallNames();
// The names of the recorded calls whose name is one of `wanted`, oldest first.
std::vector<std::string> SimCallNamesAmong(std::initializer_list<const char*> wanted);
// The recorded calls whose name starts with `prefix` ("CameraSet"), oldest first.
std::vector<QuillonSimCall> SimCallsStartingWith(const char* prefix);
// How often the named function was called.
int SimCallCount(const char* name);

#endif
