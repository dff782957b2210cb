#pragma once
// The bridges a plug-in object holds and the choice between them. The source
// bridge reaches the account being protected; the admin bridge is the mount
// account's in a cross-account job and the source bridge itself otherwise;
// the read bridge is a separate connection to the source account for block
// reads on reader threads (a bridge serves one thread at a time). The
// object owns them; these helpers only choose and point.
#include <string>

#include "bridge/AmazonSDKBridge.h"

namespace AmazonCommon {

// The source bridge when the call asked for the source account, else the
// admin bridge (which is the source bridge unless the job is cross-account).
inline CAmazonSDKBridge* ChooseBridge(CAmazonSDKBridge* source, CAmazonSDKBridge* admin, bool useSourceAccount) {
    return useSourceAccount ? source : admin;
}

inline bool IsCrossAccount(const CAmazonSDKBridge* source, const CAmazonSDKBridge* admin) { return admin != source; }

// Points the source bridge, and a distinct admin bridge, at region. An empty
// region leaves both where they are.
inline void PointBothAt(CAmazonSDKBridge& source, CAmazonSDKBridge& admin, const std::string& region) {
    if (region.empty()) return;
    source.overrideRegion(region);
    if (IsCrossAccount(&source, &admin)) admin.overrideRegion(region);
}

}  // namespace AmazonCommon
