// The wire backend's SSM run-command (JSON 1.1, "AmazonSSM"): sending a
// script, following and cancelling it, and reading the output the agent
// leaves in S3.
#include "bridge/BridgeText.h"
#include "bridge/wire/WireBackend.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

namespace {

const char kShell[] = "AWS-RunShellScript";
const char kPowerShell[] = "AWS-RunPowerShellScript";
// SendCommand's bound on a comment.
constexpr size_t kMaxComment = 100;

bool IsFinal(const std::string& status) {
    return status == "Success" || status == "Failed" || status == "Cancelled" || status == "TimedOut";
}

// Where the agent writes a stream of the command's one step:
// <prefix>/<command>/<instance>/awsrunShellScript/0.awsrunShellScript/stdout.
std::string OutputKey(const std::string& prefix, const std::string& commandId, const std::string& instanceId,
                      const char* document, const char* stream) {
    const std::string step = document == std::string(kShell) ? "awsrunShellScript" : "awsrunPowerShellScript";
    std::string key = prefix;
    if (!key.empty() && key.back() != '/') key += '/';
    return key + commandId + "/" + instanceId + "/" + step + "/0." + step + "/" + stream;
}

}  // namespace

bool WireBackend::Ssm(const std::string& op, const nlohmann::json& input, nlohmann::json& out, std::string& error,
                      const std::string& region) {
    return m_client.CallJson("ssm", "AmazonSSM", RegionFor(region), op, input, out, error);
}

int WireBackend::RunScriptOnGuest(const std::string& region, const std::string& bucket, const std::string& folder,
                                  const std::string& instanceId, const std::string& script, const std::string& extra,
                                  std::string& commandId, std::string& error, bool nonWindows) {
    commandId.clear();
    const bool ok = Run("RunScriptOnGuest", true, [&](std::string& why) {
        if (extra.size() > kMaxComment) {
            why = "ValidationException: Comment must be at most 100 characters";
            return false;
        }
        nlohmann::json input = {{"InstanceIds", {instanceId}},
                                {"DocumentName", nonWindows ? kShell : kPowerShell},
                                {"Parameters", {{"commands", {script}}}}};
        if (!extra.empty()) input["Comment"] = extra;
        if (!bucket.empty()) {
            input["OutputS3BucketName"] = bucket;
            input["OutputS3KeyPrefix"] = RunCommandOutputPrefix(folder);
        }
        nlohmann::json out;
        if (!Ssm("SendCommand", input, out, why, region)) return false;
        commandId = out.value("Command", nlohmann::json::object()).value("CommandId", std::string());
        if (!commandId.empty()) return true;
        why = "InternalError: SendCommand answered without a command id";
        return false;
    });
    error = ok ? std::string() : m_lastError;
    return ok ? 1 : 0;
}

int WireBackend::isCommandComplete(const std::string& region, const std::string& commandId, std::string& status,
                                   bool& success) {
    bool finished = false;
    success = false;
    Run("isCommandComplete", true, [&](std::string& error) {
        nlohmann::json out;
        if (!Ssm("ListCommands", {{"CommandId", commandId}}, out, error, region)) return false;
        const nlohmann::json commands = out.value("Commands", nlohmann::json::array());
        if (commands.empty()) {
            error = "InvalidCommandId: " + commandId;
            return false;
        }
        status = commands.front().value("Status", std::string());
        finished = IsFinal(status);
        success = status == "Success";
        return true;
    });
    return finished ? 1 : 0;
}

bool WireBackend::CancelCommand(const std::string& region, const std::string& commandId, std::string& error) {
    const bool ok = Run("CancelCommand", true, [&](std::string& why) {
        nlohmann::json out;
        return Ssm("CancelCommand", {{"CommandId", commandId}}, out, why, region);
    });
    error = ok ? std::string() : m_lastError;
    return ok;
}

bool WireBackend::GetRunCommandResult(const std::string& bucket, const std::string& bucketRegion,
                                      const std::string& folder, const std::string& instanceId,
                                      const std::string& commandId, std::string& output, std::string& error) {
    output.clear();
    error.clear();
    return Run("GetRunCommandResult", true, [&](std::string& why) {
        const std::string prefix = RunCommandOutputPrefix(folder);
        // The command's document is not known here: its step names the folder.
        for (const char* document : {kPowerShell, kShell}) {
            bool missing = false;
            std::string out;
            if (!GetS3Object(bucket, bucketRegion, OutputKey(prefix, commandId, instanceId, document, "stdout"), out,
                             missing, why))
                return false;
            if (missing) continue;
            std::string err;
            if (!GetS3Object(bucket, bucketRegion, OutputKey(prefix, commandId, instanceId, document, "stderr"), err,
                             missing, why))
                return false;
            output = out;
            error = err;
            return true;
        }
        why = "NoSuchKey: The specified key does not exist.";
        return false;
    });
}

int WireBackend::DownloadS3FileOnGuest(const std::string& region, const std::string& bucket, const std::string& folder,
                                       const std::string& key, const std::string& instanceId,
                                       const std::string& destination, bool nonWindows, std::string& commandId) {
    std::string error;
    return RunScriptOnGuest(region, bucket, folder, instanceId, DownloadScript(bucket, key, destination, nonWindows),
                            std::string(), commandId, error, false);
}
