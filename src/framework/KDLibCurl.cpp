#include "framework/KDLibCurl.h"

#include <strings.h>

#include <cstring>
#include <mutex>

#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"

namespace {
const char* const kTag = "KDLibCurl";

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string AgentCaBundle() {
    std::string base = KDPI_Base::getBaseDir();
    if (base.empty()) return std::string();
    std::string path = FwFile::JoinPath(base, "curl-ca-bundle.crt");
    return FwFile::Exists(path) && !FwFile::IsDirectory(path) ? path : std::string();
}
}  // namespace

KDLibCurl::KDLibCurl() { GlobalInit(); }

KDLibCurl::~KDLibCurl() {
    if (m_curl) curl_easy_cleanup(m_curl);
    curl_slist_free_all(m_headers);
    curl_slist_free_all(m_connectTo);
}

bool KDLibCurl::Init() {
    if (!m_curl) {
        m_curl = curl_easy_init();
        if (!m_curl) {
            EvDebug::Error(kTag, "curl_easy_init failed");
            return false;
        }
        char* systemCa = nullptr;
        if (curl_easy_getinfo(m_curl, CURLINFO_CAINFO, &systemCa) == CURLE_OK && systemCa) m_systemCa = systemCa;
    }
    bool ok = curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, m_errorBuffer) == CURLE_OK &&
              curl_easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, &KDLibCurl::CollectHeader) == CURLE_OK &&
              curl_easy_setopt(m_curl, CURLOPT_HEADERDATA, this) == CURLE_OK &&
              // Signals cannot reach the right thread when many readers run.
              curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT, 30L) == CURLE_OK &&
              curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
              curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
              SetWriteFunction(m_writeFn) && ApplyCa() && ApplyConnectTo();
    if (!ok) EvDebug::Error(kTag, "Failed to initialise the HTTP client");
    return ok;
}

bool KDLibCurl::ApplyCa() {
    std::string bundle = m_caBundle.empty() ? AgentCaBundle() : m_caBundle;
    if (bundle.empty()) bundle = m_systemCa;  // libcurl's built-in default: the system store
    if (bundle.empty()) return true;
    return curl_easy_setopt(m_curl, CURLOPT_CAINFO, bundle.c_str()) == CURLE_OK;
}

bool KDLibCurl::ApplyConnectTo() {
    std::vector<std::string> entries;
    KDPlatformInfo settings;
    settings.getStringList("Base", "sCurlConnectTo", entries);
    curl_slist* list = nullptr;
    for (const auto& e : entries) {
        curl_slist* grown = curl_slist_append(list, e.c_str());
        if (!grown) {
            curl_slist_free_all(list);
            return false;
        }
        list = grown;
    }
    if (curl_easy_setopt(m_curl, CURLOPT_CONNECT_TO, list) != CURLE_OK) {
        curl_slist_free_all(list);
        return false;
    }
    curl_slist_free_all(m_connectTo);
    m_connectTo = list;
    return true;
}

bool KDLibCurl::SetCaBundle(const std::string& path) {
    if (!path.empty() && (!FwFile::Exists(path) || FwFile::IsDirectory(path))) {
        EvDebug::Error(kTag, "CA bundle not found: [%s]", path.c_str());
        return false;
    }
    m_caBundle = path;
    return !m_curl || ApplyCa();
}

bool KDLibCurl::SetWriteData(void* data) {
    m_writeData = data;
    if (!m_curl || !m_writeFn) return true;
    return curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, data) == CURLE_OK;
}

bool KDLibCurl::SetWriteFunction(curl_write_callback fn) {
    m_writeFn = fn;
    if (!m_curl) return true;
    if (fn)
        return curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, fn) == CURLE_OK &&
               curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, m_writeData) == CURLE_OK;
    return curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, &KDLibCurl::CollectBody) == CURLE_OK &&
           curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, this) == CURLE_OK;
}

bool KDLibCurl::AppendHeader(const std::string& line) {
    curl_slist* grown = curl_slist_append(m_headers, line.c_str());
    if (!grown) return false;
    m_headers = grown;
    return true;
}

void KDLibCurl::ClearHeaders() {
    curl_slist_free_all(m_headers);
    m_headers = nullptr;
}

bool KDLibCurl::SetProxy(const std::string& proxy, const std::string& user, const std::string& password) {
    if (!m_curl && !Init()) return false;
    const char* name = user.empty() ? nullptr : user.c_str();
    const char* secret = user.empty() ? nullptr : password.c_str();
    return curl_easy_setopt(m_curl, CURLOPT_PROXY, proxy.empty() ? nullptr : proxy.c_str()) == CURLE_OK &&
           curl_easy_setopt(m_curl, CURLOPT_PROXYUSERNAME, name) == CURLE_OK &&
           curl_easy_setopt(m_curl, CURLOPT_PROXYPASSWORD, secret) == CURLE_OK;
}

