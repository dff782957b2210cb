// Stand-ins for the proxy method's volume and instance steps until their
// own files land: each is a weak definition that fails saying so, and the
// real one replaces it at link time, so that no phase ever reports a restore
// it did not do.
#include "factory/AmazonInfo.h"

#define AMAZON_PENDING __attribute__((weak))

AMAZON_PENDING bool CAmazonInfo::_CreateEmptyVolumes(const RestoreCtx&, const VM_Cleaner_Mode&, bool&) {
    return NotBuiltYet("Restore volume creation") != 0;
}
AMAZON_PENDING int CAmazonInfo::PreRestoreVM_AmazonVMAsProxy(const RestoreCtx&) {
    return NotBuiltYet("Restore through the proxy");
}
AMAZON_PENDING bool CAmazonInfo::RestoreVM_AmazonVMAsProxy(const RestoreCtx&) {
    return NotBuiltYet("Restored instance creation") != 0;
}
AMAZON_PENDING bool CAmazonInfo::RestoreVolume_AmazonVMAsProxy(const RestoreCtx&) {
    return NotBuiltYet("Attach disk restore") != 0;
}
AMAZON_PENDING int CAmazonInfo::PostRestoreVM_AmazonVMAsProxy(const RestoreCtx&) {
    return NotBuiltYet("Restore through the proxy");
}
AMAZON_PENDING bool CAmazonInfo::HandleFilteredDataDisks(const RestoreCtx&) {
    return NotBuiltYet("Empty data volumes for a restore") != 0;
}
