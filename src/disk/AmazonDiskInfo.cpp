#include "disk/AmazonDiskInfo.h"

#include "framework/EvDebug.h"

// The registry's operations arrive with the disk-access work; until then only
// the attach target and the connected VMs are kept.
bool CAmazonDiskInfo::Initialize(const VMInfoStructs::SVMInfo& attachTarget) {
    m_attachTarget = attachTarget;
    return true;
}

bool CAmazonDiskInfo::Connect(const VMInfoStructs::SVMInfo& vm) {
    if (vm.guid.empty()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "No instance id given for disk access of [%s]", vm.name.c_str());
        return false;
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (const auto& h : m_vms)
        if (h->guid == vm.guid) return true;
    auto handle = std::make_unique<AmazonDiskInfo::VMHandle>();
    handle->name = vm.name;
    handle->guid = vm.guid;
    handle->zone = vm.zone;
    handle->region = vm.region;
    handle->isTemplate = vm.isTemplate;
    m_vms.push_back(std::move(handle));
    EvDebug::Debug(__PRETTY_FUNCTION__, "VM [%s] added.", vm.guid.c_str());
    return true;
}
