// The wire backend's S3 (REST, XML), path-style at s3.<region>.amazonaws.com
// with the payload's hash signed: buckets, their owner and grants, the
// objects the plug-in leaves there, and deleting a folder's objects.
#include <fstream>
#include <sstream>

#include "bridge/wire/WireBackend.h"
#include "framework/KDLibCurl.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

namespace {

const char kS3Namespace[] = "http://s3.amazonaws.com/doc/2006-03-01/";
// DeleteObjects takes at most this many keys a request.
constexpr size_t kDeleteBatch = 1000;

// "/<bucket>/<key>", each segment of the key percent-encoded once, its
// slashes kept (S3 signs the path as it is sent).
std::string ObjectPath(const std::string& bucket, const std::string& key) {
    std::string path = "/" + KDLibCurl::UrlEncode(bucket);
    if (key.empty()) return path;
    path += "/";
    size_t start = 0;
    for (;;) {
        const size_t slash = key.find('/', start);
        path += KDLibCurl::UrlEncode(key.substr(start, slash - start));
        if (slash == std::string::npos) return path;
        path += "/";
        start = slash + 1;
    }
}

std::string XmlText(const std::string& text) {
    pugi::xml_document doc;
    doc.append_child(pugi::node_pcdata).set_value(text.c_str());
    std::ostringstream out;
    doc.print(out, "", pugi::format_raw);
    return out.str();
}

}  // namespace

bool WireBackend::S3(const std::string& method, const std::string& bucket, const std::string& key,
                     const QueryParams& query, const std::string& body, long& status, std::string& answer,
                     std::string& error, const std::string& region, const QueryParams& headers,
                     std::vector<long> accept) {
    QueryClient::RestCall call;
    const std::string where = RegionFor(region);
    call.method = method;
    call.host = EndpointHost("s3", where);
    call.path = ObjectPath(bucket, key);
    call.query = query;
    call.headers = headers;
    call.body = body;
    call.signPayload = true;
    call.accept = std::move(accept);
    return m_client.Rest("s3", where, call, status, answer, error);
}

bool WireBackend::S3Xml(const std::string& method, const std::string& bucket, const QueryParams& query,
                        pugi::xml_document& out, std::string& error, const std::string& body,
                        const QueryParams& headers) {
    long status = 0;
    std::string answer;
    if (!S3(method, bucket, "", query, body, status, answer, error, "", headers)) return false;
    if (answer.empty() || out.load_buffer(answer.data(), answer.size())) return true;
    error = "InternalError: S3 answered " + method + " /" + bucket + " with XML that does not parse";
    return false;
}

bool WireBackend::GetCanonicalId(std::string& canonicalId) {
    return Run("GetCanonicalId", true, [&](std::string& error) {
        // ListBuckets names the account's canonical owner whether it has
        // buckets or not; one bucket is all the answer needs to carry.
        pugi::xml_document doc;
        if (!S3Xml("GET", "", {{"max-buckets", "1"}}, doc, error)) return false;
        canonicalId = doc.document_element().child("Owner").child_value("ID");
        if (!canonicalId.empty()) return true;
        error = "InternalError: S3's ListBuckets answered with no owner";
        return false;
    });
}

bool WireBackend::GetBucketLocation(const std::string& bucket, std::string& location) {
    return Run("GetBucketLocation", true, [&](std::string& error) {
        pugi::xml_document doc;
        if (!S3Xml("GET", bucket, {{"location", ""}}, doc, error)) return false;
        // us-east-1 is the one region S3 names with nothing.
        location = doc.child("LocationConstraint").text().as_string();
        if (location.empty()) location = "us-east-1";
        return true;
    });
}

bool WireBackend::GetBucketOwner(const std::string& bucket, std::string& ownerCanonicalId) {
    return Run("GetBucketOwner", true, [&](std::string& error) {
        pugi::xml_document doc;
        if (!S3Xml("GET", bucket, {{"acl", ""}}, doc, error)) return false;
        ownerCanonicalId = doc.document_element().child("Owner").child_value("ID");
        return true;
    });
}

bool WireBackend::CreateBucket(const std::string& bucket, const std::string& region) {
    return Run("CreateBucket", true, [&](std::string& error) {
        const std::string where = RegionFor(region);
        // Anywhere but us-east-1 the region is named in the body, to the region's own endpoint.
        std::string body;
        if (where != "us-east-1")
            body = std::string("<CreateBucketConfiguration xmlns=\"") + kS3Namespace + "\"><LocationConstraint>" +
                   XmlText(where) + "</LocationConstraint></CreateBucketConfiguration>";
        long status = 0;
        std::string answer;
        return S3("PUT", bucket, "", {}, body, status, answer, error, where,
                  body.empty() ? QueryParams{} : QueryParams{{"content-type", "application/xml"}});
    });
}

