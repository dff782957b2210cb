#pragma once
// The AWS Signature Version 4 test suite kept in tests/data/sigv4/v4 (see
// tests/data/SOURCES.md): one folder per case.
#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include "support/TestPaths.h"

namespace sigv4_suite {

inline const std::string kSuite = std::string(TEST_SOURCE_DIR) + "/tests/data/sigv4/v4";

// A case's file, whole; empty when missing.
inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Every case folder, sorted.
inline std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    if (DIR* dir = opendir(kSuite.c_str())) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace sigv4_suite
