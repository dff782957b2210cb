// The framework's disk filter slots: true excludes the disk from the backup.
#include <strings.h>

#include <map>

#include "bridge/AmazonSDKBridge.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FilterTerm.h"
#include "framework/PathMatch.h"

namespace {

// The pattern must name the whole text; a folder-style prefix match or a
// last-part match would exclude disks the user did not name.
bool MatchesPath(const std::string& pattern, const std::string& delimiter, const std::string& text) {
    CPathMatch match(delimiter, true);
    return match.Init(pattern, true, false) && match.Match(text);
}

std::string Trimmed(const std::string& text) {
    const char* const blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string DiskTypeName(int type) {
    return type == SDiskFilterRule::TypeRoot ? "Root" : std::to_string(type);
}

bool TermMatches(const std::string& pattern, const std::string& text) {
    BFilterTermOptions options;
    options.caseState = BFilterTermOptions::kCaseIgnore;
    CFilterTerm term(options);
    term.LoadRaw(pattern);
    return term.Match(text);
}

}  // namespace

bool CAmazonInfo::IsDiskFilteredByPattern(const SDisk& disk, const std::string& pattern) {
    if (!MatchesPath(pattern, "\\", disk.displayName)) return false;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Disk [%s][%s][%s] is filtered by pattern [%s]", disk.displayName.c_str(),
                   disk.name.c_str(), disk.deviceName.c_str(), pattern.c_str());
    return true;
}

bool CAmazonInfo::IsDiskFilteredByVirtualDeviceNode(const SDisk& disk, const std::string& node) {
    const std::string pattern = Trimmed(node);
    if (!MatchesPath(pattern, "/", disk.deviceName)) return false;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Disk [%s][%s][%s] is filtered by pattern [%s]", disk.displayName.c_str(),
                   disk.name.c_str(), disk.deviceName.c_str(), pattern.c_str());
    return true;
}

bool CAmazonInfo::IsDiskFilteredByType(const SDisk& disk, int type) {
    const std::string name = DiskTypeName(type);
    if (strcasecmp(name.c_str(), "Root") != 0 || !disk.isOSDisk) return false;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Disk [%s][%s][%s] is filtered as it is [%s]", disk.displayName.c_str(),
                   disk.name.c_str(), disk.deviceName.c_str(), name.c_str());
    return true;
}

bool CAmazonInfo::IsDiskFilteredByTag(const SDisk& disk, const std::string& tagName, const std::string& tagValue) {
    const char* const fn = __PRETTY_FUNCTION__;
    const std::string unfetched = "Unable to fetch tags for volume [" + disk.volumeId + "]";
    return AmazonGuard::Guarded(fn, unfetched, false, [&] {
        std::map<std::string, std::string> tags;
        if (!GetTagsInRegion(disk.volumeId, RegionFromZone(disk.zone), tags)) {
            EvDebug::Error(fn, "Unable to fetch tags for volume [%s]", disk.volumeId.c_str());
            return false;
        }
        for (const auto& [key, value] : tags) {
            if (!TermMatches(tagName, key) || !TermMatches(tagValue, value)) continue;
            EvDebug::Debug(fn, "Volume [%s] is filtered by tag [%s :: %s]", disk.volumeId.c_str(), key.c_str(),
                           value.c_str());
            return true;
        }
        return false;
    });
}
