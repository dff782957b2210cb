// Temporary credentials (STS AssumeRole). The sessions live in the cloud's
// state, so the simulated EBS endpoints of any process accept them.
#include "bridge/BridgeImpl.h"

using namespace bridgeimpl;
using cloudsim::State;

bool SimBackend::GenerateAssumeRoleSessionCredentials(const std::string& roleArn, std::string& accessKeyId,
                                                            std::string& secretAccessKey, std::string& sessionToken) {
    Impl& d = *m_impl;
    return d.Run("GenerateAssumeRoleSessionCredentials", true, [&](std::string& error) {
        const int64_t now = d.Now();
        return d.Change([&](State& s) {
            const cloudsim::Session* session = cloudsim::AssumeRole(s, roleArn, now, error);
            if (!session) return false;
            accessKeyId = session->accessKey;
            secretAccessKey = session->secretKey;
            sessionToken = session->token;
            return true;
        });
    });
}
