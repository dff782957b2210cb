// The Query protocol: form bodies, Signature Version 4, retries, AWS's error
// shapes and NextToken paging.
#include "bridge/wire/WireQuery.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "aws/AmazonRequestSigner.h"
#include "framework/Base64.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/Hashing.h"
#include "framework/KDLibCurl.h"

namespace bridgeimpl {
namespace wire {

using AmazonDirectSnapshotAccessAPI::CAmazonRequestSigner;

namespace {
const char kTag[] = "AwsBridge";
constexpr size_t kBodyExcerpt = 200;
}  // namespace

std::string ErrorText(long status, const std::string& body, std::string* code, const std::string& errorType) {
    // The REST-JSON services (EBS direct, ...) name the error in a header or
    // in "__type", with the text in "message" or "Message".
    const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
    if (json.is_object() && (!errorType.empty() || json.contains("__type") || json.contains("code"))) {
        std::string c = errorType.empty() ? json.value("__type", json.value("code", std::string())) : errorType;
        c = c.substr(0, c.find(':'));
        if (c.find('#') != std::string::npos) c = c.substr(c.find('#') + 1);
        if (code) *code = c;
        return c + ": " + json.value("message", json.value("Message", std::string()));
    }
    pugi::xml_document doc;
    if (doc.load_buffer(body.data(), body.size())) {
        pugi::xpath_node error = doc.select_node("//Error[Code]");
        if (error) {
            const std::string c = error.node().child_value("Code");
            if (code) *code = c;
            return c + ": " + error.node().child_value("Message");
        }
    }
    if (code) code->clear();
    std::string excerpt = body.substr(0, kBodyExcerpt);
    for (char& ch : excerpt)
        if (ch == '\n' || ch == '\r') ch = ' ';
    return "HTTP" + std::to_string(status) + ": " + excerpt;
}

std::string Sha256Base64(const std::string& data) {
    std::string out;
    KdcBase64::Encode(KdcSHA256::Digest(data), out);
    return out;
}

std::string EndpointHost(const std::string& service, const std::string& region) {
    const bool china = region.rfind("cn-", 0) == 0;
    return service + "." + region + (china ? ".amazonaws.com.cn" : ".amazonaws.com");
}

QueryClient::QueryClient(std::unique_ptr<Transport> transport, RetryPolicy policy)
    : m_transport(std::move(transport)), m_policy(std::move(policy)) {}

void QueryClient::Sign(HttpRequest& request, CAmazonRequestSigner::Request& toSign, const std::string& region,
                       const std::string& service) const {
    const auto time = CAmazonRequestSigner::formRequestTime(FwClock::NowSec());
    toSign.headers.push_back({"x-amz-date", time.requestDateTime});
    if (!m_credentials.sessionToken.empty()) toSign.headers.push_back({"x-amz-security-token", m_credentials.sessionToken});
    // Lower-case, sorted and trimmed: AWS's canonical form.
    std::sort(toSign.headers.begin(), toSign.headers.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    CAmazonRequestSigner signer;
    const std::string authorization = signer.getAuthorizationHeaderValue(toSign, time, region, service, m_credentials);
    for (const auto& h : toSign.headers)
        if (h.name != "host") request.headers.push_back(h.name + ": " + h.value);
    request.headers.push_back("authorization: " + authorization);
}

HttpRequest QueryClient::Signed(const std::string& service, const std::string& region, const std::string& body,
                                const std::string& host) const {
    HttpRequest request;
    request.method = "POST";
    request.host = host.empty() ? EndpointHost(service, region) : host;
    request.body = body;
    CAmazonRequestSigner::Request toSign{"POST", "/", {}, {}, body};
    toSign.headers = {{"content-type", "application/x-www-form-urlencoded; charset=utf-8"}, {"host", request.host}};
    Sign(request, toSign, region, service);
    return request;
}

bool QueryClient::Send(const std::string& what, const std::function<HttpRequest()>& make, std::string& body,
                       std::string& error, long* status, const std::vector<long>& accept, std::string* checksum) {
    for (int attempt = 0;; ++attempt) {
        if (m_beforeSigning && !m_beforeSigning(error)) return false;
        // Signed again each time: the date is part of the signature.
        const HttpRequest request = make();
        const HttpResponse response = m_transport->Send(request);
        ++m_exchanges;
        std::string code;
        if (status) *status = response.status;
        if ((response.status >= 200 && response.status < 300) ||
            std::find(accept.begin(), accept.end(), response.status) != accept.end()) {
            body = response.body;
            if (checksum) *checksum = response.checksum;
            return true;
        }
        error = response.status == 0 ? "RequestError: " + what + " to " + request.host + " failed: " + response.transportError
                                     : ErrorText(response.status, response.body, &code, response.errorType);
        if (attempt + 1 >= m_policy.maxAttempts || !IsRetryable(response.status, code, response.connectionFault))
            return false;
        const int64_t wait = m_policy.BackoffMs(attempt);
        EvDebug::DebugLvl(kTag, 2, "%s attempt %d failed (%s); again in %lld ms", what.c_str(), attempt + 1,
                          error.c_str(), static_cast<long long>(wait));
        FwClock::SleepMs(wait);
    }
}

HttpResponse QueryClient::SendUnsigned(const HttpRequest& request) {
    ++m_exchanges;
    return m_transport->Send(request);
}

bool QueryClient::Call(const std::string& service, const std::string& version, const std::string& region,
                       const std::string& action, const QueryParams& params, pugi::xml_document& out,
                       std::string& error, const std::string& host) {
    std::string form = "Action=" + KDLibCurl::UrlEncode(action) + "&Version=" + KDLibCurl::UrlEncode(version);
    for (const auto& [name, value] : params) form += "&" + KDLibCurl::UrlEncode(name) + "=" + KDLibCurl::UrlEncode(value);
    std::string body;
    if (!Send(action, [&] { return Signed(service, region, form, host); }, body, error)) return false;
    pugi::xml_parse_result parsed = out.load_buffer(body.data(), body.size());
    if (parsed) return true;
    error = "InternalError: " + action + " answered with XML that does not parse (" + parsed.description() + ")";
    return false;
}

std::string QueryClient::PresignedQuery(const std::string& service, const std::string& version,
                                        const std::string& region, const std::string& action,
                                        const QueryParams& params, int expiresSeconds) const {
    const std::string host = EndpointHost(service, region);
    const auto time = CAmazonRequestSigner::formRequestTime(FwClock::NowSec());
    const std::string scope = CAmazonRequestSigner::formCrendentialScope(time.dateStamp, region, service);
    CAmazonRequestSigner::Request request{"GET", "/", {}, {{"host", host}}, ""};
    auto add = [&](const std::string& name, const std::string& value) {
        request.query.push_back({KDLibCurl::UrlEncode(name), KDLibCurl::UrlEncode(value)});
    };
    // The operation's parameters first, then the authorization's, as AWS's
    // SDKs lay a presigned URL out.
    add("Action", action);
    add("Version", version);
    for (const auto& [name, value] : params) add(name, value);
    add("X-Amz-Algorithm", CAmazonRequestSigner::kAlgorithm);
    add("X-Amz-Credential", m_credentials.accessKeyId + "/" + scope);
    add("X-Amz-Date", time.requestDateTime);
    add("X-Amz-Expires", std::to_string(expiresSeconds));
    add("X-Amz-SignedHeaders", "host");
    if (!m_credentials.sessionToken.empty()) add("X-Amz-Security-Token", m_credentials.sessionToken);
    const std::string stringToSign = CAmazonRequestSigner::createStringToSign(
        time.requestDateTime, scope, CAmazonRequestSigner::createCanonicalRequest(request));
    const std::string key =
        CAmazonRequestSigner::deriveSignatureKey(m_credentials.secretAccessKey, time.dateStamp, region, service);
    return "https://" + host + "/?" + CAmazonRequestSigner::formQueryString(request.query) +
           "&X-Amz-Signature=" + CAmazonRequestSigner::calculateSignature(key, stringToSign);
}

bool QueryClient::Get(const std::string& service, const std::string& region, const std::string& path,
                      const QueryParams& query, std::string& body, std::string& error) {
    RestCall call;
    call.host = EndpointHost(service, region);
    call.path = path;
    call.query = query;
    long status = 0;
    return Rest(service, region, call, status, body, error);
}

bool QueryClient::Rest(const std::string& service, const std::string& region, const RestCall& call, long& status,
                       std::string& body, std::string& error) {
    auto make = [&] {
        HttpRequest request;
        request.method = call.method;
        request.host = call.host;
        request.path = call.path;
        request.body = call.body;
        CAmazonRequestSigner::Request toSign{call.method, call.path, {}, {}, call.body};
        for (const auto& [name, value] : call.query) {
            toSign.query.push_back({KDLibCurl::UrlEncode(name), KDLibCurl::UrlEncode(value)});
            request.query += (request.query.empty() ? "" : "&") + toSign.query.back().name + "=" +
                             toSign.query.back().value;
        }
        toSign.headers.push_back({"host", request.host});
        for (const auto& [name, value] : call.headers) toSign.headers.push_back({name, value});
        if (call.signPayload)
            toSign.headers.push_back({"x-amz-content-sha256", CAmazonRequestSigner::formPayloadHash(call.body)});
        Sign(request, toSign, region, service);
        return request;
    };
    return Send(call.method + " " + call.path, make, body, error, &status, call.accept, call.checksum);
}

bool QueryClient::CallJson(const std::string& service, const std::string& targetPrefix, const std::string& region,
                           const std::string& op, const nlohmann::json& input, nlohmann::json& out,
                           std::string& error) {
    const std::string payload = input.dump();
    auto make = [&] {
        HttpRequest request;
        request.method = "POST";
        request.host = EndpointHost(service, region);
        request.body = payload;
        CAmazonRequestSigner::Request toSign{"POST", "/", {}, {}, payload};
        toSign.headers = {{"content-type", "application/x-amz-json-1.1"},
                          {"host", request.host},
                          {"x-amz-target", targetPrefix + "." + op}};
        Sign(request, toSign, region, service);
        return request;
    };
    std::string body;
    if (!Send(op, make, body, error)) return false;
    // An operation without output answers with an empty body, "{}" or "null".
    out = body.empty() ? nlohmann::json::object() : nlohmann::json::parse(body, nullptr, false);
    if (out.is_null()) out = nlohmann::json::object();
    if (out.is_object()) return true;
    error = "InternalError: " + op + " answered with JSON that does not parse";
    return false;
}

bool QueryClient::CallJsonAllPages(const std::string& service, const std::string& targetPrefix,
                                   const std::string& region, const std::string& op, const nlohmann::json& input,
                                   const char* tokenIn, const char* tokenOut, const JsonPageFn& onPage,
                                   std::string& error) {
    std::string token;
    for (;;) {
        nlohmann::json page = input;
        if (!token.empty()) page[tokenIn] = token;
        nlohmann::json out;
        if (!CallJson(service, targetPrefix, region, op, page, out, error)) return false;
        if (!onPage(out, error)) return false;
        const auto next = out.find(tokenOut);
        const std::string nextToken = next != out.end() && next->is_string() ? next->get<std::string>() : "";
        // A token that does not move would page for ever.
        if (nextToken.empty() || nextToken == token) return true;
        token = nextToken;
    }
}

bool QueryClient::CallAllPages(const std::string& service, const std::string& version, const std::string& region,
                               const std::string& action, const QueryParams& params, int maxResults,
                               const PageFn& onPage, std::string& error) {
    std::string token;
    for (;;) {
        QueryParams page = params;
        if (maxResults > 0) page.emplace_back("MaxResults", std::to_string(maxResults));
        if (!token.empty()) page.emplace_back("NextToken", token);
        pugi::xml_document doc;
        if (!Call(service, version, region, action, page, doc, error)) return false;
        pugi::xml_node root = doc.document_element();
        if (!onPage(root, error)) return false;
        std::string next = root.child_value("nextToken");
        if (next.empty()) next = root.child_value("NextToken");
        // A token that does not move would page for ever.
        if (next.empty() || next == token) return true;
        token = next;
    }
}

}  // namespace wire
}  // namespace bridgeimpl
