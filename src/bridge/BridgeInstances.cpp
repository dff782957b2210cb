// Instances: power, launch from an AMI, edit, terminate, password, console
// output and screenshot, and the status-check wait.
#include "bridge/BridgeImpl.h"
#include "framework/FileUtils.h"

using namespace bridgeimpl;
using cloudsim::FindInstance;
using cloudsim::Instance;
using cloudsim::State;
using VMInfoStructs::SVMInfo;

namespace {

// A baseline JPEG of 8x8 mid-grey pixels: one block whose DC and AC
// coefficients are all zero, coded with one-symbol Huffman tables.
const unsigned char kScreenshot[] = {
    0xFF, 0xD8,                                                                    // SOI
    0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,  // APP0
    0xFF, 0xDB, 0x00, 0x43, 0x00,                                                  // DQT, table 0: all ones
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00,  // SOF0: 8x8, 1 component
    0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00,  // DHT DC: "0" = 0
    0xFF, 0xC4, 0x00, 0x14, 0x10, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00,  // DHT AC: "0" = EOB
    0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00,                    // SOS
    0x3F,                                                                          // DC 0, EOB, padding
    0xFF, 0xD9,                                                                    // EOI
};

}  // namespace

bool SimBackend::PowerOnVM(const std::string& name, const std::string& id, const std::string& region) {
    Impl& d = *m_impl;
    return d.Run("PowerOnVM", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            Instance* inst = FindInstance(s, name, id, d.accountId, where, false, error);
            if (!inst) return false;
            return cloudsim::StartInstance(s, *inst, d.Now(), d.Effect({inst->id}), error);
        });
    });
}

bool SimBackend::PowerOffVM(const std::string& name, const std::string& id, const std::string& region) {
    Impl& d = *m_impl;
    return d.Run("PowerOffVM", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            Instance* inst = FindInstance(s, name, id, d.accountId, where, false, error);
            if (!inst) return false;
            return cloudsim::StopInstance(s, *inst, d.Now(), d.Effect({inst->id}), error);
        });
    });
}

bool SimBackend::RebootVM(const std::string& name, const std::string& id, const std::string& region) {
    Impl& d = *m_impl;
    return d.Run("RebootVM", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            const Instance* inst = FindInstance(s, name, id, d.accountId, where, false, error);
            return inst && cloudsim::RebootInstance(*inst, error);
        });
    });
}

bool SimBackend::CreateVirtualMachine(SVMInfo& vm, std::string& out, bool creationFlag) {
    Impl& d = *m_impl;
    return d.Run("CreateVirtualMachine", true, [&](std::string& error) {
        Instance inst;
        bool ok = d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, vm.region, where, error)) return false;
            cloudsim::CreateRequest request;
            request.account = d.accountId;
            request.region = where;
            request.zone = vm.zone;
            request.imageId = vm.sourceId;
            request.instanceType = vm.instanceType;
            request.keyName = vm.keyPairs.empty() ? "" : vm.keyPairs.front().name;
            request.subnetId = vm.networkCards.empty() ? "" : vm.networkCards.front().subnetId;
            request.name = vm.name;
            request.stopped = creationFlag;
            const Instance* made = cloudsim::CreateInstance(s, request, d.Now(), d.hit, error);
            if (!made) return false;
            inst = *made;
            vm.region = where;
            vm.zone = inst.zone;
            return true;
        });
        if (!ok) return false;
        vm.guid = out = inst.id;
        vm.instanceType = inst.instanceType;
        EvDebug::DebugLvl(kTag, 2, "launched %s from %s", inst.id.c_str(), inst.amiId.c_str());
        return true;
    });
}

bool SimBackend::EditVirtualMachine(SVMInfo& vm, std::string& out) {
    Impl& d = *m_impl;
    return d.Run("EditVirtualMachine", true, [&](std::string& error) {
        bool ok = d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, vm.region, where, error)) return false;
            Instance* inst = FindInstance(s, "", vm.guid, d.accountId, where, false, error);
            if (!inst) return false;
            if (!cloudsim::ModifyInstanceType(s, *inst, vm.instanceType, error)) return false;
            if (!vm.name.empty() && !ApplyTag(inst->tags, "Name", vm.name, true, error)) return false;
            return true;
        });
        if (ok) out = vm.guid;
        return ok;
    });
}

bool SimBackend::DeleteVM(const std::string& name, const std::string& id, const std::string& region,
                                bool deleteVolumes, bool) {
    Impl& d = *m_impl;
    return d.Run("DeleteVM", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            Instance* inst = FindInstance(s, name, id, d.accountId, where, true, error);
            if (!inst) return false;
            return cloudsim::TerminateInstance(s, *inst, deleteVolumes, d.Now(), d.Effect({inst->id}), error);
        });
    });
}

bool SimBackend::GetPassword(const std::string& name, const std::string& id, const std::string& keyName,
                                   std::string& password) {
    Impl& d = *m_impl;
    return d.Run("GetPassword", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Instance* inst = FindInstance(s, name, id, d.accountId, d.region, false, error);
            return inst && cloudsim::GetPasswordData(*inst, keyName, password, error);
        });
    });
}

bool SimBackend::LogConsoleOutput(const std::string& instanceId) {
    Impl& d = *m_impl;
    return d.Run("LogConsoleOutput", true, [&](std::string& error) {
        std::string text;
        bool ok = d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Instance* inst = FindInstance(s, "", instanceId, d.accountId, d.region, true, error);
            if (!inst) return false;
            text = inst->consoleOutput;
            return true;
        });
        if (ok)
            EvDebug::Debug(kTag, "Console output of instance [%s]:\n%s", instanceId.c_str(),
                           text.empty() ? "(no console output)" : text.c_str());
        return ok;
    });
}

bool SimBackend::SaveInstanceScreenshot(const std::string& instanceId, const std::string& file) {
    Impl& d = *m_impl;
    return d.Run("SaveInstanceScreenshot", true, [&](std::string& error) {
        bool ok = d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Instance* inst = FindInstance(s, "", instanceId, d.accountId, d.region, false, error);
            return inst && cloudsim::CheckScreenshot(*inst, error);
        });
        if (!ok) return false;
        std::string bytes(reinterpret_cast<const char*>(kScreenshot), sizeof kScreenshot);
        if (!FwFile::WriteAllAtomic(file, bytes)) return Err(error, "InternalError: cannot write " + file);
        return true;
    });
}

bool SimBackend::IsInstanceValidationtaskCompleted(const std::string& instanceId, bool& succeeded) {
    Impl& d = *m_impl;
    succeeded = false;
    bool done = false;
    std::string failure;
    bool ok = d.Run("IsInstanceValidationtaskCompleted", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Instance* inst = FindInstance(s, "", instanceId, d.accountId, d.region, false, error);
            if (!inst) return false;
            done = cloudsim::StatusChecksOver(*inst, succeeded, failure);
            return true;
        });
    });
    // A poll that fails ends the wait: done, without success.
    if (!ok) return true;
    if (!failure.empty()) d.Fail("IsInstanceValidationtaskCompleted", failure);
    return done;
}
