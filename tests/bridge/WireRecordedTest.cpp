// The wire backend against recorded AWS answers that moto does not give:
// AWS's documented error shapes, throttling then success, a truncated page.
// A TLS server on loopback plays them for the real AWS host names, routed
// there by the connect-to table, so the bridge runs exactly as against AWS.
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <sys/wait.h>

#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/AmazonSDKBridge.h"
#include "cloudsim/endpoints/TestCertificates.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "support/ServedOnLoopback.h"
#include "support/TestEnv.h"

namespace {

const char kEc2Host[] = "ec2.us-east-1.amazonaws.com";
const char kStsHost[] = "sts.us-east-1.amazonaws.com";
const char kEbsHost[] = "ebs.us-east-1.amazonaws.com";
const char kKmsHost[] = "kms.us-east-1.amazonaws.com";
const char kEc2WestHost[] = "ec2.us-west-2.amazonaws.com";
const char kIamHost[] = "iam.amazonaws.com";

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

// The instance a recorded launch made, i-new in us-east-1c, in state, with
// the block device mappings devices (XML items).
std::string LaunchedInstance(const std::string& state, const std::string& devices = std::string()) {
    return InstancesPage("<item><reservationId>r-1</reservationId><instancesSet><item><instanceId>i-new"
                         "</instanceId><instanceType>t3.small</instanceType><placement><availabilityZone>"
                         "us-east-1c</availabilityZone></placement><instanceState><name>" + state +
                         "</name></instanceState><rootDeviceName>/dev/xvda</rootDeviceName><blockDeviceMapping>" +
                         devices + "</blockDeviceMapping></item></instancesSet></item>",
                         "");
}

struct Recorded {
    int status;
    std::string body;
    std::string errorType;  // the x-amzn-ErrorType header of a REST-JSON error
    std::string checksum;   // the x-amz-Checksum header of a block
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
            Recorded next{500, Ec2Error("InternalError", "no recorded answer left"), "", ""};
            if (!m_answers.empty()) {
                next = m_answers.front();
                m_answers.pop_front();
            }
            res.status = next.status;
            if (!next.errorType.empty()) res.set_header("x-amzn-ErrorType", next.errorType);
            if (!next.checksum.empty()) res.set_header("x-amz-Checksum", next.checksum);
            res.set_content(next.body, "text/xml;charset=UTF-8");
        };
        m_server.Post("/", play);
        m_server.Get(".*", play);
        m_served.emplace(m_server);
    }
    int Port() const { return m_served->Port(); }
    void Answer(int status, const std::string& body, const std::string& errorType = std::string(),
                const std::string& checksum = std::string()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answers.push_back({status, body, errorType, checksum});
    }
    std::vector<Seen> Asked() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

private:
    httplib::SSLServer m_server;
    std::mutex m_mutex;
    std::deque<Recorded> m_answers;
    std::vector<Seen> m_seen;
    std::optional<ServedOnLoopback<httplib::SSLServer>> m_served;   // last: stopped first
};

class WireRecorded : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string certs = FwFile::JoinPath(m_env.BaseDir(), "certs");
        ASSERT_TRUE(FwFile::MakeDirs(certs));
        auto files = cloudsim::endpoints::WriteTestCertificates(certs, {kEc2Host, kStsHost, kEbsHost, kKmsHost, kEc2WestHost, kIamHost},
                                                                   {"127.0.0.1"});
        ASSERT_TRUE(FwFile::WriteAllAtomic(FwFile::JoinPath(m_env.BaseDir(), "curl-ca-bundle.crt"),
                                           TestEnv::ReadFile(files.caFile)));
        m_aws = std::make_unique<RecordedAws>(files.certFile, files.keyFile);
        const std::string port = std::to_string(m_aws->Port());
        std::string connectTo;
        for (const char* host : {kEc2Host, kStsHost, kEbsHost, kKmsHost, kEc2WestHost, kIamHost})
            connectTo += (connectTo.empty() ? "" : ",") + std::string(host) + ":443:127.0.0.1:" + port;
        TestEnv::SetSetting("Base", "sCurlConnectTo", connectTo);
        TestEnv::SetSetting("Bridge", "sBackend", "aws");
        m_bridge = std::make_unique<CAmazonSDKBridge>();
        ASSERT_TRUE(m_bridge->initialize("focus", "test", 1));
    }

    void Connect(const char* identity = kIdentity) {
        m_aws->Answer(200, identity);
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

// The form value of name in a recorded request body ("target\nform").
std::string FormValue(const std::string& seen, const std::string& name) {
    const std::string form = seen.substr(seen.find('\n') + 1);
    const size_t at = ("&" + form).find("&" + name + "=");
    if (at == std::string::npos) return std::string();
    const size_t start = at + name.size() + 1;
    const std::string raw = form.substr(start, form.find('&', start) - start);
    std::string value;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size()) {
            value += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            value += raw[i] == '+' ? ' ' : raw[i];
        }
    }
    return value;
}

