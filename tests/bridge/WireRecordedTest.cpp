// The wire backend against recorded AWS answers that moto does not give:
// AWS's documented error shapes, throttling then success, a truncated page.
// A TLS server on loopback plays them for the real AWS host names, routed
// there by the connect-to table, so the bridge runs exactly as against AWS.
#include <httplib.h>

#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/AmazonSDKBridge.h"
#include "cloudsim/endpoints/TestCertificates.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "support/TestEnv.h"

namespace {

const char kEc2Host[] = "ec2.us-east-1.amazonaws.com";
const char kStsHost[] = "sts.us-east-1.amazonaws.com";
const char kEbsHost[] = "ebs.us-east-1.amazonaws.com";
const char kKmsHost[] = "kms.us-east-1.amazonaws.com";

const char kIdentity[] =
    "<GetCallerIdentityResponse xmlns=\"https://sts.amazonaws.com/doc/2011-06-15/\"><GetCallerIdentityResult>"
    "<Arn>arn:aws:iam::111122223333:user/backup</Arn><UserId>AIDAEXAMPLE</UserId><Account>111122223333</Account>"
    "</GetCallerIdentityResult><ResponseMetadata><RequestId>01234567-89ab</RequestId></ResponseMetadata>"
    "</GetCallerIdentityResponse>";

// EC2's error shape, as AWS documents it.
std::string Ec2Error(const std::string& code, const std::string& message) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Response><Errors><Error><Code>" + code +
           "</Code><Message>" + message + "</Message></Error></Errors><RequestID>ea966190-f9aa</RequestID></Response>";
}

std::string Reservation(const std::string& id, const std::string& type) {
    return "<item><reservationId>r-1</reservationId><instancesSet><item><instanceId>" + id +
           "</instanceId><instanceType>" + type +
           "</instanceType><placement><availabilityZone>us-east-1a</availabilityZone></placement>"
           "<instanceState><code>16</code><name>running</name></instanceState><rootDeviceName>/dev/xvda"
           "</rootDeviceName><tagSet><item><key>Name</key><value>web-" + id + "</value></item></tagSet>"
           "</item></instancesSet></item>";
}

std::string InstancesPage(const std::string& items, const std::string& nextToken) {
    return "<DescribeInstancesResponse xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\"><requestId>1</requestId>"
           "<reservationSet>" + items + "</reservationSet>" +
           (nextToken.empty() ? "" : "<nextToken>" + nextToken + "</nextToken>") + "</DescribeInstancesResponse>";
}

struct Recorded {
    int status;
    std::string body;
    std::string errorType;  // the x-amzn-ErrorType header of a REST-JSON error
};

struct Seen {
    std::string host;
    std::string body;
    std::string authorization;
    std::string target;  // X-Amz-Target, of a JSON 1.1 operation
};

// Answers every POST with the next recorded answer (an AWS 500 when none
// is left) and keeps what it was asked.
class RecordedAws {
public:
    RecordedAws(const std::string& cert, const std::string& key) : m_server(cert.c_str(), key.c_str()) {
        auto play = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_seen.push_back({req.get_header_value("Host"), req.target + "\n" + req.body,
                              req.get_header_value("Authorization"), req.get_header_value("X-Amz-Target")});
            Recorded next{500, Ec2Error("InternalError", "no recorded answer left"), ""};
            if (!m_answers.empty()) {
                next = m_answers.front();
                m_answers.pop_front();
            }
            res.status = next.status;
            if (!next.errorType.empty()) res.set_header("x-amzn-ErrorType", next.errorType);
            res.set_content(next.body, "text/xml;charset=UTF-8");
        };
        m_server.Post("/", play);
        m_server.Get(".*", play);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) std::this_thread::yield();
    }
    ~RecordedAws() {
        m_server.stop();
        m_thread.join();
    }
    int Port() const { return m_port; }
    void Answer(int status, const std::string& body, const std::string& errorType = std::string()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answers.push_back({status, body, errorType});
    }
    std::vector<Seen> Asked() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

private:
    httplib::SSLServer m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::deque<Recorded> m_answers;
    std::vector<Seen> m_seen;
};