bool KDLibCurl::BypassProxy() {
    if (!m_curl && !Init()) return false;
    // "" is libcurl's "no proxy", which the environment cannot override.
    return curl_easy_setopt(m_curl, CURLOPT_PROXY, "") == CURLE_OK;
}

bool KDLibCurl::SetOption(CURLoption option, long value) {
    if (!m_curl) return false;
    if (option == CURLOPT_SSL_VERIFYPEER || option == CURLOPT_SSL_VERIFYHOST ||
        option == CURLOPT_PROXY_SSL_VERIFYPEER || option == CURLOPT_PROXY_SSL_VERIFYHOST) {
        EvDebug::Error(kTag, "Certificate verification cannot be changed");
        return false;
    }
    return curl_easy_setopt(m_curl, option, value) == CURLE_OK;
}

const char* KDLibCurl::GetHttpReqTypeString(HTTP_REQ_TYPE type) {
    switch (type) {
        case HTTP_GET: return "GET";
        case HTTP_POST: return "POST";
        case HTTP_PUT: return "PUT";
        case HTTP_DELETE: return "DELETE";
        case HTTP_HEAD: return "HEAD";
    }
    return "GET";
}

long KDLibCurl::TransportErrorCode(CURLcode code) {
    switch (code) {
        case CURLE_OK: return 0;
        case CURLE_OPERATION_TIMEDOUT: return kErrTimeout;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            return kErrConnection;
        default: return kErrTransport;
    }
}

std::string KDLibCurl::UrlEncode(const std::string& text) {
    GlobalInit();
    // curl_easy_escape needs no handle since 7.82; it keeps only RFC 3986's
    // unreserved characters and writes upper-case hex, as request signing
    // expects.
    char* escaped = curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size()));
    if (!escaped) return std::string();
    std::string out(escaped);
    curl_free(escaped);
    return out;
}

bool KDLibCurl::SendRequest(HTTP_REQ_TYPE type, const std::string& url, const std::string& body) {
    m_response.clear();
    m_responseHeaders.clear();
    m_lastError.clear();
    m_httpCode = 0;
    m_errorBuffer[0] = '\0';
    if (!m_curl && !Init()) return false;

    // Reset what a previous request of another type left behind.
    curl_easy_setopt(m_curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(m_curl, CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
    curl_easy_setopt(m_curl, CURLOPT_HTTPGET, 1L);
    switch (type) {
        case HTTP_GET: break;
        case HTTP_HEAD: curl_easy_setopt(m_curl, CURLOPT_NOBODY, 1L); break;
        case HTTP_POST:
        case HTTP_PUT:
        case HTTP_DELETE:
            curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
            curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, body.data());
            if (type != HTTP_POST) curl_easy_setopt(m_curl, CURLOPT_CUSTOMREQUEST, GetHttpReqTypeString(type));
            break;
    }
    curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, m_headers);

    CURLcode rc = curl_easy_perform(m_curl);
    // The body is no longer ours to point at.
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
    if (rc != CURLE_OK) {
        m_httpCode = TransportErrorCode(rc);
        m_lastError = m_errorBuffer[0] ? m_errorBuffer : curl_easy_strerror(rc);
        EvDebug::DebugLvl(kTag, 2, "%s transfer failed: code [%d] [%s] (%ld)", GetHttpReqTypeString(type),
                          static_cast<int>(rc), m_lastError.c_str(), m_httpCode);
        return false;
    }
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &m_httpCode);
    return m_httpCode > 0 && m_httpCode < 400;
}

bool KDLibCurl::GetResponseHeader(const std::string& name, std::string& line) const {
    for (const auto& h : m_responseHeaders) {
        if (h.size() > name.size() && h[name.size()] == ':' && strncasecmp(h.c_str(), name.c_str(), name.size()) == 0) {
            line = h;
            return true;
        }
    }
    return false;
}

size_t KDLibCurl::CollectBody(char* data, size_t size, size_t count, void* self) {
    size_t n = size * count;
    static_cast<KDLibCurl*>(self)->m_response.append(data, n);
    return n;
}

size_t KDLibCurl::CollectHeader(char* data, size_t size, size_t count, void* self) {
    size_t n = size * count;
    auto* me = static_cast<KDLibCurl*>(self);
    // A status line starts a new response (after a 100 Continue, say); only
    // the final response's headers count.
    if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0)
        me->m_responseHeaders.clear();
    else
        me->m_responseHeaders.emplace_back(data, n);
    return n;
}
