#pragma once
// The framework's HTTP client: one libcurl easy handle per object, reused
// for every request so that libcurl keeps the connection alive between them.
// Not thread-safe; one object per thread.
//
// Every object, when initialised:
//  - verifies the server's certificate and host name, always. The CA store is
//    the agent's bundle "<base>/curl-ca-bundle.crt" when that file exists,
//    else the system's store; SetCaBundle names another bundle.
//  - applies the connect-to table of the setting Base/sCurlConnectTo, a
//    comma-separated list of "HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT"
//    entries (curl's --connect-to), so a URL and its Host header stay as
//    written while the connection goes elsewhere.
//
// Outcome of a request, GetHttpErrorCode():
//  - the HTTP status when the exchange completed;
//  - kErrTimeout (601) when the transfer or the connect ran out of time;
//  - kErrConnection (602) when no usable connection was had: name not
//    resolved, connection refused or reset, sending or receiving broken off;
//  - kErrTransport (603) for any other transfer failure (certificate not
//    trusted, TLS or protocol error, a write function that refused data).
// 601 and 602 are transient by nature; 603 is not.
//
// Nothing here logs a header value, so secrets carried in headers stay out
// of the log.
#include <curl/curl.h>

#include <string>
#include <utility>
#include <vector>

#include "framework/FrameworkApi.h"

enum HTTP_REQ_TYPE { HTTP_GET, HTTP_POST, HTTP_PUT, HTTP_DELETE, HTTP_HEAD };

class FW_API KDLibCurl {
public:
    static constexpr long kErrTimeout = 601;
    static constexpr long kErrConnection = 602;
    static constexpr long kErrTransport = 603;

    KDLibCurl();
    ~KDLibCurl();
    KDLibCurl(const KDLibCurl&) = delete;
    KDLibCurl& operator=(const KDLibCurl&) = delete;

    // Creates the handle and applies the defaults above. Called again, it
    // keeps the handle (and its open connections) and re-reads the settings.
    bool Init();

    // A CA bundle to verify against instead of the default; empty restores
    // the default. Fails when the file does not exist.
    bool SetCaBundle(const std::string& path);

    // Where the response body goes. Until a write function is set, the body
    // is collected inside the object (GetResponseData); a null function
    // restores that.
    bool SetWriteData(void* data);
    bool SetWriteFunction(curl_write_callback fn);

    // Request header lines ("Name: value"), sent with every request until
    // ClearHeaders.
    bool AppendHeader(const std::string& line);
    void ClearHeaders();

    // A web proxy for the requests that follow: "host:port" or a URL, with
    // basic authentication when user is not empty. An empty proxy restores
    // libcurl's default (the environment's https_proxy and its kin). The
    // servers behind it are verified as without it, and so is an https://
    // proxy's own certificate.
    bool SetProxy(const std::string& proxy, const std::string& user, const std::string& password);
    // No proxy at all, whatever the environment says, until SetProxy.
    bool BypassProxy();

    // Any integer option, e.g. CURLOPT_TIMEOUT (whole transfer, seconds),
    // CURLOPT_TIMEOUT_MS, CURLOPT_NOSIGNAL. Options that would switch
    // certificate checks off are refused.
    bool SetOption(CURLoption option, long value);

    // Runs one exchange. True only when the transfer completed with an HTTP
    // status below 400; the body of an error status is still delivered.
    bool SendRequest(HTTP_REQ_TYPE type, const std::string& url, const std::string& body);

    // The response of the last request.
    long GetHttpErrorCode() const { return m_httpCode; }
    const char* GetResponseData() const { return m_response.data(); }
    size_t GetResponseLength() const { return m_response.size(); }
    // The raw line of the first response header with this name, compared
    // without regard to letter case, as received ("Name: value\r\n").
    bool GetResponseHeader(const std::string& name, std::string& line) const;
    // libcurl's description of the last transfer failure; empty after success.
    const std::string& GetLastError() const { return m_lastError; }

    static const char* GetHttpReqTypeString(HTTP_REQ_TYPE type);
    // Maps a libcurl result to 601/602/603 (0 for CURLE_OK).
    static long TransportErrorCode(CURLcode code);
    // Percent-encodes everything but RFC 3986's unreserved characters.
    static std::string UrlEncode(const std::string& text);

private:
    static size_t CollectBody(char* data, size_t size, size_t count, void* self);
    static size_t CollectHeader(char* data, size_t size, size_t count, void* self);
    bool ApplyConnectTo();
    bool ApplyCa();

    CURL* m_curl = nullptr;
    curl_slist* m_headers = nullptr;
    curl_slist* m_connectTo = nullptr;
    std::string m_caBundle;
    std::string m_systemCa;
    curl_write_callback m_writeFn = nullptr;
    void* m_writeData = nullptr;
    std::string m_response;
    std::vector<std::string> m_responseHeaders;
    std::string m_lastError;
    long m_httpCode = 0;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};
};