class WireRecorded : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string certs = FwFile::JoinPath(m_env.BaseDir(), "certs");
        ASSERT_TRUE(FwFile::MakeDirs(certs));
        auto files = cloudsim::endpoints::WriteTestCertificates(certs, {kEc2Host, kStsHost, kEbsHost, kKmsHost},
                                                                   {"127.0.0.1"});
        ASSERT_TRUE(FwFile::WriteAllAtomic(FwFile::JoinPath(m_env.BaseDir(), "curl-ca-bundle.crt"),
                                           TestEnv::ReadFile(files.caFile)));
        m_aws = std::make_unique<RecordedAws>(files.certFile, files.keyFile);
        const std::string port = std::to_string(m_aws->Port());
        std::string connectTo;
        for (const char* host : {kEc2Host, kStsHost, kEbsHost, kKmsHost})
            connectTo += (connectTo.empty() ? "" : ",") + std::string(host) + ":443:127.0.0.1:" + port;
        TestEnv::SetSetting("Base", "sCurlConnectTo", connectTo);
        TestEnv::SetSetting("Bridge", "sBackend", "aws");
        m_bridge = std::make_unique<CAmazonSDKBridge>();
        ASSERT_TRUE(m_bridge->initialize("focus", "test", 1));
    }

    void Connect() {
        m_aws->Answer(200, kIdentity);
        ASSERT_TRUE(m_bridge->Connect("https://ec2.us-east-1.amazonaws.com", "AKIDRECORDED", "secret"))
            << m_bridge->GetLastErrorString();
    }

    TestEnv m_env;
    std::unique_ptr<RecordedAws> m_aws;
    std::unique_ptr<CAmazonSDKBridge> m_bridge;
};

TEST_F(WireRecorded, ConnectAsksStsWhoTheKeysAreAndSignsForTheRegion) {
    Connect();
    std::string account, partition;
    ASSERT_TRUE(m_bridge->GetAccountId(account));
    EXPECT_EQ("111122223333", account);
    ASSERT_TRUE(m_bridge->GetAwsArnPartition(partition));
    EXPECT_EQ("aws", partition);
    EXPECT_EQ("us-east-1", m_bridge->GetCurrentRegion());
    const auto seen = m_aws->Asked();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(kStsHost, seen[0].host);
    EXPECT_NE(std::string::npos, seen[0].body.find("Action=GetCallerIdentity"));
    EXPECT_NE(std::string::npos, seen[0].authorization.find("Credential=AKIDRECORDED/"));
    EXPECT_NE(std::string::npos, seen[0].authorization.find("/us-east-1/sts/aws4_request"));
}

// Both of AWS's XML error shapes reach GetLastErrorString as "Code: Message",
// and a client error is not asked again.
TEST_F(WireRecorded, AwsErrorShapesReachTheCallerUnchangedAndClientErrorsAreNotRetried) {
    m_aws->Answer(403,
                  "<ErrorResponse xmlns=\"https://sts.amazonaws.com/doc/2011-06-15/\"><Error><Type>Sender</Type>"
                  "<Code>InvalidClientTokenId</Code><Message>The security token included in the request is "
                  "invalid.</Message></Error><RequestId>4ff1</RequestId></ErrorResponse>");
    EXPECT_FALSE(m_bridge->Connect("us-east-1", "AKIDBAD", "secret"));
    EXPECT_EQ("InvalidClientTokenId: The security token included in the request is invalid.",
              m_bridge->GetLastErrorString());
    EXPECT_FALSE(m_bridge->IsConnected());

    Connect();
    m_aws->Answer(400, Ec2Error("InvalidVolume.NotFound", "The volume 'vol-0123' does not exist."));
    EXPECT_FALSE(m_bridge->DeleteVolume("vol-0123", true));
    EXPECT_EQ("InvalidVolume.NotFound: The volume 'vol-0123' does not exist.", m_bridge->GetLastErrorString());
    EXPECT_EQ(3u, m_aws->Asked().size());  // the refused connect, the connect, one delete
    EXPECT_EQ(0, m_env.Clock().TotalSleptMs());
}

TEST_F(WireRecorded, ThrottlingAndServerErrorsAreRetriedOnTheFrameworkClockThenSucceed) {
    Connect();
    m_aws->Answer(503, Ec2Error("RequestLimitExceeded", "Request limit exceeded."));
    m_aws->Answer(500, Ec2Error("InternalError", "An internal error has occurred"));
    m_aws->Answer(200, "<DeleteVolumeResponse><requestId>1</requestId><return>true</return></DeleteVolumeResponse>");
    EXPECT_TRUE(m_bridge->DeleteVolume("vol-0123", true)) << m_bridge->GetLastErrorString();
    EXPECT_EQ("", m_bridge->GetLastErrorString());
    EXPECT_EQ(4u, m_aws->Asked().size());
    // Two waits, each a jittered share of 100 ms, then 200 ms.
    EXPECT_LE(m_env.Clock().TotalSleptMs(), 300);
}

TEST_F(WireRecorded, ThrottlingThatOutlastsTheAttemptsFailsWithAwsText) {
    Connect();
    for (int i = 0; i < 3; ++i) m_aws->Answer(400, Ec2Error("Throttling", "Rate exceeded"));
    m_aws->Answer(200, "<DeleteVolumeResponse><return>true</return></DeleteVolumeResponse>");
    EXPECT_FALSE(m_bridge->DeleteVolume("vol-0123", true));
    EXPECT_EQ("Throttling: Rate exceeded", m_bridge->GetLastErrorString());
    EXPECT_EQ(4u, m_aws->Asked().size());  // the connect and three attempts; the fourth answer is never asked for
}

