// The choice of a new bridge object's backend, from Bridge/sBackend.
#include "bridge/BackendChoice.h"

#include "bridge/RefusingBackend.h"
#include "bridge/SimBackend.h"
#include "bridge/wire/WireBackend.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"

namespace bridgeimpl {

namespace {

// Stands in for a backend the setting names but that does not exist: every
// operation, initialize included, fails with the same text.
class UnknownBackend final : public RefusingBackend {
public:
    explicit UnknownBackend(const std::string& name)
        : m_why("InvalidParameterValue: unknown bridge backend '" + name +
                "' (setting Bridge/sBackend takes cloudsim or aws)") {}

    bool Refuse(const char*) override {
        m_lastError = m_why;
        return false;
    }
    bool initialize(const std::string&, const std::string&, long long) override { return Refuse("initialize"); }
    void SetWebProxy(const std::string& host, const std::string&, const std::string&, int) override {
        m_proxyHost = host;
    }
    bool Connect(const std::string&, const std::string&, const std::string&) override { return Refuse("Connect"); }
    void Disconnect() override {}
    void overrideRegion(const std::string& region) override { m_region = region; }
    std::string GetLastErrorString() const override { return m_lastError; }
    std::string GetCurrentRegion() const override { return m_region; }
    std::string GetWebProxyHost() const override { return m_proxyHost; }
    bool IsInitialized() const override { return false; }
    bool IsConnected() const override { return false; }

private:
    std::string m_why;
    std::string m_lastError;
    std::string m_region;
    std::string m_proxyHost;
};

}  // namespace

std::unique_ptr<Backend> MakeBackend() {
    std::string name;
    KDPlatformInfo().getString("Bridge", "sBackend", name);
    if (name.empty() || name == "cloudsim") return std::make_unique<SimBackend>();
    if (name == "aws") return std::make_unique<WireBackend>();
    EvDebug::Error("AwsBridge", "unknown bridge backend '%s' in Bridge/sBackend", name.c_str());
    return std::make_unique<UnknownBackend>(name);
}

}  // namespace bridgeimpl
