// Whole backup jobs through the host program and the bridge's wire backend
// against moto (started through tests/peer/moto_launcher.py): an EBS direct
// full backup of an instance whose volume came from a boto3-seeded
// snapshot, rebuilt and compared byte for byte with the seeded data, and an
// incremental right after that reads no block; a job killed mid-way whose
// resources the next job's clean-up removes; and the same backup through a
// proxy that throttles, fails and resets calls. The proxy is a moto
// instance whose metadata service tests/peer/proxy_metadata.py plays.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cloudsim/endpoints/TestCertificates.h"
#include "framework/FileUtils.h"
#include "support/MotoServer.h"
#include "support/TestEnv.h"

namespace {

const std::vector<std::string> kHosts{"ec2.us-east-1.amazonaws.com", "sts.us-east-1.amazonaws.com",
                                      "ebs.us-east-1.amazonaws.com"};
const char kKeys[] = " --url us-east-1 --access-key AKIAMOTOJOB000000001 --secret-key moto-job-secret";
// A peer that has not answered in this long never will.
constexpr int kPeerBoundMs = 60000;

// Whether two files hold the same bytes; the first difference in why.
bool SameBytes(const std::string& a, const std::string& b, std::string& why) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb) {
        why = "cannot open " + std::string(fa ? b : a);
        return false;
    }
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (long long offset = 0;; offset += static_cast<long long>(ba.size())) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount()) {
            why = "lengths differ near offset " + std::to_string(offset);
            return false;
        }
        if (fa.gcount() == 0) return true;
        if (std::memcmp(ba.data(), bb.data(), static_cast<size_t>(fa.gcount())) != 0) {
            why = "the MiB at offset " + std::to_string(offset) + " differs";
            return false;
        }
    }
}

class MotoJob : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OnPath("moto_server")) GTEST_SKIP() << "moto_server is not on PATH (pip package moto[server])";
        const std::string certFolder = Path("certs");
        ASSERT_TRUE(FwFile::MakeDirs(certFolder));
        m_certs = cloudsim::endpoints::WriteTestCertificates(certFolder, kHosts, {"127.0.0.1"});
        ASSERT_TRUE(FwFile::WriteAllAtomic(Path("curl-ca-bundle.crt"), TestEnv::ReadFile(m_certs.caFile)));
        m_moto = std::make_unique<MotoServer>(m_certs.certFile, m_certs.keyFile, false);
        ASSERT_GT(m_moto->Port(), 0) << m_moto->Output();
        m_endpoint = "https://127.0.0.1:" + std::to_string(m_moto->Port());

        int status = 0;
        const std::string out = RunCommand(Python("seed_moto_backup.py") + " " + m_endpoint + " '" + m_certs.caFile +
                                               "' '" + Path("expected.img") + "' 2>'" + Path("seed.err") + "'",
                                           status);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 3) GTEST_SKIP() << "python3 cannot import boto3";
        ASSERT_EQ(0, status) << TestEnv::ReadFile(Path("seed.err")) << "\nserver:\n" << m_moto->Output();
        m_seeded = nlohmann::json::parse(out);
        m_metadata = std::make_unique<ProxyMetadata>(m_seeded.at("proxy").get<std::string>(),
                                                     m_seeded.at("zone").get<std::string>());
        ASSERT_GT(m_metadata->Port(), 0) << m_metadata->Output();

        // The BIOS of an EC2 machine, so that the plug-in asks the metadata
        // service who it is.
        const std::string dmi = Path("dmi");
        ASSERT_TRUE(FwFile::MakeDirs(dmi));
        for (const auto& [file, value] : std::vector<std::pair<const char*, const char*>>{
                 {"sys_vendor", "Amazon EC2"}, {"product_name", "t3.micro"},
                 {"product_uuid", "ec2a1b2c-3d4e-5f60-7182-93a4b5c6d7e8"}, {"bios_version", "1.0"}})
            ASSERT_TRUE(FwFile::WriteAllAtomic(FwFile::JoinPath(dmi, file), std::string(value) + "\n"));
        TestEnv::SetSetting("Base", "sDmiFolder", dmi);
        // The EBS host resolves to a private address, as through an
        // interface VPC endpoint, so nothing asks the public DNS.
        TestEnv::SetSetting("Base", "sHostAddresses", "ebs.us-east-1.amazonaws.com=10.0.0.5");
        RouteTo(m_moto->Port());
    }

    std::string Path(const std::string& name) const { return FwFile::JoinPath(m_env.BaseDir(), name); }
    static std::string Python(const char* script) {
        return std::string("python3 '") + TEST_SOURCE_DIR + "/tests/peer/" + script + "'";
    }

    // The AWS host names go to port on loopback, the metadata address to
    // the proxy's metadata service; the IP ranges document to moto, which
    // does not have it (the VPC endpoint check then warns only).
    void RouteTo(int port) {
        std::string table;
        for (const auto& host : kHosts) table += host + ":443:127.0.0.1:" + std::to_string(port) + ",";
        table += "ip-ranges.amazonaws.com:443:127.0.0.1:" + std::to_string(m_moto->Port()) + ",";
        table += "169.254.169.254:80:127.0.0.1:" + std::to_string(m_metadata->Port());
        TestEnv::SetSetting("Base", "sCurlConnectTo", table);
    }

    std::string HostCommand(const std::string& command) const {
        return std::string(AMAZON_HOST_PATH) + " --base '" + m_env.BaseDir() + "' --backend aws " + command + kKeys;
    }
    // Runs the host; its exit code, and what it said in out.
    int Host(const std::string& command, std::string& out) const {
        int status = 0;
        out = RunCommand(HostCommand(command) + " 2>&1", status);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string BackupCommand() const {
        return "backup --instance " + m_seeded.at("source").get<std::string>() + " --mode EBS-DIRECT-API --out '" +
               Path("chain") + "'";
    }

    // The account's images, snapshots, volumes and tags in moto.
    nlohmann::json State() const {
        int status = 0;
        const std::string out = RunCommand(Python("moto_state.py") + " " + m_endpoint + " '" + m_certs.caFile + "'",
                                           status);
        EXPECT_EQ(0, status) << out;
        return status == 0 ? nlohmann::json::parse(out) : nlohmann::json();
    }

    // Rebuilds the chain's last point and compares the volume's image with
    // the seeded bytes; empty when they are the same.
    std::string RebuiltImageProblem() {
        std::string out;
        if (Host("restore-image --chain '" + Path("chain") + "' --out '" + Path("images") + "'", out) != 0) return out;
        const std::string image = FwFile::JoinPath(Path("images"), m_seeded.at("volumeId").get<std::string>() + ".img");
        std::string why;
        return SameBytes(Path("expected.img"), image, why) ? std::string() : image + ": " + why + "\n" + out;
    }

    TestEnv m_env;
    cloudsim::endpoints::CertificateFiles m_certs;
    std::unique_ptr<MotoServer> m_moto;
    std::unique_ptr<ProxyMetadata> m_metadata;
    std::string m_endpoint;
    nlohmann::json m_seeded;
};

