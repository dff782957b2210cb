#pragma once
// One run of a process on this machine, told apart from a later process
// that happens to reuse its pid: what the framework's stores record as the
// owner of work in progress, so that a later process can tell work whose
// owner died from work of a job still running.
#include <string>

#include "framework/FrameworkApi.h"

namespace FwProcess {
// Start time of a process in clock ticks since boot; -1 when it cannot be
// read (gone, or hidden by hidepid).
FW_API long long StartTicks(long pid);
// Whether the process exists at all; another user's process counts.
FW_API bool Alive(long pid);
// This process's run: "<pid>:<start ticks>".
FW_API std::string SelfRun();
// Whether the run a SelfRun() text names still goes on. A text that does
// not parse names no run.
FW_API bool IsRunning(const std::string& run);
}  // namespace FwProcess
