#include "host/StopSignals.h"

#include "framework/VMInfo.h"

namespace {
volatile sig_atomic_t g_stopped = 0;

void OnStop(int) {
    g_stopped = 1;
    CVMInfo::SetProcessJobCancelled(true);
}
}  // namespace

StopSignals::StopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, &m_term);
    ::sigaction(SIGINT, &action, &m_int);
}

StopSignals::~StopSignals() {
    ::sigaction(SIGTERM, &m_term, nullptr);
    ::sigaction(SIGINT, &m_int, nullptr);
}

bool StopSignals::Stopped() { return g_stopped != 0; }
