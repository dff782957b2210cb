#pragma once
// The framework's debug log. One line per call, appended to
// <base>/Log/agent.log: time, pid, thread id, level, [tag] and the message.
// Debug and Error lines are always written; DebugLvl lines only when their
// level is at most the configured level ("Base" / nDebugLevel, default 2).
#include <functional>
#include <string>

#include "framework/FrameworkApi.h"

class FW_API EvDebug {
public:
    static void Debug(const char* tag, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    static void Error(const char* tag, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    static void DebugLvl(const char* tag, int level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

    static bool IsLevelEnabled(int level);
    // Re-reads the level and the log path (after the base folder or the
    // settings changed).
    static void Reload();
    static std::string LogFilePath();

    // Observer of every written line, for tests and the host program.
    // level: 0 for Error, 1 for Debug, n for DebugLvl(n).
    using Tap = std::function<void(int level, const std::string& tag, const std::string& message)>;
    static void SetTap(Tap tap);
};
