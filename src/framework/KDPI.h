#pragma once
// Process identity the framework gives every plug-in: the agent's folders,
// the focus and application names, and the job's event context.
#include <cstdint>
#include <string>

#include "framework/FrameworkApi.h"

// The agent's base folder: set by the host (or a test) with setBaseDir,
// otherwise $AGENT_BASE_DIR, otherwise /opt/agent. The settings file, the log
// and the cleanup store live under it.
class FW_API KDPI_Base {
public:
    static std::string getBaseDir();
    static std::string getTempDir();   // <base>/Temp, created on demand
    static void setBaseDir(const std::string& dir);
};

class FW_API KDPI_Focus {
public:
    static std::string getFocus();
    static void setFocus(const std::string& focus);
    static std::string getAppName();
    static void setAppName(const std::string& name);
    static std::string getClientName();
    static void setClientName(const std::string& name);
};

// The job's event context. New objects copy the process default, which the
// host sets before it creates a plug-in object. -123456 marks "no job".
class FW_API EvEvent {
public:
    static constexpr int64_t kNoJob = -123456;
    EvEvent();
    int64_t getJobId() const { return m_jobId; }
    void setJobId(int64_t id) { m_jobId = id; }

    static void setProcessJobId(int64_t id);
    static int64_t getProcessJobId();

private:
    int64_t m_jobId;
};
