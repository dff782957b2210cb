#pragma once
// The agent's settings reader over <base>/settings.ini: "[Section]" headers
// followed by "key=value" lines; '#' or ';' starts a comment line. A reader
// takes a snapshot of the file when constructed ("a fresh settings reader").
//
// Every getter returns non-zero only when the key exists and its value has the
// asked type (and range); otherwise the out value is untouched, so callers
// keep their coded default. A malformed value is logged and treated as absent.
#include <map>
#include <string>
#include <vector>

#include "framework/FrameworkApi.h"

class FW_API KDPlatformInfo {
public:
    KDPlatformInfo();

    int getBoolean(const std::string& section, const std::string& key, bool& out) const;
    int getNumber(const std::string& section, const std::string& key, int& out) const;
    int getNumber(const std::string& section, const std::string& key, long long& out) const;
    int getString(const std::string& section, const std::string& key, std::string& out) const;
    // Comma-separated values, each trimmed; empty items are dropped.
    int getStringList(const std::string& section, const std::string& key, std::vector<std::string>& out) const;
    void setFocus(const std::string& focus) { m_focus = focus; }

    // Writers for the framework's own use (host program, tests): replace the
    // file atomically so that a reader never sees half a file.
    static bool setValue(const std::string& section, const std::string& key, const std::string& value);
    static bool removeValue(const std::string& section, const std::string& key);
    static std::string settingsFilePath();

private:
    bool find(const std::string& section, const std::string& key, std::string& value) const;
    std::map<std::string, std::map<std::string, std::string>> m_values;
    std::string m_focus;
};
