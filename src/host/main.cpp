// The host program: plays the agent's framework. It prepares the agent's base
// folder, loads the plug-in with dlopen and runs one command against it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"
#include "framework/Clock.h"
#include "host/BackupChain.h"
#include "host/BackupCopy.h"
#include "host/BackupCommand.h"
#include "host/ConnectCommand.h"
#include "host/GuestCommands.h"
#include "host/HostOptions.h"
#include "host/InventoryCommands.h"
#include "host/PluginLoader.h"
#include "host/ReplicaState.h"
#include "host/ReplicateCommand.h"
#include "host/RestoreCommand.h"
#include "host/SnapCommand.h"
#include "host/SnapRevertCommand.h"

namespace {
std::string DemoFile(const char* name) {
    std::string seed = AMAZON_DEMO_SEED;
    return seed.substr(0, seed.find_last_of('/') + 1) + name;
}

// Points the framework at the base folder and tells the bridge which seed
// makes a new simulated cloud.
bool PrepareBase(const HostOptions& options, std::string& why) {
    std::string base = options.baseDir;
    if (base.empty()) {
        const char* env = std::getenv("AGENT_BASE_DIR");
        base = env && *env ? env : "agent-base";
    }
    if (!FwFile::MakeDirs(base)) {
        why = "cannot create the base folder " + base;
        return false;
    }
    KDPI_Base::setBaseDir(base);
    EvDebug::Reload();
    if (!options.realTime) FwClock::Set(std::make_shared<SkipSleepClock>(FwFile::JoinPath(base, "clock-offset")));
    KDPlatformInfo settings;
    // The simulated cloud publishes volumes attached to this machine as
    // device files where the disk mapper looks for them.
    std::string devices;
    if (!settings.getString("CloudSim", "sDeviceFolder", devices)) {
        devices = FwFile::JoinPath(base, "dev/disk/by-id");
        if (!FwFile::MakeDirs(devices) || !KDPlatformInfo::setValue("CloudSim", "sDeviceFolder", devices) ||
            !KDPlatformInfo::setValue("VirtualServer", "sDiskByIdFolder", devices)) {
            why = "cannot prepare the device folder " + devices;
            return false;
        }
    }
    // The bridge reads its backend from the settings when the plug-in makes it.
    if (!options.backend.empty() && !KDPlatformInfo::setValue("Bridge", "sBackend", options.backend)) {
        why = "cannot write the settings file " + KDPlatformInfo::settingsFilePath();
        return false;
    }
    std::string seed;
    if (!options.seedFile.empty() || !settings.getString("CloudSim", "sSeedFile", seed)) {
        seed = options.seedFile.empty() ? AMAZON_DEMO_SEED : options.seedFile;
        if (!KDPlatformInfo::setValue("CloudSim", "sSeedFile", seed)) {
            why = "cannot write the settings file " + KDPlatformInfo::settingsFilePath();
            return false;
        }
    }
    return true;
}

// The job's admin account alone: a job that restores into the account the
// proxy runs in. False when the job has no admin account.
bool UseAdminAccount(ConnectJob& job) {
    if (!job.hasAdmin()) return false;
    job.url = job.adminUrl.empty() ? job.url : job.adminUrl;
    job.accessKey = job.adminAccessKey;
    job.secretKey = job.adminSecretKey;
    job.adminUrl.clear();
    job.adminAccessKey.clear();
    job.adminSecretKey.clear();
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    HostOptions options;
    std::string why;
    if (!ParseHostOptions(argc, argv, options, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        PrintUsage();
        return 2;
    }
    if (options.command == "help") {
        PrintUsage();
        return 0;
    }
    if (options.command.empty()) options.command = "demo";
    if (!PrepareBase(options, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 1;
    }

    if (options.command == "demo") {
        // The demo plays an EC2 proxy unless the settings name another DMI folder.
        KDPlatformInfo settings;
        std::string dmi;
        if (!settings.getString("Base", "sDmiFolder", dmi)) KDPlatformInfo::setValue("Base", "sDmiFolder", DemoFile("dmi"));
        options.values.emplace("job", DemoFile("job.json"));
        options.command = "connect";
    }

    if (options.command == "restore-image") {
        // The framework's side alone: no plug-in and no cloud involved.
        auto it = options.values.find("chain");
        auto out = options.values.find("out");
        if (it == options.values.end() || out == options.values.end()) {
            std::fprintf(stderr, "error: restore-image needs --chain DIR and --out DIR\n");
            return 2;
        }
        int point = 0;
        auto p = options.values.find("point");
        try {
            if (p != options.values.end()) point = std::stoi(p->second);
        } catch (const std::exception&) {
            point = -1;
        }
        if (point < 0) {
            std::fprintf(stderr, "error: --point must be a backup number (1, 2, ...)\n");
            return 2;
        }
        BackupChain chain(it->second);
        if (!chain.Load(why) || !chain.RestoreImages(point, out->second, why, "restore-image")) {
            std::fprintf(stderr, "error: %s\n", why.c_str());
            return 1;
        }
        std::printf("rebuilt point %d of %s into %s\n", point ? point : static_cast<int>(chain.Points().size()),
                    it->second.c_str(), out->second.c_str());
        return 0;
    }

    // The snapshot manager's side alone.
    if (options.command == "snap-list") return RunSnapList();
    SnapBackupRequest snap;
    if (options.command == "snap-backup" && !ParseSnapBackupRequest(options.values, snap, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 2;
    }

    // Commands on a snap job taken earlier.
    const bool onSnapJob = options.command == "revert" || options.command == "snap-mount" ||
                           options.command == "snap-unmount" ||
                           (options.command == "restore" && options.values.count("snap-job"));
    SnapJobRequest snapJob;
    if (onSnapJob && !ParseSnapJobRequest(options.command, options.values, snapJob, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 2;
    }

    // Guest commands' lines are checked before the plug-in is loaded.
    GuestRequest guest;
    if (IsGuestCommand(options.command) &&
        !ParseGuestRequest(options.command, options.values, options.positional, guest, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 2;
    }

    PluginLoader loader;
    const std::string plugin = options.pluginPath.empty() ? AMAZON_PLUGIN_PATH : options.pluginPath;
    if (!loader.Load(plugin, why)) {
        std::fprintf(stderr, "error: cannot load the plug-in %s: %s\n", plugin.c_str(), why.c_str());
        return 1;
    }

    // Commands other than connect use the demo job unless given credentials.
    if (options.command != "connect" && !options.values.count("job") && !options.values.count("access-key"))
        options.values["job"] = DemoFile("job.json");
    ConnectJob job;
    if (!LoadConnectJob(options, job, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 2;
    }
    auto value = [&options](const char* key) {
        auto it = options.values.find(key);
        return it == options.values.end() ? std::string() : it->second;
    };
    if (options.command == "connect") return RunConnect(loader, job);
    if (options.command == "browse")
        return RunBrowse(loader, job, options.positional.empty() ? std::string() : options.positional.front());
    if (options.command == "cleanup") return RunCleanup(loader, job);
    if (options.command == "snap-backup") return RunSnapBackup(loader, job, snap);
    if (onSnapJob) {
        if (options.command == "snap-mount") return RunSnapMount(loader, job, snapJob);
        if (options.command == "snap-unmount") return RunSnapUnmount(loader, job, snapJob);
        return RunSnapRevert(loader, job, snapJob, options.command == "revert");
    }
    if (IsGuestCommand(options.command)) return RunGuestCommand(loader, job, guest);
    if (options.command == "backup") {
        BackupRequest request;
        request.instanceId = value("instance");
        request.mode = value("mode");
        // The plug-in would take a mode it does not know for its default, and
        // the job would run in a mode nobody asked for.
        if (options.values.count("mode") && request.mode != "HOTADD" && request.mode != "EBS-DIRECT-API") {
            std::fprintf(stderr, "error: --mode \"%s\" is not a transport mode; use HOTADD or EBS-DIRECT-API\n",
                         request.mode.c_str());
            return 2;
        }
        if (!value("copy-of").empty()) {
            try {
                request.copyOf = std::stoll(value("copy-of"));
            } catch (const std::exception&) {
                request.copyOf = -1;
            }
            if (request.copyOf <= 0) {
                std::fprintf(stderr, "error: --copy-of takes the snap job's id\n");
                return 2;
            }
            if (!BackupCopyJob::ResolveInstance(request.copyOf, request.instanceId, why)) {
                std::fprintf(stderr, "error: %s\n", why.c_str());
                return 1;
            }
        }
        request.outDir = value("out");
        if (request.outDir.empty()) request.outDir = FwFile::JoinPath(KDPI_Base::getBaseDir(), "Backups/" + request.instanceId);
        const std::string cbt = value("cbt");
        if (!cbt.empty() && cbt != "on" && cbt != "off") {
            std::fprintf(stderr, "error: --cbt takes on or off\n");
            return 2;
        }
        request.changeTracking = cbt != "off";
        try {
            if (!value("threads").empty()) request.threads = std::stoi(value("threads"));
            if (!value("subclient").empty()) request.subclientId = std::stoi(value("subclient"));
        } catch (const std::exception&) {
            request.threads = 0;
        }
        if (request.instanceId.empty() || request.threads < 1 || request.threads > 64 || request.subclientId < 0) {
            std::fprintf(stderr, "error: backup needs --instance ID (and --threads between 1 and 64, "
                                 "--subclient a number)\n");
            return 2;
        }
        return RunBackup(loader, job, request);
    }
    if (options.command == "restore") {
        RestoreRequest request;
        if (!ParseRestoreRequest(options.values, request, why)) {
            std::fprintf(stderr, "error: %s\n", why.c_str());
            return 2;
        }
        // The admin account alone: the restore goes into the account the
        // proxy runs in.
        if (request.account == "admin" && !UseAdminAccount(job)) {
            std::fprintf(stderr, "error: --account admin needs a job with an admin account\n");
            return 2;
        }
        return RunRestore(loader, job, request);
    }
    if (options.command == "replicate") {
        ReplicateRequest request;
        if (!ParseReplicateRequest(options.values, request, why)) {
            std::fprintf(stderr, "error: %s\n", why.c_str());
            return 2;
        }
        // A later cycle runs in the account its replica lives in.
        if (!request.accountGiven) {
            ReplicaState state;
            std::string unused;
            if (LoadReplicaState(ReplicaStatePath(request.chain), state, unused) && !state.replica.empty())
                request.account = state.account;
        }
        if (request.account == "admin" && !UseAdminAccount(job)) {
            std::fprintf(stderr, "error: --account admin needs a job with an admin account\n");
            return 2;
        }
        return RunReplicate(loader, job, request);
    }
    if (options.command == "vm-op") {
        int op = 0;
        try {
            op = std::stoi(value("op"));
        } catch (const std::exception&) {
            std::fprintf(stderr, "error: vm-op needs --op N\n");
            return 2;
        }
        if (value("instance").empty()) {
            std::fprintf(stderr, "error: vm-op needs --instance ID\n");
            return 2;
        }
        // The volume is handed to the plug-in as a snapshot entry, which
        // would replace the first disk's entries for any other operation.
        constexpr int kCreateSnapshot = 13;
        if (!value("volume").empty() && op != kCreateSnapshot) {
            std::fprintf(stderr, "error: vm-op takes --volume only with --op %d\n", kCreateSnapshot);
            return 2;
        }
        return RunVmOperation(loader, job, op, value("instance"), value("region"), value("volume"));
    }
    std::fprintf(stderr, "error: unknown command %s\n", options.command.c_str());
    PrintUsage();
    return 2;
}
