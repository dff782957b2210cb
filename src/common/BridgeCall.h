#pragma once
// One bridge call with its failure handled once: the call runs; when it
// fails, the given text is logged under where with the call's own arguments
// followed by the bridge's error text (the format's last %s). Returns
// whether the call succeeded.
#include <string>
#include <utility>

#include "bridge/AmazonSDKBridge.h"
#include "framework/EvDebug.h"

namespace AmazonCommon {

template <class Call, class... Args>
bool BridgeCall(CAmazonSDKBridge& bridge, const char* where, Call&& call, const char* format, const Args&... args) {
    if (std::forward<Call>(call)()) return true;
    EvDebug::Error(where, format, args..., bridge.GetLastErrorString().c_str());
    return false;
}

// As above, and a failure also leaves the bridge's error text in error, for
// the caller to keep as its last error or to decide by. error is left alone
// on success.
template <class Call, class... Args>
bool BridgeCall(CAmazonSDKBridge& bridge, const char* where, Call&& call, std::string& error, const char* format,
                const Args&... args) {
    if (std::forward<Call>(call)()) return true;
    error = bridge.GetLastErrorString();
    EvDebug::Error(where, format, args..., error.c_str());
    return false;
}

// A call whose failure the caller reports in words of its own (or not at
// all): no log here, the bridge's error text left in error.
template <class Call>
bool QuietBridgeCall(CAmazonSDKBridge& bridge, Call&& call, std::string& error) {
    if (std::forward<Call>(call)()) return true;
    error = bridge.GetLastErrorString();
    return false;
}

// The bridge's error text of its last failed call, for a caller that reports
// a failure found after the call (a wait, a fallback); empty without a bridge.
inline std::string BridgeError(const CAmazonSDKBridge* bridge) {
    return bridge ? bridge->GetLastErrorString() : std::string();
}

}  // namespace AmazonCommon
