// The HTTP client and the REST base against loopback HTTPS servers with
// certificates made at test time. Real AWS host names reach the servers
// through the connect-to setting, as they do in the demo.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstring>
#include <mutex>
#include <optional>

#include "cloudsim/endpoints/TestCertificates.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDLibCurl.h"
#include "framework/KDSRestApiConnection.h"
#include "support/LoopbackSockets.h"
#include "support/ServedOnLoopback.h"
#include "support/TestEnv.h"

namespace {
const char* const kEbsHost = "ebs.us-east-1.amazonaws.com";

struct Seen {
    std::string host, target, authorization, contentType;
    std::vector<int> remotePorts;
};

class LoopbackServer {
public:
    explicit LoopbackServer(const cloudsim::endpoints::CertificateFiles& certs)
        : m_server(certs.certFile.c_str(), certs.keyFile.c_str()) {
        m_server.set_keep_alive_timeout(1);
        m_server.Get("/snapshots/snap-1/blocks/0", [this](const httplib::Request& req, httplib::Response& res) {
            Record(req);
            res.set_header("X-Amz-Checksum", " c2l4dGVlbiBieXRlcw== ");
            res.set_content("sixteen bytes!!!", "application/octet-stream");
        });
        m_server.Get("/throttled", [this](const httplib::Request& req, httplib::Response& res) {
            Record(req);
            res.status = 400;
            res.set_content("{\"message\":\"Rate exceeded\"}", "application/json");
        });
        m_server.Post("/echo", [this](const httplib::Request& req, httplib::Response& res) {
            Record(req);
            res.set_content(req.body, "text/plain");
        });
        m_served.emplace(m_server);
    }
    int Port() const { return m_served->Port(); }
    Seen Last() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

private:
    void Record(const httplib::Request& req) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seen.host = req.get_header_value("Host");
        m_seen.target = req.target;
        m_seen.authorization = req.get_header_value("Authorization");
        m_seen.contentType = req.get_header_value("Content-Type");
        m_seen.remotePorts.push_back(req.remote_port);
    }
    httplib::SSLServer m_server;
    std::mutex m_mutex;
    Seen m_seen;
    std::optional<ServedOnLoopback<httplib::SSLServer>> m_served;   // last: stopped first
};

class HttpClient : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBundle();
        RouteEbsTo(m_server.Port());
    }
    void WriteBundle() {
        ASSERT_TRUE(FwFile::WriteAllAtomic(FwFile::JoinPath(m_env.BaseDir(), "curl-ca-bundle.crt"), CaPem()));
    }
    static void RouteEbsTo(int port) {
        TestEnv::SetSetting("Base", "sCurlConnectTo",
                            std::string("other.example:443:127.0.0.1:1, ") + kEbsHost + ":443:127.0.0.1:" +
                                std::to_string(port));
    }
    static std::string EbsUrl(const std::string& path) { return std::string("https://") + kEbsHost + path; }
    static std::string Body(const KDLibCurl& c) { return std::string(c.GetResponseData(), c.GetResponseLength()); }

    // A throwaway CA and a server certificate it signed, in a folder of their own.
    static cloudsim::endpoints::CertificateFiles Certificates(const std::string& folder,
                                                              const std::vector<std::string>& names) {
        if (!FwFile::MakeDirs(folder)) throw std::runtime_error("cannot make " + folder);
        return cloudsim::endpoints::WriteTestCertificates(folder, names, {"127.0.0.1"});
    }
    std::string CaPem() const { return TestEnv::ReadFile(m_certs.caFile); }

    TestEnv m_env;
    cloudsim::endpoints::CertificateFiles m_certs = Certificates(m_env.BaseDir() + "/certs", {kEbsHost, "localhost"});
    LoopbackServer m_server{m_certs};
};
}  // namespace

