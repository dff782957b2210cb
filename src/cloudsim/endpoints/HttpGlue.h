#pragma once
// What every simulated endpoint does around its own answer: turning the
// server library's request into the wire form the signature covers, writing
// AWS errors, reading query parameters as sent, and applying fault rules.
#include <string>
#include <vector>

#include <httplib.h>

#include "cloudsim/endpoints/AwsError.h"
#include "cloudsim/endpoints/FaultRules.h"
#include "cloudsim/endpoints/SigV4.h"

namespace cloudsim::endpoints {

WireRequest ToWire(const httplib::Request& req);
void WriteError(httplib::Response& res, const AwsError& error);
// The decoded value of a query parameter as the client sent it (a "+"
// stays a "+"); empty when absent. present tells the two apart.
std::string QueryParam(const std::string& rawQuery, const std::string& name, bool* present = nullptr);

// Faults that replace or hold up the answer (status errors, delay). True
// when the answer has been written and the handler must stop.
bool ApplyFaultsBefore(const std::vector<EndpointFault>& hits, httplib::Response& res);
// Faults that spoil a finished answer (short body, checksum header).
void ApplyFaultsAfter(const std::vector<EndpointFault>& hits, httplib::Response& res);

}  // namespace cloudsim::endpoints