// The copy goes to the destination's endpoint, with the URL presigned for
// the source region that AWS's SDKs send: the same URL botocore presigns
// for the same request at the same time.
TEST_F(WireRecorded, CopySnapshotCarriesTheUrlBotocorePresignsForTheSourceRegion) {
    Connect();
    m_aws->Answer(200, "<CopySnapshotResponse xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\"><requestId>1"
                       "</requestId><snapshotId>snap-0copy</snapshotId></CopySnapshotResponse>");
    const std::string key = "arn:aws:kms:us-west-2:111122223333:key/1234abcd-12ab-34cd-56ef-1234567890ab";
    std::string copy;
    ASSERT_TRUE(m_bridge->CopySnapshot("snap-0source", "us-east-1", "us-west-2", true, key, copy))
        << m_bridge->GetLastErrorString();
    EXPECT_EQ("snap-0copy", copy);
    const auto seen = m_aws->Asked();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(kEc2WestHost, seen[1].host);
    EXPECT_NE(std::string::npos, seen[1].authorization.find("/us-west-2/ec2/aws4_request"));
    const std::string presigned = FormValue(seen[1].body, "PresignedUrl");
    ASSERT_FALSE(presigned.empty()) << seen[1].body;

    std::string command = std::string("python3 ") + TEST_SOURCE_DIR +
                          "/tests/support/botocore_presign.py AKIDRECORDED secret ec2 us-east-1 " + kEc2Host + " " +
                          std::to_string(FwClock::NowSec()) + " 3600";
    for (const char* param : {"Action=CopySnapshot", "Version=2016-11-15", "SourceRegion=us-east-1",
                              "SourceSnapshotId=snap-0source", "Encrypted=true"})
        command += std::string(" '") + param + "'";
    command += " 'KmsKeyId=" + key + "' 'DestinationRegion=us-west-2'";
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::string botocore;
    char chunk[4096];
    while (size_t n = fread(chunk, 1, sizeof chunk, pipe)) botocore.append(chunk, n);
    const int status = pclose(pipe);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3) GTEST_SKIP() << "python3 cannot import botocore";
    ASSERT_EQ(0, status);
    while (!botocore.empty() && botocore.back() == '\n') botocore.pop_back();
    EXPECT_EQ(botocore, presigned);
}

