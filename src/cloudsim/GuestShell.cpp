// The guest's small PowerShell and sh: parsing with the languages' quoting,
// then the statements run one by one against the guest's file tree.
#include "cloudsim/GuestShell.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <stdexcept>
#include <vector>

#include "cloudsim/CloudState.h"

namespace cloudsim {

namespace {

struct Word {
    std::string text;
    bool quoted = false;
};

struct Statement {
    std::string raw;
    std::vector<Word> words;
};

std::string Lower(std::string t) {
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t;
}

std::string Squeeze(const std::string& t) {
    std::string out;
    for (char c : t)
        if (!std::isspace(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string Trim(const std::string& t) {
    size_t b = t.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return t.substr(b, t.find_last_not_of(" \t\r\n") - b + 1);
}

struct ParseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Splits at ';' and line ends outside strings, braces and parentheses.
// In PowerShell a single-quoted string ends at a lone quote and '' stands
// for one quote; in sh '' simply ends one string and opens the next, so the
// same scan finds the same ends.
std::vector<std::string> SplitStatements(const std::string& script) {
    std::vector<std::string> out;
    std::string cur;
    char quote = 0;
    int depth = 0;
    for (char c : script) {
        if (quote) {
            cur += c;
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') quote = c;
        if (c == '{' || c == '(') ++depth;
        if (c == '}' || c == ')') --depth;
        if (depth == 0 && (c == ';' || c == '\n')) {
            out.push_back(Trim(cur));
            cur.clear();
            continue;
        }
        cur += c;
    }
    if (quote) throw ParseError(std::string("The string is missing the terminator: ") + quote + ".");
    if (depth != 0) throw ParseError("Missing closing '}' in statement block or type definition.");
    out.push_back(Trim(cur));
    out.erase(std::remove(out.begin(), out.end(), std::string()), out.end());
    return out;
}

// Words of a command: bare text and quoted strings run together until
// unquoted white space, as command-mode arguments do.
std::vector<Word> Words(const std::string& text, bool powershell = true) {
    std::vector<Word> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        if (i >= text.size()) break;
        Word w;
        while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) {
            char c = text[i];
            if (c == '\'' || c == '"') {
                w.quoted = true;
                ++i;
                for (;;) {
                    if (i >= text.size()) throw ParseError(std::string("The string is missing the terminator: ") + c + ".");
                    if (text[i] == c) {
                        if (powershell && i + 1 < text.size() && text[i + 1] == c) {  // doubled: one quote
                            w.text += c;
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    w.text += text[i++];
                }
            } else {
                w.text += c;
                ++i;
            }
        }
        words.push_back(w);
    }
    return words;
}

const char kDriveLetters[] = "get-volume | %{ if ($_.DriveLetter) {$_.DriveLetter+':'} }";
const char kListingBody[] =
    "{ $isDir =  $_.GetType().name -eq 'DirectoryInfo'; $len = if ($isDir) {0} else {$_.length};"
    "$LMT=([DateTimeOffset]($_.LastWriteTime)).ToUnixTimeSeconds();Write-Host $_.name,$len,$isDir,$LMT -separator ','}";

// The children of a folder, with the folders that files imply.
struct Entry {
    std::string path;
    bool folder = true;
    int64_t size = 0;
    int64_t modifiedSec = 0;
};

class Runner {
public:
    Runner(State& s, Guest& g, const Instance& inst, bool powershell, int64_t nowSec)
        : m_state(s), m_guest(g), m_inst(inst), m_ps(powershell), m_now(nowSec),
          m_windows(inst.platform == "windows"), m_eol(m_windows ? "\r\n" : "\n") {}

    ShellResult Run(const std::string& script) {
        std::vector<Statement> parsed;
        try {
            for (const auto& raw : SplitStatements(script)) {
                Statement st{raw, {}};
                if (Lower(raw).rfind("foreach", 0) != 0 && raw.find('|') == std::string::npos) st.words = Words(raw, m_ps);
                parsed.push_back(st);
            }
        } catch (const ParseError& e) {
            m_result.err = (m_ps ? std::string("ParserError: ") : std::string("sh: 1: Syntax error: ")) + e.what() + m_eol;
            m_result.exitCode = m_ps ? 1 : 2;
            return m_result;
        }
        for (const auto& st : parsed) {
            if (m_exited) break;
            if (m_ps) Power(st);
            else Shell(st);
        }
        if (!m_exited && m_ps) m_result.exitCode = m_failed ? 1 : 0;
        return m_result;
    }

private:
    void Out(const std::string& line) { m_result.out += line + m_eol; }
    void Error(const std::string& line) {
        m_result.err += line + m_eol;
        m_failed = true;
    }
    void NotFoundPath(const std::string& cmd, const std::string& path) {
        Error(cmd + " : Cannot find path '" + path + "' because it does not exist.");
    }

    // A path as the guest resolves it: a drive alone is that drive's current
    // folder (run-command starts in C:\Windows\system32).
    std::string Resolve(const std::string& given) const {
        if (m_windows && given.size() == 2 && given[1] == ':') {
            if (std::toupper(static_cast<unsigned char>(given[0])) == 'C') return "C:\\Windows\\system32";
            return NormaliseGuestPath(given, true);
        }
        return NormaliseGuestPath(given, m_windows);
    }

    std::map<std::string, Entry> All() const {
        std::map<std::string, Entry> all;
        for (const auto& f : m_guest.files) {
            std::string p = NormaliseGuestPath(f.path, m_windows);
            all[p] = {p, f.folder, f.folder ? 0 : static_cast<int64_t>(f.data.size()), f.modifiedSec};
            for (std::string up = GuestParent(p, m_windows); !up.empty(); up = GuestParent(up, m_windows)) {
                if (!all.count(up)) all[up] = {up, true, 0, 0};
                if (IsGuestRoot(up, m_windows)) break;
            }
        }
        return all;
    }

    bool Exists(const std::string& path, Entry* found = nullptr) const {
        auto all = All();
        auto it = all.find(path);
        if (it == all.end()) return false;
        if (found) *found = it->second;
        return true;
    }

    bool Under(const std::string& p, const std::string& folder) const {
        std::string prefix = IsGuestRoot(folder, m_windows) ? folder : folder + (m_windows ? "\\" : "/");
        return p.size() > prefix.size() && p.compare(0, prefix.size(), prefix) == 0;
    }

    // name -> value of "-Name value" pairs; positional words under "".
    static std::map<std::string, std::vector<std::string>> Args(const std::vector<Word>& w) {
        std::map<std::string, std::vector<std::string>> args;
        for (size_t i = 1; i < w.size(); ++i) {
            if (!w[i].quoted && w[i].text.size() > 1 && w[i].text[0] == '-') {
                std::string name = Lower(w[i].text.substr(1));
                if (name == "recurse" || name == "force") args[name];
                else if (i + 1 < w.size()) args[name].push_back(w[++i].text);
                else args[name];
            } else {
                args[""].push_back(w[i].text);
            }
        }
        return args;
    }
    static std::string One(const std::map<std::string, std::vector<std::string>>& a, const std::string& name) {
        auto it = a.find(name);
        return it == a.end() || it->second.empty() ? std::string() : it->second.front();
    }
    static std::string PathArg(const std::map<std::string, std::vector<std::string>>& a) {
        for (const char* n : {"literalpath", "path", ""}) {
            std::string v = One(a, n);
            if (!v.empty()) return v;
        }
        return {};
    }

    void Unknown(const std::string& name) {
        Error(name + " : The term '" + name +
              "' is not recognized as the name of a cmdlet, function, script file, or operable program. Check the "
              "spelling of the name, or if a path was included, verify that the path is correct and try again.");
    }

    void Power(const Statement& st) {
        if (Squeeze(st.raw) == Squeeze(kDriveLetters)) return Drives(st.raw);
        if (Lower(st.raw).rfind("foreach", 0) == 0) return Listing(st.raw);
        if (st.raw.find('|') != std::string::npos) return Unknown(Trim(st.raw.substr(0, st.raw.find_first_of(" |"))));
        const auto& w = st.words;
        std::string cmd = Lower(w[0].text);
        auto args = Args(w);
        if (cmd == "$psversiontable.psversion") {
            Out("");
            Out("Major  Minor  Build  Revision");
            Out("-----  -----  -----  --------");
            Out(m_windows ? "5      1      17763  1" : "7      2      0      -1");
            return;
        }
        if (cmd == "echo" || cmd == "write-output" || cmd == "write-host") {
            std::string line;
            for (size_t i = 1; i < w.size(); ++i) line += (i > 1 ? " " : "") + w[i].text;
            return Out(line);
        }
        if (cmd == "import-module") {
            std::string name = PathArg(args);
            std::string expected = m_windows ? "awspowershell" : "awspowershell.netcore";
            if (!m_guest.awsModule || Lower(name) != expected)
                Error("Import-Module : The specified module '" + name +
                      "' was not loaded because no valid module file was found in any module directory.");
            return;
        }
        if (cmd == "start-sleep") return;   // its time is taken before the command completes
        if (cmd == "exit") {
            m_result.exitCode = w.size() > 1 ? std::atoi(w[1].text.c_str()) : 0;
            m_exited = true;
            return;
        }
        if (cmd == "remove-item") return Remove(args);
        if (cmd == "read-s3object" && m_guest.awsModule) return Download(args);
        Unknown(w[0].text);
    }

    void Shell(const Statement& st) {
        const auto& w = st.words;
        std::string cmd = w[0].text;
        if (cmd == "echo") {
            std::string line;
            for (size_t i = 1; i < w.size(); ++i) line += (i > 1 ? " " : "") + w[i].text;
            Out(line);
            m_result.exitCode = 0;
        } else if (cmd == "sleep" || cmd == "true") {
            m_result.exitCode = 0;
        } else if (cmd == "exit") {
            m_result.exitCode = w.size() > 1 ? std::atoi(w[1].text.c_str()) : m_result.exitCode;
            m_exited = true;
        } else {
            m_result.err += "sh: 1: " + cmd + ": not found" + m_eol;
            m_result.exitCode = 127;
        }
    }

    void Drives(const std::string& raw) {
        if (!m_windows) return Unknown(Trim(raw.substr(0, raw.find(' '))));
        std::vector<std::string> drives;
        for (const auto& [p, e] : All())
            if (IsGuestRoot(p, true)) drives.push_back(p.substr(0, 2));
        for (const auto& d : drives) Out(d);
    }

    void Listing(const std::string& raw) {
        size_t open = raw.find('(');
        size_t close = std::string::npos;
        char quote = 0;
        for (size_t i = open + 1, depth = 1; open != std::string::npos && i < raw.size(); ++i) {
            char c = raw[i];
            if (quote) { if (c == quote) quote = 0; continue; }
            if (c == '\'' || c == '"') quote = c;
            else if (c == '(') ++depth;
            else if (c == ')' && --depth == 0) { close = i; break; }
        }
        if (close == std::string::npos) return Error("ParserError: Missing closing ')' after expression.");
        std::vector<Word> head = Words(raw.substr(open + 1, close - open - 1));
        if (head.size() < 4 || head[0].text != "$_" || Lower(head[1].text) != "in" ||
            Lower(head[2].text) != "get-childitem" || Squeeze(raw.substr(close + 1)) != Squeeze(kListingBody))
            return Unknown("foreach");
        std::vector<Word> call(head.begin() + 2, head.end());
        std::string given = PathArg(Args(call));
        std::string path = Resolve(given);
        Entry self;
        if (path.empty() || !Exists(path, &self)) return NotFoundPath("get-childitem", given);
        auto line = [&](const Entry& e) {
            Out(GuestLeaf(e.path, m_windows) + "," + std::to_string(e.folder ? 0 : e.size) + "," +
                (e.folder ? "True" : "False") + "," + std::to_string(e.modifiedSec));
        };
        if (!self.folder) return line(self);
        for (const auto& [p, e] : All())
            if (GuestParent(p, m_windows) == path && p != path) line(e);
    }

    void Remove(const std::map<std::string, std::vector<std::string>>& args) {
        std::string given = PathArg(args);
        std::string path = Resolve(given);
        Entry self;
        if (path.empty() || !Exists(path, &self)) return NotFoundPath("Remove-Item", given);
        auto& files = m_guest.files;
        bool hasChildren = false;
        for (const auto& [p, e] : All()) hasChildren |= Under(p, path);
        if (hasChildren && !args.count("recurse"))
            return Error("Remove-Item : The item at " + given +
                         " has children and the Recurse parameter was not specified.");
        files.erase(std::remove_if(files.begin(), files.end(),
                                   [&](const GuestFile& f) {
                                       std::string p = NormaliseGuestPath(f.path, m_windows);
                                       return p == path || Under(p, path);
                                   }),
                    files.end());
    }

    void Download(const std::map<std::string, std::vector<std::string>>& args) {
        std::string bucket = One(args, "bucketname"), key = One(args, "key"), given = One(args, "file");
        auto b = m_state.buckets.find(bucket);
        if (b == m_state.buckets.end()) return Error("Read-S3Object : The specified bucket does not exist");
        if (!CanUseBucket(m_state, b->second, m_inst.account)) return Error("Read-S3Object : Access Denied");
        const S3Object* o = FindObject(m_state, bucket, key);
        if (!o) return Error("Read-S3Object : The specified key does not exist.");
        std::string path = Resolve(given);
        Entry self;
        if (path.empty() || IsGuestRoot(path, m_windows)) return Error("Read-S3Object : Could not find a part of the path '" + given + "'.");
        if (Exists(path, &self) && self.folder)
            return Error("Read-S3Object : Access to the path '" + given + "' is denied.");
        std::string data = o->data;
        auto& files = m_guest.files;
        files.erase(std::remove_if(files.begin(), files.end(),
                                   [&](const GuestFile& f) { return NormaliseGuestPath(f.path, m_windows) == path; }),
                    files.end());
        files.push_back({path, false, data, m_now});
        Out(GuestLeaf(path, m_windows));
    }

    State& m_state;
    Guest& m_guest;
    const Instance& m_inst;
    bool m_ps;
    int64_t m_now;
    bool m_windows;
    std::string m_eol;
    ShellResult m_result;
    bool m_failed = false;
    bool m_exited = false;
};

}  // namespace

ShellResult RunGuestScript(State& s, const std::string& instanceId, const std::string& script, bool powershell,
                           int64_t nowSec) {
    Guest& g = s.guests.at(instanceId);
    return Runner(s, g, s.instances.at(instanceId), powershell, nowSec).Run(script);
}

int64_t ScriptSleepSeconds(const std::string& script) {
    int64_t total = 0;
    try {
        for (const auto& raw : SplitStatements(script)) {
            if (Lower(raw).rfind("foreach", 0) == 0 || raw.find('|') != std::string::npos) continue;
            auto w = Words(raw);
            std::string cmd = Lower(w[0].text);
            if (cmd != "start-sleep" && cmd != "sleep") continue;
            for (size_t i = 1; i < w.size(); ++i)
                if (!w[i].text.empty() && std::isdigit(static_cast<unsigned char>(w[i].text[0])))
                    total += std::atoll(w[i].text.c_str());
        }
    } catch (const ParseError&) {
    }
    return total;
}

}  // namespace cloudsim
