#include "framework/KDSRestApiConnection.h"

#include "framework/EvDebug.h"

namespace {
const char* const kTag = "KDSRestApiConnection";
}

VSRestApiRequestOptions::~VSRestApiRequestOptions() = default;

KDSRestApiConnection::KDSRestApiConnection() = default;
KDSRestApiConnection::~KDSRestApiConnection() = default;

bool KDSRestApiConnection::connect(const std::string& baseUrl, bool disableVerification,
                                   const std::string& caBundlePath) {
    if (disableVerification)
        EvDebug::Error(kTag, "Certificate verification cannot be switched off; it stays on");
    m_baseUrl = baseUrl;
    if (!m_curl.Init()) return false;
    return caBundlePath.empty() || m_curl.SetCaBundle(caBundlePath);
}

bool KDSRestApiConnection::get(const std::string& path, std::string& response, VSRestApiRequestOptions* options) {
    return sendReq(HTTP_GET, path, std::string(), response, options);
}

bool KDSRestApiConnection::post(const std::string& path, const std::string& body, std::string& response,
                                VSRestApiRequestOptions* options) {
    return sendReq(HTTP_POST, path, body, response, options);
}

bool KDSRestApiConnection::computeUrl(const std::string& baseUrl, const std::string& path,
                                      const VSRestApiRequestOptions*, std::string& url) {
    url = baseUrl + path;
    return true;
}

void KDSRestApiConnection::recvResp(std::string& response) {
    response.assign(m_curl.GetResponseData(), m_curl.GetResponseLength());
}

bool KDSRestApiConnection::addCurlHeaders(HTTP_REQ_TYPE, const std::string&, const std::string&,
                                          const VSRestApiRequestOptions*) {
    return addCommonCurlHeaders();
}

bool KDSRestApiConnection::sendReq(HTTP_REQ_TYPE type, const std::string& path, const std::string& body,
                                   std::string& response, VSRestApiRequestOptions* options) {
    response.clear();
    std::string url;
    if (!computeUrl(m_baseUrl, path, options, url)) {
        EvDebug::Error(kTag, "Failed to compute the URL for [%s]", path.c_str());
        return false;
    }
    m_curl.ClearHeaders();
    if (!m_contentType.empty() && !m_curl.AppendHeader(m_contentType)) return false;
    if (!addCurlHeaders(type, path, body, options)) return false;
    LogRequest(type, url, body);
    if (!m_curl.SendRequest(type, url, body)) {
        LogError(type, url, body, std::string(m_curl.GetResponseData(), m_curl.GetResponseLength()));
        return false;
    }
    recvResp(response);
    LogResponse(type, url, body);
    return true;
}

void KDSRestApiConnection::LogRequest(HTTP_REQ_TYPE type, const std::string& url, const std::string& body) {
    EvDebug::DebugLvl(kTag, 3, "Request %s [%s] body [%zu] bytes", KDLibCurl::GetHttpReqTypeString(type),
                      url.c_str(), body.size());
}

void KDSRestApiConnection::LogResponse(HTTP_REQ_TYPE type, const std::string& url, const std::string&) {
    EvDebug::DebugLvl(kTag, 3, "Response to %s [%s]: HTTP [%ld]", KDLibCurl::GetHttpReqTypeString(type),
                      url.c_str(), m_curl.GetHttpErrorCode());
}

void KDSRestApiConnection::LogError(HTTP_REQ_TYPE type, const std::string& url, const std::string&,
                                    const std::string& response) {
    EvDebug::DebugLvl(kTag, 2, "Request failed: %s [%s] code [%ld] error [%s] response [%zu] bytes",
                      KDLibCurl::GetHttpReqTypeString(type), url.c_str(), m_curl.GetHttpErrorCode(),
                      m_curl.GetLastError().c_str(), response.size());
}
