#include "cloudsim/endpoints/TimeFormat.h"

#include <cstdio>
#include <ctime>

namespace cloudsim::endpoints {
namespace {

std::string Format(int64_t ms, const char* format) {
    time_t seconds = static_cast<time_t>(ms / 1000);
    struct tm utc {};
    gmtime_r(&seconds, &utc);
    char buf[40];
    strftime(buf, sizeof buf, format, &utc);
    return buf;
}

}  // namespace

std::string AmzDate(int64_t ms) { return Format(ms, "%Y%m%dT%H%M%SZ"); }
std::string Iso8601(int64_t ms) { return Format(ms, "%Y-%m-%dT%H:%M:%SZ"); }
std::string IpRangesDate(int64_t ms) { return Format(ms, "%Y-%m-%d-%H-%M-%S"); }

bool ParseAmzDate(const std::string& text, int64_t& ms) {
    struct tm utc {};
    char z = 0;
    if (text.size() != 16 ||
        std::sscanf(text.c_str(), "%4d%2d%2dT%2d%2d%2d%c", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour,
                    &utc.tm_min, &utc.tm_sec, &z) != 7 || z != 'Z')
        return false;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    ms = static_cast<int64_t>(timegm(&utc)) * 1000;
    return true;
}

}  // namespace cloudsim::endpoints
