// The simulated backend's set-up and identity: initialize, connect, the
// account's ids and the machine's own instance.
#include "bridge/BridgeImpl.h"

using namespace bridgeimpl;

SimBackend::SimBackend() : m_impl(std::make_unique<Impl>()) {}

SimBackend::~SimBackend() = default;

bool SimBackend::initialize(const std::string& focus, const std::string& appName, long long jobId) {
    Impl& d = *m_impl;
    try {
        std::string why;
        auto cloud = cloudsim::Cloud::ProcessCloud(&why);
        if (!cloud) {
            d.cloud.reset();
            return d.Fail("initialize", "InternalError: simulated cloud unavailable: " + why);
        }
        d.cloud = cloud;
    } catch (const std::exception& e) {
        d.cloud.reset();
        return d.Fail("initialize", std::string("InternalError: simulated cloud unavailable: ") + e.what());
    }
    bool ok = d.Run("initialize", false, [&](std::string&) {
        d.focus = focus;
        d.appName = appName;
        d.jobId = jobId;
        return true;
    });
    if (!ok) {
        d.cloud.reset();
        d.accountId.clear();
    }
    return ok;
}

void SimBackend::SetWebProxy(const std::string& host, const std::string&, const std::string&, int) {
    m_impl->proxyHost = host;
}

bool SimBackend::Connect(const std::string& url, const std::string& accessKey, const std::string& secretKey) {
    Impl& d = *m_impl;
    // A failed attempt leaves no connection behind, not even an older one.
    d.accountId.clear();
    return d.Run("Connect", false, [&](std::string& error) {
        bool ok = false;
        d.cloud->Read([&](const cloudsim::State& s) {
            const cloudsim::Account* account = cloudsim::Authenticate(s, accessKey, secretKey, error);
            if (!account) return;
            std::string region = url.empty() ? account->defaultRegion : RegionOfUrl(url);
            if (!s.FindRegion(region)) {
                error = UnknownRegion(region);
                return;
            }
            d.accountId = account->id;
            d.region = region;
            ok = true;
        });
        if (ok) EvDebug::DebugLvl(kTag, 2, "connected to account %s in %s", d.accountId.c_str(), d.region.c_str());
        return ok;
    });
}

void SimBackend::Disconnect() {
    m_impl->accountId.clear();
    m_impl->dcList.clear();
    m_impl->hostList.clear();
    m_impl->vmList.clear();
}

void SimBackend::overrideRegion(const std::string& region) { m_impl->region = region; }

std::string SimBackend::GetLastErrorString() const { return m_impl->lastError; }

std::string SimBackend::GetCurrentRegion() const { return m_impl->region; }

bool SimBackend::GetAccountId(std::string& accountId) {
    Impl& d = *m_impl;
    return d.Run("GetAccountId", true, [&](std::string&) {
        accountId = d.accountId;
        return true;
    });
}

namespace {
// One field of the connected account, or an AuthFailure when the account
// is gone from the cloud.
template <class Impl>
bool ReadAccountField(Impl& d, const char* op, std::string cloudsim::Account::*field,
                      std::string& out) {
    return d.Run(op, true, [&](std::string& error) {
        bool ok = false;
        d.cloud->Read([&](const cloudsim::State& s) {
            const cloudsim::Account* a = cloudsim::ConnectedAccount(s, d.accountId, error);
            if (!a) return;
            out = a->*field;
            ok = true;
        });
        return ok;
    });
}
}  // namespace

bool SimBackend::GetCanonicalId(std::string& canonicalId) {
    return ReadAccountField(*m_impl, "GetCanonicalId", &cloudsim::Account::canonicalId, canonicalId);
}

bool SimBackend::GetAwsArnPartition(std::string& partition) {
    return ReadAccountField(*m_impl, "GetAwsArnPartition", &cloudsim::Account::partition, partition);
}

bool SimBackend::GetLocalInstanceId(std::string& instanceId) {
    Impl& d = *m_impl;
    return d.Run("GetLocalInstanceId", true, [&](std::string&) {
        d.cloud->Read([&](const cloudsim::State& s) { instanceId = s.proxyInstanceId; });
        return true;
    });
}

bool SimBackend::GetLocalInstanceRegion(std::string& region) {
    Impl& d = *m_impl;
    return d.Run("GetLocalInstanceRegion", true, [&](std::string&) {
        d.cloud->Read([&](const cloudsim::State& s) {
            auto it = s.instances.find(s.proxyInstanceId);
            region = it == s.instances.end() ? std::string() : it->second.region;
        });
        return true;
    });
}

bool SimBackend::GetOutpostsAccountARN(const std::string& instanceId, const std::string& region,
                                             std::string& arn) {
    Impl& d = *m_impl;
    return d.Run("GetOutpostsAccountARN", true, [&](std::string& error) {
        bool ok = false;
        d.cloud->Read([&](const cloudsim::State& s) {
            if (!region.empty() && !s.FindRegion(region)) {
                error = UnknownRegion(region);
                return;
            }
            // Across all accounts: the proxy may live in the admin account.
            auto it = s.instances.find(instanceId);
            if (it == s.instances.end() || (!region.empty() && it->second.region != region)) {
                error = InstanceNotFound(instanceId);
                return;
            }
            arn = it->second.outpostArn;
            ok = true;
        });
        return ok;
    });
}

std::string SimBackend::GetWebProxyHost() const { return m_impl->proxyHost; }

bool SimBackend::IsInitialized() const { return m_impl->cloud != nullptr; }

bool SimBackend::IsConnected() const { return !m_impl->accountId.empty(); }
