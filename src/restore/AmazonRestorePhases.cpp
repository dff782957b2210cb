// The six restore phases the framework drives. Placeholder until the phases
// land: each fails and says so, never a pretended restore.
#include "factory/AmazonInfo.h"

int CAmazonInfo::InitRestoreVM(const RestoreCtx&) { return NotBuiltYet("Restore"); }
int CAmazonInfo::PreRestoreVM(const RestoreCtx&) { return NotBuiltYet("Restore"); }
int CAmazonInfo::RestoreVM(const RestoreCtx&) { return NotBuiltYet("Restore"); }
int CAmazonInfo::PostRestoreVM(const RestoreCtx&) { return NotBuiltYet("Restore"); }
int CAmazonInfo::CloseRestoreVM(const RestoreCtx&) { return NotBuiltYet("Restore"); }
int CAmazonInfo::CleanupRestoreVM(const RestoreCtx&) { return NotBuiltYet("Restore"); }
