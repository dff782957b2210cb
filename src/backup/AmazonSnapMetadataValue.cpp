// One value of the snapshot manager's "key:value;" metadata text.
#include "factory/AmazonInfo.h"

namespace {
constexpr char kSeparator = ':';
}  // namespace

bool CAmazonInfo::GetValueFromSnapMetadata(const std::string& text, const std::string& key, std::string& value) {
    value.clear();
    if (key.empty()) return false;
    // Only a whole key at the start of a pair counts: a key that is the tail
    // of another ("Region" in "sourceRegion") or a value that happens to
    // hold the key's text must not answer for it.
    for (size_t pairStart = 0; pairStart < text.size();) {
        const size_t pairEnd = text.find(';', pairStart);
        if (pairEnd == std::string::npos) return false;   // a pair without its ";" is cut off
        const size_t separator = pairStart + key.size();
        // The separator is what tells "snap" from "snapUUID".
        if (separator < pairEnd && text.compare(pairStart, key.size(), key) == 0 && text[separator] == kSeparator) {
            const size_t valueStart = separator + 1;
            value = text.substr(valueStart, pairEnd - valueStart);
            return true;
        }
        pairStart = pairEnd + 1;
    }
    return false;
}
