#include "ebsdirect/AmazonRESTAPIConnection.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <nlohmann/json.hpp>

#include "ebsdirect/ZeroBlockCheck.h"
#include "framework/Base64.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/Hashing.h"
#include "framework/ZeroBytes.h"
#include "framework/KDPlatformInfo.h"

namespace AmazonDirectSnapshotAccessAPI {

namespace {
const char* const kTag = "CAmazonRESTAPIConnection";
const char* const kDomain = "amazonaws.com";
const char* const kChinaSuffix = ".cn";
const char* const kTrimmed = "\r\n\t ";

std::string Trim(const std::string& text) {
    return boost::algorithm::trim_copy_if(text, boost::algorithm::is_any_of(kTrimmed));
}
}  // namespace

// Seeded apart per connection, so that threads failing together spread out.
CAmazonRESTAPIConnection::CAmazonRESTAPIConnection()
    : m_jitter(static_cast<std::minstd_rand::result_type>(
          static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
          reinterpret_cast<uintptr_t>(this))) {}
CAmazonRESTAPIConnection::~CAmazonRESTAPIConnection() = default;

bool CAmazonRESTAPIConnection::initialize(AWSCredentials credentials, RefreshCredentialsCallBackType refresh,
                                          void* owner, const AWSConnectionConfiguration* config) {
    if (!config) {
        EvDebug::Error(kTag, "No connection configuration");
        return false;
    }
    m_config = config;
    m_credentials = std::move(credentials);
    m_refresh = std::move(refresh);
    m_owner = owner;

    // Without the agent's bundle the client verifies against the system's
    // store: switching verification off would let anyone on the path read
    // and alter the backed-up data.
    std::string bundle = getCaBundlePath();
    if (bundle.empty()) EvDebug::Debug(kTag, "CA bundle not found. Verifying against the system CA store");

    SetContentType("Content-Type: application/x-www-form-urlencoded");
    if (!connect(std::string(), false, bundle)) {
        EvDebug::Error(kTag, "Failed to initialize the HTTP client");
        return false;
    }
    if (!m_curl.SetWriteData(&m_download)) {
        EvDebug::Error(kTag, "Failed to set write data");
        return false;
    }
    if (!m_curl.SetWriteFunction(&CAmazonRESTAPIConnection::curl_write_callback)) {
        EvDebug::Error(kTag, "Failed to set write callback function");
        return false;
    }
    if (!m_curl.SetOption(CURLOPT_TIMEOUT, static_cast<long>(m_config->timeoutSeconds))) {
        EvDebug::Error(kTag, "Failed to set option CURLOPT_TIMEOUT.");
        return false;
    }
    return true;
}

std::string CAmazonRESTAPIConnection::getCaBundlePath() {
    std::string base;
    if (!KDPlatformInfo().getString("Base", "dBASEHOME", base) || base.empty()) {
        EvDebug::Error(kTag, "Failed to get base path.");
        return std::string();
    }
    std::string path = FwFile::JoinPath(base, "curl-ca-bundle.crt");
    if (!FwFile::Exists(path) || FwFile::IsDirectory(path)) {
        EvDebug::Debug(kTag, "File does not exist: [%s]", path.c_str());
        return std::string();
    }
    return path;
}

AWSRequestOptions* CAmazonRESTAPIConnection::castToAWSRequestOptions(VSRestApiRequestOptions* options) {
    if (!options) {
        EvDebug::Error(kTag, "Incorrect argument type");
        return nullptr;
    }
    return dynamic_cast<AWSRequestOptions*>(options);
}

const AWSRequestOptions* CAmazonRESTAPIConnection::castToAWSRequestOptions(const VSRestApiRequestOptions* options) {
    return castToAWSRequestOptions(const_cast<VSRestApiRequestOptions*>(options));
}

bool CAmazonRESTAPIConnection::sendReq(HTTP_REQ_TYPE type, const std::string& path, const std::string& body,
                                       std::string& response, VSRestApiRequestOptions* options) {
    response.clear();
    m_lastError = AWSErrorAnswer{};
    m_failure.clear();
    if (!encodeQueryParameters(options)) {
        m_failure = describeFailure(type, path, options, 0, "invalid request options");
        return false;
    }
    uint32_t waitMs = kFirstWaitMs;
    uint32_t retries = 0;
    uint32_t refreshes = 0;
    uint32_t tries = 0;
    bool success = false;
    std::string cause;   // set where the failure is not the last answer's
    for (;;) {
        if (!prepareForRequest(type, options)) {
            cause = "invalid request options";
            break;
        }
        ++tries;
        bool checksumFailed = false;
        if (sendReqAndValidateCheckSum(type, path, body, response, options, checksumFailed)) {
            success = true;
            break;
        }
        readErrorAnswer();
        if (isTokenExpiredError()) {
            if (++refreshes > kMaxTokenRefreshes) {
                EvDebug::Error(kTag, "Security token still expired after [%u] credential refreshes.",
                               kMaxTokenRefreshes);
                cause = "the security token is still expired after " + std::to_string(kMaxTokenRefreshes) +
                        " credential refreshes";
                break;
            }
            if (!m_refresh || !m_refresh(m_owner, m_credentials)) {
                cause = "the security token expired and no fresh credentials could be had";
                break;
            }
            waitMs = kFirstWaitMs;
            retries = 0;
            continue;
        }
        if (!isRetryableError(checksumFailed)) break;
        if (++retries > kMaxRetries) {
            EvDebug::Error(kTag, "Maximum number of retries [%u] attempted.", kMaxRetries);
            if (checksumFailed) cause = "the body of " + path + " did not match its checksum";
            break;
        }
        // A retryable answer ends any run of refreshes: the credentials worked.
        refreshes = 0;
        const uint32_t sleepMs = jitteredWaitMs(waitMs);
        EvDebug::DebugLvl(kTag, 2, "Retryable error encountered. Will retry after [%lu] milli seconds",
                          static_cast<unsigned long>(sleepMs));
        FwClock::SleepMs(sleepMs);
        if (waitMs != kLongestWaitMs) waitMs = std::min(waitMs * kWaitFactor, kLongestWaitMs);
    }
    if (!success) {
        LogNonRetryableError(type, path, body, options);
        m_failure = describeFailure(type, path, options, tries, cause);
    }
    finishRequest(type, options, success);
    return success;
}

bool CAmazonRESTAPIConnection::encodeQueryParameters(VSRestApiRequestOptions* options) {
    AWSRequestOptions* aws = castToAWSRequestOptions(options);
    if (!aws) return false;
    for (auto& p : aws->queryParameters) {
        p.name = UrlEncode(p.name);
        p.value = UrlEncode(p.value);
    }
    return true;
}

bool CAmazonRESTAPIConnection::prepareForRequest(HTTP_REQ_TYPE type, VSRestApiRequestOptions* options) {
    AWSRequestOptions* aws = castToAWSRequestOptions(options);
    if (!aws) {
        EvDebug::Error(kTag, "Invalid request options");
        return false;
    }
    if (type == HTTP_GET) {
        if (!aws->downloadBuffer) {
            EvDebug::Error(kTag, "Invalid download buffer.");
            return false;
        }
        m_download = CurlDownloadData{0, aws->downloadBufferSize, aws->downloadBuffer};
    }
    return true;
}

bool CAmazonRESTAPIConnection::sendReqAndValidateCheckSum(HTTP_REQ_TYPE type, const std::string& path,
                                                          const std::string& body, std::string& response,
                                                          VSRestApiRequestOptions* options, bool& checksumFailed) {
    checksumFailed = false;
    if (!KDSRestApiConnection::sendReq(type, path, body, response, options)) return false;
    const AWSRequestOptions* aws = castToAWSRequestOptions(options);
    if (type == HTTP_GET && aws && aws->checksummedBody && m_config && m_config->validateChecksum &&
        !validateCheckSum()) {
        EvDebug::Error(kTag, "Checksum validation failed");
        checksumFailed = true;
        return false;
    }
    return true;
}

bool CAmazonRESTAPIConnection::validateCheckSum() {
    std::string expected;
    if (!getResponseHeaderValue(kChecksumHeader, expected) || expected.empty()) {
        EvDebug::Error(kTag, "Failed to get checksum from response header");
        return false;
    }
    const size_t received = static_cast<size_t>(m_download.received);
    // A block announced as zeros is checked for zeros: the same verdict as
    // hashing it, and a block that is not zeros still fails as a mismatch.
    if (received == kEbsBlockBytes && expected == ZeroBlockChecksum()) return FwBytes::IsAllZero(m_download.buffer, received);
    std::string actual = computeCheckSum(m_download.buffer, received);
    if (actual.empty()) {
        EvDebug::Error(kTag, "Failed to compute checksum");
        return false;
    }
    return actual == expected;
}

std::string CAmazonRESTAPIConnection::computeCheckSum(const void* data, size_t length) {
    std::string encoded;
    if (!KdcBase64::Encode(KdcSHA256::Digest(length ? data : "", length), encoded)) {
        EvDebug::Error(kTag, "Base64 encode failed");
        return std::string();
    }
    return Trim(encoded);
}

bool CAmazonRESTAPIConnection::getResponseHeaderValue(const char* name, std::string& value) {
    value.clear();
    std::string line;
    if (!m_curl.GetResponseHeader(name, line)) {
        EvDebug::Error(kTag, "Could not read response header: [%s]", name);
        return false;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos) {
        EvDebug::Error(kTag, "Invalid header: [%s]", name);
        return false;
    }
    value = Trim(line.substr(colon + 1));
    return true;
}

void CAmazonRESTAPIConnection::finishRequest(HTTP_REQ_TYPE type, VSRestApiRequestOptions* options, bool success) {
    AWSRequestOptions* aws = castToAWSRequestOptions(options);
    if (!aws) {
        EvDebug::Error(kTag, "Invalid request options");
        return;
    }
    if (type == HTTP_GET) {
        aws->bytesReceived = success ? m_download.received : 0;
        m_download = CurlDownloadData{};
    }
}

bool CAmazonRESTAPIConnection::isTokenExpiredError() {
    const char* text = getNullTerminatedResponseBufferPtr();
    return text && std::strstr(text, kTokenExpiredText) != nullptr;
}

bool CAmazonRESTAPIConnection::isRetryableError(bool checksumFailed) {
    if (checksumFailed) return true;
    const long code = m_lastError.httpCode;
    if (code >= 500 && code <= 599) return true;
    if (code == KDLibCurl::kErrTimeout || code == KDLibCurl::kErrConnection) return true;
    if (m_lastError.type == "ThrottlingException" || m_lastError.type == "RequestThrottledException") return true;
    const char* text = getNullTerminatedResponseBufferPtr();
    return text && std::strstr(text, kRateExceededText) != nullptr;
}

void CAmazonRESTAPIConnection::readErrorAnswer() {
    m_lastError = AWSErrorAnswer{};
    m_lastError.httpCode = m_curl.GetHttpErrorCode();
    std::string line;
    if (m_curl.GetResponseHeader(kErrorTypeHeader, line)) {
        // "ValidationException:http://internal.amazon.com/coral/..." names
        // its type before the colon.
        const std::string value = Trim(line.substr(line.find(':') + 1));
        m_lastError.type = value.substr(0, value.find(':'));
    }
    const char* text = getNullTerminatedResponseBufferPtr();
    if (!text || *text != '{') return;
    const nlohmann::json body = nlohmann::json::parse(text, nullptr, false);
    if (!body.is_object()) return;
    auto reason = body.find("Reason");
    if (reason != body.end() && reason->is_string()) m_lastError.reason = reason->get<std::string>();
    for (const char* key : {"Message", "message"}) {
        auto message = body.find(key);
        if (message != body.end() && message->is_string()) m_lastError.message = message->get<std::string>();
    }
}

std::string CAmazonRESTAPIConnection::describeFailure(HTTP_REQ_TYPE type, const std::string& path,
                                                      const VSRestApiRequestOptions* options, uint32_t tries,
                                                      const std::string& cause) {
    const AWSRequestOptions* aws = castToAWSRequestOptions(options);
    const std::string endpoint = aws ? "https://" + getAPIEndpoint(aws->region, aws->service) : std::string("EBS");
    const std::string after = tries > 1 ? " (after " + std::to_string(tries) + " tries)" : std::string();
    if (!cause.empty()) return endpoint + ": " + cause + after;
    const long code = m_lastError.httpCode;
    // The query is left out: it carries block tokens.
    if (code == KDLibCurl::kErrConnection) return "cannot connect to " + endpoint + ": " + getLastCurlError() + after;
    if (code == KDLibCurl::kErrTimeout) return "no answer in time from " + endpoint + ": " + getLastCurlError() + after;
    if (code == KDLibCurl::kErrTransport || code <= 0)
        return "the request to " + endpoint + " failed: " +
               (getLastCurlError().empty() ? std::string("no answer") : getLastCurlError()) + after;
    std::string text = std::string(KDLibCurl::GetHttpReqTypeString(type)) + " " + endpoint + path + ": HTTP " +
                       std::to_string(code);
    if (!m_lastError.type.empty()) text += " " + m_lastError.type;
    if (!m_lastError.reason.empty()) text += " (" + m_lastError.reason + ")";
    if (!m_lastError.message.empty()) text += ": " + m_lastError.message;
    return text + after;
}

uint32_t CAmazonRESTAPIConnection::jitteredWaitMs(uint32_t nominalMs) {
    std::uniform_int_distribution<uint32_t> spread(nominalMs / 2, nominalMs);
    return spread(m_jitter);
}

const char* CAmazonRESTAPIConnection::getNullTerminatedResponseBufferPtr() {
    // A full buffer has no room for the terminator; it is not scanned rather
    // than read past its end.
    if (!m_download.buffer || m_download.received >= m_download.capacity) return "";
    m_download.buffer[m_download.received] = '\0';
    return reinterpret_cast<const char*>(m_download.buffer);
}

size_t CAmazonRESTAPIConnection::curl_write_callback(char* data, size_t size, size_t count, void* userdata) {
    const size_t n = size * count;
    if (n == 0 || !data) return 0;
    auto* download = static_cast<CurlDownloadData*>(userdata);
    if (!download) {
        EvDebug::Error(kTag, "Invalid userdata pointer.");
        return 0;
    }
    if (!download->buffer || download->received + n > download->capacity) {
        EvDebug::Error(kTag, "Dowload buffer overflow. BufferSize: [%zu], BytesReceived: [%zu], BytesToWrite: [%zu]",
                       static_cast<size_t>(download->capacity), static_cast<size_t>(download->received), n);
        return 0;
    }
    std::memcpy(download->buffer + download->received, data, n);
    download->received += n;
    return n;
}

std::string CAmazonRESTAPIConnection::getAPIEndpoint(const std::string& region, const std::string& service) {
    std::string host = service;
    if (service != "iam") host += "." + region;
    host += ".";
    host += kDomain;
    if (region.size() >= 3 && strncasecmp(region.c_str(), "cn-", 3) == 0) host += kChinaSuffix;
    return host;
}

std::string CAmazonRESTAPIConnection::formQueryString(const std::vector<HttpQueryParameter>& parameters) {
    return CAmazonRequestSigner::formQueryString(parameters);
}

bool CAmazonRESTAPIConnection::computeUrl(const std::string&, const std::string& path,
                                          const VSRestApiRequestOptions* options, std::string& url) {
    const AWSRequestOptions* aws = castToAWSRequestOptions(options);
    if (!aws) return false;
    std::string query = formQueryString(aws->queryParameters);
    url = "https://" + getAPIEndpoint(aws->region, aws->service) + path;
    if (!query.empty()) url += "?" + query;
    return true;
}

AWSRequestTime CAmazonRESTAPIConnection::getCurrentTime() {
    return CAmazonRequestSigner::formRequestTime(FwClock::NowSec());
}

bool CAmazonRESTAPIConnection::addCurlHeaders(HTTP_REQ_TYPE type, const std::string& path, const std::string& body,
                                              const VSRestApiRequestOptions* options) {
    const AWSRequestOptions* aws = castToAWSRequestOptions(options);
    if (!aws) return false;
    CAmazonRequestSigner::Request request{KDLibCurl::GetHttpReqTypeString(type), path, aws->queryParameters, {}, body};
    std::vector<HttpHeader> headers =
        m_signer.formHttpHeaders(std::move(request), getAPIEndpoint(aws->region, aws->service), getCurrentTime(),
                                 aws->region, aws->service, m_credentials);
    if (headers.empty()) return false;
    for (const auto& h : headers) {
        if (!m_curl.AppendHeader(h.name + ": " + h.value)) {
            EvDebug::Error(kTag, "Failed to set header: [%s]", h.name.c_str());
            return false;
        }
    }
    return true;
}

void CAmazonRESTAPIConnection::LogRequest(HTTP_REQ_TYPE type, const std::string& url, const std::string& body) {
    EvDebug::DebugLvl(kTag, 3, "Sending Request=> RequestType: [%s] Url: [%s] RequestSize: [%zu]",
                      KDLibCurl::GetHttpReqTypeString(type), url.c_str(), body.size());
}

void CAmazonRESTAPIConnection::LogResponse(HTTP_REQ_TYPE, const std::string&, const std::string&) {
    EvDebug::DebugLvl(kTag, 3, "Received Response=> ResponseSize: [%zu]", static_cast<size_t>(m_download.received));
}

void CAmazonRESTAPIConnection::LogError(HTTP_REQ_TYPE type, const std::string& url, const std::string& body,
                                        const std::string&) {
    EvDebug::DebugLvl(kTag, 2,
                      "Request Failed=> HttpCode: [%d] CurlError: [%s]. RequestType: [%s] Url: [%s] "
                      "RequestBodySize: [%zu] ResponseSize: [%zu] Response: [%s]",
                      static_cast<int>(m_curl.GetHttpErrorCode()), getLastCurlError().c_str(),
                      KDLibCurl::GetHttpReqTypeString(type), url.c_str(), body.size(),
                      static_cast<size_t>(m_download.received), getNullTerminatedResponseBufferPtr());
}

void CAmazonRESTAPIConnection::LogNonRetryableError(HTTP_REQ_TYPE type, const std::string& path,
                                                    const std::string& body, VSRestApiRequestOptions* options) {
    std::string url;
    computeUrl(m_baseUrl, path, options, url);
    EvDebug::Error(kTag,
                   "Failed to send request=> HttpCode: [%d] CurlError: [%s]. RequestType: [%s] Url: [%s] "
                   "RequestBodySize: [%zu] ResponseSize: [%zu] Response: [%s]",
                   static_cast<int>(m_curl.GetHttpErrorCode()), getLastCurlError().c_str(),
                   KDLibCurl::GetHttpReqTypeString(type), url.c_str(), body.size(),
                   static_cast<size_t>(m_download.received), getNullTerminatedResponseBufferPtr());
}

bool CAmazonRESTAPIConnection::SimpleHttpGet(const std::string& url, std::string& response) {
    return SimpleHttpRequest(HTTP_GET, url, {}, std::string(), response);
}

bool CAmazonRESTAPIConnection::SimpleHttpRequest(HTTP_REQ_TYPE type, const std::string& url,
                                                 const std::vector<std::string>& headers, const std::string& body,
                                                 std::string& response) {
    response.clear();
    KDLibCurl client;
    if (!client.Init()) {
        EvDebug::Error(kTag, "Failed to initialise libCurl");
        return false;
    }
    if (!client.SetOption(CURLOPT_NOSIGNAL, 1L)) {
        EvDebug::Error(kTag, "Failed to set curl option:[CURLOPT_NOSIGNAL]");
        return false;
    }
    if (!client.SetOption(CURLOPT_TIMEOUT, kSimpleRequestTimeoutSeconds)) {
        EvDebug::Error(kTag, "Failed to set curl option:[CURLOPT_TIMEOUT]");
        return false;
    }
    for (const auto& line : headers) {
        if (!client.AppendHeader(line)) {
            EvDebug::Error(kTag, "Failed to set a request header");
            return false;
        }
    }
    bool ok = client.SendRequest(type, url, body);
    if (client.GetResponseData() && client.GetResponseLength())
        response.assign(client.GetResponseData(), client.GetResponseLength());
    return ok;
}

}  // namespace AmazonDirectSnapshotAccessAPI
