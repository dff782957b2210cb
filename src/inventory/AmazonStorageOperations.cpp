// Storage clean-up requested by the framework, and removal of tags left
// without a value.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using AmazonCommon::BridgeCall;
using AmazonGuard::Guarded;

namespace {
constexpr int kDeleteExpiredVolumes = 1;
}

int CAmazonInfo::PerformStorageOperation(StorageOperationCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 1, [&] {
        if (ctx.operationType != kDeleteExpiredVolumes) {
            EvDebug::Error(fn, "Invalid operation type");
            ctx.errorText = "Invalid operation type.";
            return 1;
        }
        if (AmazonCommon::QuietBridgeCall(
                *m_pSourceBridge, [&] { return DeleteExpiredVolumes(ctx.region, ctx.age); }, ctx.errorText))
            return 0;
        return 1;
    });
}

bool CAmazonInfo::DeleteEmptyTag(const std::string& resource, const std::string& key) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, false, [&] {
        std::string value;
        // Unread is not empty: deleting then could drop a value still in use.
        if (!BridgeCall(
                *m_pSourceBridge, fn, [&] { return m_pSourceBridge->GetTag(resource, key, value); },
                "Failed to read tag [%s] on resource [%s]. Error [%s]", key.c_str(), resource.c_str()))
            return false;
        if (!value.empty()) {
            EvDebug::Debug(fn, "Tag value [%s] is not empty for key [%s] on resource [%s]",
                           value.c_str(), key.c_str(), resource.c_str());
            return false;
        }
        return BridgeCall(
            *m_pSourceBridge, fn, [&] { return m_pSourceBridge->DeleteTag(resource, key, "", true); },
            "Failed to delete tag [%s] on resource [%s]. Error [%s]", key.c_str(), resource.c_str());
    });
}
