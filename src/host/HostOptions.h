#pragma once
// Command line and job file of the host program.
#include <map>
#include <string>
#include <vector>

struct HostOptions {
    std::string baseDir;
    std::string seedFile;
    std::string pluginPath;
    std::string backend;                       // "aws" or "cloudsim"; empty keeps the setting
    bool realTime = false;                     // waits cost wall time (default: skipped)
    std::string command;                       // "connect", ...
    std::map<std::string, std::string> values; // --key value pairs after the command
    std::vector<std::string> positional;
};

// Parses argv; false with a message on a malformed command line.
bool ParseHostOptions(int argc, char** argv, HostOptions& out, std::string& why);
void PrintUsage();

// Credentials of a connect, from --options or a JSON job file.
struct ConnectJob {
    std::string url, accessKey, secretKey;
    std::string adminUrl, adminAccessKey, adminSecretKey;
    std::string proxyHost, proxyUser, proxyPassword;
    long long jobId = -123456;
    bool hasAdmin() const { return !adminAccessKey.empty(); }
    bool hasProxy() const { return !proxyHost.empty(); }
};
bool LoadConnectJob(const HostOptions& options, ConnectJob& job, std::string& why);
