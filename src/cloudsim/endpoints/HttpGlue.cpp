#include "cloudsim/endpoints/HttpGlue.h"

#include <chrono>
#include <memory>
#include <thread>

#include "cloudsim/BlockData.h"
#include "cloudsim/endpoints/Digest.h"

namespace cloudsim::endpoints {

namespace {

// What the load balancer in front of a service answers when the service
// behind it fails or is too slow: a bare page, no AWS error type.
void WriteGatewayPage(httplib::Response& res, int status, const std::string& title) {
    res.status = status;
    res.set_content("<html>\r\n<head><title>" + title + "</title></head>\r\n<body>\r\n<center><h1>" + title +
                        "</h1></center>\r\n</body>\r\n</html>\r\n",
                    "text/html");
}

}  // namespace

WireRequest ToWire(const httplib::Request& req) {
    WireRequest wire;
    wire.method = req.method;
    size_t q = req.target.find('?');
    wire.path = req.target.substr(0, q);
    if (q != std::string::npos) wire.rawQuery = req.target.substr(q + 1);
    for (const auto& [name, value] : req.headers) wire.headers.emplace_back(name, value);
    wire.body = req.body;
    return wire;
}

void WriteError(httplib::Response& res, const AwsError& error) {
    res.status = error.status;
    res.set_header("x-amzn-ErrorType", error.type);
    res.set_content(error.Body(), "application/json");
}

std::string QueryParam(const std::string& rawQuery, const std::string& name, bool* present) {
    if (present) *present = false;
    size_t start = 0;
    while (start <= rawQuery.size()) {
        size_t end = rawQuery.find('&', start);
        if (end == std::string::npos) end = rawQuery.size();
        std::string item = rawQuery.substr(start, end - start);
        size_t eq = item.find('=');
        if (UriDecode(item.substr(0, eq)) == name) {
            if (present) *present = true;
            return eq == std::string::npos ? std::string() : UriDecode(item.substr(eq + 1));
        }
        start = end + 1;
    }
    return std::string();
}

bool ApplyFaultsBefore(const std::vector<EndpointFault>& hits, httplib::Response& res) {
    for (const EndpointFault& fault : hits) {
        switch (fault.kind) {
        case FaultKind::InternalError:
            WriteError(res, {500, "InternalServerException", "An internal error has occurred.", "", true});
            return true;
        case FaultKind::Unavailable:
            WriteError(res, {503, "ServiceUnavailableException", "Service Unavailable", "", true});
            return true;
        case FaultKind::Throttle:
            WriteError(res, Throttling());
            return true;
        case FaultKind::RequestThrottled:
            WriteError(res, EbsError(400, "RequestThrottledException",
                                     "The number of API requests has exceeded the maximum allowed API request "
                                     "throttling limit for the snapshot.",
                                     "RESOURCE_LEVEL_THROTTLE"));
            return true;
        case FaultKind::BadGateway:
            WriteGatewayPage(res, 502, "502 Bad Gateway");
            return true;
        case FaultKind::GatewayTimeout:
            WriteGatewayPage(res, 504, "504 Gateway Time-out");
            return true;
        case FaultKind::InvalidBlockToken:
            WriteError(res, EbsError(400, "ValidationException", "The block token is not valid.",
                                     "INVALID_BLOCK_TOKEN"));
            return true;
        case FaultKind::ExpiredToken:
            WriteError(res, ExpiredToken());
            return true;
        case FaultKind::Delay:
            // Wall time on purpose: it stands for a slow network, which the
            // client measures against its own wall-clock timeouts.
            std::this_thread::sleep_for(std::chrono::milliseconds(fault.delayMs));
            break;
        default:
            break;
        }
    }
    return false;
}

void ApplyFaultsAfter(const std::vector<EndpointFault>& hits, httplib::Response& res) {
    for (const EndpointFault& fault : hits) {
        if (fault.kind == FaultKind::WrongChecksum) {
            // set_header adds a second value; the client would read the first.
            res.headers.erase("x-amz-Checksum");
            res.set_header("x-amz-Checksum", Base64(Sha256(res.body + "spoiled")));
        } else if (fault.kind == FaultKind::ZeroChecksum) {
            res.headers.erase("x-amz-Checksum");
            res.set_header("x-amz-Checksum", Base64(Sha256(std::string(static_cast<size_t>(kBlockSize), '\0'))));
        } else if (fault.kind == FaultKind::MissingChecksum) {
            res.headers.erase("x-amz-Checksum");
        } else if (fault.kind == FaultKind::ShortBody) {
            auto body = std::make_shared<std::string>(std::move(res.body));
            std::string type = res.get_header_value("Content-Type");
            res.body.clear();
            // Announce more than is sent, send what there is, then give up
            // so the server drops the connection mid-body.
            res.set_content_provider(body->size() + 1024, type,
                                     [body](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset < body->size())
                                             sink.write(body->data() + offset, body->size() - offset);
                                         return false;
                                     });
        }
    }
}

}  // namespace cloudsim::endpoints
