#pragma once
// A folder cloud's block maps, kept beside its state document rather than in
// it: <folder>/maps/<name>, one immutable file per stored map, which the
// state names ("blockMap": "<name>"). The state document then stays small
// however many blocks the volumes hold, and a commit writes only the maps
// that changed since they were last stored; a reload reads only the maps it
// has not seen, since a name always stands for the same entries.
//
// Crash safety follows the block store's: a map file is complete and renamed
// into place before the state that names it is committed, and files no
// committed state names are removed by a later commit.
//
// Used by one Cloud object under its transaction lock; the exclusive lock
// for Store and Collect.
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "cloudsim/BlockMap.h"

namespace cloudsim {

class MapFiles {
public:
    explicit MapFiles(std::string folder);

    // The map's file name, writing the file first when the map has none yet.
    // generation is the one being committed, which makes new names unique.
    std::string Store(const BlockMap& map, int64_t generation);
    // The map stored under name (read from its file, or the copy already held).
    BlockMap Load(const std::string& name);
    // Forgets the copies held of maps the state last written or read does
    // not name. Collect also removes their files: only after a commit, under
    // the exclusive lock, when no other process can be reading an older state.
    void Forget();
    void Collect();
    // Starts the set of names the state being written or read refers to.
    void BeginState() { m_named.clear(); }

    const std::string& Folder() const { return m_folder; }

    // While a scope is alive, state JSON on this thread stores and resolves
    // block maps through files (see BlocksField in BlockData.h).
    class Scope {
    public:
        Scope(MapFiles& files, int64_t generation);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
    };
    // The files of the innermost scope on this thread, and its generation; null outside one.
    static MapFiles* Current(int64_t* generation = nullptr);

private:
    std::string m_folder;
    std::map<std::string, BlockMap> m_held;   // by name: maps the latest state names
    std::set<std::string> m_named;            // names the state being written or read uses
    int64_t m_counter = 0;   // names handed out by this object
};

}  // namespace cloudsim
