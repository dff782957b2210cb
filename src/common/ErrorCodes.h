#pragma once
// The plug-in's error codes, one name per number: what a failed operation
// leaves as the object's last VM error (GetLastVMError). The numbers are
// the framework's and never change. Two codes keep the framework's own
// names (src/framework/VMInfo.h) and are not repeated here:
// kErrNotSupported (242), a slot or branch the plug-in has no answer for,
// and kErrJobCancelled (4000), a job the framework cancelled mid-way.
#include <string>

#include "framework/VMInfo.h"
#include "records/VMInfoStructs.h"

namespace AmazonErrors {

// The instance a mount or a clone names does not exist.
constexpr EVMInfoError kInstanceNotFound = 1;
// A restore found an instance with the restore name and may not overwrite it.
constexpr EVMInfoError kRestoreNameTaken = 10;
// Creating, waiting for or deregistering an AMI or a snapshot failed
// (backup AMI, clone AMI, snapshot waits).
constexpr EVMInfoError kAMIOrSnapshotTask = 17;
// The disk helper could not connect for the VM being read.
constexpr EVMInfoError kErrDiskConnectFailed = 19;
// Launching an instance failed: a clone, or the instance a restore makes.
constexpr EVMInfoError kErrCloneFailed = 20;
// A mount failed without a more precise reason; also a disk slot that found
// no handle, disk or VM record, a disk read that failed, and a staged disk
// that could not be registered with the framework.
constexpr EVMInfoError kMountFailed = 23;
// Creating a volume (empty or from a snapshot) failed or timed out.
constexpr EVMInfoError kVolumeCreate = 24;
// Connecting to the source or admin account failed.
constexpr EVMInfoError kErrConnectFailed = 48;
// The instance a restore overwrites could not be deleted.
constexpr EVMInfoError kRestoreOverwriteDelete = 61;
// Attaching or modifying a volume failed or timed out.
constexpr EVMInfoError kAttachOrModify = 54;
// The disk filters left no disk to back up.
constexpr EVMInfoError kErrAllDisksFiltered = 65;
// The instance is a template (an AMI), not an instance to mount.
constexpr EVMInfoError kTemplate = 67;
// The instance already has as many backup AMIs as a job may leave.
constexpr EVMInfoError kErrTooManyBackupAMIs = 73;
// Powering a restored instance on failed.
constexpr EVMInfoError kPowerOnFailed = 112;
// A clean-up of a mounted VM or its backup AMI failed.
constexpr EVMInfoError kErrCleanupFailed = 116;
// Detaching a volume failed or timed out.
constexpr EVMInfoError kErrDetachFailed = 117;
// The proxy is the instance being backed up.
constexpr EVMInfoError kProxyIsSource = 151;
// The instance has no volume to back up; also a volume snapshot that names
// none.
constexpr EVMInfoError kNoVolumes = 172;
// Several instances carry the restore name: which to overwrite is unclear.
constexpr EVMInfoError kRestoreNameAmbiguous = 173;
// Hot-add of an instance outside the proxy's region (backup or restore).
constexpr EVMInfoError kRegionMismatch = 176;
// A restore to another zone than the proxy's while cross-zone restores are off.
constexpr EVMInfoError kZoneMismatch = 178;
// Hot-add needs the proxy to be an EC2 instance.
constexpr EVMInfoError kProxyNotAmazon = 179;
// An attach refused because the device or the volume is taken.
constexpr EVMInfoError kAttachConflict = 189;
// The proxy runs lvmetad, which would take the staged volumes' LVM groups.
constexpr EVMInfoError kLvmetadEnabled = 202;
// Validating an instance's status checks failed or timed out.
constexpr EVMInfoError kInstanceValidation = 234;
// The AMI chosen for an attach disk restore to a new instance is not usable.
constexpr EVMInfoError kRestoreTemplateInvalid = 236;
// The proxy's own instance record is not available.
constexpr EVMInfoError kProxyRecord = 237;
// AWS refused an io1 volume for the account's IOPS limit.
constexpr EVMInfoError kIopsLimit = 243;
// The instance a restore would overwrite is termination protected.
constexpr EVMInfoError kTerminationProtected = 245;
// A restored disk is larger than EBS allows (16 TiB).
constexpr EVMInfoError kDiskTooLarge = 249;
// The instance metadata service cannot be reached from the proxy.
constexpr EVMInfoError kMetadataServiceUnreachable = 262;
// A converted Linux VM boots from a GPT (EFI) disk, which a restore cannot make.
constexpr EVMInfoError kLinuxGptBoot = 264;
// A conversion to an NVMe (Nitro) instance type while such restores are off.
constexpr EVMInfoError kNitroTypeRefused = 267;
// The account lacks the permissions the EBS direct APIs need.
constexpr EVMInfoError kDirectReadPermissions = 287;
// Replication: the replica exists and is running, so it cannot be replaced.
constexpr EVMInfoError kReplicaPoweredOn = 7002;
// Replication: the restore name is taken by an instance that is not the replica.
constexpr EVMInfoError kReplicaOverwrite = 7003;
// Replication: the replica failed its status checks after the run.
constexpr EVMInfoError kReplicaValidation = 7007;

// Guest files: no usable S3 bucket, or it could not be shared to the
// instance's account.
constexpr EVMInfoError kGuestNoBucket = 164;
// Guest files: a file copy into the guest failed.
constexpr EVMInfoError kGuestFileCopy = 165;
// Guest files: PowerShell or the AWS module is missing in the guest.
constexpr EVMInfoError kGuestToolsMissing = 220;

// Snap backups: the snap metadata names no instance, or more than one, for a
// volume, or cannot be read; also a snap metadata text refused as malformed.
constexpr EVMInfoError kSnapMetadataUnreadable = 28;
// Snap backups: preparing the volume records for the snapshot manager failed,
// or the manager holds no snapshots of the job; also a failed archive file
// reservation.
constexpr EVMInfoError kSnapVolumeRecords = 29;
// Snap backups: the volume list could not be rebuilt from the snap metadata.
constexpr EVMInfoError kSnapVolumeListRebuild = 31;
// Snap backups: building the list of volumes to snapshot failed.
constexpr EVMInfoError kSnapVolumeList = 32;
// Snap backups: the snapshot manager's snapshots failed, or recording which
// instances they failed for did.
constexpr EVMInfoError kSnapCreate = 33;
// Backup copies: a hot-add copy of snapshots outside the proxy's region.
constexpr EVMInfoError kSnapRegionMismatch = 177;
// Backup copies: a snapshot of the snap backup no longer exists.
constexpr EVMInfoError kSnapCopySnapshotMissing = 2003;
// Backup copies: the account may make no more volumes.
constexpr EVMInfoError kSnapCopyVolumeLimit = 268;
// Snap backups: an instance whose volumes failed to snapshot.
constexpr EVMInfoError kSnapInstanceVolumesFailed = 272;
// Snap revert: a snapshot of the job is in another region than the one the
// instance is restored to.
constexpr EVMInfoError kSnapRevertRegionMismatch = 197;
// Snap revert: making, recording or handing over the volumes from the
// snapshots failed; those made so far are removed.
constexpr EVMInfoError kSnapRevertVolumes = 5001;
// Snap revert: the snap metadata gives no disk list for the instance.
constexpr EVMInfoError kSnapRevertFileList = 5002;

// Details of an interrupted wait, in place of any an earlier failure left.
constexpr const char kInterruptedText[] = "Job interrupted";

// Leaves an interrupted job's error on owner: the code with its own text, so
// that no details of an earlier failure pass for the interruption's.
template <typename Owner>
void SetInterrupted(Owner& owner) {
    owner.SetLastVMError(kErrJobCancelled, kInterruptedText);
}

}  // namespace AmazonErrors
