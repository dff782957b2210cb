#include "support/TestEnv.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "cloudsim/Cloud.h"
#include "framework/BiosInfo.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"

TestEnv::TestEnv() {
    char tmpl[] = "/tmp/amazoninfo-test-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (!dir) throw std::runtime_error("mkdtemp failed");
    m_base = dir;
    KDPI_Base::setBaseDir(m_base);
    EvDebug::Reload();
    m_clock = std::make_shared<VirtualClock>();
    FwClock::Set(m_clock);
}

TestEnv::~TestEnv() {
    cloudsim::Cloud::SetProcessCloud(nullptr);
    FwBios::SetOverride(std::nullopt);
    FwClock::Set(nullptr);
    EvDebug::SetTap(nullptr);
    if (!std::getenv("KEEP_TEST_BASE")) FwFile::RemoveTree(m_base);
}

std::shared_ptr<cloudsim::Cloud> TestEnv::InstallCloud(const std::string& seedFile) {
    auto cloud = cloudsim::Cloud::InMemory(ReadFile(seedFile));
    cloudsim::Cloud::SetProcessCloud(cloud);
    return cloud;
}

void TestEnv::SetSetting(const std::string& section, const std::string& key, const std::string& value) {
    if (!KDPlatformInfo::setValue(section, key, value)) throw std::runtime_error("cannot write setting " + key);
}

std::string TestEnv::ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
