// The wire backend's set-up and identity: credentials, the STS check of
// Connect, the account id and partition, and the one way its operations run.
#include <cstdlib>
#include <exception>
#include <algorithm>
#include <cctype>

#include "bridge/BridgeText.h"
#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireCredentials.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

namespace {
const char kTag[] = "AwsBridge";
const char kStsVersion[] = "2011-06-15";
const char kNotConnected[] = "InvalidClientState: not connected";

int IntSetting(const char* key, int fallback) {
    std::string text;
    if (!KDPlatformInfo().getString("Bridge", key, text) || text.empty()) return fallback;
    return std::atoi(text.c_str());
}

RetryPolicy PolicyFromSettings() {
    RetryPolicy policy;
    policy.maxAttempts = std::max(1, IntSetting("nWireMaxAttempts", policy.maxAttempts));
    return policy;
}

// The region a Connect names, else the environment's, else us-east-1 (the
// SDKs' own fallback for the global endpoints).
std::string ConnectRegion(const std::string& url) {
    if (!url.empty()) return RegionOfUrl(url);
    for (const char* name : {"AWS_REGION", "AWS_DEFAULT_REGION"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return "us-east-1";
}
}  // namespace

WireBackend::WireBackend() : WireBackend(MakeCurlTransport(), PolicyFromSettings()) {}

WireBackend::WireBackend(std::unique_ptr<Transport> transport, RetryPolicy policy)
    : m_client(std::move(transport), std::move(policy)) {
    m_pageSize = std::max(5, std::min(1000, IntSetting("nWirePageSize", m_pageSize)));
    // Every signed request, also the polls of a long wait, signs with keys
    // that are still good.
    m_client.SetBeforeSigning([this](std::string& error) { return RenewRoleCredentials(error); });
}

WireBackend::~WireBackend() = default;

bool WireBackend::Refuse(const char* op) {
    return Run(op, false, [&](std::string& error) {
        error = std::string("NotImplemented: ") + op + " is not offered by the AWS wire backend yet";
        return false;
    });
}

bool WireBackend::Run(const char* op, bool needsConnection, const std::function<bool(std::string&)>& body) {
    std::string error;
    try {
        if (!m_initialized) {
            error = "InvalidClientState: bridge not initialized";
        } else if (needsConnection && m_accountId.empty()) {
            error = kNotConnected;
        } else if (body(error)) {
            m_lastError.clear();
            return true;
        }
    } catch (const std::exception& e) {
        error = std::string("InternalError: ") + e.what();
    } catch (...) {
        error = "InternalError: unexpected failure";
    }
    if (error.empty()) error = std::string("InternalError: ") + op + " failed without a reason";
    m_lastError = error;
    EvDebug::DebugLvl(kTag, 1, "%s failed: %s", op, error.c_str());
    return false;
}

std::string WireBackend::RegionFor(const std::string& given) const {
    if (given.empty() || given == "default") return m_region;
    // A zone ("us-east-1a", "us-east-1-bos-1a") names its region.
    if (!given.empty() && std::isalpha(static_cast<unsigned char>(given.back())) &&
        std::isdigit(static_cast<unsigned char>(given[given.size() - 2])))
        return given.substr(0, given.size() - 1);
    return given;
}

bool WireBackend::Ec2(const std::string& action, const QueryParams& params, pugi::xml_document& out,
                      std::string& error, const std::string& region) {
    return m_client.Call("ec2", kEc2Version, RegionFor(region), action, params, out, error);
}

bool WireBackend::Ec2Items(const std::string& action, const QueryParams& params, const char* itemsPath,
                           const std::function<void(const pugi::xml_node&)>& onItem, std::string& error,
                           const std::string& region, int pageCap) {
    auto onPage = [&](const pugi::xml_node& response, std::string&) {
        pugi::xml_node set = response;
        std::string path = itemsPath;
        // itemsPath is "setName/item": every item of the set.
        const std::string setName = path.substr(0, path.find('/'));
        set = response.child(setName.c_str());
        for (pugi::xml_node item : set.children("item")) onItem(item);
        return true;
    };
    if (pageCap <= 0) {
        pugi::xml_document doc;
        std::string unused;
        return Ec2(action, params, doc, error, region) && onPage(doc.document_element(), unused);
    }
    return m_client.CallAllPages("ec2", kEc2Version, RegionFor(region), action, params,
                                 std::min(m_pageSize, pageCap), onPage, error);
}

bool WireBackend::initialize(const std::string&, const std::string&, long long) {
    m_initialized = true;
    m_lastError.clear();
    return true;
}

void WireBackend::SetWebProxy(const std::string& host, const std::string& user, const std::string& password, int) {
    m_proxyHost = host;
    m_client.SetWebProxy(host, user, password);
}

bool WireBackend::Connect(const std::string& url, const std::string& accessKey, const std::string& secretKey) {
    // A failed attempt leaves no connection behind, not even an older one.
    m_accountId.clear();
    return Run("Connect", false, [&](std::string& error) {
        AWSCredentials credentials;
        m_roleExpiryMs = 0;
        if (!ResolveCredentials(accessKey, secretKey, credentials, error)) {
            if (error.rfind("NoCredentialProviders", 0) != 0) return false;
            // Last, as the SDKs look: the role of the instance the proxy is.
            std::string why;
            if (!RoleCredentials(credentials, why)) {
                error += "; and no instance role: " + why;
                return false;
            }
        }
        m_client.SetCredentials(credentials);
        const std::string region = ConnectRegion(url);
        pugi::xml_document doc;
        if (!m_client.Call("sts", kStsVersion, region, "GetCallerIdentity", {}, doc, error)) return false;
        pugi::xml_node result = doc.document_element().child("GetCallerIdentityResult");
        const std::string account = result.child_value("Account");
        if (account.empty()) {
            error = "InternalError: GetCallerIdentity answered without an account";
            return false;
        }
        m_arn = result.child_value("Arn");
        m_region = region;
        m_accountId = account;
        EvDebug::DebugLvl(kTag, 2, "connected to account %s in %s over the wire", m_accountId.c_str(),
                          m_region.c_str());
        return true;
    });
}

void WireBackend::Disconnect() {
    m_accountId.clear();
    m_dcList.clear();
    m_hostList.clear();
    m_vmList.clear();
}

void WireBackend::overrideRegion(const std::string& region) { m_region = region; }
std::string WireBackend::GetLastErrorString() const { return m_lastError; }
std::string WireBackend::GetCurrentRegion() const { return m_region; }
std::string WireBackend::GetWebProxyHost() const { return m_proxyHost; }
bool WireBackend::IsInitialized() const { return m_initialized; }
bool WireBackend::IsConnected() const { return !m_accountId.empty(); }

bool WireBackend::GetAccountId(std::string& accountId) {
    return Run("GetAccountId", true, [&](std::string&) {
        accountId = m_accountId;
        return true;
    });
}

bool WireBackend::GetAwsArnPartition(std::string& partition) {
    return Run("GetAwsArnPartition", true, [&](std::string& error) {
        // "arn:<partition>:sts::<account>:..."
        const size_t first = m_arn.find(':');
        const size_t second = first == std::string::npos ? first : m_arn.find(':', first + 1);
        if (second == std::string::npos) {
            error = "InternalError: the caller's ARN '" + m_arn + "' names no partition";
            return false;
        }
        partition = m_arn.substr(first + 1, second - first - 1);
        return true;
    });
}

std::string WireBackend::GetRegionFromZone(const std::string& zone) {
    std::string region;
    Run("GetRegionFromZone", true, [&](std::string& error) {
        bool found = false;
        if (!Ec2Items("DescribeAvailabilityZones", {{"ZoneName.1", zone}}, "availabilityZoneInfo/item",
                      [&](const pugi::xml_node& item) {
                          if (zone != item.child_value("zoneName")) return;
                          region = item.child_value("regionName");
                          found = true;
                      },
                      error, RegionFor(zone), 0))
            return false;
        if (!found) error = "InvalidParameterValue: Invalid availability zone: [" + zone + "]";
        return found;
    });
    return region;
}
