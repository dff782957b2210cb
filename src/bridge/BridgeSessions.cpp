// Temporary credentials (STS AssumeRole). The sessions live in the cloud's
// state, so the simulated EBS endpoints of any process accept them.
#include <algorithm>
#include <cctype>

#include "bridge/BridgeImpl.h"
#include "framework/FileUtils.h"

using namespace bridgeimpl;
using cloudsim::State;

namespace {
const int64_t kSessionLifetimeMs = 3600LL * 1000;

std::string Alnum(const std::string& text) {
    std::string out;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c))) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}
}  // namespace

bool SimBackend::GenerateAssumeRoleSessionCredentials(const std::string& roleArn, std::string& accessKeyId,
                                                            std::string& secretAccessKey, std::string& sessionToken) {
    Impl& d = *m_impl;
    return d.Run("GenerateAssumeRoleSessionCredentials", true, [&](std::string& error) {
        const int64_t now = d.Now();
        return d.Change([&](State& s) {
            auto role = std::find_if(s.roles.begin(), s.roles.end(),
                                     [&](const cloudsim::Role& r) { return r.arn == roleArn; });
            if (role == s.roles.end())
                return Err(error, "AccessDenied: User is not authorized to perform: sts:AssumeRole on resource: " +
                                      roleArn);
            // Expired sessions are of no use to anyone; drop them here so the
            // state does not grow with every job.
            s.sessions.erase(std::remove_if(s.sessions.begin(), s.sessions.end(),
                                            [&](const cloudsim::Session& x) { return x.expiresMs <= now; }),
                             s.sessions.end());
            cloudsim::Session session;
            session.accessKey = "ASIA" + Alnum(FwGuid::New()).substr(0, 16);
            session.secretKey = Alnum(FwGuid::New()) + Alnum(FwGuid::New()).substr(0, 8);
            session.token = "IQoJb3JpZ2luX2VjE" + Alnum(FwGuid::New()) + Alnum(FwGuid::New());
            session.account = role->account;
            session.expiresMs = now + kSessionLifetimeMs;
            s.sessions.push_back(session);
            accessKeyId = session.accessKey;
            secretAccessKey = session.secretKey;
            sessionToken = session.token;
            return true;
        });
    });
}