TEST_F(HttpClient, ConnectToReachesLoopbackWithRealHostAndReusesTheConnection) {
    KDLibCurl curl;
    ASSERT_TRUE(curl.Init());
    const std::string url = EbsUrl("/snapshots/snap-1/blocks/0?blockToken=a%3Db&Action=GetSnapshotBlock");
    ASSERT_TRUE(curl.SendRequest(HTTP_GET, url, "")) << curl.GetLastError();
    EXPECT_EQ(200, curl.GetHttpErrorCode());
    EXPECT_EQ("sixteen bytes!!!", Body(curl));
    EXPECT_TRUE(curl.GetLastError().empty());
    Seen first = m_server.Last();
    EXPECT_EQ(kEbsHost, first.host) << "the Host header is the URL's, not the loopback address";
    EXPECT_EQ("/snapshots/snap-1/blocks/0?blockToken=a%3Db&Action=GetSnapshotBlock", first.target);

    // Response headers by name, whatever the letter case; the raw line is
    // handed back for the caller to trim.
    std::string line;
    for (const char* name : {"x-amz-checksum", "X-AMZ-CHECKSUM", "X-Amz-Checksum"}) {
        ASSERT_TRUE(curl.GetResponseHeader(name, line)) << name;
        EXPECT_EQ(0u, line.find("X-Amz-Checksum:")) << line;
        EXPECT_NE(std::string::npos, line.find("c2l4dGVlbiBieXRlcw==")) << line;
    }
    EXPECT_FALSE(curl.GetResponseHeader("x-amz", line)) << "a prefix of a name is not the name";
    EXPECT_FALSE(curl.GetResponseHeader("x-amz-checksum-crc32", line));

    ASSERT_TRUE(curl.SendRequest(HTTP_GET, url, ""));
    Seen second = m_server.Last();
    ASSERT_EQ(2u, second.remotePorts.size());
    EXPECT_EQ(second.remotePorts[0], second.remotePorts[1]) << "one object keeps its connection open";
}

TEST_F(HttpClient, PostCarriesBodyAndHeadersAndClearsThemOnRequest) {
    KDLibCurl curl;
    ASSERT_TRUE(curl.Init());
    ASSERT_TRUE(curl.AppendHeader("Content-Type: text/plain"));
    ASSERT_TRUE(curl.SendRequest(HTTP_POST, EbsUrl("/echo"), std::string("a\0b", 3)));
    EXPECT_EQ(std::string("a\0b", 3), Body(curl)) << "the body goes by length, NULs included";
    EXPECT_EQ("text/plain", m_server.Last().contentType);
    curl.ClearHeaders();
    ASSERT_TRUE(curl.SendRequest(HTTP_GET, EbsUrl("/snapshots/snap-1/blocks/0"), ""));
    EXPECT_EQ("sixteen bytes!!!", Body(curl)) << "a GET after a POST is a GET again";
    std::string line;
    ASSERT_TRUE(curl.GetResponseHeader("content-length", line));
    EXPECT_NE(std::string::npos, line.find("16")) << "only the last response's headers: " << line;
}

TEST_F(HttpClient, ErrorStatusFailsButKeepsItsBody) {
    KDLibCurl curl;
    ASSERT_TRUE(curl.Init());
    EXPECT_FALSE(curl.SendRequest(HTTP_GET, EbsUrl("/throttled"), ""));
    EXPECT_EQ(400, curl.GetHttpErrorCode());
    EXPECT_NE(std::string::npos, Body(curl).find("Rate exceeded"));
}

