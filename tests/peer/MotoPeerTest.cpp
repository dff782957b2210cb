// The plug-in's EBS direct client against a server it was not written with:
// moto's, serving TLS under a throwaway CA, holding a snapshot that boto3
// uploaded. The client signs and sends its requests for the real EBS host
// name; the connect-to table takes them to moto on loopback.
//
// moto (5.2) lists the snapshot's block size as 512 where EBS says 524288,
// so the bridge hands out EBS's size with moto's block tokens. moto returns
// the checksum the uploader stated without checking it, which lets a block
// carry a checksum of other bytes.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "bridge/AmazonSDKBridge.h"
#include "cloudsim/endpoints/TestCertificates.h"
#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "support/MotoServer.h"
#include "support/TestEnv.h"

namespace {

using AmazonDirectSnapshotAccessAPI::CAmazonDirectSnapshotAccessAPIWrapper;

constexpr const char* kRegion = "us-east-1";
constexpr const char* kEbsHost = "ebs.us-east-1.amazonaws.com";
constexpr int64_t kBlockSize = 524288;   // EBS's, not moto's listed 512

// Opens the snapshot moto holds with EBS's block size (moto reports 512);
// the client lists the tokens from moto itself.
class ListedBlocksBridge : public CAmazonSDKBridge {
public:
    explicit ListedBlocksBridge(std::string snapshotId) : m_snapshotId(std::move(snapshotId)) {}

    bool GetAllocatedBlockPage(const std::string& snapshotId, const std::string& region, int,
                               VMInfoStructs::SDiskChangeInfo& info, int& blockSize) override {
        if (snapshotId != m_snapshotId || region != kRegion) return false;
        blockSize = static_cast<int>(kBlockSize);
        info.extents.clear();
        return true;
    }

private:
    std::string m_snapshotId;
};

// Empty when equal; else where the first difference is.
std::string FirstDifference(const std::string& got, const std::string& want, int64_t firstBlock) {
    if (got.size() != want.size()) return "size " + std::to_string(got.size()) + " != " + std::to_string(want.size());
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i])
            return "block " + std::to_string(firstBlock + static_cast<int64_t>(i) / kBlockSize) + " differs at byte " +
                   std::to_string(i % kBlockSize);
    return "";
}

class MotoPeer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OnPath("moto_server")) GTEST_SKIP() << "moto_server is not on PATH (pip package moto[server])";
        const std::string certFolder = FwFile::JoinPath(m_env.BaseDir(), "certs");
        m_seedFolder = FwFile::JoinPath(m_env.BaseDir(), "seed");
        ASSERT_TRUE(FwFile::MakeDirs(certFolder) && FwFile::MakeDirs(m_seedFolder));
        auto certs = cloudsim::endpoints::WriteTestCertificates(certFolder, {kEbsHost}, {"127.0.0.1"});
        ASSERT_TRUE(FwFile::WriteAllAtomic(FwFile::JoinPath(m_env.BaseDir(), "curl-ca-bundle.crt"),
                                           TestEnv::ReadFile(certs.caFile)));

        m_server = std::make_unique<MotoServer>(certs.certFile, certs.keyFile);
        ASSERT_GT(m_server->Port(), 0) << m_server->Output();
        const std::string port = std::to_string(m_server->Port());

        int status = 0;
        const std::string errFile = FwFile::JoinPath(m_seedFolder, "seed.err");
        std::string out = RunCommand(std::string("python3 '") + TEST_SOURCE_DIR + "/tests/peer/seed_moto_snapshot.py' https://127.0.0.1:" +
                                         port + " '" + certs.caFile + "' '" + m_seedFolder + "' 2>'" + errFile + "'",
                                     status);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 3) GTEST_SKIP() << "python3 cannot import boto3";
        ASSERT_EQ(status, 0) << TestEnv::ReadFile(errFile) << "\nserver:\n" << m_server->Output();
        auto seeded = nlohmann::json::parse(out);
        m_snapshotId = seeded.at("snapshotId").get<std::string>();
        m_badIndex = seeded.at("badIndex").get<int64_t>();
        m_listedBlockSize = seeded.at("blockSize").get<int64_t>();
        ASSERT_FALSE(seeded.at("blocks").empty()) << out;
        m_bridge = std::make_unique<ListedBlocksBridge>(m_snapshotId);

        TestEnv::SetSetting("Base", "sCurlConnectTo", std::string(kEbsHost) + ":443:127.0.0.1:" + port);
        ASSERT_TRUE(m_wrapper.Initialize("AKIAMOTOPEER00000001", "moto-peer-secret", m_bridge.get()));
        ASSERT_TRUE(m_wrapper.configuration().validateChecksum);
        ASSERT_TRUE(m_wrapper.FillSnapshotAccessInfo(m_snapshotId, kRegion));
    }

    // What the uploader wrote over [first, first + count) blocks: its block
    // files, zeros where it wrote nothing.
    std::string Expected(int64_t first, int64_t count) {
        std::string image(static_cast<size_t>(count * kBlockSize), '\0');
        for (int64_t i = 0; i < count; ++i) {
            std::string block;
            if (FwFile::ReadAll(FwFile::JoinPath(m_seedFolder, "block-" + std::to_string(first + i) + ".bin"), block))
                image.replace(static_cast<size_t>(i * kBlockSize), block.size(), block);
        }
        return image;
    }

    bool Read(int64_t first, int64_t count, std::string& out) {
        out.assign(static_cast<size_t>(count * kBlockSize), '\x5a');
        return m_wrapper.ReadFromSnapshot(m_snapshotId, kRegion, first * kBlockSize, count * kBlockSize,
                                          reinterpret_cast<unsigned char*>(out.data()));
    }

    TestEnv m_env;
    std::unique_ptr<MotoServer> m_server;
    std::string m_seedFolder;
    std::string m_snapshotId;
    int64_t m_badIndex = -1;
    int64_t m_listedBlockSize = 0;
    std::unique_ptr<ListedBlocksBridge> m_bridge;
    CAmazonDirectSnapshotAccessAPIWrapper m_wrapper;
};