// IAM simulates the caller's policies: an assumed role's session as its
// role, whose ARN IAM gives; one action not allowed refuses the check.
TEST_F(WireRecorded, PermissionsAreSimulatedForTheCallerAndAnAssumedRoleAsItsRole) {
    Connect();
    auto simulated = [](const char* first, const char* second) {
        return std::string("<SimulatePrincipalPolicyResponse xmlns=\"https://iam.amazonaws.com/doc/2010-05-08/\">"
                           "<SimulatePrincipalPolicyResult><IsTruncated>false</IsTruncated><EvaluationResults>"
                           "<member><EvalActionName>ebs:ListSnapshotBlocks</EvalActionName><EvalDecision>") +
               first + "</EvalDecision></member><member><EvalActionName>ebs:GetSnapshotBlock</EvalActionName>"
                       "<EvalDecision>" + second +
               "</EvalDecision></member></EvaluationResults></SimulatePrincipalPolicyResult>"
               "</SimulatePrincipalPolicyResponse>";
    };
    const std::vector<std::string> actions{"ebs:ListSnapshotBlocks", "ebs:GetSnapshotBlock"};
    bool allowed = true;
    m_aws->Answer(200, simulated("allowed", "implicitDeny"));
    ASSERT_TRUE(m_bridge->CheckPermissions(actions, allowed)) << m_bridge->GetLastErrorString();
    EXPECT_FALSE(allowed);
    m_aws->Answer(200, simulated("allowed", "allowed"));
    ASSERT_TRUE(m_bridge->CheckPermissions(actions, allowed));
    EXPECT_TRUE(allowed);
    // A refused simulation is a failed check, not a refusal of the actions.
    m_aws->Answer(403, "<ErrorResponse><Error><Type>Sender</Type><Code>AccessDenied</Code><Message>not authorized "
                       "to perform: iam:SimulatePrincipalPolicy</Message></Error></ErrorResponse>");
    EXPECT_FALSE(m_bridge->CheckPermissions(actions, allowed));
    EXPECT_FALSE(allowed);
    EXPECT_EQ(0u, m_bridge->GetLastErrorString().rfind("AccessDenied: not authorized", 0))
        << m_bridge->GetLastErrorString();

    Connect("<GetCallerIdentityResponse><GetCallerIdentityResult><Arn>arn:aws:sts::111122223333:assumed-role/"
            "Backup/job-7</Arn><Account>111122223333</Account></GetCallerIdentityResult></GetCallerIdentityResponse>");
    m_aws->Answer(200, "<GetRoleResponse><GetRoleResult><Role><RoleName>Backup</RoleName><Arn>arn:aws:iam::"
                       "111122223333:role/agents/Backup</Arn></Role></GetRoleResult></GetRoleResponse>");
    m_aws->Answer(200, simulated("allowed", "allowed"));
    ASSERT_TRUE(m_bridge->CheckPermissions(actions, allowed)) << m_bridge->GetLastErrorString();
    EXPECT_TRUE(allowed);

    const auto seen = m_aws->Asked();
    ASSERT_EQ(7u, seen.size());
    EXPECT_EQ(kIamHost, seen[1].host);
    EXPECT_EQ("arn:aws:iam::111122223333:user/backup", FormValue(seen[1].body, "PolicySourceArn"));
    EXPECT_EQ("ebs:ListSnapshotBlocks", FormValue(seen[1].body, "ActionNames.member.1"));
    EXPECT_EQ("ebs:GetSnapshotBlock", FormValue(seen[1].body, "ActionNames.member.2"));
    EXPECT_EQ("Backup", FormValue(seen[5].body, "RoleName"));
    EXPECT_EQ("arn:aws:iam::111122223333:role/agents/Backup", FormValue(seen[6].body, "PolicySourceArn"));
}

// A Marketplace volume carries product codes, which only
// DescribeVolumeAttribute shows; a failed look is no Marketplace volume,
// with the reason kept.
TEST_F(WireRecorded, AMarketplaceVolumeIsToldByItsProductCodes) {
    Connect();
    const std::string head = "<DescribeVolumeAttributeResponse xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\">"
                             "<requestId>1</requestId><volumeId>vol-1</volumeId><productCodes>";
    const std::string tail = "</productCodes></DescribeVolumeAttributeResponse>";
    m_aws->Answer(200, head + "<item><productCode>aw0evgkw8e5c1q413zgy5pjce</productCode><type>marketplace</type>"
                              "</item>" + tail);
    m_aws->Answer(200, head + tail);
    m_aws->Answer(400, Ec2Error("InvalidVolume.NotFound", "The volume 'vol-2' does not exist."));
    EXPECT_TRUE(m_bridge->IsMarketPlaceVolume("vol-1", "us-east-1"));
    EXPECT_FALSE(m_bridge->IsMarketPlaceVolume("vol-1", "us-east-1"));
    EXPECT_FALSE(m_bridge->IsMarketPlaceVolume("vol-2", "us-east-1"));
    EXPECT_EQ("InvalidVolume.NotFound: The volume 'vol-2' does not exist.", m_bridge->GetLastErrorString());
    const auto seen = m_aws->Asked();
    ASSERT_EQ(4u, seen.size());
    EXPECT_EQ("productCodes", FormValue(seen[1].body, "Attribute"));
    EXPECT_EQ("vol-1", FormValue(seen[1].body, "VolumeId"));
}