TEST_F(HttpClient, CertificatesAreAlwaysVerified) {
    LoopbackServer impostor(Certificates(m_env.BaseDir() + "/someone-elses-ca", {kEbsHost}));
    RouteEbsTo(impostor.Port());

    KDLibCurl curl;
    ASSERT_TRUE(curl.Init());
    EXPECT_FALSE(curl.SetOption(CURLOPT_SSL_VERIFYPEER, 0L));
    EXPECT_FALSE(curl.SetOption(CURLOPT_SSL_VERIFYHOST, 0L));
    EXPECT_FALSE(curl.SendRequest(HTTP_GET, EbsUrl("/snapshots/snap-1/blocks/0"), ""));
    EXPECT_EQ(KDLibCurl::kErrTransport, curl.GetHttpErrorCode()) << "not retryable";
    EXPECT_NE(std::string::npos, curl.GetLastError().find("certificate")) << curl.GetLastError();
    EXPECT_TRUE(impostor.Last().target.empty()) << "no request reached the untrusted server";

    // Asking the REST base to switch verification off changes nothing, and
    // without the agent's bundle the system store does not know our test CA.
    ASSERT_TRUE(FwFile::RemoveFile(FwFile::JoinPath(m_env.BaseDir(), "curl-ca-bundle.crt")));
    RouteEbsTo(m_server.Port());
    KDSRestApiConnection rest;
    ASSERT_TRUE(rest.connect("", true, ""));
    std::string response;
    EXPECT_FALSE(rest.get(EbsUrl("/snapshots/snap-1/blocks/0"), response));
    EXPECT_EQ(KDLibCurl::kErrTransport, rest.getCurl().GetHttpErrorCode());
    EXPECT_TRUE(m_server.Last().target.empty());

    // A bundle named by the caller works where the default does not.
    std::string bundle = FwFile::JoinPath(m_env.BaseDir(), "elsewhere.pem");
    ASSERT_TRUE(FwFile::WriteAllAtomic(bundle, CaPem()));
    KDSRestApiConnection named;
    EXPECT_FALSE(named.connect("", false, bundle + ".missing"));
    ASSERT_TRUE(named.connect("", false, bundle));
    EXPECT_TRUE(named.get(EbsUrl("/snapshots/snap-1/blocks/0"), response)) << named.getLastCurlError();
}

TEST_F(HttpClient, TransportFailuresGetRetryableCodes) {
    RouteEbsTo(ClosedPort());
    KDLibCurl refused;
    ASSERT_TRUE(refused.Init());
    EXPECT_FALSE(refused.SendRequest(HTTP_GET, EbsUrl("/snapshots/snap-1/blocks/0"), ""));
    EXPECT_EQ(KDLibCurl::kErrConnection, refused.GetHttpErrorCode());

    // The one real wait in the tests: the client's own time-out, kept short.
    SilentListener silent;
    RouteEbsTo(silent.Port());
    KDLibCurl slow;
    ASSERT_TRUE(slow.Init());
    ASSERT_TRUE(slow.SetOption(CURLOPT_TIMEOUT_MS, 300L));
    EXPECT_FALSE(slow.SendRequest(HTTP_GET, EbsUrl("/snapshots/snap-1/blocks/0"), ""));
    EXPECT_EQ(KDLibCurl::kErrTimeout, slow.GetHttpErrorCode()) << slow.GetLastError();

    EXPECT_EQ(KDLibCurl::kErrConnection, KDLibCurl::TransportErrorCode(CURLE_COULDNT_RESOLVE_HOST));
    EXPECT_EQ(KDLibCurl::kErrConnection, KDLibCurl::TransportErrorCode(CURLE_RECV_ERROR));
    EXPECT_EQ(KDLibCurl::kErrTransport, KDLibCurl::TransportErrorCode(CURLE_WRITE_ERROR));
}

TEST(HttpEncoding, UrlEncodeKeepsOnlyUnreserved) {
    EXPECT_EQ("AZaz09-_.~", KDLibCurl::UrlEncode("AZaz09-_.~"));
    EXPECT_EQ("a%3Db%2Bc%2Fd%20e%25f%26", KDLibCurl::UrlEncode("a=b+c/d e%f&"));
    EXPECT_EQ("%00%C3%A9", KDLibCurl::UrlEncode(std::string("\0\xc3\xa9", 3)));
    EXPECT_EQ("", KDSRestApiConnection::UrlEncode(""));
}

namespace {
// A REST connection as the plug-in's signed connection uses the base: its
// own URL, headers and write function, the body landing in a caller buffer.
class RecordingConnection : public KDSRestApiConnection {
public:
    std::vector<std::string> calls;
    char buffer[64] = {};
    size_t received = 0;

