#include "framework/KDPlatformInfo.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <mutex>
#include <sstream>

#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/Locks.h"

namespace {

const char* const kTag = "KDPlatformInfo";

std::string Trim(const std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool IsComment(const std::string& trimmed) { return trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';'; }

// "[Name]" -> Name; false for anything else.
bool SectionHeader(const std::string& trimmed, std::string& name) {
    if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']') return false;
    name = Trim(trimmed.substr(1, trimmed.size() - 2));
    return true;
}

bool KeyValue(const std::string& trimmed, std::string& key, std::string& value) {
    size_t eq = trimmed.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(trimmed.substr(0, eq));
    value = Trim(trimmed.substr(eq + 1));
    return !key.empty();
}

bool ParseWholeNumber(const std::string& raw, long long& out) {
    std::string text = Trim(raw);
    const char* b = text.data();
    const char* e = b + text.size();
    // from_chars takes '-' but not '+'; a lone sign is still malformed.
    if (b != e && *b == '+') {
        ++b;
        if (b != e && *b == '-') return false;
    }
    if (b == e) return false;
    long long v = 0;
    auto res = std::from_chars(b, e, v, 10);
    if (res.ec != std::errc() || res.ptr != e) return false;
    out = v;
    return true;
}

void LogMalformed(const std::string& section, const std::string& key, const std::string& value, const char* what) {
    EvDebug::Error(kTag, "Setting [%s] %s has malformed value [%s] (expected %s); ignored", section.c_str(),
                   key.c_str(), value.c_str(), what);
}

// Two threads of one process serialise here; the named mutex adds other
// processes. Both are needed: each writer reads, edits and replaces the whole
// file, so an unguarded pair would lose one of the two edits.
std::mutex& WriterMutex() {
    static std::mutex* m = new std::mutex();
    return *m;
}

bool ValidName(const std::string& s) {
    return !s.empty() && s == Trim(s) && s.find_first_of("\r\n") == std::string::npos;
}

// Edits the settings text: sets key to *value, or removes it when value is
// null. Comments, other keys and their order are kept.
std::string Edit(const std::string& text, const std::string& section, const std::string& key,
                 const std::string* value) {
    std::vector<std::string> lines = SplitLines(text);
    std::vector<std::string> out;
    std::string current;
    bool inSection = section.empty();
    bool sectionSeen = section.empty();
    bool written = false;
    size_t insertAt = 0;   // after the last key line of the last block of the section
    bool haveInsertAt = false;
    for (const std::string& line : lines) {
        std::string t = Trim(line);
        std::string name;
        std::string k;
        std::string v;
        if (SectionHeader(t, name)) {
            inSection = name == section;
            if (inSection) {
                sectionSeen = true;
                insertAt = out.size() + 1;
                haveInsertAt = true;
            }
        } else if (inSection && !IsComment(t) && KeyValue(t, k, v)) {
            if (k == key) {
                // Every copy of the key gets the new value so no older one
                // is read by a more lenient parser.
                if (value) {
                    out.push_back(key + "=" + *value);
                    written = true;
                    insertAt = out.size();
                }
                continue;
            }
            insertAt = out.size() + 1;
            haveInsertAt = true;
        }
        out.push_back(line);
    }
    if (value && !written) {
        std::string entry = key + "=" + *value;
        if (sectionSeen && (haveInsertAt || section.empty())) {
            out.insert(out.begin() + static_cast<std::ptrdiff_t>(haveInsertAt ? insertAt : 0), entry);
        } else {
            if (!out.empty() && !Trim(out.back()).empty()) out.push_back("");
            out.push_back("[" + section + "]");
            out.push_back(entry);
        }
    }
    std::string result;
    for (const std::string& line : out) result += line + "\n";
    return result;
}

bool Rewrite(const std::string& section, const std::string& key, const std::string* value) {
    if (!ValidName(key) || key.find('=') != std::string::npos || key[0] == '[' || IsComment(key)) return false;
    if (section.find_first_of("]\r\n") != std::string::npos || section != Trim(section)) return false;
    if (value && value->find_first_of("\r\n") != std::string::npos) return false;
    try {
        std::lock_guard<std::mutex> threads(WriterMutex());
        std::string path = KDPlatformInfo::settingsFilePath();
        FwFile::MakeDirs(KDPI_Base::getBaseDir());
        NamedMutex processes("settings");
        if (!processes.Lock()) {
            EvDebug::Error(kTag, "Cannot lock the settings file [%s] for writing", path.c_str());
            return false;
        }
        std::string text;
        if (FwFile::Exists(path) && !FwFile::ReadAll(path, text)) {
            EvDebug::Error(kTag, "Cannot read the settings file [%s]", path.c_str());
            return false;
        }
        std::string edited = Edit(text, section, key, value);
        if (edited == text) return true;
        if (!FwFile::WriteAllAtomic(path, edited)) {
            EvDebug::Error(kTag, "Cannot write the settings file [%s]", path.c_str());
            return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

KDPlatformInfo::KDPlatformInfo() : m_focus(KDPI_Focus::getFocus()) {
    std::string text;
    if (!FwFile::ReadAll(settingsFilePath(), text)) return;
    std::string section;
    for (const std::string& line : SplitLines(text)) {
        std::string t = Trim(line);
        std::string name;
        std::string key;
        std::string value;
        if (IsComment(t)) continue;
        if (SectionHeader(t, name)) {
            section = name;
        } else if (KeyValue(t, key, value)) {
            m_values[section][key] = value;  // a later duplicate wins
        }
    }
}

bool KDPlatformInfo::find(const std::string& section, const std::string& key, std::string& value) const {
    auto s = m_values.find(section);
    if (s == m_values.end()) return false;
    auto k = s->second.find(key);
    if (k == s->second.end()) return false;
    value = k->second;
    return true;
}

int KDPlatformInfo::getBoolean(const std::string& section, const std::string& key, bool& out) const {
    std::string raw;
    if (!find(section, key, raw)) return 0;
    std::string v = Lower(raw);
    if (v == "true" || v == "yes" || v == "1" || v == "on") {
        out = true;
        return 1;
    }
    if (v == "false" || v == "no" || v == "0" || v == "off") {
        out = false;
        return 1;
    }
    LogMalformed(section, key, raw, "a boolean");
    return 0;
}

int KDPlatformInfo::getNumber(const std::string& section, const std::string& key, int& out) const {
    std::string raw;
    if (!find(section, key, raw)) return 0;
    long long v = 0;
    if (!ParseWholeNumber(raw, v) || v < INT_MIN || v > INT_MAX) {
        LogMalformed(section, key, raw, "a whole number within int range");
        return 0;
    }
    out = static_cast<int>(v);
    return 1;
}

int KDPlatformInfo::getNumber(const std::string& section, const std::string& key, long long& out) const {
    std::string raw;
    if (!find(section, key, raw)) return 0;
    long long v = 0;
    if (!ParseWholeNumber(raw, v)) {
        LogMalformed(section, key, raw, "a whole number");
        return 0;
    }
    out = v;
    return 1;
}

int KDPlatformInfo::getString(const std::string& section, const std::string& key, std::string& out) const {
    if (find(section, key, out)) return 1;
    if (section == "Base" && key == "dBASEHOME") {
        // The host knows its base folder even when nobody wrote it down.
        out = KDPI_Base::getBaseDir();
        return 1;
    }
    return 0;
}

int KDPlatformInfo::getStringList(const std::string& section, const std::string& key,
                                  std::vector<std::string>& out) const {
    std::string raw;
    if (!find(section, key, raw)) return 0;
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= raw.size()) {
        size_t comma = raw.find(',', start);
        if (comma == std::string::npos) comma = raw.size();
        std::string item = Trim(raw.substr(start, comma - start));
        if (!item.empty()) items.push_back(item);
        start = comma + 1;
    }
    out = std::move(items);
    return 1;
}

bool KDPlatformInfo::setValue(const std::string& section, const std::string& key, const std::string& value) {
    return Rewrite(section, key, &value);
}

bool KDPlatformInfo::removeValue(const std::string& section, const std::string& key) {
    return Rewrite(section, key, nullptr);
}

std::string KDPlatformInfo::settingsFilePath() {
    return FwFile::JoinPath(KDPI_Base::getBaseDir(), "settings.ini");
}
