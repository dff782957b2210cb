// The wire backend's assumed-role sessions: STS AssumeRole.
#include "bridge/wire/WireBackend.h"
#include "framework/Clock.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

namespace {
const char kStsVersion[] = "2011-06-15";
// The contract's hour; AWS's default too.
constexpr int kSessionSeconds = 3600;
}  // namespace

bool WireBackend::GenerateAssumeRoleSessionCredentials(const std::string& roleArn, std::string& accessKeyId,
                                                       std::string& secretAccessKey, std::string& sessionToken) {
    accessKeyId.clear();
    secretAccessKey.clear();
    sessionToken.clear();
    return Run("GenerateAssumeRoleSessionCredentials", true, [&](std::string& error) {
        // A name per session, so that CloudTrail tells the agent's sessions apart.
        const std::string session = "backup-" + std::to_string(FwClock::NowMs());
        pugi::xml_document doc;
        if (!m_client.Call("sts", kStsVersion, m_region, "AssumeRole",
                           {{"RoleArn", roleArn},
                            {"RoleSessionName", session},
                            {"DurationSeconds", std::to_string(kSessionSeconds)}},
                           doc, error))
            return false;
        pugi::xml_node c = doc.document_element().child("AssumeRoleResult").child("Credentials");
        accessKeyId = c.child_value("AccessKeyId");
        secretAccessKey = c.child_value("SecretAccessKey");
        sessionToken = c.child_value("SessionToken");
        if (accessKeyId.empty() || secretAccessKey.empty() || sessionToken.empty()) {
            accessKeyId.clear();
            secretAccessKey.clear();
            sessionToken.clear();
            error = "InternalError: AssumeRole answered without the session's credentials";
            return false;
        }
        return true;
    });
}
