// The registry's VM entries: the attach target, connected VMs, look-ups and
// the failures collected while disks closed.
#include "disk/AmazonDiskInfo.h"
#include "disk/DiskGuard.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "framework/EvDebug.h"

using AmazonDiskInfo::DiskOpen;

namespace {
uint64_t HandleId(const void* handle) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)); }
}  // namespace

// One counter for VMs and disks of every registry in the process, so that no
// handle of one entry can ever name another.
uint64_t CAmazonDiskInfo::NewHandleId() {
    static std::atomic<uint64_t> next{1};
    return next.fetch_add(1);
}

bool CAmazonDiskInfo::Initialize(const VMInfoStructs::SVMInfo& attachTarget) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_attachTarget = attachTarget;
    return true;
}

VMInfoStructs::SVMInfo CAmazonDiskInfo::AttachTarget() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_attachTarget;
}

bool CAmazonDiskInfo::Connect(const VMInfoStructs::SVMInfo& vm) {
    if (vm.guid.empty()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "No instance id given for disk access of [%s]", vm.name.c_str());
        return false;
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (FindVM(vm.guid)) return true;
    auto handle = std::make_unique<VMHandle>();
    handle->id = NewHandleId();
    handle->name = vm.name;
    handle->guid = vm.guid;
    handle->zone = vm.zone;
    handle->region = vm.region;
    handle->isTemplate = vm.isTemplate;
    m_vms.push_back(std::move(handle));
    EvDebug::Debug(__PRETTY_FUNCTION__, "VM [%s] added.", vm.guid.c_str());
    return true;
}

bool CAmazonDiskInfo::Disconnect(const VMInfoStructs::SVMInfo& vm, std::vector<std::string>* openDirectSnapshots) {
    EvDebug::Debug(__PRETTY_FUNCTION__, "Disconnecting VM [%s][%s] from AmazonDiskInfo", vm.name.c_str(),
                   vm.guid.c_str());
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* handle = FindVM(vm.guid);
    if (!handle) return false;
    while (!handle->disks.empty()) {
        const DiskHandle& disk = *handle->disks.back();
        if (disk.state == DiskOpen) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Disk handle is still open!");
            if (openDirectSnapshots && strcasecmp(disk.transportMode.c_str(), AmazonDisk::kTransportDirect) == 0)
                openDirectSnapshots->push_back(disk.disk.snapshotId);
        }
        handle->disks.pop_back();
    }
    m_vms.erase(std::find_if(m_vms.begin(), m_vms.end(), [handle](const auto& h) { return h.get() == handle; }));
    return true;
}

bool CAmazonDiskInfo::GetVMInfo(const VmdkHandle& handle, const std::string& vmGuid, VMInfoStructs::SVMInfo& vm) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* found = nullptr;
    if (vmGuid.empty()) {
        if (!ResolveVM(handle, found)) return false;
    } else {
        found = FindVM(vmGuid);
        if (!found) return false;
    }
    FillVMRecord(*found, vm);
    return true;
}

bool CAmazonDiskInfo::GetLiveBrowseMountInfo(VMInfoStructs::SVMInfo& vm, std::vector<VMInfoStructs::SDisk>& disks) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_vms.size() != 1) {
        EvDebug::Error(__PRETTY_FUNCTION__, "VMHandles size is not 1. VMHandles size: [%zu]", m_vms.size());
        return false;
    }
    if (!m_vms.front()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "VM handle is NULL");
        return false;
    }
    FillVMRecord(*m_vms.front(), vm);
    for (const auto& disk : m_vms.front()->disks) {
        if (!disk) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Disk handle is NULL");
            continue;
        }
        disks.push_back(disk->disk);
    }
    return true;
}

void CAmazonDiskInfo::AddDiskFailure(const std::string& volume, const std::string& message, bool flag) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_failures.emplace_back(volume, message, "", "", flag);
}

std::vector<SFailure> CAmazonDiskInfo::GetDiskFailures() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_failures;
}

std::vector<SFailure> CAmazonDiskInfo::TakeDiskFailures() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::vector<SFailure> taken;
    taken.swap(m_failures);
    return taken;
}

CAmazonDiskInfo::VMHandle* CAmazonDiskInfo::FindVM(const std::string& vmGuid) const {
    for (const auto& h : m_vms)
        if (strcasecmp(h->guid.c_str(), vmGuid.c_str()) == 0) return h.get();
    return nullptr;
}

bool CAmazonDiskInfo::ResolveVM(const VmdkHandle& handle, VMHandle*& vm) const {
    const uint64_t id = HandleId(handle.vmHandle);
    if (id == 0) return false;
    for (const auto& h : m_vms) {
        if (h->id == id) {
            vm = h.get();
            return true;
        }
    }
    return false;
}

bool CAmazonDiskInfo::Resolve(const VmdkHandle& handle, VMHandle*& vm, DiskHandle*& disk) const {
    const uint64_t id = HandleId(handle.diskHandle);
    if (id == 0 || !ResolveVM(handle, vm)) return false;
    for (const auto& d : vm->disks) {
        if (d->id == id) {
            disk = d.get();
            return true;
        }
    }
    return false;
}

void CAmazonDiskInfo::FillVMRecord(const VMHandle& h, VMInfoStructs::SVMInfo& vm) {
    vm.name = h.name;
    vm.guid = h.guid;
    vm.zone = h.zone;
    vm.region = h.region;
    vm.isTemplate = h.isTemplate;
}
