#include "host/HostOptions.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

void PrintUsage() {
    std::puts(
        "usage: amazon-host [--base DIR] [--seed FILE] [--plugin LIB] [--backend aws|cloudsim] [--real-time]\n"
        "                   [COMMAND [OPTIONS]]\n"
        "\n"
        "  --base DIR     agent base folder (default: $AGENT_BASE_DIR, else ./agent-base)\n"
        "  --seed FILE    seed of the simulated cloud when its state folder is new\n"
        "  --plugin LIB   plug-in library to load\n"
        "  --backend B    the bridge's backend, kept in the settings: cloudsim (the\n"
        "                 simulated cloud, the default) or aws (AWS itself; with\n"
        "                 --real-time, as AWS's waits are real)\n"
        "  --real-time    let waits take wall time (by default a wait returns at once\n"
        "                 and moves the clock ahead: the cloud is simulated)\n"
        "\n"
        "commands:\n"
        "  demo           connect to the demo account of the seed (the default)\n"
        "  connect        --job FILE | --url U --access-key K --secret-key S\n"
        "                 [--admin-url U --admin-access-key K --admin-secret-key S]\n"
        "                 [--proxy-host H --proxy-user U --proxy-password P] [--job-id N]\n"
        "  browse [PATH]  print the inventory under PATH (e.g. \"\\Region View\\us-east-1\") as a tree\n"
        "  vm-op --op N --instance ID [--region R] [--volume ID (--op 13 only)]\n"
        "                 run a VM operation (1 power on, 2 power off, 13 snapshot of the\n"
        "                 volume --volume names, 17 reboot, ...)\n"
        "  cleanup        remove what dead backup and restore jobs left registered\n"
        "  backup --instance ID [--mode HOTADD|EBS-DIRECT-API] [--out DIR] [--threads N] [--cbt on|off]\n"
        "                 back an instance up as the next point of the chain in DIR: full,\n"
        "                 then incrementals of the changed blocks (change tracking on)\n"
        "  backup --copy-of SNAP-JOB [--instance ID] [--mode HOTADD|EBS-DIRECT-API] [--out DIR]\n"
        "                 backup copy of a snap backup: the snapshot manager mounts its snapshots,\n"
        "                 the disks are read whole into the next point of the chain in DIR\n"
        "  restore-image --chain DIR --out DIR [--point N]\n"
        "                 rebuild the disk images of a point of a chain (default: the last)\n"
        "  restore --chain DIR [--point N] [--name NAME] [--region R] [--zone Z] [--type T]\n"
        "          [--account source|admin] [--power-on] [--overwrite]\n"
        "          [--attach-to INSTANCE | --template AMI]\n"
        "                 restore a point (default: the last) as a new instance (default: the\n"
        "                 backed-up name, zone and type), its disks onto an existing instance\n"
        "                 (--attach-to), or onto a new instance launched from an AMI\n"
        "                 (--template); --account names the account restored into: the job's\n"
        "                 source account (default) or its admin account, where the proxy runs\n"
        "  replicate --instance ID --chain DIR [--name NAME] [--zone Z] [--account source|admin]\n"
        "          [--power-on]\n"
        "                 one replication cycle from the chain's last point: the first makes the\n"
        "                 replica in full, later ones write only the blocks changed since the\n"
        "                 point the replica holds (kept in DIR/replica.json) and replace it\n"
        "  guest-browse --instance ID [PATH]\n"
        "                 list a folder of a running instance's guest (without PATH, its root)\n"
        "  guest-restore --instance ID --file LOCAL --to GUEST-PATH\n"
        "                 copy a local file into a running instance's guest\n"
        "  guest-run --instance ID --script FILE [--timeout SECONDS]\n"
        "                 run a script in a running instance's guest and wait for it\n"
        "                 (default 3600 s); prints its exit code\n"
        "  snap-backup --instance ID[,ID...] [--vm-centric] [--job-id N]\n"
        "                 snap backup through the snapshot manager: prints the snapshots taken,\n"
        "                 the metadata files written and each instance's result\n"
        "  snap-list      the snapshot manager's snap jobs, snapshots and files, read back\n"
        "  snap-mount --snap-job N --instance ID\n"
        "                 volumes of the instance's snapshots of snap job N, attached to the\n"
        "                 proxy through the snapshot manager: prints each one's device\n"
        "  snap-unmount --snap-job N --instance ID\n"
        "                 take that mount away again (also one whose process died)\n"
        "  revert --snap-job N --instance ID [--disks VOL[,VOL...]]\n"
        "                 put the instance's volumes (default: all) back to snap job N in\n"
        "                 place; the volumes they replace are detached and kept\n"
        "  restore --snap-job N --instance ID [--zone Z] [--name NAME]\n"
        "                 a new instance from snap job N (default: the backed-up zone, the\n"
        "                 name with \"-snap<N>\" added)\n"
        "The commands other than connect take the connect options too; without\n"
        "them they use the demo job.");
}

