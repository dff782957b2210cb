// The wire backend's HTTPS exchanges through the framework's libcurl wrapper.
#include "bridge/wire/WireHttp.h"

#include <exception>

#include "framework/KDLibCurl.h"

namespace bridgeimpl {
namespace wire {

namespace {

// AWS answers within seconds; a stalled exchange counts as a connection fault.
constexpr long kTransferTimeoutSec = 120;
constexpr long kConnectTimeoutSec = 20;

class CurlTransport final : public Transport {
public:
    HttpResponse Send(const HttpRequest& request) override {
        HttpResponse out;
        try {
            if (!m_curl.Init()) {
                out.transportError = "cannot set up libcurl: " + m_curl.GetLastError();
                return out;
            }
            // The handle is reused: every exchange sets its own bounds.
            m_curl.SetOption(CURLOPT_TIMEOUT_MS, request.timeoutMs > 0 ? request.timeoutMs : kTransferTimeoutSec * 1000);
            m_curl.SetOption(CURLOPT_CONNECTTIMEOUT_MS,
                             request.connectTimeoutMs > 0 ? request.connectTimeoutMs : kConnectTimeoutSec * 1000);
            m_curl.SetOption(CURLOPT_NOSIGNAL, 1L);
            // A link-local address is never reached through a proxy.
            if (!(request.plainHttp ? m_curl.BypassProxy() : m_curl.SetProxy(m_proxy, m_proxyUser, m_proxyPassword))) {
                out.transportError = "cannot set the web proxy up: " + m_curl.GetLastError();
                return out;
            }
            m_curl.ClearHeaders();
            for (const auto& line : request.headers) m_curl.AppendHeader(line);
            const std::string url =
                (request.plainHttp ? "http://" : "https://") + request.host + request.path + (request.query.empty() ? "" : "?" + request.query);
            m_curl.SendRequest(Type(request.method), url, request.body);
            const long code = m_curl.GetHttpErrorCode();
            if (code == KDLibCurl::kErrTimeout || code == KDLibCurl::kErrConnection ||
                code == KDLibCurl::kErrTransport || code == 0) {
                out.transportError = m_curl.GetLastError().empty() ? "no response" : m_curl.GetLastError();
                out.connectionFault = code == KDLibCurl::kErrTimeout || code == KDLibCurl::kErrConnection;
                return out;
            }
            out.status = code;
            out.body.assign(m_curl.GetResponseData(), m_curl.GetResponseLength());
            if (code >= 400) out.errorType = Header("x-amzn-ErrorType");
            else out.checksum = Header("x-amz-Checksum");
        } catch (const std::exception& e) {
            out.status = 0;
            out.transportError = e.what();
        }
        return out;
    }

    void SetWebProxy(const std::string& host, const std::string& user, const std::string& password) override {
        m_proxy = host;
        m_proxyUser = user;
        m_proxyPassword = password;
    }

private:
    // A header of the last answer, its value trimmed; empty when absent.
    std::string Header(const char* name) {
        std::string line;
        if (!m_curl.GetResponseHeader(name, line)) return std::string();
        line = line.substr(line.find(':') + 1);
        const size_t first = line.find_first_not_of(" \t");
        const size_t last = line.find_last_not_of(" \t\r\n");
        return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
    }

    static HTTP_REQ_TYPE Type(const std::string& method) {
        if (method == "POST") return HTTP_POST;
        if (method == "PUT") return HTTP_PUT;
        if (method == "DELETE") return HTTP_DELETE;
        if (method == "HEAD") return HTTP_HEAD;
        return HTTP_GET;
    }

    KDLibCurl m_curl;
    std::string m_proxy, m_proxyUser, m_proxyPassword;
};

}  // namespace

std::unique_ptr<Transport> MakeCurlTransport() { return std::make_unique<CurlTransport>(); }

}  // namespace wire
}  // namespace bridgeimpl