// While a restored instance boots: its checks are waited for until both
// have a verdict, an impaired one ends the wait without success, and its
// screenshot is the decoded image.
TEST_F(WireRecorded, StatusChecksWaitForBothVerdictsAndTheScreenshotIsDecoded) {
    Connect();
    auto status = [](const char* instance, const char* system) {
        return std::string("<DescribeInstanceStatusResponse xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\">"
                           "<instanceStatusSet><item><instanceId>i-1</instanceId><instanceState><code>16</code>"
                           "<name>running</name></instanceState><instanceStatus><status>") +
               instance + "</status></instanceStatus><systemStatus><status>" + system +
               "</status></systemStatus></item></instanceStatusSet></DescribeInstanceStatusResponse>";
    };
    m_aws->Answer(200, status("initializing", "ok"));
    m_aws->Answer(200, status("impaired", "ok"));
    bool succeeded = true;
    EXPECT_FALSE(m_bridge->IsInstanceValidationtaskCompleted("i-1", succeeded));
    EXPECT_FALSE(succeeded);
    EXPECT_TRUE(m_bridge->IsInstanceValidationtaskCompleted("i-1", succeeded));
    EXPECT_FALSE(succeeded);
    EXPECT_NE(std::string::npos, m_bridge->GetLastErrorString().find("InstanceStatusImpaired"));

    // "\x89PNG" and three bytes, base64.
    m_aws->Answer(200, "<GetConsoleScreenshotResponse><instanceId>i-1</instanceId><imageData>iVBORwECAw==</imageData>"
                       "</GetConsoleScreenshotResponse>");
    const std::string file = FwFile::JoinPath(m_env.BaseDir(), "shot.png");
    ASSERT_TRUE(m_bridge->SaveInstanceScreenshot("i-1", file)) << m_bridge->GetLastErrorString();
    EXPECT_EQ(std::string("\x89PNG\x01\x02\x03", 7), TestEnv::ReadFile(file));
    m_aws->Answer(400, Ec2Error("IncorrectInstanceState", "The instance 'i-1' is not in the 'running' state."));
    EXPECT_FALSE(m_bridge->SaveInstanceScreenshot("i-1", file));
    EXPECT_EQ(0u, m_bridge->GetLastErrorString().rfind("IncorrectInstanceState", 0));
}

// The password EC2 holds encrypted with the key pair's public key, as a
// Windows instance leaves it: base64 of RSA PKCS#1 v1.5.
std::string EncryptedPassword(EVP_PKEY* key, const std::string& password) {
    std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> ctx(EVP_PKEY_CTX_new(key, nullptr), &EVP_PKEY_CTX_free);
    size_t length = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(password.data());
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) <= 0 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_encrypt(ctx.get(), nullptr, &length, in, password.size()) <= 0)
        return std::string();
    std::string out(length, '\0');
    if (EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(&out[0]), &length, in, password.size()) <= 0)
        return std::string();
    out.resize(length);
    std::string text(4 * ((out.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                                  reinterpret_cast<const unsigned char*>(out.data()), static_cast<int>(out.size()));
    text.resize(n);
    return text;
}

// A Windows password decrypts with the key pair's own private key file;
// another key, no file, another key pair or no password yet each fail with
// their cause. Cancelling an image is not something EC2 can do: it says so
// and asks EC2 nothing.
TEST_F(WireRecorded, AWindowsPasswordIsDecryptedWithTheKeyPairsPrivateKey) {
    Connect();
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_RSA_gen(2048), &EVP_PKEY_free);
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> other(EVP_RSA_gen(2048), &EVP_PKEY_free);
    ASSERT_TRUE(key && other);
    const std::string folder = FwFile::JoinPath(m_env.BaseDir(), "keypairs");
    ASSERT_TRUE(FwFile::MakeDirs(folder));
    auto writeKey = [&](EVP_PKEY* k, const std::string& name) {
        std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(FwFile::JoinPath(folder, name + ".pem").c_str(), "w"),
                                                &std::fclose);
        return f && PEM_write_PrivateKey(f.get(), k, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    };
    ASSERT_TRUE(writeKey(key.get(), "ops"));
    ASSERT_TRUE(writeKey(other.get(), "wrong"));
    const std::string sealed = EncryptedPassword(key.get(), "Tr0ub4dor&3");
    ASSERT_FALSE(sealed.empty());

    auto instance = [](const char* keyName) {
        return InstancesPage("<item><reservationId>r-1</reservationId><instancesSet><item><instanceId>i-win"
                             "</instanceId><instanceState><code>16</code><name>running</name></instanceState>"
                             "<keyName>" + std::string(keyName) + "</keyName><platform>windows</platform></item>"
                             "</instancesSet></item>", "");
    };
    auto passwordData = [](const std::string& data) {
        return "<GetPasswordDataResponse><instanceId>i-win</instanceId><passwordData>\n" + data +
               "\n</passwordData></GetPasswordDataResponse>";
    };
    m_aws->Answer(200, instance("ops"));
    m_aws->Answer(200, passwordData(sealed));
    std::string password;
    ASSERT_TRUE(m_bridge->GetPassword("", "i-win", "ops", password)) << m_bridge->GetLastErrorString();
    EXPECT_EQ("Tr0ub4dor&3", password);

    m_aws->Answer(200, instance("wrong"));
    m_aws->Answer(200, passwordData(sealed));
    EXPECT_FALSE(m_bridge->GetPassword("", "i-win", "wrong", password));
    EXPECT_NE(std::string::npos, m_bridge->GetLastErrorString().find("not the key pair")) << m_bridge->GetLastErrorString();
    m_aws->Answer(200, instance("absent"));
    m_aws->Answer(200, passwordData(sealed));
    EXPECT_FALSE(m_bridge->GetPassword("", "i-win", "absent", password));
    EXPECT_NE(std::string::npos, m_bridge->GetLastErrorString().find("no private key")) << m_bridge->GetLastErrorString();
    m_aws->Answer(200, instance("ops"));
    EXPECT_FALSE(m_bridge->GetPassword("", "i-win", "wrong", password));
    EXPECT_EQ("InvalidParameterValue: key pair does not match", m_bridge->GetLastErrorString());
    m_aws->Answer(200, instance("ops"));
    m_aws->Answer(200, passwordData(""));
    EXPECT_FALSE(m_bridge->GetPassword("", "i-win", "ops", password));
    EXPECT_EQ(0u, m_bridge->GetLastErrorString().rfind("PasswordDataUnavailable", 0));

    const size_t asked = m_aws->Asked().size();
    EXPECT_FALSE(m_bridge->CancelAMITask("ami-1"));
    EXPECT_EQ(0u, m_bridge->GetLastErrorString().rfind("UnsupportedOperation: EC2 cannot cancel", 0));
    EXPECT_EQ(asked, m_aws->Asked().size());
}

