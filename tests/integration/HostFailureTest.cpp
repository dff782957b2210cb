// Failed backups through the host program: each says why, in the words of
// whoever found the fault (the command line, the cloud, the network).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <regex>

#include "framework/FileUtils.h"
#include "framework/KDPlatformInfo.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"

namespace {
const char kWorker[] = "i-0fedcba9876540002";   // outpost-worker, admin account

// A loopback port bound but never listened on: a connect to it is refused
// for as long as the object lives, and no other process can take it.
class ClosedPort {
public:
    ClosedPort() : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~ClosedPort() { ::close(m_fd); }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    int port() const { return m_port; }

private:
    int m_fd;
    int m_port = 0;
};

// The reason an "error: ..." line gives after its last colon.
std::string LastReason(const std::string& output) {
    const size_t line = output.rfind("error: ");
    if (line == std::string::npos) return std::string();
    const std::string text = output.substr(line, output.find('\n', line) - line);
    return text.substr(text.rfind(": ") + 2);
}
}  // namespace

TEST(HostFailure, EveryFailedBackupNamesItsCause) {
    const struct {
        const char* name;
        std::string args;
        bool unreachableEbs;
        int code;
        const char* says;
    } cases[] = {
        {"a mode that is not one", std::string(" --instance ") + kWorker + " --mode hotadd", false, 2,
         "use HOTADD or EBS-DIRECT-API"},
        {"an empty mode", std::string(" --instance ") + kWorker + " --mode ''", false, 2,
         "use HOTADD or EBS-DIRECT-API"},
        {"an unknown instance", " --instance i-0000000000000dead", false, 1,
         "i-0000000000000dead is not found: InvalidInstanceID.NotFound"},
        {"an EBS endpoint nobody answers", std::string(" --instance ") + kWorker + " --mode EBS-DIRECT-API", true,
         1, "cannot connect to https://ebs.us-east-1.amazonaws.com: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestEnv env;
        int code = -1;
        ClosedPort closed;
        std::unique_ptr<EndpointProcess> endpoints;
        if (c.unreachableEbs) {
            RunHost("--base " + env.BaseDir(), code);   // the cloud the endpoints serve
            endpoints = std::make_unique<EndpointProcess>(env.BaseDir());
            ASSERT_TRUE(endpoints->Ready());
            // The metadata service still answers; EBS's host leads nowhere.
            std::string routes;
            ASSERT_TRUE(KDPlatformInfo().getString("Base", "sCurlConnectTo", routes));
            routes = std::regex_replace(routes, std::regex(R"((ebs\.[a-z0-9-]+\.amazonaws\.com:443:127\.0\.0\.1:)\d+)"),
                                        "$1" + std::to_string(closed.port()));
            TestEnv::SetSetting("Base", "sCurlConnectTo", routes);
        }
        const std::string output = RunHost(
            "--base " + env.BaseDir() + " backup --job " + kDemoBackupJob + " --cbt off --out " + env.BaseDir() + "/out" + c.args,
            code);
        EXPECT_EQ(c.code, code) << output;
        EXPECT_NE(std::string::npos, output.find(c.says)) << output;
        EXPECT_FALSE(LastReason(output).empty()) << output;
        // A command line the host refuses never reaches the cloud.
        if (c.code == 2) {
            EXPECT_FALSE(FwFile::Exists(env.BaseDir() + "/cloudsim/state.json"));
        }
    }
}
