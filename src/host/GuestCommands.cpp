// guest-browse, guest-restore and guest-run: guest file operations of a
// running instance through the plug-in, as the framework's guest file
// restore drives them.
#include "host/GuestCommands.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "framework/FileUtils.h"
#include "host/ConnectCommand.h"
#include "host/StopSignals.h"

namespace {

void PrintError(CVMInfo& plugin, const std::string& what) {
    std::fprintf(stderr, "error: %s (error %d): %s\n", what.c_str(), plugin.GetLastVMError(),
                 plugin.GetLastVMErrorDetails().c_str());
}

std::string Time(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

std::string Name(const GuestCtx& ctx) { return ctx.vm.name.empty() ? ctx.vm.guid : ctx.vm.name; }

int Browse(CVMInfo& plugin, const GuestCtx& ctx, const std::string& path) {
    std::vector<VMInfoStructs::SGuestFile> files;
    if (!plugin.BrowseGuest(ctx, path, files)) {
        PrintError(plugin, "cannot list " + (path.empty() ? std::string("the root") : path) + " in " + ctx.vm.guid);
        return 1;
    }
    std::printf("%s (%s) %s: %zu entries\n", ctx.vm.guid.c_str(), Name(ctx).c_str(),
                path.empty() ? "root" : path.c_str(), files.size());
    for (const auto& f : files) {
        if (f.isFolder)
            std::printf("  d %14s  %19s  %s\n", "", f.modifiedTime ? Time(f.modifiedTime).c_str() : "", f.name.c_str());
        else
            std::printf("  - %14lld  %19s  %s\n", static_cast<long long>(f.size), Time(f.modifiedTime).c_str(),
                        f.name.c_str());
    }
    return 0;
}

std::string GuestParent(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos || cut == 0 ? path.substr(0, cut == 0 ? 1 : 0) : path.substr(0, cut);
}

int Restore(CVMInfo& plugin, const GuestCtx& ctx, const std::string& file, const std::string& to) {
    // The framework makes the destination's folder first (the plug-in's
    // download makes what it needs, so this does nothing there).
    if (!plugin.CreateGuestFolder(ctx, GuestParent(to))) {
        PrintError(plugin, "cannot make the folder of " + to + " in " + ctx.vm.guid);
        return 1;
    }
    if (!plugin.CopyFileToGuest(ctx, file, to, false)) {
        PrintError(plugin, "cannot copy " + file + " to " + to + " in " + ctx.vm.guid);
        return 1;
    }
    std::string bytes;
    FwFile::ReadAll(file, bytes);
    std::printf("restored %s (%zu bytes) to %s in %s (%s)\n", file.c_str(), bytes.size(), to.c_str(),
                ctx.vm.guid.c_str(), Name(ctx).c_str());
    return 0;
}

int Run(CVMInfo& plugin, const GuestCtx& ctx, const std::string& script, int timeoutSeconds) {
    int exitCode = -1;
    if (!plugin.ExecuteScriptInGuest(ctx, script, "", "", timeoutSeconds, "", exitCode)) {
        PrintError(plugin, "the script " + script + " did not succeed in " + ctx.vm.guid);
        return 1;
    }
    std::printf("ran %s in %s (%s): exit code %d\n", script.c_str(), ctx.vm.guid.c_str(), Name(ctx).c_str(),
                exitCode);
    // Both forms of ExecuteScriptInGuest send scripts with no S3 output
    // location: what a script writes never reaches the proxy.
    std::printf("output: not returned (scripts run without an output location; exit code 0 is a success)\n");
    return 0;
}

}  // namespace

bool IsGuestCommand(const std::string& command) {
    return command == "guest-browse" || command == "guest-restore" || command == "guest-run";
}

bool ParseGuestRequest(const std::string& command, const std::map<std::string, std::string>& values,
                       const std::vector<std::string>& positional, GuestRequest& out, std::string& why) {
    auto value = [&](const char* key) {
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    };
    out.command = command;
    out.instanceId = value("instance");
    // Only the options of the command itself, besides the connect options.
    static const char* const kConnect[] = {"job", "url", "access-key", "secret-key", "admin-url", "admin-access-key",
                                           "admin-secret-key", "proxy-host", "proxy-user", "proxy-password",
                                           "job-id"};
    std::vector<std::string> own = {"instance"};
    if (command == "guest-restore") own.insert(own.end(), {"file", "to"});
    if (command == "guest-run") own.insert(own.end(), {"script", "timeout"});
    for (const auto& [key, v] : values) {
        bool known = std::find(own.begin(), own.end(), key) != own.end();
        for (const char* c : kConnect) known = known || key == c;
        if (!known) {
            why = command + " takes no option --" + key;
            return false;
        }
    }
    if (out.instanceId.empty()) {
        why = command + " needs --instance ID";
        return false;
    }
    if (command == "guest-browse") {
        if (positional.size() > 1) {
            why = "guest-browse takes one PATH at most";
            return false;
        }
        if (!positional.empty()) out.path = positional.front();
        return true;
    }
    if (!positional.empty()) {
        why = command + " takes no argument \"" + positional.front() + "\"";
        return false;
    }
    if (command == "guest-restore") {
        out.file = value("file");
        out.to = value("to");
        if (out.file.empty() || out.to.empty()) {
            why = "guest-restore needs --file LOCAL and --to GUEST-PATH";
            return false;
        }
        return true;
    }
    out.script = value("script");
    if (out.script.empty()) {
        why = "guest-run needs --script FILE";
        return false;
    }
    const std::string timeout = value("timeout");
    if (!timeout.empty()) {
        try {
            size_t used = 0;
            out.timeoutSeconds = std::stoi(timeout, &used);
            if (used != timeout.size()) out.timeoutSeconds = 0;
        } catch (const std::exception&) {
            out.timeoutSeconds = 0;
        }
        // 0 would not wait, and the exit code would be unknown.
        if (out.timeoutSeconds < 1) {
            why = "--timeout must be a number of seconds, at least 1";
            return false;
        }
    }
    return true;
}

int RunGuestCommand(PluginLoader& loader, const ConnectJob& job, const GuestRequest& request) {
    // Local files are checked before the cloud is touched.
    const std::string local = request.command == "guest-restore" ? request.file : request.script;
    std::string bytes;
    if (!local.empty() && (FwFile::IsDirectory(local) || !FwFile::ReadAll(local, bytes))) {
        std::fprintf(stderr, "error: cannot read the local file %s\n", local.c_str());
        return 1;
    }
    auto plugin = ConnectObject(loader, job);
    if (!plugin) return 1;
    GuestCtx ctx;
    if (!plugin->GetVMInfoForVM("", request.instanceId, "", 0, 0, ctx.vm) || ctx.vm.guid != request.instanceId) {
        PrintError(*plugin, "the account has no instance " + request.instanceId);
        plugin->Disconnect();
        return 1;
    }
    StopSignals signals;
    int code = 1;
    if (!plugin->PrepareGuestForFileCopy(ctx)) {
        PrintError(*plugin, "the guest of " + request.instanceId + " cannot be prepared");
    } else if (request.command == "guest-browse") {
        code = Browse(*plugin, ctx, request.path);
    } else if (request.command == "guest-restore") {
        code = Restore(*plugin, ctx, request.file, request.to);
    } else {
        code = Run(*plugin, ctx, request.script, request.timeoutSeconds);
    }
    // The job's end runs to its end even when it was stopped.
    CVMInfo::SetProcessJobCancelled(false);
    plugin->SetJobCancelled(false);
    plugin->Disconnect();
    return code;
}
