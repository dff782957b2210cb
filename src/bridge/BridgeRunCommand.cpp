// SSM run-command: sending scripts, following and cancelling them, and
// reading the output the agent leaves in S3.
#include "bridge/BridgeImpl.h"

using namespace bridgeimpl;
using cloudsim::State;

namespace {

// A PowerShell single-quoted literal: inside, only a quote is special, and
// two of them stand for one. The download's script is the bridge's own,
// composed from plain arguments (as the SDK-side helper composes its
// Read-S3Object line), so quoting them is this side's job; the plug-in
// quotes only the paths it puts into its own commands.
std::string PsQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

}  // namespace

std::string bridgeimpl::RunCommandOutputPrefix(const std::string& folder) {
    return folder.empty() ? folder : folder + "/RunCommandDir";
}

std::string bridgeimpl::DownloadScript(const std::string& bucket, const std::string& key,
                                       const std::string& destination, bool nonWindows) {
    // PowerShell on every platform: the guest was checked for it and for the
    // AWS module, and Read-S3Object makes the destination's folders.
    const std::string module = nonWindows ? "AWSPowerShell.NetCore" : "AWSPowerShell";
    return "Import-Module " + module + "; Read-S3Object -BucketName " + PsQuote(bucket) + " -Key " + PsQuote(key) +
           " -File " + PsQuote(destination);
}

int SimBackend::RunScriptOnGuest(const std::string& region, const std::string& bucket, const std::string& folder,
                                       const std::string& instanceId, const std::string& script,
                                       const std::string& extra, std::string& commandId, std::string& error,
                                       bool nonWindows) {
    Impl& d = *m_impl;
    commandId.clear();
    bool ok = d.Run("RunScriptOnGuest", true, [&](std::string& why) {
        if (!cloudsim::CheckCommandComment(extra, why)) return false;
        return d.Change([&](State& s) {
            cloudsim::Command c;
            c.account = d.accountId;
            if (!d.ResolveRegion(s, region, c.region, why)) return false;
            c.instanceId = instanceId;
            c.document = nonWindows ? "AWS-RunShellScript" : "AWS-RunPowerShellScript";
            c.script = script;
            c.outputBucket = bucket;
            c.outputPrefix = bucket.empty() ? std::string() : RunCommandOutputPrefix(folder);
            if (!cloudsim::SendCommand(s, c, d.Now(), why)) return false;
            commandId = c.id;
            return true;
        });
    });
    error = ok ? std::string() : d.lastError;
    return ok ? 1 : 0;
}

int SimBackend::isCommandComplete(const std::string& region, const std::string& commandId, std::string& status,
                                        bool& success) {
    Impl& d = *m_impl;
    bool finished = false;
    success = false;
    d.Run("isCommandComplete", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            const cloudsim::Command* c = cloudsim::FindCommand(s, d.accountId, where, commandId, error);
            if (!c) return false;
            status = c->status;
            finished = cloudsim::IsFinalCommandStatus(status);
            success = status == "Success";
            return true;
        });
    });
    return finished ? 1 : 0;
}

bool SimBackend::CancelCommand(const std::string& region, const std::string& commandId, std::string& error) {
    Impl& d = *m_impl;
    bool ok = d.Run("CancelCommand", true, [&](std::string& why) {
        return d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, why)) return false;
            return cloudsim::CancelCommand(s, d.accountId, where, commandId, why);
        });
    });
    error = ok ? std::string() : d.lastError;
    return ok;
}

bool SimBackend::GetRunCommandResult(const std::string& bucket, const std::string&, const std::string& folder,
                                           const std::string& instanceId, const std::string& commandId,
                                           std::string& output, std::string& error) {
    Impl& d = *m_impl;
    output.clear();
    error.clear();
    return d.Run("GetRunCommandResult", true, [&](std::string& why) {
        return d.Look([&](const State& s) {
            if (!cloudsim::UsableBucket(s, bucket, d.accountId, why)) return false;
            for (const char* document : {"AWS-RunPowerShellScript", "AWS-RunShellScript"}) {
                cloudsim::Command c;
                c.id = commandId;
                c.instanceId = instanceId;
                c.document = document;
                c.outputPrefix = RunCommandOutputPrefix(folder);
                const cloudsim::S3Object* out = cloudsim::FindObject(s, bucket, CommandOutputKey(c, "stdout"));
                if (!out) continue;
                output = out->data;
                if (const cloudsim::S3Object* err = cloudsim::FindObject(s, bucket, CommandOutputKey(c, "stderr")))
                    error = err->data;
                return true;
            }
            return Err(why, cloudsim::NoSuchKey());
        });
    });
}

int SimBackend::DownloadS3FileOnGuest(const std::string& region, const std::string& bucket,
                                            const std::string& folder, const std::string& key,
                                            const std::string& instanceId, const std::string& destination,
                                            bool nonWindows, std::string& commandId) {
    std::string error;
    return RunScriptOnGuest(region, bucket, folder, instanceId, DownloadScript(bucket, key, destination, nonWindows),
                            std::string(), commandId, error, false);
}
