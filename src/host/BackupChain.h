#pragma once
// The backups of one instance kept in one folder, as the framework keeps a
// change-tracked chain: a full backup, then incrementals that hold only the
// blocks that changed. Each backup is a point: <out>/point-N/ with its
// manifest.json and images; <out>/chain.json lists the points with the
// change id each one produced, which the next backup is handed.
//
// An incremental image is sparse and holds the point's extents; the manifest
// lists the extents, since a block written with zeros is a hole in the image
// and still part of the point.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/DataMover.h"

struct ChainPoint {
    int point = 0;            // 1, 2, ...
    int level = 1;            // 1 full, 2 incremental
    std::string folder;       // "point-N", relative to the chain folder
    std::string changeId;     // what the backup produced; empty: the next one is full
};

class BackupChain {
public:
    explicit BackupChain(std::string folder) : m_folder(std::move(folder)) {}

    // False with a reason when chain.json exists but cannot be read.
    bool Load(std::string& why);
    bool Save(std::string& why) const;

    const std::vector<ChainPoint>& Points() const { return m_points; }
    // The change id to hand the next backup: the last point's.
    std::string LastChangeId() const { return m_points.empty() ? std::string() : m_points.back().changeId; }
    // The folder of the next point (created), and its entry once it is done.
    std::string NextPointFolder() const;
    void Add(const ChainPoint& point) { m_points.push_back(point); }
    const std::string& Folder() const { return m_folder; }

    // The snapshot each volume had in the backup that produced changeId;
    // empty when the id cannot be read.
    static std::map<std::string, std::string> PreviousSnapshots(const std::string& changeId);

    // Rebuilds every disk of a point (0: the last) from the full backup it
    // rests on and the incrementals after it, into outDir with a
    // manifest.json that cloudsim-tool verify reads.
    bool RestoreImages(int point, const std::string& outDir, std::string& why) const;

private:
    std::string m_folder;
    std::vector<ChainPoint> m_points;
};
