// Dispatch of the framework's operations on one instance. The three-argument
// form returns 0 on success and 1 on failure; the context form reports the
// framework's way round.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/OperationGuard.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "inventory/VMOperationCodes.h"

using AmazonGuard::Guarded;
using namespace AmazonInventory;
using AmazonCommon::BridgeRegionScope;

int CAmazonInfo::PerformVMOperation(OperationCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        ctx.vm.sourceId = ctx.sourceInstance;
        m_bCreationFlag = ctx.creationFlag;
        return PerformVMOperation(ctx.vm, ctx.operation, ctx.outText) == 0 ? 1 : 0;
    });
}

int CAmazonInfo::VMOperationFailed(const char* where, const std::string& message) {
    EvDebug::Error(where, "%s", message.c_str());
    SetLastVMErrorDetails(AmazonCommon::BridgeError(m_pSourceBridge.get()));
    return 1;
}

int CAmazonInfo::PerformVMOperation(SVMInfo& vm, EVMOperation op, std::string& out) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 1, [&] {
        if (vm.region == "default") vm.region.clear();
        EvDebug::Debug(fn, "VM name:[%s] VM guid:[%s] VM operation:[%d] Region : [%s]",
                       vm.name.c_str(), vm.guid.c_str(), op, vm.region.c_str());
        CAmazonSDKBridge& bridge = *m_pSourceBridge;
        const BridgeRegionScope inInstanceRegion(bridge, vm.region);
        const char* where = fn;
        auto check = [&](bool ok, const char* what) {
            return ok ? 0 : VMOperationFailed(where, what + std::string("[") + vm.name + "]");
        };
        switch (op) {
            case kOpPowerOn:
                return check(bridge.PowerOnVM(vm.name, vm.guid, vm.region), "PowerOnVM Failed for VM");
            case kOpPowerOff:
            case kOpShutdown:
                return check(bridge.PowerOffVM(vm.name, vm.guid, vm.region), "PowerOffVM Failed for VM");
            case kOpCreate:
                return check(bridge.CreateVirtualMachine(vm, out, m_bCreationFlag), "CreateVM failed for VM");
            case kOpEdit:
                return check(bridge.EditVirtualMachine(vm, out), "EditVM failed for VM");
            case kOpClone:
                return PerformCloneOperation(vm);
            case kOpDelete:
                return check(bridge.DeleteVM(vm.name, vm.guid, vm.region, false, true), "Delete failed for VM");
            case kOpCreateSnapshot:
                return PerformCreateSnapshot(vm, op, out);
            case kOpDeleteSnapshot:
                return PerformDeleteSnapshot(vm, op);
            case kOpReboot:
                return check(bridge.RebootVM(vm.name, vm.guid, vm.region), "RebootVM Failed for VM");
            case kOpGetPassword:
                return PerformGetPassword(vm);
            default:
                // Reported as done, an operation never carried out would
                // mislead whoever asked for it.
                EvDebug::Error(fn, "Unsupported VM Operation [%d]", op);
                return NotSupported(("VM operation " + std::to_string(op)).c_str(), 1);
        }
    });
}

int CAmazonInfo::PerformGetPassword(SVMInfo& vm) {
    if (vm.keyPairs.empty()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Key name list is empty.");
        SetLastVMErrorDetails("Key name list is empty.");
        return 1;
    }
    if (m_pSourceBridge->GetPassword(vm.name, vm.guid, vm.keyPairs.front().name, vm.password)) return 0;
    return VMOperationFailed(__PRETTY_FUNCTION__, "Get Password failed for VM[" + vm.name + "]");
}
