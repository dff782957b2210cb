// Run-command invocations: sending, cancelling, completing, and the output
// the agent leaves in S3.
#include "cloudsim/RunCommand.h"

#include <cstdio>

#include "cloudsim/CloudState.h"
#include "cloudsim/GuestShell.h"

namespace cloudsim {

using namespace schema;

const Table<Command>& CommandTable() {
    using C = Command;
    static const Table<C> table{
        {Required("id", &C::id), Member("account", &C::account), Member("region", &C::region),
         Member("instanceId", &C::instanceId), Member("document", &C::document), Member("script", &C::script),
         Member("outputBucket", &C::outputBucket), Member("outputPrefix", &C::outputPrefix),
         Member("status", &C::status), Member("sentAtMs", &C::sentAtMs), Member("readyAtMs", &C::readyAtMs),
         Member("executionTimeoutSec", &C::executionTimeoutSec), Member("exitCode", &C::exitCode),
         Member("stdout", &C::stdoutText), Member("stderr", &C::stderrText)}};
    return table;
}

void CheckCommands(const State& s) {
    for (const auto& [id, c] : s.commands)
        if (!s.instances.count(c.instanceId)) Fail("command " + id, "unknown instance '" + c.instanceId + "'");
}

bool IsFinalCommandStatus(const std::string& status) {
    return status == "Success" || status == "Failed" || status == "Cancelled" || status == "TimedOut";
}

std::string InvalidCommandId() { return "InvalidCommandId: "; }

namespace {

std::string NewCommandId(State& s) {
    std::string a = s.NewId("x").substr(2), b = s.NewId("x").substr(2);
    std::string hex = (a + b).substr(2, 32);
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20, 12);
}

std::string StepName(const Command& c) {
    return c.document == "AWS-RunShellScript" ? "awsrunShellScript" : "awsrunPowerShellScript";
}

void WriteOutput(State& s, const Command& c) {
    if (c.outputBucket.empty()) return;
    auto b = s.buckets.find(c.outputBucket);
    // The agent writes with the instance's own rights; output it cannot
    // write is lost, the command's result stands.
    if (b == s.buckets.end() || !CanUseBucket(s, b->second, c.account)) return;
    PutObject(s, c.outputBucket, CommandOutputKey(c, "stdout"), c.stdoutText);
    if (!c.stderrText.empty()) PutObject(s, c.outputBucket, CommandOutputKey(c, "stderr"), c.stderrText);
}

// Runs at the command's completion time whenever the state is settled, so
// a reader's settled copy and the committed state agree.
void Complete(State& s, Command& c) {
    bool windows = IsWindowsGuest(s, c.instanceId);
    const Guest& g = s.guests.at(c.instanceId);
    if (c.document == "AWS-RunPowerShellScript" && !windows && !g.powershell) {
        c.stderrText = "failed to run commands: exec: \"pwsh\": executable file not found in $PATH\n";
        c.exitCode = 1;
    } else {
        ShellResult r = RunGuestScript(s, c.instanceId, c.script, c.document == "AWS-RunPowerShellScript",
                                       c.readyAtMs / 1000);
        c.stdoutText = r.out;
        c.stderrText = r.err;
        c.exitCode = r.exitCode;
    }
    c.status = c.exitCode == 0 ? "Success" : "Failed";
    WriteOutput(s, c);
}

}  // namespace

std::string CommandOutputKey(const Command& c, const std::string& stream) {
    std::string step = StepName(c);
    std::string prefix = c.outputPrefix;
    if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    return prefix + c.id + "/" + c.instanceId + "/" + step + "/0." + step + "/" + stream;
}

bool SendCommand(State& s, Command& c, int64_t nowMs, std::string& error) {
    auto inst = s.instances.find(c.instanceId);
    auto guest = s.guests.find(c.instanceId);
    if (inst == s.instances.end() || inst->second.account != c.account || inst->second.region != c.region ||
        inst->second.state != "running" || guest == s.guests.end() || !guest->second.ssmAgent) {
        error = "InvalidInstanceId: Instances [[" + c.instanceId + "]] not in a valid state for account " + c.account;
        return false;
    }
    if (c.document != "AWS-RunPowerShellScript" && c.document != "AWS-RunShellScript") {
        error = "InvalidDocument: Document with name " + c.document + " does not exist.";
        return false;
    }
    if (!c.outputBucket.empty() && !s.buckets.count(c.outputBucket)) {
        error = "InvalidOutputLocation: The S3 bucket " + c.outputBucket + " does not exist.";
        return false;
    }
    c.id = NewCommandId(s);
    c.status = "InProgress";
    c.sentAtMs = nowMs;
    c.readyAtMs = nowMs + s.timing.commandMs + ScriptSleepSeconds(c.script) * 1000;
    s.commands[c.id] = c;
    return true;
}

bool CancelCommand(State& s, const std::string& account, const std::string& region, const std::string& id,
                   std::string& error) {
    auto it = s.commands.find(id);
    if (it == s.commands.end() || it->second.account != account || it->second.region != region) {
        error = InvalidCommandId();
        return false;
    }
    if (!IsFinalCommandStatus(it->second.status)) it->second.status = "Cancelled";
    return true;
}

bool CheckCommandComment(const std::string& comment, std::string& error) {
    if (comment.size() <= 100) return true;
    error = "ValidationException: Comment must be at most 100 characters";
    return false;
}

const Command* FindCommand(const State& s, const std::string& account, const std::string& region,
                           const std::string& id, std::string& error) {
    auto it = s.commands.find(id);
    if (it != s.commands.end() && it->second.account == account && it->second.region == region) return &it->second;
    error = "InvocationDoesNotExist: ";
    return nullptr;
}

void SettleCommands(State& s, int64_t nowMs) {
    for (auto& [id, c] : s.commands) {
        if (IsFinalCommandStatus(c.status)) continue;
        int64_t deadline = c.sentAtMs + c.executionTimeoutSec * 1000;
        if (c.readyAtMs > deadline && nowMs >= deadline) {
            c.status = "TimedOut";
            c.exitCode = -1;
            WriteOutput(s, c);
        } else if (nowMs >= c.readyAtMs && c.readyAtMs <= deadline) {
            Complete(s, c);
        }
    }
}

}  // namespace cloudsim
