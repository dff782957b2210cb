#pragma once
// SIGTERM and SIGINT cancel the job, as the framework's kill of a job does:
// the plug-in's waits see the process's cancelled flag and the job cleans
// up after itself. Held for the job's run; the previous handlers come back
// when it goes.
#include <signal.h>

class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Whether a stop signal arrived (since the process started).
    static bool Stopped();

private:
    struct sigaction m_term {}, m_int {};
};