TEST_F(MotoPeer, ReadsUploadedBlocksAndZeroGapsOnOneAndOnTwoThreads) {
    // The reason the bridge does not pass moto's listing on; should moto
    // start reporting EBS's size, the bridge could.
    EXPECT_EQ(m_listedBlockSize, 512);

    // Ranges with gaps before, between and after allocated blocks, and the
    // volume's last block; the expected image must hold both kinds.
    struct Range {
        int64_t first, count;
    };
    const std::vector<Range> ranges{{0, 11}, {2046, 2}, {0, 6}, {4, 7}};
    const std::string whole = Expected(0, 11);
    int zeroBlocks = 0;
    for (int64_t i = 0; i < 11; ++i)
        zeroBlocks += whole.compare(i * kBlockSize, kBlockSize, std::string(kBlockSize, '\0')) == 0;
    ASSERT_GT(zeroBlocks, 0);
    ASSERT_LT(zeroBlocks, 11);

    for (const auto& r : ranges) {
        std::string got;
        ASSERT_TRUE(Read(r.first, r.count, got)) << "blocks " << r.first << "+" << r.count;
        EXPECT_EQ(FirstDifference(got, Expected(r.first, r.count), r.first), "");
    }

    // Two threads, each on its own connection, reading overlapping ranges at
    // the same time.
    std::promise<void> go;
    std::shared_future<void> start = go.get_future().share();
    std::string got[2];
    bool ok[2] = {false, false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t)
        readers.emplace_back([&, t] {
            start.wait();
            ok[t] = Read(ranges[2 + t].first, ranges[2 + t].count, got[t]);
        });
    go.set_value();
    for (auto& r : readers) r.join();
    for (int t = 0; t < 2; ++t) {
        const Range& r = ranges[2 + t];
        ASSERT_TRUE(ok[t]) << "thread " << t;
        EXPECT_EQ(FirstDifference(got[t], Expected(r.first, r.count), r.first), "") << "thread " << t;
    }
}

TEST_F(MotoPeer, RefusesABlockWhoseChecksumHeaderDisagreesWithItsBytes) {
    std::mutex mutex;
    int checksumFailures = 0;
    EvDebug::SetTap([&](int, const std::string&, const std::string& message) {
        if (message.find("Checksum validation failed") == std::string::npos) return;
        std::lock_guard<std::mutex> lock(mutex);
        ++checksumFailures;
    });
    std::string got;
    EXPECT_FALSE(Read(m_badIndex, 1, got));
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_GT(checksumFailures, 0);
    }
    // The refusal is the block's, not the connection's.
    ASSERT_TRUE(Read(2047, 1, got));
    EXPECT_EQ(FirstDifference(got, Expected(2047, 1), 2047), "");
}

}  // namespace
