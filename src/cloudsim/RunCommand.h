#pragma once
// Systems Manager run-command: one invocation per command (one instance
// each), its status as GetCommandInvocation reports it, and the output the
// agent writes to S3 under OutputS3KeyPrefix/<commandId>/<instanceId>/
// <step>/stdout (and stderr). A command runs when it completes: its effects
// on the guest and its output appear together, after timing.commandMs plus
// its Start-Sleep seconds; a command cancelled before that has no effect.
#include <cstdint>
#include <string>

#include "cloudsim/Schema.h"

namespace cloudsim {

struct State;

struct Command {
    std::string id;                      // a UUID, as SSM gives
    std::string account;
    std::string region;
    std::string instanceId;
    std::string document;                // "AWS-RunPowerShellScript" or "AWS-RunShellScript"
    std::string script;
    std::string outputBucket;            // empty: no S3 output
    std::string outputPrefix;
    // Pending, InProgress, Success, Failed, Cancelled, TimedOut
    std::string status = "InProgress";
    int64_t sentAtMs = 0;
    int64_t readyAtMs = 0;               // when it completes, unless it times out first
    int64_t executionTimeoutSec = 3600;
    int exitCode = -1;
    std::string stdoutText;
    std::string stderrText;
};

const schema::Table<Command>& CommandTable();
void CheckCommands(const State& s);

// SendCommand for one instance of account in region: the instance must be
// running there with a registered agent ("InvalidInstanceId: Instances
// [[<id>]] not in a valid state for account <account>"). Sets id.
bool SendCommand(State& s, Command& command, int64_t nowMs, std::string& error);
// Cancelling a command that already finished changes nothing.
bool CancelCommand(State& s, const std::string& account, const std::string& region, const std::string& id,
                   std::string& error);
// SendCommand's Comment: at most 100 characters.
bool CheckCommandComment(const std::string& comment, std::string& error);
// GetCommandInvocation: account's command in region; null with SSM's text otherwise.
const Command* FindCommand(const State& s, const std::string& account, const std::string& region,
                           const std::string& id, std::string& error);
void SettleCommands(State& s, int64_t nowMs);
// The S3 key of a command's stdout or stderr ("stdout"/"stderr").
std::string CommandOutputKey(const Command& c, const std::string& stream);
bool IsFinalCommandStatus(const std::string& status);
std::string InvalidCommandId();

}  // namespace cloudsim