TEST_F(MotoJob, EbsDirectFullBackupRebuildsTheSeededVolumeAndAnIncrementalReadsNoBlock) {
    std::string out;
    ASSERT_EQ(0, Host(BackupCommand(), out)) << out << "\nmoto:\n" << m_moto->Output();
    EXPECT_EQ("", RebuiltImageProblem());

    ASSERT_EQ(0, Host(BackupCommand(), out)) << out;
    const nlohmann::json manifest =
        nlohmann::json::parse(TestEnv::ReadFile(FwFile::JoinPath(Path("chain"), "point-2/manifest.json")));
    ASSERT_EQ(1u, manifest.at("disks").size()) << manifest.dump(1);
    const nlohmann::json& disk = manifest["disks"][0];
    ASSERT_TRUE(disk.contains("extents")) << "not incremental:\n" << out;
    EXPECT_TRUE(disk["extents"].empty()) << manifest.dump(1);
    EXPECT_EQ(0, disk.at("bytesRead").get<long long>());
    EXPECT_EQ("", RebuiltImageProblem());
}

TEST_F(MotoJob, AJobKilledMidWayLeavesNothingInMotoAfterTheNextJobsCleanUp) {
    const nlohmann::json before = State();
    // The first block read is held, so the job is killed with its AMI and
    // snapshot made and registered, and its data half copied.
    FaultProxy proxy(m_certs.certFile, m_certs.keyFile, m_certs.caFile, m_moto->Port(),
                     {"--hold", "GET /snapshots/[^ ]+/blocks/[0-9]"});
    ASSERT_GT(proxy.Port(), 0) << proxy.Output();
    RouteTo(proxy.Port());
    const std::string log = Path("killed.log");
    const std::string command = "exec " + HostCommand(BackupCommand()) + " >'" + log + "' 2>&1";
    const pid_t job = fork();
    ASSERT_GE(job, 0);
    if (job == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const bool held = proxy.WaitForOutput("holding", kPeerBoundMs);
    kill(job, SIGKILL);
    waitpid(job, nullptr, 0);
    ASSERT_TRUE(held) << TestEnv::ReadFile(log) << proxy.Output();
    ASSERT_NE(before, State()) << "the killed job made nothing\n" << TestEnv::ReadFile(log);

    std::string out;
    ASSERT_EQ(0, Host("cleanup", out)) << out;
    EXPECT_NE(std::string::npos, out.find("orphaned backup entries: 1")) << out;
    EXPECT_EQ("[]", nlohmann::json::diff(before, State()).dump()) << out;
}

TEST_F(MotoJob, ABackupThroughFaultsFinishesAndPermanentFaultsFailItWithAwsTextLeavingNothing) {
    {
        FaultProxy faults(m_certs.certFile, m_certs.keyFile, m_certs.caFile, m_moto->Port(),
                          {"--random", "0.3", "--seed", "7"});
        ASSERT_GT(faults.Port(), 0) << faults.Output();
        RouteTo(faults.Port());
        std::string out;
        ASSERT_EQ(0, Host(BackupCommand(), out)) << out << faults.Output();
        for (const char* kind : {"fault throttle", "fault error", "fault reset"})
            EXPECT_NE(std::string::npos, faults.Output().find(kind)) << kind << "\n" << faults.Output();
        EXPECT_EQ("", RebuiltImageProblem());
    }
    const nlohmann::json before = State();
    FaultProxy permanent(m_certs.certFile, m_certs.keyFile, m_certs.caFile, m_moto->Port(),
                         {"--always", "throttle", "--match", "^ebs[.]"});
    ASSERT_GT(permanent.Port(), 0) << permanent.Output();
    RouteTo(permanent.Port());
    std::string out;
    EXPECT_NE(0, Host(BackupCommand(), out)) << out;
    EXPECT_NE(std::string::npos, out.find("RequestThrottledException: Rate exceeded")) << out;
    EXPECT_EQ("[]", nlohmann::json::diff(before, State()).dump()) << out;
}

TEST(MotoJobModes, HotAddBackup) {
    GTEST_SKIP() << "HOTADD cannot run against moto: a volume moto attaches to the proxy gets no block device "
                    "on this machine";
}

}  // namespace