TEST_F(WireRecorded, ATruncatedPageIsFollowedWithItsToken) {
    Connect();
    m_aws->Answer(200, InstancesPage(Reservation("i-0001", "t3.micro"), "page-two-token"));
    m_aws->Answer(200, InstancesPage(Reservation("i-0002", "t3.micro"), ""));
    std::vector<VMInfoStructs::SVMInfo> vms;
    ASSERT_EQ(1, m_bridge->GetVMInfoListForInstanceType("us-east-1", "t3.micro", 0, 0, vms))
        << m_bridge->GetLastErrorString();
    ASSERT_EQ(2u, vms.size());
    EXPECT_EQ("i-0001", vms[0].guid);
    EXPECT_EQ("web-i-0002", vms[1].name);
    EXPECT_EQ("us-east-1a", vms[1].zone);
    const auto seen = m_aws->Asked();
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ(kEc2Host, seen[1].host);
    EXPECT_EQ(std::string::npos, seen[1].body.find("NextToken"));
    EXPECT_NE(std::string::npos, seen[2].body.find("NextToken=page-two-token"));
    EXPECT_NE(std::string::npos, seen[2].body.find("Filter.1.Name=instance-type"));
}

// The EBS direct APIs answer in JSON, the code in a header; a listing runs
// over every page and keeps EBS's block size.
TEST_F(WireRecorded, BlockListingsFollowTheirPagesAndReportTheJsonErrorShape) {
    Connect();
    m_aws->Answer(200, R"({"Blocks":[{"BlockIndex":0,"BlockToken":"t0"},{"BlockIndex":7,"BlockToken":"t7"}],)"
                       R"("BlockSize":524288,"NextToken":"more","VolumeSize":1})");
    m_aws->Answer(200, R"({"Blocks":[{"BlockIndex":9,"BlockToken":"t9"}],"BlockSize":524288,"VolumeSize":1})");
    m_aws->Answer(400, R"({"Message":"The snapshot 'snap-2' does not exist.","Reason":"SNAPSHOT_NOT_FOUND"})",
                  "ResourceNotFoundException:http://internal.amazon.com/coral/com.amazon.zeppelindataservice/");
    VMInfoStructs::SDiskChangeInfo info;
    int blockSize = 0;
    long long unused = 0;
    ASSERT_TRUE(m_bridge->GetAllocatedBlockList("snap-1", "us-east-1", info, blockSize, unused))
        << m_bridge->GetLastErrorString();
    EXPECT_EQ(524288, blockSize);
    ASSERT_EQ(3u, info.extents.size());
    EXPECT_EQ(9, info.extents[2].blockIndex);
    EXPECT_FALSE(m_bridge->GetChangedBlockList("snap-2", "snap-1", "us-east-1", info, blockSize, unused));
    EXPECT_EQ("ResourceNotFoundException: The snapshot 'snap-2' does not exist.", m_bridge->GetLastErrorString());
    const auto seen = m_aws->Asked();
    ASSERT_EQ(4u, seen.size());
    EXPECT_EQ(kEbsHost, seen[1].host);
    EXPECT_EQ(0u, seen[1].body.find("/snapshots/snap-1/blocks?maxResults=10000"));
    EXPECT_NE(std::string::npos, seen[2].body.find("pageToken=more"));
    EXPECT_EQ(0u, seen[3].body.find("/snapshots/snap-1/changedblocks?firstSnapshotId=snap-2"));
    EXPECT_NE(std::string::npos, seen[3].authorization.find("/us-east-1/ebs/aws4_request"));
}

