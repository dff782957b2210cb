#pragma once
// An EBS direct GET signed by botocore, an independent signer, through
// support/botocore_sign_get.py.
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/TestPaths.h"

struct BotocoreSigned {
    std::string target;                                         // path and query, as botocore encoded them
    std::vector<std::pair<std::string, std::string>> headers;   // as botocore would send them
    std::string Header(const std::string& name) const {
        for (const auto& [n, value] : headers)
            if (n == name) return value;
        return std::string();
    }
};

// The GET of https://host/path with the query's name=value pairs (given
// unencoded), signed at epoch; an empty target when python3 or botocore is
// missing.
inline BotocoreSigned SignWithBotocore(const std::string& access, const std::string& secret, const std::string& region,
                                       const std::string& host, const std::string& path, long long epoch,
                                       const std::vector<std::pair<std::string, std::string>>& query) {
    std::string command = std::string("python3 ") + TEST_SOURCE_DIR + "/tests/support/botocore_sign_get.py " + access +
                          " " + secret + " " + region + " " + host + " " + path + " " + std::to_string(epoch);
    for (const auto& [name, value] : query) command += " '" + name + "=" + value + "'";
    BotocoreSigned out;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    std::string text;
    char chunk[4096];
    while (size_t n = fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, n);
    if (pclose(pipe) != 0) return out;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);   // GET https://host/path?query
    const std::string url = line.substr(line.find(' ') + 1);
    out.target = url.substr(url.find('/', std::string("https://").size()));
    while (std::getline(lines, line)) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) out.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
    }
    return out;
}
