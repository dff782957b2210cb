#include "host/ConnectCommand.h"

#include <cstdio>
#include <regex>

#include "framework/EvDebug.h"
#include "framework/KDPI.h"

namespace {
// What the framework learns from the plug-in's log while it connects: the
// plug-in reports accounts and the proxy's nature there and nowhere else.
struct Findings {
    std::string sourceAccount;
    std::string adminAccount;
    std::string proxyKind;   // "yes" / "no" / ""
    std::string outpostArn;

    void Observe(const std::string& message) {
        static const std::regex source(R"(Connection Successful to source account \[(.*)\])");
        static const std::regex admin(R"(Connection Successful to admin account \[(.*)\])");
        static const std::regex outpost(R"(Proxy is Amazon EC2 Instance on Outposts \[(.*)\])");
        std::smatch m;
        if (std::regex_search(message, m, source)) sourceAccount = m[1];
        else if (std::regex_search(message, m, admin)) adminAccount = m[1];
        else if (std::regex_search(message, m, outpost)) outpostArn = m[1];
        else if (message.rfind("Proxy is Amazon Instance", 0) == 0) proxyKind = "yes";
        else if (message.rfind("Proxy is not Amazon Instance", 0) == 0) proxyKind = "no";
    }
};

std::string OrNone(const std::string& s) { return s.empty() ? "(none)" : s; }
}  // namespace

PluginLoader::ObjectPtr ConnectObject(PluginLoader& loader, const ConnectJob& job) {
    EvEvent::setProcessJobId(job.jobId);
    auto object = loader.Create(301);
    if (!object) {
        std::fprintf(stderr, "error: the plug-in's factory did not create an object\n");
        return object;
    }
    std::vector<SHostCredentials> credentials;
    if (job.hasAdmin()) credentials.emplace_back("", job.adminUrl, job.adminAccessKey, job.adminSecretKey, 5);
    if (job.hasProxy()) credentials.emplace_back("", job.proxyHost, job.proxyUser, job.proxyPassword, 3);
    const int connected = credentials.empty() ? object->Connect(job.url, job.accessKey, job.secretKey)
                                              : object->Connect(job.url, job.accessKey, job.secretKey, credentials);
    if (!connected) {
        std::fprintf(stderr, "error: connect failed (error %d): %s\n", object->GetLastVMError(),
                     object->GetLastVMErrorDetails().c_str());
        object.reset();
    }
    return object;
}

int RunConnect(PluginLoader& loader, const ConnectJob& job) {
    Findings findings;
    EvDebug::SetTap([&findings](int, const std::string&, const std::string& message) { findings.Observe(message); });
    auto object = ConnectObject(loader, job);
    if (!object) {
        EvDebug::SetTap(nullptr);
        return 1;
    }

    VMInfoStructs::SVMInfo proxy;
    object->GetLocalVMInfo(proxy, 0, 0);
    const int streams = object->GetStreamLimit();
    object->Disconnect();
    EvDebug::SetTap(nullptr);

    std::printf("Connected to the source account: %s\n", findings.sourceAccount.c_str());
    std::printf("Admin account:                  %s\n", OrNone(findings.adminAccount).c_str());
    std::printf("Stream limit:                   %d\n", streams);
    std::printf("Proxy is an EC2 instance:       %s\n", findings.proxyKind.empty() ? "unknown" : findings.proxyKind.c_str());
    std::printf("Proxy instance id:              %s\n", OrNone(proxy.guid).c_str());
    std::printf("Proxy region:                   %s\n", OrNone(proxy.region).c_str());
    std::printf("Proxy BIOS UUID:                %s\n", OrNone(proxy.biosUuid).c_str());
    std::printf("Proxy Outposts ARN:             %s\n", OrNone(findings.outpostArn).c_str());
    return 0;
}
