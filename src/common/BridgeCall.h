#pragma once
// One bridge call with its failure handled once: the call runs; when it
// fails, the given text is logged under where with the call's own arguments
// followed by the bridge's error text (the format's last %s). Returns
// whether the call succeeded.
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

}  // namespace AmazonCommon
