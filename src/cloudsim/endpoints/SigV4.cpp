#include "cloudsim/endpoints/SigV4.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "cloudsim/endpoints/Digest.h"

namespace cloudsim::endpoints {
namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Header values are compared after trimming and squeezing runs of white
// space (folded lines included) into one space.
std::string SqueezeSpaces(const std::string& s) {
    std::string out;
    bool space = false;
    for (char c : Trim(s)) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            space = true;
            continue;
        }
        if (space) out += ' ';
        space = false;
        out += c;
    }
    return out;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t pos = s.find(sep, start);
        parts.push_back(s.substr(start, pos - start));
        if (pos == std::string::npos) return parts;
        start = pos + 1;
    }
}

std::string NormalizePath(const std::string& path) {
    std::vector<std::string> kept;
    for (const std::string& seg : Split(path, '/')) {
        if (seg.empty() || seg == ".") continue;
        if (seg == "..") {
            if (!kept.empty()) kept.pop_back();
            continue;
        }
        kept.push_back(seg);
    }
    std::string out;
    for (const std::string& seg : kept) out += "/" + seg;
    bool trailing = path.size() > 1 && (path.back() == '/' ||
                    (path.size() >= 2 && path.compare(path.size() - 2, 2, "/.") == 0) ||
                    (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0));
    if (out.empty()) return "/";
    if (trailing) out += "/";
    return out;
}

}  // namespace

bool ParseAuthorization(const std::string& header, Authorization& out) {
    const std::string algorithm = "AWS4-HMAC-SHA256 ";
    if (header.compare(0, algorithm.size(), algorithm) != 0) return false;
    std::map<std::string, std::string> fields;
    for (const std::string& part : Split(header.substr(algorithm.size()), ',')) {
        std::string p = Trim(part);
        size_t eq = p.find('=');
        if (eq == std::string::npos) return false;
        fields[p.substr(0, eq)] = p.substr(eq + 1);
    }
    if (!fields.count("Credential") || !fields.count("SignedHeaders") || !fields.count("Signature"))
        return false;
    std::vector<std::string> scope = Split(fields["Credential"], '/');
    if (scope.size() != 5) return false;
    out.accessKey = scope[0];
    out.date = scope[1];
    out.region = scope[2];
    out.service = scope[3];
    out.terminator = scope[4];
    out.signedHeaders = Split(fields["SignedHeaders"], ';');
    out.signature = fields["Signature"];
    return !out.accessKey.empty() && !out.signature.empty();
}

std::string UriEncode(const std::string& s, bool encodeSlash) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || (c == '/' && !encodeSlash)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string UriDecode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string CanonicalUri(const std::string& rawPath, bool normalizePath) {
    std::string path = rawPath.empty() ? "/" : rawPath;
    if (!normalizePath) return UriEncode(path, false);
    return UriEncode(NormalizePath(path), false);
}

std::string CanonicalQuery(const std::string& rawQuery) {
    std::vector<std::pair<std::string, std::string>> pairs;
    if (rawQuery.empty()) return std::string();
    for (const std::string& item : Split(rawQuery, '&')) {
        if (item.empty()) continue;
        size_t eq = item.find('=');
        std::string name = UriDecode(item.substr(0, eq));
        std::string value = eq == std::string::npos ? std::string() : UriDecode(item.substr(eq + 1));
        pairs.emplace_back(UriEncode(name, true), UriEncode(value, true));
    }
    std::sort(pairs.begin(), pairs.end());
    std::string out;
    for (const auto& [name, value] : pairs) {
        if (!out.empty()) out += '&';
        out += name + "=" + value;
    }
    return out;
}

std::string CanonicalHeaders(const NameValues& headers, const std::vector<std::string>& signedHeaders,
                             bool& allPresent) {
    allPresent = true;
    std::string out;
    for (const std::string& name : signedHeaders) {
        std::string joined;
        bool found = false;
        for (const auto& [n, v] : headers) {
            if (Lower(n) != name) continue;
            if (found) joined += ',';
            joined += SqueezeSpaces(v);
            found = true;
        }
        if (!found) allPresent = false;
        out += name + ":" + joined + "\n";
    }
    return out;
}

std::string CanonicalRequest(const WireRequest& request, const std::vector<std::string>& signedHeaders,
                             bool normalizePath) {
    bool allPresent = true;
    std::string payloadHash = HeaderValue(request.headers, "x-amz-content-sha256");
    if (payloadHash.empty()) payloadHash = Hex(Sha256(request.body));
    std::string signedList;
    for (const std::string& name : signedHeaders) signedList += (signedList.empty() ? "" : ";") + name;
    return request.method + "\n" + CanonicalUri(request.path, normalizePath) + "\n" +
           CanonicalQuery(request.rawQuery) + "\n" +
           CanonicalHeaders(request.headers, signedHeaders, allPresent) + "\n" + signedList + "\n" +
           payloadHash;
}

std::string StringToSign(const std::string& amzDate, const std::string& scope,
                         const std::string& canonicalRequest) {
    return "AWS4-HMAC-SHA256\n" + amzDate + "\n" + scope + "\n" + Hex(Sha256(canonicalRequest));
}

std::string SigningKey(const std::string& secretKey, const std::string& date, const std::string& region,
                       const std::string& service) {
    std::string k = HmacSha256("AWS4" + secretKey, date);
    k = HmacSha256(k, region);
    k = HmacSha256(k, service);
    return HmacSha256(k, "aws4_request");
}

std::string Signature(const std::string& signingKey, const std::string& stringToSign) {
    return Hex(HmacSha256(signingKey, stringToSign));
}

std::string HeaderValue(const NameValues& headers, const std::string& name) {
    std::string wanted = Lower(name);
    for (const auto& [n, v] : headers)
        if (Lower(n) == wanted) return v;
    return std::string();
}

}  // namespace cloudsim::endpoints
