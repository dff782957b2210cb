// S3: the admin account's buckets and the objects the plug-in leaves there.
#include <algorithm>
#include <fstream>
#include <sstream>

#include "bridge/BridgeImpl.h"

using namespace bridgeimpl;
using cloudsim::State;

bool SimBackend::DeleteFolder(const std::string& bucket, const std::string&, const std::string& folder,
                                    bool recursive) {
    Impl& d = *m_impl;
    return d.Run("DeleteFolder", true, [&](std::string& error) {
        int deleted = 0;
        bool ok = d.Change([&](State& s) {
            if (!cloudsim::UsableBucket(s, bucket, d.accountId, error)) return false;
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

bool SimBackend::GetBucketLocation(const std::string& bucket, std::string& location) {
    Impl& d = *m_impl;
    return d.Run("GetBucketLocation", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            const cloudsim::Bucket* b = cloudsim::UsableBucket(s, bucket, d.accountId, error);
            if (!b) return false;
            location = b->region;
            return true;
        });
    });
}

bool SimBackend::GetBucketOwner(const std::string& bucket, std::string& ownerCanonicalId) {
    Impl& d = *m_impl;
    return d.Run("GetBucketOwner", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            const cloudsim::Bucket* b = cloudsim::UsableBucket(s, bucket, d.accountId, error);
            if (!b) return false;
            const cloudsim::Account* owner = s.FindAccount(b->account);
            ownerCanonicalId = owner ? owner->canonicalId : std::string();
            return true;
        });
    });
}

bool SimBackend::CreateBucket(const std::string& bucket, const std::string& region) {
    Impl& d = *m_impl;
    return d.Run("CreateBucket", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            return cloudsim::CreateBucket(s, bucket, d.accountId, where, error);
        });
    });
}

bool SimBackend::ShareBucket(const std::string& bucket, const std::string&, const std::string& canonicalId) {
    Impl& d = *m_impl;
    return d.Run("ShareBucket", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            return cloudsim::GrantBucket(s, bucket, d.accountId, canonicalId, error);
        });
    });
}

bool SimBackend::UploadFileToS3(const std::string& bucket, const std::string&, const std::string& key,
                                      const std::string& localFile) {
    Impl& d = *m_impl;
    return d.Run("UploadFileToS3", true, [&](std::string& error) {
        std::ifstream in(localFile, std::ios::binary);
        if (!in) return Err(error, "FileNotFound: cannot open " + localFile);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        if (in.bad()) return Err(error, "IOError: cannot read " + localFile);
        return d.Change(
            [&](State& s) { return cloudsim::UploadObject(s, bucket, d.accountId, key, bytes.str(), error); });
    });
}

bool SimBackend::DoesS3FileExist(const std::string& bucket, const std::string&, const std::string& key,
                                       bool& exists) {
    Impl& d = *m_impl;
    exists = false;
    return d.Run("DoesS3FileExist", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            if (!cloudsim::UsableBucket(s, bucket, d.accountId, error)) return false;
            exists = cloudsim::FindObject(s, bucket, key) != nullptr;
            return true;
        });
    });
}
