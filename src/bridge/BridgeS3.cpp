// S3: the admin account's buckets and the objects the plug-in leaves there.
#include <algorithm>

#include "bridge/BridgeImpl.h"

using namespace bridgeimpl;
using cloudsim::State;

bool CAmazonSDKBridge::DeleteFolder(const std::string& bucket, const std::string&, const std::string& folder,
                                    bool recursive) {
    Impl& d = *m_impl;
    return d.Run("DeleteFolder", true, [&](std::string& error) {
        int deleted = 0;
        bool ok = d.Change([&](State& s) {
            auto b = s.buckets.find(bucket);
            if (b == s.buckets.end()) return Err(error, BucketNotFound());
            // Bucket names are global: another account's bucket exists but is not ours.
            if (b->second.account != d.accountId) return Err(error, "AccessDenied: Access Denied");
            std::string prefix = folder;
            while (!prefix.empty() && prefix.front() == '/') prefix.erase(0, 1);
            std::string key = prefix;
            while (!key.empty() && key.back() == '/') key.pop_back();
            if (!prefix.empty() && prefix.back() != '/') prefix += '/';
            auto& objects = s.objects;
            auto doomed = [&](const cloudsim::S3Object& o) {
                if (o.bucket != bucket) return false;
                if (!key.empty() && o.key == key) return true;
                if (o.key.compare(0, prefix.size(), prefix) != 0) return false;
                // Without recursion only the folder's own objects go, not those of its sub-folders.
                return recursive || o.key.find('/', prefix.size()) == std::string::npos;
            };
            size_t before = objects.size();
            objects.erase(std::remove_if(objects.begin(), objects.end(), doomed), objects.end());
            deleted = static_cast<int>(before - objects.size());
            return true;
        });
        if (ok) EvDebug::DebugLvl(kTag, 2, "deleted %d objects under s3://%s/%s", deleted, bucket.c_str(), folder.c_str());
        return ok;
    });
}