// A stand-in for the instance metadata service of the proxy instance: a
// session token, then the role's credentials, as AWS serves them.
class RoleMetadata {
public:
    RoleMetadata() {
        m_server.Put("/latest/api/token", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("session-token", "text/plain");
        });
        m_server.Get("/latest/meta-data/iam/security-credentials/", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("backup-role", "text/plain");
        });
        m_server.Get("/latest/meta-data/iam/security-credentials/backup-role",
                     [this](const httplib::Request& req, httplib::Response& res) {
                         std::lock_guard<std::mutex> lock(m_mutex);
                         ++m_fetches;
                         res.status = req.get_header_value("X-aws-ec2-metadata-token") == "session-token" ? 200 : 401;
                         res.set_content(m_credentials, "text/plain");
                     });
        m_served.emplace(m_server);
    }
    int Port() const { return m_served->Port(); }
    // How many times the role's keys were asked for.
    int Fetches() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_fetches;
    }
    // Keys that expire at expiresSec (epoch seconds).
    void Serve(const std::string& key, int64_t expiresSec) {
        char when[32];
        const time_t t = static_cast<time_t>(expiresSec);
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&t));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_credentials = std::string("{\"Code\": \"") + (key.empty() ? "Failure" : "Success") +
                        "\", \"Type\": \"AWS-HMAC\", \"AccessKeyId\": \"" + key +
                        "\", \"SecretAccessKey\": \"role-secret\", \"Token\": \"role-token\", \"Expiration\": \"" +
                        when + "\"}";
    }

private:
    httplib::Server m_server;
    std::mutex m_mutex;
    std::string m_credentials;
    int m_fetches = 0;
    std::optional<ServedOnLoopback<httplib::Server>> m_served;   // last: stopped first
};