    bool Setup() {
        SetContentType("Content-Type: application/x-www-form-urlencoded");
        return connect("ignored", false, "") && getCurl().SetWriteData(this) &&
               getCurl().SetWriteFunction(&RecordingConnection::Write);
    }

protected:
    bool computeUrl(const std::string&, const std::string& path, const VSRestApiRequestOptions*,
                    std::string& url) override {
        calls.push_back("computeUrl");
        url = std::string("https://") + kEbsHost + path;
        return true;
    }
    bool addCurlHeaders(HTTP_REQ_TYPE type, const std::string&, const std::string&,
                        const VSRestApiRequestOptions*) override {
        calls.push_back(std::string("addCurlHeaders ") + KDLibCurl::GetHttpReqTypeString(type));
        return getCurl().AppendHeader("authorization: AWS4-HMAC-SHA256 Signature=top-secret-signature") &&
               getCurl().AppendHeader("x-amz-security-token: top-secret-token");
    }
    void recvResp(std::string&) override { calls.push_back("recvResp"); }
    void LogRequest(HTTP_REQ_TYPE t, const std::string& u, const std::string& b) override {
        calls.push_back("LogRequest");
        KDSRestApiConnection::LogRequest(t, u, b);
    }
    void LogResponse(HTTP_REQ_TYPE t, const std::string& u, const std::string& b) override {
        calls.push_back("LogResponse");
        KDSRestApiConnection::LogResponse(t, u, b);
    }
    void LogError(HTTP_REQ_TYPE t, const std::string& u, const std::string& b, const std::string& r) override {
        calls.push_back("LogError");
        KDSRestApiConnection::LogError(t, u, b, r);
    }

private:
    static size_t Write(char* data, size_t size, size_t count, void* self) {
        auto* me = static_cast<RecordingConnection*>(self);
        size_t n = size * count;
        if (me->received + n > sizeof me->buffer) return 0;
        std::memcpy(me->buffer + me->received, data, n);
        me->received += n;
        return n;
    }
};
}  // namespace

TEST_F(HttpClient, RestBaseRunsOneExchangeThroughItsHooks) {
    std::vector<std::string> logged;
    EvDebug::SetTap([&](int, const std::string& tag, const std::string& msg) { logged.push_back(tag + " " + msg); });
    RecordingConnection conn;
    ASSERT_TRUE(conn.Setup());
    std::string response = "stale";
    ASSERT_TRUE(conn.get("/snapshots/snap-1/blocks/0", response)) << conn.getLastCurlError();
    EXPECT_EQ((std::vector<std::string>{"computeUrl", "addCurlHeaders GET", "LogRequest", "recvResp", "LogResponse"}),
              conn.calls);
    EXPECT_EQ("sixteen bytes!!!", std::string(conn.buffer, conn.received)) << "the body lands in the caller's buffer";
    EXPECT_TRUE(response.empty());
    Seen seen = m_server.Last();
    EXPECT_EQ(kEbsHost, seen.host);
    EXPECT_EQ("application/x-www-form-urlencoded", seen.contentType);
    EXPECT_EQ("AWS4-HMAC-SHA256 Signature=top-secret-signature", seen.authorization);

    // An error status is a failed exchange; so is a body larger than the
    // caller's buffer, which the write function refuses.
    conn.calls.clear();
    conn.received = 0;
    EXPECT_FALSE(conn.get("/throttled", response));
    EXPECT_EQ((std::vector<std::string>{"computeUrl", "addCurlHeaders GET", "LogRequest", "LogError"}), conn.calls);
    EXPECT_EQ(400, conn.getCurl().GetHttpErrorCode());
    EXPECT_NE(std::string::npos, std::string(conn.buffer, conn.received).find("Rate exceeded"));

    std::string big(100, 'x');
    conn.received = 0;
    EXPECT_FALSE(conn.post("/echo", big, response));
    EXPECT_EQ(KDLibCurl::kErrTransport, conn.getCurl().GetHttpErrorCode());

    EvDebug::SetTap(nullptr);
    ASSERT_FALSE(logged.empty());
    for (const auto& line : logged) EXPECT_EQ(std::string::npos, line.find("top-secret")) << line;
}
