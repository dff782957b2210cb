// S3: the admin account's buckets and the objects the plug-in leaves there.
#include <algorithm>
#include <cctype>
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
            auto b = s.buckets.find(bucket);
            if (b == s.buckets.end()) return Err(error, BucketNotFound());
            // Bucket names are global: another account's bucket exists but is not ours.
            if (!cloudsim::CanUseBucket(s, b->second, d.accountId)) return Err(error, cloudsim::AccessDenied());
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
            auto b = s.buckets.find(bucket);
            if (b == s.buckets.end()) return Err(error, BucketNotFound());
            if (!cloudsim::CanUseBucket(s, b->second, d.accountId)) return Err(error, cloudsim::AccessDenied());
            location = b->second.region;
            return true;
        });
    });
}

bool SimBackend::GetBucketOwner(const std::string& bucket, std::string& ownerCanonicalId) {
    Impl& d = *m_impl;
    return d.Run("GetBucketOwner", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            auto b = s.buckets.find(bucket);
            if (b == s.buckets.end()) return Err(error, BucketNotFound());
            if (!cloudsim::CanUseBucket(s, b->second, d.accountId)) return Err(error, cloudsim::AccessDenied());
            const cloudsim::Account* owner = s.FindAccount(b->second.account);
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
            auto b = s.buckets.find(bucket);
            if (b != s.buckets.end())
                return Err(error, b->second.account == d.accountId
                                      ? "BucketAlreadyOwnedByYou: Your previous request to create the named bucket "
                                        "succeeded and you already own it."
                                      : "BucketAlreadyExists: The requested bucket name is not available. The bucket "
                                        "namespace is shared by all users of the system. Please select a different "
                                        "name and try again.");
            if (bucket.size() < 3 || bucket.size() > 63) return Err(error, "InvalidBucketName: The specified bucket is not valid.");
            for (char c : bucket)
                if (!(std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) ||
                      c == '-' || c == '.'))
                    return Err(error, "InvalidBucketName: The specified bucket is not valid.");
            s.buckets[bucket] = {bucket, d.accountId, where, {}};
            return true;
        });
    });
}

bool SimBackend::ShareBucket(const std::string& bucket, const std::string&, const std::string& canonicalId) {
    Impl& d = *m_impl;
    return d.Run("ShareBucket", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            auto b = s.buckets.find(bucket);
            if (b == s.buckets.end()) return Err(error, BucketNotFound());
            // Only the owner may change a bucket's grants.
            if (b->second.account != d.accountId) return Err(error, cloudsim::AccessDenied());
            bool known = false;
            for (const auto& a : s.accounts) known |= a.canonicalId == canonicalId;
            if (!known) return Err(error, "InvalidArgument: Invalid id");
            auto& grants = b->second.grants;
            if (std::find(grants.begin(), grants.end(), canonicalId) == grants.end()) grants.push_back(canonicalId);
            return true;
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
        if (key.empty() || key.size() > 1024) return Err(error, "KeyTooLongError: Your key is too long");
        return d.Change([&](State& s) {
            auto b = s.buckets.find(bucket);
            if (b == s.buckets.end()) return Err(error, BucketNotFound());
            if (!cloudsim::CanUseBucket(s, b->second, d.accountId)) return Err(error, cloudsim::AccessDenied());
            cloudsim::PutObject(s, bucket, key, bytes.str());
            return true;
        });
    });
}

bool SimBackend::DoesS3FileExist(const std::string& bucket, const std::string&, const std::string& key,
                                       bool& exists) {
    Impl& d = *m_impl;
    exists = false;
    return d.Run("DoesS3FileExist", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            auto b = s.buckets.find(bucket);
            if (b == s.buckets.end()) return Err(error, BucketNotFound());
            if (!cloudsim::CanUseBucket(s, b->second, d.accountId)) return Err(error, cloudsim::AccessDenied());
            exists = cloudsim::FindObject(s, bucket, key) != nullptr;
            return true;
        });
    });
}
