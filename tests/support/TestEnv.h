#pragma once
// Per-test environment: a fresh agent base folder under /tmp, a virtual
// clock, and optionally an in-memory simulated cloud installed for the
// process. Everything is undone when the object goes out of scope.
#include <memory>
#include <string>
#include "support/TestPaths.h"

class VirtualClock;
namespace cloudsim { class Cloud; }

class TestEnv {
public:
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv&) = delete;
    TestEnv& operator=(const TestEnv&) = delete;

    const std::string& BaseDir() const { return m_base; }
    VirtualClock& Clock() { return *m_clock; }

    // Installs an in-memory cloud seeded from the seed file (the demo seed by
    // default) as the process cloud.
    std::shared_ptr<cloudsim::Cloud> InstallCloud(const std::string& seedFile = AMAZON_DEMO_SEED);

    // Writes a setting into the base folder's settings file.
    static void SetSetting(const std::string& section, const std::string& key, const std::string& value);

    // Reads a whole file; empty when missing.
    static std::string ReadFile(const std::string& path);

private:
    std::string m_base;
    std::shared_ptr<VirtualClock> m_clock;
};
