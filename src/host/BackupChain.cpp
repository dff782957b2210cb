#include "host/BackupChain.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "framework/FileUtils.h"
#include "framework/MessageBase.h"
#include "host/VersionedJson.h"

namespace {
constexpr char kChainFile[] = "chain.json";
constexpr char kFormat[] = "BackupChain";
constexpr int kVersion = 1;
constexpr char kPartial[] = ".partial";

std::string PointFolderName(int point) { return "point-" + std::to_string(point); }

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
}  // namespace

bool BackupChain::Load(std::string& why) {
    m_points.clear();
    const std::string path = FwFile::JoinPath(m_folder, kChainFile);
    if (!FwFile::Exists(path)) return true;
    nlohmann::json j;
    if (!ReadVersioned(path, kFormat, kVersion, j, why)) return false;
    try {
        for (const auto& p : j.at("points")) {
            ChainPoint point{p.at("point").get<int>(), p.at("level").get<int>(), p.at("folder").get<std::string>(),
                             p.at("changeId").get<std::string>()};
            // Points are numbered in order and each lives in its own folder
            // of the chain: anything else would read, or rebuild over, files
            // elsewhere.
            const int expected = static_cast<int>(m_points.size()) + 1;
            if (point.point != expected || point.folder != PointFolderName(expected)) {
                why = path + ": point " + p["point"].dump() + " in folder " + p["folder"].dump() +
                      " where point " + std::to_string(expected) + " in folder \"" + PointFolderName(expected) +
                      "\" was expected";
                m_points.clear();
                return false;
            }
            m_points.push_back(std::move(point));
        }
    } catch (const std::exception& e) {
        why = path + ": " + e.what();
        m_points.clear();
        return false;
    }
    return true;
}

bool BackupChain::Save(std::string& why) const {
    nlohmann::json doc = VersionedDocument(kFormat, kVersion);
    doc["points"] = nlohmann::json::array();
    for (const auto& p : m_points)
        doc["points"].push_back({{"point", p.point}, {"level", p.level}, {"folder", p.folder}, {"changeId", p.changeId}});
    if (!FwFile::WriteAllAtomic(FwFile::JoinPath(m_folder, kChainFile), doc.dump(2) + "\n")) {
        why = "cannot write " + FwFile::JoinPath(m_folder, kChainFile);
        return false;
    }
    return true;
}

std::string BackupChain::NextPointFolder() const {
    return FwFile::JoinPath(m_folder, PointFolderName(static_cast<int>(m_points.size()) + 1));
}

bool BackupChain::BeginPoint(std::string& partialFolder, std::string& why) {
    // A job killed while writing leaves point-N.partial; one killed between
    // the rename and chain.json leaves a point-N that is not listed. Neither
    // is a point.
    std::vector<std::string> names;
    FwFile::ListDir(m_folder, names);
    for (const auto& name : names) {
        bool listed = false;
        for (const auto& p : m_points) listed = listed || p.folder == name;
        const bool stale = name.rfind("point-", 0) == 0 && (EndsWith(name, kPartial) || !listed);
        const std::string path = FwFile::JoinPath(m_folder, name);
        if (stale && FwFile::IsDirectory(path) && !FwFile::RemoveTree(path)) {
            why = "cannot remove " + path + ", left by a backup that did not finish";
            return false;
        }
    }
    partialFolder = NextPointFolder() + kPartial;
    if (!FwFile::MakeDirs(partialFolder)) {
        why = "cannot create " + partialFolder;
        return false;
    }
    return true;
}

bool BackupChain::PublishPoint(const std::string& partialFolder, int level, const std::string& changeId,
                               std::string& why) {
    const std::string folder = NextPointFolder();
    if (std::rename(partialFolder.c_str(), folder.c_str()) != 0 || !FwFile::SyncFolder(m_folder)) {
        why = "cannot publish " + partialFolder + " as " + folder;
        return false;
    }
    m_points.push_back({static_cast<int>(m_points.size()) + 1, level, folder.substr(folder.find_last_of('/') + 1),
                        changeId});
    if (!Save(why)) {
        m_points.pop_back();
        return false;
    }
    return true;
}

std::map<std::string, std::string> BackupChain::PreviousSnapshots(const std::string& changeId) {
    std::map<std::string, std::string> out;
    CNMessageBase info("VirtualServer::VMReferencePointInfo");
    if (changeId.empty() || info.Deserialize(changeId) != CNMessageBase::kOk) return out;
    for (const auto& disk : info.GetMessages(4)) out[disk.GetString(1)] = disk.GetString(2);
    return out;
}
