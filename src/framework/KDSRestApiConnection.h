#pragma once
// Base of the framework's REST connections: one HTTP client (KDLibCurl) per
// connection object, reused for every request, and one exchange per call of
// sendReq. Subclasses shape the exchange through the virtual hooks; the base
// sendReq calls them in this order:
//   computeUrl -> (content type line) -> addCurlHeaders -> LogRequest ->
//   transfer -> recvResp + LogResponse on success, LogError on failure.
// An HTTP status of 400 or above counts as a failed exchange; the client's
// GetHttpErrorCode() then tells the status or its transport code (601/602/
// 603, see KDLibCurl.h).
//
// Not thread-safe; one connection per thread.
#include <string>

#include "framework/FrameworkApi.h"
#include "framework/KDLibCurl.h"

// Per-request options carried through the generic calls; subclasses derive
// their own and cast back.
class FW_API VSRestApiRequestOptions {
public:
    virtual ~VSRestApiRequestOptions();
};

class FW_API KDSRestApiConnection {
public:
    KDSRestApiConnection();
    KDSRestApiConnection(const KDSRestApiConnection&) = delete;
    KDSRestApiConnection& operator=(const KDSRestApiConnection&) = delete;

    // Virtual slots, in this order: destructor, computeUrl, recvResp,
    // addCurlHeaders, addCommonCurlHeaders, addLoginCurlHeaders,
    // saveLoginCurlHeaders, sendReq, LogResponse, LogRequest, LogError.
    virtual ~KDSRestApiConnection();

    // Initialises the client and remembers the base URL. Certificates are
    // always verified: a request to switch verification off is logged and
    // ignored, and without a bundle path the client's default store is used
    // (the agent's bundle, else the system's).
    bool connect(const std::string& baseUrl, bool disableVerification, const std::string& caBundlePath);
    // A whole header line, e.g. "Content-Type: application/json", sent with
    // every request; empty sends none.
    void SetContentType(const std::string& line) { m_contentType = line; }
    static std::string UrlEncode(const std::string& text) { return KDLibCurl::UrlEncode(text); }
    std::string getLastCurlError() const { return m_curl.GetLastError(); }

    bool get(const std::string& path, std::string& response, VSRestApiRequestOptions* options = nullptr);
    bool post(const std::string& path, const std::string& body, std::string& response,
              VSRestApiRequestOptions* options = nullptr);

    KDLibCurl& getCurl() { return m_curl; }
    const KDLibCurl& getCurl() const { return m_curl; }
    const std::string& getBaseUrl() const { return m_baseUrl; }

protected:
    // Default: base URL followed by the path.
    virtual bool computeUrl(const std::string& baseUrl, const std::string& path,
                            const VSRestApiRequestOptions* options, std::string& url);
    // Default: the body the client collected (empty when a subclass installed
    // its own write function).
    virtual void recvResp(std::string& response);
    // Default: addCommonCurlHeaders().
    virtual bool addCurlHeaders(HTTP_REQ_TYPE type, const std::string& path, const std::string& body,
                                const VSRestApiRequestOptions* options);
    virtual bool addCommonCurlHeaders() { return true; }
    virtual bool addLoginCurlHeaders() { return true; }
    virtual bool saveLoginCurlHeaders() { return true; }
    virtual bool sendReq(HTTP_REQ_TYPE type, const std::string& path, const std::string& body,
                         std::string& response, VSRestApiRequestOptions* options);
    // Logging hooks. The defaults log method, URL and sizes, never headers.
    virtual void LogResponse(HTTP_REQ_TYPE type, const std::string& url, const std::string& body);
    virtual void LogRequest(HTTP_REQ_TYPE type, const std::string& url, const std::string& body);
    virtual void LogError(HTTP_REQ_TYPE type, const std::string& url, const std::string& body,
                          const std::string& response);

    KDLibCurl m_curl;
    std::string m_baseUrl;
    std::string m_contentType;
};