// With no keys given and none in the environment or the credentials file,
// the proxy instance's role signs; its keys are fetched again before they
// expire. Without a metadata service the failure names every place looked.
TEST_F(WireRecorded, TheInstanceRoleSignsLastAndItsKeysAreRenewedBeforeTheyExpire) {
    const std::string missing = FwFile::JoinPath(m_env.BaseDir(), "no-credentials-file");
    for (const char* name : {"AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY", "AWS_SESSION_TOKEN"}) unsetenv(name);
    setenv("AWS_SHARED_CREDENTIALS_FILE", missing.c_str(), 1);
    RoleMetadata metadata;
    metadata.Serve("ASIAROLEFIRST", FwClock::NowSec() + 3600);
    std::string connectTo;
    for (const char* host : {kEc2Host, kStsHost, kEbsHost, kKmsHost, kEc2WestHost, kIamHost})
        connectTo += std::string(host) + ":443:127.0.0.1:" + std::to_string(m_aws->Port()) + ",";
    TestEnv::SetSetting("Base", "sCurlConnectTo", connectTo + "169.254.169.254:80:127.0.0.1:" +
                                                      std::to_string(metadata.Port()));
    m_bridge = std::make_unique<CAmazonSDKBridge>();
    ASSERT_TRUE(m_bridge->initialize("focus", "test", 1));
    m_aws->Answer(200, kIdentity);
    ASSERT_TRUE(m_bridge->Connect("us-east-1", "", "")) << m_bridge->GetLastErrorString();

    const std::string snapshot = "<DescribeSnapshotsResponse><snapshotSet><item><snapshotId>snap-1</snapshotId>"
                                 "<volumeSize>1</volumeSize><status>completed</status></item></snapshotSet>"
                                 "</DescribeSnapshotsResponse>";
    VMInfoStructs::SChildDisk child;
    m_aws->Answer(200, snapshot);
    ASSERT_TRUE(m_bridge->GetSnapshotInfo("snap-1", "us-east-1", child)) << m_bridge->GetLastErrorString();
    // Four minutes before they expire, the next call signs with new keys.
    metadata.Serve("ASIAROLESECOND", FwClock::NowSec() + 7200);
    m_env.Clock().AdvanceMs(56 * 60 * 1000);
    m_aws->Answer(200, snapshot);
    ASSERT_TRUE(m_bridge->GetSnapshotInfo("snap-1", "us-east-1", child)) << m_bridge->GetLastErrorString();
    const auto seen = m_aws->Asked();
    ASSERT_EQ(3u, seen.size());
    EXPECT_NE(std::string::npos, seen[0].authorization.find("Credential=ASIAROLEFIRST/"));
    EXPECT_NE(std::string::npos, seen[1].authorization.find("Credential=ASIAROLEFIRST/"));
    EXPECT_NE(std::string::npos, seen[2].authorization.find("Credential=ASIAROLESECOND/"));
    EXPECT_NE(std::string::npos, seen[2].authorization.find("x-amz-security-token"));

    // The service failing to renew them: keys not yet expired still sign,
    // and the service is asked again only after a pause, not on every
    // request; expired ones fail the call before it is sent.
    metadata.Serve("", FwClock::NowSec() + 7200);
    m_env.Clock().AdvanceMs(60 * 60 * 1000);  // four minutes before the second keys expire
    m_aws->Answer(200, snapshot);
    const int fetches = metadata.Fetches();
    EXPECT_TRUE(m_bridge->GetSnapshotInfo("snap-1", "us-east-1", child)) << m_bridge->GetLastErrorString();
    EXPECT_EQ(fetches + 1, metadata.Fetches());
    m_env.Clock().AdvanceMs(10 * 1000);
    m_aws->Answer(200, snapshot);
    EXPECT_TRUE(m_bridge->GetSnapshotInfo("snap-1", "us-east-1", child)) << m_bridge->GetLastErrorString();
    EXPECT_EQ(fetches + 1, metadata.Fetches()) << "asked again within the pause";
    m_env.Clock().AdvanceMs(5 * 60 * 1000);
    EXPECT_FALSE(m_bridge->GetSnapshotInfo("snap-1", "us-east-1", child));
    EXPECT_EQ(0u, m_bridge->GetLastErrorString().rfind("ExpiredToken", 0)) << m_bridge->GetLastErrorString();
    EXPECT_EQ(fetches + 2, metadata.Fetches()) << "expired keys are always renewed first";
    const auto after = m_aws->Asked();
    ASSERT_EQ(5u, after.size());
    EXPECT_NE(std::string::npos, after[3].authorization.find("Credential=ASIAROLESECOND/"));
    EXPECT_NE(std::string::npos, after[4].authorization.find("Credential=ASIAROLESECOND/"));

    // No metadata service: every place looked is named.
    TestEnv::SetSetting("Base", "sCurlConnectTo", connectTo + "169.254.169.254:80:127.0.0.1:1");
    m_bridge = std::make_unique<CAmazonSDKBridge>();
    ASSERT_TRUE(m_bridge->initialize("focus", "test", 1));
    EXPECT_FALSE(m_bridge->Connect("us-east-1", "", ""));
    const std::string error = m_bridge->GetLastErrorString();
    EXPECT_EQ(0u, error.rfind("NoCredentialProviders", 0)) << error;
    EXPECT_NE(std::string::npos, error.find("no instance role")) << error;
    unsetenv("AWS_SHARED_CREDENTIALS_FILE");
}

