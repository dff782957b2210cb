// The credential chain of the wire backend.
#include "bridge/wire/WireCredentials.h"

#include <cstdlib>
#include <sstream>

#include "framework/FileUtils.h"

namespace bridgeimpl {
namespace wire {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Trim(const std::string& text) {
    const char* space = " \t\r\n";
    size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

bool Pair(const std::string& key, const std::string& secret, const std::string& token, const char* where,
          AWSCredentials& out, std::string& error) {
    if (key.empty() || secret.empty()) {
        error = std::string("InvalidClientTokenId: ") + where + " gives an access key without its secret or a "
                "secret without its access key";
        return false;
    }
    out = AWSCredentials{key, secret, token, 0};
    return true;
}

}  // namespace

bool ProfileCredentials(const std::string& fileText, const std::string& profile, AWSCredentials& out) {
    std::istringstream in(fileText);
    std::string line;
    bool inProfile = false;
    AWSCredentials found;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            inProfile = Trim(line.substr(1, line.size() - 2)) == profile;
            continue;
        }
        size_t eq = line.find('=');
        if (!inProfile || eq == std::string::npos) continue;
        const std::string name = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        if (name == "aws_access_key_id") found.accessKeyId = value;
        else if (name == "aws_secret_access_key") found.secretAccessKey = value;
        else if (name == "aws_session_token") found.sessionToken = value;
    }
    if (found.accessKeyId.empty() || found.secretAccessKey.empty()) return false;
    out = found;
    return true;
}

bool ResolveCredentials(const std::string& accessKey, const std::string& secretKey, AWSCredentials& out,
                        std::string& error) {
    if (!accessKey.empty() || !secretKey.empty())
        return Pair(accessKey, secretKey, "", "the connection", out, error);
    const std::string envKey = Env("AWS_ACCESS_KEY_ID");
    const std::string envSecret = Env("AWS_SECRET_ACCESS_KEY");
    if (!envKey.empty() || !envSecret.empty())
        return Pair(envKey, envSecret, Env("AWS_SESSION_TOKEN"), "the environment", out, error);

    std::string file = Env("AWS_SHARED_CREDENTIALS_FILE");
    if (file.empty() && !Env("HOME").empty()) file = FwFile::JoinPath(Env("HOME"), ".aws/credentials");
    const std::string profile = Env("AWS_PROFILE").empty() ? "default" : Env("AWS_PROFILE");
    std::string text;
    if (!file.empty() && FwFile::ReadAll(file, text) && ProfileCredentials(text, profile, out)) return true;
    error = "NoCredentialProviders: no credentials given to Connect, none in the environment "
            "(AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY) and none for profile '" + profile + "' in " +
            (file.empty() ? std::string("~/.aws/credentials") : file);
    return false;
}

}  // namespace wire
}  // namespace bridgeimpl
