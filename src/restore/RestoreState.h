#pragma once
// What a plug-in object keeps of the restore job it serves, from
// SelectRestoreMethod to the job's end. Used from the framework's calling
// thread only.

namespace AmazonRestore {
struct RestoreState {
    bool hotAddMethodSelected = false;
    bool crossAccountRestore = false;  // once set, for the object's lifetime
    // The restore phase launched the instance and attached its volumes; set
    // by RestoreVM_AmazonVMAsProxy, so that nothing is added to an instance
    // whose restore failed half-way.
    bool restoredInstanceReady = false;
};
}  // namespace AmazonRestore
