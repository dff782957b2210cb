#pragma once
// CAmazonSDKBridge: one AWS account's service connection. The only way the
// plug-in reaches AWS other than the EBS direct APIs.
//
// Set-up order: construct, initialize, SetWebProxy (optional), Connect,
// overrideRegion whenever an operation targets another region, Disconnect.
// Operations returning bool: true on success; on false GetLastErrorString()
// holds an AWS-like error text ("<Code>: <message>"). Integer results follow
// each operation's comment. An object is used from one thread at a time.
//
// This implementation forwards to the simulated cloud of the process (see
// cloudsim/Cloud.h); which cloud that is, the bridge learns from the agent's
// settings (section "CloudSim") unless a test installed one.
#include <memory>
#include <string>
#include <vector>

#include "records/VMInfoStructs.h"

#define BRIDGE_API __attribute__((visibility("default")))

class BRIDGE_API CAmazonSDKBridge {
public:
    CAmazonSDKBridge();
    virtual ~CAmazonSDKBridge();
    CAmazonSDKBridge(const CAmazonSDKBridge&) = delete;
    CAmazonSDKBridge& operator=(const CAmazonSDKBridge&) = delete;

    // ---- set-up ----
    virtual bool initialize(const std::string& focus, const std::string& appName, long long jobId);
    virtual void SetWebProxy(const std::string& host, const std::string& user, const std::string& password, int flags);
    // url: a region name or an endpoint URL naming the region
    // ("https://ec2.<region>.amazonaws.com"); empty uses the account's
    // default region.
    virtual bool Connect(const std::string& url, const std::string& accessKey, const std::string& secretKey);
    virtual void Disconnect();
    virtual void overrideRegion(const std::string& region);
    virtual std::string GetLastErrorString() const;

    // ---- identity ----
    virtual bool GetAccountId(std::string& accountId);
    virtual bool GetCanonicalId(std::string& canonicalId);
    virtual bool GetAwsArnPartition(std::string& partition);
    virtual std::string GetCurrentRegion() const;
    // Identity of the machine this process runs on, as the instance metadata
    // would tell it; empty when the machine is not an EC2 instance.
    virtual bool GetLocalInstanceId(std::string& instanceId);
    virtual bool GetLocalInstanceRegion(std::string& region);
    // The Outposts ARN of the instance; empty (and true) when it does not
    // run on an Outpost.
    virtual bool GetOutpostsAccountARN(const std::string& instanceId, const std::string& region, std::string& arn);

    // ---- inventory caches: negative is failure ----
    virtual int RefreshDCInfoList(ULONGLONG flags, int option);
    virtual void GetDCInfoList(std::vector<VMInfoStructs::SDataCenterInfo>& regions);
    virtual int RefreshHostInfoList(ULONGLONG flags, int option);
    virtual void GetHostInfoList(std::vector<VMInfoStructs::SHostInfo>& zones);

    // Web proxy given to SetWebProxy (the simulated cloud does not use it).
    std::string GetWebProxyHost() const;
    bool IsInitialized() const;
    bool IsConnected() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
