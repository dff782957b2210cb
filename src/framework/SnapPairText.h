#pragma once
// The snapshot manager's "key:value;" texts (its type-6 pairs, the
// plug-in's transient metadata) and its "/<region>/<id>" paths, as the
// manager and its tools read them. Thread-safe: no state.
#include <strings.h>

#include <string>

namespace FwSnapPairs {
// The value of the first pair whose key equals key ignoring case; empty
// when there is none.
inline std::string Value(const std::string& text, const char* key) {
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find(';', begin);
        if (end == std::string::npos) end = text.size();
        const std::string token = text.substr(begin, end - begin);
        const size_t colon = token.find(':');
        if (colon != std::string::npos && strcasecmp(token.substr(0, colon).c_str(), key) == 0)
            return token.substr(colon + 1);
        begin = end + 1;
    }
    return std::string();
}

// "/region/id": false for any other shape.
inline bool SplitPath(const std::string& path, std::string& region, std::string& id) {
    if (path.size() < 4 || path[0] != '/') return false;
    const size_t slash = path.find('/', 1);
    if (slash == std::string::npos || slash == 1 || path.find('/', slash + 1) != std::string::npos) return false;
    region = path.substr(1, slash - 1);
    id = path.substr(slash + 1);
    return !id.empty();
}
}  // namespace FwSnapPairs
