// The snapshot manager's engine in this stand-in: the framework's snapshot
// requests carried out through a bridge of their own, installed when the
// bridge library is loaded.
#include <strings.h>

#include <memory>

#include "bridge/AmazonSDKBridge.h"
#include "framework/EvDebug.h"
#include "framework/KDPI.h"
#include "framework/SnapEngine.h"

namespace {
const char kTag[] = "BridgeSnapEngine";

class BridgeSnapEngine : public ISnapEngine {
public:
    bool CreateSnapshot(const SnapArrayAccount& account, const std::string& region, const std::string& volumeId,
                        const std::string& name, const std::string& description, std::string& snapshotId,
                        std::string& error) override {
        auto bridge = Connect(account, region, error);
        if (!bridge) return false;
        if (bridge->CreateSnapshot(volumeId, name, description, snapshotId, true)) return true;
        error = bridge->GetLastErrorString();
        return false;
    }

    bool GetSnapshotState(const SnapArrayAccount& account, const std::string& region, const std::string& snapshotId,
                          std::string& state, std::string& error) override {
        auto bridge = Connect(account, region, error);
        if (!bridge) return false;
        VMInfoStructs::SChildDisk info;
        if (!bridge->GetSnapshotInfo(snapshotId, region, info)) {
            error = bridge->GetLastErrorString();
            return false;
        }
        state = strcasecmp(info.state.c_str(), "completed") == 0 ? "completed"
                : strcasecmp(info.state.c_str(), "error") == 0   ? "error"
                                                                   : "pending";
        return true;
    }

    bool DeleteSnapshot(const SnapArrayAccount& account, const std::string& region, const std::string& snapshotId,
                        std::string& error) override {
        auto bridge = Connect(account, region, error);
        if (!bridge) return false;
        if (bridge->DeleteSnapshot(snapshotId, region)) return true;
        error = bridge->GetLastErrorString();
        return false;
    }

    bool CreateVolume(const SnapArrayAccount& account, const std::string& region, const std::string& snapshotId,
                      const std::string& zone, const std::string& name, const std::string& type, int iops,
                      bool encrypt, const std::string& kmsKeyId, std::string& volumeId,
                      std::string& error) override {
        auto bridge = Connect(account, region, error);
        if (!bridge) return false;
        if (bridge->CreateVolume(snapshotId, zone, name, type, iops, 0, encrypt, kmsKeyId, volumeId, {}, true, ""))
            return true;
        error = bridge->GetLastErrorString();
        return false;
    }

    bool GetVolumeState(const SnapArrayAccount& account, const std::string& region, const std::string& volumeId,
                        std::string& state, std::string& attachState, std::string& error) override {
        auto bridge = Connect(account, region, error);
        if (!bridge) return false;
        VMInfoStructs::SDisk disk;
        bool notFound = false;
        if (!bridge->GetVolumeInfo(volumeId, region, disk, notFound)) {
            error = bridge->GetLastErrorString();
            return false;
        }
        state = notFound ? "gone" : disk.state;
        attachState = notFound ? std::string() : disk.attachState;
        return true;
    }

    bool AttachVolume(const SnapArrayAccount& account, const std::string& region, const std::string& volumeId,
                      const std::string& instanceId, std::string& error) override {
        auto bridge = Connect(account, region, error);
        if (!bridge) return false;
        bool conflict = false;
        if (bridge->AttachVolume(volumeId, instanceId, "", false, "", conflict, true)) return true;
        error = bridge->GetLastErrorString();
        return false;
    }

    bool DetachVolume(const SnapArrayAccount& account, const std::string& region, const std::string& volumeId,
                      std::string& error) override {
        auto bridge = Connect(account, region, error);
        if (!bridge) return false;
        if (bridge->DetachVolume(volumeId, false, true)) return true;
        error = bridge->GetLastErrorString();
        return false;
    }

    bool DeleteVolume(const SnapArrayAccount& account, const std::string& region, const std::string& volumeId,
                      std::string& error) override {
        auto bridge = Connect(account, region, error);
        if (!bridge) return false;
        if (bridge->DeleteVolume(volumeId, true)) return true;
        error = bridge->GetLastErrorString();
        return false;
    }

private:
    // One connection per request: requests come from any job thread.
    static std::unique_ptr<CAmazonSDKBridge> Connect(const SnapArrayAccount& account, const std::string& region,
                                                     std::string& error) {
        auto bridge = std::make_unique<CAmazonSDKBridge>();
        if (!bridge->initialize(KDPI_Focus::getFocus(), "SnapManager", EvEvent::getProcessJobId()) ||
            !bridge->Connect(account.url.empty() ? region : account.url, account.accessKey, account.secretKey)) {
            error = bridge->GetLastErrorString();
            EvDebug::Error(kTag, "cannot connect for the snapshot manager: %s", error.c_str());
            return nullptr;
        }
        bridge->overrideRegion(region);
        return bridge;
    }
};

// Installed while this library is loaded: the engine's code leaves with
// the library, so it must not outlive it in the framework (a plug-in that
// is dlclosed takes the bridge with it).
struct Registrar {
    Registrar() { FwSnapEngine::Install(std::make_shared<BridgeSnapEngine>()); }
    ~Registrar() { FwSnapEngine::Install(nullptr); }
};
const Registrar kRegistrar;
}  // namespace