bool WireBackend::ShareBucket(const std::string& bucket, const std::string&, const std::string& canonicalId) {
    return Run("ShareBucket", true, [&](std::string& error) {
        // PutBucketAcl replaces the whole list: the grants held stay in it.
        pugi::xml_document acl;
        if (!S3Xml("GET", bucket, {{"acl", ""}}, acl, error)) return false;
        pugi::xml_node list = acl.document_element().child("AccessControlList");
        if (!list) list = acl.document_element().append_child("AccessControlList");
        for (pugi::xml_node grant : list.children("Grant"))
            if (canonicalId == grant.child("Grantee").child_value("ID") &&
                std::string("FULL_CONTROL") == grant.child_value("Permission"))
                return true;
        pugi::xml_node grant = list.append_child("Grant");
        pugi::xml_node grantee = grant.append_child("Grantee");
        grantee.append_attribute("xmlns:xsi") = "http://www.w3.org/2001/XMLSchema-instance";
        grantee.append_attribute("xsi:type") = "CanonicalUser";
        grantee.append_child("ID").text() = canonicalId.c_str();
        grant.append_child("Permission").text() = "FULL_CONTROL";
        std::ostringstream body;
        acl.document_element().print(body, "", pugi::format_raw);
        pugi::xml_document unused;
        return S3Xml("PUT", bucket, {{"acl", ""}}, unused, error, body.str(),
                     {{"content-type", "application/xml"}, {"x-amz-checksum-sha256", Sha256Base64(body.str())}});
    });
}

bool WireBackend::UploadFileToS3(const std::string& bucket, const std::string& bucketRegion, const std::string& key,
                                 const std::string& localFile) {
    return Run("UploadFileToS3", true, [&](std::string& error) {
        std::ifstream in(localFile, std::ios::binary);
        if (!in) {
            error = "FileNotFound: cannot open " + localFile;
            return false;
        }
        std::ostringstream bytes;
        bytes << in.rdbuf();
        if (in.bad()) {
            error = "IOError: cannot read " + localFile;
            return false;
        }
        long status = 0;
        std::string answer;
        return S3("PUT", bucket, key, {}, bytes.str(), status, answer, error, bucketRegion,
                  {{"content-type", "application/octet-stream"}});
    });
}

bool WireBackend::DoesS3FileExist(const std::string& bucket, const std::string& bucketRegion, const std::string& key,
                                  bool& exists) {
    exists = false;
    return Run("DoesS3FileExist", true, [&](std::string& error) {
        long status = 0;
        std::string answer;
        // A HEAD's 404 has no body to name the bucket or the key: the bucket is asked about apart.
        if (!S3("HEAD", bucket, key, {}, "", status, answer, error, bucketRegion, {}, {404})) return false;
        exists = status != 404;
        if (exists) return true;
        if (S3("HEAD", bucket, "", {}, "", status, answer, error, bucketRegion, {}, {404}) && status != 404) return true;
        if (status == 404) error = "NoSuchBucket: The specified bucket does not exist";
        return false;
    });
}

bool WireBackend::GetS3Object(const std::string& bucket, const std::string& region, const std::string& key,
                              std::string& data, bool& missing, std::string& error) {
    long status = 0;
    missing = false;
    if (!S3("GET", bucket, key, {}, "", status, data, error, region, {}, {404})) return false;
    if (status != 404) return true;
    // A missing bucket fails; a missing key is only missing.
    const std::string body = data;
    data.clear();
    missing = body.find("<Code>NoSuchKey</Code>") != std::string::npos;
    if (!missing) error = ErrorText(status, body);
    return missing;
}

bool WireBackend::DeleteFolder(const std::string& bucket, const std::string&, const std::string& folder,
                               bool recursive) {
    return Run("DeleteFolder", true, [&](std::string& error) {
        std::string prefix = folder;
        while (!prefix.empty() && prefix.front() == '/') prefix.erase(0, 1);
        std::string self = prefix;
        while (!self.empty() && self.back() == '/') self.pop_back();
        if (!prefix.empty() && prefix.back() != '/') prefix += '/';
        std::vector<std::string> doomed;
        // ListObjectsV2, every page: without recursion, the delimiter keeps sub-folders' objects out.
        std::string token;
        for (;;) {
            QueryParams query{{"list-type", "2"}, {"max-keys", std::to_string(m_pageSize)}, {"prefix", prefix}};
            if (!recursive) query.emplace_back("delimiter", "/");
            if (!token.empty()) query.emplace_back("continuation-token", token);
            pugi::xml_document page;
            if (!S3Xml("GET", bucket, query, page, error)) return false;
            pugi::xml_node result = page.document_element();
            for (pugi::xml_node item : result.children("Contents")) doomed.push_back(item.child_value("Key"));
            const std::string next = result.child_value("NextContinuationToken");
            if (std::string("true") != result.child_value("IsTruncated") || next.empty() || next == token) break;
            token = next;
        }
        // The folder's own object, when the folder is one.
        if (!self.empty()) doomed.push_back(self);
        for (size_t from = 0; from < doomed.size(); from += kDeleteBatch) {
            std::string body = std::string("<Delete xmlns=\"") + kS3Namespace + "\"><Quiet>true</Quiet>";
            for (size_t i = from; i < doomed.size() && i < from + kDeleteBatch; ++i)
                body += "<Object><Key>" + XmlText(doomed[i]) + "</Key></Object>";
            body += "</Delete>";
            pugi::xml_document answer;
            if (!S3Xml("POST", bucket, {{"delete", ""}}, answer, error, body,
                       {{"content-type", "application/xml"}, {"x-amz-checksum-sha256", Sha256Base64(body)}}))
                return false;
            // A key that would not go is named in the answer; deleting a missing key is no error.
            pugi::xml_node failed = answer.document_element().child("Error");
            if (failed) {
                error = std::string(failed.child_value("Code")) + ": " + failed.child_value("Message") + " (" +
                        failed.child_value("Key") + ")";
                return false;
            }
        }
        return true;
    });
}
