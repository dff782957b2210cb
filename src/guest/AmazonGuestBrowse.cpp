// Browsing a guest's file system: drive letters or "/" at the root, and
// folder listings parsed from the guest's comma-separated lines.
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using namespace AmazonGuest;
using AmazonGuard::Guarded;

namespace {

// The output's lines without their line ends (Windows guests end them with
// CR LF), trimmed, empty ones left out.
std::vector<std::string> Lines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        size_t b = line.find_first_not_of(" \t\r");
        if (b == std::string::npos) continue;
        lines.push_back(line.substr(b, line.find_last_not_of(" \t\r") - b + 1));
    }
    return lines;
}

std::vector<std::string> Split(const std::string& line, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : line) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

}  // namespace

int CAmazonInfo::BrowseGuest(const GuestCtx& ctx, const std::string& path,
                             std::vector<VMInfoStructs::SGuestFile>& files) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        if (!PrepareGuestForFileCopy(ctx)) return 0;
        files.clear();
        if (path.empty() || path == "\\") return BrowseGuestRoot(files) ? 1 : 0;
        return BrowseGuestFolder(path, files) ? 1 : 0;
    });
}

bool CAmazonInfo::BrowseGuestRoot(std::vector<VMInfoStructs::SGuestFile>& files) {
    if (m_guest.nonWindows) return ParseBrowseResponseUnixRoot(files);
    std::string output, error;
    if (!RunBrowseQuery(m_guest.instanceId, "", m_guest.ssmRegion, m_guest.bucket, m_guest.stagingFolder,
                        kDriveLetters, output, error))
        return false;
    return ParseBrowseResponseWinRoot(output, files);
}

bool CAmazonInfo::BrowseGuestFolder(const std::string& path, std::vector<VMInfoStructs::SGuestFile>& files) {
    // "C:" alone is the drive's current folder in PowerShell, not its root.
    const std::string folder = path == "C:" ? path + "\\" : path;
    const std::string literal = PsLiteral(folder);
    std::vector<char> command(sizeof kFolderListing + literal.size());
    std::snprintf(command.data(), command.size(), kFolderListing, literal.c_str());
    std::string output, error;
    if (!RunBrowseQuery(m_guest.instanceId, "", m_guest.ssmRegion, m_guest.bucket, m_guest.stagingFolder,
                        command.data(), output, error))
        return false;
    return ParseBrowseResponseFolder(output, files);
}

bool CAmazonInfo::ParseBrowseResponseWinRoot(const std::string& output, std::vector<VMInfoStructs::SGuestFile>& files) {
    for (const auto& line : Lines(output)) {
        VMInfoStructs::SGuestFile drive;
        drive.name = line;
        drive.path = line;
        drive.isFolder = true;
        files.push_back(drive);
    }
    return !files.empty();
}

bool CAmazonInfo::ParseBrowseResponseUnixRoot(std::vector<VMInfoStructs::SGuestFile>& files) {
    VMInfoStructs::SGuestFile root;
    root.name = "/";
    root.path = "/";
    root.isFolder = true;
    files.push_back(root);
    return true;
}

bool CAmazonInfo::ParseBrowseResponseFolder(const std::string& output, std::vector<VMInfoStructs::SGuestFile>& files) {
    const std::vector<std::string> lines = Lines(output);
    if (lines.empty()) return true;
    for (const auto& line : lines) {
        // A name with "," in it cannot be told from the fields: left out.
        const std::vector<std::string> f = Split(line, ',');
        if (f.size() != 4) continue;
        VMInfoStructs::SGuestFile file;
        file.name = f[0];
        file.size = std::strtoll(f[1].c_str(), nullptr, 10);
        file.isFolder = f[2] == "True";
        file.modifiedTime = std::strtoll(f[3].c_str(), nullptr, 10);
        files.push_back(file);
    }
    return !files.empty();
}
