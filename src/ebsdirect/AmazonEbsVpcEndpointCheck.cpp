// Whether the proxy reaches EBS through an interface VPC endpoint, told by
// where the regional EBS endpoint resolves: outside the AWS-published AMAZON
// ranges means a private (endpoint) address. The published ranges are cached
// on disk for a day, shared by every agent process on the proxy.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>

#include <nlohmann/json.hpp>

#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "framework/Cidr.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/HostResolver.h"

namespace AmazonDirectSnapshotAccessAPI {

namespace {
const char* const kTag = "CAmazonDirectSnapshotAccessAPIWrapper::static";

bool UnserializeJson(const std::string& text, nlohmann::json& out) {
    try {
        out = nlohmann::json::parse(text);
        return true;
    } catch (const std::exception& e) {
        EvDebug::Error(kTag, "Exception [%s] while unserializing JSON [%s]", e.what(), text.c_str());
        return false;
    }
}

std::string LocalTimeText(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm local {};
    char text[64] = "";
    if (localtime_r(&t, &local)) strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}
}  // namespace

bool CAmazonDirectSnapshotAccessAPIWrapper::CheckIfEbsVpcEndpointIsConfigured(const std::string& region,
                                                                              const std::string& cacheFolder,
                                                                              bool& configured) {
    if (region.empty()) {
        EvDebug::Error(kTag, "Region not provided");
        return false;
    }
    std::string ip;
    if (!GetEbsEndpointIpAddress(region, ip)) return false;
    bool isPublic = false;
    try {
        if (!IsAwsPublicIpAddress(ip, cacheFolder, isPublic)) return false;
    } catch (...) {
        EvDebug::Error(kTag, "Caught unhandled exception");
        return false;
    }
    configured = !isPublic;
    return true;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::GetEbsEndpointIpAddress(const std::string& region, std::string& ip) {
    const std::string host = CAmazonRESTAPIConnection::getAPIEndpoint(region, "ebs");
    std::string error;
    if (!FwHostResolver::ResolveFirst(host, ip, error)) {
        EvDebug::Error(kTag, "Failed to resolve [%s] to ip. [%s]", host.c_str(), error.c_str());
        return false;
    }
    if (ip.find(':') != std::string::npos) {
        EvDebug::Error(kTag, "EBS endpoint [%s] resolved to IPv6 address [%s]", host.c_str(), ip.c_str());
        return false;
    }
    EvDebug::Debug(kTag, "EBS endpoint [%s] resolved to IP: [%s]", host.c_str(), ip.c_str());
    return true;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::IsAwsPublicIpAddress(const std::string& ip, const std::string& cacheFolder,
                                                                 bool& isPublic) {
    std::string json;
    if (!GetAWSIpRangesJson(cacheFolder, json)) return false;
    return IsIpAddressPresentInIpRangesJson(ip, json, isPublic);
}

bool CAmazonDirectSnapshotAccessAPIWrapper::GetAWSIpRangesJson(const std::string& cacheFolder, std::string& json) {
    NamedMutex mutex(kIpRangesLockName);
    if (!mutex.Lock()) {
        EvDebug::Error(kTag, "Failed to lock [%s]", kIpRangesLockName);
        return false;
    }
    const std::string cacheFile = FwFile::JoinPath(cacheFolder, kIpRangesCacheFile);
    if (!IsAWSIpRangesCacheAvailableAndValid(cacheFile)) {
        EvDebug::Debug(kTag, "Downloading AWS IP Ranges JSON");
        if (!DownloadAWSIpRangesJson(cacheFolder, cacheFile)) return false;
    }
    if (!ReadAWSIpRangesJsonFromCache(cacheFile, json)) {
        EvDebug::Error(kTag, "Failed to read AWS IP Ranges JSON from cache file");
        return false;
    }
    return true;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::IsAWSIpRangesCacheAvailableAndValid(const std::string& cacheFile) {
    if (!FwFile::Exists(cacheFile)) {
        EvDebug::Debug(kTag, "Cache file does not exist: [%s]", cacheFile.c_str());
        return false;
    }
    const int64_t stamp = FwFile::ModifiedTimeSec(cacheFile);
    if (stamp < 0) {
        EvDebug::Debug(kTag, "Could not get cache download time: [%s]", cacheFile.c_str());
        return false;
    }
    if (FwClock::NowSec() - stamp > kIpRangesCacheSeconds) {
        EvDebug::Debug(kTag, "Cache file expired. Download time [%s].", LocalTimeText(stamp).c_str());
        return false;
    }
    return true;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::DownloadAWSIpRangesJson(const std::string& cacheFolder,
                                                                    const std::string& cacheFile) {
    std::string text;
    if (!CAmazonRESTAPIConnection::SimpleHttpGet(kIpRangesUrl, text) || text.empty()) {
        EvDebug::Error(kTag, "Failed to download ip ranges json");
        return false;
    }
    nlohmann::json doc;
    if (!UnserializeJson(text, doc) || !doc.is_object()) {
        EvDebug::Error(kTag, "Downloaded JSON not valid");
        return false;
    }
    if (FwFile::Exists(cacheFile) && !FwFile::RemoveFile(cacheFile)) {
        EvDebug::Error(kTag, "Failed to remove existing file: [%s]. Error:[%s]", cacheFile.c_str(),
                       strerror(errno));
        return false;
    }
    if (!FwFile::MakeDirs(cacheFolder) || !FwFile::WriteAllAtomic(cacheFile, text)) {
        EvDebug::Error(kTag, "Failed to write the ip ranges cache file [%s]", cacheFile.c_str());
        return false;
    }
    // The file's time stamp is its download time on the framework clock, the
    // clock its age is measured by.
    FwFile::SetModifiedTimeSec(cacheFile, FwClock::NowSec());
    return true;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::ReadAWSIpRangesJsonFromCache(const std::string& cacheFile,
                                                                         std::string& json) {
    if (!FwFile::ReadAll(cacheFile, json)) return false;
    nlohmann::json doc;
    if (!UnserializeJson(json, doc)) {
        EvDebug::Error(kTag, "Failed to unserialize ip ranges json");
        return false;
    }
    return true;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::IsIpAddressPresentInIpRangesJson(const std::string& ip,
                                                                             const std::string& json, bool& found) {
    found = false;
    nlohmann::json doc;
    if (!UnserializeJson(json, doc)) return false;
    auto prefixes = doc.is_object() ? doc.find("prefixes") : doc.end();
    if (!doc.is_object() || prefixes == doc.end() || !prefixes->is_array()) {
        EvDebug::Error(kTag, "Failed to parse prefixes array");
        return false;
    }
    for (const auto& entry : *prefixes) {
        if (!entry.is_object()) continue;
        auto service = entry.find("service");
        if (service == entry.end() || !service->is_string() || service->get<std::string>() != "AMAZON") continue;
        auto prefix = entry.find("ip_prefix");
        const std::string block = prefix != entry.end() && prefix->is_string() ? prefix->get<std::string>() : "";
        bool inBlock = false;
        std::string error;
        if (!FwCidr::IsIPv4InBlock(ip, block, inBlock, error)) {
            EvDebug::Error(kTag, "Failed to check if IP [%s] is in block [%s]. Error: [%s]", ip.c_str(),
                           block.c_str(), error.c_str());
            return false;
        }
        if (inBlock) {
            EvDebug::Debug(kTag, "Found IP [%s] in CIDR block [%s]", ip.c_str(), block.c_str());
            found = true;
            return true;
        }
    }
    return true;
}

}  // namespace AmazonDirectSnapshotAccessAPI
