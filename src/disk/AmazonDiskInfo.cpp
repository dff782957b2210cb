#include "disk/AmazonDiskInfo.h"

#include "framework/EvDebug.h"

bool CAmazonDiskInfo::Initialize(const VMInfoStructs::SVMInfo& vm) {
    m_vm = vm;
    return true;
}

bool CAmazonDiskInfo::Connect(const VMInfoStructs::SVMInfo& vm) {
    if (vm.guid.empty()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "No instance id given for disk access of [%s]", vm.name.c_str());
        return false;
    }
    m_vm = vm;
    return true;
}
