#pragma once
// The backups of one instance kept in one folder, as the framework keeps a
// change-tracked chain: a full backup, then incrementals that hold only the
// blocks that changed. Each backup is a point: <out>/point-N/ with its
// manifest.json (see PointManifest.h) and images; <out>/chain.json lists the
// points with the change id each one produced, which the next backup is
// handed. A point counts once chain.json lists it, and chain.json lists it
// only once it is complete: a point is written as point-N.partial and
// renamed before it is listed.
//
// An incremental image is sparse and holds the point's extents; the manifest
// lists the extents, since a block written with zeros is a hole in the image
// and still part of the point.
//
// Not safe for two writers: a job holds the folder's ChainLock from before
// Load until after PublishPoint.
#include <map>
#include <string>
#include <vector>

struct ChainPoint {
    int point = 0;            // 1, 2, ...
    int level = 1;            // 1 full, 2 incremental
    std::string folder;       // "point-N", relative to the chain folder
    std::string changeId;     // what the backup produced; empty: the next one is full
};

class BackupChain {
public:
    explicit BackupChain(std::string folder) : m_folder(std::move(folder)) {}

    // No chain.json is an empty chain. False with a reason when chain.json
    // cannot be read, is not a chain file or is of a version this host does
    // not read.
    bool Load(std::string& why);

    const std::vector<ChainPoint>& Points() const { return m_points; }
    // The change id to hand the next backup: the last point's.
    std::string LastChangeId() const { return m_points.empty() ? std::string() : m_points.back().changeId; }
    const std::string& Folder() const { return m_folder; }
    // The folder the next point is published as.
    std::string NextPointFolder() const;

    // Removes what killed jobs left (partial points, point folders that
    // chain.json does not list) and creates the empty folder the next point
    // is written in. False with a reason when it cannot.
    bool BeginPoint(std::string& partialFolder, std::string& why);
    // Renames the complete point in partialFolder to NextPointFolder() and
    // lists it in chain.json. False with a reason (and the chain as it was)
    // when either step fails.
    bool PublishPoint(const std::string& partialFolder, int level, const std::string& changeId, std::string& why);

    // The snapshot each volume had in the backup that produced changeId;
    // empty when the id cannot be read.
    static std::map<std::string, std::string> PreviousSnapshots(const std::string& changeId);

    // Rebuilds every disk of a point (0: the last) from the full backup it
    // rests on and the incrementals after it, into outDir with a
    // manifest.json that cloudsim-tool verify reads. Every block read back
    // is checked against its point's checksum; a mismatch fails the rebuild
    // with the disk, the point and the block, and leaves no image behind.
    // With a job name, the rebuild's progress goes to stderr under it (see
    // Progress.h), one disk of one point at a time.
    bool RestoreImages(int point, const std::string& outDir, std::string& why,
                       const std::string& progressJob = std::string()) const;

private:
    bool Save(std::string& why) const;

    std::string m_folder;
    std::vector<ChainPoint> m_points;
};