// A prepared snapshot's tokens are renewed whole or not at all: a renewal
// that fails fails that read, and a later read renews again and gets the
// block, never zeros for a block it no longer knows. A whole listing asks for
// AWS's largest page.
TEST_F(WireRecorded, AFailedTokenRenewalFailsTheReadAndTheNextReadStillGetsTheData) {
    Connect();
    auto listing = [](int64_t expirySec) {
        return "{\"Blocks\": [{\"BlockIndex\": 0, \"BlockToken\": \"token-0\"}], \"VolumeSize\": 1, "
               "\"BlockSize\": 524288, \"ExpiryTime\": " + std::to_string(expirySec) + "}";
    };
    const std::string block(524288, 'b');
    std::string checksum;
    {
        unsigned char digest[32];
        SHA256(reinterpret_cast<const unsigned char*>(block.data()), block.size(), digest);
        checksum.resize(45);
        checksum.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&checksum[0]), digest, 32));
    }
    m_aws->Answer(200, listing(FwClock::NowSec() + 600));
    ASSERT_TRUE(m_bridge->FillSnapshotAccessInfo("snap-0prepared", "us-east-1")) << m_bridge->GetLastErrorString();
    // Within a minute of the tokens' expiry the read renews them first.
    m_env.Clock().AdvanceMs(570 * 1000);
    for (int i = 0; i < 3; ++i) m_aws->Answer(500, "{\"message\": \"busy\"}", "InternalServerException");
    std::string read(block.size(), 'x');
    auto* out = reinterpret_cast<unsigned char*>(&read[0]);
    EXPECT_FALSE(m_bridge->ReadFromSnapshot("snap-0prepared", "us-east-1", 0, static_cast<long long>(read.size()), out));
    EXPECT_EQ(0u, m_bridge->GetLastErrorString().rfind("InternalServerException", 0)) << m_bridge->GetLastErrorString();
    m_aws->Answer(200, listing(FwClock::NowSec() + 600));
    m_aws->Answer(200, block, "", checksum);
    ASSERT_TRUE(m_bridge->ReadFromSnapshot("snap-0prepared", "us-east-1", 0, static_cast<long long>(read.size()), out))
        << m_bridge->GetLastErrorString();
    EXPECT_TRUE(read == block) << "the block read as " << read.substr(0, 8);
    const auto seen = m_aws->Asked();
    ASSERT_EQ(7u, seen.size());
    EXPECT_NE(std::string::npos, seen[1].body.find("maxResults=10000")) << seen[1].body;
    EXPECT_NE(std::string::npos, seen[6].body.find("/snapshots/snap-0prepared/blocks/0?blockToken=token-0"))
        << seen[6].body;
}

// A restore's launch in a region whose zones include a Local Zone and an
// impaired one takes the first standard zone that is available, and an
// instance EC2 does not list yet just after RunInstances is waited for.
TEST_F(WireRecorded, ALaunchTakesAnAvailableStandardZoneAndWaitsForTheInstanceToBeListed) {
    Connect();
    const std::string ns = " xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\"";
    m_aws->Answer(200, "<DescribeImagesResponse" + ns + "><imagesSet><item><imageId>ami-1</imageId><imageState>"
                       "available</imageState></item></imagesSet></DescribeImagesResponse>");
    m_aws->Answer(200, "<DescribeAvailabilityZonesResponse" + ns + "><availabilityZoneInfo>"
                       "<item><zoneName>us-east-1-bos-1a</zoneName><zoneState>available</zoneState>"
                       "<zoneType>local-zone</zoneType></item>"
                       "<item><zoneName>us-east-1b</zoneName><zoneState>impaired</zoneState>"
                       "<zoneType>availability-zone</zoneType></item>"
                       "<item><zoneName>us-east-1c</zoneName><zoneState>available</zoneState>"
                       "<zoneType>availability-zone</zoneType></item>"
                       "</availabilityZoneInfo></DescribeAvailabilityZonesResponse>");
    m_aws->Answer(200, "<DescribeSubnetsResponse" + ns + "><subnetSet><item><subnetId>subnet-c</subnetId><vpcId>"
                       "vpc-1</vpcId><availabilityZone>us-east-1c</availabilityZone></item></subnetSet>"
                       "</DescribeSubnetsResponse>");
    m_aws->Answer(200, "<RunInstancesResponse" + ns + "><instancesSet><item><instanceId>i-new</instanceId>"
                       "<instanceType>t3.small</instanceType></item></instancesSet></RunInstancesResponse>");
    m_aws->Answer(200, InstancesPage("", ""));  // not listed yet
    m_aws->Answer(200, LaunchedInstance("running"));
    m_aws->Answer(200, "<StopInstancesResponse" + ns + "/>");
    m_aws->Answer(200, LaunchedInstance("stopped"));
    VMInfoStructs::SVMInfo vm;
    vm.amiId = "ami-1";
    vm.instanceType = "t3.small";
    ASSERT_TRUE(m_bridge->RestoreVirtualMachine(vm, false, {}, false)) << m_bridge->GetLastErrorString();
    EXPECT_EQ("i-new", vm.guid);
    EXPECT_EQ("us-east-1c", vm.zone);
    const auto seen = m_aws->Asked();
    ASSERT_EQ(9u, seen.size());
    EXPECT_EQ("us-east-1c", FormValue(seen[4].body, "Placement.AvailabilityZone"));
    EXPECT_EQ("subnet-c", FormValue(seen[4].body, "SubnetId"));
}