bool ParseHostOptions(int argc, char** argv, HostOptions& out, std::string& why) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            out.command = "help";
            return true;
        }
        if (arg == "--real-time" && out.command.empty()) {
            out.realTime = true;
            continue;
        }
        // Switches of a command take no value.
        if (!out.command.empty() && (arg == "--power-on" || arg == "--overwrite" || arg == "--vm-centric")) {
            out.values[arg.substr(2)] = "yes";
            continue;
        }
        if (arg.rfind("--", 0) == 0) {
            if (i + 1 >= argc) {
                why = "option " + arg + " needs a value";
                return false;
            }
            std::string value = argv[++i];
            if (out.command.empty() && arg == "--base") out.baseDir = value;
            else if (out.command.empty() && arg == "--seed") out.seedFile = value;
            else if (out.command.empty() && arg == "--plugin") out.pluginPath = value;
            else if (out.command.empty() && arg == "--backend") {
                if (value != "aws" && value != "cloudsim") {
                    why = "--backend takes aws or cloudsim";
                    return false;
                }
                out.backend = value;
            }
            else if (out.command.empty()) {
                why = "unknown option " + arg;
                return false;
            } else out.values[arg.substr(2)] = value;
        } else if (out.command.empty()) {
            out.command = arg;
        } else {
            out.positional.push_back(arg);
        }
    }
    return true;
}

namespace {
std::string Value(const HostOptions& o, const std::string& key) {
    auto it = o.values.find(key);
    return it == o.values.end() ? std::string() : it->second;
}

std::string JsonString(const nlohmann::json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return {};
    if (!it->is_string()) throw std::runtime_error(std::string("\"") + key + "\" must be a string");
    return it->get<std::string>();
}
}  // namespace

bool LoadConnectJob(const HostOptions& options, ConnectJob& job, std::string& why) {
    const std::string jobFile = Value(options, "job");
    if (!jobFile.empty()) {
        std::ifstream in(jobFile);
        if (!in) {
            why = "cannot read job file " + jobFile;
            return false;
        }
        try {
            std::stringstream ss;
            ss << in.rdbuf();
            const auto j = nlohmann::json::parse(ss.str());
            job.url = JsonString(j, "url");
            job.accessKey = JsonString(j, "accessKey");
            job.secretKey = JsonString(j, "secretKey");
            if (j.contains("admin")) {
                job.adminUrl = JsonString(j["admin"], "url");
                job.adminAccessKey = JsonString(j["admin"], "accessKey");
                job.adminSecretKey = JsonString(j["admin"], "secretKey");
            }
            if (j.contains("webProxy")) {
                job.proxyHost = JsonString(j["webProxy"], "host");
                job.proxyUser = JsonString(j["webProxy"], "user");
                job.proxyPassword = JsonString(j["webProxy"], "password");
            }
            if (j.contains("jobId")) {
                if (!j["jobId"].is_number_integer()) throw std::runtime_error("\"jobId\" must be an integer");
                job.jobId = j["jobId"].get<long long>();
            }
        } catch (const std::exception& e) {
            why = "job file " + jobFile + ": " + e.what();
            return false;
        }
    }
    // Options on the command line override the job file.
    auto take = [&](const char* key, std::string& field) {
        const std::string v = Value(options, key);
        if (!v.empty()) field = v;
    };
    take("url", job.url);
    take("access-key", job.accessKey);
    take("secret-key", job.secretKey);
    take("admin-url", job.adminUrl);
    take("admin-access-key", job.adminAccessKey);
    take("admin-secret-key", job.adminSecretKey);
    take("proxy-host", job.proxyHost);
    take("proxy-user", job.proxyUser);
    take("proxy-password", job.proxyPassword);
    const std::string jobId = Value(options, "job-id");
    if (!jobId.empty()) {
        try {
            size_t used = 0;
            job.jobId = std::stoll(jobId, &used);
            if (used != jobId.size()) throw std::invalid_argument(jobId);
        } catch (const std::exception&) {
            why = "--job-id must be an integer";
            return false;
        }
    }
    if (job.accessKey.empty() || job.secretKey.empty()) {
        why = "no credentials: give --job FILE or --access-key and --secret-key";
        return false;
    }
    if (job.adminAccessKey.empty() != job.adminSecretKey.empty()) {
        why = "the admin account needs both an access key and a secret key";
        return false;
    }
    return true;
}
