// EC2's limits on tags.
#include "cloudsim/Tags.h"

namespace cloudsim {

namespace {

const size_t kMaxKey = 128;
const size_t kMaxValue = 256;

bool Refuse(std::string& error, const char* text) {
    error = text;
    return false;
}

}  // namespace

bool CheckTag(const std::string& key, const std::string& value, std::string& error) {
    if (key.empty()) return Refuse(error, "InvalidParameterValue: Tag key must not be empty");
    if (key.rfind("aws:", 0) == 0)
        return Refuse(error, "InvalidParameterValue: Tag keys starting with 'aws:' are reserved for internal use");
    if (key.size() > kMaxKey)
        return Refuse(error, "InvalidParameterValue: Tag key exceeds the maximum length of 128 characters");
    if (value.size() > kMaxValue)
        return Refuse(error, "InvalidParameterValue: Tag value exceeds the maximum length of 256 characters");
    return true;
}

}  // namespace cloudsim
