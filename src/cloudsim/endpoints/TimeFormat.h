#pragma once
// The time formats the endpoints speak, all UTC.
#include <cstdint>
#include <string>

namespace cloudsim::endpoints {

std::string AmzDate(int64_t ms);            // 20150830T123600Z
std::string Iso8601(int64_t ms);            // 2015-08-30T12:36:00Z
std::string IpRangesDate(int64_t ms);       // 2015-08-30-12-36-00
// Parses an AmzDate; false when malformed.
bool ParseAmzDate(const std::string& text, int64_t& ms);

}  // namespace cloudsim::endpoints