// KMS speaks JSON 1.1: the operation in X-Amz-Target, errors as __type and
// message, throttling retried, and a truncated listing followed by its marker.
TEST_F(WireRecorded, KmsListingsFollowTheirMarkersAndThrottlingIsRetried) {
    Connect();
    m_aws->Answer(400, R"({"__type":"ThrottlingException","message":"Rate exceeded"})");
    m_aws->Answer(200, R"({"Grants":[{"GranteePrincipal":"arn:aws:iam::1:root"}],"NextMarker":"m2","Truncated":true})");
    m_aws->Answer(200, R"({"Grants":[{"GranteePrincipal":"arn:aws:iam::2:root"}],"Truncated":false})");
    m_aws->Answer(400, R"({"__type":"com.amazonaws.kms#NotFoundException","message":"Key 'k-9' does not exist"})");
    std::vector<std::string> principals;
    ASSERT_TRUE(m_bridge->ListEncryptionKeyGrantees("us-east-1", "k-1", principals)) << m_bridge->GetLastErrorString();
    EXPECT_EQ((std::vector<std::string>{"arn:aws:iam::1:root", "arn:aws:iam::2:root"}), principals);
    EXPECT_FALSE(m_bridge->CreateEncryptionKeyGrant("us-east-1", "k-9", "arn:aws:iam::1:root"));
    EXPECT_EQ("NotFoundException: Key 'k-9' does not exist", m_bridge->GetLastErrorString());
    const auto seen = m_aws->Asked();
    ASSERT_EQ(5u, seen.size());
    EXPECT_EQ(kKmsHost, seen[2].host);
    EXPECT_EQ("TrentService.ListGrants", seen[2].target);
    EXPECT_EQ(std::string::npos, seen[2].body.find("Marker"));
    EXPECT_NE(std::string::npos, seen[3].body.find(R"("Marker":"m2")"));
    EXPECT_EQ("TrentService.CreateGrant", seen[4].target);
    EXPECT_NE(std::string::npos, seen[4].authorization.find("SignedHeaders=content-type;host;x-amz-date;x-amz-target"));
}

TEST_F(WireRecorded, AnOperationTheBackendLacksFailsNamingItAndCallsNoOne) {
    Connect();
    EXPECT_FALSE(m_bridge->ShareSnapshot("snap-1", "444455556666"));
    EXPECT_EQ("NotImplemented: ShareSnapshot is not offered by the AWS wire backend yet",
              m_bridge->GetLastErrorString());
    std::string password;
    EXPECT_FALSE(m_bridge->GetPassword("web", "i-1", "key", password));
    EXPECT_NE(std::string::npos, m_bridge->GetLastErrorString().find("GetPassword"));
    EXPECT_EQ(1u, m_aws->Asked().size());
}

// Keys given to Connect win; without them the environment's are used, then
// the shared credentials file's profile.
TEST_F(WireRecorded, CredentialsComeFromConnectThenTheEnvironmentThenTheProfile) {
    const std::string file = FwFile::JoinPath(m_env.BaseDir(), "credentials");
    ASSERT_TRUE(FwFile::WriteAllAtomic(file, "[default]\naws_access_key_id = AKIDDEFAULT\naws_secret_access_key = s\n"
                                             "[backup]\naws_access_key_id = AKIDPROFILE\n"
                                             "aws_secret_access_key = s2\n"));
    setenv("AWS_SHARED_CREDENTIALS_FILE", file.c_str(), 1);
    setenv("AWS_PROFILE", "backup", 1);
    setenv("AWS_ACCESS_KEY_ID", "AKIDENVIRONMENT", 1);
    setenv("AWS_SECRET_ACCESS_KEY", "s3", 1);
    for (int i = 0; i < 3; ++i) m_aws->Answer(200, kIdentity);
    EXPECT_TRUE(m_bridge->Connect("us-east-1", "AKIDGIVEN", "s4"));
    EXPECT_TRUE(m_bridge->Connect("us-east-1", "", ""));
    unsetenv("AWS_ACCESS_KEY_ID");
    unsetenv("AWS_SECRET_ACCESS_KEY");
    EXPECT_TRUE(m_bridge->Connect("us-east-1", "", ""));
    unsetenv("AWS_PROFILE");
    setenv("AWS_ACCESS_KEY_ID", "AKIDHALF", 1);
    EXPECT_FALSE(m_bridge->Connect("us-east-1", "", ""));
    EXPECT_NE(std::string::npos, m_bridge->GetLastErrorString().find("without its secret"));
    unsetenv("AWS_ACCESS_KEY_ID");
    unsetenv("AWS_SHARED_CREDENTIALS_FILE");
    const auto seen = m_aws->Asked();
    ASSERT_EQ(3u, seen.size());
    EXPECT_NE(std::string::npos, seen[0].authorization.find("Credential=AKIDGIVEN/"));
    EXPECT_NE(std::string::npos, seen[1].authorization.find("Credential=AKIDENVIRONMENT/"));
    EXPECT_NE(std::string::npos, seen[2].authorization.find("Credential=AKIDPROFILE/"));
}

TEST(WireBackendChoice, AnUnknownBackendNameRefusesEverythingNamingTheSetting) {
    TestEnv env;
    TestEnv::SetSetting("Bridge", "sBackend", "azure");
    CAmazonSDKBridge bridge;
    EXPECT_FALSE(bridge.initialize("focus", "test", 1));
    EXPECT_NE(std::string::npos, bridge.GetLastErrorString().find("unknown bridge backend 'azure'"));
    EXPECT_FALSE(bridge.Connect("us-east-1", "AKID", "secret"));
}

}  // namespace