// The launch's own root volume makes way for the restored one. Once it is
// detached the instance's clean-up no longer takes it, so it is marked for
// the expired-volume sweep before the detach, and a failed delete names it.
TEST_F(WireRecorded, ALaunchedRootThatCannotBeDeletedIsMarkedForTheSweepAndNamed) {
    Connect();
    const std::string ns = " xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\"";
    const std::string root = "<item><deviceName>/dev/xvda</deviceName><ebs><volumeId>vol-root</volumeId>"
                             "<deleteOnTermination>true</deleteOnTermination></ebs></item>";
    m_aws->Answer(200, "<DescribeImagesResponse" + ns + "><imagesSet><item><imageId>ami-1</imageId><imageState>"
                       "available</imageState></item></imagesSet></DescribeImagesResponse>");
    m_aws->Answer(200, "<DescribeSubnetsResponse" + ns + "><subnetSet/></DescribeSubnetsResponse>");
    m_aws->Answer(200, "<RunInstancesResponse" + ns + "><instancesSet><item><instanceId>i-new</instanceId>"
                       "</item></instancesSet></RunInstancesResponse>");
    m_aws->Answer(200, LaunchedInstance("running", root));
    m_aws->Answer(200, "<StopInstancesResponse" + ns + "/>");
    m_aws->Answer(200, LaunchedInstance("stopped", root));
    m_aws->Answer(200, "<CreateTagsResponse" + ns + "><return>true</return></CreateTagsResponse>");
    m_aws->Answer(200, "<DetachVolumeResponse" + ns + "/>");
    m_aws->Answer(200, "<DescribeVolumesResponse" + ns + "><volumeSet><item><volumeId>vol-root</volumeId>"
                       "<status>available</status></item></volumeSet></DescribeVolumesResponse>");
    m_aws->Answer(400, Ec2Error("UnauthorizedOperation", "You are not authorized to perform this operation."));
    VMInfoStructs::SVMInfo vm;
    vm.amiId = "ami-1";
    vm.zone = "us-east-1c";
    EXPECT_FALSE(m_bridge->RestoreVirtualMachine(vm, true, {}, false));
    EXPECT_EQ("i-new", vm.guid) << "the launched instance is named for the job's clean-up";
    const std::string error = m_bridge->GetLastErrorString();
    EXPECT_EQ(0u, error.rfind("UnauthorizedOperation: You are not authorized", 0)) << error;
    EXPECT_NE(std::string::npos, error.find("vol-root")) << error;
    const auto seen = m_aws->Asked();
    ASSERT_EQ(11u, seen.size());   // after Connect's GetCallerIdentity
    EXPECT_EQ("CreateTags", FormValue(seen[7].body, "Action"));
    EXPECT_EQ("vol-root", FormValue(seen[7].body, "ResourceId.1"));
    EXPECT_EQ("_QX_BACKUP_", FormValue(seen[7].body, "Tag.1.Key"));
    EXPECT_EQ("DetachVolume", FormValue(seen[8].body, "Action"));
    EXPECT_EQ("DeleteVolume", FormValue(seen[10].body, "Action"));
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
